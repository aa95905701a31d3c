#pragma once

#include "widgets/kelframe.h"

class KelButton;
class KelLabel;
class QStackedLayout;

// The box that slides in from one side of the reading page with a titled header over a stack of
// side pages.
class SlideBox : public KelFrame {
    Q_OBJECT

public:
    SlideBox(const QMargins& borderWidths, QWidget* parent = nullptr);
    ~SlideBox() override;

    KelFrame* header() const { return m_header; }
    QStackedLayout* pagesStack() const { return m_pagesStack; }
    KelLabel* title() const { return m_title; }
    KelButton* closeButton() const { return m_closeButton; }

private:
    KelFrame* m_header = nullptr;
    QStackedLayout* m_pagesStack = nullptr;
    KelLabel* m_title = nullptr;
    KelButton* m_closeButton = nullptr;
};
