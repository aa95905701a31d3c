// The toolkit's small widgets at the screen's device pixel ratio (1, or 2 in the scaled build), on an
// animation clock only the test moves: buttons, the icon widget and icon labels (layout, size hints,
// painting); clicks and toggles on the next event-loop pass, drags, checkable, disabled and blocked buttons,
// driven by mouse events through the window as the system delivers them; progress bars and spin boxes;
// exclusive button groups and tab widgets; eliding labels, self-sizing plain text edits and the shadow
// strip (placement along each edge of its target, its pixels, the shared pixmap cache, following the target).
#include "../kel-effects/animationclock.h"
#include "../kel-effects/widgetimages.h"
#include "../kel-group/clicktesthelpers.h"
#include "../kelapp/kelapptest.h"

#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "kelui.h"
#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "styles/kelstyle.h"
#include "utils/kelpixmapcache.h"
#include "widgets/kelbutton.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/keliconlabel.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelprogressbar.h"
#include "widgets/kelspinbox.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/keltabwidget.h"

#include <QBoxLayout>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextCursor>
#include <QWindow>
#include <QtTest>

#include <memory>

namespace {

// A square icon of one colour; a tint replaces the colour. Registered with the running provider.
class SolidIcon : public KelIcon {
public:
    SolidIcon(const QString& name, const QSize& size, const QColor& color)
        : m_color(color)
    {
        setName(name);
        setDefaultSize(size);
    }
    bool isValid() const override { return true; }
    QPixmap pixmap(double ratio, const QSize& size, const QColor& color, KelPainting::WidgetState) const override
    {
        QPixmap canvas = createPixmap(ratio, size);
        canvas.fill(color.isValid() ? color : m_color);
        return canvas;
    }

private:
    QColor m_color;
};

KelIcon* solidIcon(const char* name, const QSize& size, const QColor& color)
{
    KelIconsProvider* provider = KelIconsProvider::instance();
    KelIcon* known = provider->icon(name);
    if (known->isValid())
        return known;
    provider->registerIcon(new SolidIcon(QString::fromLatin1(name), size, color));
    return provider->icon(name);
}

// The widget as the screen would show it, at the screen's device pixel ratio.
QImage grabImage(QWidget* widget) { return widget->grab().toImage(); }

// How many device pixels in the logical rectangle are near the colour.
int countColor(const QImage& image, const QRectF& logical, const QColor& color, int tolerance = 40)
{
    const double r = image.devicePixelRatioF();
    const QRect area
        = QRect(int(logical.left() * r), int(logical.top() * r), int(logical.width() * r), int(logical.height() * r))
              .intersected(image.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (sameColor(image.pixelColor(x, y), color, tolerance))
                ++count;
    return count;
}

const QColor kIconColor(0, 200, 0);
const QColor kTextColor(220, 0, 0);
const QColor kBackground(255, 255, 255);
const int kStyledSpinBox = 35;

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

QRect subControl(KelSpinBox* spin, QStyle::SubControl control)
{
    QStyleOptionSpinBox option;
    option.initFrom(spin);
    option.rect = spin->rect();
    option.buttonSymbols = spin->buttonSymbols();
    option.subControls = QStyle::SC_SpinBoxEditField | QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
    return spin->style()->subControlRect(QStyle::CC_SpinBox, &option, control, spin);
}

// A shown form of two spin boxes that hand the focus to each other.
struct SpinForm {
    SpinForm()
        : first(new KelSpinBox(kStyledSpinBox, &window))
        , second(new KelSpinBox(kStyledSpinBox, &window))
    {
        for (KelSpinBox* spin : { first, second })
            spin->setRange(0, 1000);
        first->setValue(42);
        first->setGeometry(10, 10, 100, 30);
        second->setGeometry(120, 10, 100, 30);
        QObject::connect(first, &KelSpinBox::nextWidgetRequested, second, [this]() { second->setFocus(); });
        QObject::connect(second, &KelSpinBox::prevWidgetRequested, first, [this]() { first->setFocus(); });
        window.resize(240, 50);
        window.show();
    }
    QLineEdit* edit(KelSpinBox* spin) const { return spin->findChild<QLineEdit*>(); }
    QWidget window;
    KelSpinBox* first;
    KelSpinBox* second;
};

using Flags = QList<bool>;

// A shown row of three grouped buttons carrying "a", "b" and "c".
struct Row {
    Row()
    {
        auto* layout = new QHBoxLayout(&panel);
        for (const char* name : { "a", "b", "c" }) {
            auto* button = new KelButton(-1, &panel);
            button->setMinimumSize(60, 30);
            layout->addWidget(button);
            group.addButton(button, QString::fromLatin1(name));
        }
        panel.show();
    }
    KelButton* at(const char* name) const { return group.button(QString::fromLatin1(name)); }
    // The user data of the checked buttons.
    QString checked() const
    {
        QString names;
        for (KelButton* button : group.buttons())
            names += button->isChecked() ? KelExclusiveButtonGroup::userData(button).toString() : QString();
        return names;
    }
    // The user data of each toggled() so far, "-" for an emptied selection.
    static QStringList seen(const QSignalSpy& spy)
    {
        QStringList values;
        for (const QList<QVariant>& args : spy)
            values << (args.at(0).value<KelButton*>() ? args.at(1).toString() : QStringLiteral("-"));
        return values;
    }

    QWidget panel;
    KelExclusiveButtonGroup group;
};

QWidget* makePage(const QString& name)
{
    auto* page = new QLabel(name);
    page->setMinimumSize(200, 120);
    return page;
}

// A shown tab widget on the given side with a tab per index, inserted in that order.
struct Tabs {
    explicit Tabs(const QList<int>& indexes = { 0, 1, 2 }, Qt::Edge edge = Qt::TopEdge)
        : tabs(edge, -1)
    {
        for (int index : indexes) {
            pages[index] = makePage(QString::number(index));
            tabs.insertTab(index, pages[index]);
            tabs.tabButton(index)->setMinimumSize(60, 30);
        }
        tabs.show();
    }
    Flags checked() const { return { button(0)->isChecked(), button(1)->isChecked(), button(2)->isChecked() }; }
    Flags visible() const { return { pages[0]->isVisible(), pages[1]->isVisible(), pages[2]->isVisible() }; }
    KelButton* button(int index) const { return tabs.tabButton(index); }

    KelTabWidget tabs;
    QMap<int, QWidget*> pages;
};

const QString kLongText = QStringLiteral("The quick brown fox jumps over the lazy dog again and again");
const int kShadowType = 41;

QSize marginsSize(const QWidget& widget)
{
    const QMargins m = widget.contentsMargins();
    return QSize(m.left() + m.right(), m.top() + m.bottom());
}

QString lines(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("line %1").arg(i);
    return list.join(QLatin1Char('\n'));
}

// The widget alone, without any background, at its own ratio.
QImage alone(QWidget& widget)
{
    QImage image = makeImage(widget.size(), widget.devicePixelRatioF());
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int ink(const QImage& image) { return inkInside(image, image.rect()); }

} // namespace

Q_DECLARE_METATYPE(Qt::Edge)

class TestKelButton : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_driver.install();
        m_ratio = m_root.devicePixelRatioF();
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(m_ratio, double(KEL_TEST_SCALE_FACTOR));
#endif
        m_root.resize(500, 400);
        m_root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_root));
    }
    void cleanupTestCase() { m_driver.uninstall(); }

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
        QVERIFY(sameColor(colorAt(image, icon.center().x(), icon.center().y()), kIconColor));
        QVERIFY(sameColor(colorAt(image, 110, 2), kBackground));
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
        QVERIFY(sameColor(colorAt(image, 110, 2), Qt::blue));
        QVERIFY(sameColor(colorAt(image, icon.center().x(), icon.center().y()), QColor(255, 128, 0)));
        b.setChecked(false);
        b.setEnabled(false);
        QVERIFY(sameColor(colorAt(grabImage(&b), 110, 2), Qt::gray));
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
        QVERIFY(sameColor(colorAt(image, 39, 29), QColor(Qt::blue)));
        QVERIFY(!sameColor(colorAt(image, 27, 19), QColor(Qt::blue), 60));
        shown.setColor(Qt::red);
        QVERIFY(sameColor(colorAt(grabImage(&shown), 35, 25), QColor(Qt::red)));
        // Disabled: opacity 0.7 over the window background.
        shown.setEnabled(false);
        const QColor background = shown.palette().color(QPalette::Window);
        const QColor dimmed = colorAt(grabImage(&shown), 35, 25);
        QVERIFY2(qAbs(dimmed.red() - qRound(255 * 0.7 + background.red() * 0.3)) <= 2, qPrintable(dimmed.name()));

        // A corner radius clips the icon.
        KelIconWidget rounded;
        rounded.setIcon(solidIcon("icon-widget-green-20", QSize(20, 20), Qt::green));
        rounded.resize(20, 20);
        rounded.setCornerRadius(8);
        image = grabImage(&rounded);
        QVERIFY(!sameColor(colorAt(image, 0, 0), QColor(Qt::green), 60));
        QVERIFY(sameColor(colorAt(image, 10, 0), QColor(Qt::green)));
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

    void iconLabelMeasuresItsContentAgain()
    {
        KelIconLabel label(-1);
        label.setIcon(solidIcon("bars-green-16", QSize(16, 16), kIconColor));
        label.setSpacing(8);
        label.setFont(14, QFont::Bold);
        label.setText(QStringLiteral("WWW"));
        const QSize text = QFontMetrics(label.font()).size(0, QStringLiteral("WWW"));
        QCOMPARE(label.sizeHint(), QSize(16 + 8 + text.width(), qMax(16, text.height())));
        // A longer text and a bigger font reset the cached hints for the next layout pass.
        label.setText(QStringLiteral("WWW and WWW"));
        const QSize longer = QFontMetrics(label.font()).size(0, QStringLiteral("WWW and WWW"));
        QCOMPARE(label.sizeHint().width(), 16 + 8 + longer.width());
        QFont big = label.font();
        big.setPixelSize(28);
        label.QWidget::setFont(big);
        QVERIFY(label.sizeHint().width() > 16 + 8 + longer.width());
    }

    void progressStates_data()
    {
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::newRow("busy") << QList<int> { 1 } << 0 << 0;
        QTest::newRow("paused keeps the range") << QList<int> { 2 } << 10 << 200;
        QTest::newRow("busy then paused") << QList<int> { 1, 2 } << 10 << 200;
        QTest::newRow("busy twice keeps the first range") << QList<int> { 1, 1, 0 } << 10 << 200;
    }

    void progressStates()
    {
        QFETCH(QList<int>, states);
        KelProgressBar bar(-1);
        bar.setRange(10, 200);
        bar.setValue(120);
        for (int state : states)
            bar.setState(KelProgressBar::State(state));
        QCOMPARE(bar.state(), KelProgressBar::State(states.last()));
        QTEST(bar.minimum(), "minimum");
        QTEST(bar.maximum(), "maximum");
        if (bar.maximum() != 0)
            QCOMPARE(bar.value(), 120);
    }

    void spinBoxKeys()
    {
        SpinForm form;
        QVERIFY(QTest::qWaitForWindowActive(&form.window));
        form.first->setFocus();
        QSignalSpy enter(form.first, &KelSpinBox::enterPressed);
        QSignalSpy escape(form.first, &KelSpinBox::escPressed);
        QSignalSpy next(form.first, &KelSpinBox::nextWidgetRequested);
        QTest::keyClick(form.first, Qt::Key_Return);
        QTest::keyClick(form.first, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(form.first, Qt::Key_Escape);
        QCOMPARE(enter.count(), 2);
        QCOMPARE(escape.count(), 1);
        // Other keys still step the value.
        QTest::keyClick(form.first, Qt::Key_Up);
        QCOMPARE(form.first->value(), 43);

        // Arrow keys move the cursor, and hand the focus over only past the text's ends.
        QLineEdit* edit = form.edit(form.first);
        edit->setCursorPosition(1);
        QTest::keyClick(form.first, Qt::Key_Right);
        QCOMPARE(edit->cursorPosition(), 2);
        QCOMPARE(next.count(), 0);
        QTest::keyClick(form.first, Qt::Key_Right);
        QCOMPARE(next.count(), 1);
        QTRY_VERIFY(form.second->hasFocus());
        form.edit(form.second)->setCursorPosition(1);
        QTest::keyClick(form.second, Qt::Key_Left);
        QVERIFY(form.second->hasFocus());
        QTest::keyClick(form.second, Qt::Key_Left);
        QTRY_VERIFY(form.first->hasFocus());
        // And with the keys the form chose.
        form.first->setNextWidgetKeys({ Qt::Key_Tab, Qt::Key_Down });
        edit->end(false);
        QTest::keyClick(form.first, Qt::Key_Down);
        QCOMPARE(next.count(), 2);
        QCOMPARE(form.first->value(), 43);
    }

    void spinBoxArrowClicksStopAtTheBounds()
    {
        SpinForm form;
        QVERIFY(QTest::qWaitForWindowExposed(&form.window));
        KelSpinBox* spin = form.first;
        QSignalSpy pressed(spin, &KelSpinBox::buttonPressed);
        QSignalSpy released(spin, &KelSpinBox::buttonReleased);
        const QPoint up = subControl(spin, QStyle::SC_SpinBoxUp).center();
        const QPoint down = subControl(spin, QStyle::SC_SpinBoxDown).center();
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QCOMPARE(spin->value(), 41);
        // At the maximum the up arrow is dead: no step, no signal; a click in the text is no arrow press.
        spin->setValue(1000);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, QPoint(20, 15));
        QCOMPARE(spin->value(), 1000);
        QCOMPARE(pressed.count(), 3);
        QCOMPARE(released.count(), 3);

        // Drawn disabled at the bound (hidden, so at once), the value inside the frame.
        KelSpinBox hidden(kStyledSpinBox);
        hidden.setRange(0, 10);
        hidden.setValue(10);
        hidden.resize(100, 30);
        const QColor normal = kelStyle()->colorSet(6).unchecked.normal;
        const QColor disabled = kelStyle()->colorSet(6).unchecked.disabled;
        QVERIFY(!sameColor(normal, disabled, 4));
        const QRect upRect = subControl(&hidden, QStyle::SC_SpinBoxUp);
        const QRect downRect = subControl(&hidden, QStyle::SC_SpinBoxDown);
        QImage image = grabImage(&hidden);
        QCOMPARE(countColor(image, upRect, normal, 2), 0);
        QVERIFY(countColor(image, upRect, disabled, 2) > 4);
        QVERIFY(countColor(image, downRect, normal, 2) > 4);
        const QRect field = subControl(&hidden, QStyle::SC_SpinBoxEditField);
        QVERIFY(countColor(image, field, kelStyle()->defaultTextColor(), 60) > 4);
        hidden.setValue(0);
        image = grabImage(&hidden);
        QVERIFY(countColor(image, upRect, normal, 2) > 4);
        QCOMPARE(countColor(image, downRect, normal, 2), 0);
    }

    void applicationStyleOutlivesSpinBoxes()
    {
        // A spin box's own style must not take the application's over: it goes with the spin box. The
        // application's style is the toolkit's from its first use on, so it is set up before the look.
        kelStyle();
        const QPointer<QStyle> app = QApplication::style();
        delete new KelSpinBox(kStyledSpinBox);
        delete new KelDoubleSpinBox(kStyledSpinBox);
        QVERIFY(app);
        QCOMPARE(app->proxy(), app.data());
        QCOMPARE(QApplication::style(), app.data());
        QVERIFY(!QLineEdit().grab().isNull());
    }

    // Steps on a shown row of "a", "b" and "c": clicks through the window, choices by user data (loud or
    // silent), the empty selection allowed or not, and "late a": A checked with its toggled() still on
    // its way when the next step runs.
    void oneButtonChecked_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("toggled"); // the user data of each toggled(), "-" for none checked
        QTest::newRow("clicks") << "click a, click c, click c"
                                << "c"
                                << "a c";
        QTest::newRow("by user data") << "set b, set a"
                                      << "a"
                                      << "b a";
        QTest::newRow("unknown value or none refused") << "set a, set zzz, none"
                                                       << "a"
                                                       << "a";
        QTest::newRow("silently") << "set a, silent c"
                                  << "c"
                                  << "a";
        QTest::newRow("late toggle does not undo a silent choice") << "late a, silent b"
                                                                   << "b"
                                                                   << "";
        QTest::newRow("empty allowed") << "allow, click b, click b"
                                       << ""
                                       << "b -";
        QTest::newRow("empty allowed: unknown value") << "allow, set a, set zzz"
                                                      << ""
                                                      << "a -";
        QTest::newRow("empty forbidden again") << "allow, click c, forbid, click c"
                                               << "c"
                                               << "c";
    }

    void oneButtonChecked()
    {
        QFETCH(QString, steps);
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        QSignalSpy toggled(&row.group, &KelExclusiveButtonGroup::toggled);
        for (const QString& step : steps.split(", ")) {
            const QString name = step.section(' ', 1);
            if (step.startsWith("click"))
                clickThroughWindow(row.group.button(name));
            else if (step.startsWith("set"))
                QCOMPARE(row.group.setCheckedByUserData(name), name != "zzz" || row.group.isEmptySelectionAllowed());
            else if (step.startsWith("silent"))
                QVERIFY(row.group.setCheckedByUserDataSilently(name));
            else if (step == "none")
                QVERIFY(!row.group.uncheckAll());
            else if (step.startsWith("late"))
                row.group.button(name)->setChecked(true);
            else
                row.group.setEmptySelectionAllowed(step == "allow");
            if (!step.startsWith("late"))
                QCoreApplication::processEvents();
        }
        QTEST(row.checked(), "checked");
        QTEST(Row::seen(toggled).join(' '), "toggled");
        QVERIFY(!row.group.signalsBlocked());

        // uncheckAll picks a button without data.
        KelButton none(-1);
        row.group.addButton(&none, QVariant());
        QVERIFY(row.group.uncheckAll());
        QCoreApplication::processEvents();
        QCOMPARE(row.group.checkedButton(), &none);
    }

    void deletedButtonsLeaveTheGroup()
    {
        Row row;
        QVERIFY(QTest::qWaitForWindowExposed(&row.panel));
        row.group.setCheckedByUserDataSilently(QStringLiteral("b"));
        delete row.at("b");
        // The row closes the gap before the next click lands.
        row.panel.layout()->activate();
        QVERIFY(!row.group.button(QStringLiteral("b")));
        QVERIFY(!row.group.checkedButton());
        clickThroughWindow(row.at("c"));
        QCOMPARE(row.checked(), QStringLiteral("c"));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("Ignore trying to add nullptr button into"));
        QVERIFY(!row.group.addButton(nullptr, QStringLiteral("y")));
    }

    void tabsStandOnTheirSideInInsertionOrder_data()
    {
        QTest::addColumn<Qt::Edge>("edge");
        QTest::addColumn<QList<int>>("indexes");
        QTest::newRow("top") << Qt::TopEdge << QList<int> { 0, 1, 2 };
        QTest::newRow("bottom, out of order") << Qt::BottomEdge << QList<int> { 1, 0, 2 };
        QTest::newRow("left, gap") << Qt::LeftEdge << QList<int> { 0, 2 };
        QTest::newRow("right, first tab after a gap") << Qt::RightEdge << QList<int> { 3, 0, 2 };
    }

    void tabsStandOnTheirSideInInsertionOrder()
    {
        QFETCH(Qt::Edge, edge);
        QFETCH(QList<int>, indexes);
        Tabs t(indexes, edge);
        t.tabs.resize(400, 300);
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs));
        const QRect bar = t.tabs.tabsContainer()->geometry();
        const QRect pages = t.tabs.stackedWidget()->geometry();
        const bool horizontal = edge == Qt::TopEdge || edge == Qt::BottomEdge;
        QCOMPARE(t.tabs.tabsLayout()->direction(), horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
        const QRect& first = edge == Qt::TopEdge || edge == Qt::LeftEdge ? bar : pages;
        const QRect& second = &first == &bar ? pages : bar;
        QVERIFY(horizontal ? first.bottom() < second.top() : first.right() < second.left());
        // The buttons stand in insertion order; the first tab made stays current.
        for (int i = 0; i < indexes.size(); ++i)
            QCOMPARE(t.tabs.tabsLayout()->indexOf(t.button(indexes[i])), i);
        QCOMPARE(t.tabs.currentIndex(), indexes.first());
        for (int index : indexes.mid(1) + indexes.mid(0, 1)) {
            clickThroughWindow(t.button(index));
            QCOMPARE(t.tabs.currentIndex(), index);
            QCOMPARE(t.tabs.stackedWidget()->currentWidget(), t.pages[index]);
            QVERIFY(t.pages[index]->isVisible());
            for (int other : indexes)
                QCOMPARE(t.button(other)->isChecked(), other == index);
        }
    }

    void firstPageIsCurrentWithoutSignals()
    {
        KelTabWidget tabs(Qt::TopEdge, -1);
        QSignalSpy changed(&tabs, &KelTabWidget::currentChanged);
        QWidget* first = makePage(QStringLiteral("first"));
        QVERIFY(tabs.insertTab(0, first, nullptr));
        QSignalSpy buttonToggled(tabs.tabButton(0), &KelButton::toggled);
        QVERIFY(tabs.insertTab(1, makePage(QStringLiteral("second")), nullptr));
        QCoreApplication::processEvents();
        QCOMPARE(tabs.stackedWidget()->currentWidget(), first);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(buttonToggled.count(), 0);

        // An index that already has a tab, or no page: nothing is made.
        std::unique_ptr<QWidget> extra(makePage(QStringLiteral("extra")));
        QVERIFY(!tabs.insertTab(1, extra.get(), nullptr));
        QVERIFY(!extra->parent());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No page to add as tab 3"));
        QVERIFY(!tabs.insertTab(3, nullptr, nullptr));
        QCOMPARE(tabs.tabsLayout()->count(), 2);
        QVERIFY(!tabs.tabButton(5));
        tabs.setTabText(5, QStringLiteral("nobody"));
    }

    void switchingTabs()
    {
        Tabs t;
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs));
        QSignalSpy changed(&t.tabs, &KelTabWidget::currentChanged);
        QList<QPair<int, int>> requests;
        bool allow = true;
        connect(&t.tabs, &KelTabWidget::tabToggleRequest, this, [&](int from, int to, bool& accept) {
            requests.append({ from, to });
            accept = allow;
        });
        clickThroughWindow(t.button(2));
        QCOMPARE(t.tabs.currentIndex(), 2);
        QCOMPARE(t.visible(), Flags({ false, false, true }));
        // A click hands the keyboard focus to the pages.
        QCOMPARE(t.tabs.focusWidget(), t.tabs.stackedWidget());
        // The current tab: stays checked, nothing is asked or told.
        clickThroughWindow(t.button(2));
        QCOMPARE(t.checked(), Flags({ false, false, true }));
        QCOMPARE(requests, (QList<QPair<int, int>>({ { 0, 2 } })));

        // A vetoed switch springs back, by click or by index.
        allow = false;
        clickThroughWindow(t.button(1));
        t.tabs.setCurrentIndex(0);
        QCOMPARE(t.tabs.currentIndex(), 2);
        QCOMPARE(t.checked(), Flags({ false, false, true }));
        QCOMPARE(t.visible(), Flags({ false, false, true }));

        // By index: the page shows, the focus stays, the buttons say nothing; out of range is ignored.
        allow = true;
        t.tabs.stackedWidget()->clearFocus();
        QSignalSpy toggled(t.button(1), &KelButton::toggled);
        t.tabs.setCurrentIndex(1);
        t.tabs.setCurrentIndex(-1);
        t.tabs.setCurrentIndex(7);
        QCOMPARE(t.tabs.currentIndex(), 1);
        QCOMPARE(t.checked(), Flags({ false, true, false }));
        QCOMPARE(t.visible(), Flags({ false, true, false }));
        QVERIFY(t.tabs.focusWidget() != t.tabs.stackedWidget());
        QCoreApplication::processEvents();
        QCOMPARE(toggled.count(), 0);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.last().at(0).toInt(), 1);
    }

    void elidesToItsWidth()
    {
        KelLabel label(-1);
        label.setText(kLongText);
        label.setElideMode(Qt::ElideRight);
        label.setContentsMargins(4, 0, 6, 0);
        label.resize(90, 24);
        label.grab();
        QCOMPARE(label.elidedText(), QFontMetrics(label.font()).elidedText(kLongText, Qt::ElideRight, 80, 0));
        // A new text measures again without a resize; rich text is never shortened.
        label.setText(QStringLiteral("ab"));
        label.grab();
        QVERIFY(!label.isElided());
        label.setText(QStringLiteral("<b>bold</b> ") + kLongText);
        label.grab();
        QVERIFY(!label.isElided());
    }

    void minimumSizeHintOfElidingLabels()
    {
        KelLabel label(-1);
        label.setText(QStringLiteral("Hello world"));
        label.setContentsMargins(3, 4, 5, 6);
        QLabel reference;
        reference.setText(label.text());
        reference.setContentsMargins(3, 4, 5, 6);
        QCOMPARE(label.minimumSizeHint(), reference.minimumSizeHint());
        // Eliding: the first character and dots, without waiting for a paint.
        label.setElideMode(Qt::ElideRight);
        const QFontMetrics metrics(label.font());
        QCOMPARE(label.minimumSizeHint(), metrics.size(0, QStringLiteral("H...")) + marginsSize(label));
        label.setText(QString());
        QCOMPARE(label.minimumSizeHint(), metrics.size(0, QStringLiteral("...")) + marginsSize(label));
        // A character outside the basic plane is not cut in half.
        label.setText(QString::fromUtf8("\xF0\x9F\x93\x96 book"));
        QCOMPARE(
            label.minimumSizeHint(), metrics.size(0, QString::fromUtf8("\xF0\x9F\x93\x96...")) + marginsSize(label));
    }

    void autoHeightFollowsTheText()
    {
        KelPlainTextEdit edit(-1);
        edit.setPlainText(lines(1));
        QVERIFY(!edit.hasHeightForWidth());
        edit.setAutoHeight(true);
        QVERIFY(edit.hasHeightForWidth());
        edit.setPaddings(QMargins(6, 5, 6, 7));
        edit.setBorderWidths(QMargins(1, 1, 1, 1));
        const int lineSpacing = QFontMetrics(edit.document()->defaultFont()).lineSpacing();
        const int one = edit.heightForWidth(300);
        QVERIFY(one >= 14 + lineSpacing - 1);
        QVERIFY(one <= 14 + 2 * lineSpacing);
        QCOMPARE(edit.minimumSizeHint().height(), 14 + lineSpacing);
        edit.setPlainText(lines(5));
        QVERIFY(qAbs(edit.heightForWidth(300) - one - 4 * lineSpacing) <= 4);
        // A narrow width wraps the text onto more lines; narrower than the frame, it is measured at 10 pixels.
        edit.setPlainText(kLongText);
        QVERIFY(edit.heightForWidth(80) > edit.heightForWidth(2000));
        QCOMPARE(edit.heightForWidth(5), edit.heightForWidth(14 + 10));

        // Inside a layout the edit grows with its text.
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* grown = new KelPlainTextEdit(-1);
        grown->setAutoHeight(true);
        grown->setPlainText(lines(1));
        layout->addWidget(grown);
        layout->addStretch();
        window.resize(300, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY(grown->height() > 0);
        const int before = grown->height();
        grown->setPlainText(lines(8));
        QTRY_VERIFY(grown->height() > before + 5 * QFontMetrics(grown->font()).lineSpacing());
        QCOMPARE(grown->height(), grown->heightForWidth(grown->width()));
    }

    void editBoxPaintsAndPlacesItsScrollBars()
    {
        KelPlainTextEdit edit(-1);
        edit.setBackgroundColors(KelStateColors(QColor(0, 200, 0)));
        edit.setBorderColors(KelStateColors(QColor(200, 0, 0)));
        edit.setBorderWidths(QMargins(2, 2, 2, 2));
        edit.setPaddings(QMargins(8, 8, 8, 8));
        edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit.setLineWrapMode(QPlainTextEdit::NoWrap);
        edit.setPlainText(lines(40));
        edit.resize(200, 120);
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QWidget* v = edit.verticalScrollBar()->parentWidget();
        QWidget* h = edit.horizontalScrollBar()->parentWidget();
        QTRY_COMPARE(v->geometry(), QRect(200 - 10 - v->width(), 10, v->width(), 120 - 20 - h->height()));
        QCOMPARE(h->geometry(), QRect(10, 120 - 10 - h->height(), 200 - 20 - v->width(), h->height()));
        const QImage image = edit.grab().toImage();
        QCOMPARE(colorAt(image, 1, 60), QColor(200, 0, 0));
        QCOMPARE(colorAt(image, 5, 60), QColor(0, 200, 0));
        // A resize places the bars again.
        edit.resize(260, 150);
        QTRY_COMPARE(v->geometry(), QRect(260 - 10 - v->width(), 10, v->width(), 150 - 20 - h->height()));

        // A typed key holds repaints back until the event loop comes round again.
        QTest::keyClick(&edit, Qt::Key_A);
        QVERIFY(!edit.updatesEnabled());
        QTRY_VERIFY(edit.updatesEnabled());
    }

    void editSetsTextKeepingCursorAndSilence()
    {
        KelPlainTextEdit edit(-1);
        QSignalSpy changed(&edit, &QPlainTextEdit::textChanged);
        edit.setText(QStringLiteral("first text"));
        // The same text again keeps the cursor and says nothing.
        QTextCursor cursor = edit.textCursor();
        cursor.setPosition(3);
        edit.setTextCursor(cursor);
        edit.setText(QStringLiteral("first text"));
        QCOMPARE(edit.textCursor().position(), 3);
        // Silently: the text changes without a signal, and the caller's blocking state is kept.
        edit.setTextSilently(QStringLiteral("second"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(!edit.signalsBlocked());
        edit.blockSignals(true);
        edit.setTextSilently(QStringLiteral("third"));
        QVERIFY(edit.signalsBlocked());
    }

    void shadowAlongEachEdge_data()
    {
        QTest::addColumn<int>("edge");
        QTest::addColumn<int>("placement");
        QTest::addColumn<QRect>("strip"); // beside the target at (60, 60), 300 x 200
        QTest::newRow("top inside") << int(Qt::TopEdge) << 2 << QRect(60, 60, 300, 20);
        QTest::newRow("top outside") << int(Qt::TopEdge) << 1 << QRect(60, 40, 300, 20);
        QTest::newRow("right inside") << int(Qt::RightEdge) << 2 << QRect(340, 60, 20, 200);
        QTest::newRow("right outside") << int(Qt::RightEdge) << 1 << QRect(360, 60, 20, 200);
        QTest::newRow("left inside") << int(Qt::LeftEdge) << 2 << QRect(60, 60, 20, 200);
        QTest::newRow("left outside") << int(Qt::LeftEdge) << 1 << QRect(40, 60, 20, 200);
        QTest::newRow("bottom inside") << int(Qt::BottomEdge) << 2 << QRect(60, 240, 300, 20);
        QTest::newRow("bottom outside") << int(Qt::BottomEdge) << 1 << QRect(60, 260, 300, 20);
    }

    void shadowAlongEachEdge()
    {
        QFETCH(int, edge);
        QFETCH(int, placement);
        std::unique_ptr<QWidget> target(new SolidWidget(QColor(Qt::white), &m_root));
        target->setGeometry(60, 60, 300, 200);
        target->show();
        KelLinearShadowWidget shadow(kShadowType, Qt::Edge(edge), placement, target.get());
        QCOMPARE(shadow.parentWidget(), &m_root);
        QTEST(shadow.geometry(), "strip");
        QVERIFY(shadow.isVisible());
        QVERIFY(shadow.testAttribute(Qt::WA_TransparentForMouseEvents));

        shadow.setShadowColor(QColor(0, 0, 0, 200));
        const QImage image = alone(shadow);
        QCOMPARE(image.size(), shadow.size() * m_ratio);
        // Depth 0 is the side that touches the target's edge, 19 the far side; along the strip the
        // middle is even and the ends fade.
        const bool horizontal = edge == Qt::TopEdge || edge == Qt::BottomEdge;
        const bool depthGrowsWithCoordinate = (placement == 2) == (edge == Qt::TopEdge || edge == Qt::LeftEdge);
        auto sample = [&](double along, double depth) {
            const double across = depthGrowsWithCoordinate ? depth : 19.5 - depth;
            return horizontal ? colorAt(image, along, across).alpha() : colorAt(image, across, along).alpha();
        };
        const double middle = (horizontal ? shadow.width() : shadow.height()) / 2.0;
        const int near = sample(middle, 0.5);
        const int mid = sample(middle, 8.5);
        const int far = sample(middle, 19.5);
        QVERIFY2(near > 40 && near > mid && mid > far && far < 10,
            qPrintable(QStringLiteral("%1 %2 %3").arg(near).arg(mid).arg(far)));
        QVERIFY(qAbs(sample(middle + 80, 0.5) - near) <= 1);
        QVERIFY(sample(0.5, 0.5) < near);
        QVERIFY(sample(2 * middle - 0.5, 0.5) < near);
        // The shadow only darkens: no colour of its own beyond the shadow colour.
        const QColor c = image.pixelColor(int(image.width() / 2), int(image.height() / 2));
        QCOMPARE(c.red() + c.green() + c.blue(), 0);
    }

    void shadowNeedsSizeAndColourAndSharesItsPixmaps()
    {
        KelLinearShadowWidget strip(-1, Qt::TopEdge, 0);
        strip.resize(100, 20);
        QCOMPARE(ink(alone(strip)), 0);
        strip.setShadowSize(20);
        QCOMPARE(ink(alone(strip)), 0);
        strip.setShadowColor(Qt::transparent);
        QCOMPARE(ink(alone(strip)), 0);
        strip.setShadowColor(Qt::black);
        QVERIFY(ink(alone(strip)) > 0);
        // Untracked strips keep their thickness.
        QCOMPARE(strip.maximumHeight(), 20);

        // Strips of one size and colour share one cached pixmap.
        KelPixmapCache* cache = KelUi::instance()->shadowCache();
        const QColor shadowColor(1, 2, 3, 150);
        const QString key = KelLinearShadowWidget::shadowCacheKey(12, shadowColor, m_ratio);
        QVERIFY(!cache->find(key, nullptr));
        const int before = cache->count();
        for (int i = 0; i < 2; ++i) {
            KelLinearShadowWidget shadow(-1, Qt::BottomEdge, 0);
            shadow.resize(80, 12);
            shadow.setShadowSize(12);
            shadow.setShadowColor(shadowColor);
            alone(shadow);
        }
        QCOMPARE(cache->count(), before + 1);
        QVERIFY(cache->find(key, nullptr));

        // A tracking strip without a target is refused and left to its owner.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("needs a target"));
        KelLinearShadowWidget orphan(-1, Qt::TopEdge, 2, nullptr);
        QCOMPARE(orphan.placement(), 0);
    }

    void shadowFollowsTheTargetsGeometryVisibilityAndParent()
    {
        auto* target = new QWidget(&m_root);
        std::unique_ptr<QWidget> owner(target);
        std::unique_ptr<QWidget> sibling(new QWidget(&m_root));
        target->setGeometry(10, 20, 300, 200);
        target->show();
        sibling->show();
        QPointer<KelLinearShadowWidget> shadow = new KelLinearShadowWidget(kShadowType, Qt::TopEdge, 2, target);
        target->setGeometry(40, 50, 200, 100);
        QCOMPARE(shadow->geometry(), QRect(40, 50, 200, 20));
        // Hidden and shown with the target, and kept above what was raised meanwhile.
        target->hide();
        QVERIFY(!shadow->isVisible());
        sibling->raise();
        target->show();
        QVERIFY(shadow->isVisible());
        QCOMPARE(m_root.children().last(), shadow.data());
        // A new parent takes the strip along.
        std::unique_ptr<QWidget> other(new QWidget(&m_root));
        (new QWidget(other.get()))->show();
        other->setGeometry(0, 0, 400, 300);
        other->show();
        target->setParent(other.get());
        target->show();
        QCOMPARE(other->children().last(), shadow.data());
        QVERIFY(shadow->isVisible());

        // Hidden with its parent window before it is shown: appears with it.
        QWidget window;
        auto* hiddenTarget = new QWidget(&window);
        hiddenTarget->setGeometry(0, 0, 100, 100);
        auto* hiddenShadow = new KelLinearShadowWidget(kShadowType, Qt::LeftEdge, 2, hiddenTarget);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(hiddenShadow->isVisible());

        // The strip goes with its target.
        owner.reset();
        QVERIFY(shadow.isNull());
    }

private:
    FrozenAnimationDriver m_driver;
    SolidWidget m_root { QColor(Qt::white) };
    double m_ratio = 1.0;
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    return runKelAppTest<KelApplication, TestKelButton>(argc, argv, QStringLiteral("Kel Button Test"));
}

#include "tst_kelbutton.moc"
