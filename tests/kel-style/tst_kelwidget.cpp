#include "widgets/kelwidget.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

// Records the names of the signals in the order they arrive.
class SignalLog : public QObject {
public:
    explicit SignalLog(KelWidget* widget)
    {
        connect(widget, &KelWidget::showed, this, [this] { names << "showed"; });
        connect(widget, &KelWidget::hided, this, [this] { names << "hided"; });
        connect(widget, &KelWidget::visibilityChanged, this,
            [this](bool v) { names << QStringLiteral("visibilityChanged(%1)").arg(v ? "true" : "false"); });
        connect(widget, &KelWidget::showedToParent, this, [this] { names << "showedToParent"; });
        connect(widget, &KelWidget::hidedToParent, this, [this] { names << "hidedToParent"; });
        connect(widget, &KelWidget::visibilityToParentChanged, this,
            [this](bool v) { names << QStringLiteral("visibilityToParentChanged(%1)").arg(v ? "true" : "false"); });
        connect(widget, &KelWidget::enabledChanged, this,
            [this](bool v) { names << QStringLiteral("enabledChanged(%1)").arg(v ? "true" : "false"); });
        connect(widget, &KelWidget::moved, this,
            [this](QPoint p) { names << QStringLiteral("moved(%1,%2)").arg(p.x()).arg(p.y()); });
        connect(widget, &KelWidget::resized, this,
            [this](QSize s) { names << QStringLiteral("resized(%1x%2)").arg(s.width()).arg(s.height()); });
        connect(widget, &KelWidget::geometryChanged, this, [this] { names << "geometryChanged"; });
        connect(widget, &KelWidget::focused, this,
            [this](Qt::FocusReason r) { names << QStringLiteral("focused(%1)").arg(int(r)); });
        connect(widget, &KelWidget::focusLost, this, [this] { names << "focusLost"; });
    }
    QStringList take() { return std::exchange(names, QStringList()); }
    QStringList names;
};

} // namespace

class TestKelWidget : public QObject {
    Q_OBJECT

private slots:
    void visibilitySignals()
    {
        QWidget window;
        window.resize(100, 100);
        auto* child = new KelWidget(&window);
        SignalLog log(child);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The first show lays the child out, then shows it.
        QCOMPARE(log.take(),
            (QStringList { "moved(0,0)", "geometryChanged", "resized(100x30)", "geometryChanged",
                "visibilityChanged(true)", "showed", "visibilityToParentChanged(true)", "showedToParent" }));

        child->hide();
        QCOMPARE(log.take(),
            (QStringList { "visibilityChanged(false)", "hided", "visibilityToParentChanged(false)", "hidedToParent" }));
        // Hidden explicitly: the parent's hiding and showing does not concern it.
        window.hide();
        window.show();
        QVERIFY(log.take().isEmpty());
        child->show();
        QCOMPARE(log.take(),
            (QStringList { "visibilityChanged(true)", "showed", "visibilityToParentChanged(true)", "showedToParent" }));
    }

    void geometryEnabledAndFocusSignals()
    {
        QWidget window;
        window.resize(200, 100);
        auto* child = new KelWidget(&window);
        child->setFocusPolicy(Qt::StrongFocus);
        auto* other = new QWidget(&window);
        other->setFocusPolicy(Qt::StrongFocus);
        child->setGeometry(0, 0, 20, 20);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        SignalLog log(child);

        child->move(10, 15);
        QCOMPARE(log.take(), (QStringList { "moved(10,15)", "geometryChanged" }));
        child->resize(30, 40);
        QCOMPARE(log.take(), (QStringList { "resized(30x40)", "geometryChanged" }));
        QSignalSpy geometry(child, &KelWidget::geometryChanged);
        child->setGeometry(1, 2, 3, 4);
        QCOMPARE(geometry.last().first().toRect(), QRect(1, 2, 3, 4));
        log.take();

        other->setFocus();
        log.take();
        child->setFocus(Qt::TabFocusReason);
        QCOMPARE(log.take(), QStringList { QStringLiteral("focused(%1)").arg(int(Qt::TabFocusReason)) });
        other->setFocus();
        QCOMPARE(log.take(), QStringList { "focusLost" });

        window.setEnabled(false);
        QCOMPARE(log.take(), QStringList { "enabledChanged(false)" });
        window.setEnabled(true);
        QCOMPARE(log.take(), QStringList { "enabledChanged(true)" });
    }
};

QTEST_MAIN(TestKelWidget)
#include "tst_kelwidget.moc"
