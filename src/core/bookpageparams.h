#pragma once

#include "enums.h"

#include <QColor>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>

// The colours of the page: background, text, links, and the note colours by note-colour index
// (1 blue, 2 purple, 3 red, 4 yellow, 5 green).
struct ViewerColors {
    QColor background;
    QColor text;
    QColor link;
    QMap<int, QColor> noteColors;

    bool operator==(const ViewerColors& other) const
    {
        return background == other.background && text == other.text && link == other.link
            && noteColors == other.noteColors;
    }
    bool operator!=(const ViewerColors& other) const { return !(*this == other); }
};
Q_DECLARE_METATYPE(ViewerColors)

// The look of the open book's pages: colours, fonts, line spacing, alignment, column layout and
// the page size. The book context owns one; the viewers change it; the chapter page and the
// page-counting service turn it into the scripts that lay a chapter out. Every setter stores a
// changed value and emits one change signal; the object itself never talks to a page.
class BookPageParams : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinFontSize = 8;
    static constexpr int kMaxFontSize = 32;
    // The font setting that keeps the book's own fonts.
    static constexpr const char* kOriginalFontFamily = "Original font";

    explicit BookPageParams(QObject* parent = nullptr);

    QColor background() const { return m_colors.background; }
    QColor text() const { return m_colors.text; }
    QMap<int, QColor> noteColors() const { return m_colors.noteColors; }
    ViewerColors pageColors() const { return m_colors; }
    int lineSpacing() const { return m_lineSpacing; }
    int fontSize() const { return m_fontSize; }
    int margin() const { return m_margin; }
    int columnGap() const { return m_columnGap; }
    int columnCount() const { return m_columnCount; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    QString fontFamily() const { return m_fontFamily; }
    Enums::TextAlignment textAlignment() const { return m_textAlignment; }
    bool showPageTurn() const { return m_showPageTurn; }

    // The text viewer sets its own size before each layout; no signal.
    void setWidth(int width) { m_width = width; }
    void setHeight(int height) { m_height = height; }

    // The CSS value of an alignment; anything outside the enumeration is "inherit".
    static QString alignmentCss(int alignment);

    // Page background, text colour and the six note-style rules.
    QString colorScript() const;
    // Paragraph alignment, line spacing and the read-aloud highlight.
    QString textStyleScript() const;
    // The engine's layout call with the page size, gap, margin and column count.
    QString pageDimScript() const;
    // What a chapter is laid out with: colours, text style, then the layout call.
    QString pageFormatScript() const;
    // The day page (white) keeps a book's own text and background colours; night and sepia
    // put theirs over them.
    bool keepsBookColors() const;

public slots:
    // 1 or 2 pages on one screen; other values are brought into that range.
    void setColumnCount(int value);
    // Empty or "Original font" keeps the book's own fonts.
    void setFontFamily(const QString& value);
    // Kept within 8..32; the stored value is what is emitted.
    void setFontSize(int value);
    void setLineSpacing(int value);
    void setPageColors(const ViewerColors& value);
    void setShowPageTurn(bool value);
    void setTextAlignment(Enums::TextAlignment value);

signals:
    void columnCountChanged(int value);
    void lineSpacingChanged(int value);
    void fontSizeChanged(int value);
    void textAlignmentChanged(Enums::TextAlignment value);
    void pageColorsChanged(ViewerColors value);
    void fontFamilyChanged(QString value);
    void showPageTurnChanged(bool value);

private:
    // Rules over the book's own CSS, each empty when the book's own look stays.
    QString bookColorsCss() const;
    QString bookFontCss() const;
    QString bookAlignmentCss() const;

    ViewerColors m_colors;
    int m_lineSpacing = 110;
    int m_fontSize = 20;
    int m_margin = 20;
    int m_columnGap = 60;
    int m_columnCount = 2;
    int m_width = 100;
    int m_height = 100;
    QString m_fontFamily;
    Enums::TextAlignment m_textAlignment = Enums::JustifyTextAlign;
    bool m_showPageTurn = false;
};
