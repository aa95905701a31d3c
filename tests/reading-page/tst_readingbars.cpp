// The bars above and below the book follow the open book: the footer's page texts, slider and
// wheel guard, and the tool bar's volume keys, read-aloud metric and shrinking buttons. The print
// page over printers of the test's own: which printer it chooses, what it stores, which options it
// offers, and the printer it hands over.

#include "../app-look/applooktest.h"
#include "readingpagetest.h"

#include "bookcontext.h"
#include "bookpageparams.h"
#include "hotkeys.h"
#include "mainwindow/readingpage/printbox.h"
#include "mainwindow/readingpage/readingfooter.h"
#include "mainwindow/readingpage/readingtoolbar.h"
#include "metrics/metricsender.h"
#include "settingsprovider.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kellabel.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelslider.h"
#include "widgets/kelspinbox.h"

#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>

namespace {

// Printers "a", "b", ... described as "Printer A", ...; each offers A4 (its default) and Letter.
class FakeCatalogue : public PrinterCatalogue {
public:
    QStringList names;
    QString defaultName;
    QList<QPrinter::ColorMode> colorModes;

    QStringList printerNames() const override { return names; }
    QString defaultPrinterName() const override { return defaultName; }
    bool hasPrinter(const QString& name) const override { return names.contains(name); }
    QString description(const QString& name) const override { return QStringLiteral("Printer ") + name.toUpper(); }
    QList<QPageSize> supportedPageSizes(const QString&) const override
    {
        return { QPageSize(QPageSize::Letter), QPageSize(QPageSize::A4) };
    }
    QPageSize defaultPageSize(const QString&) const override { return QPageSize(QPageSize::A4); }
    QList<QPrinter::ColorMode> supportedColorModes(const QString&) const override { return colorModes; }
    std::unique_ptr<QPrinter> createPrinter(const QString& name, QPrinter::PrinterMode mode) const override
    {
        if (!hasPrinter(name))
            return nullptr;
        auto printer = std::make_unique<QPrinter>(mode);
        printer->setOutputFormat(QPrinter::PdfFormat);
        return printer;
    }
};

SettingsProvider* settings() { return SettingsProvider::instance(); }

} // namespace

class TestReadingBars : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_profiles = std::make_unique<Profiles>(); }

    void footerPages_data()
    {
        // Steps: the page shown after each step, then the slider's range end and value.
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("sliderMax");
        QTest::addColumn<int>("sliderValue");
        QTest::addColumn<int>("pageOfSlider3");
        QTest::newRow("two columns, spread before the last") << 2 << 7 << 5 << "5-6" << 4 << 3 << 5;
        QTest::newRow("two columns, last page alone") << 2 << 7 << 7 << "7" << 4 << 4 << 5;
        QTest::newRow("one column") << 1 << 120 << 9 << "9" << 120 << 9 << 3;
    }

    void footerPages()
    {
        QFETCH(int, columns);
        QFETCH(int, count);
        QFETCH(int, current);
        QFETCH(QString, label);
        QFETCH(int, sliderMax);
        QFETCH(int, sliderValue);
        QFETCH(int, pageOfSlider3);
        auto context = QSharedPointer<BookContext>::create();
        context->pageParams()->setColumnCount(columns);
        ReadingFooter footer;
        footer.resize(800, 40);
        footer.setBookContext(context);
        QVERIFY(!footer.isPaginated());
        context->setPageCount(count);
        context->setCurrentPage(current);
        QVERIFY(footer.isPaginated());
        QCOMPARE(footer.pageLabel()->text(), label);
        QCOMPARE(footer.countLabel()->text(), QString::number(count));
        QCOMPARE(footer.slider()->minimum(), 1);
        QCOMPARE(footer.slider()->maximum(), sliderMax);
        QCOMPARE(footer.slider()->value(), sliderValue);
        QCOMPARE(footer.sliderValueToPage(3), pageOfSlider3);

        // "Back to page" shows only once there is a page to go back to, and takes no room from the slider.
        QVERIFY(!footer.backButton()->isVisibleTo(&footer));
        const int sliderWidth = footer.slider()->width();
        context->storeCurrentPageLink();
        context->updateCurrentPageLink();
        QVERIFY(footer.backButton()->isVisibleTo(&footer));
        QCOMPARE(footer.backButton()->text(), QStringLiteral("Back to page %1").arg(current));
        QCOMPARE(footer.slider()->width(), sliderWidth);

        // The label does not grow by a digit while paging within the same count.
        const int width = footer.pageLabel()->width();
        context->setCurrentPage(current + 1);
        QCOMPARE(footer.pageLabel()->width(), width);

        // The wheel never moves the slider.
        const int before = footer.slider()->value();
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
            Qt::NoScrollPhase, false);
        QApplication::sendEvent(footer.slider(), &wheel);
        QCOMPARE(footer.slider()->value(), before);

        // Repagination shows the busy bar until the new count arrives.
        emit context->pageCountAboutToChange();
        QVERIFY(!footer.isPaginated());
        footer.setBookContext(nullptr);
        QVERIFY(!footer.isPaginated());
    }

    // Floating over the page in full screen, both bars cast a shadow on it; docked they do not.
    void barShadows()
    {
        QWidget host;
        host.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::white);
        host.setPalette(palette);
        host.resize(600, 400);
        auto* bar = new ReadingToolBar(&host);
        bar->setGeometry(0, 100, 600, 50);
        auto* footer = new ReadingFooter(&host);
        footer->setGeometry(0, 250, 600, 50);
        host.show();
        // How much the rows just above the tool bar and just below the footer are darkened.
        const auto shades = [&] {
            const QImage image = host.grab().toImage();
            return QPair<int, int>(255 - qGray(image.pixel(300, 96)), 255 - qGray(image.pixel(300, 303)));
        };
        QCOMPARE(shades(), qMakePair(0, 0));
        bar->setFullscreenLook(true);
        footer->setFullscreenLook(true);
        QPair<int, int> floating = shades();
        QVERIFY2(floating.first > 3 && floating.second > 3,
            qPrintable(QStringLiteral("%1 %2").arg(floating.first).arg(floating.second)));
        // A change of look keeps the shadow to full screen, floating or docked.
        Profiles::use(m_profiles->night.id());
        Profiles::use(m_profiles->day.id());
        QCOMPARE(shades(), floating);
        bar->setFullscreenLook(false);
        footer->setFullscreenLook(false);
        Profiles::use(m_profiles->night.id());
        Profiles::use(m_profiles->day.id());
        QCOMPARE(shades(), qMakePair(0, 0));
    }

    void toolBarVolumeKeys_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<double>("expected");
        QTest::newRow("up near the top stops at 1") << 0.97 << int(Hotkeys::Id::Tts_IncreaseVolume) << 1.0;
        QTest::newRow("up at the top") << 1.0 << int(Hotkeys::Id::Tts_IncreaseVolume) << 1.0;
        QTest::newRow("down") << 0.5 << int(Hotkeys::Id::Tts_DecreaseVolume) << 0.45;
        QTest::newRow("down near the bottom stops at 0") << 0.03 << int(Hotkeys::Id::Tts_DecreaseVolume) << 0.0;
    }

    void toolBarVolumeKeys()
    {
        QFETCH(double, start);
        QFETCH(int, key);
        QFETCH(double, expected);
        ReadingToolBar bar;
        SettingsProvider::instance()->setTtsVolume(start);
        const QList<QKeySequence> sequences = Hotkeys::sequences(Hotkeys::Id(key));
        QVERIFY(!sequences.isEmpty());
        const int code = sequences.first()[0];
        QKeyEvent press(
            QEvent::KeyPress, code & ~Qt::KeyboardModifierMask, Qt::KeyboardModifiers(code & Qt::KeyboardModifierMask));
        QVERIFY(bar.handleKey(&press));
        QCOMPARE(SettingsProvider::instance()->ttsVolume(), expected);
        auto* slider = bar.readAloudBox()->volumeButton->slider();
        QCOMPARE(slider->value(), qRound(expected * 100));
        QKeyEvent other(QEvent::KeyPress, Qt::Key_F, Qt::NoModifier);
        QVERIFY(!bar.handleKey(&other));
    }

    void toolBarReadAloudMetric()
    {
        MetricSender::init(QStringLiteral("device"), QStringLiteral("product"), QStringLiteral("1"), true,
            QStringLiteral("http://127.0.0.1:9/"));
        ReadingToolBar bar;
        bar.setBookContext(QSharedPointer<BookContext>::create());
        // Without a ready speech engine the controls show but take no clicks.
        QVERIFY(!bar.readAloudBox()->isEnabled());
        KelButton* play = bar.readAloudBox()->playButton;
        for (int i = 0; i < 12; ++i) {
            play->setChecked(true);
            QTRY_VERIFY(bar.readAloudBox()->stopButton->isVisibleTo(bar.readAloudBox()));
            emit bar.readAloudBox()->stopButton->clicked();
            QVERIFY(!play->isChecked());
            QVERIFY(!bar.readAloudBox()->stopButton->isVisibleTo(bar.readAloudBox()));
        }
        int sent = 0;
        for (const MetricSender::Event& event : MetricSender::instance()->queuedEvents())
            sent += event.key == QLatin1String("tts") ? 1 : 0;
        QCOMPARE(sent, 10);
        MetricSender::setEnabled(false);
    }

    void toolBarShrinking()
    {
        ReadingToolBar bar;
        bar.resize(1400, 60);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        const QList<ReadingToolBar::ShrinkableButton*> order { bar.tocButton(), bar.bookmarksButton(),
            bar.notesButton(), bar.libraryButton() };
        const auto shrunk = [&] {
            QString flags;
            for (auto* button : order)
                flags += button->isShrunk() ? QLatin1Char('1') : QLatin1Char('0');
            return flags;
        };
        // Narrowing drops the texts in order, widening brings them back in reverse.
        const auto sweep = [&](int from, int step) {
            QStringList seen;
            for (int width = from; width >= 200 && width <= 1400; width += step) {
                bar.resize(width, 60);
                QApplication::processEvents();
                if (seen.isEmpty() || seen.last() != shrunk())
                    seen << shrunk();
            }
            return seen;
        };
        QCOMPARE(sweep(1400, -10), QStringList({ "0000", "1000", "1100", "1110", "1111" }));
        QCOMPARE(sweep(200, 10), QStringList({ "1111", "1110", "1100", "1000", "0000" }));
        QCOMPARE(bar.tocButton()->text(), bar.tocButton()->fullText());
    }

    void choosesPrinter_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("defaultName");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("one printer, no default mark") << QStringList { "a" } << "a"
                                                      << ""
                                                      << "a" << QStringList { "Printer A" };
        QTest::newRow("default marked among two") << QStringList { "a", "b" } << "b"
                                                  << ""
                                                  << "b" << QStringList { "Printer A", "Printer B (default)" };
        QTest::newRow("stored printer kept") << QStringList { "a", "b" } << "b"
                                             << "a"
                                             << "a" << QStringList { "Printer A", "Printer B (default)" };
        QTest::newRow("stored printer gone, default taken")
            << QStringList { "a", "b" } << "b"
            << "gone"
            << "b" << QStringList { "Printer A", "Printer B (default)" };
        QTest::newRow("no default, first printer") << QStringList { "a", "b" } << ""
                                                   << "gone"
                                                   << "a" << QStringList { "Printer A", "Printer B" };
        QTest::newRow("no printers") << QStringList() << ""
                                     << ""
                                     << "" << QStringList();
    }

    void choosesPrinter()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, defaultName);
        QFETCH(QString, stored);
        QFETCH(QString, chosen);
        QFETCH(QStringList, texts);
        settings()->setPrinter_name(stored);
        auto catalogue = std::make_unique<FakeCatalogue>();
        catalogue->names = names;
        catalogue->defaultName = defaultName;
        PrintBox box(std::move(catalogue));
        box.resize(360, 700);
        box.show();
        KelComboBox* printers = box.printerBox()->editor();
        QStringList shown;
        for (int i = 0; i < printers->count(); ++i)
            shown << printers->itemButton(i)->text();
        QCOMPARE(shown, texts);
        QCOMPARE(box.emptyLabel()->isVisibleTo(&box), names.isEmpty());
        QCOMPARE(box.scrollArea()->isVisibleTo(&box), !names.isEmpty());
        if (names.isEmpty())
            return;
        QCOMPARE(printers->currentData().toString(), chosen);
        QCOMPARE(settings()->printer_name(), chosen);
        QVERIFY(box.printButton()->isEnabled());
        // The paper always starts at the printer's default.
        QCOMPARE(box.pageSizeBox()->editor()->currentData().toInt(), int(QPageSize::A4));
    }

    void colourModes_data()
    {
        QTest::addColumn<QList<QPrinter::ColorMode>>("modes");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("value");
        QTest::newRow("two modes, stored one") << QList<QPrinter::ColorMode> { QPrinter::Color, QPrinter::GrayScale }
                                               << true << true << int(QPrinter::GrayScale);
        QTest::newRow("one mode") << QList<QPrinter::ColorMode> { QPrinter::Color } << true << false
                                  << int(QPrinter::Color);
        QTest::newRow("no mode") << QList<QPrinter::ColorMode>() << false << false << -1;
    }

    void colourModes()
    {
        QFETCH(QList<QPrinter::ColorMode>, modes);
        QFETCH(bool, visible);
        QFETCH(bool, enabled);
        QFETCH(int, value);
        settings()->setPrinter_color_mode(QPrinter::GrayScale);
        auto catalogue = std::make_unique<FakeCatalogue>();
        catalogue->names = QStringList { "a" };
        catalogue->colorModes = modes;
        PrintBox box(std::move(catalogue));
        box.show();
        QCOMPARE(box.colorModeBox()->isVisibleTo(&box), visible);
        QCOMPARE(box.colorModeBox()->isEnabled(), enabled);
        if (value >= 0)
            QCOMPARE(box.colorModeBox()->editor()->currentData().toInt(), value);
    }

    void handsOverPrinter()
    {
        auto owned = std::make_unique<FakeCatalogue>();
        FakeCatalogue* catalogue = owned.get();
        catalogue->names = QStringList { "a" };
        catalogue->colorModes = { QPrinter::Color, QPrinter::GrayScale };
        PrintBox box(std::move(owned));
        box.show();
        box.setBookContext(QSharedPointer<BookContext>::create());
        box.copiesBox()->editor()->setValue(3);
        box.pageSizeBox()->editor()->setCurrentData(int(QPageSize::Letter));
        box.orientationBox()->editor()->setCurrentData(int(QPrinter::Landscape));
        box.colorModeBox()->editor()->setCurrentData(int(QPrinter::GrayScale));
        QCOMPARE(settings()->printer_copies_count(), 3);
        QVERIFY(settings()->printer_page_size_saved());
        QCOMPARE(settings()->printer_page_size(), QPageSize::Letter);
        QCOMPARE(settings()->printer_orientation(), QPrinter::Landscape);

        std::unique_ptr<QPrinter> printer = box.createPrinter();
        QVERIFY(printer);
        QCOMPARE(printer->copyCount(), 3);
        QCOMPARE(printer->pageLayout().pageSize().id(), QPageSize::Letter);
        QCOMPARE(printer->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(printer->colorMode(), QPrinter::GrayScale);
        QSignalSpy closes(&box, &ReadingSideBar::closeRequest);
        box.print();
        QCOMPARE(closes.count(), 1);

        // The printer goes away while the page is open: nothing is printed and the page stays.
        catalogue->names.clear();
        QVERIFY(!box.createPrinter());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Printer is gone"));
        box.print();
        QCOMPARE(closes.count(), 1);
        // Copies stay within 1 to 99.
        box.copiesBox()->editor()->setValue(500);
        QCOMPARE(box.copiesBox()->editor()->value(), 99);
    }

private:
    std::unique_ptr<Profiles> m_profiles;
};

int main(int argc, char** argv) { return runReadingTest<TestReadingBars>(argc, argv); }

#include "tst_readingbars.moc"
