#pragma once

#include "painting/kelframepainter.h"
#include "painting/kelpaintingtypes.h"
#include "styles/kelstatecolors.h"

#include <QFont>
#include <QMargins>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

class KelIcon;
class KelPaintContext;
class KelWidgetStateAnimator;
class QWidget;

// Paints the content of a button-like widget inside its frame: an icon, a text, a second text
// (sub-text) and a drop arrow, each coloured from state colours blended by the widget's animated
// state, and answers the size hints that content implies.
//
// Every setter does nothing when the value does not change. Changes that move content mark the
// layout dirty and run the size-hint and layout hooks; colour changes only repaint.
class KelButtonPainter : public KelFramePainter {
public:
    // Where the arrow goes: at the content's right edge, or right after the texts.
    enum ArrowPlacement { ArrowAtEdge = 0, ArrowAfterText = 1 };

    explicit KelButtonPainter(QWidget* widget);
    ~KelButtonPainter() override;

    QString text() const { return m_text; }
    // With a separator character set, the part after its first occurrence becomes the sub-text;
    // a text without it clears the sub-text.
    void setText(const QString& text);
    QString subText() const { return m_subText; }
    void setSubText(const QString& subText);
    QChar textSeparator() const { return m_textSeparator; }
    void setTextSeparator(QChar separator);

    // Null, or an icon owned by the icons provider.
    KelIcon* icon() const { return m_icon; }
    void setIcon(const QString& name);
    void setIcon(const char* name);
    void setIcon(KelIcon* icon);
    // Invalid: the icon's own size.
    QSize iconSize() const { return m_iconSize; }
    void setIconSize(const QSize& size);
    Qt::Edge iconPosition() const { return m_iconPosition; }
    void setIconPosition(Qt::Edge position);

    // The widget's font when a widget is attached, else the painter's own.
    QFont font() const;
    // An interface font of that pixel size and weight, on the widget or else the painter.
    void setFont(int pixelSize, int weight);
    QFont subTextFont() const { return m_subTextFont; }
    void setSubTextFont(const QFont& font);

    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    Qt::TextElideMode elideMode() const { return m_elideMode; }
    void setElideMode(Qt::TextElideMode mode);
    int spacingX() const { return m_spacingX; }
    int spacingY() const { return m_spacingY; }
    void setSpacing(int spacing);
    void setSpacing(int spacingX, int spacingY);
    int subTextSpacing() const { return m_subTextSpacing; }
    void setSubTextSpacing(int spacing);
    // Vertical: the sub-text below the text; horizontal: side by side.
    Qt::Orientation textOrientation() const { return m_textOrientation; }
    void setTextOrientation(Qt::Orientation orientation);

    KelArrowSpec arrowParams() const;
    // direction is a Qt::ArrowType; value is the stroke width of an open chevron (0: a filled one).
    void setArrowParams(const QSize& size, const QMargins& margins, int direction, double value);
    void setArrowParams(const KelArrowSpec& arrow);
    int arrowPlacement() const { return m_arrowPlacement; }
    void setArrowPlacement(int placement);

    KelStateColors contentColors() const { return m_contentColors; }
    void setContentColors(const KelStateColors& colors);
    // Its own colours once set, else the content colours.
    KelStateColors iconColors() const;
    // Also switches the tinting of the icon on.
    void setIconColors(const KelStateColors& colors);
    KelStateColors subTextColors() const;
    void setSubTextColors(const KelStateColors& colors);
    KelStateColors arrowColors() const { return m_arrowColors; }
    void setArrowColors(const KelStateColors& colors);
    bool colorizeIcon() const { return m_colorizeIcon; }
    void setColorizeIcon(bool colorize);

    // The laid-out content, each made valid first; invalid when absent or when there is no room.
    QRect iconRect();
    QRectF textRect();
    QRectF subTextRect();
    QRect arrowRect();

    QSize sizeHint() const override;
    // A widget that may shrink horizontally narrows until its texts show only an ellipsis.
    QSize minimumSizeHint() const override;
    void ensureGeometryIsValid() override;

    // Icon, texts and arrow in the colours of the animator's state (the frame is the caller's).
    void drawContent(KelPaintContext& context, KelWidgetStateAnimator* animator);
    // Developer diagnostics: the four content rectangles outlined.
    void drawDiagnostics(KelPaintContext& context);

    // Drops the measured texts, for a font change of the widget.
    void invalidateTextMetrics();

protected:
    void onLayoutChanged() override;
    virtual void onTextChanged(const QString& text);
    virtual void onSubTextChanged(const QString& subText);

    // Marks the layout dirty and runs the size-hint and layout hooks.
    void relayout();

private:
    void ensureTextMetrics() const;
    QSize effectiveIconSize() const;
    bool hasValidIcon() const;
    QSize arrowBoxSize() const;
    QSize contentSizeHint(const QSize& textSize, const QSize& subTextSize) const;
    void layoutTexts(QRectF area);
    void drawText(QPainter* painter, const QString& text, const QFont& font, const QColor& color, const QRectF& rect,
        const QSize& size, int capHeight) const;

    int m_spacingX = 0;
    int m_spacingY = 0;
    KelStateColors m_contentColors;
    Qt::Edge m_iconPosition = Qt::LeftEdge;
    KelIcon* m_icon = nullptr;
    bool m_colorizeIcon = false;
    QSize m_iconSize;
    KelStateColors m_iconColors;
    QString m_text;
    QFont m_font;
    Qt::Alignment m_alignment = Qt::AlignCenter;
    Qt::TextElideMode m_elideMode = Qt::ElideRight;
    QString m_subText;
    QFont m_subTextFont;
    int m_subTextSpacing = 0;
    bool m_iconColorsInUse = false;
    bool m_subTextColorsInUse = false;
    KelStateColors m_subTextColors;
    Qt::Orientation m_textOrientation = Qt::Vertical;
    QChar m_textSeparator;
    QSize m_arrowSize = QSize(0, 0);
    QMargins m_arrowMargins;
    int m_arrowDirection = Qt::DownArrow;
    double m_arrowValue = 0.0;
    KelStateColors m_arrowColors;
    int m_arrowPlacement = ArrowAtEdge;
    bool m_geometryDirty = true;
    QRect m_iconRect;
    QRectF m_textRect;
    QRectF m_subTextRect;
    QRect m_arrowRect;

    // Measured lazily, also from the const size hints.
    mutable bool m_textMetricsValid = false;
    mutable QSize m_textSize;
    mutable QSize m_textMinSize;
    mutable int m_textCapHeight = 0;
    mutable int m_subTextCapHeight = 0;
    mutable QSize m_subTextSize;
    mutable QSize m_subTextMinSize;
};
