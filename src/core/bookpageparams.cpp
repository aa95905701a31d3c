#include "bookpageparams.h"

#include "jsengine/jsengine.h"
#include "noteitem.h"
#include "readingfont.h"

#include <QtGlobal>

namespace {

// The signal argument types, so the signals also work through queued connections.
void registerPageParamTypes()
{
    qRegisterMetaType<ViewerColors>("ViewerColors");
    qRegisterMetaType<Enums::TextAlignment>();
}

// Note-colour indexes as the note styles number them.
enum NoteColorIndex {
    BlueNote = 1,
    PurpleNote = 2,
    RedNote = 3,
    YellowNote = 4,
    GreenNote = 5,
};

// The scripts only ever hold "#rrggbb" (an invalid colour gives "#000000"), never free text.
QString colorName(const QColor& color) { return color.name(QColor::HexRgb); }

// The reading engine marks the container of the book's own content with this class, so rules
// can reach the book's elements and leave the engine's note marks and highlights alone.
const QLatin1String kBookContent(".kelbook");

// A font family as a CSS string in double quotes; what could end the string is escaped.
QString cssString(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QStringLiteral("\\%1 ").arg(c.unicode(), 0, 16);
        else if (c.unicode() >= 0x20 && c.unicode() != 0x7f)
            out += c;
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString styleCall(const char* styleId, const QString& css)
{
    return QStringLiteral("replaceOrAddStyle('%1', '%2');").arg(QLatin1String(styleId), jsengine::escaped(css));
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerPageParamTypes)

BookPageParams::BookPageParams(QObject* parent)
    : QObject(parent)
{
}

QString BookPageParams::alignmentCss(int alignment)
{
    switch (alignment) {
    case Enums::LeftTextAlign:
        return QStringLiteral("left");
    case Enums::RightTextAlign:
        return QStringLiteral("right");
    case Enums::CenterTextAlign:
        return QStringLiteral("center");
    case Enums::JustifyTextAlign:
        return QStringLiteral("justify");
    default:
        return QStringLiteral("inherit");
    }
}

QString BookPageParams::colorScript() const
{
    const auto note = [this](int index) { return colorName(m_colors.noteColors.value(index)); };
    return QStringLiteral("replaceOrAddStyle('body_style_1', 'body{ background-color: %2 !important; color: %3}');")
               .arg(colorName(m_colors.background), colorName(m_colors.text))
        + QStringLiteral(
            "replaceOrAddStyle('note_red_style', 'span.rednote{ background-color: %1; }');"
            "replaceOrAddStyle('note_blue_style', 'span.bluenote{ background-color: %2; }');"
            "replaceOrAddStyle('note_purple_style', 'span.purplenote{ background-color: %3; }');"
            "replaceOrAddStyle('note_yellow_style', 'span.yellownote{ background-color: %4; }');"
            "replaceOrAddStyle('note_green_style', 'span.greennote{ background-color: %5; }');"
            "replaceOrAddStyle('note_underline_style', 'span.underlinenote{ text-decoration: underline; }');")
              .arg(note(RedNote), note(BlueNote), note(PurpleNote), note(YellowNote), note(GreenNote))
        + styleCall("book_colors_style", bookColorsCss());
}

bool BookPageParams::keepsBookColors() const
{
    // A white page is the day look, in which a book keeps the colours it sets for itself.
    return !m_colors.background.isValid() || m_colors.background.rgb() == QColor(Qt::white).rgb();
}

QString BookPageParams::bookColorsCss() const
{
    if (keepsBookColors())
        return QString();
    // The body rule alone loses to the book's own rules for its elements: black text would stay
    // on a dark page, white boxes on a sepia one. Images keep their own look, and the note and
    // read-aloud classes their colours.
    const QString text = colorName(m_colors.text);
    // Links lose the colours and boxes that set them apart from the text and from each other
    // (a navigation bar would read as one run of words), so they take the page's link colour
    // and an underline, which moves nothing.
    const QString link = colorName(m_colors.link.isValid() ? m_colors.link : m_colors.text);
    // Only the reader's own mark classes keep their backgrounds: a book's boxes named like them
    // ("note", "footnote") would keep a light fill under the page's light text.
    QString marks = QStringLiteral(":not(.speechActive)");
    for (int color = NoteItem::Blue; color <= NoteItem::Green; ++color)
        marks += QStringLiteral(":not(.%1)").arg(NoteItem::styleClass(color));
    return QStringLiteral("html{ background-color: %1 !important; }"
                          "body{ color: %2 !important; }"
                          "%3, %3 *:not(img){ color: %2 !important; }"
                          "%3, %3 *:not(img)%5{ "
                          "background-color: transparent !important; background-image: none !important; }"
                          "%3 a[href], %3 a[href] *:not(img){ color: %4 !important; }"
                          "%3 a[href]{ text-decoration: underline !important; }")
        .arg(colorName(m_colors.background), text, kBookContent, link, marks);
}

QString BookPageParams::bookFontCss() const
{
    if (readingfont::isOriginal(m_fontFamily))
        return QString();
    // The installed face the engine takes for the choice, then the generic family of its kind.
    const QString face = readingfont::installedFamily(m_fontFamily);
    const QString generic = readingfont::genericFamily(m_fontFamily);
    QString families = cssString(face.isEmpty() ? m_fontFamily : face);
    if (!generic.isEmpty())
        families += QStringLiteral(", ") + generic;
    // Over the book's own font-family rules; code keeps its fixed-width font.
    return QStringLiteral("%1, %1 *:not(pre):not(code):not(tt):not(kbd):not(samp){ font-family: %2 !important; }")
        .arg(kBookContent, families);
}

QString BookPageParams::bookAlignmentCss() const
{
    if (m_textAlignment == Enums::OriginTextAlign)
        return QString();
    // The body rule only sets what the book's paragraphs inherit; their own text-align wins
    // unless this reaches them too. Text the book centres or sets right (the engine marks it)
    // keeps its place.
    return QStringLiteral("%1 p:not(.kelkeepalign), %1 div:not(.kelkeepalign), %1 li:not(.kelkeepalign), "
                          "%1 dd:not(.kelkeepalign), %1 blockquote:not(.kelkeepalign){ text-align: %2 !important; }")
        .arg(kBookContent, alignmentCss(m_textAlignment));
}

QString BookPageParams::textStyleScript() const
{
    return QStringLiteral("replaceOrAddStyle('body_style_2', 'body{ text-align: %1 !important; }');")
               .arg(alignmentCss(m_textAlignment))
        // A factor, not a length: each line is then as tall as its largest text at the chosen
        // spacing, where a percentage fixes every line's height from the paragraph's own font.
        + QStringLiteral("replaceOrAddStyle('linespacing_style', 'p{ line-height: %1 !important; }');")
              .arg(QString::number(m_lineSpacing / 100.0))
        + QStringLiteral("replaceOrAddStyle('speech_style', 'span.speechActive{ background-color: #f3e3a2;  }');")
        + styleCall("book_font_style", bookFontCss()) + styleCall("book_align_style", bookAlignmentCss());
}

QString BookPageParams::pageDimScript() const
{
    return QStringLiteral("setPageDim(%5,%3, %1, %2, %4);")
        .arg(m_width)
        .arg(m_height)
        .arg(m_columnGap)
        .arg(m_margin)
        .arg(m_columnCount);
}

QString BookPageParams::pageFormatScript() const { return colorScript() + textStyleScript() + pageDimScript(); }

void BookPageParams::setColumnCount(int value)
{
    // A failed settings conversion gives 0; the engine and the page arithmetic know 1 and 2.
    value = qBound(1, value, 2);
    if (m_columnCount == value)
        return;
    m_columnCount = value;
    emit columnCountChanged(value);
}

void BookPageParams::setFontFamily(const QString& value)
{
    if (m_fontFamily == value)
        return;
    m_fontFamily = value;
    emit fontFamilyChanged(value);
}

void BookPageParams::setFontSize(int value)
{
    value = qBound(kMinFontSize, value, kMaxFontSize);
    if (m_fontSize == value)
        return;
    m_fontSize = value;
    emit fontSizeChanged(value);
}

void BookPageParams::setLineSpacing(int value)
{
    if (m_lineSpacing == value)
        return;
    m_lineSpacing = value;
    emit lineSpacingChanged(value);
}

void BookPageParams::setPageColors(const ViewerColors& value)
{
    if (m_colors == value)
        return;
    m_colors = value;
    emit pageColorsChanged(value);
}

void BookPageParams::setShowPageTurn(bool value)
{
    if (m_showPageTurn == value)
        return;
    m_showPageTurn = value;
    emit showPageTurnChanged(value);
}

void BookPageParams::setTextAlignment(Enums::TextAlignment value)
{
    if (m_textAlignment == value)
        return;
    m_textAlignment = value;
    emit textAlignmentChanged(value);
}
