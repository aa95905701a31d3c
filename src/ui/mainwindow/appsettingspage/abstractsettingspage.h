#pragma once

#include "widgets/kelwidget.h"

#include <QList>

class QHBoxLayout;
class QVBoxLayout;

// A settings tab: its content stands in one or more vertical columns side by side, and it gives
// the title of its tab.
class AbstractSettingsPage : public KelWidget {
    Q_OBJECT

public:
    // Columns 0 to lastColumn; -1 gives a page without columns.
    explicit AbstractSettingsPage(int lastColumn, QWidget* parent = nullptr);
    ~AbstractSettingsPage() override;

    virtual QString title() const = 0;
    virtual void retranslateUi() = 0;

    KelWidget* column(int index) const;
    QVBoxLayout* columnLayout(int index) const;
    QHBoxLayout* pageLayout() const { return m_pageLayout; }
    int columnCount() const { return m_columns.size(); }

private:
    QHBoxLayout* m_pageLayout;
    QList<KelWidget*> m_columns;
    QList<QVBoxLayout*> m_columnLayouts;
};

// A translated caption of a settings page: every ':' removed, not only a trailing one.
QString settingsCaption(const char* context, const char* text);
