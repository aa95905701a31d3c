#pragma once

#include "styles/kelstyleable.h"
#include "widgets/kelwidget.h"

#include <QDebug>

class KelNativeWindowUtils;
class KelTitleBar;
class KelWindowFrame;
class QBoxLayout;

// The toolkit's top-level window: frameless, painting its own outline, optionally with a title bar
// and a side bar. It keeps its geometry per object name in the application settings, shows and
// hides with fades, lets the user drag and resize it through its native utilities, dims itself
// while a modal window blocks it and hides the typed-word switch of the maintenance mode.
class KelWindow : public KelWidget, public KelStyleable {
    Q_OBJECT

public:
    enum WindowParam {
        Movable = 0x01,
        Resizable = 0x02,
        MinimizeButton = 0x04,
        MaximizeButton = 0x08,
        TitleBar = 0x10,
        SideBar = 0x20,
        Popup = 0x40,
    };
    Q_DECLARE_FLAGS(WindowParams, WindowParam)
    Q_FLAG(WindowParams)

    enum class ShadowType {
        Custom_D2D_Compatible = 0,
        DWM_API = 1,
        Not_Set = 2,
        Default = 3,
    };
    Q_ENUM(ShadowType)

    enum class ShowStrategy {
        NoChange = 0,
        CenteredOnParent = 1,
        CursorPos = 2,
        CursorScreen = 3,
    };
    Q_ENUM(ShowStrategy)

    KelWindow(int widgetType, WindowParams params, QWidget* parent = nullptr,
        ShadowType shadowType = ShadowType::Default, bool deferStyle = false, const QString& name = QString());
    explicit KelWindow(WindowParams params, QWidget* parent = nullptr, ShadowType shadowType = ShadowType::Default,
        bool deferStyle = false, const QString& name = QString());
    ~KelWindow() override;

    // The window flags for a set of parameters.
    static Qt::WindowFlags windowFlagsFor(WindowParams params);

    QWidget* centralWidget() const;
    KelTitleBar* titleBar() const;
    QWidget* sideBarWidget() const;
    WindowParams windowParams() const;
    ShadowType shadowType() const;

    void setTitleText(const QString& text);
    void setSideBarWidget(QWidget* widget, int stretch = 0, Qt::Alignment alignment = Qt::Alignment());

    KelWindowFrame* windowFrame() const;
    KelNativeWindowUtils* nativeWindowUtils() const;

    void showWithStrategy(ShowStrategy strategy);
    void showAnimated();
    void hideAnimated();
    Qt::Edge showNextToRect(const QRect& anchor, Qt::Edge edge, Qt::Alignment alignment, bool animated = true,
        const QPoint& offset = QPoint(), int screenMargin = 0);
    // Shown next to a rectangle, the window keeps within the window it belongs to (its parent's,
    // past any popups) where it fits there beside the rectangle, and always on the screen. Off by
    // default: lists and menus may hang out of their window.
    void setKeptInOwnerWindow(bool kept);
    void animateGeometry(const QRect& rect, bool animated, int duration = -1, bool wait = false);
    // The size the window takes for its content, within its minimum and maximum size.
    QSize fittedSize();

    // The opacity the window rests at; the mouse over it lifts it to 1.
    double normalOpacity() const;
    void setNormalOpacity(double opacity);

    void setBlockedOverlayVisible(bool visible);
    // A modal window blocks this one and the dimming overlay is up.
    bool isBlockedOverlayShown() const;
    bool isBlocked() const;

    // The window this one belongs to, which window managers keep it above: the owner set here, else
    // the parent's window; a parentless dialog, popup, modal window or one that needs an owner takes
    // the active window (not the splash), else the main window. Null for a window of its own.
    QWidget* ownerWindow() const;
    void setOwnerWindow(QWidget* owner);
    // A parentless window that still belongs to whichever toolkit window is active (dialogs, popups
    // and notifications).
    void setNeedsOwner(bool needs);

    void setStayOnTop(bool on);
    void setShowWithoutActivating(bool on);
    void setShowInTaskbar(bool on);
    bool isInSystemMoveOrResize() const;

    bool hasHeightForWidth() const override;
    void setVisible(bool visible) override;
    void applyStyle() override;

public slots:
    virtual void translateUi();
    virtual void restoreWindowGeometry();
    virtual void applyDefaultGeometry();
    virtual void saveWindowGeometry();
    // Restores the window from minimised, shows it (first with its restored or default geometry),
    // raises and activates it; withParent first brings up the parent's window.
    void showAndActivate(bool withParent = false);

signals:
    void hovered();
    void leaved();
    void moveByUserStarted();
    void moveByUserFinished();
    void resizeByUserStarted();
    void resizeByUserFinished();
    void devicePixelRatioChanged(double newDpr, double oldDpr);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;

private:
    class Private;
    Private* d;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(KelWindow::WindowParams)

QDebug operator<<(QDebug debug, const KelWindow* window);
