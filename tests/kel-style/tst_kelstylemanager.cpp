#include "../kel-windows/windowtesthelpers.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelqmenustyler.h"
#include "kelui.h"
#include "styles/kelstyle.h"
#include "styles/kelstyleable.h"
#include "styles/kelstylemanager.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>

#include <functional>

namespace {

class DayStyle : public KelStyle {
public:
    QString id() const override { return QStringLiteral("Day"); }
    int metric(int kind) const override { return kind == 35 ? 15 : KelStyle::metric(kind); }
};

class NightStyle : public KelStyle {
public:
    QString id() const override { return QStringLiteral("Night"); }
    bool isDarkTheme() const override { return true; }
    double opacity(int kind) const override { return kind == 0 ? 0.3 : KelStyle::opacity(kind); }
    int metric(int kind) const override
    {
        switch (kind) {
        case 28:
            return 50;
        case 35:
            return 17;
        default:
            return KelStyle::metric(kind);
        }
    }
    QColor color(int role) const override { return role == 18 ? QColor(0x99ccff) : KelStyle::color(role); }
};

class SepiaStyle : public KelStyle {
public:
    QString id() const override { return QStringLiteral("Sepia"); }
    QColor color(int role) const override { return role == 2 ? QColor(0xf4ecd8) : KelStyle::color(role); }
};

// The order in which styled objects were asked to restyle.
QStringList g_restyled;

// A label styled the way toolkit labels are: from the current style by its widget type.
class StyledLabel : public QLabel, public KelStyleable {
public:
    StyledLabel(int widgetType, const QString& name, QWidget* parent = nullptr)
        : QLabel(parent)
        , KelStyleable(widgetType)
    {
        setObjectName(name);
        applyStyle();
    }
    void applyStyle() override
    {
        g_restyled << objectName();
        if (isStyled())
            kelStyle()->applyLabelStyle(this, widgetType());
    }
    QColor textColor() const { return palette().color(foregroundRole()); }
};

// Runs a function when restyled.
class Hook : public KelStyleable {
public:
    explicit Hook(std::function<void(Hook*)> onRestyle)
        : KelStyleable(-1)
        , m_onRestyle(std::move(onRestyle))
    {
    }
    void applyStyle() override
    {
        ++restyles;
        m_onRestyle(this);
    }
    int restyles = 0;

private:
    std::function<void(Hook*)> m_onRestyle;
};

KelStyleManager* manager() { return KelStyleManager::instance(); }

int occurrences(const KelStyleable* styleable)
{
    return manager()->styleables().count(const_cast<KelStyleable*>(styleable));
}

} // namespace

class TestKelStyleManager : public QObject {
    Q_OBJECT

    std::unique_ptr<KelSettings> m_settings;
    DayStyle m_day;
    NightStyle m_night;
    SepiaStyle m_sepia;

private slots:
    void initTestCase()
    {
        m_settings = installTestSettings();
        manager()->addStyle(&m_day);
        manager()->addStyle(&m_night);
        manager()->addStyle(&m_sepia);
    }

    // Every case starts from the day look, so that each switch below is a real change.
    void init() { QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day"))); }

    void cleanupTestCase() { KelApplication::instance()->setSettings(nullptr); }

    void stylesAreSwitchedAndTheChoiceSaved()
    {
        QSignalSpy saved(m_settings.get(), &KelSettings::lastStyleIdChanged);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        m_settings->sync();
        QCOMPARE(QSettings(m_settings->fileName(), QSettings::IniFormat).value("lastStyleId").toString(),
            QStringLiteral("Night"));
        // The application font comes from the style; the proxy asks the current style.
        QCOMPARE(QApplication::font().pixelSize(), 17);
        QCOMPARE(QApplication::style()->styleHint(QStyle::SH_LineEdit_PasswordMaskDelay), 50);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day")));
        QCOMPARE(QApplication::font().pixelSize(), 15);
        QCOMPARE(saved.count(), 2);

        // Switching to the current style does nothing at all.
        Hook hook([](Hook*) {});
        const QFont marker = QFont(QStringLiteral("DejaVu Serif"), 9);
        QApplication::setFont(marker);
        m_settings->setValue(QStringLiteral("lastStyleId"), QStringLiteral("Edited"));
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day")));
        QCOMPARE(hook.restyles, 0);
        QCOMPARE(QApplication::font(), marker);
        QCOMPARE(m_settings->lastStyleId(), QStringLiteral("Edited"));

        // Nor does an unknown one; ids compare exactly.
        QTest::ignoreMessage(QtWarningMsg, "Can't find style \"day\"");
        QVERIFY(!manager()->setCurrentStyle(QStringLiteral("day")));
        QCOMPARE(kelStyle(), &m_day);
        QCOMPARE(hook.restyles, 0);
        QCOMPARE(m_settings->lastStyleId(), QStringLiteral("Edited"));
    }

    // Every registered object takes the new look, in registration order; animators follow the style's
    // animations and dimming, and the UI services ask it too.
    void styledObjectsTakeTheNewLook()
    {
        StyledLabel text(9, QStringLiteral("text"));
        StyledLabel error(8, QStringLiteral("error"));
        StyledLabel unstyled(-1, QStringLiteral("unstyled"));
        KelWidgetStateAnimator animator(1);
        const QColor dayText = text.textColor();
        const QColor unstyledColor = unstyled.textColor();

        g_restyled.clear();
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        QCOMPARE(g_restyled, (QStringList { "text", "error", "unstyled" }));
        QCOMPARE(text.textColor(), m_night.defaultTextColor());
        QVERIFY(text.textColor() != dayText);
        QVERIFY(error.textColor() != text.textColor());
        QCOMPARE(unstyled.textColor(), unstyledColor);
        QCOMPARE(animator.disabledDimming(), 0.3);
        QCOMPARE(KelUi::makeHtmlLink(QStringLiteral("https://x.org"), QStringLiteral("X"), 0, QColor()),
            QStringLiteral("<a href='https://x.org' style='color: #99ccff; '>X</a>"));

        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Sepia")));
        QCOMPARE(text.textColor(), dayText);
        QCOMPARE(animator.disabledDimming(), 0.6);

        // Changing the widget type restyles once, and only on a change.
        g_restyled.clear();
        text.setWidgetType(9);
        QVERIFY(g_restyled.isEmpty());
        text.setWidgetType(8);
        QCOMPARE(g_restyled, QStringList { "text" });
        QCOMPARE(text.textColor(), error.textColor());
    }

    void destroyedObjectsAndStylesAreUnregistered()
    {
        const int before = manager()->styleables().size();
        auto* parent = new QWidget;
        auto* label = new StyledLabel(9, QStringLiteral("child"), parent);
        new StyledLabel(9, QStringLiteral("grandchild"), new QWidget(parent));
        new KelWidgetStateAnimator(1, label);
        QCOMPARE(manager()->styleables().size(), before + 3);
        delete label; // and its animator
        QCOMPARE(manager()->styleables().size(), before + 1);
        delete parent;
        QCOMPARE(manager()->styleables().size(), before);
        // Nothing dead is reached by the next switch.
        g_restyled.clear();
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        QVERIFY(g_restyled.isEmpty());

        // A destroyed style drops out of the list; destroyed while current, it leaves the base style behind.
        const int count = manager()->styles().size();
        struct Solo : KelStyle {
            QString id() const override { return QStringLiteral("Solo"); }
        };
        auto* solo = new Solo;
        manager()->addStyle(solo);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Solo")));
        delete solo;
        QCOMPARE(kelStyle()->id(), QStringLiteral("KelStyle"));
        QCOMPARE(manager()->styles().size(), count);
    }

    // An applyStyle may delete objects later in the walk, itself, or make new ones: the dead are skipped, the
    // new ones wait for the next switch.
    void restyleWalkSurvivesChanges()
    {
        int doomedRestyles = 0;
        int selfDeletingRestyles = 0;
        std::unique_ptr<Hook> created;
        auto* doomed = new Hook([&doomedRestyles](Hook*) { ++doomedRestyles; });
        Hook killer([&](Hook*) {
            delete doomed;
            doomed = nullptr;
            if (!created)
                created = std::make_unique<Hook>([](Hook*) {});
        });
        // Registered after the killer, so later in the walk.
        manager()->unregisterStyleable(doomed);
        manager()->registerStyleable(doomed);
        auto* selfDeleting = new Hook([&selfDeletingRestyles](Hook* self) {
            ++selfDeletingRestyles;
            delete self;
        });
        Hook last([](Hook*) {});

        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Sepia")));
        QCOMPARE(doomedRestyles, 0);
        QCOMPARE(selfDeletingRestyles, 1);
        QCOMPARE(last.restyles, 1);
        QCOMPARE(created->restyles, 0);
        QCOMPARE(occurrences(selfDeleting), 0);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Day")));
        QCOMPARE(created->restyles, 1);
    }

    void theSavedStyleIsRestored()
    {
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Night")));
        m_settings->setLastStyleId(QStringLiteral("Sepia")); // as left by an earlier run
        QVERIFY(manager()->restoreLastStyle(QStringLiteral("Day")));
        QCOMPARE(kelStyle(), &m_sepia);
        // A stored style that is gone, or none, gives the default.
        m_settings->setLastStyleId(QStringLiteral("Removed"));
        QVERIFY(manager()->restoreLastStyle(QStringLiteral("Night")));
        QCOMPARE(kelStyle(), &m_night);
        m_settings->setLastStyleId(QString());
        QVERIFY(manager()->restoreLastStyle(QStringLiteral("Day")));
        QCOMPARE(kelStyle(), &m_day);
        QTest::ignoreMessage(QtWarningMsg, "Can't find style \"Nowhere\"");
        m_settings->setLastStyleId(QStringLiteral("Removed"));
        QVERIFY(!manager()->restoreLastStyle(QStringLiteral("Nowhere")));
        QCOMPARE(kelStyle(), &m_day);
    }

    void contextMenusTakeTheStyleSheet()
    {
        QLineEdit edit;
        new KelQMenuStyler(&edit, 40);
        edit.show();
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), edit.mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(&edit, &event);
        QMenu* menu = edit.findChild<QMenu*>();
        QVERIFY(menu);
        QTRY_COMPARE(menu->styleSheet(), kelStyle()->applyMenuStyle(40));
        menu->close();
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestKelStyleManager>(argc, argv, QStringLiteral("kel-style-test"));
}

#include "tst_kelstylemanager.moc"
