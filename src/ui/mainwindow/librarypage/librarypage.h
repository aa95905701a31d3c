#pragma once

#include <QWidget>

class KelLabel;

// The library page as far as the main window needs it: the number of books in the current
// category and the trash mode. The book list with its tool bar, drag and drop and imports
// replaces this class under the same name.
class LibraryPage : public QWidget {
    Q_OBJECT

public:
    explicit LibraryPage(QWidget* parent = nullptr);
    ~LibraryPage() override;

    void setTrashMode(bool trash);
    bool isTrashMode() const;
    // The text of the centre label (the book count).
    QString summaryText() const;

    void translateUi();

private:
    void updateSummary();

    KelLabel* m_summary = nullptr;
    bool m_trash = false;
};
