#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QSize>

class KelCustomShadow;
class KelWindowFrame;
class QWidget;

// The X11 glue of one frameless toolkit window. It answers the hit test (resize borders, caption)
// from the widget geometry in device pixels, turns a left press on a border or on the caption into
// a move or resize by the window manager, and moves or resizes the window itself when no window
// manager answers. It sets resize cursors on hover, toggles maximised on a caption double click,
// keeps the window's toolkit-drawn shadow while a compositing manager runs and owns the window's
// frame description.
class KelNativeWindowUtils : public QObject {
    Q_OBJECT

public:
    // The codes of the hit test (the values other toolkits of this family use).
    enum HitTestCode {
        HTERROR = -2,
        HTNOWHERE = 0,
        HTCLIENT = 1,
        HTCAPTION = 2,
        HTLEFT = 10,
        HTRIGHT = 11,
        HTTOP = 12,
        HTTOPLEFT = 13,
        HTTOPRIGHT = 14,
        HTBOTTOM = 15,
        HTBOTTOMLEFT = 16,
        HTBOTTOMRIGHT = 17,
    };
    Q_ENUM(HitTestCode)

    // A child of the window; watches the window and its native window.
    explicit KelNativeWindowUtils(QWidget* window);
    ~KelNativeWindowUtils() override;

    QWidget* window() const;

    bool isResizable() const;
    void setResizable(bool resizable);
    bool isCaptionEnabled() const;
    void setCaptionEnabled(bool enabled);
    // A system-drawn frame and shadow: no X11 window manager draws one for a frameless window, so
    // this stays a flag that only turns the toolkit's own shadow off.
    bool hasCompositorFrame() const;
    void setCompositorFrame(bool on);

    // The widget whose rectangle is the caption (the title bar).
    void setCaptionWidget(QWidget* widget);
    QWidget* captionWidget() const;
    // Widgets inside the caption that take their own clicks (its buttons).
    void addNonCaptionWidget(QWidget* widget);
    void addNonCaptionWidgets(const QList<QWidget*>& widgets);

    KelWindowFrame* frame() const;
    // The window's size in device pixels; invalid before the native window exists.
    QSize clientSize() const;

    bool isMoving() const;
    bool isResizing() const;
    bool isInSizeMove() const;

    // The code for a screen position in device pixels.
    int hitTest(int x, int y) const;
    int hitTest(const QPoint& devicePos) const { return hitTest(devicePos.x(), devicePos.y()); }
    // Thickness of the resize border in device pixels at the window's ratio.
    int resizeBorderWidth() const;

    // X11 sends nothing this layer needs through the native event hook: never handled.
    bool nativeEvent(const QByteArray& eventType, void* message, long* result);

    // Blur behind the window is not offered on X11.
    bool isBlurBehindEnabled() const;
    void setBlurBehindEnabled(bool on);
    bool setBackgroundEffectColor(const QColor& color);

    // The toolkit-drawn shadow while one exists.
    KelCustomShadow* customShadow() const;

    // An X compositing manager runs.
    static bool isCompositionEnabled();
    static void setStayOnTop(QWidget* widget, bool on);
    static void setShowWithoutActivating(QWidget* widget, bool on);
    static void setShowInTaskbar(QWidget* widget, bool on);
    // Ask the window manager to move the window with the pointer; false when none answers.
    static bool startSystemMove(QWidget* widget);
    static bool startSystemResize(QWidget* widget, Qt::Edges edges);
    // The edges a resize hit-test code stands for; none for other codes.
    static Qt::Edges edgesOf(int hitTestCode);
    // A global logical position of the widget's screen in device pixels.
    static QPoint toDevicePos(const QWidget* widget, const QPoint& globalPos);

    // Makes the owner's top-level window the transient parent of the widget's window (null clears
    // it): Qt's transient parent, and the X11 WM_TRANSIENT_FOR property, which Qt itself writes only
    // for dialog-like window types and removes from plain windows whenever it maps them, so it is
    // written again after every show. Window managers keep a transient window above its owner.
    static void setTransientOwner(QWidget* widget, QWidget* owner);
    // The X11 window that the widget's window names as WM_TRANSIENT_FOR, read from the server; 0 when
    // none, when the window has no native window, or off X11.
    static quintptr transientOwnerId(const QWidget* widget);

    // Starts a move of the window from the pointer at globalPos (the window manager's, else our own
    // until the button is released).
    bool startMove(const QPoint& globalPos);

signals:
    void moveByUserStarted();
    void moveByUserFinished();
    void resizeByUserStarted();
    void resizeByUserFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Private;
    Private* d;
};
