#pragma once

#include "readingmodelwidget.h"
#include "readingsidebar.h"

#include <QPointer>

class KelLabel;
class WordWrapLabel;

// The toggle in front of a contents entry; checked while the entry is expanded.
class ExpandButton : public KelButton {
    Q_OBJECT
public:
    explicit ExpandButton(QWidget* parent = nullptr);

private:
    void updateLook();
};

// One contents entry; an entry with children holds their list, shown while expanded.
class TocItemWidget : public ReadingModelItemWidget {
    Q_OBJECT
public:
    explicit TocItemWidget(QWidget* parent = nullptr);

    void readFrom(const QModelIndex& index) override;
    void updateCurrentState() override;

    KelButton* rowButton() const { return m_rowButton; }
    ExpandButton* expandButton() const { return m_expandButton; }
    ReadingModelWidget* childList() const { return m_childList; }

private:
    QString m_id;
    KelButton* m_rowButton;
    ExpandButton* m_expandButton;
    WordWrapLabel* m_titleLabel;
    KelLabel* m_pageLabel;
    QPointer<ReadingModelWidget> m_childList;
};

// The open book's contents as an expandable tree, the entry being read marked.
class TocBox : public BookItemsSideBar {
    Q_OBJECT
public:
    explicit TocBox(QWidget* parent = nullptr);

    QString title() const override;
    QString closeText() const override;
    QString emptyText() const override;

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;
};
