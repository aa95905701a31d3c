#pragma once

#include "widgets/kellabel.h"

#include <QStringList>
#include <QTextLayout>
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
    // QTextOption::WordWrap breaks lines at words only and cuts the text after a whole word.
    void setWrapMode(QTextOption::WrapMode mode);
    // Whether the last paint cut the text, and the lines it showed.
    bool isTextElided() const { return m_elided; }
    QStringList shownLines() const { return m_shownLines; }
    // Ranges of the text drawn in their own format (a colour), the elided last line included.
    QVector<QTextLayout::FormatRange> formats() const { return m_formats; }
    void setFormats(const QVector<QTextLayout::FormatRange>& formats);

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
    QStringList m_shownLines;
    QVector<QTextLayout::FormatRange> m_formats;
};
