// Every text book format opened through the reading core's calls, contents cache included, and
// crafted books that once made opening hang or take gigabytes.

#include "epubbuilder.h"
#include "fb2builder.h"
#include "mobiwriter.h"
#include "sevenzwriter.h"
#include "temphome.h"
#include "testfiles.h"
#include "zipwriter.h"

#include "appdirs.h"
#include "formats/epub/xmlguard.h"
#include "formats/mobi/mobi.h"
#include "formats/mobi/mobidocument.h"
#include "formats/textdocument.h"
#include "formats/textdocumentfactory.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <QTextCodec>

#include <memory>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(QList<ZipEntry>)

namespace {

const QString kChapterTwo = QStringLiteral("The keeper climbed the ninety-nine steps & lit the lamp.");

QStringList paragraphs(int chapter)
{
    QStringList lines;
    for (int i = 1; i <= 12; ++i)
        lines << QStringLiteral("Chapter %1, paragraph %2: the sea rolled on under a grey sky.").arg(chapter).arg(i);
    if (chapter == 2)
        lines.insert(3, kChapterTwo);
    return lines;
}

QString epubBody(int chapter)
{
    QString html = QStringLiteral("<h2>Chapter %1</h2>").arg(chapter);
    for (const QString& line : paragraphs(chapter))
        html += QStringLiteral("<p>%1</p>").arg(line.toHtmlEscaped());
    return html;
}

QString fb2Chapter(int chapter)
{
    QString xml;
    for (const QString& line : paragraphs(chapter))
        xml += Fb2Builder::p(line);
    return Fb2Builder::section(xml, QStringLiteral("Chapter %1").arg(chapter));
}

Fb2Builder lighthouseFb2()
{
    Fb2Builder builder;
    builder.setBookTitle(QStringLiteral("The Lighthouse"));
    builder.addAuthor({ "Ada", "", "Keeper", "", "" });
    builder.setCoverImages({ QStringLiteral("cover.jpg") });
    builder.addBody(Fb2Builder::title({ "The Lighthouse" }) + Fb2Builder::epigraph(Fb2Builder::p("Light the way."))
        + Fb2Builder::section(Fb2Builder::p("Before the storm.") + fb2Chapter(1) + fb2Chapter(2), "Part One")
        + Fb2Builder::section(fb2Chapter(3), "Part Two"));
    builder.addBody(Fb2Builder::title({ "Notes" })
            + Fb2Builder::section(Fb2Builder::p("A lamp of the old kind."), QStringLiteral("1"))
            + Fb2Builder::section(Fb2Builder::p("Ninety-nine, counted."), QStringLiteral("2")),
        QStringLiteral("notes"));
    builder.addBinary(QStringLiteral("cover.jpg"), MobiWriter::image(QSize(60, 90), Qt::darkBlue, "JPG"), "image/jpeg");
    return builder;
}

const QStringList kFb2Contents = { "The Lighthouse", "  Part One", "    Chapter 1", "    Chapter 2", "  Part Two",
    "    Chapter 3", "Notes", "  1", "  2" };

void flatten(const QList<TocPoint>& points, QStringList& titles, QList<TocPoint>& order, int depth = 0)
{
    for (const TocPoint& point : points) {
        titles << QString(depth * 2, QLatin1Char(' ')) + point.title;
        order << point;
        flatten(point.children, titles, order, depth + 1);
    }
}

// Image entries alternately point at a 2 MB record and at the last one (claiming all between).
QByteArray mobiWithBackwardOffsets()
{
    MobiWriter writer;
    writer.setText("<p>text</p>");
    return writer.buildWithRepeatedRecords();
}

QString crowdedElement(int attributes)
{
    QString xml = QStringLiteral("<p");
    for (int i = 0; i < attributes; ++i)
        xml += QStringLiteral(" a%1=\"\"").arg(i);
    return xml + QStringLiteral("/>");
}

QByteArray mobiBook(const QByteArray& identifier = "MOBI")
{
    MobiWriter writer;
    writer.setText("<html><body><h1>Start</h1><p>Words.</p></body></html>");
    writer.setIdentifier(identifier);
    return writer.build();
}

} // namespace

class TestBookFormatsE2e : public QObject {
    Q_OBJECT

private:
    TempHome m_home;

    QString bookPath(const QString& name) const { return m_home.filePath(QStringLiteral("Books/") + name); }
    QString write(const QString& name, const QByteArray& bytes)
    {
        return testfiles::write(m_home.filePath(name), bytes) ? m_home.filePath(name) : QString();
    }
    // The bytes of one nameless entry, or a 7z or ZIP archive of the entries.
    QString writeBook(const QString& name, const QList<ZipEntry>& entries)
    {
        const QString path = m_home.filePath(name);
        if (entries.first().name.isEmpty())
            return write(name, entries.first().data);
        if (name.endsWith(QLatin1String(".7z"))) {
            SevenZWriter writer(path);
            for (const ZipEntry& entry : entries)
                writer.add(entry.name, entry.data);
            return writer.write() ? path : QString();
        }
        return ZipWriter::write(path, entries) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(QDir().mkpath(bookPath(QString())));
    }
    // Which document the factory makes for a book file, and whether it loads.
    void choices_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<ZipEntry>>("entries");
        QTest::addColumn<QString>("className");
        QTest::addColumn<bool>("loads");

        EpubBuilder builder;
        builder.addChapter("c1", "c1.xhtml", "One", "<p>x</p>");
        QVERIFY(builder.write(m_home.filePath("b.epub")));
        const QByteArray epub = testfiles::read(m_home.filePath("b.epub"));
        const QString text = QStringLiteral("TextDocument");
        const QString fb = QStringLiteral("fb2::FbDocument");
        const QString mobi = QStringLiteral("mobi::MobiDocument");
        const QString epubDoc = QStringLiteral("epub::EpubDocument");
        const QByteArray fb2 = lighthouseFb2().bytes();
        using Entries = QList<ZipEntry>;

        // Each format opening as it should: textBooks.
        QTest::newRow("prc that holds no MOBI book")
            << "f2.prc" << Entries { { "", mobiBook("TEXT") } } << mobi << false;
        QTest::newRow("no suffix") << "h" << Entries { { "", fb2 } } << text << false;
        QTest::newRow("zip of one FB2") << "i.ZIP" << Entries { { "Book.FB2", fb2 } } << fb << true;
        QTest::newRow("zip of one text") << "j.zip" << Entries { { "dir/story.txt", "line" } } << fb << true;
        // The EPUB reader is given the ZIP around the book, which it refuses (adding reports it unreadable).
        QTest::newRow("zip of one EPUB") << "k.zip" << Entries { { "b.epub", epub } } << epubDoc << false;
        QTest::newRow("zip of two books") << "l.zip" << Entries { { "a.fb2", fb2 }, { "b.fb2", fb2 } } << text << false;
        // Only FB2 and text are read from 7z: no document claims the others.
        QTest::newRow("7z of a MOBI") << "p.7z" << Entries { { "book.mobi", mobiBook() } } << text << false;
        QTest::newRow("7z without a book") << "r.7z" << Entries { { "readme.doc", "x" } } << text << false;
        QTest::newRow("not a 7z") << "broken.7z" << Entries { { "", "not an archive" } } << text << false;
    }

    void choices()
    {
        QFETCH(QString, file);
        QFETCH(QList<ZipEntry>, entries);
        QFETCH(QString, className);
        QFETCH(bool, loads);
        const QString path = writeBook(file, entries);
        QVERIFY(!path.isEmpty());
        const std::unique_ptr<TextDocument> document(createTextDocument(path));
        QCOMPARE(QString::fromLatin1(document->metaObject()->className()), className);
        QCOMPARE(document->load(m_home.filePath(QStringLiteral("out/") + file)), loads);
        if (!loads) {
            QVERIFY(document->chapters().isEmpty());
            QCOMPARE(document->tocToJson().toArray().size(), 0);
        }
    }

    void textBooks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<int>("chapterCount");
        QTest::addColumn<QStringList>("contents");
        QTest::addColumn<QString>("knownTitle");
        QTest::addColumn<QString>("knownText");

        EpubBuilder epub;
        epub.setTitle(QStringLiteral("The Lighthouse"));
        epub.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(60, 90));
        for (int i = 1; i <= 4; ++i)
            epub.addChapter(QStringLiteral("c%1").arg(i), QStringLiteral("text/chapter%1.xhtml").arg(i),
                QStringLiteral("Chapter %1").arg(i), epubBody(i));
        epub.setNavPoints(
            { { "Part One", "text/chapter1.xhtml",
                  { { "Chapter 1", "text/chapter1.xhtml", {} }, { "Chapter 2", "text/chapter2.xhtml", {} } } },
                { "Part Two", "text/chapter3.xhtml",
                    { { "Chapter 3", "text/chapter3.xhtml", {} }, { "Chapter 4", "text/chapter4.xhtml#end", {} } } } });
        const QString epubPath = bookPath("lighthouse.epub");
        QVERIFY(epub.write(epubPath));
        QTest::newRow("epub") << epubPath << QString() << 4
                              << QStringList { "Part One", "  Chapter 1", "  Chapter 2", "Part Two", "  Chapter 3",
                                     "  Chapter 4" }
                              << "Chapter 2" << kChapterTwo.toHtmlEscaped();

        const Fb2Builder fb2 = lighthouseFb2();
        const QString fb2Path = bookPath("lighthouse.fb2");
        QVERIFY(fb2.write(fb2Path));
        QTest::newRow("fb2") << fb2Path << QString() << 5 << kFb2Contents << "Chapter 2" << kChapterTwo.toHtmlEscaped();
        const QString zipPath = bookPath("lighthouse.fb2.zip");
        QVERIFY(fb2.writeZip(zipPath, QStringLiteral("lighthouse.fb2")));
        QTest::newRow("zip") << zipPath << QString() << 5 << kFb2Contents << "Chapter 2" << kChapterTwo.toHtmlEscaped();
        const QString sevenZipPath
            = writeBook("Books/lighthouse.7z", { { "readme.doc", "x" }, { "Lighthouse/Lighthouse.FB2", fb2.bytes() } });
        QVERIFY(!sevenZipPath.isEmpty());
        QTest::newRow("7z") << sevenZipPath << QString() << 5 << kFb2Contents << "Chapter 2"
                            << kChapterTwo.toHtmlEscaped();

        // An FB2 book in the code page it declares, converted from a document whose headings link
        // back to its own contents: the headings' words are the contents' names; its body without a
        // heading is named after the book.
        Fb2Builder russian;
        russian.setEncoding(QStringLiteral("windows-1251"));
        russian.setBookTitle(QStringLiteral("Маяк"));
        russian.addBody(QStringLiteral("<section><title><p><a l:href=\"#toc\">Часть первая</a></p></title>"
                                       "<p id=\"toc\">Содержание</p><section id=\"g1\"><title><p>Глава "
                                       "<a l:href=\"#toc\">первая</a></p></title><p>Смотритель поднялся по "
                                       "ступеням.</p></section></section>"));
        const QString russianPath = bookPath("mayak.fb2");
        QVERIFY(russian.write(russianPath));
        QTest::newRow("fb2 in cp1251") << russianPath << QString() << 2
                                       << QStringList { "Маяк", "  Часть первая", "    Глава первая" } << "Глава первая"
                                       << "<p>Смотритель поднялся по ступеням.</p>";

        // A text book in the encoding the user chose for it.
        const QString text = QStringLiteral("Маяк\nСмотритель поднялся по ступеням.\nИ зажёг огонь.\n");
        const QString txtPath = bookPath("mayak.txt");
        QVERIFY(testfiles::write(txtPath, QTextCodec::codecForName("windows-1251")->fromUnicode(text)));
        // Its one contents entry is named after the book, which for a text is its file's name.
        QTest::newRow("txt") << txtPath << "windows-1251" << 1 << QStringList { "mayak" } << "mayak"
                             << "<p>Смотритель поднялся по ступеням.</p>";
        // Packed, it is the same one page and one entry: named after its first line (its title in
        // a ZIP archive), or after the unpacked file's name.
        const QByteArray cp1251 = QTextCodec::codecForName("windows-1251")->fromUnicode(text);
        const QString txtZipPath = writeBook("Books/mayak.zip", { { "mayak.txt", cp1251 } });
        QVERIFY(!txtZipPath.isEmpty());
        QTest::newRow("txt in zip") << txtZipPath << "windows-1251" << 1 << QStringList { "Маяк" } << "Маяк"
                                    << "<p>Смотритель поднялся по ступеням.</p>";
        const QString txtSevenZipPath = writeBook("Books/mayak.7z", { { "Mayak/mayak.TXT", cp1251 } });
        QVERIFY(!txtSevenZipPath.isEmpty());
        QTest::newRow("txt in 7z") << txtSevenZipPath << "windows-1251" << 1 << QStringList { "mayak" } << "mayak"
                                   << "<p>Смотритель поднялся по ступеням.</p>";

        // UTF-16 without a mark, either byte order, alone or packed: read as UTF-16 when no
        // encoding was chosen.
        const QByteArray le = testfiles::encoded("UTF-16LE", text);
        const QByteArray be = testfiles::encoded("UTF-16BE", text);
        QTest::newRow("utf-16le txt without mark")
            << writeBook("Books/wide.txt", { { "", le } }) << QString() << 1 << QStringList { "wide" } << "wide"
            << "<p>Смотритель поднялся по ступеням.</p>";
        QTest::newRow("utf-16be txt without mark in zip")
            << writeBook("Books/wide.zip", { { "wide.txt", be } }) << QString() << 1 << QStringList { "Маяк" } << "Маяк"
            << "<p>Смотритель поднялся по ступеням.</p>";
        QTest::newRow("utf-16le txt without mark in 7z")
            << writeBook("Books/wide.7z", { { "wide.txt", le } }) << QString() << 1 << QStringList { "wide" } << "wide"
            << "<p>Смотритель поднялся по ступеням.</p>";

        MobiWriter mobi;
        QByteArray html = "<html><head><guide></guide></head><body><h1>The Lighthouse</h1>";
        for (int i = 1; i <= 3; ++i)
            html += "<mbp:pagebreak/>" + epubBody(i).toUtf8();
        html += "</body></html>";
        mobi.setText(html);
        mobi.setFullName("The Lighthouse");
        QVERIFY(mobi.write(bookPath("lighthouse.mobi")));
        QTest::newRow("mobi") << bookPath("lighthouse.mobi") << QString() << 1
                              << QStringList { "The Lighthouse", "Chapter 1", "Chapter 2", "Chapter 3" } << "Chapter 2"
                              << kChapterTwo.toHtmlEscaped();
    }

    void textBooks()
    {
        QFETCH(QString, path);
        QFETCH(QString, encoding);
        QFETCH(int, chapterCount);
        QFETCH(QStringList, contents);
        QFETCH(QString, knownTitle);
        QFETCH(QString, knownText);

        // The reading core's steps, twice, as each time the user comes back to the book.
        for (int round = 0; round < 2; ++round) {
            const std::unique_ptr<TextDocument> opened(createTextDocument(path));
            TextDocument& document = *opened;
            if (!encoding.isEmpty())
                document.setEncoding(encoding);
            const QString dataDir = bookDataDir(path);
            QVERIFY(document.load(dataDir));
            const QString tocFile = dataDir + QLatin1Char('/') + QFileInfo(dataDir).fileName() + QStringLiteral(".toc");
            QVERIFY(testfiles::write(tocFile, QJsonDocument(document.tocToJson().toArray()).toJson()));
            TocTree tree;
            tree.load(tocFile, document.basePath());
            QCOMPARE(document.chapters().size(), chapterCount);
            QCOMPARE(document.chapterPageInfos().first.size(), chapterCount);
            for (const QString& chapter : document.chapters())
                QVERIFY2(QFileInfo(document.chapterFilePath(chapter)).isFile(), qPrintable(chapter));

            QStringList titles;
            QList<TocPoint> order;
            flatten(tree.points, titles, order);
            QCOMPARE(titles, contents);
            const TocPoint* known = nullptr;
            for (int i = 0; i < order.size(); ++i) {
                QCOMPARE(order[i].index, i);
                // Every contents entry leads into a chapter of the book (or nowhere).
                const QString file = order[i].link->source.section(QLatin1Char('#'), 0, 0);
                QVERIFY2(file.isEmpty() || document.hasChapter(file), qPrintable(order[i].link->source));
                if (!known && order[i].title == knownTitle && !file.isEmpty())
                    known = &order[i];
            }
            QVERIFY(known);
            const QString chapter
                = QString::fromUtf8(testfiles::read(document.chapterFilePath(known->link->source.section('#', 0, 0))));
            QVERIFY2(chapter.contains(knownText), qPrintable(chapter.left(300)));
        }
    }

    // Title pages as converters write them, with an author whose address is in angle brackets,
    // in the book's metadata and on its first page: every chapter shown holds the author escaped
    // once (the XML writer leaves ">" bare), never "&amp;lt;"; contents titles are plain text.
    void authorWithAngleBrackets_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("firstTitle");
        const QString author = QStringLiteral("Project <list@example.org>");
        const QString once = author.toHtmlEscaped();

        EpubBuilder epub;
        epub.setTitle(author);
        epub.setAuthor(author);
        epub.addMetadata(QStringLiteral("dc:publisher"), author);
        epub.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(60, 90));
        epub.addChapter(
            "title", "titlepage.xhtml", author, "<h1>" + once + "</h1><p class=\"author\">" + once + "</p>");
        // Something unsafe sends the page through the cleaner's XML writer.
        epub.addItem("about", "about.xhtml",
            EpubBuilder::xhtml(author, "<p title=\"" + once + "\">" + once + "</p><script>go()</script>"));
        QVERIFY(epub.write(bookPath("angle.epub")));
        QTest::newRow("epub") << bookPath("angle.epub") << author;

        Fb2Builder fb2;
        fb2.setBookTitle(author);
        fb2.addAuthor({ "Project", "", "", author, "list@example.org" });
        fb2.setAnnotationXml(Fb2Builder::p(author));
        fb2.addBody(Fb2Builder::title({ author }) + Fb2Builder::epigraph(Fb2Builder::p(author))
            + Fb2Builder::section(Fb2Builder::p(author), author));
        QVERIFY(fb2.write(bookPath("angle.fb2")));
        QTest::newRow("fb2") << bookPath("angle.fb2") << author;

        MobiWriter mobi;
        mobi.setFullName(author.toUtf8());
        mobi.setAuthor(author);
        mobi.setText(("<html><body><h1>" + once + "</h1><p>" + once + "</p><mbp:pagebreak/><p>Text.</p></body></html>")
                         .toUtf8());
        QVERIFY(mobi.write(bookPath("angle.mobi")));
        QTest::newRow("mobi") << bookPath("angle.mobi") << author;

        QVERIFY(testfiles::write(bookPath("angle.txt"), (author + "\n" + author + "\n").toUtf8()));
        QTest::newRow("txt") << bookPath("angle.txt") << "angle";
    }

    void authorWithAngleBrackets()
    {
        QFETCH(QString, path);
        QFETCH(QString, firstTitle);
        const std::unique_ptr<TextDocument> document(createTextDocument(path));
        QVERIFY(document->load(bookDataDir(path)));
        const QRegularExpression escapedOnce(QStringLiteral("Project &lt;list@example\\.org(&gt;|>)"));
        int pages = 0;
        for (const QString& chapter : document->chapters()) {
            const QString html = QString::fromUtf8(testfiles::read(document->chapterFilePath(chapter)));
            QVERIFY2(!html.contains(QLatin1String("&amp;")), qPrintable(html));
            QVERIFY2(!html.contains(QLatin1String("<list@")), qPrintable(html));
            pages += html.contains(escapedOnce) ? 1 : 0;
        }
        QVERIFY(pages >= 1);
        QCOMPARE(document->toc().value(0).title, firstTitle);
    }

    // Crafted books that once took minutes to open: each opens, or is refused, with work that
    // grows with its size alone (the times are in bench_mobi and bench_epub).
    void openQuickly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("entries"); // of the contents
        // Qt's XML readers take time quadratic in an element's attributes: the chapter stored
        // without the attributes beyond the guard's bound, or "book" for a book it refuses.
        QTest::addColumn<QString>("crowded");
        MobiWriter headings;
        headings.setText(QByteArray("<h1>x").repeated(150000) + "<p>text</p>");
        // Only the five headings with text are contents entries.
        QByteArray empty;
        for (int i = 0; i < 250000; ++i)
            empty += i % 50000 ? QByteArray("<h1>") : "<h1>Part " + QByteArray::number(i / 50000 + 1) + "<p>Text.</p>";
        MobiWriter emptyHeadings;
        emptyHeadings.setText(empty);
        EpubBuilder epub;
        epub.addChapter("c1", "c1.xhtml", "One", "<p>one</p>");
        epub.addChapter("c2", "c2.xhtml", "Two", crowdedElement(200000));
        QVERIFY(epub.write(m_home.filePath("crowded.epub")));
        Fb2Builder fb2;
        fb2.addBody(Fb2Builder::section(crowdedElement(200000)));

        QTest::newRow("mobi: record offsets going back")
            << write("records.mobi", mobiWithBackwardOffsets()) << true << 0 << QString();
        QTest::newRow("mobi: unclosed headings")
            << write("headings.mobi", headings.build()) << true << 150000 << QString();
        QTest::newRow("mobi: 250,000 unclosed empty headings")
            << write("empty-headings.mobi", emptyHeadings.build()) << true << 5 << QString();
        QTest::newRow("epub: 200,000 attributes") << m_home.filePath("crowded.epub") << true << 2 << "c2.xhtml";
        QTest::newRow("fb2: 200,000 attributes") << write("crowded.fb2", fb2.bytes()) << false << 0 << "book";
    }

    // Each document also makes the output folder it is given (here and in choices).
    void openQuickly()
    {
        QFETCH(QString, path);
        QFETCH(bool, opens);
        QFETCH(int, entries);
        QFETCH(QString, crowded);
        if (crowded == QLatin1String("book"))
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QRegularExpression::escape(epub::XmlGuard::crowdedElementMessage())));
        const std::unique_ptr<TextDocument> document(createTextDocument(path));
        QCOMPARE(document->load(path + ".out"), opens);
        QCOMPARE(document->toc().size(), entries);
        if (!crowded.isEmpty() && crowded != QLatin1String("book")) {
            const int attributes = testfiles::read(document->chapterFilePath(crowded)).count("=\"\"");
            QVERIFY2(attributes <= 10000, qPrintable(QString::number(attributes)));
        }
        // Records are read within the file, however their offsets go.
        mobi::Mobi book(path);
        qint64 total = 0;
        for (int i = 0; i < book.recordCount(); ++i)
            total += book.recordLength(i);
        QVERIFY(total <= book.fileSize());
        // Three heading passes, each reading at most four characters per character it is given;
        // the closing tags the first adds at most double the text.
        if (const auto* converted = qobject_cast<const mobi::MobiDocument*>(document.get())) {
            bool read = false;
            const qint64 text = book.textBytes(&read).size();
            QVERIFY(read && text > 0);
            QVERIFY2(converted->headingCharactersRead() > 0 && converted->headingCharactersRead() <= 3 * 4 * 2 * text,
                qPrintable(
                    QStringLiteral("%1 characters read for %2").arg(converted->headingCharactersRead()).arg(text)));
        }
    }

    // A 40 MB chapter of links to clean: converted in a child that may map 500 MB more.
    void bigChapterWithinMemory()
    {
        EpubBuilder epub;
        epub.addChapter("c1", "c1.xhtml", "One", "<p>one</p>");
        epub.addChapter("c2", "c2.xhtml", "Two", QStringLiteral("<a href=\"javascript:go()\">x</a>").repeated(1300000));
        const QString path = m_home.filePath("links.epub");
        QVERIFY(epub.write(path));
        const pid_t child = fork();
        if (child == 0) {
            QFile statm("/proc/self/statm");
            statm.open(QIODevice::ReadOnly);
            const rlim_t limit
                = statm.readAll().split(' ').value(0).toULongLong() * sysconf(_SC_PAGESIZE) + (500 << 20);
            const rlimit bound { limit, limit };
            setrlimit(RLIMIT_AS, &bound);
            const std::unique_ptr<TextDocument> document(createTextDocument(path));
            // The first chapter is shown, the one too large to clean is a page that says so.
            _exit(document->load(path + ".out") && document->chapters() == QStringList({ "c1.xhtml", "c2.xhtml" })
                        && document->chapterKind("c2.xhtml") == TextDocument::KindLeftOut
                    ? 0
                    : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the conversion failed or ran out of memory");
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    TestBookFormatsE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bookformats_e2e.moc"
