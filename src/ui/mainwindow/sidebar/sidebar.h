#pragma once

#include "widgets/kelframe.h"
#include "widgets/kelwidget.h"

#include <QPointer>

class BookModel;
class BookSortFilterModel;
class FolderModel;
class KelButton;
class KelDelimiter;
class KelExclusiveButtonGroup;
class KelLabel;
class KelScrollArea;
class QSpacerItem;
class QVBoxLayout;
class SideBarFolders;

// The name of a fixed category from its entry text: the translated "All (%1)" less its last four
// characters, trimmed (the count is shown apart).
QString categoryEntryName(const char* text);

// The application's icon and name at the top of the side bar.
class SideBarHeader : public QWidget {
public:
    explicit SideBarHeader(QWidget* parent = nullptr);

    KelLabel* titleLabel() const { return m_title; }
    KelLabel* subtitleLabel() const { return m_subtitle; }

private:
    KelLabel* m_title = nullptr;
    KelLabel* m_subtitle = nullptr;
};

// A box of side bar entries under a button that opens and closes it; closed over the checked
// entry, it marks itself with the accent strip.
class SideBarExpandebleBox : public KelWidget {
    Q_OBJECT

public:
    SideBarExpandebleBox(KelExclusiveButtonGroup* group, const char* iconName, QWidget* parent = nullptr);
    ~SideBarExpandebleBox() override;

    QVBoxLayout* contentLayout() const;
    KelButton* expandButton() const;
    bool holdsCheckedEntry() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Private;
    QScopedPointer<Private> d;
};

// The category column of the main window: the fixed categories, the formats box and the user's
// folders, each with its number of books, in one exclusive group.
class SideBar : public KelFrame {
    Q_OBJECT

public:
    // The models default to the application's.
    explicit SideBar(QWidget* parent = nullptr, BookModel* books = nullptr, FolderModel* folders = nullptr,
        BookSortFilterModel* filter = nullptr);
    ~SideBar() override;

    // The category of the checked entry, -1 when none is checked.
    int currentCategory() const;
    void setCurrentCategory(int category);
    // false lays the shared grain over the bar, true leaves it plain.
    void setPlainBackground(bool plain);
    bool isPlainBackground() const;
    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const;
    KelButton* entry(int category) const;
    KelButton* serviceEntry() const;
    KelButton* helpEntry() const;
    SideBarExpandebleBox* formatsBox() const;
    SideBarFolders* folders() const;
    KelDelimiter* delimiter() const;
    KelScrollArea* scrollArea() const;

    void translateUi();

public slots:
    void onFilterCategoryChanged(int category);

signals:
    void categoryClicked(int bookCategory);
    void helpClicked();
    void showServiceModeWindowClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void scheduleCountRefresh();
    void refreshCounts();
    void bringIntoView();
    void updateDelimiter();

    class Private;
    QScopedPointer<Private> d;
};
