#include "painting/kelpainting.h"

#include "styles/kelstyleable.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace {

enum Refresh { Repaint = 1, Restyle = 2 };

struct DiagnosticFlags {
    bool paintContext = false;
    bool frame = false;
    bool button = false;
    bool label = false;
    bool iconWidget = false;
    bool delimiter = false;
    bool nonDwmResizer = false;
    bool nonDwmShadow = false;
    bool custom = false;
};

DiagnosticFlags g_flags;

void switchFlag(bool& flag, bool on, int refresh)
{
    if (flag == on)
        return;
    flag = on;
    if (refresh & Repaint)
        KelPainting::repaintAllWindows();
    if (refresh & Restyle)
        KelPainting::restyleAllWidgets();
}

} // namespace

namespace KelPainting {

bool dbgPaintKelPaintContext() { return g_flags.paintContext; }
bool dbgPaintKelFrame() { return g_flags.frame; }
bool dbgPaintKelButton() { return g_flags.button; }
bool dbgPaintKelLabel() { return g_flags.label; }
bool dbgPaintKelIconWidget() { return g_flags.iconWidget; }
bool dbgPaintKelDelimiter() { return g_flags.delimiter; }
bool dbgPaintNonDwmResizer() { return g_flags.nonDwmResizer; }
bool dbgPaintNonDwmShadow() { return g_flags.nonDwmShadow; }
bool dbgPaintCustom() { return g_flags.custom; }

void setDbgPaintKelPaintContext(bool on) { switchFlag(g_flags.paintContext, on, Repaint); }
void setDbgPaintKelFrame(bool on) { switchFlag(g_flags.frame, on, Restyle); }
void setDbgPaintKelButton(bool on) { switchFlag(g_flags.button, on, Restyle); }
void setDbgPaintKelLabel(bool on) { switchFlag(g_flags.label, on, Repaint); }
void setDbgPaintKelIconWidget(bool on) { switchFlag(g_flags.iconWidget, on, Repaint); }
void setDbgPaintKelDelimiter(bool on) { switchFlag(g_flags.delimiter, on, Restyle); }
void setDbgPaintNonDwmResizer(bool on) { switchFlag(g_flags.nonDwmResizer, on, Repaint); }
void setDbgPaintNonDwmShadow(bool on) { switchFlag(g_flags.nonDwmShadow, on, Repaint); }
void setDbgPaintCustom(bool on) { switchFlag(g_flags.custom, on, Repaint | Restyle); }

void repaintAllWindows()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        window->update();
}

void restyleAllWidgets()
{
    // Guarded, since an applyStyle may delete other widgets of the walk.
    QList<QPointer<QWidget>> widgets;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        widgets.append(window);
        for (QWidget* child : window->findChildren<QWidget*>())
            widgets.append(child);
    }
    for (const QPointer<QWidget>& widget : qAsConst(widgets)) {
        if (auto* styleable = dynamic_cast<KelStyleable*>(widget.data()))
            styleable->applyStyle();
    }
}

QColor dbgMarginsColor() { return QColor(255, 242, 0); }
QColor dbgBorderColor() { return QColor(242, 0, 255); }
QColor dbgPaddingsColor() { return QColor(13, 255, 78); }
QColor dbgContentsColor() { return QColor(0, 162, 232); }
QColor dbgMarkerColor() { return QColor(255, 0, 0); }

} // namespace KelPainting
