#include "../app-look/applooktest.h"
#include "windowwaits.h"

#include "../support/epubbuilder.h"
#include "../support/mobiwriter.h"
#include "../support/testfiles.h"
#include "appdirs.h"
#include "keldialogrequests.h"
#include "mainwindow/librarypage/bookitempopupmenu.h"
#include "mainwindow/librarypage/bookitemwidget.h"
#include "mainwindow/librarypage/booktableheader.h"
#include "mainwindow/librarypage/bookthumbnailwidget.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "painting/kelgraphicsopacityeffect.h"
#include "styles/kelstyle.h"
#include "ui.h"
#include "widgets/kelbutton.h"
#include "widgets/wordwraplabel.h"
#include "windows/kelpopupmenubutton.h"
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QWindow>
#include <QtEndian>

#include <zlib.h>

namespace {

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
}

// A PNG that claims 30000 x 30000 pixels: a reader that trusts it would allocate 3.6 GB.
QByteArray hugePngHeader()
{
    QByteArray png = EpubBuilder::png(1, 1);
    // The IHDR chunk: width and height from 16, its checksum at 29.
    MobiWriter::putBigEndian(png, 16, 30000);
    MobiWriter::putBigEndian(png, 20, 30000);
    MobiWriter::putBigEndian(png, 29, quint32(::crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)));
    return png;
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, format, 95);
    return bytes;
}

// Red on the left, blue on the right, stored with the orientation "turn 90 degrees clockwise to show":
// shown upright, red is on top.
QByteArray turnedJpeg()
{
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    QByteArray jpeg = encode(image, "jpg");
    const QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08" // big-endian header, first directory at 8
                          "\x00\x01" // one entry
                          "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00" // orientation 6
                          "\x00\x00\x00\x00",
        26);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xff\xe1\x00\x00", 4);
    qToBigEndian<quint16>(payload.size() + 2, app1.data() + 2);
    return jpeg.left(2) + app1 + payload + jpeg.mid(2);
}

// A wide picture whose red channel runs from 0 at the left edge to 255 at the right.
QByteArray landscapePng()
{
    QImage image(600, 200, QImage::Format_RGB32);
    for (int x = 0; x < 600; ++x)
        for (int y = 0; y < 200; ++y)
            image.setPixel(x, y, qRgb(x * 255 / 599, 0, 0));
    return encode(image, "png");
}

struct Sample {
    double fx;
    double fy;
    QColor color;
};

QColor shaded(const QColor& base, double fy)
{
    const double alpha = fy <= 0.5 ? 0.66 * fy : 0.33 + 0.66 * (fy - 0.5);
    return QColor::fromRgbF(base.redF() * (1 - alpha), base.greenF() * (1 - alpha), base.blueF() * (1 - alpha));
}

// Pixels of the favourite star's own colour (its fill and its edge), whatever the style's tint.
int starPixels(QWidget* button)
{
    const QImage image = button->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += near(c, QColor(0xf7, 0xc6, 0x00), 24) || near(c, QColor(0xd9, 0xa4, 0x00), 24);
        }
    }
    return n;
}

int whitePixels(const QImage& image, const QRect& rect)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            n += qGray(image.pixel(x, y)) > 200;
    return n;
}

// A click through the window: the toolkit button takes a press only after the pointer came over it.
// Clicks alternate between two heights, so that no two make a double-click.
void clickButton(QWidget* button)
{
    static bool upper = false;
    upper = !upper;
    QWindow* window = button->window()->windowHandle();
    const QPoint at = button->mapTo(button->window(), QPoint(button->width() / 2, upper ? 8 : button->height() - 8));
    QTest::mouseMove(window, at);
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
}

enum State { Plain = 0, Trash = 1, Favorite = 2, InFolder = 4 };

// Whether the book's data folder is on disk (asking bookDataDir would make it).
bool hasDataDir(const QString& bookPath) { return QFileInfo::exists(booksDir() + QLatin1Char('/') + md5Hex(bookPath)); }

using Actions = QList<int>;

void mouse(QWidget* w, QEvent::Type type, const QPoint& at, Qt::MouseButtons held)
{
    QMouseEvent event(
        type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// The application object with the reader's UI controller, as the program makes it.
class UiApp : public KelApplication {
public:
    using KelApplication::KelApplication;

protected:
    KelUi* createUi() override { return new Ui(this); }
};

} // namespace

Q_DECLARE_METATYPE(QList<Sample>)

class TestLibraryItems : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_ui = Ui::instance();
        QVERIFY(m_ui);
        // The test runs in a temporary HOME: this is a fresh library of its own.
        QVERIFY(BookProvider::instance()->createConnection(databasePath()));
        m_folderId = BookProvider::instance()->addCategory(QStringLiteral("Shelf"), 0);
        QVERIFY(m_folderId > 0);
        m_ui->setMessageBoxHandler([this](KelMessageBoxRequest&) {
            ++m_questions;
            return m_answer;
        });
        m_menu = new BookItemPopupMenu;
    }
    void cleanupTestCase() { delete m_menu; }

    void thumbnails_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QList<Sample>>("samples");
        QTest::addColumn<int>("textPixels"); // -1: none expected, 1: some, 0: not checked
        QTest::addColumn<QString>("warning");

        const QColor orange("#FF8C00");
        const QList<Sample> placeholder { { 0.05, 0.05, shaded(orange, 0.05) }, { 0.05, 0.9, shaded(orange, 0.9) } };
        QTest::newRow("no path, no text in rows") << QByteArray() << QString() << 0 << placeholder << -1 << QString();
        QTest::newRow("missing file") << QByteArray() << "missing.png" << 2 << placeholder << 1 << "File not found";
        QTest::newRow("30000 x 30000 header") << hugePngHeader() << "huge.png" << 2 << placeholder << 1 << "too large";
        // Cover 166 wide out of 747: the cut starts at 290 of 747 and ends at 456.
        QTest::newRow("landscape centre-cropped")
            << landscapePng() << "wide.png" << 1
            << QList<Sample> { { 0.0, 0.5, QColor(99, 0, 0) }, { 0.995, 0.5, QColor(156, 0, 0) } } << 0 << QString();
        QTest::newRow("turned JPEG upright")
            << turnedJpeg() << "turned.jpg" << 1 << QList<Sample> { { 0.75, 0.25, Qt::red }, { 0.25, 0.75, Qt::blue } }
            << 0 << QString();
    }

    void thumbnails()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        QFETCH(int, mode);
        QFETCH(QList<Sample>, samples);
        QFETCH(int, textPixels);
        QFETCH(QString, warning);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));

        const QString path = name.isEmpty() ? QString() : m_dir.filePath(name);
        if (!content.isEmpty())
            QVERIFY(testfiles::write(path, content));
        Host host;
        auto* thumb = new BookThumbnailWidget(mode, &host);
        thumb->setTitle(QStringLiteral("Title"));
        thumb->setAuthor(QStringLiteral("Author"));
        thumb->setColorIndex(1);
        thumb->setImagePath(path);
        thumb->resize(thumb->sizeHint());
        QCOMPARE(thumb->sizeHint(), thumbnailGeometry(mode).outerSize());
        host.resize(thumb->size());
        thumb->grab();
        settle();
        const QImage image = thumb->grab().toImage();
        const QRect cover = thumb->coverRect();
        for (const Sample& s : samples) {
            const QPoint at(cover.left() + qMin(cover.width() - 1, int(s.fx * cover.width())),
                cover.top() + int(s.fy * cover.height()));
            VERIFY_NEAR(image.pixelColor(at), s.color);
        }
        if (textPixels < 0)
            QCOMPARE(whitePixels(image, cover), 0);
        else if (textPixels > 0)
            QVERIFY(whitePixels(image, cover) > 20);
    }

    // Every size shown of a replaced cover is read again.
    void reloadImage()
    {
        const QString path = m_dir.filePath(QStringLiteral("cover.png"));
        QVERIFY(testfiles::write(path, EpubBuilder::png(300, 450, 0x00ff00)));
        BookThumbnailWidget row(0), card(1);
        for (BookThumbnailWidget* w : { &row, &card }) {
            w->setImagePath(path);
            w->resize(w->sizeHint());
            w->grab();
        }
        settle();
        QCOMPARE(BookThumbnailWidget::thumbnailKeys(path).size(), 2);
        QVERIFY(testfiles::write(path, EpubBuilder::png(300, 450, 0x0000ff)));
        row.reloadImage();
        QVERIFY(BookThumbnailWidget::thumbnailKeys(path).isEmpty());
        for (BookThumbnailWidget* w : { &row, &card })
            w->grab();
        settle();
        for (BookThumbnailWidget* w : { &row, &card })
            VERIFY_NEAR(w->grab().toImage().pixelColor(w->coverRect().center()), QColor(Qt::blue));
    }

    // Clicks on column buttons (-1: the model sorts by author, descending), then the model's sort, the
    // checked button with its arrow, and the column edges with a separator (none by a hovered button or in cards).
    void header_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("viewMode");
        QTest::addColumn<int>("hovered");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QList<bool>>("lines");
        const QList<bool> all { true, true, true, true };
        QTest::newRow("author ascending") << QList<int> { 1 } << 0 << -1 << 1 << 0 << all;
        QTest::newRow("author descending")
            << QList<int> { 1, 1 } << 0 << 2 << 1 << 1 << QList<bool> { true, false, false, true };
        QTest::newRow("date keeps its order")
            << QList<int> { 2, 2, 1, 2 } << 1 << -1 << 2 << 1 << QList<bool> { false, false, false, false };
        QTest::newRow("sorted elsewhere") << QList<int> { -1 } << 0 << -1 << 1 << 1 << all;
    }

    void header()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, viewMode);
        QFETCH(int, hovered);
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QList<bool>, lines);
        QStandardItemModel source(3, 5);
        for (int c = 0; c < 5; ++c)
            source.setHeaderData(c, Qt::Horizontal, QStringLiteral("Column %1").arg(c));
        QSortFilterProxyModel proxy;
        proxy.setSourceModel(&source);
        proxy.sort(0);
        BookTableHeader header(&proxy);
        header.setViewMode(viewMode);
        header.resize(900, 40);
        header.show();
        QVERIFY(QTest::qWaitForWindowExposed(&header, windowwaits::kTimeoutMs));
        for (int click : clicks) {
            if (click < 0)
                proxy.sort(1, Qt::DescendingOrder);
            else
                clickButton(header.buttons()[click]);
            QCoreApplication::processEvents();
        }
        QCOMPARE(proxy.sortColumn(), column);
        QCOMPARE(int(proxy.sortOrder()), order);
        const KelArrowSpec arrow = kelStyle()->arrowSpec(order == Qt::DescendingOrder ? 1004 : 1003);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(header.buttons()[i]->isChecked(), i == column);
            if (i == column)
                QVERIFY(header.buttons()[i]->arrowParams() == arrow);
        }
        QEvent leave(QEvent::Leave), enter(QEvent::Enter);
        for (int i = 0; i < 5; ++i)
            QApplication::sendEvent(header.buttons()[i], i == hovered ? &enter : &leave);
        const QImage image = header.grab().toImage();
        for (int i = 1; i < 5; ++i) {
            const int x = header.buttons()[i]->x();
            QCOMPARE(!near(image.pixelColor(x, 20), image.pixelColor(x + 3, 20), 4), lines[i - 1]);
        }
        header.setColumnWidths({ { 1, 120 }, { 2, 90 }, { 4, -5 } });
        const QList<int> widths { 120, 90, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX };
        for (int i = 1; i < 5; ++i)
            QCOMPARE(header.buttons()[i]->maximumWidth(), widths[i - 1]);
    }

    // The folder submenu and the remove entry follow the folders given; a chosen folder comes with its id.
    void itemMenu_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QStringList>("others");
        QTest::addColumn<QString>("removeText");
        const QString long41 = QString(40, QLatin1Char('a')) + QLatin1Char('b');
        QTest::newRow("no other folder") << "Poems" << QStringList() << "Remove from category \"Poems\"";
        QTest::newRow("41 characters") << long41 << QStringList { "A" }
                                       << QStringLiteral("Remove from category \"%1...\"").arg(QString(40, 'a'));
    }

    void itemMenu()
    {
        QFETCH(QString, current);
        QFETCH(QStringList, others);
        QFETCH(QString, removeText);
        BookItemPopupMenu menu;
        menu.setFolders(QStringLiteral("Old"), { CategoryDto { 50, 0, QStringLiteral("Old"), 0 } });
        QList<CategoryDto> folders;
        for (int i = 0; i < others.size(); ++i)
            folders.append(CategoryDto { 100 + i, 0, others[i], 0 });
        menu.setFolders(current, folders);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(menu.actionButton(Enums::RemoveFromFolder)->text(), removeText);
        KelPopupMenuButton* moveTo = qobject_cast<KelPopupMenuButton*>(menu.actionButton(Enums::MoveToFolder));
        QCOMPARE(moveTo->isVisibleTo(&menu), !others.isEmpty());
        const QList<KelButton*> entries = moveTo->popupMenu()->findChildren<KelButton*>();
        QCOMPARE(entries.size(), others.size());

        QSignalSpy chosen(&menu, &BookItemPopupMenu::actionClicked);
        menu.setActionData(Enums::RemoveFromFolder, 7);
        emit menu.actionButton(Enums::RemoveFromFolder)->clicked();
        if (!entries.isEmpty())
            emit entries.last()->clicked();
        QCOMPARE(chosen.size(), entries.isEmpty() ? 1 : 2);
        QCOMPARE(chosen[0][0].value<Enums::LibraryAction>(), Enums::RemoveFromFolder);
        QCOMPARE(chosen[0][1].toInt(), 7);
        if (!entries.isEmpty()) {
            QCOMPARE(chosen[1][0].value<Enums::LibraryAction>(), Enums::MoveToFolder);
            QCOMPARE(chosen[1][1].toInt(), 100 + others.size() - 1);
        }
    }

    // Menu, keyboard and mouse actions with the answer to any question: what reaches the page, whether the
    // book and its data folder stay; the menu offers its state's entries, the first expected one is chosen.
    void actions_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("answer");
        QTest::addColumn<Actions>("expected");
        QTest::addColumn<int>("questions");
        QTest::addColumn<Actions>("offered"); // by the menu, in their order
        const Actions inTrash { Enums::RestoreFromTrash, Enums::DeleteFromLibrary, Enums::Properties };
        QTest::newRow("menu delete, no") << (Trash | Favorite) << "menu" << 2 << Actions {} << 1 << inTrash;
        QTest::newRow("menu delete, yes")
            << int(Trash) << "menu" << 1 << Actions { Enums::DeleteFromLibrary } << 1 << inTrash;
        QTest::newRow("menu to trash") << int(Plain) << "menu" << 0 << Actions { Enums::ToTrash } << 0
                                       << Actions { Enums::Open, Enums::ToFavorite, Enums::ToTrash, Enums::Properties };
        QTest::newRow("menu, a favourite out of its folder")
            << (Favorite | InFolder) << "menu" << 0 << Actions { Enums::RemoveFromFolder } << 0
            << Actions { Enums::Open, Enums::FromFavorite, Enums::ToTrash, Enums::Properties, Enums::RemoveFromFolder };
        QTest::newRow("Del outside the trash")
            << int(Plain) << "del" << 2 << Actions { Enums::ToTrash } << 0 << Actions {};
        QTest::newRow("Del in the trash, no") << int(Trash) << "del" << 2 << Actions {} << 1 << Actions {};
        QTest::newRow("double-click") << int(Plain) << "dblclick" << 0 << Actions { Enums::Open } << 0 << Actions {};
        QTest::newRow("double-click in the trash") << int(Trash) << "dblclick" << 0 << Actions {} << 0 << Actions {};
        const int far = QApplication::startDragDistance();
        QTest::newRow("move within the drag distance")
            << int(Plain) << QString::number(far) << 0 << Actions {} << 0 << Actions {};
        QTest::newRow("drag") << int(Plain) << QString::number(far + 1) << 0 << Actions { -1 } << 0 << Actions {};
    }

    void actions()
    {
        QFETCH(int, state);
        QFETCH(QString, input);
        QFETCH(int, answer);
        QFETCH(Actions, expected);
        QFETCH(int, questions);
        QFETCH(Actions, offered);
        const bool kept = !expected.contains(Enums::DeleteFromLibrary);
        const QModelIndex book = addBook(state);
        QVERIFY(book.isValid());
        const int id = book.data(BookModel::IdRole).toInt();
        const QString path = m_books.bookById(id).full_path;
        QVERIFY(hasDataDir(path));
        BookItemWidget item(Enums::View_Table, m_menu);
        item.readFrom(book);
        item.resize(900, 80);
        // As the page does: what the item sends is carried out on the library.
        connect(&item, &BookItemWidget::actionClicked, this,
            [this, id](BookItemWidget*, Enums::LibraryAction action, const QVariant& data) {
                m_books.setData(m_books.indexById(id), data, action);
            });
        QSignalSpy spy(&item, &BookItemWidget::actionClicked);
        QSignalSpy drags(&item, &BookItemWidget::dragStarted);
        m_answer = answer;
        m_questions = 0;
        if (input == QLatin1String("menu")) {
            emit item.customContextMenuRequested(QPoint());
            Actions shown;
            for (int a = Enums::Open; a <= Enums::RemoveFromFolder; ++a) {
                if (m_menu->actionButton(Enums::LibraryAction(a))->isVisibleTo(m_menu))
                    shown << a;
            }
            QCOMPARE(shown, offered);
            emit m_menu->actionButton(Enums::LibraryAction(expected.value(0, Enums::DeleteFromLibrary)))->clicked();
        } else if (input == QLatin1String("del")) {
            QTest::keyClick(&item, Qt::Key_Delete);
        } else if (input.toInt() > 0) {
            mouse(&item, QEvent::MouseButtonPress, QPoint(30, 30), Qt::LeftButton);
            mouse(&item, QEvent::MouseMove, QPoint(30 + input.toInt(), 30), Qt::LeftButton);
        } else {
            const QPoint at(30, 30);
            mouse(&item, QEvent::MouseButtonPress, at, Qt::LeftButton);
            mouse(&item, QEvent::MouseButtonRelease, at, Qt::NoButton);
            mouse(&item, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
            mouse(&item, QEvent::MouseButtonRelease, at, Qt::NoButton);
        }
        // Only a delete takes the row, the record and the data folder.
        QCOMPARE(m_books.indexById(id).isValid(), kept);
        QCOMPARE(m_books.bookById(id).id == id, kept);
        QCOMPARE(hasDataDir(path), kept);
        if (kept)
            QCOMPARE(m_books.indexById(id).data(BookModel::DeletedRole).toBool(),
                (state & Trash) || expected.contains(Enums::ToTrash));
        // A started drag counts as -1; a row drags its cover.
        Actions sent;
        for (const QList<QVariant>& call : spy)
            sent << call.at(1).toInt();
        QCOMPARE(sent + QVector<int>(drags.size(), -1).toList(), expected);
        QCOMPARE(m_questions, questions);
        if (!drags.isEmpty())
            QCOMPARE(drags[0][1].value<QPixmap>().size(), thumbnailGeometry(0).coverSize);
        m_menu->hide();
        QCoreApplication::processEvents();
    }

    // A recycled widget that reads another book gives up the focus and shows the new book; rows are
    // as high as their cover, cards as wide. A favourite's star keeps its own colour in a row as on
    // a card; the star of any other row takes the text's.
    void recycled()
    {
        BookItemWidget item(Enums::View_Table, m_menu);
        item.resize(900, 80);
        item.show();
        QVERIFY(QTest::qWaitForWindowExposed(&item, windowwaits::kTimeoutMs));
        const QModelIndex first = addBook(Plain, QStringLiteral("First"));
        item.readFrom(first);
        item.setFocus();
        QVERIFY(item.hasFocus());
        auto* star = item.findChild<KelButton*>(QStringLiteral("Favorite"));
        QVERIFY(star->isVisible());
        QCOMPARE(starPixels(star), 0);
        QVERIFY(m_books.setData(first, QVariant(), Enums::ToFavorite));
        item.readFrom(first);
        QVERIFY(item.hasFocus());
        QVERIFY2(starPixels(star) > 20, qPrintable(QString::number(starPixels(star))));
        item.readFrom(addBook(Plain, QStringLiteral("Second")));
        QVERIFY(!item.hasFocus());
        QCOMPARE(starPixels(star), 0);
        QCOMPARE(item.findChild<QLabel*>(QStringLiteral("Title"))->text(), QStringLiteral("Second"));
        QCOMPARE(item.findChild<QLabel*>(QStringLiteral("Author"))->text(), QStringLiteral("Second Author"));
        QVERIFY(!item.findChild<KelButton*>(QStringLiteral("Favorite"))->isChecked());
        QCOMPARE(item.height(), 80);
        QCOMPARE(item.thumbnail()->size(), QSize(79, 80));
        item.setItemMode(Enums::View_Cards);
        QCOMPARE(item.thumbnail()->size(), QSize(214, 293));
        QCOMPARE(item.width(), 214);
    }

    // A row's title and author break their lines at words and are cut after a whole word with an
    // ellipsis, never inside one unless a single word is wider than the column; the author's column
    // is not starved for a wide title's. Row width, title, author, then the lines each shows.
    void rowColumnsCutAtWords_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QStringList>("titleLines");
        QTest::addColumn<QStringList>("authorLines");
        QTest::newRow("fits") << 860 << "Loom"
                              << "Open Source Developers" << QStringList { "Loom" }
                              << QStringList { "Open Source", "Developers" };
        QTest::newRow("author cut after a word")
            << 860 << "Loom"
            << "Developers of the Open Source Loom Reading Project and Friends" << QStringList { "Loom" }
            << QStringList { "Developers of the", "Open Source Loom", "Reading Project…" };
        QTest::newRow("title cut after a word")
            << 860 << "The Long Night of the Loom When Every Shuttle Went Quiet and All the Weavers Slept Until Dawn"
            << "Ann"
            << QStringList { "The Long Night of the Loom", "When Every Shuttle Went Quiet",
                   "and All the Weavers Slept…" }
            << QStringList { "Ann" };
        QTest::newRow("a word wider than the column") << 700 << "Loom"
                                                      << "Ann Supercalifragilisticexpialidocious Developers"
                                                      << QStringList { "Loom" } << QStringList { "Ann", "Superc…" };
    }
    void rowColumnsCutAtWords()
    {
        QFETCH(int, width);
        QFETCH(QString, title);
        QFETCH(QString, author);
        QFETCH(QStringList, titleLines);
        QFETCH(QStringList, authorLines);
        BookItemWidget item(Enums::View_Table, m_menu);
        item.readFrom(addBook(Plain, title, author));
        // The columns as the page gives them: each at least as wide as its header's button.
        item.setColumnWidths({ { 1, 90 }, { 2, 90 }, { 3, 90 } });
        item.resize(width, 80);
        item.show();
        QVERIFY(QTest::qWaitForWindowExposed(&item, windowwaits::kTimeoutMs));
        auto* titleLabel = item.findChild<WordWrapLabel*>(QStringLiteral("Title"));
        auto* authorLabel = item.findChild<WordWrapLabel*>(QStringLiteral("Author"));
        item.grab();
        QCOMPARE(titleLabel->shownLines(), titleLines);
        QCOMPARE(authorLabel->shownLines(), authorLines);
        QCOMPARE(authorLabel->isTextElided(), authorLines.last().endsWith(QChar(0x2026)));
        QVERIFY2(authorLabel->width() * 2 >= titleLabel->width(),
            qPrintable(QStringLiteral("author %1, title %2").arg(authorLabel->width()).arg(titleLabel->width())));
    }

    // Hovering a card fades its trash button in and leaving fades it out; in the trash the restore
    // button does not look like the delete button beside it.
    void cardButtons()
    {
        BookItemWidget item(Enums::View_Cards, m_menu);
        const QModelIndex book = addBook(Favorite, QStringLiteral("Hovered"));
        item.readFrom(book);
        item.show();
        QVERIFY(QTest::qWaitForWindowExposed(&item, windowwaits::kTimeoutMs));
        auto* trash = item.findChild<KelButton*>(QStringLiteral("Trash"));
        auto* favorite = item.findChild<KelButton*>(QStringLiteral("Favorite"));
        auto* remove = item.findChild<KelButton*>(QStringLiteral("Delete"));
        QVERIFY(trash && favorite && remove);
        QVERIFY(favorite->isVisible());
        QVERIFY(!trash->isVisible());
        item.setAttribute(Qt::WA_UnderMouse, true);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&item, &enter);
        QVERIFY(trash->isVisible());
        // A fade runs over the button, not a plain show.
        auto* fade = qobject_cast<KelGraphicsOpacityEffect*>(trash->graphicsEffect());
        QVERIFY(fade);
        QVERIFY(fade->opacity() < 0.5);
        QTRY_COMPARE(fade->opacity(), 1.0);
        item.setAttribute(Qt::WA_UnderMouse, false);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&item, &leave);
        QVERIFY(trash->isVisible()); // fading out
        QTRY_VERIFY(!trash->isVisible());
        QVERIFY(favorite->isVisible());

        QVERIFY(m_books.setData(book, QVariant(), Enums::ToTrash));
        item.readFrom(book);
        item.setAttribute(Qt::WA_UnderMouse, true);
        QApplication::sendEvent(&item, &enter);
        QTRY_VERIFY(remove->isVisible());
        QVERIFY(trash->isVisible());
        QVERIFY(!favorite->isVisible());
        QVERIFY(trash->icon() != remove->icon());
        QVERIFY(trash->icon() != favorite->icon());
    }

private:
    // A new library book in the given state, with a data folder as reading it leaves; its row.
    QModelIndex addBook(int state, const QString& title = QStringLiteral("Book"), const QString& author = QString())
    {
        BookDto book;
        book.title = title;
        book.author = author.isEmpty() ? title + QStringLiteral(" Author") : author;
        book.full_path = m_dir.filePath(QStringLiteral("book-%1.epub").arg(++m_added));
        book.is_deleted = state & Trash ? 1 : 0;
        book.is_favorite = state & Favorite ? 1 : 0;
        const int id = m_books.addBook(book);
        if (id <= 0)
            return QModelIndex();
        if (state & InFolder)
            BookProvider::instance()->addBookToCategory(id, m_folderId);
        testfiles::write(bookDataDir(book.full_path) + QStringLiteral("/.settings"), "{}");
        return m_books.indexById(id);
    }

    Ui* m_ui = nullptr;
    BookModel m_books;
    int m_folderId = 0;
    int m_added = 0;
    BookItemPopupMenu* m_menu = nullptr;
    int m_answer = 0;
    int m_questions = 0;
    QTemporaryDir m_dir;
};

int main(int argc, char** argv)
{
    return runKelAppTest<UiApp, TestLibraryItems>(argc, argv, QStringLiteral("library-items-test"));
}

#include "tst_libraryitems.moc"
