// Buttons and the icon widget: layout, size hints and painting at the screen's device pixel ratio; clicks
// and toggles on the next event-loop pass, drags, checkable, disabled and blocked buttons, driven by mouse
// events through the window as the system delivers them.
#include "../kelapp/kelapptest.h"
#include "buttontesthelpers.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconwidget.h"

#include <QFontMetrics>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QWindow>
#include <QtTest>

namespace {

const QColor kIconColor(0, 200, 0);
const QColor kTextColor(220, 0, 0);
const QColor kBackground(255, 255, 255);

// An unstyled button with a 16 x 16 icon, known colours and spacing 8.
struct PlainButton {
    explicit PlainButton(const QString& text = QString())
        : button(-1)
    {
        button.setIcon(solidIcon("test-green-16", QSize(16, 16), kIconColor));
        button.setContentColors(KelStateColors(kTextColor));
        button.setBackgroundColors(KelStateColors(kBackground));
        button.setSpacing(8);
        button.setFont(14, QFont::Normal);
        button.setSubTextFont(button.font());
        button.setText(text);
    }
    QSize textSize(const QString& text) const { return QFontMetrics(button.font()).size(0, text); }
    // Lays the button out at once, as a shown one would be on its resize.
    void resize(int width, int height)
    {
        button.resize(width, height);
        QResizeEvent event(button.size(), QSize());
        QCoreApplication::sendEvent(&button, &event);
    }
    KelButton button;
};

// A parent that records the presses that reach it.
class Panel : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        ++presses;
        event->accept();
    }
};

// A shown window with one button at (20, 20), 80 x 30.
struct Scene {
    Scene()
        : button(new KelButton(-1, &panel))
    {
        panel.resize(200, 100);
        button->setGeometry(20, 20, 80, 30);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
    }
    // Leaves no button held for the next test, also after a release sent past the window.
    ~Scene() { release(outside); }
    QWindow* window() { return panel.windowHandle(); }
    void move(const QPoint& pos) { QTest::mouseMove(window(), pos); }
    void press(const QPoint& pos) { QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, pos); }
    void release(const QPoint& pos) { QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, pos); }
    // The release as the window would deliver it, without running the event loop.
    void sendRelease()
    {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(button->rect().center()),
            QPointF(button->mapToGlobal(button->rect().center())), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(button, &release);
    }
    void click()
    {
        move(inside);
        press(inside);
        release(inside);
        QCoreApplication::processEvents();
    }

    const QPoint inside { 60, 35 };
    const QPoint outside { 150, 80 };
    Panel panel;
    QPointer<KelButton> button;
};

} // namespace

Q_DECLARE_METATYPE(Qt::Edge)

class TestKelButton : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), double(KEL_TEST_SCALE_FACTOR));
#endif
    }

    void sizeHintAddsIconTextAndSpacing()
    {
        PlainButton plain(QStringLiteral("Open"));
        const QSize text = plain.textSize(QStringLiteral("Open"));
        QCOMPARE(plain.button.sizeHint(), QSize(16 + 8 + text.width(), qMax(16, text.height())));

        // Nothing but the frame: no negative spacing term.
        KelButton empty(-1);
        empty.setSpacing(8);
        empty.setPaddings(QMargins(3, 2, 3, 2));
        QCOMPARE(empty.sizeHint(), QSize(6, 4));

        // Icon above a stacked text and sub-text: the vertical spacing between all three.
        plain.button.setIconPosition(Qt::TopEdge);
        plain.button.setSpacing(8, 4);
        plain.button.setSubText(QStringLiteral("Ctrl+O"));
        const QSize sub = plain.textSize(QStringLiteral("Ctrl+O"));
        QCOMPARE(plain.button.sizeHint(),
            QSize(qMax(16, qMax(text.width(), sub.width())), 16 + text.height() + sub.height() + 2 * 4));

        // Shrinks to an ellipsis only when its policy lets it.
        PlainButton fixed(QStringLiteral("A rather long caption"));
        QCOMPARE(fixed.button.minimumSizeHint(), fixed.button.sizeHint());
        PlainButton shrinking;
        shrinking.button.setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        shrinking.button.setText(QStringLiteral("A rather long caption"));
        QCOMPARE(shrinking.button.minimumSizeHint().width(), 16 + 8 + fixed.textSize(QStringLiteral("...")).width());
    }

    void layoutPlacesIconAndTexts_data()
    {
        QTest::addColumn<Qt::Edge>("edge");
        QTest::addColumn<int>("alignment");
        QTest::newRow("left, centred") << Qt::LeftEdge << int(Qt::AlignCenter);
        QTest::newRow("left, left") << Qt::LeftEdge << int(Qt::AlignLeft | Qt::AlignVCenter);
        QTest::newRow("right, centred") << Qt::RightEdge << int(Qt::AlignCenter);
        QTest::newRow("top, centred") << Qt::TopEdge << int(Qt::AlignCenter);
        QTest::newRow("bottom, centred") << Qt::BottomEdge << int(Qt::AlignCenter);
    }

    void layoutPlacesIconAndTexts()
    {
        QFETCH(Qt::Edge, edge);
        QFETCH(int, alignment);
        PlainButton plain(QStringLiteral("Save"));
        KelButton& b = plain.button;
        b.setIconPosition(edge);
        b.setAlignment(Qt::Alignment(alignment));
        b.setPaddings(QMargins(10, 6, 10, 6));
        plain.resize(160, 80);
        const QRect contents(10, 6, 140, 68);
        const QRect icon = b.iconRect();
        const QRectF textRect = b.textRect();
        QCOMPARE(icon.size(), QSize(16, 16));
        QCOMPARE(textRect.size(), QSizeF(plain.textSize(QStringLiteral("Save"))));
        QVERIFY(contents.contains(icon));
        QVERIFY(QRectF(contents).contains(textRect));
        switch (edge) {
        case Qt::LeftEdge:
            QCOMPARE(icon.center().y(), contents.center().y());
            if (alignment & Qt::AlignHCenter) {
                // The icon follows the centred text, spacing 8 before it.
                QCOMPARE(icon.right() + 1 + 8, qFloor(textRect.left()));
                QVERIFY(qAbs((icon.left() + textRect.right()) / 2.0 - (contents.left() + contents.right() + 1) / 2.0)
                    < 1.0);
            } else {
                QCOMPARE(icon.left(), contents.left());
                QCOMPARE(textRect.left(), double(contents.left() + 16 + 8));
            }
            break;
        case Qt::RightEdge:
            QCOMPARE(icon.left(), qCeil(textRect.right()) + 8);
            break;
        case Qt::TopEdge:
            QCOMPARE(icon.top(), contents.top());
            QCOMPARE(icon.center().x(), contents.center().x());
            QVERIFY(textRect.top() >= icon.bottom() + 1 + 8);
            break;
        default:
            QCOMPARE(icon.bottom(), contents.bottom());
            QVERIFY(textRect.bottom() <= icon.top() - 8);
            break;
        }
    }

    void separatorSubTextAndArrow()
    {
        PlainButton plain;
        KelButton& b = plain.button;
        b.setTextSeparator(QLatin1Char('\t'));
        b.setText(QStringLiteral("Copy\tCtrl+C"));
        QCOMPARE(b.subText(), QStringLiteral("Ctrl+C"));
        // Stacked: the sub-text below the text after the sub-text spacing.
        b.setSubTextSpacing(3);
        b.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        plain.resize(200, 60);
        QCOMPARE(b.subTextRect().top(), b.textRect().bottom() + 3);
        QCOMPARE(b.subTextRect().left(), b.textRect().left());
        // Side by side: the sub-text at the right edge, the text at the left.
        b.setTextOrientation(Qt::Horizontal);
        QCOMPARE(b.subTextRect().right(), 200.0);
        QCOMPARE(b.textRect().left(), 16.0 + 8.0);
        QCOMPARE(b.textRect().center().y(), b.subTextRect().center().y());
        b.setText(QStringLiteral("Paste"));
        QVERIFY(!b.subTextRect().isValid());

        // The arrow at the edge, or after the text.
        b.setArrowParams(QSize(8, 5), QMargins(2, 0, 2, 0), Qt::DownArrow, 0.0);
        plain.resize(200, 30);
        QCOMPARE(b.arrowRect(), QRect(188, 12, 12, 5));
        b.setArrowPlacement(KelButtonPainter::ArrowAfterText);
        QCOMPARE(b.arrowRect().left(), qCeil(b.textRect().right()) + 8);
    }

    void paintsItsStates()
    {
        PlainButton plain(QStringLiteral("HHHH"));
        KelButton& b = plain.button;
        b.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        plain.resize(120, 30);
        QImage image = grabImage(&b);
        const QRect icon = b.iconRect();
        QVERIFY(nearColor(pixelAt(image, icon.center().x(), icon.center().y()), kIconColor));
        QVERIFY(nearColor(pixelAt(image, 110, 2), kBackground));
        // Text ink lies inside the text rectangle (glyphs may reach a pixel beyond it).
        const QRectF text = b.textRect();
        QVERIFY(countColor(image, text, kTextColor, 60) > 0);
        QCOMPARE(countColor(image, QRectF(text.right() + 2, 0, 120 - text.right() - 2, 30), kTextColor, 60), 0);

        // A hidden button takes its new state at once: checked, disabled, an icon tint.
        KelStateColors background(kBackground);
        background.checked.normal = Qt::blue;
        background.unchecked.disabled = Qt::gray;
        b.setBackgroundColors(background);
        b.setIconColors(KelStateColors(QColor(255, 128, 0)));
        b.setCheckable(true);
        b.setChecked(true);
        image = grabImage(&b);
        QVERIFY(nearColor(pixelAt(image, 110, 2), Qt::blue));
        QVERIFY(nearColor(pixelAt(image, icon.center().x(), icon.center().y()), QColor(255, 128, 0)));
        b.setChecked(false);
        b.setEnabled(false);
        QVERIFY(nearColor(pixelAt(grabImage(&b), 110, 2), Qt::gray));
    }

    void iconWidgetSizesAlignsTintsAndDims()
    {
        KelIconWidget widget;
        widget.setContentsMargins(2, 3, 4, 5);
        QCOMPARE(widget.minimumSizeHint(), QSize(6, 8));
        widget.setIcon(solidIcon("icon-widget-blue", QSize(12, 10), Qt::blue));
        QCOMPARE(widget.minimumSizeHint(), QSize(18, 18));
        widget.setIconSize(QSize(20, 20));
        QCOMPARE(widget.minimumSizeHint(), QSize(26, 28));

        KelIconWidget shown("icon-widget-blue");
        shown.resize(40, 30);
        shown.setAlignment(Qt::AlignRight | Qt::AlignBottom);
        QImage image = grabImage(&shown);
        QVERIFY(nearColor(pixelAt(image, 39, 29), QColor(Qt::blue)));
        QVERIFY(!nearColor(pixelAt(image, 27, 19), QColor(Qt::blue), 60));
        shown.setColor(Qt::red);
        QVERIFY(nearColor(pixelAt(grabImage(&shown), 35, 25), QColor(Qt::red)));
        // Disabled: opacity 0.7 over the window background.
        shown.setEnabled(false);
        const QColor background = shown.palette().color(QPalette::Window);
        const QColor dimmed = pixelAt(grabImage(&shown), 35, 25);
        QVERIFY2(qAbs(dimmed.red() - qRound(255 * 0.7 + background.red() * 0.3)) <= 2, qPrintable(dimmed.name()));

        // A corner radius clips the icon.
        KelIconWidget rounded;
        rounded.setIcon(solidIcon("icon-widget-green-20", QSize(20, 20), Qt::green));
        rounded.resize(20, 20);
        rounded.setCornerRadius(8);
        image = grabImage(&rounded);
        QVERIFY(!nearColor(pixelAt(image, 0, 0), QColor(Qt::green), 60));
        QVERIFY(nearColor(pixelAt(image, 10, 0), QColor(Qt::green)));
    }

    // Mouse steps through the window on a button set up as the row says; "block" is the window being
    // blocked by a modal one.
    void input_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("toggles"); // one character per toggled(): 1 checked, 0 unchecked
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<int>("parentPresses");
        const QString click = "move in, press in, release in";
        QTest::newRow("dragged out") << ""
                                     << "move in, press in, move out" << 0 << "" << false << 0;
        QTest::newRow("dragged out and back") << ""
                                              << "move in, press in, move out, move in" << 0 << "" << true << 0;
        QTest::newRow("released outside") << ""
                                          << "move in, press in, move out, release out" << 0 << "" << false << 0;
        QTest::newRow("kept pressed on drag") << "keep"
                                              << "move in, press in, move out" << 0 << "" << true << 0;
        QTest::newRow("checkable") << "checkable" << click + ", " + click << 0 << "10" << false << 0;
        QTest::newRow("checkable, clicks asked for") << "checkable, emits" << click << 1 << "1" << false << 0;
        QTest::newRow("radio style") << "checkable, checked, blocked"
                                     << "move in, press in" << 0 << "" << false << 0;
        QTest::newRow("radio style, clicks asked for")
            << "checkable, checked, blocked, emits" << click << 1 << "" << false << 0;
        QTest::newRow("disabled") << "disabled" << click << 0 << "" << false << 1;
        QTest::newRow("transparent for the mouse") << "transparent" << click << 0 << "" << false << 1;
        QTest::newRow("window blocked while pressed") << ""
                                                      << "move in, press in, block" << 1 << "" << false << 0;
    }

    void input()
    {
        QFETCH(QString, setup);
        QFETCH(QString, steps);
        Scene scene;
        KelButton* b = scene.button;
        b->setCheckable(setup.contains("checkable"));
        b->setChecked(setup.contains("checked"));
        b->setUncheckByClickBlocked(setup.contains("blocked"));
        b->setEmitsClickedWhenCheckable(setup.contains("emits"));
        b->setKeepPressedOnDrag(setup.contains("keep"));
        b->setTransparentForMouse(setup.contains("transparent"));
        b->setEnabled(!setup.contains("disabled"));
        QCoreApplication::processEvents();
        QSignalSpy clicked(b, &KelButton::clicked);
        QString toggles;
        connect(b, &KelButton::toggled, this, [&toggles](bool on) { toggles += on ? '1' : '0'; });
        for (const QString& step : steps.split(", ")) {
            const QPoint at = step.endsWith("in") ? scene.inside : scene.outside;
            if (step.startsWith("move"))
                scene.move(at);
            else if (step.startsWith("press"))
                scene.press(at);
            else if (step.startsWith("release")) {
                scene.release(at);
            } else {
                QEvent blocked(QEvent::WindowBlocked);
                QCoreApplication::sendEvent(b, &blocked);
            }
            QCoreApplication::processEvents();
        }
        QTEST(b->isPressed(), "pressed");
        QCOMPARE(b->stateAnimator()->isPressed(), b->isPressed());
        QTEST(clicked.count(), "clicks");
        QTEST(toggles, "toggles");
        QTEST(scene.panel.presses, "parentPresses");
        if (setup.contains("checked"))
            QVERIFY(b->isChecked());
    }

    // No click from a button deleted before the next pass (a click comes only then) or by a listener of its
    // own click; hiding a hovered button leaves it.
    void deletedAndHiddenButtons()
    {
        int clicks = 0;
        {
            Scene before;
            connect(before.button.data(), &KelButton::clicked, this, [&clicks]() { ++clicks; });
            before.move(before.inside);
            before.press(before.inside);
            before.sendRelease();
            delete before.button.data();
            QCoreApplication::processEvents();
        }
        QCOMPARE(clicks, 0);

        Scene scene;
        QSignalSpy leaved(scene.button.data(), &KelButton::leaved);
        scene.move(scene.inside);
        QVERIFY(scene.button->isHovered());
        scene.button->hide();
        QVERIFY(!scene.button->isHovered());
        QCOMPARE(leaved.count(), 1);
        scene.button->show();
        scene.move(scene.outside);
        connect(scene.button.data(), &KelButton::clicked, scene.button.data(), [&scene]() { delete scene.button; });
        scene.click();
        QVERIFY(scene.button.isNull());
    }
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelButton>(argc, argv, QStringLiteral("Kel Button Test"));
}

#include "tst_kelbutton.moc"
