#include "../kelapp/kelapptest.h"
#include "pagetest.h"

#include "application.h"
#include "enums.h"
#include "import/bookimporter.h"
#include "itemviews/kellistwidget.h"
#include "kellogger/kellogger.h"
#include "librarybooks.h"
#include "mainwindow/librarypage/booktableheader.h"
#include "mainwindow/librarypage/librarypage.h"
#include "mainwindow/mainwindow.h"
#include "metrics/metricsender.h"
#include "models/bookmodel.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "settingsprovider.h"
#include "temphome.h"
#include "ui.h"
#include "widgets/dropindicator.h"
#include "widgets/kelbutton.h"
#include "widgets/keliconlabel.h"

#include <QDialog>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>

class TestLibraryPage : public QObject {
    Q_OBJECT

    QStringList m_boxes; // the message of every box asked
    int m_answer = 1;
    QStringList m_chosen; // what the file dialog answers
    QTemporaryDir m_dir;
    LibraryPage* m_page = nullptr; // the main window's

    static BookSortFilterModel* filter() { return Application::instance()->bookSortFilterModel(); }
    static BookModel* books() { return Application::instance()->bookModel(); }

    QString book(const QString& name, const QString& title = QString())
    {
        librarybooks::BookSpec spec;
        spec.title = title.isEmpty() ? name : title;
        spec.coverSize = QSize();
        const QString path = m_dir.filePath(name);
        return librarybooks::write(path, spec) ? path : QString();
    }
    QString junk(const QString& name)
    {
        QFile file(m_dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write("not a book at all");
        return file.fileName();
    }
    // Waits for the importer and for the page's queued handling of its signals.
    void waitForImport(QSignalSpy& finished)
    {
        QVERIFY(finished.count() > 0 || finished.wait(20000));
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    void importThroughDialog(const QStringList& files)
    {
        m_chosen = files;
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        emit m_page->addBookButton()->clicked();
        waitForImport(finished);
    }
    QVector<MetricSender::Event> metrics(const QString& key)
    {
        QVector<MetricSender::Event> found;
        for (const MetricSender::Event& event : MetricSender::instance()->queuedEvents()) {
            if (event.key == key)
                found << event;
        }
        return found;
    }
    // What a click on a view button does: it checks the button, and the group reports it.
    void choose(int mode)
    {
        m_page->viewModeButton(mode)->setChecked(true);
        QCoreApplication::processEvents();
    }
    QMimeData* uriList(const QStringList& paths)
    {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        mime->setUrls(urls);
        return mime;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Ui::instance()->setMessageBoxHandler([this](KelMessageBoxRequest& request) {
            m_boxes << request.message;
            return m_answer;
        });
        Ui::instance()->setFileDialogHandler([this](const KelFileDialogRequest&) { return m_chosen; });
        MetricSender::init(QStringLiteral("device"), QStringLiteral("4"), QStringLiteral("1.0"), true,
            QStringLiteral("http://127.0.0.1:9/"));
        QVERIFY(Application::instance()->init());
        auto* window = qobject_cast<MainWindow*>(Ui::instance()->mainWindow());
        QVERIFY(window);
        m_page = window->libraryPage();
        window->resize(1100, 700);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    void init() { m_boxes.clear(); }

    void emptyTexts_data()
    {
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("text");
        QTest::newRow("all") << int(Enums::AllBooks) << "" << QStringLiteral("You don’t have a books in \"All\"");
        QTest::newRow("format") << int(Enums::BookFormat + 3) << ""
                                << QStringLiteral("You don’t have a books in \"pdf\"");
        QTest::newRow("search in trash") << int(Enums::Deleted) << "x"
                                         << QStringLiteral("\"x\" is not found in \"Deleted\"");
        QTest::newRow("unknown, nothing") << 5 << "" << QStringLiteral("You don’t have a books");
        QTest::newRow("unknown, search") << 5 << "(" << QStringLiteral("\"(\" not found");
    }
    void emptyTexts()
    {
        QFETCH(int, category);
        QFETCH(QString, search);
        QFETCH(QString, text);
        filter()->setFilterCategory(category);
        QTest::keyClicks(m_page->searchLineEdit(), search);
        QCOMPARE(filter()->searchText(), search);
        QCOMPARE(m_page->emptyLabel()->text(), text);
        QVERIFY(!m_page->emptyLabel()->isHidden());
        m_page->setTrashMode(category == Enums::Deleted);
        QCOMPARE(m_page->restoreAllButton()->isHidden(), category != Enums::Deleted);
        QCOMPARE(m_page->clearTrashButton()->isHidden(), category != Enums::Deleted);
        QCOMPARE(m_page->addBookButton()->isHidden(), category == Enums::Deleted);
        m_page->searchLineEdit()->clear();
        m_page->setTrashMode(false);
        filter()->setFilterCategory(Enums::AllBooks);
    }

    // The mode is stored; the metric goes out only on a change.
    void viewMode()
    {
        QCOMPARE(m_page->viewMode(), int(Enums::View_Cards));
        const int before = metrics(QStringLiteral("chview")).size();
        choose(Enums::View_Table);
        QTRY_COMPARE(m_page->viewMode(), int(Enums::View_Table));
        QCOMPARE(int(SettingsProvider::instance()->library_view_mode()), int(Enums::View_Table));
        QCOMPARE(m_page->tableHeader()->viewMode(), int(Enums::View_Table));
        QCOMPARE(metrics(QStringLiteral("chview")).size(), before + 1);
        QCOMPARE(metrics(QStringLiteral("chview")).last().value, QStringLiteral("0"));
        choose(Enums::View_Table);
        QCOMPARE(metrics(QStringLiteral("chview")).size(), before + 1);
        choose(Enums::View_Cards);
        QTRY_COMPARE(m_page->viewMode(), int(Enums::View_Cards));
        QCOMPARE(metrics(QStringLiteral("chview")).last().value, QStringLiteral("1"));
        QCOMPARE(m_page->tableHeader()->viewMode(), int(Enums::View_Cards));
    }

    void addOneBook()
    {
        filter()->setFilterCategory(Enums::Favorites);
        QSignalSpy opened(books(), &BookModel::openBookClicked);
        m_answer = 2; // "Start reading now"
        importThroughDialog({ book(QStringLiteral("one.epub"), QStringLiteral("Only One")) });
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("Book added!")), qPrintable(m_boxes.first()));
        QCOMPARE(filter()->filterCategory(), int(Enums::AllBooks));
        QCOMPARE(opened.size(), 1);
        QCOMPARE(books()->bookById(opened.first().first().toInt()).title, QStringLiteral("Only One"));
        QVERIFY(m_page->emptyLabel()->isHidden());
        m_answer = 1;
    }

    void addSeveralBooks()
    {
        importThroughDialog(
            { book(QStringLiteral("a.epub")), book(QStringLiteral("b.epub")), book(QStringLiteral("c.fb2")) });
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("3 books added!")), qPrintable(m_boxes.first()));
        const MetricSender::Event added = metrics(QStringLiteral("addedbks")).last();
        QCOMPARE(added.value, QStringLiteral("3"));
        QCOMPARE(added.extra, QStringLiteral("epub_2,fb2"));
    }

    // Without an added book only the first applicable box shows.
    void failures()
    {
        const QString existing = m_dir.filePath(QStringLiteral("a.epub"));
        importThroughDialog({ junk(QStringLiteral("bad.epub")), existing });
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("damaged")), qPrintable(m_boxes.first()));

        m_boxes.clear();
        importThroughDialog({ existing, m_dir.filePath(QStringLiteral("b.epub")) });
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(existing.toHtmlEscaped()), qPrintable(m_boxes.first()));

        // Books the database refuses to store are reported, not passed over in silence.
        m_boxes.clear();
        QSqlQuery query;
        QVERIFY(query.exec(QStringLiteral(
            "CREATE TRIGGER refuse_add BEFORE INSERT ON books BEGIN SELECT RAISE(ABORT, 'read-only'); END")));
        const int rows = books()->rowCount();
        importThroughDialog({ book(QStringLiteral("refused.fb2")) });
        QVERIFY(query.exec(QStringLiteral("DROP TRIGGER refuse_add")));
        QCOMPARE(books()->rowCount(), rows);
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("damaged")), qPrintable(m_boxes.first()));
    }

    void drops_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("modal");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("book") << QStringList { "drop.fb2" } << false << true;
        QTest::newRow("only unsupported") << QStringList { "notes.doc" } << false << false;
        QTest::newRow("during a modal dialog") << QStringList { "modal.fb2" } << true << false;
        QTest::newRow("folder") << QStringList { "shelf/" } << false << true;
    }
    void drops()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, modal);
        QFETCH(bool, accepted);
        QStringList paths;
        for (const QString& name : names) {
            if (name.endsWith(QLatin1Char('/'))) {
                QDir(m_dir.path()).mkpath(name);
                paths << m_dir.filePath(name.chopped(1));
                book(name + QStringLiteral("in-folder.txt"));
            } else {
                paths << (name.endsWith(QStringLiteral(".doc")) ? junk(name) : book(name));
            }
        }
        std::unique_ptr<QMimeData> mime(uriList(paths));
        QDialog dialog;
        if (modal) {
            dialog.setModal(true);
            dialog.show();
            QTRY_VERIFY(QApplication::activeModalWidget());
        }
        filter()->setFilterCategory(Enums::Favorites);
        const QPoint at(m_page->width() / 2, m_page->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_page, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QCOMPARE(!m_page->dropIndicator()->isHidden(), accepted);
        dialog.hide();
        if (!accepted)
            return;
        const int rows = books()->rowCount();
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        QDropEvent drop(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_page, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(filter()->filterCategory(), int(Enums::AllBooks));
        waitForImport(finished);
        QCOMPARE(books()->rowCount(), rows + 1);
        QTRY_VERIFY(m_page->dropIndicator()->isHidden());
    }

    // Paths handed over by a second start are added like a drop of them.
    void handOver()
    {
        const int rows = books()->rowCount();
        QSignalSpy finished(bookimporter::instance(), &bookimporter::finished);
        emit Application::instance()->filesReceived(
            { book(QStringLiteral("given1.fb2")), book(QStringLiteral("given2.epub")), junk(QStringLiteral("x.doc")) });
        waitForImport(finished);
        QCOMPARE(books()->rowCount(), rows + 2);
        QVERIFY2(m_boxes.value(0).contains(QStringLiteral("2 books added!")), qPrintable(m_boxes.value(0)));
    }
};

int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Library Page Test Org"));
    QCoreApplication::setApplicationName(QStringLiteral("Library Page Test"));
    KelLogger::setAppDirName(QStringLiteral("Library Page Test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    TestLibraryPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_librarypage.moc"
