#pragma once

#include "readingmodelwidget.h"
#include "readingsidebar.h"

#include <QDateTime>

class KelLabel;
class WordWrapLabel;

// A bookmark row: date, page, delete button, then the entry title and the marked text.
class BookmarkWidget : public ReadingModelItemButton {
    Q_OBJECT
public:
    explicit BookmarkWidget(QWidget* parent = nullptr);

    void readFrom(const QModelIndex& index) override;
    void retranslateUi() override;
    void onCurrentDayChanged() override;

private:
    QString m_id;
    QDateTime m_date;
    WordWrapLabel* m_titleLabel;
    WordWrapLabel* m_textLabel;
    KelLabel* m_dateLabel;
    KelLabel* m_pageLabel;
    KelButton* m_deleteButton;
};

// The open book's bookmarks, with a button adding one for the page being read.
class BookmarksBox : public BookItemsSideBar {
    Q_OBJECT
public:
    explicit BookmarksBox(QWidget* parent = nullptr);

    QString title() const override;
    QString closeText() const override;
    QString emptyText() const override;
    void retranslateUi() override;
    KelButton* addButton() const { return m_addButton; }

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;

private:
    KelButton* m_addButton;
};

// The row frame shared by bookmark and note rows: date, stretch, page and delete button on top.
class QVBoxLayout;
QVBoxLayout* readingRowLayout(QWidget* row, KelLabel* dateLabel, KelLabel* pageLabel, KelButton* deleteButton);
