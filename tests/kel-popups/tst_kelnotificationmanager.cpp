#include "../kelapp/kelapptest.h"
#include "kelapplication.h"
#include "mousehelpers.h"
#include "styles/kelstyle.h"
#include "widgets/kellabel.h"
#include "windows/kelnotificationmanager.h"
#include "windows/kelwindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QScreen>
#include <QSignalSpy>
#include <QUrl>

using namespace MouseHelpers;

namespace {

class LinkCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class TestKelNotificationManager : public QObject {
    Q_OBJECT
private slots:
    void twoInARowStack_data()
    {
        QTest::addColumn<bool>("duringSlide");
        QTest::newRow("after the slide") << false;
        QTest::newRow("during the slide") << true;
    }

    void twoInARowStack()
    {
        QFETCH(bool, duringSlide);
        KelNotificationManager manager;
        KelWindow* first = manager.notificationWindow(manager.showNotification("One", "First text", 10));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QMargins m = kelStyle()->margins(0);
        if (!duringSlide)
            QTRY_COMPARE(first->geometry().bottom(), available.bottom() - m.bottom());
        KelWindow* second = manager.notificationWindow(manager.showNotification("Two", "Second text", 10));
        QTRY_COMPARE(first->geometry().bottom(), available.bottom() - m.bottom());
        QTRY_COMPARE(second->geometry().bottom(), first->geometry().top() - m.bottom());
        QCOMPARE(second->geometry().right(), available.right() - m.right());
    }

    void hoverPausesTheTimer()
    {
        KelNotificationManager manager;
        const int id = manager.showNotification("Title", "Text", 10);
        QTRY_VERIFY(manager.isTimerActive(id));
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(manager.notificationWindow(id), &enter);
        QVERIFY(!manager.isTimerActive(id));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(manager.notificationWindow(id), &leave);
        QVERIFY(manager.isTimerActive(id));
    }

    void clickAndDrag_data()
    {
        QTest::addColumn<int>("distance");
        QTest::addColumn<bool>("isClick");
        QTest::newRow("click") << 0 << true;
        QTest::newRow("drag") << QApplication::startDragDistance() << false;
    }

    void clickAndDrag()
    {
        QFETCH(int, distance);
        QFETCH(bool, isClick);
        KelNotificationManager manager;
        QSignalSpy clicked(&manager, &KelNotificationManager::clicked);
        const int id = manager.showNotification("Title", "Text", 10);
        KelWindow* window = manager.notificationWindow(id);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY(manager.isTimerActive(id));
        const QPoint at(6, 6);
        send(window, at, QEvent::MouseButtonPress);
        send(window, at + QPoint(distance, 0), QEvent::MouseButtonRelease);
        QCOMPARE(clicked, isClick ? QList<QVariantList>({ { id } }) : QList<QVariantList>());
        QTest::qWait(kelStyle()->metric(16) + 100);
        QCOMPARE(manager.notificationWindow(id) != nullptr, !isClick);
    }

    void linkOpensThroughTheUi()
    {
        LinkCatcher catcher;
        QDesktopServices::setUrlHandler("pltest", &catcher, "open");
        KelNotificationManager manager;
        QSignalSpy clicked(&manager, &KelNotificationManager::clicked);
        const int id = manager.showNotification("Title", "<a href=\"pltest:page\">link</a>", 10);
        QVERIFY(QTest::qWaitForWindowExposed(manager.notificationWindow(id)));
        KelLabel* text = manager.notificationWindow(id)->findChildren<KelLabel*>().value(1);
        QVERIFY(text && text->text().contains("href"));
        emit text->linkActivated("pltest:page");
        QCOMPARE(catcher.opened, QList<QUrl>({ QUrl("pltest:page") }));
        QTRY_VERIFY(!manager.notificationWindow(id));
        QCOMPARE(clicked.count(), 0);
        QDesktopServices::unsetUrlHandler("pltest");
    }

    void destroyingTheManagerLeavesNoWindow()
    {
        auto* manager = new KelNotificationManager;
        manager->showNotification("One", "Text", 10);
        manager->showNotification("Two", "Text", 10);
        const auto windows = [] {
            int count = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                count += w->objectName().startsWith("KelNotificationWindow_") ? 1 : 0;
            return count;
        };
        QTRY_COMPARE(windows(), 2);
        delete manager;
        QTRY_COMPARE(windows(), 0);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelNotificationManager>(argc, argv, QStringLiteral("KelNotificationTest"));
}

#include "tst_kelnotificationmanager.moc"
