// The real program under a window manager (PL_WM_MODE openbox or metacity, started on the test's own
// X server): every question and dialog is stacked above the main window by the window manager, as the
// server reports it, and answers the pointer.

#include "epubbuilder.h"
#include "hotjournal.h"
#include "librarybooks.h"
#include "mobiwriter.h"
#include "pdfencryption.h"
#include "programdriver.h"
#include "smalldisk.h"
#include "sqlitepages.h"
#include "testfiles.h"
#include "windowmanager.h"
#include "windowwaits.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

using namespace programdriver;

QByteArray mode() { return qgetenv("PL_WM_MODE"); }

// The program's managed windows, bottom to top, and the main window among them.
struct Stack {
    QVector<quint32> windows; // of the program only
    quint32 main = 0;

    int indexOf(quint32 window) const { return windows.indexOf(window); }
    // The windows that belong to the main window (the question, a dialog; not the shadows).
    QVector<quint32> owned() const
    {
        QVector<quint32> result;
        windowmanager::XConnection c;
        const quint32 utility = c.atom("_NET_WM_WINDOW_TYPE_UTILITY");
        for (quint32 window : windows) {
            if (window != main && windowmanager::transientFor(window) == main
                && !c.values(window, "_NET_WM_WINDOW_TYPE").contains(utility))
                result << window;
        }
        return result;
    }
    // The windows that show a box, whoever owns them: neither the main window nor its splash nor
    // a shadow.
    QVector<quint32> boxes() const
    {
        QVector<quint32> result;
        windowmanager::XConnection c;
        const quint32 splash = c.atom("_NET_WM_WINDOW_TYPE_SPLASH");
        const quint32 utility = c.atom("_NET_WM_WINDOW_TYPE_UTILITY");
        for (quint32 window : windows) {
            const QVector<quint32> types = c.values(window, "_NET_WM_WINDOW_TYPE");
            if (window != main && !types.contains(splash) && !types.contains(utility))
                result << window;
        }
        return result;
    }
};

Stack stackOf(qint64 pid)
{
    Stack stack;
    windowmanager::XConnection c;
    for (quint32 window : windowmanager::stacking()) {
        if (c.values(window, "_NET_WM_PID").value(0) != quint32(pid))
            continue;
        stack.windows << window;
        if (c.text(window, "_NET_WM_NAME") == "Folvane")
            stack.main = window;
    }
    return stack;
}

QString hex(quint32 window) { return QStringLiteral("0x%1").arg(window, 0, 16); }

QString describe(const Stack& stack)
{
    QStringList parts;
    windowmanager::XConnection c;
    for (quint32 window : stack.windows) {
        parts << QStringLiteral("%1 '%2' for %3")
                     .arg(hex(window), QString::fromUtf8(c.text(window, "_NET_WM_NAME")),
                         hex(windowmanager::transientFor(window)));
    }
    return QStringLiteral("main %1; bottom to top: %2").arg(hex(stack.main), parts.join(QStringLiteral(", ")));
}

// A picture on the first page of each hostile book: its colour on the screen says the page shows.
const QColor kPageMark(0x90, 0x10, 0x60);
const char* const kMarkTag = "<img recindex=\"00001\"/>";

// 250,000 unclosed headings, all but five of them empty.
QByteArray unclosedHeadings()
{
    MobiWriter book;
    book.setFullName("Unclosed headings");
    QByteArray text = "<html><body>";
    for (int i = 0; i < 250000; ++i) {
        text += i % 50000 ? QByteArray("<h1>")
                          : "<h1>Part " + QByteArray::number(i / 50000 + 1) + "<p>" + (i ? "" : kMarkTag) + "Text.</p>";
    }
    book.setText(text + "</body></html>");
    book.addImage(MobiWriter::image(QSize(240, 160), kPageMark));
    return book.build();
}

// One element of 200,000 attributes in the first chapter.
bool writeCrowdedEpub(const QString& path)
{
    QString crowded = QStringLiteral("<p");
    for (int i = 0; i < 200000; ++i)
        crowded += QStringLiteral(" a%1=\"\"").arg(i);
    EpubBuilder book;
    book.setTitle(QStringLiteral("Many attributes"));
    book.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"),
        crowded + QStringLiteral(">Crowded.</p><p><img src=\"images/mark.png\" alt=\"\"/></p>"));
    book.addChapter(
        QStringLiteral("c2"), QStringLiteral("c2.xhtml"), QStringLiteral("Two"), QStringLiteral("<p>Two.</p>"));
    book.addResource(QStringLiteral("mark"), QStringLiteral("images/mark.png"),
        MobiWriter::image(QSize(240, 160), kPageMark), QStringLiteral("image/png"));
    return book.write(path);
}

// A chapter that tries to run its own script: a refresh to a page of script a second after it
// opens, and a link inside noembed (which the view reads as markup) to a javascript: address that
// would empty the page. The link is a block of its own colour, for a click to find.
const QColor kLinkMark(0x20, 0x90, 0x40);

bool writeScriptingEpub(const QString& path)
{
    const QString script = QStringLiteral("document.documentElement.innerHTML=''");
    const QByteArray chapter = "<html><head><meta http-equiv=\"refresh\" content=\"1;url=data:text/html,%3Cscript%3E"
        + QUrl::toPercentEncoding(script) + "%3C/script%3E\"><title>Crafted</title></head><body>"
        + "<p><img src=\"images/mark.png\" alt=\"\"></p><noembed><a href=\"javascript:" + script.toUtf8()
        + "\" style=\"display:block;width:300px;height:120px;background:#209040\">Next</a></noembed></body></html>";
    EpubBuilder book;
    book.setTitle(QStringLiteral("Scripting page"));
    book.addItem(QStringLiteral("c1"), QStringLiteral("crafted.html"), chapter);
    book.addResource(QStringLiteral("mark"), QStringLiteral("images/mark.png"),
        MobiWriter::image(QSize(240, 160), kPageMark), QStringLiteral("image/png"));
    return book.write(path);
}

// What a book's script leaves on the page wherever it runs: a block of its own colour at the
// right of the screen, beside the pictures that say which page shows.
const QColor kScriptMark(0x10, 0xc0, 0xd0);
const QByteArray kMarkScript = "var d=document.createElement('div');d.style.cssText='position:fixed;right:0;top:0;"
                               "width:300px;height:300px;background:#10c0d0;z-index:2147483647';"
                               "document.documentElement.appendChild(d)";

// A chapter that uses a drawing hidden in its own title through an address with a query. Not
// well-formed XML (an HTML entity), it is shown as HTML, whose title is text with no handler for
// any pass to find; the use loads the chapter once more as a drawing, read as XML, whose title
// holds an image that fails at once and marks the page.
QByteArray selfUseChapter(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><head><title><svg xmlns=\"http://www.w3.org/2000/svg\" "
           "id=\"a\"><image href=\"data:,\" xlink:href=\"data:,\" width=\"10\" height=\"10\" onerror=\""
        + kMarkScript + "\"/></svg></title></head><body><p>A&nbsp;chapter.</p>" + body
        + "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20\" height=\"20\"><use xlink:href=\"?x#a\"/></svg>"
          "</body></html>";
}

bool writeSelfUseEpub(const QString& path)
{
    EpubBuilder book;
    book.setTitle(QStringLiteral("Use of itself"));
    book.addItem(QStringLiteral("c1"), QStringLiteral("use.xhtml"),
        selfUseChapter("<p><img src=\"images/mark.png\" alt=\"\"/></p>"));
    book.addResource(QStringLiteral("mark"), QStringLiteral("images/mark.png"),
        MobiWriter::image(QSize(240, 160), kPageMark), QStringLiteral("image/png"));
    return book.write(path);
}

// A page whose one link, a block of its own colour, leads out of the book.
bool writeOutsideLinkEpub(const QString& path)
{
    EpubBuilder book;
    book.setTitle(QStringLiteral("Outside link"));
    book.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"),
        QStringLiteral("<p><a href=\"https://example.org/away\" style=\"display:block;width:300px;height:120px;"
                       "background:#209040\">Away</a></p>"));
    return book.write(path);
}

// Two chapters, the first page marked by its picture.
bool writeMarkedEpub(const QString& path, const QString& title)
{
    EpubBuilder book;
    book.setTitle(title);
    book.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"),
        QStringLiteral("<p><img src=\"images/mark.png\" alt=\"\"/></p><p>One.</p>"));
    book.addChapter(
        QStringLiteral("c2"), QStringLiteral("c2.xhtml"), QStringLiteral("Two"), QStringLiteral("<p>Two.</p>"));
    book.addResource(QStringLiteral("mark"), QStringLiteral("images/mark.png"),
        MobiWriter::image(QSize(240, 160), kPageMark), QStringLiteral("image/png"));
    return book.write(path);
}

// Three chapters in the contents, the second long: a click on the second and one on the third in
// one batch start the third while the second still loads. The third shows its own picture.
const QColor kThirdMark(0xc0, 0x70, 0x10);

QByteArray entryChapter(const QByteArray& body, bool scripted)
{
    const QByteArray script = scripted ? "<script>" + kMarkScript + "</script>" : QByteArray();
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\">" + script
        + "<head><title>Entry</title></head><body" + (scripted ? " onload=\"" + kMarkScript + "\"" : "") + ">" + body
        + "</body></html>";
}

QByteArray longProse()
{
    QByteArray prose;
    for (int i = 0; i < 3000; ++i)
        prose += "<p>A paragraph of the long chapter, one of many that keep its load going.</p>";
    return prose;
}

const QByteArray kThirdBody = "<p><img src=\"images/third.png\" alt=\"\"/></p><p>Three.</p>";

bool writeTwoEntriesEpub(const QString& path)
{
    EpubBuilder book;
    book.setTitle(QStringLiteral("Two entries"));
    book.addItem(QStringLiteral("c1"), QStringLiteral("one.xhtml"),
        entryChapter("<p><img src=\"images/mark.png\" alt=\"\"/></p><p>One.</p>", false));
    book.addItem(QStringLiteral("c2"), QStringLiteral("two.xhtml"), entryChapter(longProse(), false));
    book.addItem(QStringLiteral("c3"), QStringLiteral("three.xhtml"), entryChapter(kThirdBody, false));
    book.setNavPoints({ { QStringLiteral("One"), QStringLiteral("one.xhtml"), {} },
        { QStringLiteral("Two"), QStringLiteral("two.xhtml"), {} },
        { QStringLiteral("Three"), QStringLiteral("three.xhtml"), {} } });
    book.addResource(QStringLiteral("mark"), QStringLiteral("images/mark.png"),
        MobiWriter::image(QSize(240, 160), kPageMark), QStringLiteral("image/png"));
    book.addResource(QStringLiteral("third"), QStringLiteral("images/third.png"),
        MobiWriter::image(QSize(240, 160), kThirdMark), QStringLiteral("image/png"));
    return book.write(path);
}

// The converted files of the second and third chapters, written over with the book's script in
// places that run only when scripting is on while a chapter is parsed, as a pass that missed the
// script would leave them: only the load's own wall stands between them and the page.
bool scriptConvertedEntries(const QString& home)
{
    int written = 0;
    QDirIterator files(home, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        const QString name = files.fileName();
        if (name.startsWith(QLatin1String("two.xhtml")))
            written += testfiles::write(path, entryChapter(longProse(), true));
        else if (name.startsWith(QLatin1String("three.xhtml")))
            written += testfiles::write(path, entryChapter(kThirdBody, true));
    }
    return written == 2;
}

// The record list names a 2 MB image record again and again.
QByteArray repeatedRecords()
{
    MobiWriter writer;
    writer.setFullName("Repeated records");
    writer.setText(QByteArray("<html><body><p>") + kMarkTag + "</p><p>text</p></body></html>");
    writer.addImage(MobiWriter::image(QSize(240, 160), kPageMark));
    return writer.buildWithRepeatedRecords();
}

// The books of the large library share one cover colour that the application's looks don't use,
// so a card is told by its pixels; a favourite's star has its own colour.
const QColor kShelfCover(0x2a, 0x9d, 0x8f);
const QColor kStar(0xf7, 0xc6, 0x00);
const int kShelfBooks = 300;

QByteArray fileHash(const QString& path)
{
    return QCryptographicHash::hash(testfiles::read(path), QCryptographicHash::Sha1).toHex();
}

// The top left corners of the covers in the first row of cards.
QList<QPoint> firstRowOfCards(const QImage& picture)
{
    const ColourSpot covers = findColour(picture, kShelfCover);
    QList<QPoint> corners;
    if (!covers.count)
        return corners;
    // Across the row, below a favourite's star.
    bool inCover = false;
    for (int x = 0; x < picture.width(); ++x) {
        const bool cover = findColour(picture.copy(x, covers.corner.y() + 60, 1, 1), kShelfCover).count > 0;
        if (cover && !inCover)
            corners << QPoint(x, covers.corner.y());
        inCover = cover;
    }
    return corners;
}

// Whether the card whose cover begins at the corner shows its star (a favourite's, or any card's
// under the pointer).
bool showsStar(const QImage& picture, const QPoint& corner)
{
    return findColour(picture.copy(QRect(corner, QSize(48, 44))), kStar).count > 5;
}

// Whether the book info dialog shows its fields whole: their right borders stand as one line a little
// in from the window's right edge, between the title bar and the footer. A cut dialog shows the
// insides of its fields there, crossed only by their top and bottom borders.
bool fieldsEndInside(const QImage& box)
{
    const QColor background = box.pixelColor(box.width() / 2, 8); // the title bar's
    int longest = 0;
    for (int x = box.width() - 30; x < box.width() - 18; ++x) {
        int run = 0;
        for (int y = 70; y < box.height() - 90; ++y) {
            const QColor c = box.pixelColor(x, y);
            const int difference = qAbs(c.red() - background.red()) + qAbs(c.green() - background.green())
                + qAbs(c.blue() - background.blue());
            run = difference > 60 ? run + 1 : 0;
            longest = qMax(longest, run);
        }
    }
    return longest >= 24;
}

} // namespace

class DialogsWmTest : public QObject {
    Q_OBJECT

    std::unique_ptr<windowmanager::Session> m_managers;
    QTemporaryDir m_books;
    QString m_artifacts;
    // A library of a few hundred books that the program built once, and a copy of its file.
    QTemporaryDir m_shelf;
    QString m_shelfLibrary;

    QString book(const QString& name, const QColor& cover)
    {
        librarybooks::BookRecipe recipe;
        recipe.title = QFileInfo(name).completeBaseName();
        recipe.coverColor = cover;
        const QString path = m_books.filePath(name);
        return librarybooks::write(path, recipe) ? path : QString();
    }

    void save(const char* name) { saveImage(grab(QStringLiteral("0")), name); }

    void saveImage(const QImage& image, const char* name)
    {
        QVERIFY(image.save(
            QDir(m_artifacts).filePath(QStringLiteral("dialogswm-%1-%2.png").arg(QString::fromLatin1(mode()), name))));
    }

    // Waits for one window owned by the main window and above it; false (with the stack in the log)
    // when none comes.
    bool waitForOwnedAbove(qint64 pid, quint32* owned, int timeoutMs = 30000)
    {
        Stack stack;
        const bool found = waitUntil(
            [&] {
                stack = stackOf(pid);
                const QVector<quint32> windows = stack.owned();
                if (!stack.main || windows.size() != 1)
                    return false;
                *owned = windows.first();
                return stack.indexOf(*owned) > stack.indexOf(stack.main) && windowmanager::activeWindow() == *owned;
            },
            timeoutMs);
        if (!found)
            qWarning().noquote() << describe(stack) << "active" << hex(windowmanager::activeWindow());
        return found;
    }

    // Waits until the splash has handed over to the main window (which shows and raises it), then for
    // the question above it again.
    bool staysAboveAfterSplash(qint64 pid, const QString& home, quint32 owned)
    {
        if (!waitUntil([&] { return logs(home).contains(QLatin1String("Splash min wait time is reached")); }))
            return false;
        QTest::qWait(500);
        quint32 again = 0;
        return waitForOwnedAbove(pid, &again, 5000) && again == owned;
    }

    // Clicks the main window's client area away from the question: it stays above, with the focus.
    bool clickStaysAbove(qint64 pid, quint32 owned)
    {
        const Stack stack = stackOf(pid);
        const QRect main = geometry(QString::number(stack.main));
        const QRect box = geometry(QString::number(owned));
        const QPoint free = main.bottomLeft() + QPoint(30, -30);
        if (box.contains(free))
            return false;
        click(QString(), free, 1);
        QTest::qWait(300);
        quint32 again = 0;
        return waitForOwnedAbove(pid, &again, 5000) && again == owned;
    }

    // The one box of a start: above every other window of the program and active, and owned by the
    // main window when there is one already. False (with the stack in the log) when none comes.
    bool waitForStartBox(qint64 pid, quint32* box)
    {
        Stack stack;
        const bool found = waitUntil(
            [&] {
                stack = stackOf(pid);
                const QVector<quint32> boxes = stack.boxes();
                if (boxes.size() != 1)
                    return false;
                *box = boxes.first();
                windowmanager::XConnection c;
                const quint32 utility = c.atom("_NET_WM_WINDOW_TYPE_UTILITY");
                for (int i = stack.indexOf(*box) + 1; i < stack.windows.size(); ++i) {
                    if (!c.values(stack.windows.at(i), "_NET_WM_WINDOW_TYPE").contains(utility))
                        return false;
                }
                return (!stack.main || windowmanager::transientFor(*box) == stack.main)
                    && windowmanager::activeWindow() == *box;
            },
            60000);
        if (!found)
            qWarning().noquote() << describe(stack) << "active" << hex(windowmanager::activeWindow());
        // Then until it has been drawn: a white box with its text.
        return found && waitUntil([&] { return brightness(grab(QString::number(*box))) > 128; });
    }

    // Answers the start's box with its default button; the main window that comes then, once the
    // splash has handed over to it. Empty when either fails.
    QString answerStartBox(qint64 pid, const QString& home)
    {
        key(QStringLiteral("Return"));
        const QString window = waitForWindow(pid);
        const bool shown = !window.isEmpty()
            && waitUntil([&] { return logs(home).contains(QLatin1String("Splash min wait time is reached")); });
        return shown ? window : QString();
    }

    // The main window once its cards show and it has held still for a while, with the pointer away
    // from it.
    QImage libraryPicture(const QString& window)
    {
        hover(QString(), QPoint(1, 1));
        QImage picture;
        waitUntil([&] { return findColour(picture = grab(window), kShelfCover).count > 2000; }, 20000);
        int still = 0;
        waitUntil(
            [&] {
                QTest::qWait(250);
                const QImage next = grab(window);
                still = next == picture ? still + 1 : 0;
                picture = next;
                return still == 3;
            },
            10000);
        return picture;
    }

    // Adds kShelfBooks books through the program, once for all the tests that need them, then
    // makes every seventh a favourite, as the user left them; the file is kept as m_shelfLibrary.
    bool buildShelf()
    {
        if (!m_shelfLibrary.isEmpty())
            return true;
        QStringList paths;
        for (int i = 1; i <= kShelfBooks; ++i) {
            librarybooks::BookRecipe recipe;
            recipe.title = QStringLiteral("Shelf %1").arg(i, 3, 10, QLatin1Char('0'));
            recipe.coverColor = kShelfCover;
            paths << m_books.filePath(recipe.title + QStringLiteral(".epub"));
            if (!librarybooks::write(paths.last(), recipe))
                return false;
        }
        QProcess run;
        if (!start(run, environment(m_shelf), paths))
            return false;
        const auto count
            = [this] { return queryLibrary(m_shelf.path(), QStringLiteral("select count(*) from books")).toInt(); };
        quint32 box = 0; // says that the books were added
        const bool added
            = waitUntil([&] { return count() == kShelfBooks; }, 60000) && waitForOwnedAbove(run.processId(), &box);
        key(QStringLiteral("Escape"));
        if (!terminate(run) || !added) {
            qWarning() << "the shelf was not built:" << count() << "books";
            return false;
        }
        const QString library = libraryFile(m_shelf.path());
        const QString kept = m_shelf.filePath(QStringLiteral("shelf.sqlite3"));
        if (!sqlitepages::execute(library, { QStringLiteral("update books set is_favorite = 1 where id % 7 = 0") })
            || !QFile::copy(library, kept))
            return false;
        m_shelfLibrary = kept;
        return true;
    }

    // A HOME whose library is a copy of the file and whose settings are the shelf's, so that its
    // window opens as the shelf's did. The covers stay where the shelf's run made them.
    bool homeWithLibrary(const QTemporaryDir& home, const QString& library)
    {
        const QString settings = settingsFile(home.path());
        const QString target = libraryFile(home.path());
        return QDir().mkpath(QFileInfo(settings).absolutePath()) && QDir().mkpath(QFileInfo(target).absolutePath())
            && QFile::copy(settingsFile(m_shelf.path()), settings) && QFile::copy(library, target);
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        m_managers = std::make_unique<windowmanager::Session>(mode());
        QVERIFY2(m_managers->isRunning(), mode().constData());
        m_artifacts = QStringLiteral(PL_ARTIFACT_DIR);
        QVERIFY(QDir().mkpath(m_artifacts));
    }

    void cleanupTestCase() { m_managers.reset(); }

    // The pointer waits in the screen's corner, where no card opens: X starts it in the middle,
    // where a window placed there has a card, and a card under it at start animates its hover in
    // and, once the pointer leaves, out again; a busy machine can stall that for longer than a
    // picture takes to hold still.
    void init() { hover(QString(), QPoint(1, 1), 0); }

    // The shelf cut short in the middle of its last leaf of books (a copy that stopped), with the
    // cells of another leaf overwritten: the start says so in one box, which counts the books that
    // came back of those the file held, and the library then shows what a library of just the books
    // on intact bytes shows. The damaged file is kept as it was, beside the new one, which holds
    // exactly those books.
    void damagedLibraryShowsEveryReadableBook()
    {
        QVERIFY(buildShelf());
        QTemporaryDir home, readable;
        QVERIFY(homeWithLibrary(home, m_shelfLibrary));
        QVERIFY(homeWithLibrary(readable, m_shelfLibrary));
        const QString library = libraryFile(home.path());
        const int root
            = queryLibrary(home.path(), QStringLiteral("select rootpage from sqlite_master where name = 'books'"))
                  .toInt();
        const QByteArray sound = testfiles::read(library);
        const qint64 pageSize = sqlitepages::pageSizeOf(sound);
        QList<int> leaves;
        for (const sqlitepages::TreePage& page : sqlitepages::treePages(sound, root)) {
            if (page.leaf)
                leaves << page.page;
        }
        const int last = *std::max_element(leaves.begin(), leaves.end());
        const int overwritten = leaves.at(leaves.size() / 2) == last ? leaves.first() : leaves.at(leaves.size() / 2);
        const QList<QPair<qint64, qint64>> damage { { (overwritten - 1) * pageSize + 8, overwritten * pageSize } };
        const qint64 length = (last - 1) * pageSize + pageSize / 2;
        QVERIFY(sqlitepages::overwrite(library, damage.first().first, QByteArray(int(pageSize - 8), '\xff')));
        QVERIFY(QFile::resize(library, length));
        QStringList lostIds;
        const QMap<qint64, sqlitepages::RowPlace> places = sqlitepages::rowPlaces(sound, root);
        for (auto it = places.cbegin(); it != places.cend(); ++it) {
            if (sqlitepages::touched(it.value(), damage, length))
                lostIds << QString::number(it.key());
        }
        QVERIFY2(lostIds.size() > 3 && lostIds.size() < kShelfBooks / 4, qPrintable(lostIds.join(QLatin1Char(','))));
        QVERIFY(sqlitepages::execute(libraryFile(readable.path()),
            { QStringLiteral("delete from books where id in (%1)").arg(lostIds.join(QLatin1Char(','))) }));
        const QByteArray damaged = fileHash(library);
        const auto ids = [](const QString& home) {
            return queryLibrary(home, QStringLiteral("select id from books order by id")).split(QLatin1Char('\n'));
        };
        const QStringList expected = ids(readable.path());
        QCOMPARE(expected.size(), kShelfBooks - lostIds.size());

        // What a library of the readable books shows.
        QProcess first;
        QString window = launch(first, environment(readable));
        QVERIFY(!window.isEmpty());
        QVERIFY(waitUntil(
            [&] { return logs(readable.path()).contains(QLatin1String("Splash min wait time is reached")); }));
        const QImage wanted = libraryPicture(window);
        saveImage(wanted, "readable-books");
        QVERIFY(stackOf(first.processId()).boxes().isEmpty());
        QVERIFY(terminate(first));

        QProcess run;
        QVERIFY(start(run, environment(home)));
        quint32 box = 0;
        QVERIFY(waitForStartBox(run.processId(), &box));
        save("damaged-library");
        const QStringList kept = QFileInfo(library).dir().entryList(
            { QFileInfo(library).fileName() + QStringLiteral(".damaged-*") }, QDir::Files);
        QCOMPARE(kept.size(), 1);
        const QString keptPath = QFileInfo(library).dir().filePath(kept.first());
        QCOMPARE(fileHash(keptPath), damaged);
        QVERIFY2(logs(home.path()).contains(keptPath), qPrintable(keptPath));
        window = answerStartBox(run.processId(), home.path());
        QVERIFY(!window.isEmpty());
        QImage shown = libraryPicture(window);
        const bool alike = waitUntil([&] { return (shown = grab(window)) == wanted; }, 30000);
        saveImage(shown, "damaged-library-books");
        QVERIFY2(alike, "the library shows other than a library of the readable books");
        QVERIFY(stackOf(run.processId()).boxes().isEmpty());
        QCOMPARE(ids(home.path()), expected);
        QVERIFY2(logs(home.path()).contains(QStringLiteral("starts with %1 books").arg(expected.size())),
            qPrintable(logs(home.path()).right(2000)));
        QVERIFY2(logs(home.path())
                     .contains(QStringLiteral("Books read from it and back in the library: %1 of %2.")
                                   .arg(expected.size())
                                   .arg(kShelfBooks)),
            qPrintable(logs(home.path()).right(2000)));
        QVERIFY(terminate(run));
    }

    // A data folder that cannot be written, files and all, where a writer that was killed left a
    // journal in a library of an older version: the start gives one box (the log names the folder)
    // and the library as it was last committed, read from a copy that is rolled back and brought up
    // to date (and that its owner can write, which binds every user but root). A click on a card's
    // star afterwards leaves the star as stored, and the same cause gets no second box; nor does a
    // book never opened, which shows its page although its data folder cannot be written either.
    // The file and its journal stay as they were.
    void readOnlyDataFolder()
    {
        QVERIFY(buildShelf());
        QTemporaryDir home;
        QVERIFY(homeWithLibrary(home, m_shelfLibrary));
        const QString library = libraryFile(home.path());
        const QString data = QFileInfo(library).absolutePath();
        const QString books = QFileInfo(data).dir().filePath(QStringLiteral("books"));
        QVERIFY(QDir().mkpath(books));
        const auto favourites = [&home] {
            return queryLibrary(home.path(), QStringLiteral("select id from books where is_favorite = 1"));
        };
        const QString stored = favourites();
        QVERIFY(!stored.isEmpty());
        // A version that had no user covers yet; then, uncommitted: every favourite turned round, and
        // most books gone.
        QVERIFY(sqlitepages::execute(library, { QStringLiteral("alter table books drop column use_user_cover") }));
        QVERIFY(leaveHotJournal(library,
            { QStringLiteral("update books set is_favorite = 1 - is_favorite"),
                QStringLiteral("delete from books where id > 20") }));
        const QByteArray file = fileHash(library);
        const QByteArray journal = fileHash(library + QStringLiteral("-journal"));
        for (const QString& written : { library, library + QStringLiteral("-journal") })
            QVERIFY(QFile::setPermissions(written, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        ReadOnlyPlace readOnly(data);
        ReadOnlyPlace readOnlyBooks(books);
        QVERIFY(readOnly.isReadOnly() && readOnlyBooks.isReadOnly());

        QProcess run;
        QVERIFY(start(run, environment(home)));
        const qint64 pid = run.processId();
        quint32 box = 0;
        QVERIFY(waitForStartBox(pid, &box));
        save("read-only-folder");
        QVERIFY2(logs(home.path()).contains(QStringLiteral("The folder %1 cannot be written").arg(data)),
            qPrintable(logs(home.path()).right(2000)));
        const QString copy = logs(home.path()).section(QLatin1String(" is read from the copy "), 1).section('\n', 0, 0);
        QVERIFY2(QFileInfo(copy).permissions() & QFile::WriteOwner, qPrintable(copy));
        const QString window = answerStartBox(pid, home.path());
        QVERIFY(!window.isEmpty());

        // A card of the first row that is no favourite: its star shows only under the pointer.
        const QImage cards = libraryPicture(window);
        saveImage(cards, "read-only-library");
        QVERIFY(stackOf(pid).boxes().isEmpty());
        QPoint corner;
        int starred = 0;
        for (const QPoint& card : firstRowOfCards(cards)) {
            if (showsStar(cards, card))
                ++starred;
            else if (corner.isNull())
                corner = card;
        }
        QVERIFY2(!corner.isNull(), "no card without a star in the first row");
        QVERIFY2(starred <= firstRowOfCards(cards).size() / 2, "the favourites are not the stored ones");
        const int tries = logs(home.path()).count(QLatin1String("Set favorite error"));
        QVERIFY(retryUntil(
            [&] {
                hover(window, corner + QPoint(60, 100));
                click(window, corner + QPoint(24, 20), 1);
            },
            [&] { return logs(home.path()).count(QLatin1String("Set favorite error")) > tries; }));
        // Away from the card, the star of a book that is no favourite hides again.
        hover(QString(), QPoint(1, 1));
        QImage after;
        const bool hidden = waitUntil([&] { return !showsStar(after = grab(window), corner); }, 30000);
        saveImage(after, "read-only-star");
        QVERIFY2(hidden, "the star shows a favourite that was not stored");
        // The failed write has told its cause already: no box comes for it.
        QVERIFY(!waitUntil([&] { return !stackOf(pid).boxes().isEmpty(); }, 1500));
        QVERIFY(!logs(home.path()).contains(QLatin1String("The library cannot be saved")));

        // The card's book, never opened, shows its page without a box.
        click(window, corner + QPoint(60, 100), 2);
        QVERIFY(waitUntil([&] { return logs(home.path()).contains(QLatin1String("the book is read from")); }, 20000));
        QImage page;
        QVERIFY(waitUntil([&] { return difference(page = grab(window), after) > 0.05; }, 20000));
        page = settle(window, page);
        saveImage(page, "read-only-book");
        QVERIFY(findColour(page, kShelfCover).count < 2000);
        QVERIFY(!waitUntil([&] { return !stackOf(pid).boxes().isEmpty(); }, 1500));
        QVERIFY(!logs(home.path()).contains(QLatin1String("The library cannot be saved")));

        // A book handed over cannot be kept: the second start says so and ends with an error, the
        // running one tells the person in a box, and nothing is claimed as added.
        const QString rows = queryLibrary(home.path(), QStringLiteral("select count(*) from books"));
        QProcess second;
        QVERIFY(start(second, environment(home), { book(QStringLiteral("Refused.epub"), QColor(0x80, 0x20, 0x80)) }));
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QVERIFY(second.exitCode() != 0);
        QVERIFY(!logs(home.path()).contains(QLatin1String("Exit from application (already running)")));
        const QString told = QString::fromUtf8(testfiles::read(helperOutput(home.path())));
        QVERIFY2(told.contains(QLatin1String("could not take the books")), qPrintable(told.right(2000)));
        QVERIFY(waitUntil([&] { return !stackOf(pid).boxes().isEmpty(); }));
        QCOMPARE(queryLibrary(home.path(), QStringLiteral("select count(*) from books")), rows);
        QVERIFY(terminate(run));
        QCOMPARE(fileHash(library), file);
        QCOMPARE(fileHash(library + QStringLiteral("-journal")), journal);
    }

    // One book named on the command line: the question is above the main window, also after a click
    // on it, and "Start reading now" opens the book. The next start opens it again and goes back to
    // the library, then asks about its card: the delete question from its menu in the trash, and the
    // properties dialog, each above the main window. The trash emptied, no box says that the book's
    // state could not be written into the folder that went with it.
    void oneBookThenCardDialogs()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const QColor cover(0x20, 0xb0, 0x30);
        const QString path = book(QStringLiteral("Stacked.pdf"), cover);
        QVERIFY(!path.isEmpty());
        QProcess run;
        QVERIFY(start(run, env, { path }));
        quint32 box = 0;
        QVERIFY(waitForOwnedAbove(run.processId(), &box));
        QVERIFY(staysAboveAfterSplash(run.processId(), home.path(), box));
        save("book-added");
        QVERIFY(clickStaysAbove(run.processId(), box));

        QVERIFY(startReadingNow(run.processId(), home.path(), QString::number(box), QStringLiteral("Stacked")));
        QVERIFY(waitUntil([&] { return stackOf(run.processId()).owned().isEmpty(); }));
        // The user gives the window a place and a size of its own; the next start brings them back.
        const QString first = QString::number(stackOf(run.processId()).main);
        xdotool({ QStringLiteral("windowsize"), first, QStringLiteral("1180"), QStringLiteral("820") });
        xdotool({ QStringLiteral("windowmove"), first, QStringLiteral("40"), QStringLiteral("60") });
        QRect placed;
        QVERIFY(waitUntil([&] { return (placed = geometry(first)).size() == QSize(1180, 820); }));
        QTest::qWait(300);
        placed = geometry(first);
        QVERIFY(terminate(run));
        // A description longer than its field, on a book opened once: the dialog is as wide as its fields.
        QVERIFY(sqlitepages::execute(libraryFile(home.path()),
            { QStringLiteral("insert into book_metadata (book_id, meta_type, meta_value) select id, 6, '%1' from books")
                    .arg(QStringLiteral("A description that runs on past the end of its field. ").repeated(30)) }));

        QProcess again;
        const QString window = launch(again, env);
        QVERIFY(!window.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(geometry(window), placed, 5000);
        QVERIFY(
            waitUntil([&] { return logs(home.path()).count(QLatin1String("Splash min wait time is reached")) == 2; }));
        QTest::qWait(500);
        QImage shelf;
        QVERIFY(waitUntil([&] { return findColour(shelf = grab(window), cover).count > 300; }));
        const QPoint card = findColour(shelf, cover).centre;
        // Its page, all cover, then the library again: the book stays open behind it.
        click(window, card, 2);
        QImage page;
        QVERIFY(waitUntil([&] { return difference(page = grab(window), shelf) > 0.05; }, 20000));
        QVERIFY(retryUntil([&] { click(window, QPoint(60, 91), 1); }, // "Library"
            [&] { return difference(grab(window), page) > 0.05; }));
        shelf = settle(window, grab(window));
        // The card's menu opens at the pointer, one entry under another.
        const auto menuEntry = [&](int entry, const std::function<bool()>& done) {
            return retryUntil(
                [&] {
                    hover(window, card);
                    xdotool({ QStringLiteral("click"), QStringLiteral("3") });
                    QTest::qWait(400);
                    click(window, card + QPoint(35, 26 + 37 * entry), 1);
                },
                done);
        };
        const auto deleted
            = [&home] { return queryLibrary(home.path(), QStringLiteral("select is_deleted from books")); };
        QVERIFY(menuEntry(2, [&] { return deleted() == "1"; })); // "Delete" (to the trash)
        // "Deleted" in the side bar, which lists no formats now that no book is left outside the trash.
        QVERIFY(retryUntil([&] { click(window, QPoint(77, 284), 1); },
            [&] { return findColour(shelf = grab(window), cover).count > 300; }));

        // In the trash the menu's "Delete" asks first (Escape says no); "Properties..." opens the dialog.
        for (const auto& [entry, name] : { std::pair<int, const char*>(1, "delete-question"), { 2, "properties" } }) {
            QVERIFY(menuEntry(entry, [&] { return stackOf(again.processId()).owned().size() == 1; }));
            quint32 owned = 0;
            QVERIFY2(waitForOwnedAbove(again.processId(), &owned), name);
            QVERIFY2(clickStaysAbove(again.processId(), owned), name);
            save(name);
            if (entry == 2) {
                QImage box;
                const bool whole
                    = waitUntil([&] { return fieldsEndInside(box = grab(QString::number(owned))); }, 30000);
                saveImage(box, "properties-box");
                QVERIFY2(whole, "the book info dialog cuts its fields");
            }
            key(QStringLiteral("Escape"));
            QVERIFY(waitUntil([&] { return stackOf(again.processId()).owned().isEmpty(); }));
            QCOMPARE(deleted(), QStringLiteral("1"));
        }
        quint32 question = 0;
        QVERIFY(retryUntil([&] { click(window, QPoint(428, 91), 1); }, // "Clear trash"
            [&] { return waitForOwnedAbove(again.processId(), &question, 3000); }));
        const QRect area = geometry(QString::number(question));
        QVERIFY(retryUntil([&] { click(QString(), area.bottomLeft() + QPoint(70, -30), 1); }, // "Yes"
            [&] { return deleted().isEmpty(); }));
        QVERIFY(waitUntil([&] { return stackOf(again.processId()).owned().isEmpty(); }));
        QVERIFY(!waitUntil([&] { return !stackOf(again.processId()).owned().isEmpty(); }, 1500));
        save("trash-emptied");
        QVERIFY(terminate(again));
        QVERIFY(!logs(home.path()).contains(QLatin1String("Can't write book settings file")));
    }

    // Hostile books, each opened with "Start reading now" from the question a start or a hand-over
    // asks: the page shows, the window then answers a key (the contents box), and the
    // reader stays under 1.5 GB; SIGTERM ends it cleanly. No script of a book marks its page: not
    // when two contents entries are clicked in one batch, nor, left 5 s, from a chapter's use of
    // itself.
    void hostileBooksStartReading()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const QString headings = m_books.filePath(QStringLiteral("Unclosed headings.mobi"));
        QVERIFY(testfiles::write(headings, unclosedHeadings()));
        const QString crowded = m_books.filePath(QStringLiteral("Many attributes.epub"));
        QVERIFY(writeCrowdedEpub(crowded));
        const QString records = m_books.filePath(QStringLiteral("Repeated records.mobi"));
        QVERIFY(testfiles::write(records, repeatedRecords()));
        const QString scripting = m_books.filePath(QStringLiteral("Scripting page.epub"));
        QVERIFY(writeScriptingEpub(scripting));
        const QString selfUse = m_books.filePath(QStringLiteral("Use of itself.epub"));
        QVERIFY(writeSelfUseEpub(selfUse));
        const QString entries = m_books.filePath(QStringLiteral("Two entries.epub"));
        QVERIFY(writeTwoEntriesEpub(entries));
        const auto marked = [](const QImage& image) { return findColour(image, kScriptMark).count > 1000; };

        QProcess run;
        QVERIFY(start(run, env, { headings }));
        const qint64 pid = run.processId();
        for (const QString& path : { headings, crowded, records, scripting, entries, selfUse }) {
            const QString title = QFileInfo(path).completeBaseName();
            if (path != headings) {
                QProcess handOver;
                QVERIFY(start(handOver, env, { path }));
                QVERIFY(handOver.waitForFinished(20000));
                QCOMPARE(handOver.exitCode(), 0);
            }
            quint32 box = 0;
            QVERIFY2(waitForOwnedAbove(pid, &box), qPrintable(title));
            if (path == headings)
                QVERIFY(staysAboveAfterSplash(pid, home.path(), box));
            const QString window = QString::number(stackOf(pid).main);
            QElapsedTimer opening;
            opening.start();
            QVERIFY2(startReadingNow(pid, home.path(), QString::number(box), title), qPrintable(title));
            // The view gets chapters already bounded: a page parsed for minutes would never show
            // here, nor would the window answer (bench_readingpage times both).
            QVERIFY2(
                waitUntil([&] { return findColour(grab(window), kPageMark).count > 1000; }, 60000), qPrintable(title));
            const qint64 shown = opening.elapsed();
            settle(window, grab(window));
            const qint64 answer = answerTime(window, QStringLiteral("1"));
            const int peak = peakMemoryMb(pid);
            qInfo().noquote() << title << "- page after" << shown << "ms, key answered after" << answer
                              << "ms, peak memory" << peak << "MB";
            QVERIFY2(answer >= 0, qPrintable(title));
            QVERIFY2(peak > 0 && peak < 1536, qPrintable(title));
            QVERIFY2(answerTime(window, QStringLiteral("Escape")) >= 0, qPrintable(title));
            if (path == scripting) {
                // The link is clicked, and the refresh has its time: the chapter stays, and the
                // page refused to go elsewhere.
                // The contents box closed by Escape fades out first.
                QVERIFY(waitUntil([&] { return findColour(grab(window), kLinkMark).count > 1000; }, 30000));
                const ColourSpot link = findColour(settle(window, grab(window)), kLinkMark);
                click(window, link.centre, 1);
                QVERIFY(
                    waitUntil([&] { return logs(home.path()).contains(QLatin1String("Navigation refused")); }, 30000));
                QTest::qWait(5000);
                const QImage page = grab(window);
                saveImage(page, "scripting-page");
                QVERIFY(findColour(page, kPageMark).count > 1000);
                QVERIFY(findColour(page, kLinkMark).count > 1000);
            }
            if (path == selfUse) {
                QTest::qWait(5000);
                const QImage page = grab(window);
                saveImage(page, "self-use");
                QVERIFY(findColour(page, kPageMark).count > 1000);
                QVERIFY(!marked(page));
            }
            if (path == entries) {
                QVERIFY(scriptConvertedEntries(home.path()));
                // The second and the third entry of the contents, clicked in one batch of input.
                QImage page = settle(window, grab(window));
                const QRect titles(45, 120, 220, page.height() - 200);
                QList<QRect> rows;
                const bool listed = retryUntil([&] { key(QStringLiteral("1")); },
                    [&] { return (rows = textLines(settle(window, grab(window)), titles)).size() == 4; });
                saveImage(grab(window), "two-entries-contents");
                QVERIFY2(listed, qPrintable(QString::number(rows.size())));
                QStringList batch;
                for (const QRect& row : { rows.at(2), rows.at(3) }) {
                    batch << QStringLiteral("mousemove") << QStringLiteral("--window") << window
                          << QString::number(row.center().x()) << QString::number(row.center().y())
                          << QStringLiteral("click") << QStringLiteral("1");
                }
                // Held while the clicks come, as a busy moment would hold it: the program takes them
                // in one batch.
                ::kill(pid_t(pid), SIGSTOP);
                xdotool(batch);
                ::kill(pid_t(pid), SIGCONT);
                // The box stays open over the page's left side.
                key(QStringLiteral("Escape"));
                const bool third
                    = waitUntil([&] { return findColour(page = grab(window), kThirdMark).count > 1000; }, 30000);
                saveImage(page, "two-entries-clicked");
                QVERIFY(third);
                QTest::qWait(5000);
                page = grab(window);
                saveImage(page, "two-entries");
                QVERIFY(findColour(page, kThirdMark).count > 1000);
                QVERIFY(!marked(page));
            }
        }
        save("hostile-books");
        QVERIFY(terminate(run));
    }

    // The page counter stopped (SIGSTOP) as soon as it starts, before it can connect: the book
    // named at the start opens with "Start reading now" all the same, a second book handed over
    // meanwhile is read the same way, and once the counter runs again it counts the book on
    // screen. Both books are recorded as read, and the program ends cleanly.
    void handOverWhileCounterStopped()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const QString first = book(QStringLiteral("Counter stopped one.epub"), QColor(0x30, 0x60, 0xc0));
        const QString second = book(QStringLiteral("Counter stopped two.epub"), QColor(0x30, 0xa0, 0x60));
        QProcess run;
        QVERIFY(start(run, env, { first }));
        const qint64 pid = run.processId();
        qint64 counter = 0;
        QVERIFY(waitUntil([&] { return (counter = childProcess(pid, QStringLiteral("zuvezedoda"))) > 0; }, 30000));
        QCOMPARE(::kill(pid_t(counter), SIGSTOP), 0);
        const auto resume = qScopeGuard([counter] { ::kill(pid_t(counter), SIGCONT); });

        quint32 box = 0;
        QVERIFY(waitForOwnedAbove(pid, &box));
        QVERIFY(startReadingNow(pid, home.path(), QString::number(box), QStringLiteral("Counter stopped one")));
        QProcess handOver;
        QVERIFY(start(handOver, env, { second }));
        QVERIFY(handOver.waitForFinished(30000));
        QCOMPARE(handOver.exitCode(), 0);
        QVERIFY(waitForOwnedAbove(pid, &box));
        QVERIFY(startReadingNow(pid, home.path(), QString::number(box), QStringLiteral("Counter stopped two")));
        // The window answers keys while the counter is still stopped: the contents box opens.
        const QString window = QString::number(stackOf(pid).main);
        QVERIFY(answerTime(window, QStringLiteral("1")) >= 0);
        QVERIFY(answerTime(window, QStringLiteral("Escape")) >= 0);

        QCOMPARE(::kill(pid_t(counter), SIGCONT), 0);
        const QString id = queryLibrary(home.path(), QStringLiteral("select id from books where title = ?"),
            { QStringLiteral("Counter stopped two") });
        QVERIFY(waitUntil(
            [&] {
                return storedSetting(home.path(), "last_book_id") == id.toInt()
                    && storedSetting(home.path(), "last_book_page_count") > 0;
            },
            60000));
        save("counter-stopped");
        QCOMPARE(queryLibrary(home.path(), QStringLiteral("select count(*) from books where time_last_view > 0")),
            QStringLiteral("2"));
        QVERIFY(terminate(run));

        // Once more, a third book read while the counter is stopped, then the program asked to end,
        // by Alt+F4 and by SIGTERM: it ends cleanly, its counter with it.
        for (const bool byKey : { true, false }) {
            const QString title
                = byKey ? QStringLiteral("Counter stopped three") : QStringLiteral("Counter stopped four");
            const QString third = book(title + QStringLiteral(".epub"), QColor(0xa0, 0x30, 0x60));
            QProcess again;
            QVERIFY(start(again, env, { third }));
            const qint64 againPid = again.processId();
            qint64 stopped = 0;
            QVERIFY(
                waitUntil([&] { return (stopped = childProcess(againPid, QStringLiteral("zuvezedoda"))) > 0; }, 30000));
            QCOMPARE(::kill(pid_t(stopped), SIGSTOP), 0);
            const auto resumeAgain = qScopeGuard([stopped] { ::kill(pid_t(stopped), SIGCONT); });
            QVERIFY(waitForOwnedAbove(againPid, &box));
            QVERIFY(startReadingNow(againPid, home.path(), QString::number(box), title));
            const QString againWindow = QString::number(stackOf(againPid).main);
            QVERIFY(answerTime(againWindow, QStringLiteral("1")) >= 0);
            QVERIFY(answerTime(againWindow, QStringLiteral("Escape")) >= 0);
            if (byKey) {
                xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), againWindow });
                key(QStringLiteral("alt+F4"));
                QVERIFY(again.waitForFinished(30000));
                QCOMPARE(again.exitStatus(), QProcess::NormalExit);
                QCOMPARE(again.exitCode(), 0);
            } else {
                QVERIFY(terminate(again));
            }
            QVERIFY(waitUntil([&] { return ::kill(pid_t(stopped), 0) != 0; }, 30000));
        }
    }

    // A second start hands a book over while a box of the open book waits for its answer (the
    // question of a link clicked on its page, a protected PDF's password): the book is in the library
    // at once, and no second box comes over the first; once it is answered "Book added!" does, and
    // "Start reading now" shows the handed-over book's page, which a key then turns. Two books handed
    // over separately get a question each, in order, and the second is read. On the reading page, a
    // third hand-over's "Book added!" answered OK or Escape leaves the keys with the page: Right
    // turns it, and Delete trashes no book. The reader ends cleanly.
    void handOverUnderBox_data()
    {
        QTest::addColumn<bool>("pdf");
        QTest::addColumn<QString>("password"); // typed with Return; none: Escape answers
        QTest::addColumn<int>("handOvers"); // under the box
        QTest::addColumn<QString>("addedKey"); // answers "Book added!" on the reading page; OK: a click
        QTest::newRow("link question, No") << false << QString() << 2 << "OK";
        QTest::newRow("password given") << true << "user" << 1 << "Escape";
        QTest::newRow("password declined") << true << QString() << 1 << "OK";
    }
    void handOverUnderBox()
    {
        QFETCH(bool, pdf);
        QFETCH(QString, password);
        QFETCH(int, handOvers);
        QFETCH(QString, addedKey);
        const int timeout = windowwaits::kTimeoutMs;
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const QString tag = QString::fromUtf8(QTest::currentDataTag()).section(QLatin1Char(','), 0, 0);
        QString asking = m_books.filePath(tag + (pdf ? QStringLiteral(".pdf") : QStringLiteral(".epub")));
        if (pdf) {
            const QString plain = m_books.filePath(tag + QStringLiteral(" plain.pdf"));
            QVERIFY(librarybooks::write(plain));
            QVERIFY(writeEncryptedPdf(testfiles::read(plain), asking, QStringLiteral("user"), QStringLiteral("owner")));
        } else {
            QVERIFY(writeOutsideLinkEpub(asking));
        }
        QStringList handedTitles;
        for (int i = 0; i < 3; ++i) {
            handedTitles << tag + QStringLiteral(" handed over %1").arg(i + 1);
            QVERIFY(
                writeMarkedEpub(m_books.filePath(handedTitles.last() + QStringLiteral(".epub")), handedTitles.last()));
        }
        const auto handOver = [&](const QString& title) {
            QProcess second;
            return start(second, env, { m_books.filePath(title + QStringLiteral(".epub")) })
                && second.waitForFinished(20000) && second.exitStatus() == QProcess::NormalExit
                && second.exitCode() == 0;
        };
        const auto inLibrary = [&](const QString& title) {
            return queryLibrary(home.path(), QStringLiteral("select count(*) from books where title = ?"), { title })
                == QLatin1String("1");
        };

        QProcess run;
        QVERIFY(start(run, env, { asking }));
        const qint64 pid = run.processId();
        quint32 added = 0;
        QVERIFY(waitForOwnedAbove(pid, &added));
        QVERIFY(staysAboveAfterSplash(pid, home.path(), added));
        const QString window = QString::number(stackOf(pid).main);
        quint32 box = 0;
        if (pdf) {
            // "Start reading now", then the password box in its place.
            const QRect area = geometry(QString::number(added));
            QVERIFY(retryUntil([&] { click(QString(), area.bottomRight() - QPoint(70, 30), 1); },
                [&] { return waitForOwnedAbove(pid, &box, 1000) && box != added; }));
        } else {
            QVERIFY(startReadingNow(pid, home.path(), QString::number(added), QStringLiteral("Outside link")));
            QVERIFY(waitUntil([&] { return findColour(grab(window), kLinkMark).count > 1000; }, timeout));
            const ColourSpot link = findColour(settle(window, grab(window)), kLinkMark);
            click(window, link.centre, 1);
            QVERIFY(waitForOwnedAbove(pid, &box, timeout));
        }

        // Each handed-over book is stored while the box waits, and brings no second box.
        const auto secondBox = [&] { return stackOf(pid).boxes().size() > 1; };
        for (int i = 0; i < handOvers; ++i) {
            QVERIFY(handOver(handedTitles[i]));
            QVERIFY2(waitUntil([&] { return inLibrary(handedTitles[i]) || secondBox(); }, timeout),
                qPrintable(handedTitles[i]));
            QVERIFY2(!secondBox(), qPrintable(describe(stackOf(pid))));
        }

        const QString boxId = QString::number(box);
        xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), boxId });
        if (password.isEmpty()) {
            key(QStringLiteral("Escape"));
        } else {
            xdotool({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("50"), password });
            key(QStringLiteral("Return"));
        }
        // A question for each hand-over, in order: the earlier ones answered by Return (which reads
        // them), the last read by a click.
        quint32 next = 0, last = box;
        for (int i = 0; i < handOvers; ++i) {
            QVERIFY(waitUntil([&] { return waitForOwnedAbove(pid, &next, 1000) && next != last; }, timeout));
            last = next;
            if (i + 1 < handOvers) {
                key(QStringLiteral("Return"));
                continue;
            }
            QVERIFY(startReadingNow(pid, home.path(), QString::number(next), handedTitles[i]));
        }
        QVERIFY(waitUntil([&] { return findColour(grab(window), kPageMark).count > 1000; }, timeout));
        settle(window, grab(window));

        // Another hand-over while the book is read, its question answered without reading it.
        QVERIFY(handOver(handedTitles[2]));
        QVERIFY(waitUntil([&] { return waitForOwnedAbove(pid, &next, 1000) && next != last; }, timeout));
        if (addedKey == QLatin1String("OK")) {
            const QRect area = geometry(QString::number(next));
            QVERIFY(retryUntil([&] { click(QString(), area.bottomLeft() + QPoint(110, -40), 1); },
                [&] { return stackOf(pid).owned().isEmpty(); }));
        } else {
            key(addedKey);
        }
        QVERIFY(waitUntil([&] { return stackOf(pid).owned().isEmpty(); }, timeout));
        // Right turns the page: the first chapter's mark leaves it (a focused slider or card would
        // take the key and keep the page).
        const auto marked = [&] { return findColour(grab(window), kPageMark).count > 1000; };
        QVERIFY(waitUntil(marked, timeout));
        key(QStringLiteral("Right"));
        QVERIFY(waitUntil([&] { return !marked(); }, timeout));
        // Delete, then Left, whose page shows that Delete was taken before it.
        key(QStringLiteral("Delete"));
        key(QStringLiteral("Left"));
        QVERIFY(waitUntil(marked, timeout));
        QCOMPARE(queryLibrary(home.path(), QStringLiteral("select count(*) from books where is_deleted != 0")),
            QStringLiteral("0"));
        QVERIFY(stackOf(pid).owned().isEmpty());
        QVERIFY(terminate(run));
    }

    // An EPUB and a CBZ: "2 books added!" above the main window. Eight books handed over one after
    // another with the box unanswered are all in the library within the wait for one, their questions
    // waiting; one more, and SIGTERM as soon as the second start has ended: it is kept, in the library
    // or in its record.
    void twoBooks()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const QString epub = book(QStringLiteral("Pair one.epub"), QColor(0xd0, 0x20, 0x20));
        const QString cbz = book(QStringLiteral("Pair two.cbz"), QColor(0xe0, 0xa0, 0x10));
        QProcess run;
        QVERIFY(start(run, env, { epub, cbz }));
        quint32 box = 0;
        QVERIFY(waitForOwnedAbove(run.processId(), &box));
        QCOMPARE(queryLibrary(home.path(), QStringLiteral("select count(*) from books")), QStringLiteral("2"));
        QVERIFY(staysAboveAfterSplash(run.processId(), home.path(), box));
        save("two-books-added");
        const QString count = QStringLiteral("select count(*) from books");
        for (int i = 1; i <= 9; ++i) {
            const QString path = book(QStringLiteral("Handed %1.epub").arg(i), QColor(0x20, 0x20 + 16 * i, 0xd0));
            QProcess handOver;
            QVERIFY(start(handOver, env, { path }));
            QVERIFY(handOver.waitForFinished(20000));
            QCOMPARE(handOver.exitCode(), 0);
            if (i == 8)
                QVERIFY(waitUntil([&] { return queryLibrary(home.path(), count) == QLatin1String("10"); }));
        }
        // No box answered yet: only the first is shown.
        QCOMPARE(stackOf(run.processId()).boxes().size(), 1);
        QVERIFY(terminate(run));
        // The end reads no book: the last one is in the library or still in its record for the next
        // start, never both.
        const int waiting = queryLibrary(home.path(), QStringLiteral("select count(*) from handed_over")).toInt();
        QCOMPARE(queryLibrary(home.path(), count).toInt() + waiting, 11);
        QVERIFY(waiting <= 1);
    }
};

QTEST_MAIN(DialogsWmTest)
#include "tst_dialogswm.moc"
