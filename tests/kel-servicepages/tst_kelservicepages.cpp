#include "../kel-group/clicktesthelpers.h"
#include "../kel-windows/windowtesthelpers.h"
#include "../kelapp/kelapptest.h"
#include "kelsettings.h"
#include "kelui.h"
#include "servicepages/kelservicepage_dialogs.h"
#include "servicepages/kelservicepage_general.h"
#include "servicepages/kelservicepage_painting.h"
#include "servicepages/kelservicepage_style.h"
#include "servicepages/kelservicepage_translations.h"
#include "styles/kelcolors.h"
#include "styles/kelstyle.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconlabel.h"
#include "widgets/kellabel.h"
#include "windows/kelnotificationmanager.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

namespace {

QFormLayout* formOf(QScrollArea* page) { return qobject_cast<QFormLayout*>(page->widget()->layout()); }

QString fieldText(QScrollArea* page, int row)
{
    return qobject_cast<QLabel*>(formOf(page)->itemAt(row, QFormLayout::FieldRole)->widget())->text();
}

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

    void generalFocusReadout()
    {
        QCOMPARE(describeObject(nullptr), QStringLiteral("QObject(0x0)"));
        KelLabel label;
        label.setGeometry(10, 20, 300, 24);
        const QString address = QString::number(reinterpret_cast<quintptr>(&label), 16);
        QCOMPARE(describeObject(&label), QStringLiteral("KelLabel(0x%1, x:10, y:20, w:300, h: 24)").arg(address));
        QCOMPARE(pointText(QPointF(640, 480)), QStringLiteral("[<b>640</b>; <b>480</b>]"));
        QCOMPARE(pointText(QPointF(0.5, -1234567)), QStringLiteral("[<b>0.5</b>; <b>-1.23457e+06</b>]"));

        KelServicePage_General page;
        QCOMPARE(page.objectName(), QStringLiteral("General"));
        QCOMPARE(formOf(&page)->rowCount(), 10);
        QWidget window;
        auto* edit = new QLineEdit(&window);
        edit->setObjectName("nameEdit");
        auto* button = new QPushButton("go", &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), edit);
        button->setFocus();
        QTRY_COMPARE(fieldText(&page, 6),
            QStringLiteral("<b>%1</b>, previous: %2").arg(describeObject(button), describeObject(edit)));
        QCOMPARE(fieldText(&page, 4), describeObject(button));
        QTRY_COMPARE(fieldText(&page, 2), QStringLiteral("QObject(0x0)"));
        QCOMPARE(fieldText(&page, 3), QStringLiteral("QObject(0x0)"));
        // A focus window is no widget: the text ends at its address.
        QCOMPARE(fieldText(&page, 5), describeObject(window.windowHandle()));
        QVERIFY(!fieldText(&page, 5).contains(", x:"));
    }

    void dialogsButtons_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("skip"); // same-named buttons before it
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("buttons");
        const QString m1 = "Single line message.", m2 = "Long message. This always", m3 = "Extra long message (~900";
        const QString t1 = "Single line title.", t2 = "Long title. Maybe";
        const QString longButtons = "123 456 789 123 456 789 123 456 789|123 456 789 123 ";
        const QList<std::tuple<QString, int, QString, QString>> rows = { { "Normal info", 0, m1, "OK" },
            { "Long alert", 0, m2, "OK" }, { "Extra long", 0, m3, "OK" }, { "2 buttons (question)", 0, m2, "NO|YES" },
            { "3 buttons", 0, m2, "FIRST|SECOND|THRID" }, { "Long text on buttons", 0, m2, longButtons },
            { "Remember choice", 0, m2, "OK" }, { "Normal + any text", 0, m1, "OK" },
            { "Long + not empty", 0, m2, "OK" }, { "Extra long", 1, m3, "OK" }, { "Password (any)", 0, m2, "OK" },
            { "Password (not empty)", 0, m2, "OK" }, { "Long text on buttons", 1, m2, longButtons },
            { "Ask register as default app", 0, "Sample Reader", "NO|YES" },
            { "Notify is not default app", 0, "Sample Reader", "LEARN MORE|OK" }, { "Short", 0, t1, "toast 0" },
            { "Long title", 0, t2, "toast 0" }, { "Long message", 0, t1, "toast 0" },
            { "Long title & message", 0, t2, "toast 0" }, { "Extra title & message", 0, "Extra long", "toast 0" },
            { "Custom duration: 3 sec", 0, t1, "toast 3" }, { "Link (single line)", 0, "Single line link", "toast 0" },
            { "Link (multiple lines)", 0, "Multiple lines link", "toast 0" },
            { "Extra long message + links", 0, "<a ", "toast 0" } }; // toast: a notification shown for n seconds
        for (const auto& [text, skip, message, buttons] : rows)
            QTest::addRow("%s %d", qPrintable(text), skip) << text << skip << message << buttons;
        for (const QString call : { "OpenFileName", "OpenFileNames", "SaveFileName", "ExistingDirectory" })
            for (int async = 0; async < 2; ++async)
                QTest::addRow("%s %d", qPrintable(call), async)
                    << "kelUi->get" + call + "()" << async << "Get" + call + " returned:"
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
        QCOMPARE(first.objectName(), QStringLiteral("Dialogs"));
        QCOMPARE(formOf(&first)->rowCount(), 6);
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
        QCOMPARE(page.objectName(), QStringLiteral("Painting"));
        QCOMPARE(formOf(&page)->rowCount(), 5);
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

    void styleColorLabelsAndOverlays()
    {
        KelStyle* style = kelStyle();
        KelServicePage_Style page(style);
        QCOMPARE(page.objectName(), QStringLiteral("Style"));
        page.buildPage();
        std::unique_ptr<KelLabel> label(page.createColorNameLabel("Invalid", QColor()));
        QCOMPARE(label->text(), QStringLiteral("Invalid(#000000)"));
        QCOMPARE(label->palette().color(label->foregroundRole()), style->defaultTextColor());

        QWidget window;
        auto* grid = new QGridLayout(&window);
        page.addOverlayColorsRow(grid, "Transparent", Qt::transparent);
        const int row = grid->rowCount() - 1;
        page.addOverlayColorsRow(grid, "Red", Qt::red);
        QCOMPARE(grid->rowCount(), row + 2);
        QCOMPARE(grid->columnCount(), 10);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* plain = qobject_cast<KelIconLabel*>(grid->itemAtPosition(row, 0)->widget());
        QCOMPARE(plain->backgroundColors().unchecked.normal, QColor(Qt::transparent));
        const QColor bare = style->color(2);
        const QList<QPair<int, QColor>> overlays = { { 2, QColor(255, 255, 255, 60) }, { 3, QColor(255, 255, 255, 30) },
            { 4, QColor(0, 0, 0, 24) }, { 5, QColor(0, 0, 0, 46) }, { 7, style->hoverOverlayColor(bare) },
            { 8, style->pressedOverlayColor(bare) } };
        for (const auto& [column, overlay] : overlays) {
            const QImage image = grid->itemAtPosition(row, column)->widget()->grab().toImage();
            QCOMPARE(
                image.pixelColor(image.width() - 3, image.height() / 2).rgb(), blendColorOver(bare, overlay).rgb());
        }
    }

    void translationsPage()
    {
        m_settings->setLocaleName("de_DE");
        KelServicePage_Translations page;
        QCOMPARE(page.objectName(), QStringLiteral("Translations"));
        QCOMPARE(formOf(&page)->rowCount(), 3);
        QCOMPARE(page.findChild<QTableView*>()->model(), nullptr); // the test application made no translator
        QLabel* selected = childWithText<QLabel>(&page, "de_DE");
        QVERIFY(selected);
        m_settings->setLocaleName("fr_FR");
        QCOMPARE(selected->text(), QStringLiteral("fr_FR"));
        QVERIFY(childWithText<QLabel>(&page, KelSettings::defaultLocaleName()));
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelServicePages>(argc, argv, QStringLiteral("KelServicePagesTest"));
}

#include "tst_kelservicepages.moc"
