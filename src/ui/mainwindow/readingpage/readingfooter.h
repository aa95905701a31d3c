#pragma once

#include "bookcontextwatcher.h"
#include "widgets/kelframe.h"

#include <QPointer>

class KelButton;
class KelLabel;
class KelSlider;
class MetroProgressBar;
class QStackedWidget;

// The bar under the book: page number, page count and a slider to jump through the book with a
// way back to the page left, or a busy bar while the book is being paginated. It also keeps the
// reading progress of the open book in the settings.
class ReadingFooter : public KelFrame, public BookContextWatcher {
    Q_OBJECT

public:
    explicit ReadingFooter(QWidget* parent = nullptr);
    ~ReadingFooter() override;

    void setFullscreenLook(bool on);
    void retranslateUi();
    void applyStyle() override;

    bool isPaginated() const { return m_paginated; }
    KelSlider* slider() const { return m_slider; }
    KelLabel* pageLabel() const { return m_pageLabel; }
    KelLabel* countLabel() const { return m_countLabel; }
    KelButton* backButton() const { return m_backButton; }

    // "5-6" for two columns unless page is the last one.
    QString pageText(int page) const;
    // The page a slider position stands for: the first page of a two-column spread.
    int sliderValueToPage(int value) const;

protected:
    void onBookContextChanged(QSharedPointer<BookContext> context) override;
    void resetBookState() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateState();
    void refresh();
    void showPages(int current, int count);
    void updateBackButton();
    void equalizeSideBoxes();
    // The same pattern with every number replaced by zeros as wide as the page count.
    QString measuringText() const;

    QStackedWidget* m_stack = nullptr;
    QWidget* m_sliderPage = nullptr;
    QWidget* m_progressPage = nullptr;
    QWidget* m_leftBox = nullptr;
    KelLabel* m_pageLabel = nullptr;
    KelLabel* m_slashLabel = nullptr;
    KelLabel* m_countLabel = nullptr;
    KelSlider* m_slider = nullptr;
    // The slider's tip when it stands in the parent, watched for its moves. Kept as a plain object:
    // the filter sees the tip's last events while it is being destroyed, when it is no button any more.
    QPointer<QObject> m_tip;
    MetroProgressBar* m_progressBar = nullptr;
    QWidget* m_rightBox = nullptr;
    KelButton* m_backButton = nullptr;
    int m_columns = 1;
    int m_currentPage = 0;
    int m_pageCount = 0;
    bool m_paginated = false;
    bool m_fullscreenLook = false;
};
