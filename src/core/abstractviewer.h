#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

class BookContext;
class QMouseEvent;

// What the book context and the reading page drive in whichever viewer shows the open book.
// Each viewer widget inherits it as its second base, beside its Qt widget base; it holds what
// both viewers share: the book context, the zoom state, the capability test, the signals
// object, and one recogniser that turns raw mouse events into single clicks, full-screen
// requests and drags.
class AbstractViewer {
    Q_GADGET
public:
    enum class Feature {
        Toc = 1,
        Notes = 2,
        Bookmarks = 4,
        Search = 8,
        ColumnCountChange = 16,
        FontChange = 32,
        ReadAluod = 64,
        Zoom = 128,
        Print = 256,
    };
    Q_DECLARE_FLAGS(Features, Feature)
    Q_FLAG(Features)

    enum class ZoomAction {
        Initial = 0, // back to 100 %
        FitWidth = 1, // page width fills the view
        FitPage = 2, // the whole page (or spread) fits the view
        Increment = 3,
        Decrement = 4,
        Value = 5, // the percentage given beside it
        Automatic = 6, // no viewer implements it
    };
    Q_ENUM(ZoomAction)

    class UserEvents;

    // 0 for the text viewer, 2 for the image viewer.
    explicit AbstractViewer(int viewerType);
    virtual ~AbstractViewer();
    AbstractViewer(const AbstractViewer&) = delete;
    AbstractViewer& operator=(const AbstractViewer&) = delete;

    // True when features is not empty and every one of them lies in the viewer's set.
    virtual bool supports(Features features) const = 0;
    virtual bool readBook(QSharedPointer<BookContext> context) = 0;
    virtual QString selectedText() const;
    virtual void clearSelection();
    virtual void goLink(const QString& link, bool forced);
    virtual void goPage(int page);
    virtual void setZoomValue(ZoomAction action, int value);

    QSharedPointer<BookContext> bookContext() const { return m_bookContext; }
    ZoomAction zoomAction() const { return m_zoomAction; }
    int zoomValue() const { return m_zoomValue; }
    int viewerType() const { return m_viewerType; }
    UserEvents* userEvents() const { return m_userEvents; }
    // The reading page sets it when a press closed a popup or side panel, so that press does
    // not also turn the page.
    bool skipNextClick() const { return m_skipNextClick; }
    void setSkipNextClick(bool skip) { m_skipNextClick = skip; }

    // Called by the viewer widgets from their Qt mouse handlers (a double-click event counts
    // as a press). True from the press and move handlers: the event is consumed and must not
    // reach the widget's Qt base. A release is always passed on.
    bool handleMousePressEvent(QMouseEvent* event);
    bool handleMouseMoveEvent(QMouseEvent* event, Qt::MouseButtons buttons);
    void handleMouseReleaseEvent(QMouseEvent* event);

    // The capability rule every viewer answers supports() with.
    static bool featuresWithin(Features features, Features available);

protected:
    virtual void onMouseClicked();
    virtual void onDragStart();
    // delta = the press position minus the current position.
    virtual void onDragMove(const QPoint& delta);
    virtual void onDragEnd();

    void setBookContext(const QSharedPointer<BookContext>& context) { m_bookContext = context; }
    QPoint pressPos() const { return m_pressPos; }
    // Where the left press of the click being reported was; the release clears pressPos()
    // before the click timer runs, so onMouseClicked reads this one.
    QPoint clickPos() const { return m_clickPos; }

    QSharedPointer<BookContext> m_bookContext;
    ZoomAction m_zoomAction = ZoomAction::FitPage;
    int m_zoomValue = 100;
    const int m_viewerType;
    UserEvents* m_userEvents;
    bool m_skipNextClick = false;

private:
    void onClickTimer();

    // (-1, -1): no press, before the first one too, so a button dragged in from outside starts
    // no drag.
    QPoint m_pressPos { -1, -1 };
    QPoint m_clickPos { -1, -1 };
    bool m_leftButtonPressed = false;
    bool m_doubleClicked = false;
    bool m_dragStarted = false;
    // A first press starts it; a second press while it runs is a double click, and its
    // expiry after a quick release reports the single click.
    QTimer m_mouseClickTimer;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(AbstractViewer::Features)

// Carries the viewer's signals; the viewers themselves derive from their Qt widget first.
class AbstractViewer::UserEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void mousePressed();
    // A double click or a middle-button release.
    void fullscreenPressed();
    void zoomChanged(AbstractViewer::ZoomAction action, int value);
    void textSelected(QRect textSelRect);
    void noteClicked(QRect textSelRect, QString noteId);
    void externalLinkClicked(QString url, bool askOpenBrowser);
    void encodingMenuRequested();
};
