// The real program under a real X server, driven with xdotool keys and clicks and screen grabs as a user
// drives it: books added, read and reopened over several starts; hand-over, drop, exit and crash report.

#include "appdirs.h"
#include "chapterbuilder.h"
#include "epubbuilder.h"
#include "import/bookimporter.h"
#include "import/exportbooks.h"
#include "librarybooks.h"
#include "mobiwriter.h"
#include "models/bookprovider.h"
#include "pdfenginefile.h"
#include "programdriver.h"
#include "silentspeechservice.h"
#include "testfiles.h"
#include "testpaths.h"
#include "windowmanager.h"
#include "windowwaits.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLockFile>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace programdriver;

// Selects a word at the top left of the page by a drag; the note popup's window that comes
// for it, empty when none does.
QString selectForNote(const QString& window, qint64 pid)
{
    QString popup;
    const auto popupShown = [&] {
        QStringList others = visibleWindows(pid);
        others.removeAll(window);
        popup = others.isEmpty() ? QString() : others.last();
        return !popup.isEmpty();
    };
    if (!retryUntil([&] { drag(window, QPoint(34, 170), QPoint(114, 170), 4); }, popupShown))
        return QString();
    QTest::qWait(300);
    return popup;
}

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
// How long a book's pages may take to be counted, on a machine busy with builds, before a step
// gives up: a bound against a hang, not a speed the count must reach.
const int kCountBoundMs = 300000;
// The reading footer's height at the foot of the window: moving dots while the pages are counted,
// then the total and the slider.
const int kFooterHeight = 90;
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

// One chapter of many numbered paragraphs, longer than a full screen.
const QColor kChapterCover(0x1c, 0x6b, 0x8a);

bool writeLongChapterEpub(const QString& path)
{
    EpubBuilder book;
    book.setTitle(QStringLiteral("Flow chapter"));
    QString body;
    for (int i = 1; i <= 120; ++i)
        body += QStringLiteral("<p>Paragraph %1: the warp was wound on the beam before dawn.</p>").arg(i);
    book.addChapter(QStringLiteral("long"), QStringLiteral("long.xhtml"), QStringLiteral("Chapter 1"), body);
    book.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(200, 300, kChapterCover.rgb()));
    return book.write(path);
}

// One chapter of many pages of prose, to be read aloud and turned page by page.
bool writeAloudEpub(const QString& path, const QString& title)
{
    EpubBuilder book;
    book.setTitle(title);
    QString body;
    for (int i = 1; i <= 400; ++i)
        body += QStringLiteral("<p>Paragraph %1: the weaver wound the warp on the beam before dawn and sang to the "
                               "loom while the shuttle flew.</p>")
                    .arg(i);
    book.addChapter(QStringLiteral("aloud"), QStringLiteral("aloud.xhtml"), QStringLiteral("Chapter 1"), body);
    return book.write(path);
}

// A picture at the end of a book's last chapter: its colour on the screen says the last page shows.
const QColor kLastPageMark(0x10, 0x90, 0x90);

// The pixels of the pink box the web engine draws over a page its XML parser stopped in ("This page
// contains the following errors"): its flat fill, which no greyed edge of a letter comes near.
int parserErrorPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            count += qRed(pixel) >= 250 && qAbs(qGreen(pixel) - 0xdd) <= 6 && qAbs(qBlue(pixel) - 0xdd) <= 6;
        }
    }
    return count;
}

const QString kLastChapter = QStringLiteral("<p>The last words.</p><p><img src=\"images/mark.png\" alt=\"\"/></p>");

void addLastPageMark(EpubBuilder& book)
{
    book.addResource(QStringLiteral("mark"), QStringLiteral("images/mark.png"),
        EpubBuilder::png(240, 160, kLastPageMark.rgb()), QStringLiteral("image/png"));
}

// A 2 MB chapter, which the page counter counts in pieces and where the book opens, and a short last
// one. Broken, every paragraph of the big chapter ends in a control character XML forbids (U+0012),
// as in a converted manual.
bool writeControlsEpub(const QString& path, const QString& title, bool broken)
{
    EpubBuilder book;
    book.setTitle(title);
    ChapterBuilder prose(51);
    prose.addRealisticContent(2 << 20);
    QByteArray big = prose.xhtml();
    if (broken)
        big.replace("</p>", "\x12</p>");
    book.addItem(QStringLiteral("big"), QStringLiteral("big.xhtml"), big);
    book.addChapter(QStringLiteral("last"), QStringLiteral("last.xhtml"), QStringLiteral("Last"), kLastChapter);
    addLastPageMark(book);
    book.setNavPoints({ { QStringLiteral("Big"), QStringLiteral("big.xhtml"), {} },
        { QStringLiteral("Last"), QStringLiteral("last.xhtml"), {} } });
    return book.write(path);
}

// A line of i and a line of M, as wide as each other in a monospace face only.
const QString kWidthLines = QStringLiteral("<p>iiiiiiiiiiiiiiiiiiii</p><p>MMMMMMMMMMMMMMMMMMMM</p>");

// A picture after the last word of a table wider than a column: its colour on the screen says
// that word was reached.
const QColor kWideTableMark(0x90, 0x20, 0xa0);

// An EPUB 2 whose spine names one file fifty times more, by manifest items with fragments, as a
// generated manual's did. The first chapter holds the width lines, the second a table of long
// words wider than a column.
bool writeRepeatingSpineEpub(const QString& path, const QString& title)
{
    EpubBuilder book;
    book.setTitle(title);
    book.addChapter(QStringLiteral("intro"), QStringLiteral("intro.xhtml"), QStringLiteral("Intro"), kWidthLines);
    ChapterBuilder about(401);
    for (int part = 1; part <= 6; ++part) {
        about.addRaw(QStringLiteral("<h2 id=\"o%1\">Part %1</h2>\n").arg(part));
        about.addProse(1, 40, 60);
    }
    book.addItem(QStringLiteral("a0"), QStringLiteral("about.xhtml"), about.xhtml());
    for (int i = 1; i <= 50; ++i)
        book.addMissingItem(QStringLiteral("a%1").arg(i), QStringLiteral("about.xhtml#o%1").arg(i % 6 + 1));
    ChapterBuilder second(412);
    second.addProse(4, 60, 80);
    QString cells;
    for (int cell = 1; cell <= 6; ++cell)
        cells += QStringLiteral("<td>Internationalisation%1 counterrevolutionaries%1</td>").arg(cell);
    second.addRaw(QStringLiteral("<table style=\"width:900px\"><tr>%1<td>counterrevolutionaries7 <img "
                                 "src=\"images/cellmark.png\" alt=\"\"/></td></tr></table>\n")
                      .arg(cells));
    book.addResource(QStringLiteral("cellmark"), QStringLiteral("images/cellmark.png"),
        EpubBuilder::png(40, 30, kWideTableMark.rgb()), QStringLiteral("image/png"));
    book.addItem(QStringLiteral("c2"), QStringLiteral("c2.xhtml"), second.xhtml());
    book.addChapter(QStringLiteral("c3"), QStringLiteral("c3.xhtml"), QStringLiteral("Chapter 3"), kLastChapter);
    addLastPageMark(book);
    book.setNavPoints({ { QStringLiteral("Intro"), QStringLiteral("intro.xhtml"), {} },
        { QStringLiteral("Part 4"), QStringLiteral("about.xhtml#o4"), {} },
        { QStringLiteral("Chapter 3"), QStringLiteral("c3.xhtml"), {} } });
    return book.write(path);
}

QByteArray widthsMobi(const QString& title)
{
    MobiWriter book;
    book.setFullName(title.toUtf8());
    book.setText("<html><body>" + kWidthLines.toUtf8() + "</body></html>");
    return book.build();
}

// Ends the book with the last chapter and its mark, the contents naming the given chapters and that
// one, and writes it.
bool writeEndingWithLastChapter(EpubBuilder& book, const QString& path, QList<EpubBuilder::NavPoint> contents)
{
    book.addChapter(QStringLiteral("last"), QStringLiteral("last.xhtml"), QStringLiteral("Last"), kLastChapter);
    addLastPageMark(book);
    contents.append({ QStringLiteral("Last"), QStringLiteral("last.xhtml"), {} });
    book.setNavPoints(contents);
    return book.write(path);
}

// A book whose first chapter is 800 KB of UTF-16 with its mark under an HTML name, longer than the
// runs the reader cuts into blocks, or (its twin) the same text in UTF-8; then the last chapter.
bool writeWideEpub(const QString& path, const QString& title, bool utf16)
{
    EpubBuilder book;
    book.setTitle(title);
    ChapterBuilder prose(61);
    while (prose.bodyHtml().size() < 410 << 10)
        prose.addProse(50);
    const QString chapter
        = QStringLiteral("<html><head><title>Wide</title></head><body>\n%1</body></html>\n").arg(prose.bodyHtml());
    book.addItem(QStringLiteral("wide"), QStringLiteral("wide.html"),
        QTextCodec::codecForName(utf16 ? "UTF-16" : "UTF-8")->fromUnicode(chapter));
    return writeEndingWithLastChapter(book, path, { { QStringLiteral("Wide"), QStringLiteral("wide.html"), {} } });
}

// Older chapters that name one encoding and hold another's letters, as the view reads them: Latin-1
// and ASCII with Windows quotes, Latin-5 with Turkish letters and Windows quotes, windows-1251 behind
// a meta in a comment that names UTF-8; or (their twin) the same texts in UTF-8. One page each.
bool writeOlderChaptersEpub(const QString& path, const QString& title, bool legacy)
{
    EpubBuilder book;
    book.setTitle(title);
    const QString quoted
        = QStringLiteral("\u201cIt\u2019s \u2018ten\u2019 \u2014 or \u20ac9\u2013\u20ac12\u2026\u201d she said.");
    const QString turkish
        = QStringLiteral("\u201c\u015ei\u015fli\u2019de g\u00fczel bir g\u00fcn\u2026\u201d \u2014 \u20ac5");
    const QString cyrillic = QStringLiteral("\u041c\u0430\u044f\u043a \u0441\u0432\u0435\u0442\u0438\u043b "
                                            "\u0432\u0441\u044e \u043d\u043e\u0447\u044c \u2014 "
                                            "\u00ab\u0434\u043e \u0443\u0442\u0440\u0430\u00bb.");
    struct Chapter {
        const char* label;
        const char* codec;
        QString text;
        const char* beforeMeta;
    };
    const Chapter chapters[] = { { "ISO-8859-1", "windows-1252", quoted, "" }, { "us-ascii", "windows-1252", quoted, "" },
        { "iso-8859-9", "windows-1254", turkish, "" },
        { nullptr, "windows-1251", cyrillic, "<!-- <meta charset=\"utf-8\"> -->" } };
    QList<EpubBuilder::NavPoint> contents;
    int number = 0;
    for (const Chapter& chapter : chapters) {
        ++number;
        const QByteArray meta = !legacy ? QByteArray("<meta charset=\"utf-8\">")
            : chapter.label            ? "<meta charset=\"" + QByteArray(chapter.label) + "\">"
                                       : QByteArray(chapter.beforeMeta);
        const QByteArray text = legacy ? QTextCodec::codecForName(chapter.codec)->fromUnicode(chapter.text)
                                       : chapter.text.toUtf8();
        const QString name = QStringLiteral("older%1.html").arg(number);
        book.addItem(QStringLiteral("older%1").arg(number), name,
            "<html><head>" + meta + "<title>Older</title></head><body><h2>Older " + QByteArray::number(number)
                + "</h2><p>" + text + "</p></body></html>\n");
        contents.append({ QStringLiteral("Older %1").arg(number), name, {} });
    }
    return writeEndingWithLastChapter(book, path, contents);
}

// A book that opens on a chapter too large to show: past the 16 MB the reader cleans of scripts in
// a document tree, with a script; then a chapter of prose and the last chapter.
bool writeLeftOutEpub(const QString& path, const QString& title)
{
    EpubBuilder book;
    book.setTitle(title);
    const QByteArray paragraph = "<p>The loom ran on through the night and the shuttle flew.</p>\n";
    book.addItem(QStringLiteral("huge"), QStringLiteral("huge.xhtml"),
        "<html><body><script>go()</script>" + paragraph.repeated((17 << 20) / paragraph.size()) + "</body></html>");
    ChapterBuilder after(71);
    after.addProse(8, 60, 80);
    book.addItem(QStringLiteral("after"), QStringLiteral("after.xhtml"), after.xhtml());
    return writeEndingWithLastChapter(book, path,
        { { QStringLiteral("Huge"), QStringLiteral("huge.xhtml"), {} },
            { QStringLiteral("After"), QStringLiteral("after.xhtml"), {} } });
}

// Marks of a MOBI's first page and of its last words, pictures in colours the looks don't use.
const QColor kLastWordsMark(0x10, 0x70, 0xa0);

// A MOBI of the parts between a picture on its first page and a last heading with a sentence and a
// picture after it.
QByteArray markedMobi(
    const QString& title, const QColor& firstMark, int count, const std::function<QByteArray(int)>& part)
{
    QByteArray text = "<html><body><p><img recindex=\"00001\"/></p>";
    text.reserve(count * 40);
    for (int i = 0; i < count; ++i)
        text += part(i);
    text += "<h1>Heading 249999<p>The loom stopped at last.</p><p><img recindex=\"00002\"/></p></body></html>";
    MobiWriter book;
    book.setFullName(title.toUtf8());
    book.setText(text);
    book.addImage(MobiWriter::image(QSize(240, 160), firstMark));
    book.addImage(MobiWriter::image(QSize(240, 160), kLastWordsMark));
    return book.build();
}

// The width of the first line of text over the second's in the left column of a reading window.
double widthRatio(const QImage& window)
{
    const QList<QRect> lines = textLines(window, QRect(0, 125, window.width() / 2, window.height() - 125 - 90));
    return lines.size() >= 2 ? double(lines.at(0).width()) / lines.at(1).width() : 0;
}

// The paragraph a reading link names ("...p[12]..."), 0 when it names none.
int paragraphOf(const QString& link)
{
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("p%5B(\\d+)%5D")).match(link);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// Points this process's data folder at the program's under the HOME while the object lives, so
// that the program's own library code reads and writes there.
class ProgramHome {
public:
    explicit ProgramHome(const QString& home)
        : m_home(qgetenv("HOME"))
        , m_name(QCoreApplication::applicationName())
    {
        qputenv("HOME", QFile::encodeName(home));
        QCoreApplication::setApplicationName(QLatin1String(kAppName));
    }
    ~ProgramHome()
    {
        qputenv("HOME", m_home);
        QCoreApplication::setApplicationName(m_name);
    }
    Q_DISABLE_COPY(ProgramHome)

private:
    const QByteArray m_home;
    const QString m_name;
};

// A library archive of the book of the title, written by the program's export code from the
// library and the book's state file under the HOME.
bool exportBook(const QString& home, const QString& title, const QString& archive)
{
    const QString sql = QStringLiteral("select %1 from books where title = ?");
    BookDto book;
    book.title = title;
    // The library keeps paths in Base64.
    book.full_path = QString::fromUtf8(
        QByteArray::fromBase64(queryLibrary(home, sql.arg(QLatin1String("full_path")), { title }).toLatin1()));
    book.format = queryLibrary(home, sql.arg(QLatin1String("format")), { title }).toInt();
    const ProgramHome in(home);
    exportbooks writer;
    if (!writer.open(archive) || !writer.addBook(book))
        return false;
    while (writer.hasNext()) {
        if (!writer.writeNext())
            return false;
    }
    return writer.writeContainer() && writer.commit();
}

// Imports the archive into a new library under the HOME with the program's import code, each book
// stored as the library page stores it; the number of books stored, -1 when the import did not end.
int importArchive(const QString& home, const QString& archive)
{
    const ProgramHome in(home);
    BookProvider* library = BookProvider::instance();
    if (!library->createConnection(databasePath()))
        return -1;
    bookimporter* importer = bookimporter::instance();
    int stored = 0;
    bool finished = false;
    const QMetaObject::Connection items = QObject::connect(importer, &bookimporter::itemProcessed,
        [&](ItemStatus status, const BookDto& book) { stored += status == ItemAdded && library->add(book) > 0; });
    const QMetaObject::Connection end
        = QObject::connect(importer, &bookimporter::finished, [&finished] { finished = true; });
    importer->importFromArchive(archive);
    finished = QTest::qWaitFor([&finished] { return finished; }, 60000);
    QObject::disconnect(items);
    QObject::disconnect(end);
    library->closeConnection();
    return finished ? stored : -1;
}

} // namespace

class WholeFlowTest : public QObject {
    Q_OBJECT

    // PL_WM_MODE names a window manager to run the whole flow under.
    std::unique_ptr<windowmanager::Session> m_managers;
    QTemporaryDir m_home;
    QTemporaryDir m_books;
    QProcessEnvironment m_env;
    QString m_artifacts;

    // The width of the main window on the first start. The window keeps the size it is left at (the
    // trash's tool bar widens it), so controls on its right side are found from its right edge.
    int m_firstWidth = 0;

    QString allLogs() const { return logs(m_home.path()); }

    QPoint fromRight(const QString& window, int x, int y) const
    {
        return m_firstWidth > 0 ? QPoint(geometry(window).width() - (m_firstWidth - x), y) : QPoint(x, y);
    }

    // The artifacts of a run under a window manager are named after it.
    QString artifact(const QString& name) const
    {
        const QString mode = qEnvironmentVariable("PL_WM_MODE");
        return QDir(m_artifacts)
            .filePath(QStringLiteral("wholeflow-%1").arg(mode.isEmpty() ? name : mode + '-' + name));
    }

    // The program's log under the HOME, and what its helpers wrote, kept beside the screenshots.
    void saveLog(const QString& home, const QString& name)
    {
        QFile log(artifact(name));
        if (!m_artifacts.isEmpty() && log.open(QIODevice::WriteOnly))
            log.write(logs(home).toUtf8() + "\nHelpers:\n" + testfiles::read(helperOutput(home)));
    }

    void save(const QImage& image, const char* name)
    {
        QVERIFY(image.save(artifact(QStringLiteral("%1.png").arg(QLatin1String(name)))));
    }

    // The reading state of every book with a state file (under the given HOME, else the shared one).
    QList<QJsonObject> storedStates(const QString& home = QString())
    {
        QList<QJsonObject> states;
        QDirIterator it(QDir(home.isEmpty() ? m_home.path() : home).filePath(QStringLiteral(".%1/books").arg(kAppName)),
            { QStringLiteral("*.settings") }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            states << QJsonDocument::fromJson(testfiles::read(it.next())).object();
        return states;
    }

    // The page of the one book read so far, -1 when there is not exactly one.
    int storedPage()
    {
        const QList<QJsonObject> states = storedStates();
        return states.size() == 1
            ? QJsonValue(states.first())[QStringLiteral("ReadingPosition")][QStringLiteral("Page")].toInt(-1)
            : -1;
    }

    // The favourite and deleted flags of a book as the running program stored them, "" when absent.
    QString bookFlags(const QString& title)
    {
        return queryLibrary(m_home.path(),
            QStringLiteral("select 'favorite', is_favorite, 'deleted', is_deleted from books where title = ?"),
            { title });
    }

    // A number the program keeps in its settings file (under the given HOME, else the shared one),
    // -1 while it has none.
    int storedSetting(const char* name, const QString& home = QString())
    {
        return programdriver::storedSetting(home.isEmpty() ? m_home.path() : home, name);
    }

    // The page total the footer recorded for the book of the title, -1 until it has one.
    int bookTotal(const QString& home, const QString& title)
    {
        const QString id = queryLibrary(home, QStringLiteral("select id from books where title = ?"), { title });
        return !id.isEmpty() && storedSetting("last_book_id", home) == id.toInt()
            ? storedSetting("last_book_page_count", home)
            : -1;
    }

    // Hands the book over to the running program (unless it was named on its command line), answers
    // the question with "Start reading now" and waits until its page shows with a total; the page, or
    // a null picture when a step fails.
    QImage readNow(qint64 pid, const QString& window, const QTemporaryDir& home, const QString& path,
        const QString& title, bool handOver)
    {
        if (handOver) {
            QProcess second;
            if (!start(second, environment(home), { path }) || !second.waitForFinished(20000) || second.exitCode())
                return QImage();
        }
        const QString question = waitForQuestion(pid, home.path(), window);
        if (question.isEmpty())
            qWarning().noquote() << title << "- no question";
        if (question.isEmpty() || !startReadingNow(pid, home.path(), question, title))
            return QImage();
        QElapsedTimer clock;
        clock.start();
        const bool counted = waitUntil([&] { return bookTotal(home.path(), title) > 0; }, kCountBoundMs);
        qInfo().noquote() << title << "- total" << bookTotal(home.path(), title) << "after" << clock.elapsed() << "ms";
        return counted ? settle(window, grab(window)) : QImage();
    }

    // Slides the pointer along the page slider to shares of the window's width, as a reader does,
    // and compares the slider's tip there with the tip shown afresh at the same place (the pointer
    // away, then back): around it only the tip and its soft shadow may show, alike both ways. Empty
    // when they agree, else how many pixels around the tip differ and where.
    QString tipTrace(const QString& window)
    {
        const QRect area = geometry(window);
        const int y = area.height() - 14; // the slider's row
        const QPoint away(area.width() / 2, area.height() / 2);
        for (int share : { 40, 55, 70 }) {
            const int x = area.width() * share / 100;
            for (int step = 8; step >= 0; --step)
                hover(window, QPoint(x - 15 * step, y), 40);
            const QImage slid = settle(window, grab(window));
            hover(window, away, 0);
            const QImage hidden = waitForChange(window, slid);
            hover(window, QPoint(x - 3, y), 100);
            hover(window, QPoint(x, y), 0);
            const QImage fresh = waitForChange(window, hidden);
            const QRect around = QRect(x - 220, y - 220, 440, 220) & slid.rect() & fresh.rect();
            int differ = 0;
            for (int py = around.top(); py <= around.bottom(); ++py) {
                for (int px = around.left(); px <= around.right(); ++px) {
                    const QRgb a = slid.pixel(px, py);
                    const QRgb b = fresh.pixel(px, py);
                    differ += qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b)) > 24;
                }
            }
            qInfo() << "pixels around the tip that differ after sliding to" << share << "% of the width:" << differ;
            if (differ > 30) {
                save(slid, "tip-slid");
                save(fresh, "tip-fresh");
                return QStringLiteral("%1 pixels around the tip differ at %2 % of the width").arg(differ).arg(share);
            }
        }
        hover(window, away);
        return QString();
    }

    // Chooses an entry of the reading settings' text font list (0 is the book's own font) and waits
    // until the page's first line, a line of i, is at least as wide as the given share of the
    // second, a line of M; then closes the settings. The page, or a null picture when a step fails.
    QImage chooseTextFont(qint64 pid, const QString& window, int entry, double share)
    {
        const int width = geometry(window).width();
        const QImage page = settle(window, grab(window));
        click(window, QPoint(width - 79, 91), 1); // settings
        waitForChange(window, page);
        const QStringList before = visibleWindows(pid);
        QString list;
        const auto listShown = [&] {
            const QStringList shown = visibleWindows(pid);
            for (const QString& id : shown)
                list = before.contains(id) ? list : id;
            return !list.isEmpty();
        };
        if (!retryUntil([&] { click(window, QPoint(width - 178, 387), 1); }, listShown)) // the font list
            return QImage();
        QTest::qWait(300);
        const QImage entries = grab(list);
        const QList<QRect> names = textLines(entries, entries.rect());
        if (names.size() <= entry)
            return QImage();
        click(list, QPoint(names.at(entry).left() + 10, names.at(entry).center().y()), 1);
        const bool shown = waitUntil([&] { return widthRatio(grab(window)) >= share; });
        key(QStringLiteral("Escape"));
        const QImage chosen = waitForChange(window, grab(window), 3000);
        return shown ? chosen : QImage();
    }

    bool hasFolder(const QString& name)
    {
        return !queryLibrary(m_home.path(), QStringLiteral("select id from folders where title = ?"), { name })
                    .isEmpty();
    }

    // The notes of every book, each "style:comment" (only one book gets notes here).
    QString storedNotes(const QString& home = QString())
    {
        QStringList notes;
        for (const QJsonObject& state : storedStates(home)) {
            for (const QJsonValue& note : QJsonValue(state)[QStringLiteral("Notes")][QStringLiteral("Items")].toArray())
                notes << note[QStringLiteral("Style")].toString() + QLatin1Char(':')
                        + note[QStringLiteral("Note")].toString();
        }
        return notes.join(QLatin1Char(' '));
    }

    // Waits until the covers of exactly the given books show; cards is the last picture.
    bool waitForCovers(const QString& window, const QStringList& suffixes, QImage& cards, int timeoutMs = 15000)
    {
        QStringList shown;
        const auto showing = [&] {
            cards = grab(window);
            shown.clear();
            for (const Book& book : kBooks) {
                if (book.cover.isValid() && findColour(cards, book.cover).count >= 300)
                    shown << QLatin1String(book.suffix);
            }
            return shown == suffixes;
        };
        if (waitUntil(showing, timeoutMs))
            return true;
        qWarning() << "covers shown:" << shown << "expected:" << suffixes;
        return false;
    }

    // Clicks a card's hover button (an offset from its corner) until the library records the flags.
    void clickCardButton(const QString& window, const QColor& cover, const QPoint& offset, const QString& flags)
    {
        const QString title = QStringLiteral("Flow fb2");
        const auto clickButton = [&] {
            const QImage before = grab(window);
            const QPoint corner = findColour(before, cover).corner;
            // Into the card first, so it shows its buttons (they may show already).
            hover(window, corner + QPoint(60, 100));
            waitForChange(window, before, 1500);
            click(window, corner + offset, 1);
        };
        QVERIFY2(retryUntil(clickButton, [&] { return bookFlags(title) == flags; }), qPrintable(bookFlags(title)));
    }

    // Adds books through "Add book", typing each entry into the file dialog (a folder opens it, quoted
    // names choose files in it); then closes the box that says they were added.
    void addThroughDialog(const QString& window, qint64 pid, const QStringList& entries, int books)
    {
        const auto boxShown = [pid] { return visibleWindows(pid).size() > 1; };
        QVERIFY(retryUntil([&] { click(window, QPoint(296, 91), 1); }, boxShown)); // "Add book"
        // Under a window manager the keys go where it put the focus: wait until the dialog has it.
        if (m_managers) {
            QVERIFY(waitUntil([&] {
                const QString active = QString::number(windowmanager::activeWindow());
                return active != QLatin1String("0") && active != window && visibleWindows(pid).contains(active);
            }));
        }
        QTest::qWait(300);
        for (const QString& entry : entries) {
            const QImage before = grab(QStringLiteral("0")); // the whole screen, with the dialog
            xdotool({ QStringLiteral("type"), entry });
            key(QStringLiteral("Return"));
            waitForChange(QStringLiteral("0"), before, 3000);
        }
        const auto count
            = [this] { return queryLibrary(m_home.path(), QStringLiteral("select count(*) from books")).toInt(); };
        QVERIFY2(waitUntil([&] { return count() == books; }, 40000), qPrintable(QString::number(count())));
        QVERIFY(waitUntil(boxShown));
        QTest::qWait(300);
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));
    }

    // The library once the card of the cover shows it (a later start draws the covers late on a
    // busy machine) and the window holds still.
    QImage libraryWith(const QString& window, const QColor& cover)
    {
        QImage library;
        waitUntil([&] { return findColour(library = grab(window), cover).count > 300; }, 20000);
        return settle(window, library);
    }

    // Opens the book of the cover's card in the library's picture and waits for its page. The status
    // bar's "Continue reading" button is blue like the PDF's cover: only the cards above it count.
    QImage openBook(const QString& window, const QImage& library, const QColor& cover)
    {
        click(window, findColour(library.copy(0, 0, library.width(), library.height() - 80), cover).centre, 2);
        // The first click only marks the card: wait for the page to replace the library.
        QImage now;
        waitUntil([&] { return difference(now = grab(window), library) > 0.05; }, 20000);
        return settle(window, now);
    }

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        if (!qEnvironmentVariableIsEmpty("PL_WM_MODE")) {
            m_managers = std::make_unique<windowmanager::Session>(qgetenv("PL_WM_MODE"));
            QVERIFY(m_managers->isRunning());
        }
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
        // The archive's import reads the PDF with the build's engine.
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
    }

    // The program's log stays beside the screenshots, whatever the outcome.
    void cleanupTestCase()
    {
        saveLog(m_home.path(), QStringLiteral("log.txt"));
        stopSpeechService(m_home);
        m_managers.reset();
    }

    void addReadAndReopen()
    {
        QStringList names, covered;
        for (const Book& book : kBooks) {
            librarybooks::BookRecipe fixture;
            fixture.title = QStringLiteral("Flow %1").arg(QLatin1String(book.suffix));
            fixture.coverColor = book.cover;
            if (!book.cover.isValid())
                fixture.coverSize = QSize();
            else
                covered << QLatin1String(book.suffix);
            if (QLatin1String(book.suffix) == QLatin1String("pdf")) {
                fixture.chapters = kPdfPages;
                fixture.outline = true;
            }
            const QString name = QStringLiteral("flow.%1").arg(QLatin1String(book.suffix));
            QVERIFY2(librarybooks::write(m_books.filePath(name), fixture), book.suffix);
            names << QLatin1Char('"') + name + QLatin1Char('"');
        }

        QProcess first;
        QString window = launch(first, m_env);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        m_firstWidth = geometry(window).width();
        QTRY_VERIFY_WITH_TIMEOUT(allLogs().contains(QLatin1String("send metrics false")), 5000);
        addThroughDialog(window, first.processId(), { m_books.path(), names.join(QLatin1Char(' ')) }, kBooksAdded);

        // Every cover shows on its card.
        QImage cards;
        const bool allCovers = waitForCovers(window, covered, cards, 30000);
        save(cards, "cards");
        QVERIFY(allCovers);

        // Typing into the search field leaves the one matching card; clearing it brings all back.
        click(window, QPoint(820, 91), 1);
        QTest::qWait(300);
        xdotool({ QStringLiteral("type"), QStringLiteral("pdf") });
        QVERIFY(waitForCovers(window, { QStringLiteral("pdf") }, cards));
        key(QStringLiteral("ctrl+a"));
        key(QStringLiteral("BackSpace"));
        QVERIFY(waitForCovers(window, covered, cards));

        // A card's star makes a favourite; its bin moves it to the trash, where the same corner restores it.
        const QColor fb2Colour = kBooks[1].cover;
        QCOMPARE(bookFlags(QStringLiteral("Flow fb2")), QStringLiteral("favorite 0 deleted 0"));
        clickCardButton(window, fb2Colour, QPoint(24, 20), QStringLiteral("favorite 1 deleted 0"));
        clickCardButton(window, fb2Colour, QPoint(149, 20), QStringLiteral("favorite 1 deleted 1"));
        QStringList notDeleted = covered;
        notDeleted.removeOne(QStringLiteral("fb2"));
        QVERIFY(waitForCovers(window, notDeleted, cards));
        click(window, QPoint(77, 325), 1); // "Deleted" in the side bar
        QVERIFY(waitUntil([&] { return findColour(cards = grab(window), fb2Colour).count >= 300; }));
        save(settle(window, cards), "trash");
        clickCardButton(window, fb2Colour, QPoint(24, 20), QStringLiteral("favorite 1 deleted 0"));
        click(window, QPoint(57, 104), 1); // "All"
        QVERIFY(waitForCovers(window, covered, cards));

        // A double click opens the book on its first page, all cover colour.
        const QColor pdfColour = kBooks[2].cover;
        const int pdfCardPixels = findColour(cards, pdfColour).count;
        QImage opened = openBook(window, cards, pdfColour);
        waitUntil([&] { return findColour(opened = grab(window), pdfColour).count > 2 * pdfCardPixels; });
        save(opened = settle(window, opened), "reading-first-page");
        QVERIFY2(findColour(opened, pdfColour).count > 2 * pdfCardPixels,
            qPrintable(
                QStringLiteral("first page %1, card %2").arg(findColour(opened, pdfColour).count).arg(pdfCardPixels)));

        // Each key turns a page: the picture changes each time, and the cover page is gone.
        QImage page = opened;
        for (const char* name : { "Right", "space", "Next" }) {
            key(QLatin1String(name));
            const QImage next = waitForChange(window, page);
            QVERIFY2(difference(next, page) > 0.002, name);
            page = next;
        }
        QVERIFY(findColour(page, pdfColour).count < pdfCardPixels);

        // F9 cycles the looks; each changes the page.
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

        QVERIFY(terminate(first));
        const int pageAfterFirstRun = storedPage();
        // One page per turn in single-column mode; two with two columns.
        QVERIFY2(pageAfterFirstRun == 4 || pageAfterFirstRun == 7, qPrintable(QString::number(pageAfterFirstRun)));

        // A second start on the same home: the library remembers the book and where reading stopped.
        QProcess second;
        window = launch(second, m_env);
        QVERIFY2(!window.isEmpty(), "no main window on the second start");
        const QImage library = libraryWith(window, pdfColour);
        QVERIFY(findColour(library, pdfColour).count > 300);
        const QImage reopened = openBook(window, library, pdfColour);
        save(reopened, "reopened");
        QVERIFY2(findColour(reopened, pdfColour).count < pdfCardPixels, "the book opened on its cover page");
        QVERIFY(difference(reopened, library) > 0.05);
        // "1" slides the contents in: its title, then a row per entry, "Chapter n" leading to page n.
        // A click on a row turns to its page, as the footer records it: to the first, then back.
        const QRect contentsTitles(45, 120, 220, geometry(window).height() - 200);
        const auto contentsRows = [&] {
            const QList<QRect> lines = textLines(grab(window), contentsTitles);
            return lines.size() == kPdfPages + 1 ? lines.mid(1) : QList<QRect>();
        };
        for (const int target : { 1, pageAfterFirstRun }) {
            QList<QRect> rows = contentsRows();
            if (rows.isEmpty()) {
                key(QStringLiteral("1"));
                waitUntil([&] { return !(rows = contentsRows()).isEmpty(); });
            }
            QVERIFY2(!rows.isEmpty(), "the contents show no row per entry");
            click(window, rows.at(target - 1).center(), 1);
            QVERIFY2(waitUntil([&] { return storedSetting("last_book_page") == target; }),
                qPrintable(QStringLiteral("page %1, not %2").arg(storedSetting("last_book_page")).arg(target)));
            if (target == 1)
                save(settle(window, grab(window)), "pdf-contents");
        }
        QVERIFY(terminate(second));
        QCOMPARE(storedPage(), pageAfterFirstRun);

        // A text book goes through layout and pagination; its position is a chapter link.
        QProcess third;
        window = launch(third, m_env);
        QVERIFY2(!window.isEmpty(), "no main window on the third start");
        const QImage shelf = libraryWith(window, kBooks[0].cover);
        QVERIFY(findColour(shelf, kBooks[0].cover).count > 300);
        const QImage epub = openBook(window, shelf, kBooks[0].cover);
        QVERIFY(difference(epub, shelf) > 0.05);
        key(QStringLiteral("Right"));
        QVERIFY(difference(waitForChange(window, epub), epub) > 0.002);
        // "1" slides the contents box in; Escape closes it again. The footer's dots move until the
        // pages are counted and its total comes late on a busy machine: the page is pictured once
        // the total is known, and only above the footer, where the box shows.
        QVERIFY(waitUntil([&] { return bookTotal(m_home.path(), QStringLiteral("Flow epub")) > 0; }, kCountBoundMs));
        // The page above the footer once it holds still.
        const auto stillPage = [&window] {
            QImage now;
            waitUntil([&] {
                const QImage before = now;
                now = grab(window);
                now = now.copy(0, 0, now.width(), now.height() - kFooterHeight);
                return difference(now, before) == 0;
            });
            return now;
        };
        const QImage turned = stillPage();
        key(QStringLiteral("1"));
        QVERIFY(waitUntil([&] { return difference(stillPage(), turned) > 0.02; }));
        key(QStringLiteral("Escape"));
        QImage closed;
        QVERIFY2(waitUntil([&] { return difference(closed = stillPage(), turned) < 0.002; }),
            qPrintable(QString::number(difference(closed, turned))));
        // Ctrl+B marks the page; the mark is kept with the state of the book read last, whose
        // position is a link into its second chapter.
        const auto marks = [this] {
            int count = 0;
            for (const QJsonObject& state : storedStates())
                count += QJsonValue(state)[QStringLiteral("Bookmarks")][QStringLiteral("Items")].toArray().size();
            return count;
        };
        key(QStringLiteral("ctrl+b"));
        QVERIFY(waitUntil([&] { return marks() == 1; }));
        QVERIFY(terminate(third));
        QStringList marked;
        for (const QJsonObject& state : storedStates()) {
            const bool inChapter2
                = QJsonValue(state)[QStringLiteral("ReadingPosition")][QStringLiteral("Source")].toString().contains(
                    QLatin1String("ch2.xhtml?kelpath="));
            const int marks = QJsonValue(state)[QStringLiteral("Bookmarks")][QStringLiteral("Items")].toArray().size();
            if (marks > 0 || inChapter2)
                marked << QStringLiteral("marks %1 in chapter 2 %2").arg(marks).arg(int(inChapter2));
        }
        QCOMPARE(marked, QStringList { QStringLiteral("marks 1 in chapter 2 1") });
        // The footer followed into the second chapter: the page it recorded is past the first.
        const int recorded = storedSetting("last_book_page");
        QVERIFY2(recorded >= 2, qPrintable(QString::number(recorded)));

        // The library archive keeps the reading place: the PDF, exported from this home and imported
        // into a fresh one by the program's archive code, opens where reading stopped.
        QTemporaryDir fresh;
        const QString archive = m_books.filePath(QStringLiteral("library.olv"));
        QVERIFY(exportBook(m_home.path(), QStringLiteral("Flow pdf"), archive));
        QCOMPARE(importArchive(fresh.path(), archive), 1);
        QProcess fourth;
        window = launch(fourth, environment(fresh));
        QVERIFY2(!window.isEmpty(), "no main window on the imported library");
        QImage imported;
        QVERIFY(waitUntil([&] { return findColour(imported = grab(window), pdfColour).count > 300; }, 20000));
        const QImage place = openBook(window, settle(window, imported), pdfColour);
        const bool atPlace
            = waitUntil([&] { return storedSetting("last_book_page", fresh.path()) == pageAfterFirstRun; });
        save(settle(window, grab(window)), "archive-place");
        QVERIFY2(atPlace, qPrintable(QString::number(storedSetting("last_book_page", fresh.path()))));
        QVERIFY2(findColour(place, pdfColour).count < pdfCardPixels, "the imported book opened on its cover page");
        QVERIFY(terminate(fourth));
        stopSpeechService(fresh);
    }

    // A fourth run on the same home: a book added through "Add book" and the file dialog, moved
    // into a new folder through its card's menu and seen in the table; then read: a note with a
    // comment through a selection and the note popup, a search hit that turns to its page, a
    // larger font that makes more pages, and reading aloud that stops at the first sentence the
    // speech service cannot speak. A fifth run reopens it.
    void addThroughDialogAndAnnotate()
    {
        const QString path = m_books.filePath(QStringLiteral("long.epub"));
        QVERIFY(writeLongEpub(path));
        QProcess run;
        QString window = launch(run, m_env);
        const qint64 pid = run.processId();
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        settle(window, grab(window));

        addThroughDialog(window, pid, { path }, kBooksAdded + 1);

        // A new folder takes the name typed into its entry; the card's menu moves the book there.
        QVERIFY(retryUntil([&] { click(window, QPoint(114, 277), 1); }, // "Add new category"
            [&] { return hasFolder(QStringLiteral("New category")); }));
        QTest::qWait(300);
        xdotool({ QStringLiteral("type"), QStringLiteral("Shelf") });
        key(QStringLiteral("Return"));
        QVERIFY(waitUntil([&] { return hasFolder(QStringLiteral("Shelf")); }));
        click(window, QPoint(57, 104), 1); // "All"
        QVERIFY(waitUntil([&] { return findColour(grab(window), kLongCover).count > 300; }));
        const QImage cards = settle(window, grab(window));
        const QPoint card = findColour(cards, kLongCover).centre;
        const auto inShelf = [&] {
            return queryLibrary(m_home.path(),
                       QStringLiteral("select 1 from book_folder_binder f join folders c on c.id = f.folder_id "
                                      "join books b on b.id = f.book_id where b.title = ? and c.title = 'Shelf'"),
                       { QLatin1String(kLongTitle) })
                == QLatin1String("1");
        };
        QVERIFY(retryUntil(
            [&] {
                // Each menu is waited for: on a busy machine a fixed pause can be too short.
                const int before = visibleWindows(pid).size();
                hover(window, card);
                xdotool({ QStringLiteral("click"), QStringLiteral("3") });
                waitUntil([&] { return visibleWindows(pid).size() > before; }, 3000);
                QTest::qWait(300);
                click(window, card + QPoint(40, 140), 1); // "Move to"
                waitUntil([&] { return visibleWindows(pid).size() > before + 1; }, 3000);
                QTest::qWait(300);
                click(window, card + QPoint(170, 149), 1); // "Shelf"
            },
            inShelf));

        // The table shows the book as a row with a small cover.
        click(window, fromRight(window, 1110, 91), 1);
        const QImage table = waitForChange(window, cards);
        save(table, "table");
        const int rowCover = findColour(table, kLongCover).count;
        QVERIFY2(
            rowCover > 50 && rowCover < findColour(cards, kLongCover).count / 4, qPrintable(QString::number(rowCover)));
        click(window, fromRight(window, 1056, 91), 1);
        const QImage library = waitForChange(window, table);

        // A word selected by a drag brings the note popup: a colour makes the note, and the
        // comment typed into its editor is kept with it.
        QImage page = openBook(window, library, kLongCover);
        const QString popup = selectForNote(window, pid);
        QVERIFY2(!popup.isEmpty(), "no note popup");
        QVERIFY(retryUntil([&] { click(popup, QPoint(103, 19), 1); }, // the third colour
            [&] { return storedNotes() == QStringLiteral("red:"); }));
        const QString comment = QStringLiteral("Mind the weaver");
        const QString note = QStringLiteral("red:") + comment;
        click(popup, QPoint(75, 69), 1); // the comment editor
        xdotool({ QStringLiteral("type"), comment });
        QVERIFY2(waitUntil([&] { return storedNotes() == note; }), qPrintable(storedNotes()));
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));

        // A hit of the search box turns to its page, the only one holding the word.
        key(QStringLiteral("ctrl+f"));
        QTest::qWait(500);
        xdotool({ QStringLiteral("type"), QLatin1String(kRareWord) });
        key(QStringLiteral("Return"));
        page = waitForChange(window, grab(window));
        QCOMPARE(storedSetting("last_book_page"), 1);
        QVERIFY(retryUntil(
            [&] { click(window, QPoint(163, 262), 1); }, [&] { return storedSetting("last_book_page") == 11; }));
        key(QStringLiteral("Escape"));

        // "+" typed as on a US keyboard (Shift and "=") and then "-" change the size by a step each.
        const auto fontSize = [&] {
            for (const QJsonObject& state : storedStates()) {
                if (!QJsonValue(state)[QStringLiteral("Notes")][QStringLiteral("Items")].toArray().isEmpty())
                    return QJsonValue(state)[QStringLiteral("FontSettings")][QStringLiteral("Size")].toInt(-1);
            }
            return -1;
        };
        const int size = fontSize();
        QVERIFY(size > 0);
        key(QStringLiteral("plus"));
        QVERIFY2(waitUntil([&] { return fontSize() == size + 1; }), qPrintable(QString::number(fontSize())));
        key(QStringLiteral("minus"));
        QVERIFY2(waitUntil([&] { return fontSize() == size; }), qPrintable(QString::number(fontSize())));

        // The largest font size makes more pages.
        const int pages = storedSetting("last_book_page_count");
        QVERIFY(pages > 1);
        page = waitForChange(window, grab(window));
        click(window, fromRight(window, 1067, 91), 1); // settings
        page = waitForChange(window, page);
        QVERIFY(retryUntil(
            [&] {
                click(window, fromRight(window, 969, 457), 1); // the font size handle
                key(QStringLiteral("End"));
            },
            [&] { return storedSetting("last_book_page_count") > pages; }));
        save(waitForChange(window, page), "font-size");
        key(QStringLiteral("Escape"));
        // The font size handle had the keys; with its box closed they zoom the book again.
        QVERIFY2(waitUntil([&] { return fontSize() > size + 1; }), qPrintable(QString::number(fontSize())));
        const int largest = fontSize();
        key(QStringLiteral("minus"));
        QVERIFY2(waitUntil([&] { return fontSize() == largest - 1; }),
            qPrintable(QStringLiteral("%1 after %2").arg(fontSize()).arg(largest)));
        key(QStringLiteral("plus"));
        QVERIFY2(waitUntil([&] { return fontSize() == largest; }), qPrintable(QString::number(fontSize())));

        // Reading aloud meets the real speech service (started into the private runtime folder),
        // which has no sound device to speak to: the first sentence is never heard, so reading
        // aloud stops there and says so once, and the page stays where it was.
        const int pageBefore = storedSetting("last_book_page");
        const int logSize = allLogs().size();
        QElapsedTimer readAloudClock;
        readAloudClock.start();
        key(QStringLiteral("F7"));
        QVERIFY(
            waitUntil([&] { return allLogs().mid(logSize).contains(QLatin1String("Stop reading aloud.")); }, 30000));
        const QString spoken = allLogs().mid(logSize);
        for (const QString& line : spoken.split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String("TTS")) || line.contains(QLatin1String("aloud")))
                qInfo().noquote() << line;
        }
        qInfo() << "reading aloud stopped after" << readAloudClock.elapsed() << "ms";
        QVERIFY2(spoken.contains(QLatin1String("Read aloud: ")), qPrintable(spoken));
        QVERIFY2(!spoken.contains(QLatin1String("end of text stream")), qPrintable(spoken));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 2; }));
        QTest::qWait(1000);
        QCOMPARE(visibleWindows(pid).size(), 2);
        QCOMPARE(storedSetting("last_book_page"), pageBefore);
        save(QGuiApplication::primaryScreen()->grabWindow(0).toImage(), "read-aloud-stopped");
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));
        // Asked again, the service that failed costs no hang: a new engine fails the same way.
        const int secondStart = allLogs().size();
        key(QStringLiteral("F7"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 2; }, 30000));
        QVERIFY(allLogs().mid(secondStart).contains(QLatin1String("Stop reading aloud.")));
        QCOMPARE(storedSetting("last_book_page"), pageBefore);
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));

        const int lastPage = storedSetting("last_book_page");
        const QImage lastLook = settle(window, grab(window));
        QVERIFY(terminate(run));
        QCOMPARE(storedNotes(), note);

        // The next start opens the book as it was left, on the same page with its note.
        QProcess again;
        window = launch(again, m_env);
        QVERIFY2(!window.isEmpty(), "no main window on the fifth start");
        const QImage shelf = libraryWith(window, kLongCover);
        QVERIFY(findColour(shelf, kLongCover).count > 300);
        page = openBook(window, shelf, kLongCover);
        QVERIFY2(waitUntil([&] { return difference(page = grab(window), lastLook) < 0.01; }, 15000),
            qPrintable(QString::number(difference(page, lastLook))));
        save(page, "long-book-reopened");
        QCOMPARE(storedSetting("last_book_page"), lastPage);
        QVERIFY(terminate(again));
        QCOMPARE(storedNotes(), note);
    }

    // On a home of its own, books of shapes that once read wrong, each opened with "Start reading
    // now" (the first named on the command line, the others handed over): a 2 MB chapter with
    // control characters XML forbids shows without the parser's error box, counts the pages of its
    // clean twin and reads on to its last chapter; a spine naming one file fifty times reaches its
    // last page by page turns and by End; a monospace font draws a line of i as wide as a line of M,
    // on an EPUB and on a MOBI; then chapters of hard shapes.
    void booksOfHardShapes()
    {
        QTemporaryDir home;
        const auto keepLog = qScopeGuard([&] { saveLog(home.path(), QStringLiteral("hard-shapes-log.txt")); });
        const QStringList titles { QStringLiteral("Clean twin"), QStringLiteral("Control characters"),
            QStringLiteral("Repeating spine"), QStringLiteral("Widths") };
        QStringList paths;
        for (const char* name : { "twin.epub", "controls.epub", "spine.epub", "widths.mobi" })
            paths << m_books.filePath(QLatin1String(name));
        QVERIFY(writeControlsEpub(paths[0], titles[0], false));
        QVERIFY(writeControlsEpub(paths[1], titles[1], true));
        QVERIFY(writeRepeatingSpineEpub(paths[2], titles[2]));
        QVERIFY(testfiles::write(paths[3], widthsMobi(titles[3])));
        const auto page = [&] { return storedSetting("last_book_page", home.path()); };
        const auto lastPageShown = [](const QImage& image) { return findColour(image, kLastPageMark).count > 1000; };

        QProcess run;
        QVERIFY(start(run, environment(home), { paths[0] }));
        const qint64 pid = run.processId();
        const QString window = waitForWindow(pid);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QImage shown = readNow(pid, window, home, paths[0], titles[0], false);
        QVERIFY(!shown.isNull());
        const int twinTotal = bookTotal(home.path(), titles[0]);
        QCOMPARE(parserErrorPixels(shown), 0);

        QVERIFY(!(shown = readNow(pid, window, home, paths[1], titles[1], true)).isNull());
        save(shown, "control-characters");
        QCOMPARE(parserErrorPixels(shown), 0);
        int total = 0;
        QVERIFY2(
            waitUntil([&] { return qAbs((total = bookTotal(home.path(), titles[1])) - twinTotal) * 100 <= twinTotal; }),
            qPrintable(QStringLiteral("%1 pages, its twin %2").arg(total).arg(twinTotal)));
        key(QStringLiteral("End"));
        QVERIFY(waitUntil([&] { return lastPageShown(grab(window)); }));
        QVERIFY2(page() >= total - 1, qPrintable(QString::number(page())));

        // Screen by screen from the first page: every turn goes forward, up to the last page, and
        // the last word of the wide table shows on one of them.
        QVERIFY(!(shown = readNow(pid, window, home, paths[2], titles[2], true)).isNull());
        total = bookTotal(home.path(), titles[2]);
        QList<int> pages { page() };
        bool tableEnd = false;
        while (!lastPageShown(shown) && pages.size() <= total) {
            key(QStringLiteral("Right"));
            shown = waitForChange(window, shown);
            if (!tableEnd && findColour(shown, kWideTableMark).count > 150) {
                tableEnd = true;
                save(shown, "wide-table-end");
            }
            if (!waitUntil([&] { return page() != pages.last(); }, 5000) || page() < pages.last())
                break;
            pages << page();
        }
        QStringList turned;
        for (int number : pages)
            turned << QString::number(number);
        QVERIFY2(lastPageShown(shown) && page() >= total - 1 && std::is_sorted(pages.begin(), pages.end()),
            qPrintable(QStringLiteral("pages %1 then %2 of %3").arg(turned.join(' ')).arg(page()).arg(total)));
        QVERIFY(tableEnd);
        key(QStringLiteral("Home"));
        QVERIFY(waitUntil([&] { return page() == 1; }));
        key(QStringLiteral("End"));
        QVERIFY(waitUntil([&] { return lastPageShown(grab(window)) && page() >= total - 1; }));

        // The first page's lines of i and of M, in the book's own serif face and then in Courier New,
        // the third family the list offers after the book's own font.
        key(QStringLiteral("Home"));
        QVERIFY(waitUntil([&] { return page() == 1; }));
        shown = waitForChange(window, shown);
        QVERIFY2(widthRatio(shown) < 0.6, qPrintable(QString::number(widthRatio(shown))));
        shown = chooseTextFont(pid, window, 3, 0.9);
        QVERIFY2(!shown.isNull(), qPrintable(QString::number(widthRatio(grab(window)))));
        save(shown, "monospace-epub");

        QVERIFY(!(shown = readNow(pid, window, home, paths[3], titles[3], true)).isNull());
        QVERIFY2(widthRatio(shown) < 0.6, qPrintable(QString::number(widthRatio(shown))));
        shown = chooseTextFont(pid, window, 3, 0.9);
        QVERIFY2(!shown.isNull(), qPrintable(QString::number(widthRatio(grab(window)))));
        save(shown, "monospace-mobi");

        // Older chapters (Latin-1, ASCII and Latin-5 labels over Windows punctuation, windows-1251
        // behind a meta in a comment) show as their UTF-8 twins, page by page.
        const QStringList olderTitles { QStringLiteral("Older twin"), QStringLiteral("Older chapters") };
        QList<QImage> twinPages;
        for (int i = 0; i < olderTitles.size(); ++i) {
            const QString olderBook = m_books.filePath(QStringLiteral("older%1.epub").arg(i));
            QVERIFY(writeOlderChaptersEpub(olderBook, olderTitles[i], i == 1));
            QVERIFY2(!(shown = readNow(pid, window, home, olderBook, olderTitles[i], true)).isNull(),
                qPrintable(olderTitles[i]));
            const QRect textArea(0, 125, shown.width(), shown.height() - 125 - kFooterHeight);
            for (int chapter = 0; chapter < 4; ++chapter) {
                if (chapter) {
                    key(QStringLiteral("Right"));
                    shown = waitForChange(window, shown);
                }
                save(shown, qPrintable(QStringLiteral("older-%1-%2").arg(i).arg(chapter + 1)));
                if (i == 0) {
                    twinPages << shown.copy(textArea);
                    continue;
                }
                const double differ = difference(shown.copy(textArea), twinPages[chapter]);
                QVERIFY2(differ == 0,
                    qPrintable(QStringLiteral("chapter %1 differs from its twin in %2 % of its pixels")
                                   .arg(chapter + 1)
                                   .arg(differ * 100)));
            }
        }

        // A UTF-16 chapter of 800 KB shows as its text, with the page total of its UTF-8 twin; a chapter
        // too large to show is a page that says so, with the footer's total, and the pages after it
        // turn. The window answers a key, each process stays under 1.5 GB, and End reaches
        // the last words.
        const QStringList chapterTitles { QStringLiteral("Wide twin"), QStringLiteral("Wide chapter"),
            QStringLiteral("Left out") };
        const QStringList chapterBooks { m_books.filePath(QStringLiteral("widetwin.epub")),
            m_books.filePath(QStringLiteral("wide.epub")), m_books.filePath(QStringLiteral("leftout.epub")) };
        QVERIFY(writeWideEpub(chapterBooks[0], chapterTitles[0], false));
        QVERIFY(writeWideEpub(chapterBooks[1], chapterTitles[1], true));
        QVERIFY(writeLeftOutEpub(chapterBooks[2], chapterTitles[2]));
        QVERIFY(!readNow(pid, window, home, chapterBooks[0], chapterTitles[0], true).isNull());
        const int wideTotal = bookTotal(home.path(), chapterTitles[0]);
        for (int i = 1; i < chapterTitles.size(); ++i) {
            const QString& title = chapterTitles[i];
            QVERIFY2(!(shown = readNow(pid, window, home, chapterBooks[i], title, true)).isNull(), qPrintable(title));
            save(shown, i == 1 ? "utf16-chapter" : "left-out-chapter");
            // Words on the page, not a white one.
            QVERIFY2(textLines(shown, QRect(0, 125, shown.width() / 2, shown.height() - 125 - 90)).size() >= 2,
                qPrintable(title));
            total = bookTotal(home.path(), title);
            if (i == 1) {
                QVERIFY2(waitUntil([&] {
                    return qAbs((total = bookTotal(home.path(), title)) - wideTotal) * 100 <= wideTotal;
                }),
                    qPrintable(QStringLiteral("%1 pages, its twin %2").arg(total).arg(wideTotal)));
            }
            const int before = page();
            const qint64 answer = answerTime(window, QStringLiteral("Right"));
            QVERIFY2(waitUntil([&] { return page() > before; }), qPrintable(title));
            key(QStringLiteral("End"));
            QVERIFY2(waitUntil([&] { return lastPageShown(grab(window)); }), qPrintable(title));
            QVERIFY2(waitUntil([&] { return page() >= total - 1; }), qPrintable(QString::number(page())));
            const int peak = peakMemoryMb(pid);
            const int helperPeak = peakMemoryMb(childProcess(pid, QStringLiteral("zuvezedoda")));
            qInfo().noquote() << title << "-" << total << "pages, key answered after" << answer << "ms, peak memory"
                              << peak << "MB, page counter" << helperPeak << "MB";
            QVERIFY2(answer >= 0, qPrintable(title));
            QVERIFY2(peak > 0 && peak < 1536, qPrintable(title));
            QVERIFY2(helperPeak > 0 && helperPeak < 1536, qPrintable(title));
        }
        QVERIFY(terminate(run));
    }

    // MOBI books of hostile shapes, each opened with "Start reading now": a million headings that
    // show nothing (no-break spaces, empty inline elements, line breaks, empty anchors), and
    // 250,000 unclosed headings each followed by a sentence. The page shows, the window answers a
    // key (the contents box), End shows the last words, and the reader and the page counter each
    // stay under 1.5 GB while the pages are counted. A SIGTERM while a third is converted ends the
    // program at once, the conversion stopped on its way; so does one while a chapter of 48 MB in
    // one block is opened, and one while an EPUB chapter of a megabyte of bare "<" is laid out. (How
    // soon is timed in bench_mobi, bench_parsercheck and bench_readingpage.)
    void mobiOfManyHeadings()
    {
        QTemporaryDir home;
        const auto keepLog = qScopeGuard([&] { saveLog(home.path(), QStringLiteral("many-headings-log.txt")); });
        const QStringList titles { QStringLiteral("Nothing shows"), QStringLiteral("Many headings") };
        // Each book's first page its own mark: the one before shows until the next is converted.
        const QColor firstMarks[] = { QColor(0x90, 0x10, 0x60), QColor(0x60, 0x90, 0x10) };
        const QList<QByteArray> forms { "<h1>&#160;</h1>", "<h2>&nbsp;</h2>", "<h3><b></b></h3>", "<h1><br></h1>",
            "<h2><br/></h2>", "<h3><a id=\"e\"></a></h3>", "<h4> <i>&#xA0;</i> </h4>",
            "<h1><span></span>&#x2003;</h1>" };
        QElapsedTimer clock;
        clock.start();
        QStringList paths;
        for (const QString& title : titles)
            paths << m_books.filePath(title + QStringLiteral(".mobi"));
        QVERIFY(testfiles::write(paths[0],
            markedMobi(titles[0], firstMarks[0], 1000000, [&forms](int i) { return forms.at(i % forms.size()); })));
        QVERIFY(testfiles::write(paths[1], markedMobi(titles[1], firstMarks[1], 249999, [](int i) {
            return "<h1>Heading " + QByteArray::number(i) + "<p>Line " + QByteArray::number(i) + " ends.";
        })));
        qInfo() << "books written in" << clock.restart() << "ms";

        QProcess run;
        QVERIFY(start(run, environment(home), { paths[0] }));
        const qint64 pid = run.processId();
        const QString window = waitForWindow(pid);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        for (int k = 0; k < titles.size(); ++k) {
            const QString& title = titles.at(k);
            if (k > 0) {
                QProcess handOver;
                QVERIFY(start(handOver, environment(home), { paths[k] }));
                QVERIFY(handOver.waitForFinished(20000));
            }
            const QString question = waitForQuestion(pid, home.path(), window);
            QVERIFY2(!question.isEmpty(), qPrintable(title));
            clock.restart();
            QVERIFY2(startReadingNow(pid, home.path(), question, title), qPrintable(title));
            QVERIFY2(waitUntil([&] { return findColour(grab(window), firstMarks[k]).count > 1000; }, 60000),
                qPrintable(title));
            const qint64 shown = clock.elapsed();
            settle(window, grab(window));
            const qint64 answer = answerTime(window, QStringLiteral("1"));
            QVERIFY2(answerTime(window, QStringLiteral("Escape")) >= 0, qPrintable(title));
            settle(window, grab(window));
            clock.restart();
            key(QStringLiteral("End"));
            const bool lastWords
                = waitUntil([&] { return findColour(grab(window), kLastWordsMark).count > 1000; }, 30000);
            const qint64 ended = clock.elapsed();
            save(settle(window, grab(window)), k == 0 ? "nothing-shows-end" : "many-headings-end");
            // The page counter lays every chapter out: its peak comes with the count.
            QVERIFY2(waitUntil([&] { return bookTotal(home.path(), title) > 0; }, kCountBoundMs), qPrintable(title));
            const int reader = peakMemoryMb(pid);
            const int helper = peakMemoryMb(childProcess(pid, QStringLiteral("zuvezedoda")));
            qInfo().noquote() << title << "- page after" << shown << "ms, key answered after" << answer
                              << "ms, last words after End in" << ended << "ms, counted after" << clock.elapsed()
                              << "ms; peak memory: reader" << reader << "MB, page counter" << helper << "MB";
            QVERIFY2(answer >= 0, qPrintable(title));
            QVERIFY2(lastWords, qPrintable(title));
            QVERIFY2(reader > 0 && reader < 1536, qPrintable(title));
            QVERIFY2(helper > 0 && helper < 1536, qPrintable(title));
        }
        // A third such book, and a SIGTERM while it converts: the program ends at once, the
        // conversion stopped on its way, and the places stored are those of before.
        const QString third = m_books.filePath(QStringLiteral("Stopped.mobi"));
        QVERIFY(testfiles::write(third, markedMobi(QStringLiteral("Stopped"), firstMarks[1], 249999, [](int i) {
            return "<h2>Part " + QByteArray::number(i) + "<p>Row " + QByteArray::number(i) + " ends.";
        })));
        const auto places = [this, &home] {
            QStringList sources;
            for (const QJsonObject& state : storedStates(home.path()))
                sources << QJsonValue(state)[QStringLiteral("ReadingPosition")][QStringLiteral("Source")].toString();
            sources.sort();
            return sources;
        };
        const auto opening = [&home] { return logs(home.path()).count(QLatin1String("create book context")); };
        const QStringList stored = whenStill(places);
        const int opened = opening();
        QProcess handOver;
        QVERIFY(start(handOver, environment(home), { third }) && handOver.waitForFinished(20000));
        const QString question = waitForQuestion(pid, home.path(), window);
        QVERIFY(retryUntil([&] { click(QString(), geometry(question).bottomRight() - QPoint(70, 30), 1); },
            [&] { return opening() > opened; })); // "Start reading now"
        ::kill(pid_t(pid), SIGTERM);
        QVERIFY(run.waitForFinished(20000) && run.exitCode() == 0);
        // The conversion itself stopped: one left to run takes three times the whole wait above.
        QVERIFY(logs(home.path())
                    .contains(QRegularExpression(
                        QStringLiteral("The conversion of .*Stopped\\.mobi.* stops: the program ends"))));
        QCOMPARE(places(), stored);

        // A chapter of a megabyte of bare "<", opened at the next start: its page shows (the web
        // engine took minutes over such a chapter, so the deadline only tells that from a page
        // shown at all), and a SIGTERM then ends the program cleanly with the place stored.
        const QString bare = m_books.filePath(QStringLiteral("Bare.mobi"));
        const QColor bareMark(0xb0, 0x50, 0x20);
        MobiWriter bareBook;
        bareBook.setFullName("Bare");
        bareBook.setText("<html><body><p><img recindex=\"00001\"/></p>" + QByteArray(1 << 20, '<') + "</body></html>");
        bareBook.addImage(MobiWriter::image(QSize(240, 160), bareMark));
        QVERIFY(testfiles::write(bare, bareBook.build()));
        // Started with the book, which is read at once: the main window once the page shows its
        // mark, and the time from "Start reading now" on; an empty window where a step failed.
        const auto readAtStart
            = [&](QProcess& process, const QString& path, const QString& title, const QColor& mark, qint64* shownMs) {
                  if (!start(process, environment(home), { path }))
                      return QString();
                  const QString window = waitForWindow(process.processId());
                  const QString question
                      = window.isEmpty() ? QString() : waitForQuestion(process.processId(), home.path(), window);
                  QElapsedTimer shown;
                  shown.start();
                  if (question.isEmpty() || !startReadingNow(process.processId(), home.path(), question, title)
                      || !waitUntil([&] { return findColour(grab(window), mark).count > 1000; }, 90000))
                      return QString();
                  *shownMs = shown.elapsed();
                  return window;
              };
        QProcess again;
        qint64 bareShown = 0;
        const QString againWindow = readAtStart(again, bare, QStringLiteral("Bare"), bareMark, &bareShown);
        QVERIFY2(!againWindow.isEmpty(), "the page of bare \"<\" did not show");
        save(grab(againWindow), "bare-less-than");
        ::kill(pid_t(again.processId()), SIGTERM);
        clock.restart();
        QVERIFY(again.waitForFinished(20000) && again.exitCode() == 0);
        qInfo() << "bare \"<\": page after" << bareShown << "ms, ended" << clock.elapsed() << "ms after SIGTERM";
        QCOMPARE(places().size(), stored.size() + 1);

        // The same in an EPUB, whose chapter is not XML and shown as HTML: its page shows (after
        // 16 s once: the web view laid the word of a megabyte out as one block), and a SIGTERM
        // while a larger font lays it out again ends the program cleanly (the reading page
        // benchmark measures how soon), keeping every place stored before and adding the book's own.
        const QString lessBook = m_books.filePath(QStringLiteral("Less.epub"));
        const QColor lessMark(0x50, 0x20, 0xb0);
        EpubBuilder less;
        less.setTitle(QStringLiteral("Less"));
        less.addItem(QStringLiteral("less"), QStringLiteral("less.xhtml"),
            "<html><body><p><img src=\"images/mark.png\" alt=\"\"/></p>" + QByteArray(1 << 20, '<') + "</body></html>");
        less.addResource(QStringLiteral("mark"), QStringLiteral("images/mark.png"),
            EpubBuilder::png(240, 160, lessMark.rgb()), QStringLiteral("image/png"));
        QVERIFY(less.write(lessBook));
        const QStringList placesOfBare = places();
        QProcess lessRun;
        qint64 lessShown = 0;
        QVERIFY2(!readAtStart(lessRun, lessBook, QStringLiteral("Less"), lessMark, &lessShown).isEmpty(),
            "the page of an EPUB of bare \"<\" did not show");
        const auto layouts = [&home] { return logs(home.path()).count(QLatin1String("repaginate requested")); };
        const int laidOut = layouts();
        key(QStringLiteral("plus"));
        QVERIFY2(waitUntil([&] { return layouts() > laidOut; }), "no layout for the larger font");
        ::kill(pid_t(lessRun.processId()), SIGTERM);
        clock.restart();
        QVERIFY(lessRun.waitForFinished(20000) && lessRun.exitCode() == 0);
        const qint64 lessEnded = clock.elapsed();
        qInfo() << "EPUB of bare \"<\": page after" << lessShown << "ms, ended" << lessEnded
                << "ms after SIGTERM while laid out again";
        const QStringList placesOfLess = places();
        QCOMPARE(placesOfLess.size(), placesOfBare.size() + 1);
        for (const QString& place : placesOfBare)
            QVERIFY2(placesOfLess.contains(place), qPrintable(place));

        // A chapter of 48 MB in one block, too large to be cut, opened at the next start: a SIGTERM
        // while it is opened (seconds of work) ends the program cleanly, the places stored as they
        // were.
        const QString large = m_books.filePath(QStringLiteral("One Block.mobi"));
        QByteArray block = "<html><body><div>";
        for (int i = 0; block.size() < (48 << 20); ++i)
            block += "<p>Line " + QByteArray::number(i) + " of one long block.</p>";
        MobiWriter largeBook;
        largeBook.setFullName("One Block");
        largeBook.setText(block + "</div></body></html>");
        block.clear();
        QVERIFY(testfiles::write(large, largeBook.build()));
        const QStringList placesBefore = places();
        QProcess last;
        QVERIFY(start(last, environment(home), { large }));
        const qint64 lastPid = last.processId();
        const QString lastWindow = waitForWindow(lastPid);
        QVERIFY2(!lastWindow.isEmpty(), "no main window appeared");
        const QString largeQuestion = waitForQuestion(lastPid, home.path(), lastWindow);
        QVERIFY(!largeQuestion.isEmpty());
        const int openedBefore = opening();
        QVERIFY(retryUntil([&] { click(QString(), geometry(largeQuestion).bottomRight() - QPoint(70, 30), 1); },
            [&] { return opening() > openedBefore; })); // "Start reading now"
        ::kill(pid_t(lastPid), SIGTERM);
        clock.restart();
        QVERIFY(last.waitForFinished(20000) && last.exitCode() == 0);
        qInfo() << "one block of 48 MB: ended" << clock.elapsed() << "ms after SIGTERM while it was opened";
        QCOMPARE(places(), placesBefore);
    }

    // The speech service is asked only when reading aloud or its settings need it: one that accepts
    // and never answers costs the start nothing, and relative HOME and runtime folders are taken
    // from the folder the program starts in. Either way the program ends cleanly.
    void startWithoutSpeechService_data()
    {
        QTest::addColumn<bool>("relativeFolders");
        QTest::newRow("speech service hung") << false;
        QTest::newRow("relative HOME and runtime folder") << true;
    }

    void startWithoutSpeechService()
    {
        QFETCH(bool, relativeFolders);
        QTemporaryDir home;
        QProcessEnvironment env = environment(home);
        QLocalServer hung;
        QString workDir;
        if (relativeFolders) {
            workDir = QFileInfo(home.path()).absolutePath();
            const QString name = QFileInfo(home.path()).fileName();
            env.insert(QStringLiteral("HOME"), name);
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), name + QStringLiteral("/run"));
        } else {
            // Connections wait in the socket's queue and are never answered.
            QVERIFY(hung.listen(home.filePath(QStringLiteral("run/hung.sock"))));
            env.insert(QStringLiteral("SPEECHD_ADDRESS"), QStringLiteral("unix_socket:") + hung.fullServerName());
        }
        QProcess run;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(start(run, env, {}, workDir));
        const QString window = waitForWindow(run.processId());
        const qint64 shown = clock.elapsed();
        QVERIFY2(!window.isEmpty(), "no main window");
        qInfo() << "main window after" << shown << "ms";
        save(settle(window, grab(window)), relativeFolders ? "start-relative-home" : "start-speech-hung");
        // The start did not even ask the hung service, so it cannot have waited for it (how soon the
        // window shows beside a hung service is timed in bench_speechstartup).
        QVERIFY(!hung.hasPendingConnections());
        QVERIFY(QDir(home.filePath(QStringLiteral(".%1/log").arg(QLatin1String(kAppName)))).exists());
        QVERIFY(terminate(run));
    }

    // Reading aloud started (F7) and stopped (F8) five times on one book, while its speech service
    // comes to hold a request for good: speech-dispatcher without a sound device, or a service that
    // never answers once given a text (there the first start waits for the failure). The window never
    // waits for the engine: after each stop Right turns the page. An engine that does not answer
    // within its bound is given up with one line in the log; reading aloud on at that moment stops
    // and says so; the service is not asked again, and each later F7 says at once that reading aloud
    // is not available. At the end a book handed over reaches the library and SIGTERM ends the
    // program.
    void readAloudStartedAndStoppedAgain_data()
    {
        QTest::addColumn<bool>("silentService");
        QTest::newRow("real speech service") << false;
        QTest::newRow("service that never answers a text") << true;
    }

    void readAloudStartedAndStoppedAgain()
    {
        QFETCH(bool, silentService);
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const auto cleanUp = qScopeGuard([&] {
            saveLog(home.path(), QStringLiteral("read-aloud-%1.txt").arg(silentService));
            stopSpeechService(home);
        });
        SilentSpeechService silent;
        if (silentService)
            QVERIFY(silent.listen(home.filePath(QStringLiteral("run/speech-dispatcher/speechd.sock"))));
        const QString title = QStringLiteral("Aloud again");
        const QString path = m_books.filePath(QStringLiteral("aloud-again.epub"));
        QVERIFY(writeAloudEpub(path, title));
        QProcess run;
        QVERIFY(start(run, env, { path }));
        const qint64 pid = run.processId();
        const QString window = waitForWindow(pid);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QVERIFY(!readNow(pid, window, home, path, title, false).isNull());

        const auto count = [&](const char* text) { return logs(home.path()).count(QLatin1String(text)); };
        const char* const started = "Start reading aloud...";
        const char* const stopped = "Stop reading aloud.";
        const char* const failed = "Read aloud: the speech engine could not speak";
        const char* const refused = "Read aloud: text to speech is not available";
        const char* const givenUp = "TTS: the speech engine is given up for this run";
        const auto dismissBoxes = [&] {
            for (int i = 0; i < 5 && visibleWindows(pid).size() > 1; ++i) {
                key(QStringLiteral("Escape"));
                waitUntil([&] { return visibleWindows(pid).size() == 1; }, 3000);
            }
        };
        for (int round = 1; round <= 5; ++round) {
            const int starts = count(started), stops = count(stopped), refusals = count(refused) + count(failed);
            const int asked = count("TTS: engines to try");
            const bool gaveUpBefore = count(givenUp) > 0;
            xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), window });
            key(QStringLiteral("F7"));
            QVERIFY2(
                waitUntil([&] { return count(started) > starts || count(refused) + count(failed) > refusals; }, 60000),
                qPrintable(QStringLiteral("round %1").arg(round)));
            if (silentService && round == 1) {
                // Reading aloud is on while the service holds its first text: the bound ends it.
                QVERIFY(waitUntil([&] { return count(failed) > 0; }, 60000));
                QVERIFY(silent.silent());
            }
            if (gaveUpBefore) {
                // Said at once, the service not asked again.
                QCOMPARE(count(started), starts);
                QCOMPARE(count("TTS: engines to try"), asked);
            }
            key(QStringLiteral("F8"));
            QVERIFY2(waitUntil([&] { return count(stopped) > stops; }, 30000),
                qPrintable(QStringLiteral("round %1").arg(round)));
            // The window answers: Right turns the page (after any box about reading aloud).
            const int before = storedSetting("last_book_page", home.path());
            QVERIFY2(retryUntil(
                         [&] {
                             dismissBoxes();
                             key(QStringLiteral("Right"));
                         },
                         [&] { return storedSetting("last_book_page", home.path()) > before; }),
                qPrintable(QStringLiteral("round %1, page %2").arg(round).arg(before)));
        }
        if (silentService) {
            QCOMPARE(count(givenUp), 1);
            QCOMPARE(count(failed), 1);
            QVERIFY(count(refused) >= 4);
        }

        // A book handed over now reaches the library, and SIGTERM ends the program.
        const QString handedTitle = QStringLiteral("Aloud handed over");
        const QString handed = m_books.filePath(QStringLiteral("aloud-handed.epub"));
        QVERIFY(writeAloudEpub(handed, handedTitle));
        QProcess second;
        QVERIFY(start(second, env, { handed }));
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(waitUntil(
            [&] {
                return queryLibrary(
                           home.path(), QStringLiteral("select count(*) from books where title = ?"), { handedTitle })
                    == QLatin1String("1");
            },
            30000));
        QVERIFY(terminate(run));
    }

    // On a home of its own: a second start with relative book paths hands them over and ends; files
    // dragged from another program by XDND, with the real pointer, are added; SIGTERM ends cleanly.
    void handOverDropAndExit()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const auto titles = [&home] {
            return queryLibrary(home.path(), QStringLiteral("select title from books order by title")).split('\n');
        };
        const QStringList handed { QStringLiteral("Hand-over"), QStringLiteral("Hand-over Two") };
        const QStringList dropped { QStringLiteral("Dropped One"), QStringLiteral("Dropped Two") };
        for (const QString& title : handed + dropped) {
            librarybooks::BookRecipe book;
            book.title = title;
            QVERIFY(librarybooks::write(m_books.filePath(title + QStringLiteral(".epub")), book));
        }
        QProcess first;
        const QString window = launch(first, env);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QProcess second;
        // A mistyped name among them is named in the log and in a second box.
        QVERIFY(start(second, env, { handed[0] + ".epub", handed[1] + ".epub", "Mistyped.epub" }, m_books.path()));
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(logs(home.path()).contains(QLatin1String("Exit from application (already running)")),
            windowwaits::kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            logs(home.path()).contains(m_books.filePath(handed[0] + ".epub")), windowwaits::kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(titles(), handed, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(
            logs(home.path()).contains(QLatin1String("Not added: ") + m_books.filePath("Mistyped.epub")),
            windowwaits::kTimeoutMs);
        // The running instance says so in a box, which has the focus; Escape closes it, then the
        // box naming the file not added.
        QTest::qWait(1000);
        key(QStringLiteral("Escape"));
        QTest::qWait(500);
        key(QStringLiteral("Escape"));
        QTest::qWait(500);

        QProcess source;
        source.setProcessEnvironment(env);
        source.start(QStringLiteral(PL_DRAG_SOURCE),
            { m_books.filePath(dropped[0] + ".epub"), m_books.filePath(dropped[1] + ".epub") });
        QVERIFY2(source.waitForStarted(10000), qPrintable(source.errorString()));
        const QString sourceWindow = waitForWindow(source.processId(), QStringLiteral("Drag Source"));
        QVERIFY2(!sourceWindow.isEmpty(), "no drag source window");
        QTest::qWait(300);
        const QRect target = geometry(window);
        // The middle of the window's lower half: the book list, clear of the source window.
        const QPoint to(target.center().x(), target.top() + target.height() * 3 / 4);
        QVERIFY2(!geometry(sourceWindow).contains(to), "the source covers the drop point");
        drag(QString(), geometry(sourceWindow).center(), to, 20);
        QVERIFY(source.waitForFinished(10000));
        QCOMPARE(source.exitCode(), 0); // the drop was taken as a copy
        QTRY_COMPARE_WITH_TIMEOUT(titles().filter(QStringLiteral("Dropped")), dropped, 15000);

        QVERIFY(terminate(first));
        const QString text = QString::fromUtf8(testfiles::read(settingsFile(home.path())));
        QVERIFY2(text.contains(QLatin1String("MainWindow_Geometry=")), qPrintable(text));
    }

    // On a home of its own: a hand-over is written in the library before its sender hears that it
    // arrived, and the end of the program reads no book. A kill as soon as the second start ended
    // keeps its book (behind 200 others); SIGTERM in the next start's import reads no more, a kill
    // in the one after keeps each book once, and the last stores all. Starts made at once (one
    // without a book) each bring theirs, each answered. Names with "|", a newline, a leading "-"
    // and blanks arrive as they are, from the first start's command line and from a second one.
    void handOverRecordedFirst()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const auto keepLog = qScopeGuard([&] { saveLog(home.path(), QStringLiteral("hand-over-log.txt")); });
        QDir folder(home.filePath(QStringLiteral("books")));
        QVERIFY(folder.mkpath(QStringLiteral(".")));
        const auto book = [&folder](const QString& name) {
            librarybooks::BookRecipe recipe;
            recipe.title = name.section(QLatin1Char('.'), 0, 0);
            recipe.coverSize = QSize();
            recipe.chapters = 1;
            return librarybooks::write(folder.filePath(name), recipe) ? folder.filePath(name) : QString();
        };
        // The paths the library holds (stored as Base64), and those its record of hand-overs still holds.
        const auto stored = [&home] {
            QStringList paths;
            for (const QString& row : queryLibrary(home.path(), QStringLiteral("select full_path from books"))
                                          .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                paths << QString::fromUtf8(QByteArray::fromBase64(row.toLatin1()));
            paths.sort();
            return paths;
        };
        const auto recorded = [&home] {
            QStringList paths;
            const QString connection = QStringLiteral("handed-over");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
                db.setDatabaseName(libraryFile(home.path()));
                db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
                QSqlQuery query(db);
                if (db.open() && query.exec(QStringLiteral("select path from handed_over")))
                    while (query.next())
                        paths << query.value(0).toString();
            }
            QSqlDatabase::removeDatabase(connection);
            return paths;
        };
        const auto answers = [&home] { return logs(home.path()).count(QLatin1String("Import answered;")); };
        // Each question waits for the one before it: Escape answers them until there are that many.
        const auto answerUntil = [&](int count) {
            return waitUntil(
                [&] {
                    if (answers() < count)
                        key(QStringLiteral("Escape"));
                    return answers() >= count;
                },
                60000);
        };
        const auto handOver = [&env](const QStringList& args, const QString& workDir = QString()) {
            QProcess second;
            return start(second, env, args, workDir) && second.waitForFinished(30000)
                && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
        };

        // 200 files in one hand-over and one more book behind them, the instance killed as soon as
        // that second start has ended with 0: every book is stored or still recorded, never both
        // (counted after a clean end: a kill may leave a journal that only a writer rolls back).
        QStringList many;
        for (int i = 0; i < 200; ++i)
            many << book(QStringLiteral("Many %1.epub").arg(i, 3, 10, QLatin1Char('0')));
        const QString kept = book(QStringLiteral("Kept.epub"));
        QStringList everything = many + QStringList { kept };
        everything.sort();
        const auto eachOnce = [&] {
            QStringList both = stored() + recorded();
            both.sort();
            return both == everything;
        };
        const auto taken = [&home] { return logs(home.path()).count(QLatin1String("Import takes")); };
        {
            QProcess first;
            QVERIFY(!launch(first, env).isEmpty());
            QVERIFY(handOver(QStringList { QStringLiteral("--") } + many));
            QVERIFY(handOver({ kept }));
            first.kill();
            QVERIFY(first.waitForFinished(20000));
            // Counted once the next start has rolled back what the kill left half written.
        }
        // The next start imports what is left, and SIGTERM comes as soon as it has begun: no book is
        // read after the end was asked for (one may have been taken just before the signal reached
        // the window).
        {
            QProcess next;
            const int before = taken();
            QVERIFY(start(next, env));
            QVERIFY(waitUntil([&] { return taken() > before; }, 60000));
            QVERIFY(terminate(next));
            const QString log = logs(home.path());
            const QString afterEnd = log.mid(log.lastIndexOf(QLatin1String("Signal 15 received")));
            QVERIFY2(afterEnd.count(QLatin1String("Import takes")) <= 1, qPrintable(afterEnd.left(3000)));
            QVERIFY(eachOnce());
        }
        // Killed in its import, then started again: each book once, answered by one question.
        {
            QProcess next;
            const int before = taken();
            QVERIFY(start(next, env));
            QVERIFY(waitUntil([&] { return taken() > before; }, 60000));
            next.kill();
            QVERIFY(next.waitForFinished(20000));
        }
        {
            QProcess last;
            const int before = answers();
            QVERIFY(start(last, env));
            QVERIFY2(waitUntil([&] { return stored() == everything; }, 120000),
                qPrintable(QString::number(stored().size())));
            QVERIFY(waitUntil([&] { return recorded().isEmpty(); }));
            QVERIFY(answerUntil(before + 1));
            QVERIFY(terminate(last));
        }

        // Four starts at once, the first without a book: every book arrives, each with its own answer.
        {
            const int before = answers();
            QStringList together;
            for (int i = 1; i <= 3; ++i)
                together << book(QStringLiteral("Together %1.epub").arg(i));
            std::vector<std::unique_ptr<QProcess>> starts;
            for (int i = 0; i <= 3; ++i) {
                starts.push_back(std::make_unique<QProcess>());
                QVERIFY(start(*starts.back(), env, i ? QStringList { together[i - 1] } : QStringList()));
            }
            everything += together;
            everything.sort();
            QVERIFY(waitUntil([&] { return stored() == everything; }, 60000));
            QVERIFY(answerUntil(before + 3));
            // The start that runs on is the instance; the others handed over and ended with 0.
            QProcess* running = nullptr;
            for (auto& process : starts) {
                if (process->state() == QProcess::NotRunning)
                    QCOMPARE(process->exitCode(), 0);
                else if (!process->waitForFinished(3000))
                    running = process.get();
            }
            QVERIFY(running);
            QVERIFY(terminate(*running));
        }

        // Odd names, the first two on the first start's command line (relative, from their folder),
        // the others handed over.
        const QStringList odd { book(QStringLiteral("-leading dash.epub")), book(QStringLiteral("pipe|name.epub")),
            book(QStringLiteral("new\nline.epub")), book(QStringLiteral("-second dash.epub")) };
        {
            QProcess first;
            QVERIFY(start(
                first, env, { QStringLiteral("-leading dash.epub"), QStringLiteral("pipe|name.epub") }, folder.path()));
            QVERIFY(!waitForWindow(first.processId()).isEmpty());
            QVERIFY(handOver({ QStringLiteral("new\nline.epub"), QStringLiteral("-second dash.epub") }, folder.path()));
            const auto allStored = [&] {
                const QStringList paths = stored();
                return std::all_of(
                    odd.begin(), odd.end(), [&paths](const QString& path) { return paths.contains(path); });
            };
            QVERIFY2(waitUntil(allStored, 60000), qPrintable(stored().filter(QStringLiteral("dash")).join(' ')));
            QVERIFY(!logs(home.path()).contains(QLatin1String("Not added:")));
            QVERIFY(terminate(first));
        }
    }

    // On a home of its own: a kill two seconds after a note and a page turn keeps both, and the
    // library counts the note; SIGTERM right after a page turn in full screen (where the reading
    // page is a window of its own) still saves the position, and a text book's saved place is the
    // one being read, not the first line of the larger full-screen page.
    void killAndQuitWhileReading()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        const QString epub = m_books.filePath(QStringLiteral("kept.epub"));
        QVERIFY(writeLongEpub(epub));
        librarybooks::BookRecipe pdfBook;
        pdfBook.title = QStringLiteral("Kept pdf");
        pdfBook.coverColor = kBooks[2].cover;
        pdfBook.chapters = kPdfPages;
        const QString pdf = m_books.filePath(QStringLiteral("kept.pdf"));
        QVERIFY(librarybooks::write(pdf, pdfBook));
        const QString chapter = m_books.filePath(QStringLiteral("chapter.epub"));
        QVERIFY(writeLongChapterEpub(chapter));
        // The state of each book read: its position (a chapter link, or a page) and notes.
        const auto state = [&](const char* key) {
            for (const QJsonObject& object : storedStates(home.path())) {
                const QJsonValue value = QJsonValue(object)[QStringLiteral("ReadingPosition")][QLatin1String(key)];
                if (!value.isUndefined())
                    return value.toVariant().toString();
            }
            return QString();
        };
        // The long chapter's stored position.
        const auto chapterSource = [&] {
            for (const QJsonObject& object : storedStates(home.path())) {
                const QString source
                    = QJsonValue(object)[QStringLiteral("ReadingPosition")][QStringLiteral("Source")].toString();
                if (source.startsWith(QLatin1String("long.xhtml")))
                    return source;
            }
            return QString();
        };
        const auto notesCount = [&] {
            return queryLibrary(home.path(), QStringLiteral("select notes_count from books where title = ?"),
                { QLatin1String(kLongTitle) });
        };

        QProcess run;
        QVERIFY(start(run, env, { epub, pdf, chapter }));
        const qint64 pid = run.processId();
        QString window = waitForWindow(pid);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        // The books named on the command line are added; the box that says so closes with Escape.
        const auto count = [&] { return queryLibrary(home.path(), QStringLiteral("select count(*) from books")); };
        QVERIFY(waitUntil([&] { return count() == QLatin1String("3"); }, 40000));
        if (waitUntil([pid] { return visibleWindows(pid).size() > 1; }, 30000)) {
            QTest::qWait(300);
            key(QStringLiteral("Escape"));
            QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));
        }
        QImage shelf;
        QVERIFY(waitUntil([&] { return findColour(shelf = grab(window), kLongCover).count > 300; }, 20000));
        openBook(window, settle(window, shelf), kLongCover);

        const QString popup = selectForNote(window, pid);
        QVERIFY2(!popup.isEmpty(), "no note popup");
        click(popup, QPoint(103, 19), 1); // the third colour
        QTest::qWait(300);
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([pid] { return visibleWindows(pid).size() == 1; }));
        const QString opened = state("Source");
        key(QStringLiteral("Right"));
        QTest::qWait(2000);
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(run.waitForFinished(20000));
        QCOMPARE(storedNotes(home.path()), QStringLiteral("red:"));
        QCOMPARE(notesCount(), QStringLiteral("1"));
        const QString killedAt = state("Source");
        QVERIFY2(killedAt.contains(QLatin1String("?kelpath=")) && killedAt != opened, qPrintable(killedAt));

        QProcess again;
        window = launch(again, env);
        QVERIFY2(!window.isEmpty(), "no main window on the second start");
        openBook(window, libraryWith(window, kBooks[2].cover), kBooks[2].cover);
        key(QStringLiteral("F11"));
        // The main window hides; the reading page is the one window left.
        QVERIFY(waitUntil([&] {
            const QStringList shown = visibleWindows(again.processId());
            return shown.size() == 1 && !shown.contains(window);
        }));
        QTest::qWait(1500);
        const QImage full = settle(QStringLiteral("0"), grab(QStringLiteral("0")));
        save(full, "fullscreen");
        QCOMPARE(state("Page"), QStringLiteral("1"));
        key(QStringLiteral("Right"));
        QVERIFY(waitUntil([&] { return difference(grab(QStringLiteral("0")), full) >= 0.002; }, 30000));
        QVERIFY(terminate(again));
        QCOMPARE(state("Page"), QStringLiteral("3")); // two pages a screen
        QCOMPARE(state("Source"), killedAt);
        QCOMPARE(storedNotes(home.path()), QStringLiteral("red:"));
        QCOMPARE(notesCount(), QStringLiteral("1"));

        // A long chapter read well into it, then full screen: the screen laid out anew begins well before
        // the place being read, and a SIGTERM there keeps that place, not the screen's first line (else
        // the next start in the window opens pages earlier, at the chapter's start in a short chapter).
        QProcess third;
        window = launch(third, env);
        QVERIFY2(!window.isEmpty(), "no main window on the third start");
        const QImage reading = openBook(window, libraryWith(window, kChapterCover), kChapterCover);
        QImage turned = reading;
        for (int turn = 0; turn < 4; ++turn) {
            key(QStringLiteral("Right"));
            turned = waitForChange(window, turned);
        }
        save(turned, "text-before-fullscreen");
        QVERIFY(waitUntil([&] { return paragraphOf(chapterSource()) > 1; }, 30000));
        const QString before = whenStill(chapterSource);
        key(QStringLiteral("F11"));
        QVERIFY(waitUntil([&] {
            const QStringList shown = visibleWindows(third.processId());
            return shown.size() == 1 && !shown.contains(window);
        }));
        QTest::qWait(1500);
        save(settle(QStringLiteral("0"), grab(QStringLiteral("0"))), "text-fullscreen");
        QVERIFY(terminate(third));
        QCOMPARE(chapterSource(), before);
    }

    // On a home of its own, a book of one-line rows read after full screen on and off: a drag over a
    // row of the page selects that row, and the note made of it holds its words. Night, sepia and day
    // twice, each followed by the settings box opened and closed, leave the page and its total as
    // they were.
    void noteAndLooksAfterFullScreen()
    {
        QTemporaryDir home;
        const QString path = m_books.filePath(QStringLiteral("rows.epub"));
        const QString title = QStringLiteral("Flow rows");
        {
            EpubBuilder book;
            book.setTitle(title);
            QString body;
            for (int row = 1; row <= 400; ++row)
                body += QStringLiteral("<p>Row %1 of the warp</p>").arg(row);
            book.addChapter(QStringLiteral("rows"), QStringLiteral("rows.xhtml"), QStringLiteral("Rows"), body);
            // Thousands of small lines: a page a few pixels taller holds more of them, which
            // changes the total.
            QString small;
            for (int row = 1; row <= 8000; ++row)
                small += QStringLiteral("Small row %1<br/>").arg(row);
            book.addChapter(QStringLiteral("small"), QStringLiteral("small.xhtml"), QStringLiteral("Small"),
                QStringLiteral("<div style=\"font-size: 6px\">%1</div>").arg(small));
            QVERIFY(book.write(path));
        }
        // The first paragraph on the page, from the stored position.
        const auto firstRow = [&] {
            for (const QJsonObject& object : storedStates(home.path())) {
                const QString source
                    = QJsonValue(object)[QStringLiteral("ReadingPosition")][QStringLiteral("Source")].toString();
                if (source.startsWith(QLatin1String("rows.xhtml")))
                    return paragraphOf(source);
            }
            return 0;
        };
        // The words of the notes stored for the book.
        const auto noteWords = [&] {
            QStringList words;
            for (const QJsonObject& state : storedStates(home.path())) {
                for (const QJsonValue& note :
                    QJsonValue(state)[QStringLiteral("Notes")][QStringLiteral("Items")].toArray())
                    words << note[QStringLiteral("Context")].toString().simplified();
            }
            return words;
        };

        QProcess run;
        QVERIFY(start(run, environment(home), { path }));
        const qint64 pid = run.processId();
        const QString window = waitForWindow(pid);
        QVERIFY2(!window.isEmpty(), "no main window appeared");
        QImage page = readNow(pid, window, home, path, title, false);
        QVERIFY(!page.isNull());

        // Full screen on and off, then four screens on.
        key(QStringLiteral("F11"));
        QVERIFY(waitUntil([&] {
            const QStringList shown = visibleWindows(pid);
            return shown.size() == 1 && !shown.contains(window);
        }));
        QTest::qWait(1500);
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([&] { return visibleWindows(pid).contains(window); }));
        page = settle(window, grab(window));
        for (int turn = 0; turn < 4; ++turn) {
            key(QStringLiteral("Right"));
            page = waitForChange(window, page);
        }
        QVERIFY(waitUntil([&] { return firstRow() > 1; }, 30000));
        const int first = whenStill(firstRow);
        page = settle(window, grab(window));
        save(page, "rows-after-fullscreen");
        // The rows of the left column, below the tool bar and above the footer.
        const QList<QRect> rows = textLines(page, QRect(0, 125, page.width() / 2, page.height() - 125 - 90));
        QVERIFY2(rows.size() > 8, qPrintable(QString::number(rows.size())));
        const int pick = 4;
        const QRect row = rows.at(pick);
        QString popup;
        QVERIFY(retryUntil(
            [&] {
                drag(window, QPoint(row.left() + 2, row.center().y()), QPoint(row.right() - 2, row.center().y()), 4);
            },
            [&] {
                QStringList others = visibleWindows(pid);
                others.removeAll(window);
                popup = others.isEmpty() ? QString() : others.last();
                return !popup.isEmpty();
            }));
        QTest::qWait(300);
        QVERIFY(retryUntil([&] { click(popup, QPoint(103, 19), 1); }, [&] { return noteWords().size() == 1; }));
        const QString words = noteWords().value(0);
        QVERIFY2(words.contains(QStringLiteral("Row %1 of the").arg(first + pick))
                && !words.contains(QStringLiteral("Row %1 ").arg(first + pick + 1)),
            qPrintable(QStringLiteral("row %1 of the page, \"%2\" marked").arg(first + pick).arg(words)));
        key(QStringLiteral("Escape"));
        QVERIFY(waitUntil([&] { return visibleWindows(pid).size() == 1; }));

        // The looks in turn by their key; the settings box lays the page out again. In each look the
        // slider's tip leaves nothing behind where it was slid.
        page = settle(window, grab(window));
        const int total = bookTotal(home.path(), title);
        QVERIFY(total > 4);
        const int width = geometry(window).width();
        for (int round = 0; round < 2; ++round) {
            for (const char* style : { "NightStyle", "SepiaStyle", "DayStyle" }) {
                const int chosen
                    = logs(home.path()).count(QStringLiteral("Set current style: \"%1\"").arg(QLatin1String(style)));
                key(QStringLiteral("F9"));
                QVERIFY(waitUntil([&] {
                    return logs(home.path())
                               .count(QStringLiteral("Set current style: \"%1\"").arg(QLatin1String(style)))
                        > chosen;
                }));
                const QImage chosenLook = settle(window, grab(window));
                if (round == 0) {
                    const QString trace = tipTrace(window);
                    QVERIFY2(trace.isEmpty(), qPrintable(QLatin1String(style) + QStringLiteral(": ") + trace));
                }
                click(window, QPoint(width - 79, 91), 1); // settings
                waitForChange(window, chosenLook);
                key(QStringLiteral("Escape"));
                waitForChange(window, grab(window));
            }
        }
        QTest::qWait(1500); // a count asked for a new page size
        const QImage after = settle(window, grab(window));
        save(after, "rows-after-looks");
        QCOMPARE(bookTotal(home.path(), title), total);
        QVERIFY2(difference(after, page) < 0.002, qPrintable(QString::number(difference(after, page))));
        QVERIFY(terminate(run));
    }

    // A running instance that cannot take a hand-over (stopped here) keeps its library to itself:
    // a second start waits, says the reader is busy and ends without opening the library; a
    // "-fast" start, which does not hand over, ends the same way at once. No row is added, and the
    // settings file is left alone: the running instance may be stopped in the middle of writing it,
    // holding its lock, as the test does here.
    void stoppedInstanceKeepsItsLibrary()
    {
        QTemporaryDir home;
        const QProcessEnvironment env = environment(home);
        for (const QString& title : { QStringLiteral("Held"), QStringLiteral("Not Added") }) {
            librarybooks::BookRecipe book;
            book.title = title;
            QVERIFY(librarybooks::write(m_books.filePath(title + QStringLiteral(".epub")), book));
        }
        const auto rows
            = [&home] { return queryLibrary(home.path(), QStringLiteral("select id, title from books order by id")); };
        const auto starts = [&home] { return logs(home.path()).count(QLatin1String("Init app")); };
        QProcess first;
        QVERIFY(start(first, env, { m_books.filePath(QStringLiteral("Held.epub")) }));
        QVERIFY2(!waitForWindow(first.processId()).isEmpty(), "no main window appeared");
        QTRY_COMPARE_WITH_TIMEOUT(rows(), QStringLiteral("1 Held"), 15000);
        const int firstStarts = starts();
        QVERIFY(firstStarts > 0);

        QLockFile settingsLock(settingsFile(home.path()) + QStringLiteral(".lock"));
        QVERIFY(settingsLock.tryLock(windowwaits::kTimeoutMs));
        const QByteArray settings = testfiles::read(settingsFile(home.path()));
        const pid_t firstPid = pid_t(first.processId());
        QCOMPARE(::kill(firstPid, SIGSTOP), 0);
        auto resume = qScopeGuard([firstPid] { ::kill(firstPid, SIGCONT); });
        const QString other = m_books.filePath(QStringLiteral("Not Added.epub"));
        const auto handOversGivenUp
            = [&home] { return logs(home.path()).count(QLatin1String("did not take the message within")); };
        for (const QStringList& args : { QStringList { other }, QStringList { QStringLiteral("-fast"), other } }) {
            const int givenUp = handOversGivenUp();
            QProcess second;
            QElapsedTimer elapsed;
            elapsed.start();
            QVERIFY(start(second, env, args));
            const QString box = waitForWindow(second.processId());
            QVERIFY2(!box.isEmpty(), qPrintable(args.join(' ')));
            // A start that tries to hand over waits for the busy instance by its own clock, which a
            // busy machine only makes slower.
            if (args.size() == 1)
                QVERIFY2(elapsed.elapsed() >= 10000, qPrintable(QString::number(elapsed.elapsed())));
            save(settle(box, grab(box)), args.size() == 1 ? "reader-busy" : "reader-busy-fast");
            QVERIFY(pressUntil(
                box, QStringLiteral("Escape"), [&second] { return second.state() == QProcess::NotRunning; }));
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 1);
            // Only the start that tried to hand over has waited for the busy instance.
            QCOMPARE(handOversGivenUp(), givenUp + (args.size() == 1 ? 1 : 0));
            QCOMPARE(rows(), QStringLiteral("1 Held"));
            QCOMPARE(starts(), firstStarts);
            QCOMPARE(testfiles::read(settingsFile(home.path())), settings);
        }
        settingsLock.unlock();
        QVERIFY(logs(home.path()).contains(QLatin1String("the running instance is busy")));

        resume.dismiss();
        QCOMPARE(::kill(firstPid, SIGCONT), 0);
        QVERIFY(terminate(first));
        const QDir data(QDir(home.path()).filePath(QStringLiteral(".%1/data").arg(kAppName)));
        QVERIFY(!QFile::exists(data.filePath(QStringLiteral("ebooklib.sqlite3.lock"))));
        // A run that ended normally recorded its close, which spares the next start the full check.
        QVERIFY(QFile::exists(data.filePath(QStringLiteral("ebooklib.sqlite3.closed"))));
    }

    void crashLeavesReport()
    {
        QProcess process;
        QVERIFY(!launch(process, m_env).isEmpty());
        ::kill(pid_t(process.processId()), SIGSEGV);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QString report;
        QDirIterator it(m_home.filePath(QStringLiteral(".%1/log/crashes").arg(kAppName)),
            { QStringLiteral("crash.txt") }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            report = QFileInfo(it.next()).absolutePath();
        QVERIFY2(!report.isEmpty(), "no crash report");
        const QStringList files = QDir(report).entryList(QDir::Files);
        QVERIFY2(files.contains(QStringLiteral("settings.ini")), qPrintable(files.join(' ')));
        QVERIFY2(!QDir(report).entryList({ QStringLiteral("pageloom*.txt") }, QDir::Files).isEmpty(),
            qPrintable(files.join(' ')));
        QVERIFY(testfiles::read(QDir(report).filePath(QStringLiteral("crash.txt"))).contains("SIGSEGV"));
        // No record of a clean close: the next start checks the whole library file.
        QVERIFY(!QFile::exists(m_home.filePath(QStringLiteral(".%1/data/ebooklib.sqlite3.closed").arg(kAppName))));
    }
};

QTEST_MAIN(WholeFlowTest)
#include "tst_wholeflow.moc"
