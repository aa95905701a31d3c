#include "bookpageparams.h"

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
              .arg(note(RedNote), note(BlueNote), note(PurpleNote), note(YellowNote), note(GreenNote));
}

QString BookPageParams::textStyleScript() const
{
    return QStringLiteral("replaceOrAddStyle('body_style_2', 'body{ text-align: %1 !important; }');")
               .arg(alignmentCss(m_textAlignment))
        + QStringLiteral("replaceOrAddStyle('linespacing_style', 'p{ line-height: %1% !important; }');")
              .arg(m_lineSpacing)
        + QStringLiteral("replaceOrAddStyle('speech_style', 'span.speechActive{ background-color: #f3e3a2;  }');");
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
