#include "../kel-group/clicktesthelpers.h"
#include "librarybooks.h"
#include "temphome.h"

#include "appdirs.h"
#include "application.h"
#include "dialogs/bookpropertiesdialog.h"
#include "enums.h"
#include "keldialogrequests.h"
#include "kelsettings.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
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
#include <QDateTime>
#include <QImageReader>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSet>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUuid>
#include <QtEndian>

namespace {

BookModel* books() { return Application::instance()->bookModel(); }

QByteArray picture(const QSize& size, const char* format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A PNG whose header declares 30000 x 30000 pixels (checksum fixed): decoding it would need 3.6 GB.
QByteArray hugePng()
{
    QByteArray bytes = picture(QSize(1, 1), "png");
    qToBigEndian<quint32>(30000, bytes.data() + 16);
    qToBigEndian<quint32>(30000, bytes.data() + 20);
    quint32 crc = 0xffffffffu;
    for (int i = 12; i < 29; ++i) {
        crc ^= quint8(bytes.at(i));
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    qToBigEndian<quint32>(~crc, bytes.data() + 29);
    return bytes;
}

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = QDir::home().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A pointer left on the same spot by an earlier dialog would enter no button: it comes in from a corner.
void click(QWidget* widget)
{
    QTest::mouseMove(widget->window()->windowHandle(), QPoint(1, 1));
    clickThroughWindow(widget);
}

ServiceModeWindow* serviceWindow()
{
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
    int m_boxes = 0;
    QList<KelMessageBoxRequest> m_requests;
    int m_serial = 0;

    // A generated EPUB added to the library; a user cover is written when asked.
    int addBook(bool userCover = false, quint32 lastView = 0)
    {
        BookDto book;
        book.full_path = QDir::home().filePath(QStringLiteral("book%1.epub").arg(++m_serial));
        if (!librarybooks::write(book.full_path))
            return -1;
        book.title = QStringLiteral("Title %1").arg(m_serial);
        book.author = QStringLiteral("Ann Author");
        book.format = 1;
        book.time_last_view = lastView;
        book.metadata.insert(6, QStringLiteral("Old description"));
        book.use_user_cover = userCover;
        if (userCover && !picture(QSize(50, 50), "jpg").isEmpty()) {
            QFile file(coverFilePath(book.full_path));
            if (!file.open(QIODevice::WriteOnly) || file.write(picture(QSize(50, 50), "jpg")) <= 0)
                return -1;
        }
        return books()->addBook(book);
    }

private slots:
    void initTestCase()
    {
        Ui::instance()->setFileDialogHandler([this](const KelFileDialogRequest&) { return m_fileAnswer; });
        Ui::instance()->setMessageBoxHandler([this](KelMessageBoxRequest& request) {
            ++m_boxes;
            m_requests << request;
            return 1;
        });
        Ui::instance()->setRevealHandler([](const QString&) { return true; });
        QVERIFY(Application::instance()->init());
    }

    void init()
    {
        m_boxes = 0;
        m_requests.clear();
        m_fileAnswer.clear();
    }

    void saveFollowsEdits()
    {
        const int id = addBook();
        BookPropertiesDialog dialog(books()->indexById(id));
        dialog.show();
        QVERIFY(!dialog.saveButton()->isEnabled());
        KelPlainTextEdit* title = dialog.titleEdit()->editor();
        title->moveCursor(QTextCursor::End);
        QTest::keyClicks(title, QStringLiteral("x"));
        QVERIFY(dialog.saveButton()->isEnabled());
        QTest::keyClick(title, Qt::Key_Backspace);
        QCOMPARE(title->toPlainText(), QStringLiteral("Title %1").arg(m_serial));
        QVERIFY(!dialog.saveButton()->isEnabled());
        // Any other result than SAVE keeps the record.
        QTest::keyClicks(title, QStringLiteral("y"));
        dialog.done(0);
        QCOMPARE(BookProvider::instance()->bookById(id).title, QStringLiteral("Title %1").arg(m_serial));
    }

    void chosenCover_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("hadUserCover");
        QTest::addColumn<QSize>("stored"); // invalid: refused
        QTest::newRow("large png") << picture(QSize(1200, 800), "png") << false << QSize(600, 400);
        QTest::newRow("small jpeg enlarged") << picture(QSize(300, 200), "jpg") << false << QSize(600, 400);
        QTest::newRow("portrait") << picture(QSize(500, 1000), "png") << true << QSize(300, 600);
        QTest::newRow("unreadable") << QByteArray("not a picture at all") << true << QSize();
        QTest::newRow("over 100 megapixels") << hugePng() << true << QSize();
    }
    void chosenCover()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, hadUserCover);
        QFETCH(QSize, stored);
        const int id = addBook(hadUserCover);
        QVERIFY(id > 0);
        const QString cover = coverFilePath(books()->bookById(id).full_path);
        const QByteArray oldCover = readAll(cover);
        const int coversBefore = QDir(QFileInfo(cover).path()).entryList(QDir::Files).size();
        m_fileAnswer = QStringList { writeFile(QStringLiteral("chosen.img"), image) };

        BookPropertiesDialog dialog(books()->indexById(id));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.resetCoverButton()->isVisible(), hadUserCover);
        click(dialog.changeImageButton());
        QVERIFY(dialog.resetCoverButton()->isVisible());
        QVERIFY(dialog.saveButton()->isEnabled());
        dialog.titleEdit()->editor()->setText(QStringLiteral("Edited"));
        click(dialog.saveButton());
        QVERIFY(dialog.isHidden());

        const BookDto book = BookProvider::instance()->bookById(id);
        QCOMPARE(book.title, QStringLiteral("Edited"));
        QCOMPARE(m_boxes, stored.isValid() ? 0 : 1);
        QCOMPARE(book.use_user_cover, stored.isValid() || hadUserCover);
        if (stored.isValid()) {
            QImageReader reader(cover);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            QCOMPARE(reader.size(), stored);
        } else {
            QCOMPARE(readAll(cover), oldCover);
        }
        // No temporary file is left beside the covers.
        QCOMPARE(QDir(QFileInfo(cover).path()).entryList(QDir::Files).size(),
            coversBefore + (stored.isValid() && !hadUserCover ? 1 : 0));
    }

    void resetCover()
    {
        // Without a user cover: a chosen image taken back leaves nothing to save.
        const int plain = addBook(false);
        m_fileAnswer = QStringList { writeFile(QStringLiteral("pick.png"), picture(QSize(60, 90), "png")) };
        {
            BookPropertiesDialog dialog(books()->indexById(plain));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            click(dialog.changeImageButton());
            QVERIFY(dialog.saveButton()->isEnabled());
            click(dialog.resetCoverButton());
            QVERIFY(!dialog.resetCoverButton()->isVisible());
            QVERIFY(!dialog.saveButton()->isEnabled());
        }
        // With one: reset and SAVE remove the file and the flag.
        const int custom = addBook(true);
        const QString cover = coverFilePath(books()->bookById(custom).full_path);
        QVERIFY(QFile::exists(cover));
        BookPropertiesDialog dialog(books()->indexById(custom));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(!dialog.saveButton()->isEnabled());
        click(dialog.resetCoverButton());
        QVERIFY(dialog.saveButton()->isEnabled());
        click(dialog.saveButton());
        QVERIFY(!QFile::exists(cover));
        QVERIFY(!BookProvider::instance()->bookById(custom).use_user_cover);
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
        QStringList lines;
        for (int i = 0; i < 80; ++i)
            lines << QStringLiteral("Line %1 of a long description").arg(i);
        dialog.descriptionEdit()->editor()->setText(lines.join(QLatin1Char('\n')));
        QTRY_VERIFY(dialog.scrollArea()->verticalScrollBar()->maximum() > 0);
        dialog.scrollArea()->verticalScrollBar()->setValue(0);
        QWidget* thumbnail = dialog.thumbnail();
        const QPoint at = thumbnail->rect().center();
        QWheelEvent wheel(at, thumbnail->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
            Qt::NoScrollPhase, false);
        QApplication::sendEvent(thumbnail, &wheel);
        QTRY_VERIFY(dialog.scrollArea()->verticalScrollBar()->value() > 0);

        click(dialog.saveButton());
        QCOMPARE(BookProvider::instance()->getMetaData(id, 6), lines.join(QLatin1Char('\n')));
    }

    void serviceWindowLastTab()
    {
        KelSettings* store = Application::instance()->settings();
        store->remove(QStringLiteral("ServiceModeWindow_LastTab"));
        for (const int saved : { -1, 4, 99 }) {
            if (saved >= 0)
                store->setValue(QStringLiteral("ServiceModeWindow_LastTab"), saved);
            Ui::instance()->showServiceModeWindow();
            QPointer<ServiceModeWindow> window = serviceWindow();
            QVERIFY(window);
            QCOMPARE(window->tabWidget()->currentIndex(), saved == 4 ? 4 : 0);
            if (saved == -1) {
                QCOMPARE(window->tabWidget()->tabButton(0)->text(), QStringLiteral("General"));
                window->tabWidget()->setCurrentIndex(4);
                QCOMPARE(window->tabWidget()->tabButton(4)->text(), QStringLiteral("Styles"));
                window->close();
                QTRY_VERIFY(!window);
                QCOMPARE(store->value(QStringLiteral("ServiceModeWindow_LastTab")).toInt(), 4);
                QVERIFY(store->contains(QStringLiteral("ServiceModeWindow_Geometry")));
                Ui::instance()->showServiceModeWindow();
                window = serviceWindow();
                QCOMPARE(window->tabWidget()->currentIndex(), 4);
            }
            window->close();
            QTRY_VERIFY(!window);
        }
    }

    // Each gallery paints its own window colour whichever profile is current; the models are listed.
    void servicePages()
    {
        Ui::instance()->showServiceModeWindow();
        QPointer<ServiceModeWindow> window = serviceWindow();
        QVERIFY(window);
        auto* styles = window->findChild<KelTabWidget*>(QStringLiteral("Styles"));
        QVERIFY(styles && styles->count() == KelStyleManager::instance()->styles().size());
        QVERIFY(KelStyleManager::instance()->setCurrentStyle(QStringLiteral("NightStyle")));
        QSet<QRgb> seen;
        for (int i = 0; i < styles->count(); ++i) {
            KelStyle* style = KelStyleManager::instance()->styles().at(i);
            auto* page = styles->findChild<ServicePage_Style*>(style->id());
            QVERIFY(page);
            page->resize(900, 3000);
            const QImage image = page->grab().toImage();
            const QColor expected = style->color(2);
            QCOMPARE(image.pixelColor(image.width() - 3, image.height() - 3).rgb(), expected.rgb());
            seen << expected.rgb();
        }
        QCOMPARE(seen.size(), styles->count());

        auto* models = window->findChild<KelTabWidget*>(QStringLiteral("Models"));
        QVERIFY(models);
        const QList<QAbstractItemModel*> expected { Application::instance()->folderModel(),
            Application::instance()->bookModel(), Application::instance()->bookSortFilterModel() };
        QCOMPARE(models->count(), expected.size());
        for (int i = 0; i < models->count(); ++i) {
            auto* table = qobject_cast<QTableView*>(models->stackedWidget()->widget(i));
            QVERIFY(table && expected.contains(table->model()));
            QCOMPARE(models->tabButton(i)->text(), table->model()->objectName());
        }
        QVERIFY(books()->rowCount() > 0);
        window->close();
        QTRY_VERIFY(!window);
    }

    void dialogsPage_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("context");
        QTest::addColumn<int>("buttons");
        QTest::newRow("exists") << "Book already exists"
                                << "filename.epub" << 1;
        QTest::newRow("added") << "5 books added"
                               << "5" << 1;
        QTest::newRow("imported") << "2 books impotrted"
                                  << "2" << 1;
        QTest::newRow("exported") << "1 book exported"
                                  << "1" << 1;
        QTest::newRow("link") << "Open external link"
                              << "" << 2;
        QTest::newRow("folder") << "Remove category (user folder)"
                                << "" << 2;
        QTest::newRow("read") << "Read book after adding"
                              << "" << 2;
        QTest::newRow("clear") << "Move all to trash"
                               << "" << 2;
        QTest::newRow("from trash") << "Remove from trash"
                                    << "Some title" << 2;
        QTest::newRow("empty trash") << "Clear trash"
                                     << "" << 2;
        QTest::newRow("not found") << "Book file not found"
                                   << "filename.epub" << 1;
        QTest::newRow("damaged") << "Book damaged"
                                 << "damaged" << 1;
        QTest::newRow("protected") << "Book is DRM protected"
                                   << "" << 1;
        QTest::newRow("printer") << "Printer lost"
                                 << "Some printer name" << 1;
    }
    void dialogsPage()
    {
        QFETCH(QString, button);
        QFETCH(QString, context);
        QFETCH(int, buttons);
        ServicePage_Dialogs page;
        KelButton* target = nullptr;
        for (KelButton* candidate : page.findChildren<KelButton*>())
            target = candidate->text() == button ? candidate : target;
        QVERIFY(target);
        emit target->clicked();
        QCOMPARE(m_requests.size(), 1);
        QVERIFY2(m_requests.first().message.contains(context), qPrintable(m_requests.first().message));
        QCOMPARE(m_requests.first().buttonTexts.size() - m_requests.first().buttonTexts.count(QString()), buttons);
    }

    void passwordDemo()
    {
        QCOMPARE(ServicePage_Dialogs::isDemoPassword(QStringLiteral("946")), true);
        ServicePage_Dialogs page;
        KelButton* demo = nullptr;
        for (KelButton* candidate : page.findChildren<KelButton*>())
            demo = candidate->text() == QLatin1String("Password (946)") ? candidate : demo;
        QVERIFY(demo);
        QStringList refused;
        QTimer::singleShot(50, this, [&refused] {
            QWidget* box = nullptr;
            for (QWidget* top : QApplication::topLevelWidgets())
                box = top->objectName() == QLatin1String("PasswordBox") && top->isVisible() ? top : box;
            auto* edit = box ? box->findChild<QLineEdit*>(QStringLiteral("PasswordEdit")) : nullptr;
            auto* unlock = box ? box->findChild<KelButton*>(QStringLiteral("Unlock")) : nullptr;
            if (!edit || !unlock)
                return;
            for (const QString& text :
                { QStringLiteral("946 "), QStringLiteral("0946"), QString(), QStringLiteral("946") }) {
                edit->setText(text);
                emit unlock->clicked();
                if (box->isVisible())
                    refused << text;
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
    QCoreApplication::setApplicationName(QStringLiteral("book-properties-test"));
    Application app(QUuid::createUuid().toString(), argc, argv);
    registerSettingsMetaTypes();
    app.setSettings(new SettingsProvider(
        KelApplication::configFilePath(QStringLiteral("settings.ini")), QSettings::IniFormat, &app));
    app.ui();
    TestAppDialogs test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appdialogs.moc"
