#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSplashScreen>

class KelWindow;

// The start-up splash: a picture with the version in the bottom-right corner and an animated
// "Loading..." in the bottom-left one. It stays up at least minimumMs (checked on every tick, so it
// ends at the first tick at or after that time), then hands over to the main window, or simply
// closes when told not to show one. Closing deletes it.
//
// The main window is shown through its showAndActivate(bool) slot when it has one (toolkit
// windows), else it is restored, shown, raised and activated.
class KelSplash : public QSplashScreen {
    Q_OBJECT

public:
    // screenArea: the area of the screen the splash goes to (its centre picks the screen). Zero
    // offsets take the default insets; invalid colours are white. Dots cycle from minDots to maxDots.
    KelSplash(QRect screenArea, const QPixmap& pixmap, const QString& version, int minimumMs, int tickMs, int minDots,
        int maxDots, bool showMainWindowWhenDone, const QPoint& loadingTextOffset, const QPoint& versionTextOffset,
        const QColor& loadingTextColor, const QColor& versionTextColor);
    ~KelSplash() override;

    // The main window exists (null when none could be made). Before the minimum time this only
    // notes it; the hand-over happens when that time is reached.
    void setMainWindowIsReady(KelWindow* window);

    QString loadingText() const;
    QString versionText() const;
    QRect loadingTextRect() const;
    QRect versionTextRect() const;
    bool isMinimumTimeReached() const;

protected:
    void drawContents(QPainter* painter) override;

private:
    class Private;
    Private* d;
};
