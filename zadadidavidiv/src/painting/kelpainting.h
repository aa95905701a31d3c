#pragma once

#include "painting/kelpaintingtypes.h"

#include <QColor>
#include <QImage>
#include <QMarginsF>
#include <QPainterPath>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTextLayout>
#include <QTextOption>
#include <QWidget>

class QFont;
class QPainter;

// Painting functions shared by every toolkit widget. Each function leaves the painter's state
// as it found it.
namespace KelPainting {

enum PenOverlapping {
    Overlapping = 0, // the fill reaches the outer edge and the pen is painted over it
    NotOverlapping = 1, // the fill stops at the pen's inner edge, so a translucent pen does not double
};

// Shapes. The pen is kept wholly inside the rectangle.
void drawRect(QPainter& painter, const QRectF& rect, PenOverlapping mode = Overlapping);
void drawRoundedRect(QPainter& painter, const QRectF& rect, double radius, PenOverlapping mode = Overlapping);
void drawRoundedRect(QPainter& painter, const QRectF& rect, const KelRadii& radii, PenOverlapping mode = Overlapping);
QPainterPath roundedRectPath(const QRectF& rect, const KelRadii& radii);
void drawArrow(QPainter& painter, const QRectF& rect, const QColor& color, const KelArrowSpec& arrow);
// Draws a line that covers whole device pixels at any device pixel ratio.
void drawPixelAlignedLine(QPainter& painter, const QPointF& from, const QPointF& to);

// Text laid out at a fixed pitch of lineSpacing (the font's line spacing when 0 or less), split at
// line feeds and wrapped in the width; maxLineCount 0 or less means no limit. QTextOption::WordWrap
// never breaks inside a word: the text ends at a word wider than the line, on that line, and an
// elided line (ElideRight) is cut after the last whole word that fits with its ellipsis. The formats
// (ranges of the whole text) colour parts of it, on a line elided on the right too.
QSize wordWrappedTextSize(const QString& text, const QFont& font, QTextOption::WrapMode wrapMode, const QSize& maxSize,
    int lineSpacing = 0, int maxLineCount = 0);
// shownLines, when given, receives the text of each line drawn.
void drawWordWrappedText(QPainter* painter, const QString& text, const QRectF& rect, Qt::Alignment alignment,
    QTextOption::WrapMode wrapMode, Qt::TextElideMode elideMode, int lineSpacing = 0, int maxLineCount = 0,
    bool* elided = nullptr, QStringList* shownLines = nullptr, const QVector<QTextLayout::FormatRange>& formats = {});

// Pixmaps and images.
QPixmap createPixmap(const QSize& size, double devicePixelRatio, const QColor& fillColor = Qt::transparent);
QPixmap blurredWidgetPixmap(QWidget* widget, int blurRadius,
    QWidget::RenderFlags renderFlags = QWidget::RenderFlags(QWidget::DrawWindowBackground | QWidget::DrawChildren),
    const QRect& sourceRect = QRect());
void colorizeImage(QImage& image, const QColor& color);

// Device-pixel snapping: at a fractional ratio each value v becomes round(v * ratio) / ratio,
// halves away from zero; at a whole ratio nothing changes.
bool isFractionalRatio(double devicePixelRatio);
double snapToDevicePixels(double devicePixelRatio, double value);
QRectF snapToDevicePixels(double devicePixelRatio, const QRectF& rect);
QMarginsF snapMarginsToDevicePixels(double devicePixelRatio, const QMarginsF& margins);

// Developer diagnostics: process-wide switches read by the paint code of the named classes.
bool dbgPaintKelPaintContext();
bool dbgPaintKelFrame();
bool dbgPaintKelButton();
bool dbgPaintKelLabel();
bool dbgPaintKelIconWidget();
bool dbgPaintKelDelimiter();
bool dbgPaintNonDwmResizer();
bool dbgPaintNonDwmShadow();
bool dbgPaintCustom();
void setDbgPaintKelPaintContext(bool on);
void setDbgPaintKelFrame(bool on);
void setDbgPaintKelButton(bool on);
void setDbgPaintKelLabel(bool on);
void setDbgPaintKelIconWidget(bool on);
void setDbgPaintKelDelimiter(bool on);
void setDbgPaintNonDwmResizer(bool on);
void setDbgPaintNonDwmShadow(bool on);
void setDbgPaintCustom(bool on);

void repaintAllWindows();
void restyleAllWidgets();

QColor dbgMarginsColor();
QColor dbgBorderColor();
QColor dbgPaddingsColor();
QColor dbgContentsColor();
QColor dbgMarkerColor();

} // namespace KelPainting
