#include "../kel-group/clicktesthelpers.h"
#include "../kel-windows/windowtesthelpers.h"
#include "../kelapp/kelapptest.h"
#include "kelsettings.h"
#include "kelui.h"
#include "servicepages/kelservicepage_dialogs.h"
#include "servicepages/kelservicepage_painting.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/kellabel.h"
#include "windows/kelnotificationmanager.h"

#include <QRegularExpression>

namespace {

// The skip-th child of type T whose text reads text.
template <typename T> T* childWithText(QWidget* page, const QString& text, int skip = 0)
{
    for (T* child : page->findChildren<T*>())
        if (child->text() == text && skip-- == 0)
            return child;
    return nullptr;
}

struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    // Counts paint events and lets every event through.
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Paint && ++paints < 0; }
    int paints = 0;
};

} // namespace

class TestKelServicePages : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;
    QList<KelMessageBoxRequest> m_boxes;
    QString m_typed; // what a text box "types" before it closes
    int m_toasts = 0;

private slots:
    void initTestCase()
    {
        m_settings = installTestSettings();
        // Every box closes at once, without a button.
        KelUi::instance()->setMessageBoxHandler([this](KelMessageBoxRequest& request) {
            m_boxes << request;
            if (request.textInput && !m_typed.isNull())
                request.text = m_typed;
            return 0;
        });
        KelUi::instance()->setFileDialogHandler([](const KelFileDialogRequest&) { return QStringList(); });
    }

    void dialogsButtons_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("skip"); // same-named buttons before it
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("buttons");
        const QString m2 = "Long message. This always", t1 = "Single line title.";
        const QList<std::tuple<QString, int, QString, QString>> rows = { { "3 buttons", 0, m2, "FIRST|SECOND|THRID" },
            { "Notify is not default app", 0, "Sample Reader", "LEARN MORE|OK" }, { "Short", 0, t1, "toast 0" },
            { "Custom duration: 3 sec", 0, t1, "toast 3" } }; // toast: a notification shown for n seconds
        for (const auto& [text, skip, message, buttons] : rows)
            QTest::addRow("%s %d", qPrintable(text), skip) << text << skip << message << buttons;
        for (int async = 0; async < 2; ++async)
            QTest::addRow("OpenFileNames %d", async)
                << "kelUi->getOpenFileNames()" << async << "GetOpenFileNames returned:"
                << "OK";
        QTest::newRow("update") << "Update available" << 0 << QString() << QString();
    }
    void dialogsButtons()
    {
        QFETCH(QString, text);
        QFETCH(int, skip);
        QFETCH(QString, message);
        QFETCH(QString, buttons);
        const bool toast = buttons.startsWith("toast");
        const int boxes = message.isNull() || toast ? 0 : 1; // the toolkit itself has no update dialog
        KelServicePage_Dialogs page;
        page.resize(790, 590); // inside the offscreen screen, where the clicks land
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        KelButton* button = childWithText<KelButton>(&page, text, skip);
        QVERIFY(button);
        page.ensureWidgetVisible(button);
        m_boxes.clear();
        clickThroughWindow(button);
        QTRY_COMPARE(m_boxes.size(), boxes);
        QVERIFY(!QApplication::activeModalWidget());
        if (toast) {
            KelNotificationManager* manager = KelUi::instance()->notificationManager();
            const int id = ++m_toasts; // ids count on over all managers
            QTRY_VERIFY(manager->notificationWindow(id));
            QPointer<QWidget> shown = manager->notificationWindow(id);
            QVERIFY(shown->findChildren<KelLabel*>().value(0)->text().startsWith(message));
            const int seconds = buttons.section(' ', 1).toInt();
            QCOMPARE(manager->displayInterval(id),
                (seconds ? seconds * 1000 : KelNotificationManager::systemMessageDuration()) + kelStyle()->metric(16));
            delete manager; // closes what it showed
            QTRY_VERIFY(!shown || shown->isHidden());
        }
        if (!boxes)
            return;
        // A cancelled file dialog answers with the bare prefix.
        QVERIFY(message.endsWith(':') ? m_boxes[0].message == message : m_boxes[0].message.startsWith(message));
        QCOMPARE(m_boxes[0].buttonTexts.filter(QRegularExpression(".")).join('|'), buttons);
    }

    void dialogsRememberTypedText()
    {
        KelServicePage_Dialogs first;
        m_boxes.clear();
        m_typed = "secret";
        emit childWithText<KelButton>(&first, "Password (any)")->clicked(); // closed without OK, "secret" typed
        m_typed = QString();
        KelServicePage_Dialogs second; // the demos remember for the process, not the page
        emit childWithText<KelButton>(&second, "Password (any)")->clicked();
        QCOMPARE(m_boxes.size(), 2);
        QVERIFY(m_boxes[0].password);
        QCOMPARE(m_boxes[1].text, QStringLiteral("secret"));
    }

    void paintingSwitches()
    {
        m_settings->clear();
        QLabel watched("watched");
        watched.show();
        QVERIFY(QTest::qWaitForWindowExposed(&watched));
        PaintCounter counter(&watched);
        KelServicePage_Painting page;
        QTest::qWait(20);
        QCOMPARE(counter.paints, 0); // nothing switched, nothing repainted
        const QList<KelButton*> boxes = page.findChildren<KelButton*>();
        const QStringList keys { "DbgPaintKelPaintContext", "DbgPaintKelFrame", "DbgPaintKelButton", "DbgPaintKelLabel",
            "DbgPaintKelIconWidget", "DbgPaintKelDelimiter", "DbgPaintNonDwmResizer", "DbgPaintNonDwmShadow",
            "DbgPaintCustom" };
        QCOMPARE(boxes.size(), keys.size());
        for (int i = 0; i < boxes.size(); ++i) {
            QVERIFY2(!boxes[i]->isChecked(), qPrintable(boxes[i]->text()));
            boxes[i]->setChecked(true);
            QTRY_COMPARE(m_settings->value(keys[i]).toBool(), true);
            QCOMPARE(m_settings->allKeys(), QStringList { keys[i] });
            KelServicePage_Painting second;
            QVERIFY(second.findChildren<KelButton*>()[i]->isChecked());
            boxes[i]->setChecked(false);
            QTRY_COMPARE(m_settings->value(keys[i]).toBool(), false);
            m_settings->clear();
        }
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelServicePages>(argc, argv, QStringLiteral("KelServicePagesTest"));
}

#include "tst_kelservicepages.moc"
