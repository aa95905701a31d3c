#include "../kel-group/clicktesthelpers.h"
#include "librarybooks.h"
#include "temphome.h"

#include "appdirs.h"
#include "application.h"
#include "dialogs/bookpropertiesdialog.h"
#include "keldialogrequests.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
#include "kelsettings.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/booksortfiltermodel.h"
#include "models/foldermodel.h"
#include "servicemode/servicemodewindow.h"
#include "servicemode/servicepages.h"
#include "settingsprovider.h"
#include "styles/kelstyle.h"
#include "styles/kelstylemanager.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/kelplaintextedit.h"
#include "widgets/kelscrollarea.h"
#include "widgets/kelstackedwidget.h"
#include "widgets/keltabwidget.h"
#include "widgets/labeled.h"

#include <QBuffer>
#include <QImageReader>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QUuid>
#include <QtEndian>

namespace {

BookModel* books() { return Application::instance()->bookModel(); }
KelSettings* store() { return Application::instance()->settings(); }

QByteArray picture(const QSize& size, const char* format)
{
    QImage image(size, QImage::Format_RGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, format);
    return bytes;
}

// A bitmap whose header declares 30000 x 30000 pixels: decoding it would need 3.6 GB.
QByteArray hugeBitmap()
{
    QByteArray bytes = picture(QSize(1, 1), "bmp");
    qToLittleEndian<qint32>(30000, bytes.data() + 18);
    qToLittleEndian<qint32>(30000, bytes.data() + 22);
    return bytes;
}

QByteArray fileBytes(const QString& path, const QByteArray& write = QByteArray())
{
    QFile file(path);
    if (write.isEmpty())
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return file.open(QIODevice::WriteOnly) && file.write(write) == write.size() ? write : QByteArray();
}

// A pointer left on the same spot by an earlier dialog would enter no button: it comes in from a corner.
void click(QWidget* widget)
{
    QTest::mouseMove(widget->window()->windowHandle(), QPoint(1, 1));
    clickThroughWindow(widget);
}

KelButton* buttonByText(QWidget* page, const QString& text)
{
    for (KelButton* button : page->findChildren<KelButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

ServiceModeWindow* openServiceWindow()
{
    Ui::instance()->showServiceModeWindow();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<ServiceModeWindow*>(top))
            return window;
    }
    return nullptr;
}

} // namespace

class TestAppDialogs : public QObject {
    Q_OBJECT

    QStringList m_fileAnswer;
    QList<KelMessageBoxRequest> m_requests;
    int m_serial = 0;

    // A generated EPUB added to the library, with a 50 x 50 user cover when asked.
    int addBook(bool userCover = false, quint32 lastView = 0)
    {
        BookDto book;
        book.full_path = QDir::home().filePath(QStringLiteral("book%1.epub").arg(++m_serial));
        book.title = QStringLiteral("Title %1").arg(m_serial);
        book.time_last_view = lastView;
        book.metadata.insert(6, QStringLiteral("Old description"));
        book.use_user_cover = userCover;
        if (!librarybooks::write(book.full_path)
            || (userCover && fileBytes(coverFilePath(book.full_path), picture(QSize(50, 50), "jpg")).isEmpty()))
            return -1;
        return books()->addBook(book);
    }

private slots:
    void initTestCase()
    {
        Ui::instance()->setFileDialogHandler([this](const KelFileDialogRequest&) { return m_fileAnswer; });
        Ui::instance()->setMessageBoxHandler([this](KelMessageBoxRequest& request) {
            m_requests << request;
            return 1;
        });
        Ui::instance()->setRevealHandler([](const QString&) { return true; });
        QVERIFY(Application::instance()->init());
    }

    void init() { m_requests.clear(); }

    void cover_data()
    {
        QTest::addColumn<QByteArray>("image"); // empty: none chosen
        QTest::addColumn<bool>("hadUserCover");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<QSize>("stored"); // invalid: no new cover
        QTest::newRow("large png") << picture(QSize(1200, 800), "png") << false << false << QSize(600, 400);
        QTest::newRow("small jpeg enlarged") << picture(QSize(300, 200), "jpg") << false << false << QSize(600, 400);
        QTest::newRow("portrait over a user cover")
            << picture(QSize(500, 1000), "png") << true << false << QSize(300, 600);
        QTest::newRow("unreadable") << QByteArray("not a picture") << true << false << QSize();
        QTest::newRow("over 100 megapixels") << hugeBitmap() << true << false << QSize();
        QTest::newRow("chosen, then reset") << picture(QSize(60, 90), "png") << false << true << QSize();
        QTest::newRow("user cover reset") << QByteArray() << true << true << QSize();
    }
    void cover()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, hadUserCover);
        QFETCH(bool, reset);
        QFETCH(QSize, stored);
        const int id = addBook(hadUserCover);
        QVERIFY(id > 0);
        const QString cover = coverFilePath(books()->bookById(id).full_path);
        const QByteArray oldCover = fileBytes(cover);
        const int coversBefore = QDir(QFileInfo(cover).path()).entryList(QDir::Files).size();
        m_fileAnswer = QStringList { QDir::home().filePath(QStringLiteral("chosen.img")) };
        fileBytes(m_fileAnswer.first(), image);

        BookPropertiesDialog dialog(books()->indexById(id));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.resetCoverButton()->isVisible(), hadUserCover);
        if (!image.isEmpty())
            click(dialog.changeImageButton());
        if (reset)
            click(dialog.resetCoverButton());
        QCOMPARE(dialog.resetCoverButton()->isVisible(), !reset);
        QCOMPARE(dialog.saveButton()->isEnabled(), reset ? hadUserCover : true);
        dialog.titleEdit()->editor()->setText(QStringLiteral("Edited"));
        click(dialog.saveButton());

        // The other edits are saved whatever became of the cover.
        const BookDto book = BookProvider::instance()->bookById(id);
        QCOMPARE(book.title, QStringLiteral("Edited"));
        const bool refused = !image.isEmpty() && !reset && !stored.isValid();
        QCOMPARE(m_requests.size(), refused ? 1 : 0);
        QCOMPARE(book.use_user_cover, stored.isValid() || (hadUserCover && !reset));
        if (stored.isValid()) {
            QImageReader reader(cover);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            QCOMPARE(reader.size(), stored);
        } else {
            QCOMPARE(fileBytes(cover), reset ? QByteArray() : oldCover);
        }
        // No temporary file is left beside the covers.
        QCOMPARE(QDir(QFileInfo(cover).path()).entryList(QDir::Files).size(),
            coversBefore + (stored.isValid() && !hadUserCover) - (reset && hadUserCover));
    }

    void fields_data()
    {
        QTest::addColumn<quint32>("lastView");
        QTest::newRow("never opened") << quint32(0);
        QTest::newRow("opened") << quint32(QDateTime::currentSecsSinceEpoch() - 3600);
    }
    void fields()
    {
        QFETCH(quint32, lastView);
        const int id = addBook(false, lastView);
        BookPropertiesDialog dialog(books()->indexById(id));
        QCOMPARE(dialog.descriptionEdit()->editor()->toPlainText(), QStringLiteral("Old description"));
        QCOMPARE(dialog.lastRead()->isHidden(), lastView == 0);
        QCOMPARE(dialog.fileButton()->editor()->text(), QDir::toNativeSeparators(books()->bookById(id).full_path));
        dialog.resize(700, 500);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        // SAVE follows whether anything differs from the record.
        QVERIFY(!dialog.saveButton()->isEnabled());
        KelPlainTextEdit* title = dialog.titleEdit()->editor();
        title->moveCursor(QTextCursor::End);
        QTest::keyClicks(title, QStringLiteral("x"));
        QVERIFY(dialog.saveButton()->isEnabled());
        QTest::keyClick(title, Qt::Key_Backspace);
        QVERIFY(!dialog.saveButton()->isEnabled());

        const QString text = QStringLiteral("A line of a long description\n").repeated(80);
        dialog.descriptionEdit()->editor()->setText(text);
        QTRY_VERIFY(dialog.scrollArea()->verticalScrollBar()->maximum() > 0);
        dialog.scrollArea()->verticalScrollBar()->setValue(0);
        const QPoint at = dialog.thumbnail()->rect().center();
        QWheelEvent wheel(at, dialog.thumbnail()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(dialog.thumbnail(), &wheel);
        QTRY_VERIFY(dialog.scrollArea()->verticalScrollBar()->value() > 0);
        click(dialog.saveButton());
        QCOMPARE(BookProvider::instance()->getMetaData(id, 6), text);
    }

    void serviceWindow()
    {
        store()->remove(QStringLiteral("ServiceModeWindow_LastTab"));
        // No saved tab, then the tab left open, then an index without a tab.
        for (int saved : { -1, 4, 99 }) {
            if (saved > 4)
                store()->setValue(QStringLiteral("ServiceModeWindow_LastTab"), saved);
            QPointer<ServiceModeWindow> shown = openServiceWindow();
            QVERIFY(shown);
            QCOMPARE(shown->tabWidget()->currentIndex(), qMax(saved, 0) % 99);
            QCOMPARE(shown->tabWidget()->tabButton(0)->text(), QStringLiteral("General"));
            QCOMPARE(shown->tabWidget()->tabButton(4)->text(), QStringLiteral("Styles"));
            shown->tabWidget()->setCurrentIndex(4);
            shown->close();
            QTRY_VERIFY(!shown);
            QCOMPARE(store()->value(QStringLiteral("ServiceModeWindow_LastTab")).toInt(), 4);
            QVERIFY(store()->contains(QStringLiteral("ServiceModeWindow_Geometry")));
        }

        // Each gallery paints its own window colour whichever profile is current; the models are listed.
        QPointer<ServiceModeWindow> window = openServiceWindow();
        auto* styles = window->findChild<KelTabWidget*>(QStringLiteral("Styles"));
        const QList<KelStyle*> profiles = KelStyleManager::instance()->styles();
        QVERIFY(styles && profiles.size() == 3 && styles->count() == profiles.size());
        QVERIFY(KelStyleManager::instance()->setCurrentStyle(QStringLiteral("NightStyle")));
        for (KelStyle* style : profiles) {
            auto* page = styles->findChild<ServicePage_Style*>(style->id());
            QVERIFY(page);
            page->resize(900, 3000);
            const QImage image = page->grab().toImage();
            QCOMPARE(image.pixelColor(image.width() - 3, image.height() - 3).rgb(), style->color(2).rgb());
        }
        auto* models = window->findChild<KelTabWidget*>(QStringLiteral("Models"));
        Application* app = Application::instance();
        const QList<QAbstractItemModel*> expected { app->folderModel(), app->bookModel(), app->bookSortFilterModel() };
        QVERIFY(models && models->count() == expected.size() && books()->rowCount() > 0);
        for (int i = 0; i < models->count(); ++i) {
            auto* table = qobject_cast<QTableView*>(models->stackedWidget()->widget(i));
            QVERIFY(table && table->model() == expected.at(i));
            QCOMPARE(models->tabButton(i)->text(), expected.at(i)->objectName());
        }
        window->close();
        QTRY_VERIFY(!window);
    }

    void dialogsPage_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("context");
        QTest::addColumn<int>("buttons");
        const QList<std::tuple<const char*, const char*, int>> rows { { "Book already exists", "filename.epub", 1 },
            { "2 books added", "2", 1 }, { "5 books added", "5", 1 }, { "1 book impotrted", "1", 1 },
            { "2 books impotrted", "2", 1 }, { "5 books impotrted", "5", 1 }, { "1 book exported", "1", 1 },
            { "2 books exported", "2", 1 }, { "5 books exported", "5", 1 }, { "Open external link", "", 2 },
            { "Remove category (user folder)", "", 2 }, { "Read book after adding", "", 2 },
            { "Move all to trash", "", 2 }, { "Remove from trash", "Some title", 2 }, { "Clear trash", "", 2 },
            { "Book file not found", "filename.epub", 1 }, { "Book damaged", "damaged", 1 },
            { "Book is DRM protected", "", 1 }, { "Printer lost", "Some printer name", 1 } };
        for (const auto& [button, context, buttons] : rows)
            QTest::newRow(button) << QString(button) << QString(context) << buttons;
    }
    void dialogsPage()
    {
        QFETCH(QString, button);
        QFETCH(QString, context);
        QFETCH(int, buttons);
        ServicePage_Dialogs page;
        QVERIFY(buttonByText(&page, button));
        emit buttonByText(&page, button)->clicked();
        QCOMPARE(m_requests.size(), 1);
        QVERIFY2(m_requests.first().message.contains(context), qPrintable(m_requests.first().message));
        QCOMPARE(m_requests.first().buttonTexts.size() - m_requests.first().buttonTexts.count(QString()), buttons);
    }

    void passwordDemo()
    {
        ServicePage_Dialogs page;
        KelButton* demo = buttonByText(&page, QStringLiteral("Password (946)"));
        QVERIFY(demo);
        QStringList refused;
        // The real password box: each text is typed and Unlock pressed while the box is up.
        QTimer::singleShot(50, this, [&refused] {
            QWidget* box = QApplication::activeModalWidget();
            auto* edit = box ? box->findChild<QLineEdit*>(QStringLiteral("PasswordEdit")) : nullptr;
            auto* unlock = box ? box->findChild<KelButton*>(QStringLiteral("Unlock")) : nullptr;
            for (const char* text : { "946 ", "0946", "", "946" }) {
                if (!edit || !unlock || !box->isVisible())
                    return;
                edit->setText(QLatin1String(text));
                emit unlock->clicked();
                if (box->isVisible())
                    refused << QLatin1String(text);
            }
        });
        emit demo->clicked();
        QCOMPARE(refused, QStringList({ "946 ", "0946", "" }));
        QCOMPARE(m_requests.size(), 1);
        QVERIFY(m_requests.first().message.contains(QStringLiteral("Unlocked!")));
    }
};

int main(int argc, char** argv)
{
    TempHome home;
    QCoreApplication::setOrganizationName(QStringLiteral("Pageloom Test Org"));
    QCoreApplication::setApplicationName(QStringLiteral("app-dialogs-test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    app.ui();
    TestAppDialogs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appdialogs.moc"
