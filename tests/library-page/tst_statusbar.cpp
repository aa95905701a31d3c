#include "../app-look/applooktest.h"
#include "pagetest.h"

#include "enums.h"
#include "import/bookimporter.h"
#include "mainwindow/statusbar/statusbar.h"
#include "models/bookmodel.h"
#include "models/foldermodel.h"
#include "samplelibrary.h"
#include "settingsprovider.h"
#include "temphome.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconlabel.h"
#include "widgets/kellabel.h"
#include "widgets/progressbar.h"

#include <QSignalSpy>
#include <QTest>
#include <QUuid>
#include <memory>

class TestStatusBar : public QObject {
    Q_OBJECT

    Profiles profiles;
    std::unique_ptr<SampleLibrary> lib;
    std::unique_ptr<FolderModel> folders;
    std::unique_ptr<BookModel> books;

    SettingsProvider* settings() { return SettingsProvider::instance(); }
    void remember(int id, int page, int count)
    {
        settings()->setLast_book_id(id);
        settings()->setLast_book_page(page);
        settings()->setLast_book_page_count(count);
    }

private slots:
    void init()
    {
        lib = std::make_unique<SampleLibrary>();
        QVERIFY(lib->populate());
        folders = std::make_unique<FolderModel>();
        folders->reload();
        books = std::make_unique<BookModel>();
        books->setFolderModel(folders.get());
        books->selectAll();
        remember(-1, -1, -1);
    }
    void cleanup()
    {
        books.reset();
        folders.reset();
        lib.reset();
    }

    // The strip follows the last-book settings and the book's row; every change lands at the
    // next refresh, within 100 ms.
    void continueReading()
    {
        StatusBar bar(nullptr, books.get());
        bar.translateUi();
        bar.show();
        ContinueReadingWidget* strip = bar.continueReadingWidget();
        QVERIFY(!strip->isVisible()); // fresh install

        const int war = lib->id(QStringLiteral("war"));
        remember(war, 12, 300);
        QTRY_VERIFY_WITH_TIMEOUT(strip->isVisible(), 300);
        QCOMPARE(strip->titleLabel()->text(), QStringLiteral("War and Peace"));
        QCOMPARE(strip->pageLabel()->text(), QStringLiteral("p.12"));
        QCOMPARE(strip->pageCountLabel()->text(), QStringLiteral(" / 300"));

        QSignalSpy opened(books.get(), &BookModel::openBookClicked);
        click(strip->openButton());
        QCOMPARE(opened.value(0).value(0).toInt(), war);

        BookDto renamed = books->bookById(war);
        renamed.title = QStringLiteral("Peace and War");
        QVERIFY(books->setData(books->indexById(war), QVariant::fromValue(renamed), Enums::UpdateItem));
        QTRY_COMPARE_WITH_TIMEOUT(strip->titleLabel()->text(), QStringLiteral("Peace and War"), 150);

        QVERIFY(books->setData(books->indexById(war), QVariant(), Enums::ToTrash));
        QTest::qWait(150);
        QVERIFY(strip->isVisible());
        QVERIFY(books->setData(books->indexById(war), QVariant(), Enums::DeleteFromLibrary));
        QTRY_VERIFY_WITH_TIMEOUT(!strip->isVisible(), 300);
    }

    void progress_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("percent");
        QTest::newRow("third") << 1 << 3 << 33;
        QTest::newRow("no total") << 5 << 0 << 0;
        QTest::newRow("past the end") << 9 << 4 << 100;
        QTest::newRow("all") << 7 << 7 << 100;
    }
    void progress()
    {
        QFETCH(int, current);
        QFETCH(int, total);
        QFETCH(int, percent);
        StatusBar bar(nullptr, books.get());
        bar.show();
        ImportBooksWidget* strip = bar.importBooksWidget();
        QVERIFY(!strip->isVisible());
        emit bookimporter::instance()->importStarted();
        QVERIFY(strip->isVisible());
        emit bookimporter::instance()->progress(current, total);
        QCOMPARE(strip->doneLabel()->text(), QString::number(current));
        QCOMPARE(strip->totalLabel()->text(), QStringLiteral(" / %1").arg(total));
        QCOMPARE(strip->percentLabel()->text(), QStringLiteral("%1%").arg(percent));
        QCOMPARE(strip->progressBar()->value(), percent);
        emit bookimporter::instance()->finished(current, total);
        QVERIFY(!strip->isVisible());
    }

    // Pausing dims the progress and tells the importer; the texts follow the kind of work.
    void pauseAndModes()
    {
        StatusBar bar(nullptr, books.get());
        bar.translateUi();
        bar.show();
        ImportBooksWidget* strip = bar.importBooksWidget();
        emit bookimporter::instance()->importStarted();
        QCOMPARE(strip->titleLabel()->text(), QStringLiteral("Import books..."));
        QCOMPARE(strip->pauseButton()->toolTip(), QStringLiteral("Pause importing"));

        QSignalSpy toggled(strip, &ImportBooksWidget::togglePlayPause);
        click(strip->pauseButton());
        QCOMPARE(toggled.count(), 1);
        QVERIFY(bookimporter::instance()->isPaused());
        QVERIFY(!strip->progressBar()->isEnabled());
        QVERIFY(!strip->iconLabel()->isEnabled());
        QVERIFY(!strip->percentLabel()->isEnabled());
        QCOMPARE(strip->pauseButton()->toolTip(), QStringLiteral("Resume importing"));
        click(strip->pauseButton());
        QVERIFY(!bookimporter::instance()->isPaused());
        QVERIFY(strip->progressBar()->isEnabled());

        emit bookimporter::instance()->finished(0, 0);
        emit bookimporter::instance()->exportStarted();
        QVERIFY(strip->isVisible());
        QCOMPARE(strip->titleLabel()->text(), QStringLiteral("Export books..."));
        QCOMPARE(strip->stopButton()->toolTip(), QStringLiteral("Stop exporting"));
        QCOMPARE(strip->pauseButton()->toolTip(), QStringLiteral("Pause exporting"));
        emit bookimporter::instance()->exported(0, 0);
        QVERIFY(!strip->isVisible());
        emit bookimporter::instance()->importStarted();
        QCOMPARE(strip->stopButton()->toolTip(), QStringLiteral("Stop importing"));
    }
};

// The last-book settings need the application's settings object, and HOME must be temporary
// before anything asks Qt for the user's folders.
int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setApplicationName(QStringLiteral("library-page-test"));
    KelApplication app(QUuid::createUuid().toString(), argc, argv);
    SettingsProvider settings(KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    app.setSettings(&settings);
    TestStatusBar test;
    const int result = QTest::qExec(&test, argc, argv);
    app.setSettings(nullptr);
    return result;
}

#include "tst_statusbar.moc"
