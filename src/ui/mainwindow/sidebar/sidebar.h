#pragma once

#include "widgets/kelframe.h"

class KelButton;

// The main window's category column, reduced to what the window needs so far: the "All books"
// and "Settings" entries and the service entry of the maintenance mode. The full side bar with
// its counts, format categories and folders replaces this class under the same name.
class SideBar : public KelFrame {
    Q_OBJECT

public:
    explicit SideBar(QWidget* parent = nullptr);
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

    void translateUi();

public slots:
    void onFilterCategoryChanged(int category);

signals:
    void categoryClicked(int bookCategory);
    void helpClicked();
    void showServiceModeWindowClicked();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void check(int category, bool emitClicked);

    QList<QPair<int, KelButton*>> m_entries;
    KelButton* m_serviceEntry = nullptr;
    QColor m_background;
    bool m_plain = true;
    int m_current = -1;
};
