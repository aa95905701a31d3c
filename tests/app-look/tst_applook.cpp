#include "applooktest.h"

#include "animators/kelwidgetstateanimator.h"
#include "eventfilters/kelgeometrywatcher.h"
#include "painting/keliconsprovider.h"
#include "resources/appresources.h"
#include "styles/kelcolors.h"
#include "styles/noisepainter.h"
#include "widgets/installscrollbars.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/keldelimiter.h"
#include "widgets/kelframe.h"
#include "widgets/keliconwidget.h"
#include "widgets/kellabel.h"
#include "widgets/kellineedit.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelscrollbar.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinbox.h"
#include "widgets/metroprogressbar.h"
#include "widgets/progressbar.h"
#include "windows/keldialog.h"
#include "windows/kelmessagebox.h"
#include "windows/kelpopupmenu.h"
#include "windows/keltitlebar.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFile>
#include <QGraphicsEffect>
#include <QHoverEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <functional>
#include <memory>
#include <tuple>

using WidgetFactory = std::function<QWidget*(int id, QWidget* parent)>;
Q_DECLARE_METATYPE(WidgetFactory)

namespace {

const QStringList kProfiles
    = { QStringLiteral("DayStyle"), QStringLiteral("NightStyle"), QStringLiteral("SepiaStyle") };

// Makes a W from the id, any further arguments of its constructor, and the parent.
template <typename W, typename... Extra> WidgetFactory factory(Extra... extra)
{
    return [=](int id, QWidget* parent) -> QWidget* { return new W(id, extra..., parent); };
}

QList<int> idRange(int from, int to)
{
    QList<int> ids;
    for (int id = from; id <= to; ++id)
        ids << id;
    return ids;
}

// Counts the paints of a plain widget that fills itself with one colour.
class PaintCounter : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        QPainter(this).fillRect(rect(), QColor(0x808080));
    }
};

qint64 g_now = 0;
qint64 fakeClock() { return g_now; }

bool isWhite(const QColor& c) { return c.alpha() > 200 && c.red() > 235 && c.green() > 235 && c.blue() > 235; }
// A half-faded white dot over a half-faded blue ring: far more red than the ring has.
bool isDot(const QColor& c) { return c.alpha() > 60 && c.red() > 120; }

// The matching pixels of one device row: their count and the centre of the run, in logical pixels.
struct Run {
    int count = 0;
    double center = 0.0;
};

Run whiteRun(const QImage& image, int deviceRow, bool (*matches)(const QColor&) = &isWhite)
{
    Run run;
    int first = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (!matches(image.pixelColor(x, deviceRow)))
            continue;
        if (first < 0)
            first = x;
        ++run.count;
        run.center = (first + x + 1) / 2.0;
    }
    const double ratio = image.devicePixelRatio();
    run.center /= ratio;
    run.count = qRound(run.count / ratio);
    return run;
}

// Paints the icon for a checked animator at the progress.
QImage iconImage(const char* name, double ratio, bool checked, double progress)
{
    KelWidgetStateAnimator animator(0);
    animator.setChecked(checked, false);
    animator.setCheckedProgress(progress);
    KelIcon* icon = KelIconsProvider::instance()->icon(name);
    return icon->statePixmap(ratio, icon->defaultSize(), QColor(), &animator).toImage();
}

// The thickness of the vertical bar's handle: painted columns of one row inside the bar's strip.
int handleThickness(QWidget* area, int row)
{
    const QImage image = area->grab().toImage();
    const QColor background = image.pixelColor(5, row);
    int painted = 0;
    for (int x = image.width() - 18; x < image.width(); ++x)
        painted += image.pixelColor(x, row) != background;
    return painted;
}

} // namespace

class TestAppLook : public QObject {
    Q_OBJECT

    std::unique_ptr<Profiles> m_profiles;

private slots:
    void initTestCase() { m_profiles.reset(new Profiles); }
    void init() { Profiles::use(QStringLiteral("DayStyle")); }
    void cleanup() { MetroProgressBar::setClock(nullptr); }

    void everyIdStylesItsWidgetQuietly_data()
    {
        QTest::addColumn<WidgetFactory>("make");
        QTest::addColumn<QList<int>>("ids");
        QTest::newRow("frames") << factory<KelFrame>() << idRange(1042, 1046);
        QTest::newRow("labels") << factory<KelLabel>() << (QList<int> { 9, 1061, 1064, 1082 } + idRange(1047, 1058));
        QTest::newRow("delimiters") << factory<KelDelimiter>(Qt::Horizontal) << idRange(1066, 1067);
        QTest::newRow("buttons") << factory<KelButton>()
                                 << (QList<int> { 11, 13, 14, 15, 17, 18, 19, 20, 24, 25, 1076, 1077 }
                                        + idRange(1005, 1013) + QList<int> { 1015 } + idRange(1020, 1041));
        QTest::newRow("line edits") << factory<KelLineEdit>() << idRange(1068, 1069);
        QTest::newRow("plain text edits") << factory<KelPlainTextEdit>() << QList<int> { 33, 34, 1070 };
        QTest::newRow("spin boxes") << factory<KelSpinBox>() << QList<int> { 1071 };
        QTest::newRow("sliders") << factory<KelSlider>(Qt::Horizontal) << QList<int> { 36, 1072, 1073 };
        QTest::newRow("progress bars") << factory<ProgressBar>() << QList<int> { 37, 1074, 1075 };
        QTest::newRow("windows") << factory<KelWindow>(KelWindow::TitleBar) << QList<int> { 3, 5, 1000, 1001 };
        QTest::newRow("dialogs") << factory<KelDialog>(KelWindow::TitleBar) << QList<int> { 1, 2, 1002 };
        QTest::newRow("scroll areas") << factory<KelScrollArea>() << QList<int> { 38 };
    }

    // Each id is built under every profile, then the profiles switch under it; nothing may warn.
    void everyIdStylesItsWidgetQuietly()
    {
        QFETCH(WidgetFactory, make);
        QFETCH(QList<int>, ids);
        MessageCatcher warnings(QtWarningMsg);
        for (const QString& profile : kProfiles) {
            Profiles::use(profile);
            Host host;
            for (int id : ids)
                make(id, &host)->resize(120, 40);
            host.resize(300, 200);
            host.show();
            for (const QString& next : kProfiles)
                Profiles::use(next);
            QVERIFY(!host.grab().isNull());
        }
        QCOMPARE(warnings.total(), 0);
    }

    // Switching the profile over and over never adds a second effect, filter, bar or connection, and
    // the dialog's close button moves into the window's corner once and follows its width.
    void restylingStacksNothing()
    {
        KelDialog dialog(1002, KelWindow::TitleBar);
        dialog.resize(400, 300);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        Host host;
        auto* slideBox = new KelFrame(1044, &host);
        auto* bar = new ProgressBar(1075, &host);
        auto* area = new KelScrollArea(38, &host);
        auto* content = new QWidget;
        content->setMinimumSize(50, 900);
        area->setWidget(content);
        area->setGeometry(0, 60, 120, 100);
        auto* grained = new PaintCounter;
        grained->installEventFilter(NoisePainter::instance());
        grained->installEventFilter(NoisePainter::instance());
        const QGraphicsEffect* shadow = slideBox->graphicsEffect();
        const QGraphicsEffect* labelShadow = bar->label()->graphicsEffect();
        QVERIFY(shadow && labelShadow);
        host.show();
        for (int round = 0; round < 3; ++round)
            for (const char* profile : { "NightStyle", "SepiaStyle", "DayStyle" })
                Profiles::use(QString::fromLatin1(profile));
        QCOMPARE(slideBox->graphicsEffect(), shadow);
        QCOMPARE(bar->label()->graphicsEffect(), labelShadow);
        QCOMPARE(area->findChildren<KelScrollBar*>().size(), 1); // the horizontal policy is off: no bar for it
        QCOMPARE(area->findChildren<KelGeometryWatcher*>().size(), 1);
        KelButton* close = dialog.titleBar()->button(KelTitleBar::CloseButton);
        QCOMPARE(close->parentWidget(), &dialog);
        const int fromRight = dialog.width() - close->x();
        dialog.resize(520, 300);
        QTRY_COMPARE(dialog.width() - close->x(), fromRight);
        QCOMPARE(dialog.footerLayout()->count(), 0); // the leading stretch is gone
        grained->resize(20, 20);
        const QImage grainedImage = grained->grab().toImage();
        QCOMPARE(grained->paints, 1);
        // The grain lies over the widget's own paint, at a few percent.
        int changed = 0;
        for (int x = 0; x < 20; ++x)
            changed += grainedImage.pixelColor(x, 10) != QColor(0x808080);
        QVERIFY(changed > 5);
        delete grained;
    }

    // A message box keeps its content clear of the edges and its icon above the message, however
    // often it is restyled: one content layout, one corner close button, no footer stretch.
    void messageBoxStyle()
    {
        const QColor base(0xfcf6e1); // the sepia profile's
        const QColor text(0x1a1202);
        initAppResources();
        MessageCatcher warnings(QtWarningMsg);
        KelMessageBox box;
        box.setText(QStringLiteral("MMMM"));
        box.setIcon(kelStyle()->iconPath(6));
        box.addButton(1, new KelButton(20, &box), true);
        QVBoxLayout* content = box.contentLayout();
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        for (int round = 0; round < 3; ++round)
            for (const char* next : { "NightStyle", "DayStyle", "SepiaStyle" })
                Profiles::use(QString::fromLatin1(next));
        QCOMPARE(box.contentWidget()->layout(), content);
        QCOMPARE(content->contentsMargins(), QMargins(24, 24, 24, 19));
        QCOMPARE(box.centralWidget()->minimumWidth(), 480);
        QVERIFY(!box.titleBar()->isVisible());
        QCOMPARE(box.footerLayout()->count(), 1);
        int cornerButtons = 0;
        for (KelButton* button : box.findChildren<KelButton*>())
            cornerButtons += button->widgetType() == 1024;
        QCOMPARE(cornerButtons, 1);

        // The margin and the gap under the icon stay the profile's base; the message is in
        // the profile's text colour.
        const QImage image = box.grab().toImage();
        const QPoint origin = box.contentWidget()->mapTo(&box, QPoint(0, 0));
        const QRect icon = box.iconWidget()->geometry().translated(origin);
        const QRect message = box.messageLabel()->geometry().translated(origin);
        VERIFY_NEAR(image.pixelColor(origin + QPoint(12, 12)), base);
        VERIFY_NEAR(image.pixelColor(icon.center().x(), icon.bottom() + 12), base);
        QVERIFY(message.top() >= icon.bottom() + 24);
        QColor ink = base;
        for (int x = message.left(); x <= message.right(); ++x)
            for (int y = message.top(); y <= message.bottom(); ++y)
                if (qAbs(image.pixelColor(x, y).lightness() - base.lightness())
                    > qAbs(ink.lightness() - base.lightness()))
                    ink = image.pixelColor(x, y);
        QVERIFY2(near(ink, text, 40), qPrintable(ink.name()));
        // The offscreen platform's own notice about top-level size hints is no fault of the style.
        QCOMPARE(warnings.total(), warnings.count(QStringLiteral("propagateSizeHints")));
    }

    // The 1033 combo box opens its list just below itself; the toolkit's box lays its list over itself.
    void comboBoxListOpensBelow()
    {
        Host host;
        host.setGeometry(200, 200, 400, 100);
        QList<KelComboBox*> combos;
        for (int id : { 1033, 17 }) {
            combos << new KelComboBox(id, QSizePolicy::Fixed, KelComboBox::PopupAtLeastButtonWidth, &host);
            combos.last()->setItems(18, { "a", "b" }, KelComboBox::SelectFirst);
            combos.last()->setGeometry(200, combos.size() * 40, 120, 32);
        }
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        Profiles::use(QStringLiteral("NightStyle"));
        Profiles::use(QStringLiteral("DayStyle"));
        QList<bool> covered;
        for (KelComboBox* combo : combos) {
            combo->showPopup();
            QTRY_VERIFY(combo->popupMenu()->isVisible());
            covered << combo->popupMenu()->geometry().intersects(
                QRect(combo->mapToGlobal(QPoint(0, 0)), combo->size()));
            combo->closePopup();
        }
        QCOMPARE(covered, QList<bool>({ false, true }));
    }

    // Widgets that exist before the switch take the new profile's colours (sepia: an accent of its
    // own, the common progress fill).
    void colorsFollowTheProfile()
    {
        const QColor accent(0x40331b);
        const QColor fillStart(0x1e4cf0);
        Host host;
        auto* button = new KelButton(1009, &host);
        button->setGeometry(0, 0, 94, 36);
        auto* swatch = new KelButton(1029, &host);
        swatch->setGeometry(0, 40, 24, 24);
        swatch->setChecked(true);
        auto* bar = new ProgressBar(1075, &host);
        bar->setGeometry(0, 80, 200, 20);
        bar->setValue(50);
        host.resize(220, 110);
        host.show();
        QTest::qWait(600); // the swatch's check animation
        Profiles::use(QStringLiteral("SepiaStyle"));

        const QImage image = host.image();
        VERIFY_NEAR(image.pixelColor(8, 18), accent);
        VERIFY_NEAR(image.pixelColor(12, 41), accent); // the checked swatch's border
        QCOMPARE(bar->label()->text(), QStringLiteral("50%"));

        // Half the range fills half the bar, inside the rounded track.
        bar->setLabelVisible(false);
        const QImage barImage = host.image();
        const QColor end(0x6c8cff);
        VERIFY_NEAR(barImage.pixelColor(4, 90), interpolateColor(fillStart, end, 4 / 200.0, 0));
        VERIFY_NEAR(barImage.pixelColor(98, 90), interpolateColor(fillStart, end, 98 / 200.0, 0));
        QVERIFY(!near(barImage.pixelColor(102, 90), interpolateColor(fillStart, end, 102 / 200.0, 0), 30));
        VERIFY_NEAR(barImage.pixelColor(0, 80), QColor(Qt::magenta));
    }

    void progressBarFillsTheRangeSafely_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<double>("ratio");
        QTest::newRow("offset range") << 100 << 200 << 150 << 0.5;
        QTest::newRow("empty range") << 5 << 5 << 5 << 0.0;
        QTest::newRow("busy") << 0 << 0 << 0 << 0.0;
    }

    void progressBarFillsTheRangeSafely()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(double, ratio);
        ProgressBar bar(37);
        bar.setRange(minimum, maximum);
        bar.setValue(value);
        QCOMPARE(bar.fillRatio(), ratio);
        bar.resize(100, 10);
        QVERIFY(!bar.grab().isNull());
    }

    // Every name of the icon table is a valid picture that draws something.
    void resourcesLoad()
    {
        initAppResources();
        const QString path = qEnvironmentVariable("PL_TEST_SOURCE_DIR") + QStringLiteral("/src/ui/resources/icons.txt");
        QFile table(path);
        QVERIFY2(table.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(path));
        int names = 0;
        for (const QString& line : QString::fromUtf8(table.readAll()).split(QLatin1Char('\n'))) {
            const QString name = line.trimmed().section(QLatin1Char(' '), 0, 0);
            if (name.isEmpty() || name.startsWith(QLatin1Char('#')))
                continue;
            ++names;
            QImage image;
            if (name.endsWith(QLatin1String(".svg"))) {
                QSvgRenderer renderer(name);
                QVERIFY2(renderer.isValid(), qPrintable(name));
                image = QImage(renderer.defaultSize(), QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::transparent);
                QPainter painter(&image);
                renderer.render(&painter);
            } else {
                QVERIFY2(image.load(name) && image.size() == QSize(600, 600), qPrintable(name));
            }
            bool inked = false;
            for (int y = 0; y < image.height() && !inked; ++y)
                for (int x = 0; x < image.width() && !inked; ++x)
                    inked = image.pixelColor(x, y).alpha() > 0;
            QVERIFY2(inked, qPrintable(name));
        }
        QVERIFY(names > 70);
    }

    // A table line naming a theme file that does not exist stops the build and names the file.
    void missingThemeFileFailsTheBuild()
    {
        QTemporaryDir dir;
        QFile table(dir.filePath(QStringLiteral("icons.txt")));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write(":/svg/print.svg actions/22/document-print.svg\n:/svg/gone.svg actions/22/no-such-icon.svg\n");
        table.close();
        QProcess cmake;
        cmake.start(QStringLiteral(PL_CMAKE_COMMAND),
            { QStringLiteral("-DTABLE=") + table.fileName(), QStringLiteral("-DTHEME_DIR=/usr/share/icons/breeze"),
                QStringLiteral("-DOWN_DIR=") + dir.path(), QStringLiteral("-DOUT_DIR=") + dir.filePath("out"),
                QStringLiteral("-P"), QStringLiteral(PL_GATHER_SCRIPT) });
        QVERIFY(cmake.waitForFinished(60000));
        QVERIFY(cmake.exitCode() != 0);
        QVERIFY(cmake.readAllStandardError().contains("no-such-icon.svg"));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out/app_resources.qrc"))));
    }
    // At a fractional device ratio, where rounding shows.
    void animatedIcons()
    {
        const double ratio = 1.5;
        const int middle = int(9 * ratio);
        // The toggle's knob (12 px high) is round at the ends and 10 px longer half way, centred.
        const Run off = whiteRun(iconImage("ToggleIcon", ratio, false, 0.0), middle);
        const Run half = whiteRun(iconImage("ToggleIcon", ratio, true, 0.5), middle);
        const Run on = whiteRun(iconImage("ToggleIcon", ratio, true, 1.0), middle);
        QVERIFY2(qAbs(off.count - 12) <= 1 && qAbs(on.count - 12) <= 1, qPrintable(QString::number(off.count)));
        QVERIFY2(qAbs(half.count - 22) <= 1, qPrintable(QString::number(half.count)));
        QVERIFY(qAbs(off.center - 9) <= 0.75 && qAbs(on.center - 19) <= 0.75);
        QVERIFY2(qAbs(half.center - 14) <= 0.75, qPrintable(QString::number(half.center)));

        // The check mark draws itself while checking, and is gone at once while unchecking.
        int marked = 0;
        int unmarked = 0;
        const QImage checking = iconImage("CheckBoxIcon", ratio, true, 1.0);
        const QImage unchecking = iconImage("CheckBoxIcon", ratio, false, 0.7);
        for (int y = 0; y < checking.height(); ++y) {
            marked += whiteRun(checking, y).count;
            unmarked += whiteRun(unchecking, y).count;
        }
        QVERIFY(marked > 5);
        QCOMPARE(unmarked, 0);

        // The radio dot grows from the centre: half its size half way, the full 8 px dot at the end.
        const Run early = whiteRun(iconImage("RadioIcon", ratio, true, 0.5), middle, &isDot);
        const Run full = whiteRun(iconImage("RadioIcon", ratio, true, 1.0), middle, &isDot);
        QVERIFY2(
            qAbs(early.count - 4) <= 1 && qAbs(early.center - 9) <= 0.75, qPrintable(QString::number(early.count)));
        QVERIFY2(qAbs(full.count - 8) <= 1 && qAbs(full.center - 9) <= 0.75, qPrintable(QString::number(full.count)));
    }

    // The dots follow the clock: the first leaves after its delay, all rest at their ends until the
    // next cycle starts them again. No timer while hidden or while the bar shows a real range.
    void metroDotsFollowTheClock()
    {
        MetroProgressBar::setClock(&fakeClock);
        g_now = 10000;
        MetroProgressBar bar;
        bar.setRange(0, 0);
        bar.setDotRadius(5);
        QCOMPARE(bar.height(), 10);
        bar.resize(300, 10);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        bar.repaint();
        QVERIFY(bar.isAnimating());
        const double start = -50; // the run-in stretch: 5 dots 10 px apart
        const double length = 300 + 75 - start;
        // Time since the start, dots that left the start, every dot at its end point.
        for (const auto& [elapsed, movedDots, atRest] : { std::make_tuple(249, 1, false),
                 std::make_tuple(2750, 5, true), std::make_tuple(3499, 5, true), std::make_tuple(3500, 0, false) }) {
            g_now = 10000 + elapsed;
            const QVector<QPointF> dots = bar.dotCenters();
            QCOMPARE(dots.size(), 5);
            int moved = 0;
            for (int i = 0; i < dots.size(); ++i) {
                moved += dots[i].x() > start + 0.01;
                QCOMPARE(dots[i].y(), 5.0);
                if (atRest)
                    QVERIFY(qAbs(dots[i].x() - (start + length * (1.0 - 0.03 * i))) < 0.05);
            }
            QCOMPARE(moved, movedDots);
            if (elapsed == 249)
                QVERIFY(dots[0].x() > 0); // the first dot is on its way and in view
        }

        bar.setRange(0, 100);
        bar.repaint();
        QVERIFY(!bar.isAnimating());
        bar.setRange(0, 0);
        bar.repaint();
        QVERIFY(bar.isAnimating());
        bar.hide();
        QVERIFY(!bar.isAnimating());
    }

    void scrollBars()
    {
        Profiles::use(QStringLiteral("DayStyle"));
        Host host;
        auto* layout = new QVBoxLayout(&host);
        auto* area = new QScrollArea;
        area->setFrameShape(QFrame::NoFrame);
        layout->addWidget(area);
        auto* content = new QWidget;
        content->setMinimumSize(100, 1000);
        area->setWidget(content);
        area->setWidgetResizable(true);
        host.resize(200, 200);
        installScrollBars(area, 1);
        installScrollBars(area, 1);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const QList<KelScrollBar*> bars = area->findChildren<KelScrollBar*>();
        QCOMPARE(bars.size(), 2);
        QCOMPARE(area->findChildren<KelGeometryWatcher*>().size(), 2);
        KelScrollBar* vertical = bars[0]->orientation() == Qt::Vertical ? bars[0] : bars[1];
        QVERIFY(vertical->isVisible());
        QCOMPARE(vertical->width(), 18);
        QCOMPARE(content->contentsMargins().right(), 18);

        // A quick pass does not widen the bar; a mouse that rests does.
        const int row = 20;
        QCOMPARE(handleThickness(area, row), 6);
        QHoverEvent enter(QEvent::HoverEnter, QPointF(9, row), QPointF(-1, -1));
        QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(9, row));
        QCoreApplication::sendEvent(vertical, &enter);
        QCoreApplication::processEvents();
        QCoreApplication::sendEvent(vertical, &leave);
        QTest::qWait(400);
        QCOMPARE(handleThickness(area, row), 6);
        QCoreApplication::sendEvent(vertical, &enter);
        QTRY_COMPARE(handleThickness(area, row), 12);
        QCoreApplication::sendEvent(vertical, &leave);
        QTRY_COMPARE_WITH_TIMEOUT(handleThickness(area, row), 6, 2000);

        // Short content hides the bar and gives the reserved margin back.
        content->setMinimumSize(10, 10);
        QTRY_VERIFY(!vertical->isVisible());
        QCOMPARE(content->contentsMargins().right(), 0);

        // Deleting the area deletes its bars' styles, never the application's.
        QStyle* appStyle = QApplication::style();
        delete area;
        QCOMPARE(QApplication::style(), appStyle);
        QPushButton button(QStringLiteral("still styled"));
        QVERIFY(!button.grab().isNull());
        QVERIFY(appStyle->pixelMetric(QStyle::PM_ButtonMargin) >= 0);
    }
};

int main(int argc, char** argv)
{
    return runKelAppTest<KelApplication, TestAppLook>(argc, argv, QStringLiteral("app-look-test"));
}

#include "tst_applook.moc"
