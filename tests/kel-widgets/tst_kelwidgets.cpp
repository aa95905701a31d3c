// The toolkit's widgets at the screen's ratio (1, or 2 in the scaled build) on an animation clock only the test
// moves, driven through their windows; the translator over files compiled by lrelease, and the splash.
#include "../kel-effects/animationclock.h"
#include "../kel-effects/widgetimages.h"
#include "../kel-group/clicktesthelpers.h"
#include "../kel-translations/translationfiles.h"
#include "../kelapp/kelapptest.h"
#include "windowwaits.h"

#include "animators/keldisabledstateanimator.h"
#include "animators/kelgeometryanimator.h"
#include "animators/kelopacityanimator.h"
#include "animators/kelwheelanimator.h"
#include "animators/kelwidgetstateanimator.h"
#include "kelapplication.h"
#include "kelsettings.h"
#include "keltranslator.h"
#include "kelui.h"
#include "painting/kelframepainter.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "painting/kelicon.h"
#include "painting/keliconsprovider.h"
#include "painting/kelpaintcontext.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "testfiles.h"
#include "utils/kelpixmapcache.h"
#include "widgets/kelbutton.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelexclusivebuttongroup.h"
#include "widgets/kelframe.h"
#include "widgets/keliconlabel.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "widgets/kellinearshadowwidget.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelprogressbar.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelscrollbar.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinbox.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/keltabwidget.h"
#include "windows/kelsplash.h"
#include "windows/kelwindow.h"

#include <QBoxLayout>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGraphicsBlurEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Shows the widget and waits until the window system has put it on the screen.
bool shownOnScreen(QWidget* widget)
{
    widget->show();
    return QTest::qWaitForWindowExposed(widget, windowwaits::kTimeoutMs);
}

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
        QVERIFY(shownOnScreen(&panel));
    }
    // Leaves no button held for the next test, also after a release sent past the window.
    ~Scene() { mouse(QEvent::MouseButtonRelease, outside); }
    void mouse(QEvent::Type type, const QPoint& pos) { mouseThroughWindow(&panel, pos, type); }
    // The release as the window would deliver it, without running the event loop.
    void sendRelease()
    {
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(button->rect().center()),
            QPointF(button->mapToGlobal(button->rect().center())), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(button, &release);
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
        QVERIFY(shownOnScreen(&panel));
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

const int kPlainRole = 28;
const int kClearRole = 29;
const int kClearOnEscapeRole = 30;
const int kPasswordUnfocusedRole = 32;

// A shown window holding the field and a second field to take the focus away.
struct EditForm {
    explicit EditForm(int role)
        : edit(new KelLineEdit(role, &window))
        , other(new KelLineEdit(kPlainRole, &window))
    {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        layout->addStretch();
        window.resize(300, 200);
        QVERIFY(shownOnScreen(&window));
    }
    QWidget window;
    KelLineEdit* edit;
    KelLineEdit* other;
};

// Counts the events of one type that reach the object it filters.
class EventCounter : public QObject {
public:
    EventCounter(QObject* watched, QEvent::Type type)
        : type(type)
    {
        watched->installEventFilter(this);
    }
    const QEvent::Type type;
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == type;
        return false;
    }
};

// A shown window with one child to animate, or a horizontal slider 0..100 over 208 pixels.
struct SliderScene {
    SliderScene()
        : child(new QWidget(&window))
        , slider(new KelSlider(Qt::Horizontal, &window))
    {
        window.resize(240, 60);
        child->setGeometry(10, 10, 50, 20);
        slider->setRange(0, 100);
        slider->setGeometry(10, 10, 208, 30);
        QVERIFY(shownOnScreen(&window));
    }
    double opacity() const
    {
        auto* effect = qobject_cast<KelGraphicsOpacityEffect*>(child->graphicsEffect());
        return effect ? effect->opacity() : -1.0;
    }
    int handleX() const { return slider->positionHandle()->geometry().center().x(); }
    QWidget window;
    QWidget* child;
    KelSlider* slider;
};

const int kRowHeight = 50;
const int kRows = 40;

// A column of fixed-height rows, as tall as they are together.
QWidget* makeContent(int rows, QList<QWidget*>* rowWidgets = nullptr)
{
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < rows; ++i) {
        auto* row = new QWidget;
        row->setFixedHeight(kRowHeight);
        layout->addWidget(row);
        if (rowWidgets)
            rowWidgets->append(row);
    }
    return content;
}

// A 200 x 200 area over 2000 pixels of rows, inside a shown window, with the toolkit's vertical bar beside it.
struct Fixture {
    explicit Fixture(int barMode = KelScrollBar::VisibleWhenScrollable)
    {
        window.resize(300, 240);
        area = new KelScrollArea(&window);
        area->setGeometry(10, 20, 200, 200);
        area->setWidget(makeContent(kRows, &rows));
        bar = new KelScrollBar(-1, area, Qt::Vertical, barMode, &window);
        bar->setGeometry(220, 20, 12, 200);
        QVERIFY(shownOnScreen(&window));
        area->wheelAnimator()->setClock([this] { return now; });
    }

    int value() const { return area->verticalScrollBar()->value(); }

    // Shows only the first rows (all with -1) and lets the area lay them out.
    void showRows(int count)
    {
        for (int i = 0; i < rows.size(); ++i)
            rows.at(i)->setVisible(count < 0 || i < count);
        area->updateLayout();
        QCoreApplication::processEvents();
    }

    void wheel(int angle)
    {
        QWheelEvent event(QPointF(10, 10), QPointF(area->viewport()->mapToGlobal(QPoint(10, 10))), QPoint(),
            QPoint(0, angle), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area->viewport(), &event);
    }

    // Ticks the wheel animator on time until its burst is over; the values on the way.
    QList<int> drainWheel()
    {
        QList<int> values;
        for (int ticks = 0; area->wheelAnimator()->isScrolling() && ticks < 1000; ++ticks) {
            now += 8;
            area->wheelAnimator()->tick();
            values << value();
        }
        return values;
    }

    // Whether the strip ends up shown, once its fade is over.
    bool shadowShown(Qt::Edge edge)
    {
        runAnimations(&window);
        KelLinearShadowWidget* shadow = area->edgeShadow(edge);
        return shadow && shadow->isVisible();
    }

    QWidget window;
    KelScrollArea* area = nullptr;
    KelScrollBar* bar = nullptr;
    QList<QWidget*> rows;
    qint64 now = 1000;
};

const QColor kFrameBorder(255, 0, 0);
const QColor kFrameBackground(0, 0, 255);
const int kFrameRole = 1;
const int kDelimiterRole = 5;

QPainterPath ellipsePath(KelFramePainter*, const QRect& rect)
{
    QPainterPath path;
    path.addEllipse(QRectF(rect));
    return path;
}

QPainterPath emptyPath(KelFramePainter*, const QRect&) { return QPainterPath(); }

// A frame over the whole image, drawn with the colours.
QImage drawn(KelFramePainter& painter, const QSize& size, double ratio, const QColor& border = kFrameBorder,
    const QColor& background = kFrameBackground)
{
    QImage image = makeImage(size, ratio);
    painter.setFrameRect(QRect(QPoint(0, 0), size));
    {
        KelPaintContext context(&image);
        painter.drawFrame(context, border, background);
    }
    return image;
}

// Styles frames of role 1 and delimiters of role 5 in its own colour.
class FrameStyle : public KelStyle {
public:
    FrameStyle(const QString& id, const QColor& background)
        : m_id(id)
        , m_background(background)
    {
    }
    QString id() const override { return m_id; }
    void applyFrameStyle(KelFrame* frame, int kind) const override
    {
        if (kind != kFrameRole)
            return;
        frame->setMargins(QMargins(1, 1, 1, 1));
        frame->setBorderWidths(QMargins(2, 2, 2, 2));
        frame->setBorderColors(KelStateColors(QColor(0, 0, 0)));
        frame->setBackgroundColors(KelStateColors(m_background));
    }
    void applyDelimiterStyle(KelDelimiter* delimiter, int kind) const override
    {
        if (kind != kDelimiterRole)
            return;
        delimiter->setColor(m_background);
        delimiter->setThickness(7);
    }

private:
    QString m_id;
    QColor m_background;
};

template <typename Base> class Counting : public Base {
public:
    using Base::Base;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        Base::paintEvent(event);
    }
};

// Paints once shown, then counts the paints that the change brings.
template <typename W> int repaintsAfter(W& widget, const std::function<void()>& change)
{
    if (!shownOnScreen(&widget))
        return -1;
    QTest::qWait(50);
    const int before = widget.paints;
    change();
    QTest::qWait(50);
    return widget.paints - before;
}

const QString kPrefix = QStringLiteral("p");

// Keeps a text of its own class up to date on every language change, as a window would.
class LanguageWatcher : public QWidget {
    Q_OBJECT
public:
    static QString hello() { return tr("Hello"); }
    QString text = hello();

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::LanguageChange)
            text = hello();
        QWidget::changeEvent(event);
    }
};

QString qtCancel() { return QCoreApplication::translate("QPlatformTheme", "Cancel"); }

// A main window as toolkit windows offer it: shown through showAndActivate.
class StubWindow : public KelWindow {
    Q_OBJECT
public:
    StubWindow()
        : KelWindow(KelWindow::WindowParams())
    {
    }

public slots:
    void showAndActivate(bool withParent)
    {
        ++activations;
        lastWithParent = withParent;
        show();
    }

public:
    int activations = 0;
    bool lastWithParent = true;
};

class TestUi : public KelUi {
public:
    using KelUi::KelUi;
    bool makeWindow = true;

protected:
    KelWindow* createMainWindow() override { return makeWindow ? new StubWindow : nullptr; }
};

class TestApp : public KelApplication {
public:
    using KelApplication::KelApplication;
    int languageChanges = 0;
    int splashesDestroyed = 0;

protected:
    KelUi* createUi() override { return new TestUi(this); }
    void onLanguageChanged() override { ++languageChanges; }
    void onSplashDestroyed() override { ++splashesDestroyed; }
};

TestApp* testApp() { return static_cast<TestApp*>(KelApplication::instance()); }

// A fresh UI object, so that each case makes its own main window.
TestUi* freshUi(bool makeWindow)
{
    delete KelUi::instance();
    auto* ui = static_cast<TestUi*>(KelUi::instance());
    ui->makeWindow = makeWindow;
    return ui;
}

// Records every loading text the splash paints, once per change.
class RecordingSplash : public KelSplash {
public:
    using KelSplash::KelSplash;
    QStringList texts;
    static inline int paints = 0;

protected:
    void drawContents(QPainter* painter) override
    {
        ++paints;
        if (texts.isEmpty() || texts.last() != loadingText())
            texts.append(loadingText());
        KelSplash::drawContents(painter);
    }
};

RecordingSplash* makeSplash(int minimumMs, int tickMs, bool showMainWindow, int maxDots = 3)
{
    QPixmap picture(400, 200);
    picture.fill(Qt::black);
    return new RecordingSplash(QRect(), picture, QStringLiteral("1.2.3"), minimumMs, tickMs, 0, maxDots, showMainWindow,
        QPoint(), QPoint(40, 124), Qt::red, QColor(Qt::white));
}

} // namespace

Q_DECLARE_METATYPE(Qt::Edge)

class TestKelWidgets : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    // German, French and an English file without messages for the application, German only for Qt,
    // and an Italian file that is not a translation at all.
    QString m_folder;

    // Files of the given names (contents do not matter for listing) in a fresh folder.
    QString folderWithFiles(const QString& name, const QStringList& files)
    {
        const QString folder = m_dir.filePath(name);
        QDir().mkpath(folder);
        for (const QString& file : files)
            testfiles::write(QDir(folder).filePath(file), QByteArray());
        return folder;
    }

private slots:
    void initTestCase()
    {
        m_driver.install();
        m_ratio = m_root.devicePixelRatioF();
#ifdef KEL_TEST_SCALE_FACTOR
        QCOMPARE(m_ratio, double(KEL_TEST_SCALE_FACTOR));
#endif
        m_root.resize(500, 400);
        QVERIFY(shownOnScreen(&m_root));
        // Frames of role 1 and delimiters of role 5 take their colours from the current style.
        m_settings = std::make_unique<KelSettings>(
            KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        KelApplication::instance()->setSettings(m_settings.get());
        manager()->addStyle(&m_red);
        manager()->addStyle(&m_green);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Red")));
        QCOMPARE(KelTranslator::systemLocaleName(), QStringLiteral("de_AT"));
        m_folder = m_dir.filePath(QStringLiteral("translations"));
        const QString error = compileTranslations(m_folder,
            { { QStringLiteral("p_de.qm"),
                  { { QStringLiteral("LanguageWatcher"), QStringLiteral("Hello"), QStringLiteral("Hallo") } } },
                { QStringLiteral("qt_de.qm"),
                    { { QStringLiteral("QPlatformTheme"), QStringLiteral("Cancel"), QStringLiteral("Abbrechen") } } },
                { QStringLiteral("p_fr.qm"),
                    { { QStringLiteral("LanguageWatcher"), QStringLiteral("Hello"), QStringLiteral("Bonjour") } } },
                { QStringLiteral("p_en.qm"), {} } });
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(testfiles::write(QDir(m_folder).filePath(QStringLiteral("p_it.qm")), "not a translation"));
    }
    void cleanupTestCase()
    {
        m_driver.uninstall();
        KelApplication::instance()->setSettings(nullptr);
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

        // The icon label measures the same way, and again after a longer text or a bigger font.
        KelIconLabel label(-1);
        label.setIcon(solidIcon("test-green-16", QSize(16, 16), kIconColor));
        label.setSpacing(8);
        label.setFont(14, QFont::Bold);
        label.setText(QStringLiteral("WWW"));
        const QSize www = QFontMetrics(label.font()).size(0, QStringLiteral("WWW"));
        QCOMPARE(label.sizeHint(), QSize(16 + 8 + www.width(), qMax(16, www.height())));
        label.setText(QStringLiteral("WWW and WWW"));
        const QSize longer = QFontMetrics(label.font()).size(0, QStringLiteral("WWW and WWW"));
        QCOMPARE(label.sizeHint().width(), 16 + 8 + longer.width());
        QFont big = label.font();
        big.setPixelSize(28);
        label.QWidget::setFont(big);
        QVERIFY(label.sizeHint().width() > 16 + 8 + longer.width());
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

    // Mouse steps through the window on a button set up as the row says ("block": a modal window blocks it).
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
            if (step == "block") {
                QEvent blocked(QEvent::WindowBlocked);
                QCoreApplication::sendEvent(b, &blocked);
            } else if (step.startsWith("move")) {
                scene.mouse(QEvent::MouseMove, at);
            } else {
                scene.mouse(step.startsWith("press") ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, at);
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
            before.mouse(QEvent::MouseButtonPress, before.inside);
            before.sendRelease();
            delete before.button.data();
            QCoreApplication::processEvents();
        }
        QCOMPARE(clicks, 0);

        Scene scene;
        QSignalSpy leaved(scene.button.data(), &KelButton::leaved);
        scene.mouse(QEvent::MouseMove, scene.inside);
        QVERIFY(scene.button->isHovered());
        scene.button->hide();
        QVERIFY(!scene.button->isHovered());
        QCOMPARE(leaved.count(), 1);
        scene.button->show();
        scene.mouse(QEvent::MouseMove, scene.outside);
        connect(scene.button.data(), &KelButton::clicked, scene.button.data(), [&scene]() { delete scene.button; });
        clickThroughWindow(scene.button);
        QVERIFY(scene.button.isNull());
    }

    void progressStates_data()
    {
        QTest::addColumn<QList<int>>("states");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::newRow("busy") << QList<int> { 1 } << 0 << 0;
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

    void spinBoxKeysAndArrows()
    {
        SpinForm form;
        QVERIFY(QTest::qWaitForWindowActive(&form.window, windowwaits::kTimeoutMs));
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

        // The arrows step the value by click, up to the bounds.
        KelSpinBox* spin = form.first;
        QSignalSpy pressed(spin, &KelSpinBox::buttonPressed);
        QSignalSpy released(spin, &KelSpinBox::buttonReleased);
        const QPoint up = subControl(spin, QStyle::SC_SpinBoxUp).center();
        const QPoint down = subControl(spin, QStyle::SC_SpinBoxDown).center();
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
        QCOMPARE(spin->value(), 42);
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
        QTest::newRow("unknown value or none refused") << "set a, set zzz, none"
                                                       << "a"
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
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs, windowwaits::kTimeoutMs));
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
        QVERIFY(QTest::qWaitForWindowExposed(&t.tabs, windowwaits::kTimeoutMs));
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

    void elidingLabels()
    {
        KelLabel label(-1);
        label.setText(QStringLiteral("Hello world"));
        label.setContentsMargins(3, 4, 5, 6);
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
        // Painted, the text is cut to the width; a new one is measured again; rich text is never shortened.
        label.setText(kLongText);
        label.resize(88, 24);
        label.grab();
        QCOMPARE(label.elidedText(), metrics.elidedText(kLongText, Qt::ElideRight, 80, 0));
        label.setText(QStringLiteral("ab"));
        label.grab();
        QVERIFY(!label.isElided());
        label.setText(QStringLiteral("<b>bold</b> ") + kLongText);
        label.grab();
        QVERIFY(!label.isElided());
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
        QVERIFY(shownOnScreen(&window));
        QTRY_VERIFY(grown->height() > 0);
        const int before = grown->height();
        grown->setPlainText(lines(8));
        QTRY_VERIFY(grown->height() > before + 5 * QFontMetrics(grown->font()).lineSpacing());
        QCOMPARE(grown->height(), grown->heightForWidth(grown->width()));
    }

    void editBoxPaintsPlacesItsScrollBarsAndSetsText()
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
        QVERIFY(shownOnScreen(&edit));
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

    void shadowStrips()
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

        // A tracking strip follows its target's geometry, visibility and parent.
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
        QVERIFY(shownOnScreen(&window));
        QVERIFY(hiddenShadow->isVisible());

        // The strip goes with its target.
        owner.reset();
        QVERIFY(shadow.isNull());
    }

    void clearButtonFollowsTheText()
    {
        EditForm form(kClearRole);
        KelLineEdit* edit = form.edit;
        KelButton* button = edit->clearButton();
        QVERIFY(!button->isVisible());
        const int emptyRight = edit->textMargins().right();
        edit->setFocus();
        QTest::keyClicks(edit, "ab");
        QVERIFY(button->isVisible());
        QCOMPARE(edit->textMargins().right(), emptyRight + button->width() + edit->sideWidgetSpacing());
        // The button sits inside the box at the right edge.
        QCOMPARE(button->geometry().right(), edit->width() - (edit->margins() + edit->borderWidths()).right() - 1);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QVERIFY(!button->isVisible());
        QCOMPARE(edit->textMargins().right(), emptyRight);

        QTest::keyClicks(edit, "hello");
        QSignalSpy edited(edit, &QLineEdit::textEdited);
        clickThroughWindow(button);
        QTRY_VERIFY(edit->text().isEmpty());
        QCOMPARE(edited.count(), 1);
        // Made once only; a silent text shows it too.
        edit->addClearButton(true);
        QCOMPARE(edit->findChildren<KelButton*>().size(), 1);
        edit->setTextSilently(QStringLiteral("quiet"));
        QVERIFY(button->isVisible());
    }

    void escapeClearsOnlyWhenAsked_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<bool>("clears");
        QTest::newRow("clear on escape") << kClearOnEscapeRole << true;
        QTest::newRow("clear button only") << kClearRole << false;
        QTest::newRow("no clear button") << kPlainRole << false;
    }

    void escapeClearsOnlyWhenAsked()
    {
        QFETCH(int, role);
        QFETCH(bool, clears);
        EditForm form(role);
        EventCounter escapes(&form.window, QEvent::KeyPress); // the keys the field passes on
        form.edit->setFocus();
        QTest::keyClicks(form.edit, "text");
        QSignalSpy cancelled(form.edit, &KelLineEdit::cancelPressed);
        QSignalSpy edited(form.edit, &QLineEdit::textEdited);
        QTest::keyClick(form.edit, Qt::Key_Escape);
        QCOMPARE(form.edit->text().isEmpty(), clears);
        QCOMPARE(edited.count(), clears ? 1 : 0);
        QCOMPARE(escapes.count, clears ? 0 : 1);
        // On an empty field Escape always goes on to the parent.
        form.edit->clear();
        QTest::keyClick(form.edit, Qt::Key_Escape);
        QCOMPARE(cancelled.count(), clears ? 1 : 0);
        QCOMPARE(escapes.count, clears ? 1 : 2);
    }

    void passwordWhileUnfocusedAndErrorLabel()
    {
        EditForm form(kPasswordUnfocusedRole);
        KelLineEdit* edit = form.edit;
        form.window.activateWindow();
        form.other->setFocus();
        QTRY_VERIFY(form.other->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        QTest::keyClicks(edit, "secret");
        form.other->setFocus();
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QCOMPARE(edit->text(), QStringLiteral("secret"));
        // Off: the mode stays where it was.
        edit->setPasswordWhenUnfocused(false);
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->echoMode(), QLineEdit::Password);

        // An error shows in a label under the field.
        edit->showError(QStringLiteral("Wrong password!"));
        KelLabel* label = edit->errorLabel();
        QCOMPARE(label->parentWidget(), &form.window);
        QVERIFY(label->isVisible());
        QCOMPARE(label->text(), QStringLiteral("Wrong password!"));
        QCOMPARE(label->palette().color(label->foregroundRole()), kelStyle()->color(KelStyle::CL_Text_Error));
        // The layout moves the field: the label follows.
        form.window.layout()->setContentsMargins(20, 40, 20, 20);
        QTRY_COMPARE(edit->pos(), QPoint(20, 40));
        QCOMPARE(label->pos(), QPoint(edit->x(), edit->y() + edit->height()));
        QCOMPARE(label->width(), edit->width());
        edit->hideError();
        QVERIFY(!label->isVisible());
        // A new parent takes the label along; the label goes with the field, not with the parent.
        QWidget other;
        edit->setParent(&other);
        QCOMPARE(label->parentWidget(), &other);
        const QPointer<KelLabel> guard(label);
        delete edit;
        QVERIFY(!guard);
    }

    void geometryAndOpacityAnimators()
    {
        SliderScene scene;
        auto* animator = new KelGeometryAnimator(scene.child);
        QSignalSpy finished(animator, &KelAbstractAnimator::finished);
        const QRect target(110, 60, 80, 40);
        animator->animateGeometry(target, true, 200);
        QCOMPARE(scene.child->geometry(), QRect(10, 10, 50, 20));
        advanceAnimations(animator, 100);
        QVERIFY(scene.child->x() > 10 && scene.child->x() < 110);
        QVERIFY(scene.child->width() > 50 && scene.child->width() < 80);
        advanceAnimations(animator, 100);
        QCOMPARE(scene.child->geometry(), target);
        QCOMPARE(finished.count(), 1);
        // The same target again starts nothing; without animation, or hidden, it is applied at once.
        animator->animateGeometry(target, true, 200);
        QVERIFY(!animator->isRunning());
        animator->animateGeometry(QRect(0, 0, 30, 30), false, 200);
        QCOMPARE(scene.child->geometry(), QRect(0, 0, 30, 30));
        // Waiting for the end: in real time, the call runs the event loop until then.
        m_driver.uninstall();
        animator->animateGeometry(QRect(100, 100, 50, 20), true, 60, true);
        m_driver.install();
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->geometry(), QRect(100, 100, 50, 20));
        scene.child->hide();
        animator->animateGeometry(QRect(5, 5, 10, 10), true, 300);
        QVERIFY(!animator->isRunning());
        QCOMPARE(scene.child->geometry(), QRect(5, 5, 10, 10));
        // A fixed size policy gets fixed sizes.
        scene.child->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        animator->animateGeometry(QRect(20, 30, 70, 25), false, 0);
        QCOMPARE(scene.child->minimumWidth(), 70);
        QCOMPARE(scene.child->maximumWidth(), 70);
        QCOMPARE(scene.child->minimumHeight(), 0);

        // The opacity animator retargets with the remaining time.
        scene.child->show();
        auto* fader = new KelOpacityAnimator(scene.child);
        fader->animateOpacity(0.5, true, 300);
        QCOMPARE(scene.opacity(), 1.0);
        advanceAnimations(fader, 100);
        const double reached = scene.opacity();
        QVERIFY(reached < 1.0 && reached > 0.5);
        fader->animateOpacity(0.2, true, 300);
        QCOMPARE(fader->animation()->duration(), 200);
        QCOMPARE(fader->animation()->startValue().toDouble(), reached);
        advanceAnimations(fader, 199);
        QVERIFY(fader->isRunning());
        advanceAnimations(fader, 1);
        QVERIFY(!fader->isRunning());
        QCOMPARE(scene.opacity(), 0.2);
        // A request for the present value stops a running fade where it stands.
        fader->animateOpacity(0.8, true, 300);
        advanceAnimations(fader, 150);
        const double middle = scene.opacity();
        fader->animateOpacity(middle, true, 300);
        QVERIFY(!fader->isRunning());
        QCOMPARE(scene.opacity(), middle);
        // Fading out ends hidden; hidden, a fade in is applied at once and does not show the widget.
        fader->animateOpacity(0.0, true, 100);
        runAnimations(fader);
        QVERIFY(scene.child->isHidden());
        fader->animateOpacity(1.0, true, 300);
        QVERIFY(!fader->isRunning());
        QCOMPARE(scene.opacity(), 1.0);
        QVERIFY(scene.child->isHidden());

        // A foreign effect is left alone.
        auto* blurred = new QWidget(&scene.window);
        blurred->show();
        auto* blur = new QGraphicsBlurEffect;
        blurred->setGraphicsEffect(blur);
        auto* foreign = new KelOpacityAnimator(blurred);
        foreign->animateOpacity(0.4, true, 300);
        QVERIFY(!foreign->isRunning());
        QCOMPARE(blurred->graphicsEffect(), blur);
        QVERIFY(blurred->isVisible());
    }

    // Steps on a slider 0..100 whose handle runs from x 4 to 204: the mouse at x (y 15), keys, values set by
    // code (the handle glides until "settle"), settings; then the value, the handle's x (-1: not checked),
    // whether it is held, and how often the value changed.
    void sliderInput_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("handle");
        QTest::addColumn<bool>("down");
        QTest::addColumn<int>("changes");
        QTest::newRow("keys wait while held") << "press 104, move 144, key right" << 70 << 144 << true << 2;
        QTest::newRow("keys after the release") << "press 104, release 104, key right" << 51 << -1 << false << 2;
        QTest::newRow("click on the value") << "press 10, release 10, press 10, release 10" << 3 << 10 << false << 1;
        QTest::newRow("handle dragged") << "value 20, settle, press 44, move 84" << 40 << 84 << true << 2;
        QTest::newRow("set value glides") << "value 50" << 50 << 4 << false << 1;
        QTest::newRow("hidden handle at once") << "hide handle, value 50" << 50 << 104 << false << 1;
        QTest::newRow("silently") << "silent 10" << 10 << -1 << false << 0;
        QTest::newRow("right button") << "right 104" << 0 << 4 << false << 0;
        QTest::newRow("disabled") << "disable, press 104" << 0 << 4 << false << 0;
        QTest::newRow("empty range") << "range, press 104" << 5 << -1 << false << 1;
        QTest::newRow("no tracking, held") << "no tracking, press 104" << 0 << 104 << true << 0;
        QTest::newRow("no tracking, released") << "no tracking, press 104, release 104" << 50 << 104 << false << 1;
        QTest::newRow("no tracking, click mode 1") << "no tracking, mode 1, press 154" << 75 << 154 << false << 1;
    }

    void sliderInput()
    {
        QFETCH(QString, steps);
        QFETCH(int, handle);
        SliderScene scene;
        KelSlider* slider = scene.slider;
        QSignalSpy changed(slider, &QAbstractSlider::valueChanged);
        for (const QString& step : steps.split(", ")) {
            const QPoint at(step.section(' ', -1).toInt(), 15);
            if (step.startsWith("press")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonPress);
            } else if (step.startsWith("move")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseMove);
            } else if (step.startsWith("release")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonRelease);
            } else if (step.startsWith("right")) {
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonPress, Qt::RightButton);
                mouseThroughWindow(scene.slider, at, QEvent::MouseButtonRelease, Qt::RightButton);
            } else if (step.startsWith("key")) {
                QTest::keyClick(slider, Qt::Key_Right);
            } else if (step.startsWith("value")) {
                slider->setValue(at.x());
            } else if (step.startsWith("silent")) {
                slider->setValueSilently(at.x());
            } else if (step == "settle") {
                runAnimations(slider->positionHandle());
            } else if (step == "hide handle") {
                slider->positionHandle()->hide();
            } else if (step == "disable") {
                slider->setEnabled(false);
            } else if (step == "no tracking") {
                slider->setTracking(false);
            } else if (step == "mode 1") {
                slider->setClickMode(1);
            } else {
                slider->setRange(5, 5);
            }
        }
        QTEST(slider->value(), "value");
        if (handle >= 0)
            QCOMPARE(scene.handleX(), handle);
        QTEST(slider->isSliderDown(), "down");
        QTEST(int(changed.count()), "changes");
        if (slider->isSliderDown())
            mouseThroughWindow(scene.slider, QPoint(0, 15), QEvent::MouseButtonRelease);
    }

    void sliderMarkersAndFilledPart()
    {
        SliderScene scene;
        KelSlider* slider = scene.slider;
        // Unstyled: neither the groove nor the filled part paints black.
        KelSlider plain(-1, Qt::Horizontal, &scene.window);
        plain.setGeometry(slider->geometry());
        plain.setValue(plain.maximum() / 2);
        const QImage unstyled = plain.grab().toImage();
        for (int y = 0; y < unstyled.height(); ++y)
            for (int x = 0; x < unstyled.width(); ++x)
                QVERIFY(unstyled.pixelColor(x, y) != QColor(Qt::black));
        slider->setGrooveColors(Qt::red, Qt::blue);
        slider->setGrooveThickness(4, 0);
        // Centre marker: at the minimum the filled part runs from the centre to the handle.
        slider->setMarkerPosition(1);
        slider->setMarkerSize(QSize(2, 12), 0);
        slider->setMarkerColor(Qt::green);
        QImage image = slider->grab().toImage();
        const double r = image.devicePixelRatioF();
        auto at = [&](int x, int y) { return image.pixelColor(int(x * r), int(y * r)); };
        QCOMPARE(at(50, 15), QColor(Qt::blue));
        QCOMPARE(at(180, 15), QColor(Qt::red));
        QCOMPARE(at(104, 10), QColor(Qt::green));
        // Five ticks from handle centre to handle centre.
        slider->setMarkerPosition(5);
        slider->setValueSilently(100);
        runAnimations(slider);
        image = slider->grab().toImage();
        for (int x : { 4, 54, 104, 154, 203 })
            QCOMPARE(at(x, 10), QColor(Qt::green));
        QVERIFY(at(80, 10) != QColor(Qt::green));
        QCOMPARE(at(80, 15), QColor(Qt::blue));

        // Following the mouse, with the value under it in the tooltip (made on first use, shown on hover).
        slider->setMarkerPosition(-2);
        QCOMPARE(slider->hoverPosition(), -1);
        slider->setTooltipTextFunction(
            [](int value, QString& text, QString&) { text = QStringLiteral("p%1").arg(value); });
        KelButton* tip = slider->tooltip();
        mouseThroughWindow(scene.slider, QPoint(100, 15), QEvent::MouseMove);
        QTRY_COMPARE(slider->hoverPosition(), 100);
        QTRY_VERIFY(tip->isVisible());
        QCOMPARE(tip->text(), QStringLiteral("p48"));
        QCOMPARE(KelSlider::fromSubcontrol(tip), slider);
    }

    void animatedScrollGlidesToThePosition()
    {
        Fixture f;
        f.area->scrollToPosition(QPoint(0, 1000), true);
        // Nothing moves before the clock does.
        QCOMPARE(f.value(), 0);
        advanceAnimations(f.area, 30);
        QVERIFY(f.value() > 0 && f.value() < 1000);
        runAnimations(f.area);
        QCOMPARE(f.value(), 1000);

        // Targets are clamped to the range; retargeted halfway there is no jump back to the old start.
        f.area->scrollToPosition(QPoint(0, 5000), true);
        runAnimations(f.area);
        QCOMPARE(f.value(), f.area->verticalScrollBar()->maximum());
        f.area->scrollToPosition(QPoint(0, 100), true);
        advanceAnimations(f.area, 150);
        const int halfway = f.value();
        QVERIFY(halfway > 100 && halfway < 1800);
        f.area->scrollToPosition(QPoint(0, 0), true);
        QCOMPARE(f.value(), halfway);
        runAnimations(f.area);
        QCOMPARE(f.value(), 0);

        // The user drags the toolkit bar, or a move without animation comes: the glide stops there.
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 60);
        f.bar->setValue(120);
        QVERIFY(!f.area->isScrollAnimating());
        runAnimations(f.area);
        QCOMPARE(f.value(), 120);
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 60);
        f.area->scrollToPosition(QPoint(0, 300), false);
        runAnimations(f.area);
        QCOMPARE(f.value(), 300);

        // A row below the view: its bottom lands on the viewport's bottom; strangers are refused.
        f.area->scrollTo(f.rows.at(10), false);
        QCOMPARE(f.value(), 11 * kRowHeight - 200);
        f.area->scrollTo(f.rows.at(2), true);
        runAnimations(f.area);
        QCOMPARE(f.value(), 2 * kRowHeight);
        QWidget stranger(&f.window);
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("Trying to scroll to .* which is not ancestor of scroll area"));
        f.area->scrollTo(&stranger, true);
        f.area->scrollTo(nullptr, false);
        QVERIFY(!f.area->isScrollAnimating());
        QCOMPARE(f.value(), 2 * kRowHeight);

        // The wheel is replayed in steps by the area's animator, bar and all; a glide under way yields to it.
        f.wheel(-120);
        QCOMPARE(f.value(), 2 * kRowHeight);
        QVERIFY(f.drainWheel().size() > 10);
        QVERIFY(f.value() > 2 * kRowHeight);
        QCOMPARE(f.bar->value(), f.value());
        f.area->scrollToPosition(QPoint(0, 1500), true);
        advanceAnimations(f.area, 30);
        f.wheel(120);
        f.drainWheel();
        QVERIFY(!f.area->isScrollAnimating());
        QVERIFY(f.value() < 1500);
    }

    void ensureRectVisible_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<int>("marginAbove");
        QTest::addColumn<int>("marginBelow");
        QTest::addColumn<int>("expected");
        // The viewport is 200 pixels high.
        QTest::newRow("inside with margins") << 100 << QRect(0, 150, 50, 100) << 40 << 40 << 100;
        QTest::newRow("margin pokes out below") << 100 << QRect(0, 150, 50, 100) << 0 << 60 << 110;
        QTest::newRow("below: bottom aligned") << 0 << QRect(0, 1000, 50, 40) << 0 << 0 << 840;
        QTest::newRow("taller than the viewport: top") << 0 << QRect(0, 1000, 50, 500) << 0 << 0 << 1000;
        QTest::newRow("above with margin") << 1000 << QRect(0, 400, 50, 40) << 16 << 0 << 384;
    }

    void ensureRectVisible()
    {
        QFETCH(int, start);
        QFETCH(QRect, rect);
        QFETCH(int, marginAbove);
        QFETCH(int, marginBelow);
        QFETCH(int, expected);
        for (const bool animated : { false, true }) {
            Fixture f;
            f.area->verticalScrollBar()->setValue(start);
            f.area->setEnsureVisibleMargins(QMargins(0, marginAbove, 0, marginBelow));
            f.area->ensureRectVisible(rect, animated);
            QCOMPARE(f.area->isScrollAnimating(), animated && expected != start);
            runAnimations(f.area);
            QCOMPARE(f.value(), expected);
        }
    }

    void toolkitScrollBarMirrorsAndDrives()
    {
        Fixture f;
        QScrollBar* own = f.area->verticalScrollBar();
        QVERIFY(!own->isVisible());
        QCOMPARE(f.bar->pageStep(), own->pageStep());
        // The viewport has the whole width now that the area's own bar is off.
        QCOMPARE(f.area->viewport()->width(), 200);
        f.bar->setValue(f.bar->maximum());
        QCOMPARE(f.area->widget()->y(), -own->maximum());
        // Attached late to a scrolled area, a bar starts where the area stands.
        KelScrollBar late(-1, Qt::Horizontal, KelScrollBar::NoSpecialVisibility);
        late.attachTo(f.area, Qt::Vertical);
        QCOMPARE(late.value(), own->maximum());
        f.area->resize(180, 150);
        QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 150);

        // Content that shrinks to fit: the bar has nothing to scroll and hides; it comes back with the rows.
        QSignalSpy available(f.bar, &KelScrollBar::scrollAvailableChanged);
        f.showRows(3);
        QVERIFY(!f.bar->isVisible());
        QCOMPARE(available.last().at(0).toBool(), false);
        f.showRows(-1);
        QCOMPARE(f.bar->maximum(), kRows * kRowHeight - 150);
        QVERIFY(f.bar->isVisible());
    }

    void scrollBarPaintsNothingWithNothingToScroll_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("painted");
        QTest::newRow("transparent, fits") << int(KelScrollBar::TransparentWhenNotScrollable) << 3 << false;
        QTest::newRow("transparent, scrolls") << int(KelScrollBar::TransparentWhenNotScrollable) << kRows << true;
        QTest::newRow("plain, fits") << int(KelScrollBar::NoSpecialVisibility) << 3 << true;
    }

    void scrollBarPaintsNothingWithNothingToScroll()
    {
        QFETCH(int, mode);
        QFETCH(int, rows);
        Fixture f(mode);
        f.showRows(rows);
        QVERIFY(f.bar->isVisible());
        // Over a magenta window what the bar leaves unpainted shows.
        f.window.setAutoFillBackground(true);
        f.window.setPalette(QPalette(QColor(255, 0, 255)));
        const QImage image = f.window.grab().toImage();
        const QRect bar = QRectF(
            f.bar->geometry().topLeft() * image.devicePixelRatioF(), QSizeF(f.bar->size()) * image.devicePixelRatioF())
                              .toRect();
        bool untouched = true;
        for (int y = bar.top(); y <= bar.bottom(); ++y)
            for (int x = bar.left(); x <= bar.right(); ++x)
                untouched = untouched && image.pixelColor(x, y) == QColor(255, 0, 255);
        QTEST(!untouched, "painted");
    }

    void edgeShadowsTrackTheScroll()
    {
        Fixture f;
        f.area->setEdgeShadows(Qt::TopEdge | Qt::BottomEdge, kShadowType, true);
        QVERIFY(!f.area->edgeShadow(Qt::LeftEdge));
        QCOMPARE(f.area->edgeShadow(Qt::BottomEdge)->geometry().bottom(), f.area->geometry().bottom());
        // At the top only the bottom one, in the middle both, at the end (a glide counts too) only the top one.
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        f.bar->setValue(900);
        QVERIFY(f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        f.area->scrollToPosition(QPoint(0, 100000), true);
        QVERIFY(f.shadowShown(Qt::TopEdge));
        QVERIFY(!f.shadowShown(Qt::BottomEdge));
        // Scrolling while hidden leaves the strips hidden with their area; shown again they match.
        f.area->hide();
        f.bar->setValue(0);
        QVERIFY(!f.shadowShown(Qt::BottomEdge));
        f.area->show();
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(f.shadowShown(Qt::BottomEdge));
        // Content that fits: none.
        f.showRows(2);
        QVERIFY(!f.shadowShown(Qt::TopEdge));
        QVERIFY(!f.shadowShown(Qt::BottomEdge));

        // Untracked strips stay as made; the old ones are gone, and the new ones go with their area.
        QPointer<KelLinearShadowWidget> old = f.area->edgeShadow(Qt::TopEdge);
        f.area->setEdgeShadows(Qt::LeftEdge | Qt::RightEdge, kShadowType, false);
        QVERIFY(!old);
        QVERIFY(f.shadowShown(Qt::LeftEdge));
        QPointer<KelLinearShadowWidget> right = f.area->edgeShadow(Qt::RightEdge);
        delete f.area;
        QVERIFY(!right);
    }

    void autoSizeFollowsTheContent()
    {
        QWidget window;
        auto* area = new KelScrollArea(&window);
        area->setWidget(makeContent(10));
        area->setAutoSizeEnabled(true);
        QCOMPARE(area->sizeHint().height(), 500);
        QCOMPARE(area->minimumSizeHint().height(), 32);

        // A content widget set later is followed: its resize asks the window's layout to look again.
        QVERIFY(shownOnScreen(&window));
        auto* other = makeContent(2);
        area->setWidget(other);
        QCOMPARE(area->sizeHint().height(), 100);
        QCoreApplication::processEvents();
        EventCounter requests(&window, QEvent::LayoutRequest);
        other->resize(100, 300);
        QCoreApplication::processEvents();
        QVERIFY(requests.count > 0);

        area->setAutoSizeEnabled(false);
        QCOMPARE(area->sizeHint(), area->QScrollArea::sizeHint());
    }

    void framePainterAtEachRatio_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("150%") << 1.5;
        QTest::newRow("200%") << 2.0;
    }
    // Borders of different widths on whole device pixels, rounded corners, translucent borders over or beside.
    void framePainterAtEachRatio()
    {
        QFETCH(double, ratio);
        const int margin = qRound(2 * ratio), bar = qRound(ratio);
        const int right = qRound(22 * ratio), bottom = qRound(16 * ratio);
        const QRect box(margin, margin, right - margin, bottom - margin);
        KelFramePainter painter(nullptr);
        painter.setMargins(QMargins(2, 2, 2, 2));
        painter.setBorderWidths(QMargins(0, 1, 0, 1));
        QImage image = drawn(painter, QSize(24, 18), ratio, kFrameBorder, Qt::transparent);
        QCOMPARE(inkInside(image, image.rect()), 2 * bar * box.width());
        QCOMPARE(inkInside(image, QRect(box.left(), bottom - bar, box.width(), bar)), bar * box.width());
        // A background below bars of two widths fills the whole box when the pen overlaps it.
        painter.setBorderWidths(QMargins(1, 2, 1, 2));
        image = drawn(painter, QSize(24, 18), ratio);
        QCOMPARE(image.pixelColor(box.center().x(), margin + qRound(2 * ratio) - 1), kFrameBorder);
        QCOMPARE(image.pixelColor(box.center().x(), margin + qRound(2 * ratio)), kFrameBackground);
        QCOMPARE(inkInside(image, box), box.width() * box.height());
        // Nothing wanted: nothing painted.
        QCOMPARE(inkInside(drawn(painter, QSize(10, 10), ratio, QColor(), Qt::transparent), QRect(0, 0, 99, 99)), 0);
        painter.setMargins(QMargins());
        painter.setBorderWidths(QMargins(1, 1, 1, 1));
        painter.setRadii(KelRadii(6));
        image = drawn(painter, QSize(30, 20), ratio);
        const int w = image.width(), h = image.height();
        for (const QPoint& corner : { QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1) })
            QCOMPARE(image.pixelColor(corner).alpha(), 0);
        QCOMPARE(image.pixelColor(w / 2, 0), kFrameBorder);
        QCOMPARE(image.pixelColor(w / 2, h / 2), kFrameBackground);
        // A translucent border lies over the background, or beside it when it must not overlap.
        const QColor translucent(255, 0, 0, 128);
        for (bool uniform : { true, false }) {
            KelFramePainter layered(nullptr);
            layered.setBorderWidths(uniform ? QMargins(2, 2, 2, 2) : QMargins(2, 2, 2, 3));
            const QImage over = drawn(layered, QSize(20, 20), ratio, translucent, kFrameBackground);
            QCOMPARE(colorAt(over, 0, 10).alpha(), 255);
            QVERIFY(colorAt(over, 0, 10).blue() > 100);
            layered.setPenOverlapping(KelPainting::NotOverlapping);
            const QImage beside = drawn(layered, QSize(20, 20), ratio, translucent, kFrameBackground);
            QCOMPARE(colorAt(beside, 0, 10).blue(), 0);
            QVERIFY(qAbs(colorAt(beside, 0, 10).alpha() - 128) <= 1);
            QCOMPARE(colorAt(beside, 10, 10), kFrameBackground);
        }
    }

    void aCustomPathIsPaintedAndMasksTheWidget()
    {
        auto* widget = new QWidget;
        widget->resize(30, 30);
        KelFramePainter painter(widget);
        painter.setCustomPathFunction(ellipsePath);
        const QImage image = drawn(painter, QSize(30, 30), 1.0, QColor(), kFrameBackground);
        QCOMPARE(image.pixelColor(15, 15), kFrameBackground);
        QCOMPARE(image.pixelColor(1, 1).alpha(), 0);
        QVERIFY(widget->mask().contains(QPoint(15, 15)));
        QVERIFY(!widget->mask().contains(QPoint(1, 1)));
        // A path that became empty takes the mask away; the box is painted again.
        painter.setCustomPathFunction(emptyPath);
        QCOMPARE(drawn(painter, QSize(30, 30), 1.0, QColor(), kFrameBackground).pixelColor(1, 1), kFrameBackground);
        QVERIFY(widget->mask().isEmpty());
        // The widget is guarded: the hooks find none to update once it is gone.
        delete widget;
        QVERIFY(!painter.widget());
        painter.setMargins(QMargins(1, 1, 1, 1));
        QCOMPARE(painter.sizeHint(), QSize(2, 2));
    }

    void frameWidgetsBoxModelAndStyle()
    {
        KelFrame frame(kFrameRole);
        frame.setPaddings(QMargins(4, 5, 6, 7));
        frame.resize(60, 40);
        QVERIFY(shownOnScreen(&frame));
        frame.ensureGeometryIsValid();
        QCOMPARE(frame.contentsRect(), QRect(7, 8, 60 - 7 - 9, 40 - 8 - 10));
        // Margin 1 and border 2 land on whole device pixels, the state colours follow the widget.
        const double ratio = frame.devicePixelRatioF();
        const int margin = qRound(ratio), border = qRound(2 * ratio);
        const QImage image = alone(frame);
        const int y = image.height() / 2;
        QCOMPARE(image.pixelColor(margin - 1, y).alpha(), 0);
        QCOMPARE(image.pixelColor(margin, y), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(margin + border - 1, y), QColor(0, 0, 0));
        QCOMPARE(image.pixelColor(margin + border, y), QColor(255, 0, 0));
        QCOMPARE(inkOutside(image, image.rect().adjusted(margin, margin, -margin, -margin)), 0);
        KelStateColors background(QColor(255, 0, 0));
        background.unchecked.disabled = QColor(50, 50, 50);
        frame.setBackgroundColors(background);
        frame.hide(); // hidden, so the disabled state comes unanimated
        frame.setEnabled(false);
        QCOMPARE(colorAt(alone(frame), 30, 20), QColor(50, 50, 50));
        // Frames and delimiters with a role are styled when made, or when asked, and again on a switch.
        KelFrame styled(kFrameRole);
        QCOMPARE(styled.backgroundColors(), KelStateColors(QColor(255, 0, 0)));
        KelFrame deferred(kFrameRole, nullptr, true);
        QCOMPARE(deferred.backgroundColors(), KelStateColors());
        deferred.applyStyle();
        QCOMPARE(deferred.backgroundColors(), KelStateColors(QColor(255, 0, 0)));
        KelFrame plain;
        KelDelimiter line(kDelimiterRole, Qt::Horizontal);
        QCOMPARE(line.thickness(), 7);
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Green")));
        QCOMPARE(styled.backgroundColors(), KelStateColors(QColor(0, 255, 0)));
        QCOMPARE(deferred.backgroundColors(), KelStateColors(QColor(0, 255, 0)));
        QCOMPARE(plain.backgroundColors(), KelStateColors());
        QCOMPARE(line.color(), QColor(0, 255, 0));
        QVERIFY(manager()->setCurrentStyle(QStringLiteral("Red")));
    }

    void delimitersPaintTheirLine_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::newRow("horizontal") << int(Qt::Horizontal);
        QTest::newRow("vertical") << int(Qt::Vertical);
    }
    void delimitersPaintTheirLine()
    {
        QFETCH(int, orientation);
        const bool horizontal = orientation == Qt::Horizontal;
        KelDelimiter line(-1, Qt::Orientation(orientation));
        line.setThickness(8);
        line.resize(horizontal ? QSize(200, 8) : QSize(8, 200));
        // No colour yet: nothing at all.
        QCOMPARE(inkInside(alone(line), QRect(0, 0, 1000, 1000)), 0);
        line.setColor(QColor(0, 0, 0));
        line.setStartMargin(10);
        line.setEndMargin(20);
        line.setLineOffset(3);
        line.setLineWidth(1);
        const double r = line.devicePixelRatioF();
        // Each value on whole device pixels: (10, 3, 170, 1) at 100 %.
        auto device = [r](double v) { return int(std::round(v * r)); };
        const QRect along(device(10), device(3), device(200) - device(10) - device(20), device(1));
        const QRect expected = horizontal ? along : QRect(along.y(), along.x(), along.height(), along.width());
        QImage image = alone(line);
        QCOMPARE(inkOutside(image, expected), 0);
        QCOMPARE(inkInside(image, expected), expected.width() * expected.height());
        QCOMPARE(image.pixelColor(expected.topLeft()), QColor(0, 0, 0));
        // Disabled: dimmed by the disabled animator.
        line.setEnabled(false);
        image = alone(line);
        QVERIFY(qAbs(image.pixelColor(expected.topLeft()).alphaF() - line.disabledAnimator()->opacity()) < 0.01);
        QVERIFY(line.disabledAnimator()->opacity() < 0.9);
    }

    void widgetsRepaintOnlyOnChange()
    {
        Counting<KelFrame> frame(kFrameRole);
        frame.resize(40, 30);
        QCOMPARE(repaintsAfter(frame,
                     [&] {
                         frame.setBackgroundColors(frame.backgroundColors());
                         frame.setMargins(frame.margins());
                         frame.setBorderWidths(frame.borderWidths());
                         frame.applyStyle();
                         frame.resize(40, 30);
                     }),
            0);
        QCOMPARE(repaintsAfter(frame, [&] { frame.setPaddings(QMargins(3, 3, 3, 3)); }), 1);

        Counting<KelDelimiter> line(-1, Qt::Horizontal);
        line.resize(100, 5);
        QCOMPARE(repaintsAfter(line,
                     [&] {
                         line.setColor(line.color());
                         line.setThickness(line.thickness());
                         line.setLineWidth(line.lineWidth());
                         line.setLineOffset(line.lineOffset());
                         line.setStartMargin(line.startMargin());
                         line.setEndMargin(line.endMargin());
                     }),
            0);
        QCOMPARE(repaintsAfter(line, [&] { line.setLineOffset(2); }), 1);
    }

    void tableListsTheAvailableLanguages_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("locales");
        QTest::addColumn<QStringList>("fileNames");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("English first") << QStringList { "p_de.qm", "p_en.qm", "p_fr.qm", "q_it.qm", "p_es.ts", "p.qm" }
                                       << QStringList { "en", "de_DE", "fr_FR" }
                                       << QStringList { "p_en.qm", "p_de.qm", "p_fr.qm" } << kPrefix;
        QTest::newRow("regional English")
            << QStringList { "p_pt_BR.qm", "p_en_GB.qm" } << QStringList { "en_GB", "pt_BR" }
            << QStringList { "p_en_GB.qm", "p_pt_BR.qm" } << kPrefix;
        QTest::newRow("prefix with underscore") << QStringList { "my_app_de_DE.qm" } << QStringList { "en", "de_DE" }
                                                << QStringList { "", "my_app_de_DE.qm" } << "my_app";
    }

    void tableListsTheAvailableLanguages()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, locales);
        QFETCH(QStringList, fileNames);
        QFETCH(QString, prefix);
        KelTranslator translator(prefix, nullptr, folderWithFiles(QTest::currentDataTag(), files));
        QCOMPARE(translator.rowCount(), locales.size());
        for (int row = 0; row < locales.size(); ++row) {
            QCOMPARE(translator.index(row, 0).data().toString(), fileNames.at(row));
            QCOMPARE(translator.index(row, 1).data().toString(), locales.at(row));
            QCOMPARE(translator.indexOfLocale(locales.at(row)), translator.index(row, 2));
        }
        // The built-in row stands for the texts as written.
        if (fileNames.first().isEmpty())
            QCOMPARE(translator.index(0, 2).data().toString(), QStringLiteral("English"));
    }

    void switchingLanguageRetranslates()
    {
        LanguageWatcher window;
        {
            KelTranslator translator(kPrefix, nullptr, m_folder);
            QSignalSpy changes(&translator, &KelTranslator::languageChanged);
            QVERIFY(translator.translate(QStringLiteral("de_DE")));
            QCOMPARE(translator.currentLocale(), QStringLiteral("de_DE"));
            QTRY_COMPARE(window.text, QStringLiteral("Hallo"));
            QCOMPARE(qtCancel(), QStringLiteral("Abbrechen"));
            // The current language again: nothing to do unless forced, and then one German translator, not two.
            QVERIFY(translator.translate(QStringLiteral("de_DE")));
            QCOMPARE(changes.count(), 1);
            QVERIFY(translator.translate(QStringLiteral("de_DE"), true));
            QCOMPARE(changes.count(), 2);
            QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo"));
            // French has no Qt translation: Qt's texts go back to English, the switch still succeeds.
            QVERIFY(translator.translate(QStringLiteral("fr_FR")));
            QTRY_COMPARE(window.text, QStringLiteral("Bonjour"));
            QCOMPARE(qtCancel(), QStringLiteral("Cancel"));
            // English, a file without messages, brings back the texts as written.
            QVERIFY(translator.translate(QStringLiteral("en")));
            QCOMPARE(changes.last().first().toString(), QStringLiteral("en"));
            QTRY_COMPARE(window.text, QStringLiteral("Hello"));
            QVERIFY(translator.translate(QStringLiteral("de_DE")));
        }
        // The translations leave with the translator.
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hello"));
        QCOMPARE(qtCancel(), QStringLiteral("Cancel"));
    }

    void refusedCodesKeepTheCurrentLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("empty") << QString();
        QTest::newRow("path") << "../translations/p_de";
        QTest::newRow("absolute path") << m_folder + "/p_fr";
        QTest::newRow("broken file") << "it_IT";
    }

    void refusedCodesKeepTheCurrentLanguage()
    {
        QFETCH(QString, code);
        KelTranslator translator(kPrefix, nullptr, m_folder);
        QVERIFY(translator.translate(QStringLiteral("de_DE")));
        QSignalSpy changes(&translator, &KelTranslator::languageChanged);
        QVERIFY(!translator.translate(code));
        QCOMPARE(changes.count(), 0);
        QCOMPARE(translator.currentLocale(), QStringLiteral("de_DE"));
        QCOMPARE(LanguageWatcher::hello(), QStringLiteral("Hallo"));
        QCOMPARE(qtCancel(), QStringLiteral("Abbrechen"));
    }

    void startupLanguageFallsBack_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("hello");
        const QString broken = folderWithFiles(QStringLiteral("broken French"), { QStringLiteral("p_fr.qm") });
        QTest::newRow("saved") << m_folder << QStringLiteral("fr_FR") << QStringLiteral("fr_FR")
                               << QStringLiteral("Bonjour");
        // de_AT is not shipped: the system's language picks the German file.
        QTest::newRow("system language") << m_folder << QStringLiteral("../../p_fr") << QStringLiteral("de_DE")
                                         << QStringLiteral("Hallo");
        // The saved file does not load and nothing else matches: the texts as written.
        QTest::newRow("English") << broken << QStringLiteral("fr_FR") << QStringLiteral("en")
                                 << QStringLiteral("Hello");
    }

    void startupLanguageFallsBack()
    {
        QFETCH(QString, folder);
        QFETCH(QString, saved);
        QFETCH(QString, expected);
        QFETCH(QString, hello);
        KelSettings settings(KelApplication::configFilePath(QStringLiteral("startup.ini")), QSettings::IniFormat);
        settings.setLocaleName(saved);
        testApp()->setSettings(&settings);
        const int before = testApp()->languageChanges;
        testApp()->initTranslator(kPrefix, folder);
        QCOMPARE(testApp()->translator()->currentLocale(), expected);
        QCOMPARE(settings.localeName(), expected);
        QCOMPARE(LanguageWatcher::hello(), hello);
        // No window exists yet at start-up, so nothing is retranslated.
        QCOMPARE(testApp()->languageChanges, before);
        testApp()->setSettings(nullptr);
    }

    void splashClosesAtTheMinimumTime_data()
    {
        // A zero tick must not repaint without pause: a still text paints once, dots about once a frame.
        QTest::addColumn<int>("maxDots");
        QTest::addColumn<int>("maxPaints");
        QTest::newRow("still text") << 0 << 3;
        QTest::newRow("cycling dots") << 3 << 30;
    }

    void splashClosesAtTheMinimumTime()
    {
        QFETCH(int, maxDots);
        QFETCH(int, maxPaints);
        QElapsedTimer clock;
        clock.start();
        RecordingSplash::paints = 0;
        QPointer<RecordingSplash> splash = makeSplash(200, 0, false, maxDots);
        splash->show();
        QTRY_VERIFY(!splash);
        // The splash ends by its own clock, started after this one: a busy machine only lengthens it.
        QVERIFY(clock.elapsed() >= 200);
        QVERIFY2(RecordingSplash::paints <= maxPaints, qPrintable(QString::number(RecordingSplash::paints)));
    }

    void splashHandsOverToAWindowMadeEarly()
    {
        TestUi* ui = freshUi(true);
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("splash.png"));
        QVERIFY(QImage(300, 150, QImage::Format_RGB32).save(image));
        const int destroyedBefore = testApp()->splashesDestroyed;
        QElapsedTimer clock;
        clock.start();
        QPointer<KelSplash> splash = testApp()->showSplash(image, 300, 0, 0, 3, QStringLiteral("DejaVu Sans"), 24, true,
            QPoint(), QPoint(40, 124), QColor(Qt::transparent), QColor(Qt::white));
        QVERIFY(testApp()->isSplashVisible());
        QCOMPARE(splash->pixmap().size(), QSize(300, 150) * splash->pixmap().devicePixelRatio());
        // A window made before the minimum time does not end the splash early.
        ui->initMainWindow();
        auto* window = qobject_cast<StubWindow*>(ui->mainWindow());
        QVERIFY(splash && splash->isVisible());
        QCOMPARE(window->activations, 0);
        QTRY_VERIFY(!splash);
        QVERIFY(clock.elapsed() >= 300);
        QCOMPARE(window->activations, 1);
        QCOMPARE(window->lastWithParent, false);
        QVERIFY(!testApp()->splash());
        QCOMPARE(testApp()->splashesDestroyed, destroyedBefore + 1);
    }

    void splashWaitsForAWindowMadeLaterOrNone()
    {
        TestUi* ui = freshUi(true);
        QPointer<RecordingSplash> splash = makeSplash(50, 5, true);
        splash->show();
        QTRY_VERIFY(splash->isMinimumTimeReached() && splash->texts.size() >= 6);
        QCOMPARE(splash->texts.mid(0, 6),
            (QStringList { "Loading", "Loading.", "Loading..", "Loading...", "Loading", "Loading." }));
        QCOMPARE(splash->versionText(), QStringLiteral("v1.2.3"));
        ui->initMainWindow(); // not through the application, so hand over as the application would
        QVERIFY(splash);
        splash->setMainWindowIsReady(ui->mainWindow());
        QTRY_VERIFY(!splash);
        QCOMPARE(static_cast<StubWindow*>(ui->mainWindow())->activations, 1);

        // A plain window is brought to the front.
        freshUi(true);
        QPointer<RecordingSplash> second = makeSplash(0, 0, true);
        QTRY_VERIFY(second->isMinimumTimeReached());
        KelWindow window { KelWindow::WindowParams() };
        second->setMainWindowIsReady(&window);
        QVERIFY(window.isVisible());
        QTRY_VERIFY(!second);

        // No main window can be made: the splash closes all the same.
        ui = freshUi(false);
        QPointer<KelSplash> third = testApp()->showSplash(QStringLiteral("missing.png"), 100, 0, 0, 3,
            QStringLiteral("DejaVu Sans"), 24, true, QPoint(), QPoint(), QColor(), QColor());
        QVERIFY(third);
        ui->initMainWindow();
        QVERIFY(!ui->mainWindow());
        QTRY_VERIFY(!third);
    }

private:
    KelStyleManager* manager() { return KelUi::instance()->styleManager(); }

    FrozenAnimationDriver m_driver;
    std::unique_ptr<KelSettings> m_settings;
    FrameStyle m_red { QStringLiteral("Red"), QColor(255, 0, 0) };
    FrameStyle m_green { QStringLiteral("Green"), QColor(0, 255, 0) };
    SolidWidget m_root { QColor(Qt::white) };
    double m_ratio = 1.0;
};

int main(int argc, char** argv)
{
#ifdef KEL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", QByteArray::number(KEL_TEST_SCALE_FACTOR));
#endif
    // A system locale that no translation file matches exactly, so the start-up fallbacks show.
    qputenv("LC_ALL", "de_AT.UTF-8");
    qunsetenv("LANGUAGE");
    return runKelAppTest<TestApp, TestKelWidgets>(argc, argv, QStringLiteral("Kel Widgets Test"));
}

#include "tst_kelwidgets.moc"
