// The real program under a real X server, driven as a user drives it: books of several formats
// added and shown as cards with their covers, a book opened with a double click and read with
// real keys, the three looks of the reading page, a clean exit, and a second start that reopens
// the book where reading stopped. The first books are named on the command line, which adds them
// the way a drop does; a later one comes through "Add book" and the file dialog, and is then read
// with a note, a search, another font size and reading aloud.

#include "epubbuilder.h"
#include "librarybooks.h"
#include "programdriver.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace programdriver;

namespace {

struct Book {
    const char* suffix;
    QColor cover; // invalid: the format has no cover
};

// Saturated colours the application's looks don't use, so a match is a cover.
const Book kBooks[] = {
    { "epub", QColor(0xd0, 0x20, 0x20) },
    { "fb2", QColor(0x20, 0xb0, 0x30) },
    { "pdf", QColor(0x30, 0x50, 0xe0) },
    { "cbz", QColor(0xe0, 0xa0, 0x10) },
    { "mobi", QColor(0xa0, 0x30, 0xc0) },
    { "txt", QColor() },
};
const int kPdfPages = 8;
const int kBooksAdded = int(sizeof(kBooks) / sizeof(kBooks[0]));

// The book added through the file dialog: long chapters, so that the font size changes the page
// count, and one word found only in its last chapter.
const QColor kLongCover(0x8a, 0x4b, 0x1c);
const char* const kLongTitle = "Flow long";
const char* const kRareWord = "quillwort";

bool writeLongEpub(const QString& path)
{
    EpubBuilder book;
    book.setTitle(QLatin1String(kLongTitle));
    book.setAuthor(QStringLiteral("Ann Author"));
    const QString paragraph = QStringLiteral("<p>Weaver threads ran over the beam while the loom clicked on through "
                                             "the night and the shuttle flew from one hand to the other.</p>");
    for (int chapter = 1; chapter <= 3; ++chapter) {
        QString body = paragraph.repeated(14);
        if (chapter == 3)
            body += QStringLiteral("<p>At last the %1 grew by the door.</p>").arg(QLatin1String(kRareWord));
        book.addChapter(QStringLiteral("ch%1").arg(chapter), QStringLiteral("ch%1.xhtml").arg(chapter),
            QStringLiteral("Chapter %1").arg(chapter), body);
    }
    book.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(200, 300, kLongCover.rgb()));
    return book.write(path);
}

void key(const QString& name) { xdotool({ QStringLiteral("key"), name }); }

bool near(QRgb pixel, const QColor& colour)
{
    const int tolerance = 28;
    return qAbs(qRed(pixel) - colour.red()) <= tolerance && qAbs(qGreen(pixel) - colour.green()) <= tolerance
        && qAbs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// Pixels (every second one in both directions) close to the colour, and their centre.
QPair<int, QPoint> findColour(const QImage& image, const QColor& colour)
{
    int count = 0;
    qint64 sx = 0, sy = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            if (near(image.pixel(x, y), colour)) {
                ++count;
                sx += x;
                sy += y;
            }
        }
    }
    return { count, count ? QPoint(int(sx / count), int(sy / count)) : QPoint() };
}

// The top left corner of the region of the colour (every second pixel looked at).
QPoint colourCorner(const QImage& image, const QColor& colour)
{
    QPoint corner(image.width(), image.height());
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            if (near(image.pixel(x, y), colour)) {
                corner.setX(qMin(corner.x(), x));
                corner.setY(qMin(corner.y(), y));
            }
        }
    }
    return corner;
}

// Mean brightness, 0..255.
double brightness(const QImage& image)
{
    double sum = 0;
    int count = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            sum += qGray(image.pixel(x, y));
            ++count;
        }
    }
    return count ? sum / count : 0;
}

// Share (0..1) of sampled pixels that differ between two pictures of one size.
double difference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return 1;
    int differing = 0, count = 0;
    for (int y = 0; y < a.height(); y += 2) {
        for (int x = 0; x < a.width(); x += 2) {
            ++count;
            if (a.pixel(x, y) != b.pixel(x, y))
                ++differing;
        }
    }
    return count ? double(differing) / count : 0;
}

} // namespace

class WholeFlowTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QTemporaryDir m_books;
    QProcessEnvironment m_env;
    QString m_artifacts;
    QPoint m_pdfCard;
    int m_pageAfterFirstRun = -1;

    QString allLogs() const { return logs(m_home.path()); }

    void start(QProcess& process, const QStringList& args = QStringList())
    {
        QVERIFY(programdriver::start(process, m_env, args));
    }

    void save(const QImage& image, const char* name)
    {
        QVERIFY(image.save(QDir(m_artifacts).filePath(QStringLiteral("wholeflow-%1.png").arg(QLatin1String(name)))));
    }

    // Waits until the window looks different from before, then until it holds still.
    QImage waitForChange(const QString& window, const QImage& before, int timeoutMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        QImage now = grab(window);
        while (difference(now, before) < 0.002 && timer.elapsed() < timeoutMs) {
            QTest::qWait(100);
            now = grab(window);
        }
        return settle(window, now);
    }

    QImage settle(const QString& window, QImage now)
    {
        for (int i = 0; i < 20; ++i) {
            QTest::qWait(150);
            const QImage next = grab(window);
            if (difference(next, now) == 0)
                return next;
            now = next;
        }
        return now;
    }

    void hover(const QString& window, const QPoint& at)
    {
        xdotool({ QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(at.x()),
            QString::number(at.y()) });
        QTest::qWait(200);
    }

    // Presses the left button at one point and lets it go at another, moving in steps.
    void drag(const QString& window, const QPoint& from, const QPoint& to)
    {
        hover(window, from);
        xdotool({ QStringLiteral("mousedown"), QStringLiteral("1") });
        for (int step = 1; step <= 4; ++step)
            hover(window, from + (to - from) * step / 4);
        xdotool({ QStringLiteral("mouseup"), QStringLiteral("1") });
    }

    void click(const QString& window, const QPoint& at, int repeat)
    {
        hover(window, at);
        xdotool({ QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(repeat), QStringLiteral("1") });
    }

    // The reading state of every book with a state file.
    QList<QJsonObject> storedStates()
    {
        QList<QJsonObject> states;
        QDirIterator it(m_home.filePath(QStringLiteral(".%1/books").arg(kAppName)), { QStringLiteral("*.settings") },
            QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                states << QJsonDocument::fromJson(file.readAll()).object();
        }
        return states;
    }

    QList<QJsonObject> storedPositions()
    {
        QList<QJsonObject> positions;
        for (const QJsonObject& state : storedStates())
            positions << state.value(QStringLiteral("ReadingPosition")).toObject();
        return positions;
    }

    // The page of the one book read so far, -1 when there is not exactly one.
    int storedPage()
    {
        const QList<QJsonObject> positions = storedPositions();
        if (positions.size() != 1) {
            qWarning() << "reading positions:" << positions;
            return -1;
        }
        return positions.first().value(QStringLiteral("Page")).toInt(-1);
    }

    // The favourite and deleted flags of a book as the running program stored them, "" when absent.
    QString bookFlags(const QString& title)
    {
        const QList<QVariantList> rows = queryLibrary(
            m_home.path(), QStringLiteral("select is_favorite, is_deleted from books where title = ?"), { title });
        if (rows.isEmpty())
            return QString();
        return QStringLiteral("favorite %1 deleted %2")
            .arg(rows.first().value(0).toInt())
            .arg(rows.first().value(1).toInt());
    }

    // A number the program keeps in its settings file, -1 while it has none.
    int storedSetting(const char* name)
    {
        QFile file(m_home.filePath(QStringLiteral(".config/Brindle/%1/settings.ini").arg(kAppName)));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        const QRegularExpressionMatch match
            = QRegularExpression(QStringLiteral("\\b%1=(\\d+)").arg(QLatin1String(name)))
                  .match(QString::fromUtf8(file.readAll()));
        return match.hasMatch() ? match.captured(1).toInt() : -1;
    }

    int bookId(const QString& title)
    {
        const QList<QVariantList> rows
            = queryLibrary(m_home.path(), QStringLiteral("select id from books where title = ?"), { title });
        return rows.isEmpty() ? -1 : rows.first().value(0).toInt();
    }

    QString folderNamed(const QString& name)
    {
        const QList<QVariantList> rows
            = queryLibrary(m_home.path(), QStringLiteral("select id from folders where title = ?"), { name });
        return rows.isEmpty() ? QString() : rows.first().value(0).toString();
    }

    // The notes of every book, each "style:comment" (only one book gets notes here).
    QString storedNotes()
    {
        QStringList notes;
        for (const QJsonObject& state : storedStates()) {
            for (const QJsonValue& note :
                state.value(QStringLiteral("Notes")).toObject().value(QStringLiteral("Items")).toArray()) {
                notes << note.toObject().value(QStringLiteral("Style")).toString() + QLatin1Char(':')
                        + note.toObject().value(QStringLiteral("Note")).toString();
            }
        }
        return notes.join(QLatin1Char(' '));
    }

    // Waits until the covers of exactly the given books show, and returns the picture.
    QImage waitForCovers(const QString& window, const QStringList& suffixes)
    {
        QElapsedTimer timer;
        timer.start();
        QImage cards;
        QStringList shown;
        do {
            QTest::qWait(200);
            cards = grab(window);
            shown.clear();
            for (const Book& book : kBooks) {
                if (book.cover.isValid() && findColour(cards, book.cover).first >= 300)
                    shown << QLatin1String(book.suffix);
            }
        } while (shown != suffixes && timer.elapsed() < 15000);
        if (shown != suffixes)
            qWarning() << "covers shown:" << shown << "expected:" << suffixes;
        return cards;
    }

    // Clicks a card's hover button, given as an offset from the card's corner.
    void clickCardButton(const QString& window, const QColor& cover, const QPoint& offset)
    {
        const QImage before = grab(window);
        const QPoint corner = colourCorner(before, cover);
        // Into the card first, so it shows its buttons (they may show already).
        hover(window, corner + QPoint(60, 100));
        waitForChange(window, before, 1500);
        click(window, corner + offset, 1);
    }

    // Clicks a card's button until the library records the expected state: a click that lands
    // while the cards are still being laid out after a filter change misses its button.
    bool clickCardButtonUntil(
        const QString& window, const QColor& cover, const QPoint& offset, const QString& title, const QString& flags)
    {
        return retryUntil([&] { clickCardButton(window, cover, offset); }, [&] { return bookFlags(title) == flags; });
    }

    // Adds books through "Add book" and the file dialog: each entry is typed into the dialog's
    // file name field and confirmed (a folder opens it, quoted names choose files in it). Waits
    // until the library holds the count of books, then closes the box that says so.
    void addThroughDialog(const QString& window, qint64 pid, const QStringList& entries, int books)
    {
        const auto boxShown = [pid] { return visibleWindows(pid).size() > 1; };
        QVERIFY(retryUntil([&] { click(window, QPoint(296, 91), 1); }, boxShown)); // "Add book"
        QTest::qWait(300);
        for (const QString& entry : entries) {
            const QImage before = grabScreen();
            xdotool({ QStringLiteral("type"), entry });
            save(grabScreen(), "file-dialog");
            key(QStringLiteral("Return"));
            waitForChange(QStringLiteral("0"), before, 3000);
        }
        const auto count = [this] {
            return queryLibrary(m_home.path(), QStringLiteral("select count(*) from books")).value(0).value(0).toInt();
        };
        QVERIFY2(waitUntil([&] { return count() == books; }, 40000), qPrintable(QString::number(count())));
        QVERIFY(waitUntil(boxShown));
        QTest::qWait(300);
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));
    }

    void terminate(QProcess& process)
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

    // Opens a book from its card and waits for its page.
    QImage openBook(const QString& window, const QPoint& card)
    {
        const QImage library = grab(window);
        click(window, card, 2);
        return waitForChange(window, library, 20000);
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        QVERIFY(m_home.isValid());
        m_env = environment(m_home);
        // Metrics off, the way an installer that was told no leaves it.
        {
            QSettings store(
                m_home.filePath(QStringLiteral(".config/Brindle/%1.conf").arg(kAppName)), QSettings::NativeFormat);
            store.setValue(QStringLiteral("SendData"), 0);
        }
        m_artifacts = QStringLiteral(PL_ARTIFACT_DIR);
        QVERIFY(QDir().mkpath(m_artifacts));
    }

    // The program's log stays beside the screenshots, whatever the outcome.
    void cleanupTestCase()
    {
        QFile log(QDir(m_artifacts).filePath(QStringLiteral("wholeflow-log.txt")));
        if (!m_artifacts.isEmpty() && log.open(QIODevice::WriteOnly))
            log.write(allLogs().toUtf8());
    }

    void addReadAndReopen()
    {
        QStringList paths;
        for (const Book& book : kBooks) {
            librarybooks::BookSpec fixture;
            fixture.title = QStringLiteral("Flow %1").arg(QLatin1String(book.suffix));
            fixture.coverColor = book.cover;
            if (!book.cover.isValid())
                fixture.coverSize = QSize();
            if (QLatin1String(book.suffix) == QLatin1String("pdf"))
                fixture.chapters = kPdfPages;
            const QString path = m_books.filePath(QStringLiteral("flow.%1").arg(QLatin1String(book.suffix)));
            QVERIFY2(librarybooks::write(path, fixture), book.suffix);
            paths << path;
        }

        QProcess first;
        start(first);
        QString window = waitForMainWindow(first.processId(), 30000);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QTRY_VERIFY_WITH_TIMEOUT(allLogs().contains(QLatin1String("send metrics false")), 5000);
        QStringList names;
        for (const QString& path : qAsConst(paths))
            names << QLatin1Char('"') + QFileInfo(path).fileName() + QLatin1Char('"');
        addThroughDialog(window, first.processId(), { m_books.path(), names.join(QLatin1Char(' ')) }, paths.size());
        save(grabScreen(), "books-added");

        // Every cover shows on its card.
        QImage cards;
        QElapsedTimer timer;
        timer.start();
        QStringList missing;
        do {
            QTest::qWait(300);
            cards = grab(window);
            missing.clear();
            for (const Book& book : kBooks) {
                if (book.cover.isValid() && findColour(cards, book.cover).first < 300)
                    missing << QLatin1String(book.suffix);
            }
        } while (!missing.isEmpty() && timer.elapsed() < 30000);
        save(cards, "cards");
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("covers missing: ") + missing.join(' ')));
        QStringList covered;
        for (const Book& book : kBooks) {
            if (book.cover.isValid())
                covered << QLatin1String(book.suffix);
        }

        // Typing into the search field leaves the one matching card; clearing it brings all back.
        click(window, QPoint(820, 91), 1);
        QTest::qWait(300);
        xdotool({ QStringLiteral("type"), QStringLiteral("pdf") });
        save(waitForCovers(window, { QStringLiteral("pdf") }), "search");
        QVERIFY(findColour(grab(window), kBooks[0].cover).first < 300);
        QVERIFY(findColour(grab(window), kBooks[2].cover).first >= 300);
        key(QStringLiteral("ctrl+a"));
        key(QStringLiteral("BackSpace"));
        cards = waitForCovers(window, covered);
        QVERIFY(findColour(cards, kBooks[0].cover).first >= 300);

        // A card's star makes a favourite; its bin moves it to the trash, where the same corner restores it.
        const QColor fb2Colour = kBooks[1].cover;
        const QString fb2Title = QStringLiteral("Flow fb2");
        QCOMPARE(bookFlags(fb2Title), QStringLiteral("favorite 0 deleted 0"));
        QVERIFY2(
            clickCardButtonUntil(window, fb2Colour, QPoint(24, 20), fb2Title, QStringLiteral("favorite 1 deleted 0")),
            qPrintable(bookFlags(fb2Title)));
        QVERIFY2(
            clickCardButtonUntil(window, fb2Colour, QPoint(149, 20), fb2Title, QStringLiteral("favorite 1 deleted 1")),
            qPrintable(bookFlags(fb2Title)));
        covered.removeOne(QStringLiteral("fb2"));
        QVERIFY(findColour(waitForCovers(window, covered), fb2Colour).first < 300);
        click(window, QPoint(77, 325), 1); // "Deleted" in the side bar
        save(waitForCovers(window, { QStringLiteral("fb2") }), "trash");
        QVERIFY2(
            clickCardButtonUntil(window, fb2Colour, QPoint(24, 20), fb2Title, QStringLiteral("favorite 1 deleted 0")),
            qPrintable(bookFlags(fb2Title)));
        click(window, QPoint(57, 104), 1); // "All"
        covered.insert(1, QStringLiteral("fb2"));
        cards = waitForCovers(window, covered);
        QVERIFY(findColour(cards, fb2Colour).first >= 300);

        const QColor pdfColour = kBooks[2].cover;
        const int pdfCardPixels = findColour(cards, pdfColour).first;
        m_pdfCard = findColour(cards, pdfColour).second;

        // A double click opens the book on its first page, all cover colour.
        const QImage opened = openBook(window, m_pdfCard);
        save(opened, "reading-first-page");
        QVERIFY2(findColour(opened, pdfColour).first > 2 * pdfCardPixels,
            qPrintable(
                QStringLiteral("first page %1, card %2").arg(findColour(opened, pdfColour).first).arg(pdfCardPixels)));

        // Each key turns a page: the picture changes each time, and the cover page is gone.
        QImage page = opened;
        for (const char* name : { "Right", "space", "Next" }) {
            key(QLatin1String(name));
            const QImage next = waitForChange(window, page);
            QVERIFY2(difference(next, page) > 0.002, name);
            page = next;
        }
        QVERIFY(findColour(page, pdfColour).first < pdfCardPixels);

        // F9 cycles the looks; each changes the page.
        save(page, "reading-day");
        QImage previous = page;
        for (const char* style : { "NightStyle", "SepiaStyle" }) {
            key(QStringLiteral("F9"));
            QTRY_VERIFY_WITH_TIMEOUT(
                allLogs().contains(QStringLiteral("Set current style: \"%1\"").arg(QLatin1String(style))), 10000);
            const QImage look = waitForChange(window, previous);
            save(look, style);
            QVERIFY2(difference(look, previous) > 0.05, style);
            if (QLatin1String(style) == QLatin1String("NightStyle"))
                QVERIFY(brightness(look) < brightness(page) - 20);
            previous = look;
        }
        // Back to day, so the second start begins in the look the first one did.
        const int dayCount = allLogs().count(QLatin1String("Set current style: \"DayStyle\""));
        key(QStringLiteral("F9"));
        QTRY_VERIFY_WITH_TIMEOUT(allLogs().count(QLatin1String("Set current style: \"DayStyle\"")) > dayCount, 10000);

        terminate(first);
        m_pageAfterFirstRun = storedPage();
        // One page per turn in single-column mode; two with two columns.
        QVERIFY2(
            m_pageAfterFirstRun == 4 || m_pageAfterFirstRun == 7, qPrintable(QString::number(m_pageAfterFirstRun)));

        // A second start on the same home: the library remembers the book and where reading stopped.
        QProcess second;
        start(second);
        window = waitForMainWindow(second.processId(), 30000);
        QVERIFY2(!window.isEmpty(), "no main window on the second start");
        QTest::qWait(500);
        const QImage library = settle(window, grab(window));
        QVERIFY(findColour(library, pdfColour).first > 300);
        m_pdfCard = findColour(library, pdfColour).second;
        const QImage reopened = openBook(window, m_pdfCard);
        save(reopened, "reopened");
        QVERIFY2(findColour(reopened, pdfColour).first < pdfCardPixels, "the book opened on its cover page");
        QVERIFY(difference(reopened, library) > 0.05);
        terminate(second);
        QCOMPARE(storedPage(), m_pageAfterFirstRun);

        // A text book goes through layout and pagination; its position is a chapter link.
        QProcess third;
        start(third);
        window = waitForMainWindow(third.processId(), 30000);
        QVERIFY2(!window.isEmpty(), "no main window on the third start");
        const QImage shelf = settle(window, grab(window));
        const QColor epubColour = kBooks[0].cover;
        QVERIFY(findColour(shelf, epubColour).first > 300);
        const QImage epub = openBook(window, findColour(shelf, epubColour).second);
        save(epub, "reading-epub");
        QVERIFY(difference(epub, shelf) > 0.05);
        key(QStringLiteral("Right"));
        const QImage turned = waitForChange(window, epub);
        save(turned, "reading-epub-turned");
        QVERIFY(difference(turned, epub) > 0.002);
        // "1" slides the contents box in; Escape closes it again.
        key(QStringLiteral("1"));
        const QImage contents = waitForChange(window, turned);
        save(contents, "reading-contents");
        QVERIFY(difference(contents, turned) > 0.02);
        key(QStringLiteral("Escape"));
        const QImage closed = waitForChange(window, contents);
        QVERIFY2(difference(closed, turned) < 0.01, qPrintable(QString::number(difference(closed, turned))));
        // Ctrl+B marks the page; the mark is kept with the book's state.
        key(QStringLiteral("ctrl+b"));
        QTest::qWait(1000);
        terminate(third);
        int bookmarked = 0;
        for (const QJsonObject& state : storedStates()) {
            const QJsonArray marks
                = state.value(QStringLiteral("Bookmarks")).toObject().value(QStringLiteral("Items")).toArray();
            if (marks.isEmpty())
                continue;
            ++bookmarked;
            QCOMPARE(marks.size(), 1);
            QVERIFY2(state.value(QStringLiteral("ReadingPosition"))
                         .toObject()
                         .value(QStringLiteral("Source"))
                         .toString()
                         .contains(QLatin1String("ch2.xhtml")),
                "the bookmark is not in the book read last");
        }
        QCOMPARE(bookmarked, 1);
        QStringList sources;
        for (const QJsonObject& position : storedPositions())
            sources << position.value(QStringLiteral("Source")).toString();
        QVERIFY2(sources.filter(QStringLiteral("ch2.xhtml?kelpath=")).size() == 1, qPrintable(sources.join(' ')));
        // The footer followed into the second chapter: the page it recorded is past the first.
        const int recorded = storedSetting("last_book_page");
        QVERIFY2(recorded >= 2, qPrintable(QString::number(recorded)));
    }

    // A fourth run on the same home: a book added through "Add book" and the file dialog, moved
    // into a new folder through its card's menu and seen in the table; then read: a note with a
    // comment through a selection and the note popup, a search hit that turns to its page, a
    // larger font that makes more pages, and reading aloud to the end. A fifth run reopens it.
    void addThroughDialogAndAnnotate()
    {
        const QString path = m_books.filePath(QStringLiteral("long.epub"));
        QVERIFY(writeLongEpub(path));
        const QString title = QLatin1String(kLongTitle);
        QProcess run;
        start(run);
        const qint64 pid = run.processId();
        QString window = waitForMainWindow(pid, 30000);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        settle(window, grab(window));

        addThroughDialog(window, pid, { path }, kBooksAdded + 1);

        // A new folder takes the name typed into its entry; the card's menu moves the book there.
        QVERIFY(retryUntil([&] { click(window, QPoint(114, 277), 1); }, // "Add new category"
            [&] { return !folderNamed(QStringLiteral("New category")).isEmpty(); }));
        QTest::qWait(300);
        xdotool({ QStringLiteral("type"), QStringLiteral("Shelf") });
        key(QStringLiteral("Return"));
        QVERIFY(waitUntil([&] { return !folderNamed(QStringLiteral("Shelf")).isEmpty(); }));
        click(window, QPoint(57, 104), 1); // "All"
        QVERIFY(waitUntil([&] { return findColour(grab(window), kLongCover).first > 300; }));
        const QImage cards = settle(window, grab(window));
        const QPoint card = findColour(cards, kLongCover).second;
        const auto inShelf = [&] {
            return queryLibrary(m_home.path(),
                       QStringLiteral("select f.book_id from book_folder_binder f join folders c on c.id = f.folder_id "
                                      "where f.book_id = ? and c.title = 'Shelf'"),
                       { bookId(title) })
                       .size()
                == 1;
        };
        QVERIFY(retryUntil(
            [&] {
                hover(window, card);
                xdotool({ QStringLiteral("click"), QStringLiteral("3") });
                QTest::qWait(400);
                click(window, card + QPoint(40, 140), 1); // "Move to"
                QTest::qWait(400);
                save(grabScreen(), "move-to-folder");
                click(window, card + QPoint(170, 149), 1); // "Shelf"
            },
            inShelf));

        // The table shows the book as a row with a small cover.
        click(window, QPoint(1110, 91), 1);
        const QImage table = waitForChange(window, cards);
        save(table, "table");
        const int rowCover = findColour(table, kLongCover).first;
        QVERIFY2(
            rowCover > 50 && rowCover < findColour(cards, kLongCover).first / 4, qPrintable(QString::number(rowCover)));
        click(window, QPoint(1056, 91), 1);
        const QImage library = waitForChange(window, table);

        // A word selected by a drag brings the note popup: a colour makes the note, and the
        // comment typed into its editor is kept with it.
        QImage page = openBook(window, findColour(library, kLongCover).second);
        save(page, "long-book");
        QString popup;
        const auto popupShown = [&] {
            popup.clear();
            for (const QString& id : visibleWindows(pid)) {
                if (id != window)
                    popup = id;
            }
            return !popup.isEmpty();
        };
        QVERIFY(retryUntil([&] { drag(window, QPoint(34, 170), QPoint(114, 170)); }, popupShown));
        QTest::qWait(300);
        QVERIFY(retryUntil([&] { click(popup, QPoint(103, 19), 1); }, // the third colour
            [&] { return storedNotes() == QStringLiteral("red:"); }));
        const QString comment = QStringLiteral("Mind the weaver");
        click(popup, QPoint(75, 69), 1); // the comment editor
        xdotool({ QStringLiteral("type"), comment });
        QVERIFY2(
            waitUntil([&] { return storedNotes() == QStringLiteral("red:") + comment; }), qPrintable(storedNotes()));
        save(grabScreen(), "note-popup");
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));

        // A hit of the search box turns to its page, the only one holding the word.
        key(QStringLiteral("ctrl+f"));
        QTest::qWait(500);
        xdotool({ QStringLiteral("type"), QLatin1String(kRareWord) });
        key(QStringLiteral("Return"));
        page = waitForChange(window, grab(window));
        save(page, "search");
        QCOMPARE(storedSetting("last_book_page"), 1);
        QVERIFY(retryUntil(
            [&] { click(window, QPoint(163, 262), 1); }, [&] { return storedSetting("last_book_page") == 11; }));
        key(QStringLiteral("Escape"));

        // The largest font size makes more pages.
        const int pages = storedSetting("last_book_page_count");
        QVERIFY(pages > 1);
        page = waitForChange(window, grab(window));
        click(window, QPoint(1067, 91), 1); // settings
        page = waitForChange(window, page);
        QVERIFY(retryUntil(
            [&] {
                click(window, QPoint(969, 457), 1); // the font size handle
                key(QStringLiteral("End"));
            },
            [&] { return storedSetting("last_book_page_count") > pages; }));
        save(waitForChange(window, page), "font-size");
        key(QStringLiteral("Escape"));

        // Reading aloud goes sentence by sentence to the end of the book, then stops.
        const int stops = allLogs().count(QLatin1String("Stop reading aloud."));
        key(QStringLiteral("F7"));
        QVERIFY(waitUntil([&] { return allLogs().count(QLatin1String("Stop reading aloud.")) > stops; }, 20000));
        const QString spoken = allLogs().section(QLatin1String("Start reading aloud..."), -1);
        QVERIFY2(spoken.contains(QLatin1String("end of text stream")), qPrintable(spoken));
        QVERIFY(!spoken.contains(QLatin1String("speech engine failed")));

        const int lastPage = storedSetting("last_book_page");
        const QImage lastLook = settle(window, grab(window));
        terminate(run);
        QCOMPARE(storedNotes(), QStringLiteral("red:") + comment);

        // The next start opens the book on the same page with its note.
        QProcess again;
        start(again);
        window = waitForMainWindow(again.processId(), 30000);
        QVERIFY2(!window.isEmpty(), "no main window on the fifth start");
        const QImage shelf = settle(window, grab(window));
        QVERIFY(findColour(shelf, kLongCover).first > 300);
        page = openBook(window, findColour(shelf, kLongCover).second);
        QVERIFY2(waitUntil([&] { return difference(page = grab(window), lastLook) < 0.01; }, 15000),
            qPrintable(QString::number(difference(page, lastLook))));
        save(page, "long-book-reopened");
        QCOMPARE(storedSetting("last_book_page"), lastPage);
        key(QStringLiteral("2"));
        save(waitForChange(window, page), "notes");
        terminate(again);
        QCOMPARE(storedNotes(), QStringLiteral("red:") + comment);
    }
};

QTEST_MAIN(WholeFlowTest)
#include "tst_wholeflow.moc"
