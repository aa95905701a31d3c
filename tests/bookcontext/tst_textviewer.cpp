// The text viewer as a reader meets it, on generated books whose structure once went wrong:
// clicks on either half of a page, quick key presses across chapter ends, contents links
// without their folder, an image inside an FB2 paragraph, and the reader's font on every text
// format. Real books of the library, the real page-counting helper, real mouse and key events.

#include "readingfixture.h"

#include "../kel-effects/messagecatcher.h"
#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "chapterbuilder.h"
#include "chapterlayout.h"
#include "chapterload.h"
#include "chapterpolicy.h"
#include "checkedsave.h"
#include "epubbuilder.h"
#include "fb2builder.h"
#include "formats/bookformat.h"
#include "formats/epub/chaptercleaner.h"
#include "formats/epub/epubconversion.h"
#include "formats/epub/xmlguard.h"
#include "formats/mobi/mobidocument.h"
#include "formats/textdocument.h"
#include "hotkeys.h"
#include "jsengine/jsengine.h"
#include "localwebpage.h"
#include "mobiwriter.h"
#include "models/bookmodel.h"
#include "models/booksearchmodel.h"
#include "models/tocmodel.h"
#include "readingfont.h"
#include "readingstatefile.h"
#include "testfiles.h"
#include "textbookchapter.h"
#include "textviewer.h"
#include "viewedmarkup.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QScopeGuard>
#include <QTextCodec>
#include <QWebElement>
#include <QWebFrame>
#include <QWebSettings>
#include <QtTest>

namespace {

int addBook(ReadingFixture& fixture, const QString& path, int format)
{
    BookDto book;
    book.full_path = path;
    book.title = QFileInfo(path).completeBaseName();
    book.format = format;
    return fixture.books()->addBook(book);
}

// Chapters of about one and a half screens each, so quick turns cross chapter ends often.
int addShortChapters(ReadingFixture& fixture, const QString& fileName, int chapters)
{
    EpubBuilder epub;
    for (int i = 1; i <= chapters; ++i) {
        ChapterBuilder chapter { quint32(100 + i) };
        chapter.addHeading(1, QStringLiteral("Part %1").arg(i));
        chapter.addProse(6, 60, 80);
        epub.addItem(QStringLiteral("c%1").arg(i), QStringLiteral("p%1.xhtml").arg(i), chapter.xhtml());
    }
    const QString path = fixture.home().filePath(fileName);
    return epub.write(path) ? addBook(fixture, path, 0) : -1;
}

QWidget* keyTarget(TextViewer* viewer)
{
    // Where a key press goes: the focused widget, or the window when nothing has the focus
    // (the viewer hides while a chapter loads).
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus : viewer->window();
}

void pressKey(QWidget* widget, Hotkeys::Id id)
{
    const int code = Hotkeys::sequences(id).value(0)[0];
    QTest::keyClick(
        widget, Qt::Key(code & ~Qt::KeyboardModifierMask), Qt::KeyboardModifiers(code & Qt::KeyboardModifierMask));
}

// The same few pages of prose as each text format writes it; the EPUB's chapter sets its own
// fonts for the body and the paragraphs.
bool writeProseBook(const QString& path, int format)
{
    ChapterBuilder prose(400);
    prose.addProse(14, 60, 90);
    const QString body = prose.bodyHtml();
    switch (format) {
    case BookFormat::Epub: {
        ChapterBuilder chapter(400);
        chapter.addRaw(QStringLiteral("<style type=\"text/css\">p { font-family: Verdana, 'DejaVu Sans Mono', "
                                      "monospace; }</style>\n"));
        chapter.addProse(14, 60, 90);
        EpubBuilder epub;
        epub.addItem(QStringLiteral("c1"), QStringLiteral("prose.xhtml"), chapter.xhtml());
        return epub.write(path);
    }
    case BookFormat::Mobi: {
        MobiWriter mobi;
        mobi.setText("<html><head><guide></guide></head><body>" + body.toUtf8() + "</body></html>");
        return mobi.write(path);
    }
    case BookFormat::Fb2: {
        Fb2Builder fb2;
        QString paragraphs;
        for (QString paragraph : body.split(QStringLiteral("</p>"), Qt::SkipEmptyParts)) {
            paragraph = paragraph.trimmed().remove(QStringLiteral("<p>"));
            if (!paragraph.isEmpty())
                paragraphs += Fb2Builder::pXml(paragraph);
        }
        fb2.addBody(Fb2Builder::section(paragraphs, QStringLiteral("Prose")));
        return fb2.write(path);
    }
    default:
        break;
    }
    QString text = body;
    text.replace(QStringLiteral("</p>"), QStringLiteral("\n")).remove(QStringLiteral("<p>"));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0;
}

// Advances at 40 px of "iiiiiiiiii", "MMMMMMMMMM" and a mixed word: in a paragraph of the
// book's prose, drawn as the page draws its text, or, with a face named, in that face outside the
// book's content. The probe is no wider than its text: the column's cap on widths stays off it.
QVariantList glyphAdvances(QWebFrame* frame, const QString& face = QString())
{
    const QString script = QStringLiteral(
        "(function(face) { var prose = document.querySelectorAll('.kelbook p');"
        " var host = face ? document.body : prose[prose.length - 1];"
        " return ['iiiiiiiiii', 'MMMMMMMMMM', 'Hamburgefonstiv'].map(function(text) {"
        " var probe = document.createElement('span'); probe.textContent = text;"
        " probe.style.cssText = 'font-size: 40px; white-space: nowrap; display: inline-block;"
        " max-width: none !important;'"
        " + (face ? 'font-family: \"' + face + '\";' : '');"
        " host.appendChild(probe); var width = probe.getBoundingClientRect().width; host.removeChild(probe);"
        " return width; }); })('%1');");
    return frame->evaluateJavaScript(script.arg(jsengine::escaped(face))).toList();
}

// What a book's script leaves wherever it runs: the name of the top window, which a navigation
// keeps, and the title of its document.
const QByteArray kBookScript = "top.name='ran';document.title='ran'";

// A page that runs the book's script as soon as it opens.
QByteArray scriptPage()
{
    return "data:text/html,%3Cscript%3E" + QUrl::toPercentEncoding(kBookScript) + "%3C/script%3E";
}

// Clicks everything in a frame and its child frames as a script of the test (every element, links,
// areas, buttons, inputs and SVG and MathML ones alike), then submits every form: what follows
// from it is the page's doing.
void clickEverything(QWebFrame* frame)
{
    frame->evaluateJavaScript(QStringLiteral(
        "(function () { var all = document.querySelectorAll('*');"
        " for (var i = 0; i < all.length; ++i) { var e = all[i];"
        "  if (typeof e.click == 'function') { e.click(); continue; }"
        "  var event = document.createEvent('MouseEvents');"
        "  event.initMouseEvent('click', true, true, window, 1, 0, 0, 0, 0, false, false, false, false, 0, null);"
        "  e.dispatchEvent(event); }"
        " var forms = document.querySelectorAll('form');"
        " for (var k = 0; k < forms.length; ++k) HTMLFormElement.prototype.submit.call(forms[k]); })();"));
    for (QWebFrame* child : frame->childFrames())
        clickEverything(child);
}

// Real mouse clicks in the middle of every element of a frame that is on screen.
void clickOnScreen(QWidget* view, QWebFrame* frame)
{
    const QRect screen(frame->scrollPosition(), view->size());
    for (const QWebElement& element : frame->findAllElements(QStringLiteral("*"))) {
        const QRect box = element.geometry();
        if (!box.isEmpty() && screen.contains(box.center()))
            QTest::mouseClick(view, Qt::LeftButton, {}, box.center() - frame->scrollPosition());
    }
}

bool scriptRan(QWebFrame* frame)
{
    return frame->title() == QLatin1String("ran")
        || frame->evaluateJavaScript(QStringLiteral("top.name")).toString() == QLatin1String("ran");
}

// Which walls of a chapter page are up: both, as in the program, or one alone.
enum Walls { BothWalls, GuardAlone, PolicyAlone };

// A drawing of the book's whose group "a" runs the book's script when the view makes it: an
// image that fails to load, a shape to click.
QByteArray scriptedDrawing()
{
    return "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink'><g id='a'>"
           "<image xlink:href='missing.png' width='20' height='20' onerror=\""
        + kBookScript + "\"/><rect width='200' height='60' onclick=\"" + kBookScript + "\"/></g></svg>";
}

// What the transforming style sheets put in the chapter: the content of a file outside the book
// (OUTSIDE stands for its address), in a paragraph, a link and a script.
QByteArray transformTemplate()
{
    return "<xsl:template match='/'><html xmlns='http://www.w3.org/1999/xhtml'><head><title>Crafted</title></head>"
           "<body><p>Words before.</p><p><xsl:value-of select=\"document('OUTSIDE')\"/></p>"
           "<a href='http://example.invalid/{document(\"OUTSIDE\")}'>Leak</a><script>"
        + kBookScript + "</script><p>Words after.</p></body></html></xsl:template>";
}

// The secret of the file outside the book that the transforming style sheets read.
const QByteArray kOutsideSecret = "Thirty-nine steps";

// Spaces and invisible characters the view keeps at the start of an address, where a relative
// address names a file of that name beside the chapter.
const QVector<ushort> kKeptSpaces { 0xA0, 0x1680, 0x2000, 0x2028, 0x202F, 0x205F, 0x3000, 0x200B, 0xFEFF };

// A chapter with a javascript: link and, for every kept space, a use of the drawing "a" of the
// file the space names: HTML, or XHTML with its declaration (encoding named by declared).
QString usesOfSpacedFiles(bool xhtml, const QString& prolog = QString())
{
    QString uses;
    for (const ushort space : kKeptSpaces)
        uses += QStringLiteral("<use xlink:href=\"&#x%1;#a\"/>").arg(space, 0, 16);
    if (!xhtml)
        uses += QStringLiteral("<use xlink:href=\"&nbsp;#a\"/>");
    const QString namespaces = xhtml ? QStringLiteral(" xmlns=\"http://www.w3.org/2000/svg\" "
                                                      "xmlns:xlink=\"http://www.w3.org/1999/xlink\"")
                                     : QString();
    return prolog + (xhtml ? QStringLiteral("<html xmlns=\"http://www.w3.org/1999/xhtml\">") : QStringLiteral("<html>"))
        + QStringLiteral("<head><title>Crafted</title></head><body><p>Words before.</p><a href=\"javascript:")
        + QString::fromLatin1(kBookScript) + QStringLiteral("\">Go</a><svg") + namespaces
        + QStringLiteral(" width=\"200\" height=\"60\">") + uses
        + QStringLiteral("</svg><p>Words after.</p></body></html>");
}

QByteArray encodedIn(const char* codec, const QString& text)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForName(codec)->fromUnicode(text.constData(), text.size(), &state);
}
} // namespace

class TestTextViewer : public QObject {
    Q_OBJECT

    std::unique_ptr<ReadingFixture> m_fixture;

    int screenPage(const QSharedPointer<BookContext>& context) { return context->currentPage(); }

    // A book folder under the reader's books folder with a style sheet, a drawing, a link to it and a link
    // out, and beside it a file and another book's folder: the folder's path.
    QString bookWithOutsideFiles()
    {
        const QString books = m_fixture->home().filePath(QStringLiteral("books"));
        const QString book = books + QStringLiteral("/b1");
        QDir().mkpath(book + QStringLiteral("/Text"));
        QDir().mkpath(books + QStringLiteral("/b1x"));
        testfiles::write(book + QStringLiteral("/style.css"), "p { color: red }");
        testfiles::write(book + QStringLiteral("/Text/note.svg"),
            encodedIn("UTF-16LE", QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\"/>")));
        testfiles::write(books + QStringLiteral("/b1x/style.css"), "p { color: red }");
        testfiles::write(m_fixture->home().filePath(QStringLiteral("outside.txt")), "secret");
        QFile::link(book + QStringLiteral("/style.css"), book + QStringLiteral("/inner.css"));
        QFile::link(m_fixture->home().filePath(QStringLiteral("outside.txt")), book + QStringLiteral("/link.txt"));
        return book;
    }

private slots:
    void initTestCase() { m_fixture = std::make_unique<ReadingFixture>(); }
    void cleanup() { m_fixture->close(); }
    void cleanupTestCase() { m_fixture.reset(); }

    // A chapter that turns out not to be showable when it is reached before the background
    // conversion: one the cleaner leaves out (nested too deep, too large) stands as a page that
    // says so, which page turns pass through; one that cannot be unpacked at all is passed over.
    void brokenChapterIsPassedOver_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::newRow("nested too deep") << false;
        QTest::newRow("damaged entry") << true;
    }

    void brokenChapterIsPassedOver()
    {
        QFETCH(bool, damaged);
        EpubBuilder epub;
        epub.addChapter(QStringLiteral("c1"), QStringLiteral("p1.xhtml"), QStringLiteral("One"),
            QStringLiteral("<h1>Part 1</h1><p>Short.</p>"));
        epub.addItem(QStringLiteral("c2"), QStringLiteral("p2.xhtml"),
            "<html>" + QByteArray("<div>").repeated(40000) + QByteArray("</div>").repeated(40000) + "</html>");
        epub.addChapter(QStringLiteral("c3"), QStringLiteral("p3.xhtml"), QStringLiteral("Three"),
            QStringLiteral("<h1>Part 3</h1><p>Short.</p>"));
        const QString path = m_fixture->home().filePath(QStringLiteral("broken-%1.epub").arg(damaged));
        QVERIFY(epub.write(path));
        if (damaged) {
            QByteArray bytes = testfiles::read(path);
            const int data = bytes.indexOf("OEBPS/p2.xhtml") + 14 + 40;
            for (int i = 0; i < 8; ++i)
                bytes[data + i] = char(bytes[data + i] ^ 0x5a);
            QVERIFY(testfiles::write(path, bytes));
        }
        const int id = addBook(*m_fixture, path, 0);
        struct Release {
            ~Release() { epub::EpubConversion::holdBackgroundWork(false); }
        } release;
        epub::EpubConversion::holdBackgroundWork(true);
        const QSharedPointer<BookContext> context = m_fixture->open(id, false);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        const auto shows = [viewer](const char* source) {
            return ReadingFixture::waitFor(
                [&] {
                    return viewer->isVisible() && viewer->chapterPage()->source() == QLatin1String(source)
                        && viewer->chapterPage()->currentPage() > 0;
                },
                20000);
        };
        const auto text = [viewer] {
            return viewer->chapterPage()
                ->mainFrame()
                ->evaluateJavaScript(QStringLiteral("document.body.textContent"))
                .toString();
        };
        QVERIFY(shows("p1.xhtml"));
        QTest::keyClick(viewer, Qt::Key_Right);
        if (!damaged) {
            QVERIFY(shows("p2.xhtml"));
            QVERIFY2(text().contains(QStringLiteral("\u201cOEBPS/p2.xhtml\u201d is not shown: nested deeper than")),
                qPrintable(text()));
            QTest::keyClick(viewer, Qt::Key_Right);
        }
        QVERIFY(shows("p3.xhtml"));
        QCOMPARE(context->textDocument()->chapters(),
            damaged ? QStringList({ "p1.xhtml", "p3.xhtml" }) : QStringList({ "p1.xhtml", "p2.xhtml", "p3.xhtml" }));
        QTest::keyClick(viewer, Qt::Key_Left);
        QVERIFY(shows(damaged ? "p1.xhtml" : "p2.xhtml"));
    }

    // Chapters the web view's XML parser would stop in (it showed the text up to there under an
    // error box): the whole chapter is shown, with no error box, and the book counts the pages
    // of its well-formed twin.
    void chaptersTheXmlParserWouldStopIn_data()
    {
        QTest::addColumn<QByteArray>("broken");
        QTest::addColumn<QByteArray>("twin");
        // Without a declaration, as XML reads them: in UTF-8.
        const auto chapter = [](const QByteArray& head, const QByteArray& body) {
            return "<html xmlns=\"http://www.w3.org/1999/xhtml\"" + head
                + ">\n<head><title>One</title></head>\n<body>\n" + body
                + "<p>The last words, caf\xc3\xa9.</p>\n</body>\n</html>\n";
        };
        ChapterBuilder prose(51);
        prose.addRealisticContent(2 << 20);
        QByteArray controls = prose.bodyHtml().toUtf8();
        controls.replace("</p>", "\x12</p>").replace("</h2>", "\x01</h2>");
        QTest::newRow("control characters in a 2 MB chapter")
            << chapter("", controls) << chapter("", prose.bodyHtml().toUtf8());
        QTest::newRow("attribute of an undeclared prefix")
            << chapter("", "<p epub:type=\"note\">A note.</p>")
            << chapter(" xmlns:epub=\"http://www.idpf.org/2007/ops\"", "<p epub:type=\"note\">A note.</p>");
        QTest::newRow("attribute without a value") << chapter("", "<p class>Plain <a id=\"n1\"/>text.</p>")
                                                   << chapter("", "<p class=\"\">Plain <a id=\"n1\"/>text.</p>");
        QByteArray attributes;
        for (int i = 0; i < 200000; ++i)
            attributes += " a" + QByteArray::number(i) + "=\"1\"";
        QTest::newRow("200,000 attributes")
            << chapter("", "<p" + attributes + ">Crowded.</p>") << chapter("", "<p a0=\"1\">Crowded.</p>");
    }

    void chaptersTheXmlParserWouldStopIn()
    {
        QFETCH(QByteArray, broken);
        QFETCH(QByteArray, twin);
        QList<int> counts;
        for (const QByteArray& first : { twin, broken }) {
            EpubBuilder epub;
            epub.addItem(QStringLiteral("c1"), QStringLiteral("one.xhtml"), first);
            epub.addChapter(QStringLiteral("c2"), QStringLiteral("two.xhtml"), QStringLiteral("Two"),
                QStringLiteral("<p>After.</p>"));
            epub.setNavPoints({ { QStringLiteral("One"), QStringLiteral("one.xhtml"), {} },
                { QStringLiteral("Two"), QStringLiteral("two.xhtml"), {} } });
            const QString path = m_fixture->home().filePath(QStringLiteral("xml%1-%2.epub")
                                                                .arg(QTest::currentDataTag())
                                                                .arg(counts.size())
                                                                .replace(QLatin1Char(' '), QLatin1Char('-')));
            QVERIFY(epub.write(path));
            const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, 0));
            QVERIFY(context);
            TextViewer* viewer = m_fixture->viewer();
            QCOMPARE(viewer->chapterPage()->source(), QStringLiteral("one.xhtml"));
            QWebFrame* frame = viewer->chapterPage()->mainFrame();
            QCOMPARE(frame->evaluateJavaScript(QStringLiteral("document.getElementsByTagName('parsererror').length"))
                         .toInt(),
                0);
            QVERIFY(frame->evaluateJavaScript(QStringLiteral("document.body.textContent"))
                        .toString()
                        .trimmed()
                        .endsWith(QStringLiteral("The last words, caf\u00e9.")));
            // A self-closed anchor holds nothing, as in XML.
            QCOMPARE(frame->evaluateJavaScript(QStringLiteral("(document.getElementById('n1') || {}).textContent"))
                         .toString(),
                QString());
            QVERIFY(
                frame->evaluateJavaScript(
                         QStringLiteral("document.body.getElementsByTagName('p')[0].attributes.length"))
                    .toInt()
                <= epub::XmlGuard::MaxAttributes);
            QTRY_VERIFY_WITH_TIMEOUT(context->pageCount() > 1, 60000);
            counts.append(context->pageCount());
            m_fixture->close();
        }
        QVERIFY2(qAbs(counts.at(1) - counts.at(0)) * 100 <= counts.at(0),
            qPrintable(QStringLiteral("%1 pages, its twin %2").arg(counts.at(1)).arg(counts.at(0))));
    }

    // A spine that names one file fifty times, by items with fragments: the file is one chapter,
    // the book has the pages of its twin without the repeats, and page turns and End reach the
    // last page.
    void spineNamingOneFileAgainAndAgain()
    {
        QList<int> counts;
        for (const bool repeated : { false, true }) {
            EpubBuilder epub;
            ChapterBuilder about { 401 };
            about.addHeading(1, QStringLiteral("About"));
            for (int i = 1; i <= 6; ++i) {
                about.addRaw(QStringLiteral("<h2 id=\"o%1\">Part %1</h2>\n").arg(i));
                about.addProse(1, 40, 60);
            }
            epub.addChapter(QStringLiteral("intro"), QStringLiteral("intro.xhtml"), QStringLiteral("Intro"),
                QStringLiteral("<p>Intro.</p>"));
            epub.addItem(QStringLiteral("a0"), QStringLiteral("about.xhtml"), about.xhtml());
            for (int i = 1; repeated && i <= 50; ++i)
                epub.addMissingItem(QStringLiteral("a%1").arg(i), QStringLiteral("about.xhtml#o%1").arg(i % 6 + 1));
            for (int i = 2; i <= 3; ++i) {
                ChapterBuilder chapter { quint32(410 + i) };
                chapter.addHeading(1, QStringLiteral("Chapter %1").arg(i));
                chapter.addProse(5, 60, 80);
                epub.addItem(QStringLiteral("c%1").arg(i), QStringLiteral("c%1.xhtml").arg(i), chapter.xhtml());
            }
            epub.setNavPoints({ { QStringLiteral("Intro"), QStringLiteral("intro.xhtml"), {} },
                { QStringLiteral("Part 4"), QStringLiteral("about.xhtml#o4"), {} },
                { QStringLiteral("Chapter 3"), QStringLiteral("c3.xhtml"), {} } });
            const QString path = m_fixture->home().filePath(QStringLiteral("spine%1.epub").arg(repeated));
            QVERIFY(epub.write(path));
            const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, 0));
            QVERIFY(context);
            QTRY_VERIFY(context->pageCount() > 4);
            QTRY_COMPARE(context->currentPage(), 1);
            const int count = context->pageCount();
            counts.append(count);
            if (!repeated)
                continue;
            QCOMPARE(context->textDocument()->chapters(),
                (QStringList { "intro.xhtml", "about.xhtml", "c2.xhtml", "c3.xhtml" }));
            TextViewer* viewer = m_fixture->viewer();
            // The contents entry lands on its part.
            const QList<TocPoint> toc = context->toc();
            QCOMPARE(toc.at(1).link->source, QStringLiteral("about.xhtml#o4"));
            context->navigateToLink(toc.at(1).link->source);
            QTRY_COMPARE(viewer->chapterPage()->source(), QStringLiteral("about.xhtml"));
            QTRY_COMPARE(context->currentPage(), toc.at(1).link->page);
            QVERIFY(toc.at(1).link->page > 2);
            // Screen by screen from the first page to the last: every turn goes forward.
            viewer->goLink(QStringLiteral("intro.xhtml"), false);
            QTRY_COMPARE(context->currentPage(), 1);
            viewer->setFocus();
            const int columns = context->pageParams()->columnCount();
            for (int page = 1; page + columns <= count;) {
                pressKey(keyTarget(viewer), Hotkeys::Id::Nav_NextPage);
                QVERIFY2(ReadingFixture::waitFor(
                             [&] { return viewer->isVisible() && context->currentPage() == page + columns; }, 20000),
                    qPrintable(QStringLiteral("after page %1 at %2").arg(page).arg(context->currentPage())));
                page = context->currentPage();
            }
            QCOMPARE(viewer->chapterPage()->source(), QStringLiteral("c3.xhtml"));
            pressKey(keyTarget(viewer), Hotkeys::Id::Nav_ToStart);
            QTRY_COMPARE(context->currentPage(), 1);
            pressKey(keyTarget(viewer), Hotkeys::Id::Nav_ToEnd);
            QTRY_COMPARE(viewer->chapterPage()->source(), QStringLiteral("c3.xhtml"));
            QTRY_VERIFY(context->currentPage() + columns > count);
        }
        QCOMPARE(counts.last(), counts.first());
    }

    // A click on the right half of the page turns forward, on the left half back.
    void clickHalves()
    {
        const int id = m_fixture->addEpub(QStringLiteral("clicks.epub"), 2, 6000);
        QVERIFY(id > 0);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        TextBookChapter* chapter = viewer->chapterPage();
        const int columns = context->pageParams()->columnCount();
        QCOMPARE(chapter->currentPage(), 1);
        for (const int x : { viewer->width() * 3 / 4, viewer->width() - 20, viewer->width() / 2 + 5 }) {
            const int before = chapter->currentPage();
            QTest::mouseClick(viewer, Qt::LeftButton, {}, QPoint(x, viewer->height() / 2));
            QTRY_COMPARE(chapter->currentPage(), before + columns);
        }
        for (const int x : { 20, viewer->width() / 4 }) {
            const int before = chapter->currentPage();
            QTest::mouseClick(viewer, Qt::LeftButton, {}, QPoint(x, viewer->height() / 2));
            QTRY_COMPARE(chapter->currentPage(), before - columns);
        }
        // A press held past the click interval is the same click at its release.
        const int before = chapter->currentPage();
        QTest::mousePress(viewer, Qt::LeftButton, {}, QPoint(viewer->width() - 40, 100));
        QTest::qWait(400);
        QTest::mouseRelease(viewer, Qt::LeftButton, {}, QPoint(viewer->width() - 40, 100));
        QTRY_COMPARE(chapter->currentPage(), before + columns);
    }

    // Page-turn keys pressed faster than chapters load are all made, none lost.
    void quickKeyPresses_data()
    {
        QTest::addColumn<int>("forward");
        QTest::addColumn<int>("back");
        QTest::newRow("forward") << 20 << 0;
        QTest::newRow("forward and back") << 14 << 6;
    }
    void quickKeyPresses()
    {
        QFETCH(int, forward);
        QFETCH(int, back);
        const int id = addShortChapters(*m_fixture, QStringLiteral("keys%1.epub").arg(forward), 12);
        QVERIFY(id > 0);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        context->pageParams()->setColumnCount(1);
        QTRY_VERIFY(context->pageCount() > forward + 4);
        QTRY_COMPARE(viewer->chapterPage()->currentPage(), 1);
        QTRY_COMPARE(screenPage(context), 1);
        viewer->setFocus();
        for (int i = 0; i < forward; ++i)
            pressKey(keyTarget(viewer), Hotkeys::Id::Nav_NextPage);
        for (int i = 0; i < back; ++i)
            pressKey(keyTarget(viewer), Hotkeys::Id::Nav_PrevPage);
        QVERIFY(ReadingFixture::waitFor(
            [&] { return viewer->isVisible() && screenPage(context) == 1 + forward - back; }, 20000));
        QTest::qWait(300);
        QCOMPARE(screenPage(context), 1 + forward - back);
    }

    // The last screen of the first chapter, through another layout and back (a larger window, the
    // other column count, a larger font): the chapter's pages change twice while the page number
    // ends where it was, and the chapter title follows the last page numbers, not the other
    // layout's. Every page number and total the context gives, and every progress the library
    // keeps meanwhile, is that of a layout counted whole: never an old total beside new page
    // numbers.
    void chapterTitleAfterLayoutRoundTrip_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change : { "window", "columns", "font size" })
            QTest::newRow(change) << change;
    }
    void chapterTitleAfterLayoutRoundTrip()
    {
        QFETCH(QString, change);
        const int id = m_fixture->addEpub(QStringLiteral("resized %1.epub").arg(change), 2, 6000);
        const QSharedPointer<BookContext> context = m_fixture->open(id);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        QTRY_VERIFY(context->pageCount() > 4);
        context->navigateToLink(QStringLiteral("ch1.xhtml?kelpath=end"));
        QTRY_VERIFY(viewer->chapterPage()->currentPage() > 2);
        QTRY_COMPARE(context->currentChapterTitle(), QStringLiteral("Chapter 1"));
        const int page = context->currentPage();
        const int count = context->pageCount();
        const auto progress = [&] { return m_fixture->books()->bookById(id).max_position; };
        QSet<QPair<int, int>> counted { { page, count } };
        QSet<int> countedProgress { progress() };
        QList<QPair<int, int>> shown;
        QList<int> kept;
        QObject guard;
        const auto record = [&] {
            if (context->currentPage() > 0 && context->pageCount() > 0)
                shown.append({ context->currentPage(), context->pageCount() });
        };
        connect(context.data(), &BookContext::currentPageChanged, &guard, record);
        connect(context.data(), &BookContext::pageCountChanged, &guard, record);
        connect(m_fixture->books(), &QAbstractItemModel::dataChanged, &guard, [&] { kept.append(progress()); });

        BookPageParams* params = context->pageParams();
        const int columns = params->columnCount();
        const int fontSize = params->fontSize();
        const auto layOut = [&](bool other) {
            if (change == QLatin1String("window"))
                viewer->resize(other ? QSize(1600, 1200) : QSize(800, 600));
            else if (change == QLatin1String("columns"))
                params->setColumnCount(other ? 3 - columns : columns);
            else
                params->setFontSize(other ? fontSize + 8 : fontSize);
        };
        layOut(true);
        QTRY_VERIFY_WITH_TIMEOUT(context->pageCount() > 0 && context->pageCount() != count, 20000);
        QTRY_VERIFY(context->currentPage() > 0 && context->currentPage() != page);
        counted.insert({ context->currentPage(), context->pageCount() });
        countedProgress.insert(progress());
        layOut(false);
        QTRY_VERIFY_WITH_TIMEOUT(context->pageCount() == count, 20000);
        QTRY_COMPARE(context->currentPage(), page);
        QTest::qWait(300);
        QCOMPARE(context->currentChapterTitle(), QStringLiteral("Chapter 1"));
        countedProgress.insert(progress());
        for (const QPair<int, int>& pages : qAsConst(shown))
            QVERIFY2(counted.contains(pages), qPrintable(QStringLiteral("%1 / %2").arg(pages.first).arg(pages.second)));
        for (int percent : qAsConst(kept))
            QVERIFY2(countedProgress.contains(percent), qPrintable(QString::number(percent)));
    }

    // Contents links without the chapters' folder lead to their chapter in the contents, the
    // chapter names and the viewer; a name found in several language folders leads to the first
    // of them in reading order; an entry that leads nowhere is disabled. The contents cache of an
    // earlier opening, when it cannot be replaced, does not make them lead nowhere again.
    void contentsLinksWithoutTheirFolder()
    {
        EpubBuilder epub;
        epub.setVersion(3);
        epub.setWriteNcx(false);
        QList<EpubBuilder::NavPoint> contents;
        for (int i = 1; i <= 3; ++i) {
            ChapterBuilder chapter { quint32(200 + i) };
            chapter.addHeading(1, QStringLiteral("Guide %1").arg(i));
            chapter.addProse(8);
            epub.addItem(QStringLiteral("g%1").arg(i), QStringLiteral("guide/g%1.xhtml").arg(i), chapter.xhtml());
            contents.append({ QStringLiteral("Guide %1").arg(i), QStringLiteral("g%1.xhtml").arg(i), {} });
        }
        contents.append({ QStringLiteral("Missing"), QStringLiteral("missing.xhtml"), {} });
        for (const char* language : { "ru", "en" }) {
            ChapterBuilder chapter { 210 };
            chapter.addHeading(1, QStringLiteral("Usage %1").arg(QLatin1String(language)));
            chapter.addProse(8);
            chapter.addRaw(QStringLiteral("<h2 id=\"use\">Use</h2>"));
            epub.addItem(QStringLiteral("u%1").arg(QLatin1String(language)),
                QStringLiteral("%1/usage.xhtml").arg(QLatin1String(language)), chapter.xhtml());
        }
        contents.append({ QStringLiteral("Usage"), QStringLiteral("usage.xhtml#use"), {} });
        epub.setNavPoints(contents);
        const QString path = m_fixture->home().filePath(QStringLiteral("folderless.epub"));
        QVERIFY(epub.write(path));
        const int id = addBook(*m_fixture, path, 0);
        const QString cache = QDir(bookDataDir(path)).filePath(QFileInfo(bookDataDir(path)).fileName() + ".toc");
        for (int opening = 0; opening < 2; ++opening) {
            const QSharedPointer<BookContext> context = m_fixture->open(id);
            QVERIFY(context);
            const QList<TocPoint> toc = context->toc();
            QCOMPARE(toc.size(), 5);
            QCOMPARE(toc.at(2).link->source, QStringLiteral("guide/g3.xhtml"));
            QCOMPARE(toc.at(4).link->source, QStringLiteral("ru/usage.xhtml#use"));
            QTRY_VERIFY(toc.at(2).link->page > 1);
            QTRY_VERIFY(toc.at(4).link->page > toc.at(2).link->page);

            TocModel* model = context->tocModel();
            for (int row : { 2, 4 })
                QVERIFY(model->flags(model->index(row, 0)).testFlag(Qt::ItemIsEnabled));
            QVERIFY(!model->flags(model->index(3, 0)).testFlag(Qt::ItemIsEnabled));

            context->navigateToLink(toc.at(2).link->source);
            TextViewer* viewer = m_fixture->viewer();
            QTRY_COMPARE(viewer->chapterPage()->source(), QStringLiteral("guide/g3.xhtml"));
            QTRY_COMPARE(context->currentPage(), toc.at(2).link->page);
            QCOMPARE(context->currentChapterTitle(), QStringLiteral("Guide 3"));
            context->navigateToLink(toc.at(4).link);
            QTRY_COMPARE(viewer->chapterPage()->source(), QStringLiteral("ru/usage.xhtml"));
            // The anchor's page is on screen, in either column.
            const int columns = context->pageParams()->columnCount();
            const int page = toc.at(4).link->page;
            QTRY_VERIFY(context->currentPage() <= page && page < context->currentPage() + columns);
            m_fixture->close();

            // The cache as an earlier version wrote it, whose entries led nowhere, and that cannot
            // be written now.
            QJsonArray stale;
            for (const TocPoint& point : toc)
                stale.append(QJsonObject { { "Source", "" }, { "Title", point.title }, { "Childs", QJsonArray() } });
            QVERIFY(testfiles::write(cache, QJsonDocument(stale).toJson()));
            checkedsave::setFailureInjector([cache](const QString& file) { return file == cache; });
        }
        checkedsave::setFailureInjector({});
    }

    // Crafted chapters whose markup the passes before the web view read otherwise than the view,
    // or that lead the page elsewhere, opened in the reader as a reader opens them: everything
    // on screen is clicked with the mouse, everything is clicked and every form submitted, and
    // refreshes and animations get their time. No script of the book runs, the page stays on its
    // chapter, and the engine still lays it out. The page-counting helper's page, which lays out
    // the same stored chapter, is given the same clicks.
    void bookScriptsNeverRun_data()
    {
        QTest::addColumn<bool>("mobi");
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("refusals"); // navigations that the page must refuse
        QTest::addColumn<bool>("settle"); // refreshes or animations to wait for
        QTest::addColumn<QByteArray>("whole"); // an XHTML chapter as it is, in place of head and body
        QTest::addColumn<int>("walls");
        // Bytes the stored chapter is replaced with, as a pass that missed them would leave it, and
        // the stored chapter's name in the book.
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("storedName");
        const QByteArray js = "javascript:" + kBookScript;
        const QByteArray page = scriptPage();
        const QByteArray xhtml = "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Crafted</title>";
        const QByteArray wordsAfter = "<p>Words before.</p><p>Words after.</p></body></html>";
        // The cleaner of EPUB chapters misreads an instruction whose first pseudo-attribute holds
        // another's text.
        const QByteArray stylesheet = "<?xml-stylesheet \xc3\xbc=\" type='text/css'\" type=\"text/xsl\" href=";
        const struct {
            const char* name;
            QByteArray head;
            QByteArray body;
            int refusals;
            bool settle;
            bool epubOnly;
            QByteArray whole;
            QByteArray stored;
            const char* storedName;
        } routes[] = {
            { "javascript: link", "", "<a href=\"" + js + "\">Go</a>", 0, false },
            { "scheme spellings", "",
                "<a href=\" \x01JavaScript:" + js.mid(11) + "\">a</a><a href=\"java\tscript:" + js.mid(11)
                    + "\">b</a><a href=\"&#x0A;jav&#x09;ascript&colon;" + js.mid(11) + "\">c</a><a href=\"\x7f\xc2\xa0"
                    + js + "\">d</a><a href=\"\xef\xbb\xbf" + js + "\">e</a>",
                0, false },
            { "link in noembed", "", "<noembed><a href=\"" + js + "\">Next</a></noembed>", 0, false },
            { "style in mglyph", "",
                "<p onclick=\"x()\">handler</p><script>x()</script><math><mtext><table><mglyph><style><a href=\"" + js
                    + "\">Next</a></style></mglyph></table></mtext></math>",
                0, false },
            { "charset the passes miss", "<!-- <body --><meta charset=\"iso-2022-jp\">",
                "\x1b$B<!--\x1b(B<a href=\"" + js + "\">Next</a>-->", 0, false },
            { "refresh to a page", "<meta http-equiv=\"refresh\" content=\"1;url=" + page + "\">", "<p>Wait.</p>", 1,
                true },
            { "refresh of the chapter", "<meta http-equiv=\"refresh\" content=\"0\">", "<p>Again.</p>", 1, false },
            { "form action", "", "<form action=\"" + page + "\"><input type=\"submit\" value=\"Go\"></form>", 1,
                false },
            { "button formaction", "", "<form><button formaction=\"" + page + "\">Go</button></form>", 1, false },
            { "javascript: form action", "", "<form action=\"" + js + "\"><input type=\"submit\" value=\"Go\"></form>",
                0, false },
            { "image-map area", "",
                "<img src=\"data:image/gif;base64,R0lGODlhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs=\" usemap=\"#m\" "
                "width=\"200\" height=\"60\"><map name=\"m\"><area shape=\"rect\" coords=\"0,0,200,60\" href=\""
                    + js + "\"></map>",
                0, false },
            { "SVG animation of an address", "",
                "<svg width=\"200\" height=\"60\"><a xlink:href=\"#t\"><set attributeName=\"xlink:href\" to=\"" + js
                    + "\" begin=\"0s\"/><animate attributeName=\"href\" values=\"" + js
                    + "\" begin=\"0s\" dur=\"9s\" fill=\"freeze\"/><rect width=\"200\" height=\"60\"/></a></svg>",
                0, true },
            { "SVG link", "",
                "<svg width=\"200\" height=\"60\"><a xlink:href=\"" + js
                    + "\"><rect width=\"200\" height=\"60\"/></a></svg>",
                0, false },
            { "SVG use of a drawing with handlers", "",
                "<svg width=\"200\" height=\"60\"><use xlink:href=\"drawing.svg#r\"/></svg>", 0, false },
            { "iframe srcdoc", "",
                "<iframe srcdoc=\"<a href='" + js + "'>x</a><script>" + kBookScript + "</script>\"></iframe>", 0,
                true },
            { "object data", "", "<object data=\"" + page + "\" width=\"200\" height=\"60\"></object>", 0, true },
            { "base href", "<base href=\"" + js + "//\">", "<a href=\"#t\">Next</a><p id=\"t\">t</p>", 0, false },
            { "MathML link", "", "<math><mi href=\"" + js + "\">x</mi></math>", 0, false },
            // A second html tag gives its attributes to the root, which a search finds nothing of.
            { "attributes of the root", "", "<html title=\"" + js + "\"><p>x</p>", 0, false },
            { "namespace declaration", "",
                "<svg width=\"200\" height=\"60\"><a xmlns:xlink=\"" + js
                    + "\" xlink:href=\"#t\"><rect width=\"200\" "
                      "height=\"60\"/></a></svg>",
                0, false },
            // The chapter read again as XML, where the drawing in its title is markup.
            { "SVG use of the chapter itself", "<title>" + scriptedDrawing() + "</title>",
                "<svg width=\"200\" height=\"60\"><use xlink:href=\"?x#a\"/></svg>", 0, true },
            { "SVG use of a drawing the package does not list", "",
                "<svg width=\"200\" height=\"60\"><use xlink:href=\"hidden.svg#a\"/></svg>", 0, true, true },
            { "SVG use of a drawing listed as a picture", "",
                "<svg width=\"200\" height=\"60\"><use xlink:href=\"picture.svg#a\"/></svg>", 0, true, true },
            { "SVG use of an HTML image in a foreignObject", "",
                "<svg width=\"200\" height=\"60\"><use xlink:href=\"foreign.svg#a\"/></svg>", 0, true, true },
            { "SVG use of a javascript: link", "",
                "<svg width=\"200\" height=\"60\"><use xlink:href=\"links.svg#a\"/></svg>", 0, false, true },
            { "XMLHttpRequest of a local file", "",
                "<script>var r = new XMLHttpRequest(); r.open('GET', '/etc/hostname', false); r.send();" + kBookScript
                    + "</script>",
                0, false },
            { "XSL style sheet reading a file outside the book", "", "", 0, false, true,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + stylesheet + "\"sheet.xsl\"?>\n" + xhtml
                    + "</head><body>" + wordsAfter },
            { "XSL style sheet in the chapter", "", "", 0, false, true,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + stylesheet + "\"#sheet\"?>\n" + xhtml
                    + "<xsl:stylesheet xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" version=\"1.0\" "
                      "xml:id=\"sheet\">"
                    + transformTemplate() + "</xsl:stylesheet></head><body>" + wordsAfter },
            // Bytes whose encoding the view could read otherwise than the reader, each with the
            // uses of files named by a space.
            { "UTF-16LE XHTML without a mark", "", "", 0, true, true, "",
                encodedIn("UTF-16LE", usesOfSpacedFiles(true, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n")),
                "stored.xhtml" },
            { "UTF-16BE HTML without a mark", "", "", 0, true, true, "",
                encodedIn("UTF-16BE", usesOfSpacedFiles(false, "<!DOCTYPE html>")), "stored.html" },
            { "UTF-32LE XHTML without a mark", "", "", 0, true, true, "",
                encodedIn("UTF-32LE", usesOfSpacedFiles(true)), "stored.xhtml" },
            { "UTF-32BE HTML without a mark", "", "", 0, true, true, "",
                encodedIn("UTF-32BE", usesOfSpacedFiles(false)), "stored.html" },
            { "HZ shift in a comment before the doctype", "", "", 0, true, true, "",
                usesOfSpacedFiles(false, "<!-- ~{ --><!DOCTYPE html>").toUtf8(), "stored.html" },
            { "escape in a comment before the doctype", "", "", 0, true, true, "",
                usesOfSpacedFiles(false, "<!-- \x1b$B --><!DOCTYPE html>").toUtf8(), "stored.html" },
            { "NUL among the first bytes", "", "", 0, true, true, "",
                usesOfSpacedFiles(false, QStringLiteral("<!") + QChar(0) + "><!DOCTYPE html>").toUtf8(),
                "stored.html" },
            { "meta charset of an EBCDIC code page", "", "", 0, true, true, "",
                usesOfSpacedFiles(false, "<!DOCTYPE html>")
                    .replace("<head>", "<head><meta charset=\"IBM037\">")
                    .toUtf8(),
                "stored.html" },
            { "XML declaration of another encoding than the bytes", "", "", 0, true, true, "",
                usesOfSpacedFiles(true, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n").toUtf8(), "stored.xhtml" },
        };
        const struct {
            Walls walls;
            const char* name;
        } settings[] = { { BothWalls, "" }, { GuardAlone, " (guard alone)" }, { PolicyAlone, " (policy alone)" } };
        for (const auto& setting : settings) {
            for (const auto& route : routes) {
                for (const bool mobi : { false, true }) {
                    if (mobi && route.epubOnly)
                        continue;
                    QTest::addRow("%s %s%s", mobi ? "MOBI" : "EPUB", route.name, setting.name)
                        << mobi << route.head << route.body << route.refusals << route.settle << route.whole
                        << int(setting.walls) << route.stored << QString::fromLatin1(route.storedName);
                }
            }
        }
    }

    void bookScriptsNeverRun()
    {
        QFETCH(bool, mobi);
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, body);
        QFETCH(int, refusals);
        QFETCH(bool, settle);
        QFETCH(QByteArray, whole);
        QFETCH(int, walls);
        QFETCH(QByteArray, stored);
        QFETCH(QString, storedName);
        setChapterPolicyForTests(walls != GuardAlone);
        setChapterGuardForTests(walls != PolicyAlone);
        const auto restore = qScopeGuard([] {
            setChapterPolicyForTests(true);
            setChapterGuardForTests(true);
        });
        const QString outside = m_fixture->home().filePath(QStringLiteral("outside.xml"));
        QVERIFY(testfiles::write(outside, "<secret>" + kOutsideSecret + "</secret>"));
        const QByteArray outsideUrl = QUrl::fromLocalFile(outside).toEncoded();
        const QByteArray text = !whole.isEmpty()
            ? QByteArray(whole).replace("OUTSIDE", outsideUrl)
            : "<html><head>" + head + "<title>Crafted</title></head><body><p>Words before.</p>" + body
                + "<p>Words after.<br></p></body></html>";
        // A book whose converted files are replaced below is one of its own, opened at its start.
        const QString path = m_fixture->home().filePath(mobi ? QStringLiteral("crafted.mobi")
                : stored.isEmpty()                           ? QStringLiteral("crafted.epub")
                                   : QStringLiteral("stored-%1.epub").arg(qHash(stored) ^ walls));
        QFile::remove(path);
        if (mobi) {
            MobiWriter writer;
            writer.setText(text);
            QVERIFY(writer.write(path));
        } else {
            EpubBuilder epub;
            epub.addItem(QStringLiteral("c1"),
                whole.isEmpty() ? QStringLiteral("crafted.html") : QStringLiteral("crafted.xhtml"), text);
            if (!stored.isEmpty()) {
                epub.addItem(QStringLiteral("c2"), storedName,
                    "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Stored</title></head><body><p>Stored "
                    "words.</p></body></html>");
            }
            // A drawing of the book's that a chapter may use, with handlers of its own.
            epub.addResource(QStringLiteral("x"), QStringLiteral("drawing.svg"),
                "<svg xmlns='http://www.w3.org/2000/svg'><rect id='r' width='200' height='60' onclick=\"" + kBookScript
                    + "\" onmouseover=\"" + kBookScript + "\"/></svg>",
                QStringLiteral("image/svg+xml"));
            // Drawings whose group "a" runs the book's script once the view makes it (the package
            // lists none of them as a drawing, so no pass of the conversion reads them).
            epub.addArchiveFile(QStringLiteral("OEBPS/hidden.svg"), scriptedDrawing());
            epub.addResource(
                QStringLiteral("p"), QStringLiteral("picture.svg"), scriptedDrawing(), QStringLiteral("image/png"));
            epub.addArchiveFile(QStringLiteral("OEBPS/foreign.svg"),
                "<svg xmlns='http://www.w3.org/2000/svg'><g id='a'><foreignObject width='200' height='60'>"
                "<img xmlns='http://www.w3.org/1999/xhtml' src='missing.png' onerror=\""
                    + kBookScript + "\"/></foreignObject></g></svg>");
            epub.addArchiveFile(QStringLiteral("OEBPS/links.svg"),
                "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink'><g id='a'><a "
                "xlink:href=\"javascript:"
                    + kBookScript + "\"><rect width='200' height='60'/></a></g></svg>");
            epub.addResource(QStringLiteral("s"), QStringLiteral("sheet.xsl"),
                "<xsl:stylesheet xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" version=\"1.0\">"
                    + transformTemplate().replace("OUTSIDE", outsideUrl) + "</xsl:stylesheet>",
                QStringLiteral("application/xslt+xml"));
            QVERIFY(epub.write(path));
        }
        MessageCatcher warnings(QtWarningMsg);
        const QSharedPointer<BookContext> context
            = m_fixture->open(addBook(*m_fixture, path, mobi ? BookFormat::Mobi : BookFormat::Epub));
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        QWebFrame* frame = viewer->page()->mainFrame();
        const QSharedPointer<TextDocument> document = context->textDocument();
        if (!stored.isEmpty()) {
            const QString name = document->chapters().at(1);
            const QString file = document->chapterFilePath(name);
            QVERIFY2(file.endsWith(storedName.mid(storedName.indexOf(QLatin1Char('.')))), qPrintable(file));
            QVERIFY(testfiles::write(file, stored));
            for (const ushort space : kKeptSpaces) {
                QVERIFY(testfiles::write(QFileInfo(file).dir().filePath(QString(QChar(space))), scriptedDrawing()));
            }
            viewer->goLink(name, false);
            QVERIFY(ReadingFixture::waitFor([&] {
                return viewer->isVisible() && frame->url() == QUrl::fromLocalFile(file)
                    && viewer->chapterPage()->currentPage() > 0;
            }));
        }
        const QUrl chapter = frame->url();
        QVERIFY2(chapter.isLocalFile(), qPrintable(chapter.toString()));
        // A click on the first page of a later chapter turns back to the one before.
        if (stored.isEmpty())
            clickOnScreen(viewer, frame);
        clickEverything(frame);

        ChapterLayout helperPage;
        helperPage.setBookFolder(document->bookFolder());
        QVERIFY(helperPage.open(chapter, QString()));
        helperPage.evaluate(QStringLiteral("document.title"));
        QWebFrame* helperFrame = nullptr;
        for (QWebPage* page : helperPage.findChildren<QWebPage*>())
            helperFrame = page->mainFrame();
        QVERIFY(helperFrame);
        clickEverything(helperFrame);

        QVERIFY2(ReadingFixture::waitFor(
                     [&] { return warnings.count(QStringLiteral("Navigation refused")) >= 2 * refusals; }),
            qPrintable(QString::number(warnings.count(QStringLiteral("Navigation refused")))));
        if (settle)
            QTest::qWait(5000);
        QCOMPARE(frame->url(), chapter);
        QVERIFY(!scriptRan(frame));
        QVERIFY(viewer->chapterPage()->currentPage() > 0);
        QCOMPARE(helperFrame->url(), chapter);
        QVERIFY(!scriptRan(helperFrame));
        // Nothing of the user's files reaches the pages.
        QVERIFY(!frame->toHtml().contains(QString::fromLatin1(kOutsideSecret)));
        QVERIFY(!helperFrame->toHtml().contains(QString::fromLatin1(kOutsideSecret)));
        // Nor is anything left that could run, as a walk of the test reads the pages; without the
        // guard the policy alone keeps it from running.
        if (walls != PolicyAlone) {
            QCOMPARE(viewedmarkup::runnableInFrame(frame), QStringList());
            QCOMPARE(viewedmarkup::runnableInFrame(helperFrame), QStringList());
        }
        QVERIFY(helperPage.applyFormat(context->pageParams()->pageFormatScript()) > 0);
    }

    // Two chapters asked for in one batch of input (a quick double click on two contents entries):
    // the web view ends the first load, as failed, inside the call that starts the second. The
    // second chapter's script, in every place that runs only when scripting is on during the
    // parse (before the head, the body's load handler, an image's error handler), never runs; it
    // is shown and the engine lays it out and turns its pages. The converted files carry the
    // script as a pass that missed it would leave them, and the chapters' policy is off, so only
    // the load's own wall is tested. A load that fails leaves the reader on the chapter it showed.
    // The helper's page, after a load it gave up, opens the chapter alike. A load the page was not
    // asked for through the chapter load, of another address, ends with scripting still off.
    void chapterRequestsInOneBatch()
    {
        setChapterPolicyForTests(false);
        const auto restore = qScopeGuard([] { setChapterPolicyForTests(true); });
        EpubBuilder epub;
        for (int i = 1; i <= 3; ++i) {
            ChapterBuilder chapter { quint32(200 + i) };
            chapter.addProse(i == 2 ? 200 : 12, 60, 90);
            epub.addItem(QStringLiteral("c%1").arg(i), QStringLiteral("p%1.xhtml").arg(i), chapter.xhtml());
        }
        const QString path = m_fixture->home().filePath(QStringLiteral("batch.epub"));
        QVERIFY(epub.write(path));
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, BookFormat::Epub));
        QVERIFY(context);
        const QSharedPointer<TextDocument> document = context->textDocument();
        const QStringList chapters = document->chapters();
        QCOMPARE(chapters.size(), 3);
        for (int i = 1; i <= 2; ++i) {
            ChapterBuilder prose { quint32(300 + i) };
            prose.addProse(i == 1 ? 200 : 30, 60, 90);
            const QByteArray text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<html "
                                    "xmlns=\"http://www.w3.org/1999/xhtml\"><script>"
                + kBookScript + "</script><head><title>Scripted</title></head><body onload=\"" + kBookScript
                + "\"><img src=\"missing.png\" onerror=\"" + kBookScript + "\"/>" + prose.bodyHtml().toUtf8()
                + "</body></html>";
            QVERIFY(testfiles::write(document->chapterFilePath(chapters.at(i)), text));
        }
        TextViewer* viewer = m_fixture->viewer();
        TextBookChapter* page = viewer->chapterPage();
        QWebFrame* frame = page->mainFrame();
        viewer->goLink(chapters.at(1), false);
        viewer->goLink(chapters.at(2), false);
        const QUrl shown = QUrl::fromLocalFile(document->chapterFilePath(chapters.at(2)));
        // The script is looked for as soon as the chapter shows, before its pages are: a load that
        // took the first chapter's end for its own would have laid out no pages either.
        QVERIFY(ReadingFixture::waitFor([&] { return viewer->isVisible() && frame->url() == shown; }));
        QVERIFY(!scriptRan(frame));
        QVERIFY(ReadingFixture::waitFor([&] { return page->currentPage() > 0 && page->pageCount() > 1; }));
        QCOMPARE(page->source(), chapters.at(2));
        QVERIFY(!scriptRan(frame));
        const int before = page->currentPage();
        page->next();
        QVERIFY(page->currentPage() > before);
        QVERIFY(!scriptRan(frame));
        // A chapter whose load fails (stopped here) is not shown: the reader goes back to where it was.
        viewer->goLink(chapters.at(1), false);
        page->triggerAction(QWebPage::Stop);
        QVERIFY(ReadingFixture::waitFor(
            [&] { return viewer->isVisible() && frame->url() == shown && page->currentPage() > 0; }));
        QCOMPARE(page->source(), chapters.at(2));
        QVERIFY(!scriptRan(frame));

        ChapterLayout helperPage;
        helperPage.open(QUrl::fromLocalFile(document->chapterFilePath(chapters.at(1))), QString(), 1);
        QVERIFY(helperPage.open(shown, QString()));
        QWebFrame* helperFrame = helperPage.findChild<QWebPage*>()->mainFrame();
        QCOMPARE(helperFrame->url(), shown);
        QVERIFY(!scriptRan(helperFrame));
        QVERIFY(helperPage.applyFormat(context->pageParams()->pageFormatScript()) > 0);

        // The chapter load alone. A load of another address that replaces it as it starts (no end
        // of its own comes) ends with scripting still off; a second load of the same file asked for
        // as the first starts (two places in one chapter in one batch) is loaded once, not failed
        // by the end of the first, which comes inside the call that starts it.
        const QUrl second = QUrl::fromLocalFile(document->chapterFilePath(chapters.at(1)));
        for (const bool replaced : { true, false }) {
            QWebPage bare;
            ChapterLoad load(&bare);
            QSignalSpy loaded(&load, &ChapterLoad::loaded);
            QSignalSpy failed(&load, &ChapterLoad::failed);
            QSignalSpy ends(&bare, &QWebPage::loadFinished);
            bool started = false;
            connect(&bare, &QWebPage::loadStarted, &load, [&] {
                if (!std::exchange(started, true) && replaced)
                    bare.mainFrame()->load(shown);
            });
            load.start(second);
            if (!replaced) {
                QVERIFY(ReadingFixture::waitFor([&] { return started; }));
                QVERIFY(ends.isEmpty());
                load.start(QUrl(second.toString() + QStringLiteral("#again")));
            }
            QVERIFY(ReadingFixture::waitFor([&] { return !ends.isEmpty() && ends.last().first().toBool(); }));
            QCOMPARE(bare.mainFrame()->url().adjusted(QUrl::RemoveFragment), replaced ? shown : second);
            QCOMPARE(failed.count(), 0);
            QCOMPARE(loaded.count(), replaced ? 0 : 1);
            QCOMPARE(bare.settings()->testAttribute(QWebSettings::JavascriptEnabled), !replaced);
            QVERIFY(!scriptRan(bare.mainFrame()));
        }
    }

    // The helper counts a long chapter piece by piece, each laid out from nothing as the reader
    // lays out the whole: only the boxes of the piece shown are taken down and made anew, never
    // the whole chapter's, which restyles every element of the chapter, shown or not, for each
    // piece (counting took two and a half times as long). Wide tables make the fitted layout of
    // each piece take its boxes down once more.
    void piecesLaidOutAlone()
    {
        ChapterBuilder manual(3);
        const QString wide
            = QStringLiteral("<table width='900'><tr>%1</tr></table>\n")
                  .arg(QStringLiteral("<td>Internationalisation counterrevolutionaries</td>").repeated(6));
        while (manual.bodyHtml().size() < 1400 * 1000) {
            manual.addManualContent(manual.bodyHtml().size() + 100 * 1000);
            manual.addRaw(wide);
        }
        const QString path = m_fixture->home().filePath(QStringLiteral("manual.html"));
        QVERIFY(testfiles::write(path, manual.html()));
        ChapterLayout layout;
        const int pieces = layout.openPieces(QUrl::fromLocalFile(path), QString());
        QVERIFY2(pieces >= 2, qPrintable(QString::number(pieces)));
        BookPageParams params;
        params.setColumnCount(2);
        params.setWidth(1400);
        params.setHeight(900);
        QVERIFY(layout.applyFormat(params.pageFormatScript()) > 0);
        for (int piece = 1; piece < pieces; ++piece)
            QVERIFY(layout.showPiece(piece) > 0);
        QVERIFY(
            layout.evaluate(QStringLiteral("kelColumns().querySelectorAll('table.kelwidetable').length")).toInt() > 0);
        QCOMPARE(layout.evaluate(QStringLiteral("page.wholeDrops")), QVariant(0));
    }

    // A chapter page reads the book's files, through links too when they stay in the book, the
    // reader's resources and data; not a file outside the book, by its path, by ".." or through
    // a link in the book, no XSL style sheet, and no other scheme. A script of the book that ran
    // anyway (the policy off, scripting on while the chapter loads) reads no more.
    void chapterPageReadsOnlyTheBook_data()
    {
        QTest::addColumn<QString>("address"); // BOOK and HOME stand for the folders' addresses
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<QByteArray>("content"); // what is served; empty when the read is refused
        const QByteArray css = "p { color: red }";
        const QByteArray xsl = "text/xml, application/xml, application/xhtml+xml, text/xsl, application/rss+xml";
        QTest::newRow("book file") << "BOOK/style.css" << QByteArray() << css;
        QTest::newRow("book file in a folder") << "BOOK/Text/../style.css" << QByteArray() << css;
        QTest::newRow("link inside the book") << "BOOK/inner.css" << QByteArray() << css;
        // A document the page makes (a use, an image) as the reader reads it, under the policy.
        QTest::newRow("document of the book")
            << "BOOK/Text/note.svg" << QByteArray()
            << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"><meta xmlns=\"http://www.w3.org/1999/xhtml\" "
                          "http-equiv=\"Content-Security-Policy\"");
        QTest::newRow("file outside") << "HOME/outside.txt" << QByteArray() << QByteArray();
        QTest::newRow("dot-dot out") << "BOOK/../../outside.txt" << QByteArray() << QByteArray();
        QTest::newRow("link out") << "BOOK/link.txt" << QByteArray() << QByteArray();
        QTest::newRow("folder beside the book's") << "BOOKx/style.css" << QByteArray() << QByteArray();
        QTest::newRow("XSL style sheet") << "BOOK/style.css" << xsl << QByteArray();
        QTest::newRow("reader resource") << "qrc:/jsengine/script.js" << QByteArray()
                                         << QByteArray("// The reading engine");
        QTest::newRow("data") << "data:text/plain,words" << QByteArray() << QByteArray("words");
        QTest::newRow("web") << "http://127.0.0.1:9/style.css" << QByteArray() << QByteArray();
    }

    void chapterPageReadsOnlyTheBook()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, accept);
        QFETCH(QByteArray, content);
        const QString book = bookWithOutsideFiles();
        const QString home = m_fixture->home().path();
        QWebPage page;
        makePageLocalOnly(&page, &page);
        setPageChapter(&page, book, QUrl::fromLocalFile(book + QStringLiteral("/c.html")));
        address.replace(QLatin1String("BOOK"), QUrl::fromLocalFile(book).toString())
            .replace(QLatin1String("HOME"), QUrl::fromLocalFile(home).toString());
        QNetworkRequest request { QUrl(address) };
        if (!accept.isEmpty())
            request.setRawHeader("Accept", accept);
        MessageCatcher warnings(QtWarningMsg);
        QNetworkReply* reply = page.networkAccessManager()->get(request);
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);
        const QByteArray served = reply->readAll();
        if (content.isEmpty()) {
            QVERIFY(reply->error() != QNetworkReply::NoError);
            QVERIFY(served.isEmpty());
            if (address.startsWith(QLatin1String("file:")))
                QCOMPARE(warnings.count(QStringLiteral("Read refused")), 1);
        } else {
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QVERIFY2(served.startsWith(content), served.left(80).constData());
        }
        delete reply;

        if (QTest::currentDataTag() != QLatin1String("book file"))
            return;
        // A script of the book's that runs reads the book's file, and none of the others.
        setChapterPolicyForTests(false);
        const auto restore = qScopeGuard([] { setChapterPolicyForTests(true); });
        const QByteArray reads = "<html><head><script>var t = [];"
                                 "['style.css', '../../outside.txt', '"
            + QUrl::fromLocalFile(home + "/outside.txt").toEncoded()
            + "', 'link.txt'].forEach(function (a) { var r = new XMLHttpRequest();"
              " try { r.open('GET', a, false); r.send(); t.push(r.responseText); } catch (e) { t.push('-'); } });"
              " document.title = t.join('|');</script></head><body><p>x</p></body></html>";
        QVERIFY(testfiles::write(book + QStringLiteral("/reads.html"), reads));
        page.settings()->setAttribute(QWebSettings::JavascriptEnabled, true);
        QSignalSpy loaded(&page, &QWebPage::loadFinished);
        const QUrl chapter = QUrl::fromLocalFile(book + QStringLiteral("/reads.html"));
        setPageChapter(&page, book, chapter);
        page.mainFrame()->load(chapter);
        QTRY_VERIFY_WITH_TIMEOUT(loaded.count() > 0, 30000);
        QCOMPARE(page.mainFrame()->title(), QStringLiteral("p { color: red }|-|-|-"));
    }

    // The chapter page is under the policy in whatever encoding and markup its chapter comes:
    // the reply states charset=utf-8 and holds the policy before anything of the book, in UTF-8
    // without a mark; the book's text reads as before, its CSS style sheets apply however they
    // are linked, the doctype still decides the mode, and a text the page would evaluate is
    // refused while the host's evaluation runs.
    void chapterPolicyInEveryEncoding_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("styled"); // by the book's style.css
        const QByteArray words = "<p>Gr\xc3\xbc\xc3\x9f dich</p>";
        const QString text = QStringLiteral("Grüß dich");
        const QString plain = QStringLiteral("plain words");
        QTest::newRow("HTML after a mark, comments and a doctype")
            << "c.html"
            << "\xef\xbb\xbf\n<!-- a --><!DOCTYPE html><!-- b -- c --!><html "
               "lang=\"de\"><head><title>t</title></head><body>"
                + words + "</body></html>"
            << text << "CSS1Compat" << false;
        QTest::newRow("HTML without a tag of its frame")
            << "c.htm" << QByteArray("<p>plain words</p>") << plain << "BackCompat" << false;
        QTest::newRow("HTML named .shtml")
            << "c.shtml" << QByteArray("<!DOCTYPE html><p>plain<br> words</p>") << plain << "CSS1Compat" << false;
        const QString wideText = QStringLiteral("<!DOCTYPE html><html><body><p>Grüß dich</p></body></html>");
        QTest::newRow("HTML in UTF-16") << "c.html"
                                        << "\xff\xfe" + encodedIn("UTF-16LE", wideText) << text << "CSS1Compat"
                                        << false;
        QTest::newRow("HTML in a charset of its meta")
            << "c.html"
            << QByteArray("<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=windows-1251\"></head><body><p>\xcf\xf0\xe8\xe2\xe5\xf2</p></body></html>")
            << QStringLiteral("Привет") << "CSS1Compat" << false;
        // Older books name Latin-1, ASCII or Latin-5 and hold Windows punctuation, which the view
        // reads as windows-1252 and windows-1254 do; a meta in a comment names nothing.
        const QString quoted
            = QStringLiteral("\u201cIt\u2019s \u2018ten\u2019 \u2014 or \u20ac9\u2013\u20ac12\u2026\u201d");
        for (const char* label : { "ISO-8859-1", "us-ascii" }) {
            QTest::newRow(qPrintable(QStringLiteral("HTML naming %1, with Windows punctuation").arg(label)))
                << "c.html"
                << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + QByteArray(label)
                    + "\"></head><body><p>" + encodedIn("windows-1252", quoted) + "</p></body></html>"
                << quoted << "BackCompat" << false;
        }
        const QString turkish
            = QStringLiteral("\u201c\u015ei\u015fli\u2019de g\u00fczel bir \u011fe\u2026\u201d \u2014 \u20ac");
        QTest::newRow("HTML naming ISO-8859-9, with Windows punctuation")
            << "c.html"
            << "<html><head><meta charset=\"iso-8859-9\"></head><body><p>" + encodedIn("windows-1254", turkish)
                + "</p></body></html>"
            << turkish << "BackCompat" << false;
        const QString cyrillic = QStringLiteral("\u041c\u0430\u044f\u043a \u0441\u0432\u0435\u0442\u0438\u043b "
                                                "\u0432\u0441\u044e \u043d\u043e\u0447\u044c, \u0438 "
                                                "\u043a\u043e\u0440\u0430\u0431\u043b\u0438 \u0448\u043b\u0438 "
                                                "\u043a \u0431\u0435\u0440\u0435\u0433\u0443 \u0437\u0430 "
                                                "\u0435\u0433\u043e \u043e\u0433\u043d\u0451\u043c.");
        QTest::newRow("HTML in windows-1251 after a meta in a comment")
            << "c.html"
            << "<html><head><!-- <meta charset=\"utf-8\"> --><title>t</title></head><body><p>"
                + encodedIn("windows-1251", cyrillic) + "</p></body></html>"
            << cyrillic << "BackCompat" << false;
        QTest::newRow("XHTML in Latin-1")
            << "c.xhtml"
            << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?>\n<?other x?><!DOCTYPE html [<!ENTITY e '>'>]>"
                          "<html xmlns='http://www.w3.org/1999/xhtml' title='a>b'><head/><body><p>Gr\xfc\xdf "
                          "dich</p></body></html>")
            << text << "CSS1Compat" << false;
        QTest::newRow("SVG of one empty element")
            << "c.svg" << QByteArray("<svg xmlns='http://www.w3.org/2000/svg' width='10'/>") << QString()
            << "CSS1Compat" << false;
        // The view keeps a template's content out of the document: nothing of it is shown, and its
        // own handlers must not run.
        QTest::newRow("XHTML whose root is a template")
            << "c.xhtml"
            << "<?xml version='1.0'?><template xmlns='http://www.w3.org/1999/xhtml' onclick='x()'>" + words
                + "</template>"
            << QString() << "CSS1Compat" << false;
        QTest::newRow("XML of another root") << "c.xml"
                                             << "<book>" + words + "</book>" << text << "CSS1Compat" << false;
        QTest::newRow("HTML after a shift")
            << "c.html" << QByteArray("<!-- \x1b$B<!--\x1b(B --><html><body><p>plain words</p></body></html>") << plain
            << "BackCompat" << false;
        QTest::newRow("HTML after an HZ shift in a comment")
            << "c.html" << QByteArray("<!-- ~{ --><!DOCTYPE html><html><body><p>plain words</p></body></html>") << plain
            << "CSS1Compat" << false;
        QTest::newRow("HTML with a NUL among its first bytes")
            << "c.html" << QByteArray("<!\0><!DOCTYPE html><p>plain words</p>", 37) << plain << "CSS1Compat" << false;
        // The meta out of the reader's sight, behind a comment holding "<body": the reply's charset decides.
        QTest::newRow("HTML naming an EBCDIC code page")
            << "c.html"
            << "<!DOCTYPE html><html><head><!-- <body --><meta charset=\"IBM037\"></head><body>" + words
                + "</body></html>"
            << text << "CSS1Compat" << false;
        const QString xhtml
            = QStringLiteral("<html xmlns='http://www.w3.org/1999/xhtml'><body><p>Grüß dich</p></body></html>");
        QTest::newRow("XHTML in UTF-16BE without a mark")
            << "c.xhtml" << encodedIn("UTF-16BE", "<?xml version='1.0' encoding='UTF-16'?>" + xhtml) << text
            << "CSS1Compat" << false;
        QTest::newRow("XHTML in UTF-32LE without a mark")
            << "c.xhtml" << encodedIn("UTF-32LE", xhtml) << text << "CSS1Compat" << false;
        QTest::newRow("HTML in UTF-16LE without a mark")
            << "c.html" << encodedIn("UTF-16LE", wideText) << text << "CSS1Compat" << false;
        QTest::newRow("XHTML declaring UTF-16 in UTF-8")
            << "c.xhtml"
            << "<?xml version='1.0' encoding='UTF-16'?>" + xhtml.toUtf8() << text << "CSS1Compat" << false;
        QTest::newRow("XHTML declaring ISO-2022-JP, shifted in a comment")
            << "c.xhtml"
            << QByteArray("<?xml version='1.0' encoding='ISO-2022-JP'?><!-- \x1b$B<!--\x1b(B --><html "
                          "xmlns='http://www.w3.org/1999/xhtml'><body><p>plain words</p></body></html>")
            << plain << "CSS1Compat" << false;
        QTest::newRow("XHTML styled by an xml-stylesheet")
            << "c.xhtml"
            << "<?xml version='1.0'?>\n<?xml-stylesheet type=\"text/css\" href=\"style.css\"?>\n" + xhtml.toUtf8()
            << text << "CSS1Compat" << true;
        QTest::newRow("XHTML with an alternate and an XSL xml-stylesheet")
            << "c.xhtml"
            << "<?xml-stylesheet type='text/css' href='style.css' alternate='yes'?>"
               "<?xml-stylesheet type='text/xsl' href='style.css'?>"
                + xhtml.toUtf8()
            << text << "CSS1Compat" << false;
    }

    void chapterPolicyInEveryEncoding()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        QFETCH(QString, mode);
        QFETCH(bool, styled);
        const QString book = bookWithOutsideFiles();
        QVERIFY(testfiles::write(book + QLatin1Char('/') + fileName, data));
        QWebPage page;
        makePageLocalOnly(&page, &page);
        page.settings()->setAttribute(QWebSettings::JavascriptEnabled, false);
        const QUrl chapter = QUrl::fromLocalFile(book + QLatin1Char('/') + fileName);
        setPageChapter(&page, book, chapter);

        // The reply: UTF-8 without a mark, saying so, and the policy first.
        QNetworkReply* reply = page.networkAccessManager()->get(QNetworkRequest(chapter));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);
        QVERIFY(
            reply->header(QNetworkRequest::ContentTypeHeader).toString().endsWith(QLatin1String("; charset=utf-8")));
        const QByteArray served = reply->readAll();
        delete reply;
        QVERIFY(!served.startsWith("\xef\xbb\xbf"));
        QTextCodec::ConverterState state;
        const QString servedText
            = QTextCodec::codecForName("UTF-8")->toUnicode(served.constData(), served.size(), &state);
        QCOMPARE(state.invalidChars, 0);
        const int policy = servedText.indexOf(QStringLiteral("content=\"%1\"").arg(chapterpolicy::policy()));
        QVERIFY(policy > 0);
        // Before it nothing of the book's head or body.
        for (const char* tag : { "<head", "<title", "<body", "<p>", "<script", "<link" }) {
            const int at = servedText.indexOf(QLatin1String(tag));
            QVERIFY2(at < 0 || at > policy, tag);
        }
        QSignalSpy loaded(&page, &QWebPage::loadFinished);
        page.mainFrame()->load(chapter);
        QTRY_VERIFY_WITH_TIMEOUT(loaded.count() > 0, 30000);
        page.settings()->setAttribute(QWebSettings::JavascriptEnabled, true);
        const QString shown = page.mainFrame()
                                  ->evaluateJavaScript(QStringLiteral("document.documentElement.textContent"))
                                  .toString()
                                  .trimmed();
        QCOMPARE(shown.right(text.size()), text);
        QCOMPARE(page.mainFrame()->findAllElements(QStringLiteral("parsererror")).count(), 0);
        if (fileName.contains(QLatin1String(".htm")) || fileName.endsWith(QLatin1String(".shtml")))
            QCOMPARE(page.mainFrame()->evaluateJavaScript(QStringLiteral("document.compatMode")).toString(), mode);
        if (!text.isEmpty()) {
            const QString color = page.mainFrame()
                                      ->evaluateJavaScript(QStringLiteral(
                                          "getComputedStyle(document.getElementsByTagName('p')[0]).color"))
                                      .toString();
            QCOMPARE(color == QLatin1String("rgb(255, 0, 0)"), styled);
        }
        const QString evaluated
            = page.mainFrame()
                  ->evaluateJavaScript(QStringLiteral("(function () { try { return eval('\\'ran\\''); } catch (e) "
                                                      "{ return 'refused'; } })()"))
                  .toString();
        QCOMPARE(evaluated, QStringLiteral("refused"));
    }

    // A book is its whole container: a chapter, its style sheet and its picture beside the
    // package's folder are read and shown styled, and the page counter counts every chapter as
    // the reader lays it out. Chapters whose names hold "#", "%", "?" or a space open.
    void bookIsItsWholeContainer()
    {
        EpubBuilder epub;
        // A first chapter of the usual shape, so that the book opens whatever the others do.
        epub.addChapter(QStringLiteral("p"), QStringLiteral("p.xhtml"), QStringLiteral("Part 0"),
            QStringLiteral("<p>Words of part 0.</p>"));
        ChapterBuilder prose(501);
        prose.addProse(10, 60, 80);
        epub.addItem(QStringLiteral("c0"), QStringLiteral("../Text/c0.xhtml"),
            "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Styled</title><link rel=\"stylesheet\" "
            "type=\"text/css\" href=\"../Styles/s.css\"/></head><body><p><img src=\"../Images/i.png\" alt=\"\"/></p>"
                + prose.bodyHtml().toUtf8() + "</body></html>");
        epub.addResource(QStringLiteral("s"), QStringLiteral("../Styles/s.css"),
            "p { font-size: 30px; line-height: 40px; color: rgb(255, 0, 0) }", QStringLiteral("text/css"));
        epub.addResource(QStringLiteral("i"), QStringLiteral("../Images/i.png"), EpubBuilder::png(40, 30),
            QStringLiteral("image/png"));
        const QStringList hrefs { "c%231.xhtml", "c%2541.xhtml", "c%3F1.xhtml", "c%201.xhtml" };
        for (int i = 0; i < hrefs.size(); ++i) {
            epub.addChapter(QStringLiteral("c%1").arg(i + 1), hrefs.at(i), QStringLiteral("Part %1").arg(i + 1),
                QStringLiteral("<p>Words of part %1.</p>").arg(i + 1));
        }
        const QString path = m_fixture->home().filePath(QStringLiteral("container.epub"));
        QVERIFY(epub.write(path));
        MessageCatcher warnings(QtWarningMsg);
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, BookFormat::Epub));
        QVERIFY(context);
        const QSharedPointer<TextDocument> document = context->textDocument();
        QCOMPARE(document->chapters(),
            QStringList({ "p.xhtml", "../Text/c0.xhtml", "c#1.xhtml", "c%41.xhtml", "c?1.xhtml", "c 1.xhtml" }));
        TextViewer* viewer = m_fixture->viewer();
        TextBookChapter* page = viewer->chapterPage();
        QWebFrame* frame = page->mainFrame();
        int pages = 0;
        for (const QString& chapter : document->chapters()) {
            viewer->goLink(chapter, false);
            const QUrl url = QUrl::fromLocalFile(document->chapterFilePath(chapter));
            QVERIFY2(ReadingFixture::waitFor(
                         [&] {
                             return viewer->isVisible() && frame->url() == url && page->source() == chapter
                                 && page->currentPage() > 0;
                         },
                         20000),
                qPrintable(chapter));
            const QString text = frame->evaluateJavaScript(QStringLiteral("document.body.textContent")).toString();
            if (chapter == QLatin1String("../Text/c0.xhtml")) {
                QCOMPARE(
                    frame->evaluateJavaScript(QStringLiteral("getComputedStyle(document.querySelector('p')).color"))
                        .toString(),
                    QStringLiteral("rgb(255, 0, 0)"));
                QCOMPARE(frame->evaluateJavaScript(QStringLiteral("document.images[0].naturalWidth")).toInt(), 40);
            } else {
                QVERIFY2(text.contains(QStringLiteral("Words of part")), qPrintable(chapter + QLatin1Char(' ') + text));
            }
            pages += page->pageCount();
        }
        QVERIFY(pages > document->chapters().size());
        QVERIFY(ReadingFixture::waitFor([&] { return context->pageCount() == pages; }, 60000));
        QCOMPARE(warnings.count(QStringLiteral("refused")), 0);
    }

    // Nothing of one book serves another: a chapter that links a style sheet of another book is
    // refused it, when read alone and after that book was read in the same run (the view keeps
    // what it read in a memory cache that answers without asking the page).
    void anotherBooksFilesStayRefused()
    {
        const QString pathA = m_fixture->home().filePath(QStringLiteral("cache-a.epub"));
        const QString pathB = m_fixture->home().filePath(QStringLiteral("cache-b.epub"));
        const QString sheet = QFileInfo(bookDataDir(pathA)).fileName() + QStringLiteral("/OEBPS/style.css");
        const auto chapter = [](const QString& href) {
            return "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title><link rel=\"stylesheet\" "
                   "type=\"text/css\" href=\""
                + href.toUtf8() + "\"/></head><body><p>Words.</p></body></html>";
        };
        EpubBuilder a;
        a.addItem(QStringLiteral("a"), QStringLiteral("a.xhtml"), chapter(QStringLiteral("style.css")));
        a.addResource(QStringLiteral("s"), QStringLiteral("style.css"), "p { color: rgb(255, 0, 0) }",
            QStringLiteral("text/css"));
        QVERIFY(a.write(pathA));
        EpubBuilder b;
        b.addItem(QStringLiteral("b"), QStringLiteral("b.xhtml"), chapter(QStringLiteral("../../") + sheet));
        QVERIFY(b.write(pathB));
        const int idA = addBook(*m_fixture, pathA, BookFormat::Epub);
        const int idB = addBook(*m_fixture, pathB, BookFormat::Epub);
        const auto color = [&](int id) {
            const QSharedPointer<BookContext> context = m_fixture->open(id);
            if (!context)
                return QStringLiteral("not opened");
            const QString shown
                = m_fixture->viewer()
                      ->page()
                      ->mainFrame()
                      ->evaluateJavaScript(QStringLiteral("getComputedStyle(document.querySelector('p')).color"))
                      .toString();
            m_fixture->close();
            return shown;
        };
        // The reader's cache as the program has it, empty: the helper's pages of the tests before
        // turned it off for the whole process, and their files could crowd book A's sheet out.
        QWebSettings::clearMemoryCaches();
        QWebSettings::setObjectCacheCapacities(0, 8192 * 1024, 8192 * 1024);
        MessageCatcher warnings(QtWarningMsg);
        QCOMPARE(color(idB), QStringLiteral("rgb(0, 0, 0)"));
        QCOMPARE(warnings.count(QStringLiteral("Read refused")), 1);
        QCOMPARE(color(idA), QStringLiteral("rgb(255, 0, 0)"));
        QCOMPARE(color(idB), QStringLiteral("rgb(0, 0, 0)"));
        QCOMPARE(warnings.count(QStringLiteral("Read refused")), 2);
    }

    // A document's name means one thing to the view, the reply and the conversion: a reply states
    // the type the view itself gives a file of that name wherever the view parses such a file as
    // markup, and the conversion reads a name as XML exactly when the view does. An HTML chapter
    // and an XHTML one under each name are shown whole, without an XML error.
    void documentNamesReadAsTheViewReadsThem()
    {
        const QString book = bookWithOutsideFiles();
        const QByteArray html = "<html><head><title>t</title></head><body><p>one<br>two</p></body></html>";
        const QByteArray xhtml = "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head><body>"
                                 "<p>one<br/>two</p></body></html>";
        const QStringList suffixes { ".html", ".HTM", ".shtml", ".xhtml", ".XHT", ".xml", ".svg", ".xsl", ".xslt",
            ".rss", ".atom", ".mml", ".kml", ".opf", ".txt", "" };
        for (const QString& suffix : suffixes) {
            const QString name = QStringLiteral("c") + suffix;
            // The view alone, on the file as written.
            const QString file = book + QStringLiteral("/view") + suffix;
            QVERIFY(testfiles::write(file, xhtml));
            QWebPage bare;
            bare.setForwardUnsupportedContent(true);
            QSignalSpy unsupported(&bare, &QWebPage::unsupportedContent);
            QSignalSpy loaded(&bare, &QWebPage::loadFinished);
            bare.mainFrame()->load(QUrl::fromLocalFile(file));
            QVERIFY(ReadingFixture::waitFor([&] { return !loaded.isEmpty() || !unsupported.isEmpty(); }));
            const QString viewType
                = bare.mainFrame()->evaluateJavaScript(QStringLiteral("document.contentType")).toString();
            const bool viewXml
                = !bare.mainFrame()->evaluateJavaScript(QStringLiteral("document instanceof HTMLDocument")).toBool();
            const QByteArray served = chapterpolicy::contentType(name);
            const QByteArray about = (name + QLatin1Char(' ') + viewType + QLatin1Char(' ') + served).toUtf8();
            if (unsupported.isEmpty() && (viewXml || viewType == QLatin1String("text/html"))) {
                QVERIFY2(served == viewType.toLatin1() + "; charset=utf-8", about.constData());
                QVERIFY2(TextDocument::nameReadsAsXml(name) == viewXml, about.constData());
            } else {
                // No markup to the view: HTML, or XML where the MIME database says so.
                QVERIFY2(served.startsWith("text/html;") || served.startsWith("application/xml;"), about.constData());
            }
            QVERIFY2(TextDocument::nameReadsAsXml(name) == !served.startsWith("text/html;"), about.constData());

            // Converted and served as the reader does.
            for (const QByteArray& chapter : { html, xhtml }) {
                QByteArray stored;
                const auto result = epub::ChapterCleaner::cleanData(chapter, &stored, name);
                const QString shown = book + QLatin1Char('/') + TextDocument::shownName(name, result.kind);
                QVERIFY(testfiles::write(shown, stored));
                QWebPage page;
                makePageLocalOnly(&page, &page);
                const QUrl url = QUrl::fromLocalFile(shown);
                setPageChapter(&page, book, url);
                QSignalSpy done(&page, &QWebPage::loadFinished);
                page.mainFrame()->load(url);
                QVERIFY(ReadingFixture::waitFor([&] { return !done.isEmpty(); }));
                const QString text = page.mainFrame()
                                         ->evaluateJavaScript(
                                             QStringLiteral("document.getElementsByTagName('parsererror').length + ':'"
                                                            " + document.documentElement.textContent"))
                                         .toString();
                QVERIFY2(text == QLatin1String("0:tonetwo"), qPrintable(shown + QLatin1Char(' ') + text));
            }
        }
    }

    // A MOBI of 250,000 unclosed headings, each followed by a sentence, is more than one chapter
    // can lay out (the last 60 % lay beyond the widest layout of the web view): it is shown as
    // several. End, the last contents entry and a search for the last sentence each reach the
    // last words from the first page.
    void lastWordsOfAMobiOfManyHeadings()
    {
        QByteArray text = "<html><head></head><body>";
        text.reserve(250000 * 40);
        for (int i = 0; i < 250000; ++i)
            text += "<h1>Heading " + QByteArray::number(i) + "<p>Line " + QByteArray::number(i) + " ends.";
        text += "<p>The loom stopped at last.</p></body></html>";
        MobiWriter mobi;
        mobi.setText(text);
        const QString path = m_fixture->home().filePath(QStringLiteral("headings.mobi"));
        QVERIFY(mobi.write(path));
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, BookFormat::Mobi), false);
        QVERIFY(context);
        TextViewer* viewer = m_fixture->viewer();
        const QStringList chapters = context->textDocument()->chapters();
        QVERIFY2(chapters.size() > 1, qPrintable(chapters.join(' ')));
        // On screen, and laid out after the heading before it: beyond the widest layout, elements
        // pile up at its edge, the last ones among them.
        const auto lastWordsShown = [viewer] {
            return viewer->chapterPage()
                && viewer->page()
                       ->mainFrame()
                       ->evaluateJavaScript(
                           "(function () { var h = document.querySelectorAll('h1'); var last = h[h.length - 1];"
                           " if (!last || last.textContent !== 'Heading 249999' || h.length < 2) return false;"
                           " var r = last.getBoundingClientRect(), b = h[h.length - 2].getBoundingClientRect();"
                           " return r.right > 0 && r.left < window.innerWidth && (r.left > b.left || r.top > b.top);"
                           " })()")
                       .toBool();
        };
        const auto fromTheStart = [&] {
            viewer->moveToHome();
            return ReadingFixture::waitFor([&] {
                return viewer->chapterPage() && viewer->chapterPage()->source() == chapters.first()
                    && viewer->chapterPage()->currentPage() == 1;
            });
        };
        QVERIFY(fromTheStart());
        pressKey(keyTarget(viewer), Hotkeys::Id::Nav_ToEnd);
        QVERIFY(ReadingFixture::waitFor(lastWordsShown));
        QCOMPARE(viewer->chapterPage()->source(), chapters.last());

        QVERIFY(fromTheStart());
        const QList<TocPoint> toc = context->toc();
        QCOMPARE(toc.size(), 250000);
        QCOMPARE(toc.last().title, QStringLiteral("Heading 249999"));
        context->navigateToLink(toc.last().link);
        QVERIFY(ReadingFixture::waitFor(lastWordsShown));

        QVERIFY(fromTheStart());
        context->search(QStringLiteral("The loom stopped"));
        QVERIFY(ReadingFixture::waitFor([&] { return context->searchModel()->rowCount() > 0; }, 180000));
        QCOMPARE(context->searchModel()->rowCount(), 1);
        const SearchItem hit = context->searchModel()->items().first();
        QCOMPARE(hit.link->source.section(QLatin1Char('?'), 0, 0), chapters.last());
        context->navigateToLink(hit.link);
        QVERIFY(ReadingFixture::waitFor(lastWordsShown));
    }

    // Notes, a bookmark and the position that an earlier version stored in a MOBI shown as one
    // chapter, deep into a book now cut into several: each is found in the part that holds it
    // (an element path, an offset into an element's text, an offset into text right in the
    // body), marks and shows the same words, and the state file is rewritten once.
    void placesStoredBeforeAMobiWasCut()
    {
        QByteArray text = "<html><head><guide></guide></head><body><p>The first words.</p>";
        for (int i = 0; i < 7500; ++i) {
            const QByteArray n = QByteArray::number(i);
            text += "<h2>Heading " + n + "</h2><p>Line " + n + " says <b>bold " + n + "</b> more.</p>";
            // Text right in the body, with references and line ends the parser reads as one.
            if (i % 500 == 250)
                text += "Loose &amp; free&#8217;s\r\nwords " + n + "<br>\n";
        }
        text += "</body></html>";
        MobiWriter mobi;
        mobi.setText(text);
        const QString path = m_fixture->home().filePath(QStringLiteral("cut.mobi"));
        QVERIFY(mobi.write(path));

        // The chapter the earlier version showed: the parts joined again, each after the first
        // without the head it begins with.
        mobi::MobiDocument document(path);
        QVERIFY(document.load(bookDataDir(path)));
        const QStringList parts = document.chapters();
        QVERIFY2(parts.size() >= 4, qPrintable(parts.join(' ')));
        QByteArray whole;
        for (const QString& part : parts) {
            const QByteArray bytes = testfiles::read(document.chapterFilePath(part));
            whole += whole.isEmpty() ? bytes : bytes.mid(bytes.indexOf("</head>") + 7);
        }
        // Each place as the engine gave it there: a note across a bold word in the first part and
        // one deep in the book, a bookmark inside a paragraph, the position in loose words.
        QWebPage old;
        old.mainFrame()->setContent(whole, QStringLiteral("text/html;charset=utf-8"));
        old.mainFrame()->evaluateJavaScript(jsengine::scriptWithInit(QStringLiteral("old")));
        const auto at = [&old](const QString& words, int from, int length) {
            return old.mainFrame()
                ->evaluateJavaScript(
                    QStringLiteral("(function () { var w = kelTextWalker(kelColumns()), n; while ((n = w.nextNode()) &&"
                                   " n.data.indexOf('%1') < 0) {} var start = n.data.indexOf('%1') + %2;"
                                   " var r = document.createRange(); r.setStart(n, start);"
                                   " var end = n, e = start + %3; while (e > end.data.length) { e -= end.data.length;"
                                   " end = w.nextNode(); } r.setEnd(end, e); var k = kelRangeOf(r);"
                                   " k.text = r.toString(); return k; })()")
                        .arg(words)
                        .arg(from)
                        .arg(length))
                .toMap();
        };
        const QString name = parts.first();
        const auto noteAt = [&](const QString& words, int from, int length) {
            const QVariantMap range = at(words, from, length);
            NoteItem note;
            note.chapter = name;
            note.startPath = range.value("start").toString();
            note.startOffset = range.value("startOffset").toInt();
            note.endPath = range.value("end").toString();
            note.endOffset = range.value("endOffset").toInt();
            note.context = range.value("text").toString();
            note.color = NoteItem::Green;
            return note;
        };
        ReadingState state = ReadingStateFile::defaults(QStringLiteral("Original font"));
        state.notes = { noteAt("Line 40 says", 5, 12), noteAt("Line 6100 says", 5, 14) };
        QCOMPARE(state.notes.first().context, QStringLiteral("40 says bold"));
        QCOMPARE(state.notes.last().context, QStringLiteral("6100 says bold"));
        BookmarkItem bookmark;
        const QVariantMap marked = at("Line 4321 says", 5, 1);
        bookmark.link->source = TextBookChapter::readingLink(
            name, marked.value("start").toString() + "&offset=" + marked.value("startOffset").toString());
        bookmark.text = QStringLiteral("4321 says bold 4321 more.");
        state.bookmarks = { bookmark };
        const QVariantMap loose = at("words 5750", 0, 1);
        QCOMPARE(loose.value("start").toString(), QStringLiteral("/HTML[1]/BODY[1]/DIV[1]/DIV[1]"));
        state.readingSource = TextBookChapter::readingLink(
            name, loose.value("start").toString() + "&offset=" + loose.value("startOffset").toString());
        const QString stateFile = ReadingStateFile::filePath(bookDataDir(path));
        QVERIFY(ReadingStateFile::write(stateFile, state, BookFormat::Mobi));

        const int id = addBook(*m_fixture, path, BookFormat::Mobi);
        for (int opening = 0; opening < 2; ++opening) {
            QSharedPointer<BookContext> context = m_fixture->open(id, false);
            QVERIFY(context);
            QCOMPARE(context->textDocument()->chapters(), parts);
            TextViewer* viewer = m_fixture->viewer();
            const auto evaluate
                = [viewer](const QString& script) { return viewer->page()->mainFrame()->evaluateJavaScript(script); };
            // The words from the place pinned on screen on.
            const auto pinnedWords = [&] {
                return evaluate("page.readingPositionElement ? kelWordsFrom(page.readingPositionElement,"
                                " page.readingPositionOffset, 16) : ''")
                    .toString();
            };
            // The position stored, then the bookmark's place, where the first opening left it.
            const QString position = opening == 0 ? QStringLiteral("words 5750") : QStringLiteral("4321 says bold");
            QVERIFY2(
                ReadingFixture::waitFor([&] { return pinnedWords().startsWith(position); }), qPrintable(pinnedWords()));
            QVERIFY(viewer->chapterPage()->source() != name);

            QList<NoteItem> notes = context->notes();
            std::sort(notes.begin(), notes.end(),
                [](const NoteItem& a, const NoteItem& b) { return a.context.size() < b.context.size(); });
            QCOMPARE(notes.size(), 2);
            QCOMPARE(notes.first().chapter, name);
            QVERIFY(notes.last().chapter != name && parts.contains(notes.last().chapter));
            for (const NoteItem& note : qAsConst(notes)) {
                context->navigateToLink(note.link);
                const QString marks = QStringLiteral("notes['%1'] ? notes['%1'].r.toString() : ''").arg(note.id);
                QVERIFY2(ReadingFixture::waitFor([&] {
                    return viewer->chapterPage() && viewer->chapterPage()->source() == note.chapter
                        && evaluate(marks).toString() == note.context;
                }),
                    qPrintable(note.chapter + ' ' + note.startPath + ' ' + evaluate(marks).toString()));
            }
            const BookmarkItem moved = context->bookmarks().first();
            QVERIFY(!moved.link->source.startsWith(name + '?'));
            context->navigateToLink(moved.link);
            QVERIFY2(ReadingFixture::waitFor([&] { return pinnedWords().startsWith("4321 says bold"); }),
                qPrintable(pinnedWords()));

            // Written back once, in the parts: the second opening finds them as they are.
            context.reset();
            m_fixture->close();
            ReadingState saved;
            QVERIFY(ReadingStateFile::read(stateFile, &saved));
            QCOMPARE(saved.cutChapters, QStringList { name });
            QCOMPARE(saved.bookmarks.first().link->source, moved.link->source);
            QVERIFY(saved.notes.first().chapter != saved.notes.last().chapter);
        }
    }

    // A bookmark made on a screen inside a paragraph of 40,000 characters: the screen's page
    // and the screen's first words, not the paragraph's first page and its whole text.
    void bookmarkInsideALongParagraph()
    {
        EpubBuilder epub;
        ChapterBuilder chapter(300);
        chapter.addHeading(1, QStringLiteral("One paragraph"));
        QString words;
        while (words.size() < 40000)
            words += chapter.sentence(20, 40) + QLatin1Char(' ');
        chapter.addParagraph(words);
        epub.addChapter(QStringLiteral("c1"), QStringLiteral("long.xhtml"), QStringLiteral("Long"), chapter.bodyHtml());
        const QString path = m_fixture->home().filePath(QStringLiteral("paragraph.epub"));
        QVERIFY(epub.write(path));
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, 0));
        QVERIFY(context);
        QTRY_VERIFY(context->pageCount() > 10);
        context->navigateToPage(7);
        QTRY_VERIFY(context->currentPage() == 7 || context->currentPage() == 6);
        const int screen = context->currentPage();
        context->addBookmark();
        QCOMPARE(context->bookmarks().size(), 1);
        const BookmarkItem bookmark = context->bookmarks().first();
        QVERIFY2(bookmark.text.size() <= 200 && bookmark.text.size() > 100, qPrintable(bookmark.text));
        QVERIFY(words.simplified().contains(bookmark.text));
        QVERIFY(!words.simplified().startsWith(bookmark.text.left(40)));
        QTRY_COMPARE(context->bookmarks().first().link->page, screen);
    }

    // An image inside an FB2 paragraph, whose binary id names no format, is shown; a click on the
    // words of a note's mark shows the note, far down the notes' page.
    void inlineFb2Image()
    {
        Fb2Builder fb2;
        fb2.addBody(Fb2Builder::section(Fb2Builder::p(QStringLiteral("Before the picture."))
                + QStringLiteral("<p>Text <image l:href=\"#img_3\"/> around it.</p>")
                + QStringLiteral("<p>Alpha <a l:href=\"#n30\" type=\"note\">word</a> after.</p>")
                + Fb2Builder::p(QStringLiteral("After it.")),
            QStringLiteral("Pictures")));
        QString notes;
        for (int i = 1; i <= 30; ++i)
            notes += Fb2Builder::section(Fb2Builder::p(ChapterBuilder(quint32(i)).sentence(60, 80)).repeated(3),
                QString::number(i), QStringLiteral("n%1").arg(i));
        fb2.addBody(notes, QStringLiteral("notes"));
        fb2.addBinary(QStringLiteral("img_3"), EpubBuilder::png(40, 30));
        const QString path = m_fixture->home().filePath(QStringLiteral("inline.fb2"));
        QVERIFY(fb2.write(path));
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, 2));
        QVERIFY(context);
        // The section's page follows the body's.
        TextViewer* viewer = m_fixture->viewer();
        const QStringList chapters = context->textDocument()->chapters();
        QCOMPARE(chapters.size(), 3);
        const QString section = chapters.at(1);
        viewer->goLink(section, false);
        QTRY_COMPARE(viewer->chapterPage()->source(), section);
        QTRY_VERIFY(viewer->isVisible());
        QWebFrame* frame = viewer->chapterPage()->mainFrame();
        QTRY_COMPARE(frame->evaluateJavaScript(QStringLiteral("document.images.length")).toInt(), 1);
        QTRY_COMPARE(frame->evaluateJavaScript(QStringLiteral("document.images[0].naturalWidth")).toInt(), 40);

        QCOMPARE(
            frame->evaluateJavaScript(QStringLiteral("document.querySelector('a').parentNode.textContent")).toString(),
            QStringLiteral("Alpha word after."));
        const QVariantMap box
            = frame
                  ->evaluateJavaScript(QStringLiteral("(function() { var r = document.querySelector('a')"
                                                      ".getBoundingClientRect(); return { x: r.left + r.width / 2,"
                                                      " y: r.top + r.height / 2 }; })()"))
                  .toMap();
        const QPoint word(box.value("x").toInt(), box.value("y").toInt());
        QVERIFY(viewer->rect().contains(word));
        QTest::mouseMove(viewer, word);
        QTest::mouseClick(viewer, Qt::LeftButton, {}, word);
        QTRY_COMPARE(viewer->chapterPage()->source(), chapters.at(2));
        QTRY_VERIFY(viewer->isVisible() && viewer->chapterPage()->currentPage() > 2);
    }

    // Each offered family is drawn with an installed face of its kind (metric-compatible where
    // one is installed) on every text format, over the book's own font rules too; the page
    // counter lays out with the same face.
    void fontChoiceReachesThePage_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("epub with its own fonts") << int(BookFormat::Epub);
        QTest::newRow("mobi") << int(BookFormat::Mobi);
        QTest::newRow("fb2") << int(BookFormat::Fb2);
        QTest::newRow("txt") << int(BookFormat::Txt);
    }
    void fontChoiceReachesThePage()
    {
        QFETCH(int, format);
        const QString path
            = m_fixture->home().filePath(QStringLiteral("prose.") + bookFormatMap.value(format).toLower());
        QVERIFY(writeProseBook(path, format));
        auto infos = std::make_unique<MessageCatcher>(QtInfoMsg);
        const QSharedPointer<BookContext> context = m_fixture->open(addBook(*m_fixture, path, format));
        QVERIFY(context);
        // The prose: an FB2 shows its title page first.
        TextViewer* viewer = m_fixture->viewer();
        const QString prose = context->textDocument()->chapters().last();
        viewer->goLink(prose, false);
        QTRY_VERIFY(viewer->isVisible() && viewer->chapterPage()->source() == prose);
        // An ordinary book has nothing that could run: the guard's log says nothing of it.
        QCOMPARE(infos->count(QStringLiteral("could run the book's code")), 0);
        infos.reset();
        BookPageParams* params = context->pageParams();
        TextBookChapter* page = viewer->chapterPage();
        QSignalSpy laidOut(page, &TextBookChapter::pageFormattingChanged);
        const auto choose = [&](const QString& family) {
            laidOut.clear();
            params->setFontFamily(family);
            return laidOut.wait(10000);
        };
        // The faces of the packages the project installs.
        const QList<QPair<QString, QString>> faces { { "Times New Roman", "Liberation Serif" },
            { "Arial", "Liberation Sans" }, { "Courier New", "Liberation Mono" }, { "Courier", "Liberation Mono" },
            { "Georgia", "DejaVu Serif" }, { "Tahoma", "DejaVu Sans" }, { "Verdana", "DejaVu Sans" },
            { "Segoe UI", "DejaVu Sans" } };
        QStringList offered;
        for (const auto& face : faces) {
            offered << face.first;
            QVERIFY(choose(face.first));
            const QVariantList advances = glyphAdvances(page->mainFrame());
            QCOMPARE(advances.size(), 3);
            QVERIFY2(advances == glyphAdvances(page->mainFrame(), face.second),
                qPrintable(face.first + QLatin1String(" not drawn with ") + face.second));
            const bool monospace = face.second.endsWith(QLatin1String("Mono"));
            QCOMPARE(advances.at(0).toDouble() == advances.at(1).toDouble(), monospace);
        }
        QCOMPARE(readingfont::offeredFamilies(), offered);

        // Wider glyphs make more pages, counted for the face on screen: End reaches the total.
        const auto total = [&](const QString& family) {
            choose(family);
            if (!ReadingFixture::waitFor([&] { return context->pageCount() > 0; }, 20000))
                return -1;
            // Two pages a screen: the last screen begins on the last page or the one before it.
            const auto atEnd = [&] { return qAbs(context->pageCount() - context->currentPage() - 0.5) == 0.5; };
            viewer->moveToEnd();
            ReadingFixture::waitFor(atEnd, 10000);
            return atEnd() ? context->pageCount() : -1;
        };
        const int sans = total(QStringLiteral("Arial"));
        const int monospace = total(QStringLiteral("Courier New"));
        QVERIFY2(sans > 0 && monospace > sans, qPrintable(QStringLiteral("%1 %2").arg(sans).arg(monospace)));
        params->setFontFamily(QStringLiteral("Original font"));
    }
};

QTEST_MAIN(TestTextViewer)
#include "tst_textviewer.moc"
