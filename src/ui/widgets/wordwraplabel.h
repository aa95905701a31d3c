#pragma once

#include "widgets/kellabel.h"

#include <QTextOption>

// A label that wraps its text over several lines, may stop after a number of lines with the last
// one elided, answers height-for-width, and shows the whole text as its tooltip only when it had
// to cut it.
class WordWrapLabel : public KelLabel {
    Q_OBJECT

public:
    WordWrapLabel(int styleRole, QWidget* parent = nullptr);

    int lineHeight() const { return m_lineHeight; }
    void setLineHeight(int height);
    int maxLineCount() const { return m_maxLineCount; }
    void setMaxLineCount(int count);
    QTextOption::WrapMode wrapMode() const { return m_wrapMode; }
    // Whether the last paint cut the text.
    bool isTextElided() const { return m_elided; }

    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    // The height the label would ask for at this width if it showed the text: lists measure rows
    // they have no widget for with it.
    int heightForText(const QString& text, int width) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool ownLayout() const;

    QTextOption::WrapMode m_wrapMode = QTextOption::WrapAtWordBoundaryOrAnywhere;
    int m_lineHeight = -1;
    int m_maxLineCount = -1;
    bool m_elided = false;
};
