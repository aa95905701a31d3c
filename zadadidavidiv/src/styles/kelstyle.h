#pragma once

#include "animators/kelanimationparams.h"
#include "painting/kelpaintingtypes.h"
#include "styles/kelstatecolors.h"

#include <QColor>
#include <QMargins>
#include <QObject>
#include <QSize>
#include <QString>

class KelButtonPainter;
class KelDelimiter;
class KelFrame;
class KelFramePainter;
class KelLineEdit;
class KelLinearShadowWidget;
class KelPlainTextEdit;
class KelProgressBar;
class KelScrollArea;
class KelSlider;
class KelSpinBoxPainter;
class KelWindow;
class KelWindowFrame;
class QLabel;
class QScrollBar;
class QWidget;

// The toolkit's look: virtual queries for colours by role, state-colour sets, metrics, sizes,
// margins, opacities, arrows, animations and icons, and one styling operation per widget class,
// each keyed by the widget's style id (KelStyleable::widgetType). Derived roles, metrics and sets
// are fetched back through the virtual queries, so a program style that overrides one base role
// changes every role derived from it. Ids and roles from 1000 up belong to the program's styles.
//
// Every query has a working default here: the style manager hands out a base KelStyle while no
// program style is current.
class KelStyle : public QObject {
    Q_OBJECT

public:
    enum ColorRole {
        CL_Accent = 0,
        CL_Dialog_Base = 6,
        CL_PopupMenu_Base = 9,
        CL_Text_Dark = 16,
        CL_Text_Light = 17,
        CL_Text_Link = 18,
        CL_Text_Error = 19,
        CL_Button_Push_Base = 21,
    };

    explicit KelStyle(QObject* parent = nullptr);
    ~KelStyle() override;

    // The family the toolkit asks for ("Segoe UI"). Where it is not installed the font database
    // falls back to a similar sans-serif family (see the constructor).
    static QString interfaceFontFamily();

    virtual QString id() const;
    virtual QString title() const;
    virtual QString styleIconPath() const;
    virtual bool isDarkTheme() const;
    virtual int metric(int kind) const;
    virtual double opacity(int kind) const;
    virtual QSize size(int kind) const;
    virtual QMargins margins(int kind) const;
    virtual QColor color(int role) const;
    virtual KelStateColors colorSet(int kind) const;
    virtual KelArrowSpec arrowSpec(int kind) const;
    virtual KelAnimationParams animationSpec(int kind) const;
    // A null string for kinds the style knows nothing of, an empty one for kinds without an icon.
    virtual QString iconPath(int kind) const;

    // Styling by widget class. Operations whose widget class the base style reaches only through
    // its own setters are filled in with those classes; see the comments in kelstyle.cpp.
    virtual void applyWindowStyle(KelWindow* window, int kind) const;
    virtual void applyFrameStyle(KelFrame* frame, int kind) const;
    virtual void applyLabelStyle(QLabel* label, int kind) const;
    virtual void applyDelimiterStyle(KelDelimiter* delimiter, int kind) const;
    virtual void applyButtonStyle(KelButtonPainter* painter, int kind, const QString& iconName) const;
    virtual void applyFramePainterStyle(KelFramePainter* painter) const;
    virtual void applyLineEditStyle(KelLineEdit* edit, int kind) const;
    virtual void applyPlainTextEditStyle(KelPlainTextEdit* edit, int kind) const;
    virtual void applySpinBoxStyle(KelSpinBoxPainter* painter, int kind) const;
    virtual void applySliderStyle(KelSlider* slider, int kind) const;
    virtual void applyProgressBarStyle(KelProgressBar* progressBar, int kind) const;
    virtual void applyScrollAreaStyle(KelScrollArea* area, int kind) const;
    virtual void applyScrollBarStyle(QScrollBar* scrollBar, int kind) const;
    virtual void applyStyleSheet(QWidget* widget, int kind) const;
    virtual QString applyMenuStyle(int kind) const;
    virtual void applyLinearShadowStyle(KelLinearShadowWidget* shadow, int kind) const;

    // The frame part of the window styling: background, border and shadow of a window kind.
    void applyWindowFrameStyle(KelWindowFrame* frame, int kind) const;

    QColor defaultTextColor() const;
    // The default text colour at alpha opacity(1).
    QColor defaultSecondTextColor() const;
    QColor inverseTextColor() const;
    // Light text on a dark background, dark text on a light one; an invalid or transparent
    // background is judged by isDarkTheme().
    QColor textColorFor(const QColor& background) const;
    QColor hoverOverlayColor(const QColor& background) const;
    QColor pressedOverlayColor(const QColor& background) const;

private:
    // Whether text on the background should be light.
    bool isDarkBackground(const QColor& background) const;
};

// The current style; never null.
KelStyle* kelStyle();
