// The print page over printers of the test's own: which printer it chooses, what it stores, which
// options it offers, and the printer it hands over.

#include "../app-look/applooktest.h"
#include "readingpagetest.h"

#include "bookcontext.h"
#include "mainwindow/readingpage/printbox.h"
#include "settingsprovider.h"
#include "widgets/kelbutton.h"
#include "widgets/kelcombobox.h"
#include "widgets/kellabel.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelspinbox.h"

#include <QSignalSpy>
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

class TestPrintBox : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_profiles = std::make_unique<Profiles>(); }

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

int main(int argc, char** argv) { return runReadingTest<TestPrintBox>(argc, argv); }

#include "tst_printbox.moc"
