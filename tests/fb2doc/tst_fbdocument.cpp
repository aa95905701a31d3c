#include "epubbuilder.h"
#include "fb2builder.h"
#include "formats/fb2/fbdocument.h"
#include "temphome.h"
#include "testfiles.h"
#include "zipwriter.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using fb2::FbDocument;

namespace {

const QString kBodyHead
    = QStringLiteral("<html><head><meta http-equiv='Content-Type' content='text/html; charset=utf-8'/></head>");
const QString kSectionHead = QStringLiteral("<html><head><meta http-equiv='Content-Type' content='text/html; "
                                            "charset = utf-8'/></head><body class='section'>");
const QString kEnd = QStringLiteral("</body></html>");

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                          : QStringLiteral("<missing %1>").arg(path);
}

QStringList htmlFiles(const QString& folder)
{
    return QDir(folder).entryList({ QStringLiteral("*.html") }, QDir::Files, QDir::Name);
}

// "title -> source" lines of the contents in pre-order, indented by depth.
void flatten(const QList<TocPoint>& points, QStringList& out, int depth = 0)
{
    for (const TocPoint& point : points) {
        out << QString(depth * 2, QLatin1Char(' ')) + point.title + QStringLiteral(" -> ") + point.link->source;
        flatten(point.children, out, depth + 1);
    }
}

QStringList contents(const FbDocument& document)
{
    QStringList out;
    flatten(document.toc(), out);
    return out;
}

QString section(const QString& title, const QString& inner) { return Fb2Builder::section(inner, title); }

} // namespace

class TestFbDocument : public QObject {
    Q_OBJECT

private:
    TempHome m_home;
    QTemporaryDir m_dir;
    int m_count = 0;

    // A fresh output folder whose last component is name.
    QString folder(const QString& name)
    {
        const QString path = m_dir.filePath(QStringLiteral("out%1/%2").arg(++m_count).arg(name));
        QDir().mkpath(path);
        return path;
    }

    QString writeBook(const Fb2Builder& builder, const QString& fileName = QStringLiteral("book.fb2"))
    {
        const QString path = m_dir.filePath(QStringLiteral("b%1-%2").arg(++m_count).arg(fileName));
        if (!builder.write(path))
            return QString();
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_home.isValid() && m_dir.isValid()); }

    void bodyAndSectionPages()
    {
        Fb2Builder builder;
        builder.addBody(Fb2Builder::title({ "T" }) + section("One", Fb2Builder::p("first"))
            + section("Two", Fb2Builder::p("second")));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("7"));
        QVERIFY(document.load(out));

        QCOMPARE(document.chapters(), QStringList({ "7_1.html", "7_2.html", "7_3.html" }));
        QCOMPARE(document.basePath(), out);
        QCOMPARE(htmlFiles(out), QStringList({ "7_1.html", "7_2.html", "7_3.html" }));
        fb2::FbBook book = document.book();
        QCOMPARE(readText(out + "/7_1.html"),
            kBodyHead + QStringLiteral("<body><h2 id='%1'><p>T</p></h2>").arg(book.bodies[0].anchor()) + kEnd);
        QCOMPARE(readText(out + "/7_2.html"), kSectionHead + book.bodies[0].sections[0].toHtml(false) + kEnd);
        QVERIFY(readText(out + "/7_3.html").contains("<p>second</p>"));
        QCOMPARE(book.bodies[0].fileName, QStringLiteral("7_1.html"));
        QCOMPARE(book.bodies[0].sections[1].fileName, QStringLiteral("7_3.html"));

        QCOMPARE(contents(document), QStringList({ "T -> 7_1.html", "  One -> 7_2.html", "  Two -> 7_3.html" }));

        // A second load into the same folder gives the same chapters and contents, not more.
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters().size(), 3);
        QCOMPARE(contents(document).size(), 3);
    }

    void oldChapterFilesAreReplaced()
    {
        const QString out = folder(QStringLiteral("book"));
        QDir().mkpath(out + "/sub");
        for (const char* name : { "old_9.html", "UPPER.HTML", ".hidden.html", "cut_3.html.part", "cover.png", "pic.jpg",
                 "notes.txt", "sub/kept.html" })
            QVERIFY(testfiles::write(out + "/" + name, "x"));
        Fb2Builder builder;
        builder.addBody(section("One", Fb2Builder::p("text")));
        FbDocument document(writeBook(builder));
        QVERIFY(document.load(out));
        QCOMPARE(htmlFiles(out), QStringList({ "book_1.html", "book_2.html" }));
        QVERIFY(!QFileInfo::exists(out + "/UPPER.HTML"));
        QVERIFY(!QFileInfo::exists(out + "/.hidden.html"));
        QVERIFY(!QFileInfo::exists(out + "/cut_3.html.part"));
        for (const char* kept : { "cover.png", "pic.jpg", "notes.txt", "sub/kept.html" })
            QVERIFY2(QFileInfo::exists(out + "/" + kept), kept);
    }

    void bodyPages_data()
    {
        QTest::addColumn<bool>("cover");
        QTest::addColumn<QStringList>("bodies");
        QTest::addColumn<QStringList>("pages");

        QTest::newRow("empty body, no cover") << false << QStringList { "" } << QStringList { "<body></body></html>" };
        QTest::newRow("first body shows the library cover")
            << true << QStringList { "", "" }
            << QStringList { "<body><img src='cover.png'/></body></html>", "<body></body></html>" };
        QTest::newRow("a body image wins over the cover")
            << true << QStringList { Fb2Builder::image("it's.png") }
            << QStringList { "<body><img src='it&#39;s.png'/></body></html>" };
        QTest::newRow("epigraphs") << false
                                   << QStringList { Fb2Builder::epigraph(Fb2Builder::p("wise"))
                                          + Fb2Builder::epigraph(Fb2Builder::p("words")) }
                                   << QStringList { "<body><p><p>wise</p></p><p><p>words</p></p></body></html>" };
    }

    void bodyPages()
    {
        QFETCH(bool, cover);
        QFETCH(QStringList, bodies);
        QFETCH(QStringList, pages);
        const QString out = folder(QStringLiteral("b"));
        if (cover)
            QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(out + "/cover.png"));
        Fb2Builder builder;
        for (const QString& body : bodies)
            builder.addBody(body);
        FbDocument document(writeBook(builder));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters().size(), pages.size());
        for (int i = 0; i < pages.size(); ++i)
            QCOMPARE(readText(out + "/" + document.chapters().at(i)), kBodyHead + pages.at(i));
    }

    void notesBody()
    {
        Fb2Builder builder;
        builder.addBody(section("Chapter", Fb2Builder::p("story")));
        builder.addBody(Fb2Builder::title({ "Notes" }) + section("1", Fb2Builder::p("first note"))
                + section("2",
                    Fb2Builder::p("second note") + section("2a", Fb2Builder::p("inner note"))
                        + Fb2Builder::p("after inner")),
            QStringLiteral("notes"));
        builder.addBody(section("Remark", Fb2Builder::p("comment")), QStringLiteral("comments"));
        builder.addBody(section("Kept", Fb2Builder::p("ordinary")), QStringLiteral("Notes"));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("n"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters(),
            QStringList({ "n_1.html", "n_2.html", "n_3.html", "n_4.html", "n_5.html", "n_6.html" }));

        const QString notes = readText(out + "/n_3.html");
        QVERIFY(notes.startsWith(kBodyHead + "<body class='section notes'><h2 id='"));
        QVERIFY(readText(out + "/n_4.html").startsWith(kBodyHead + "<body class='section notes'>"));
        // Every note once, in document order, without page breaks.
        for (const char* text : { "first note", "second note", "inner note", "after inner" })
            QCOMPARE(notes.count(QLatin1String(text)), 1);
        QVERIFY(notes.indexOf("first note") < notes.indexOf("second note"));
        QVERIFY(notes.indexOf("second note") < notes.indexOf("inner note"));
        QVERIFY(notes.indexOf("inner note") < notes.indexOf("after inner"));
        QVERIFY(!notes.contains("page-break"));

        const QList<TocPoint> toc = document.toc();
        QCOMPARE(toc.size(), 4);
        const TocPoint& body = toc[1];
        QCOMPARE(body.link->source, QStringLiteral("n_3.html"));
        QCOMPARE(body.children.size(), 2);
        QVERIFY(body.link == body.children[0].link); // the first note shares the body's link
        const TocPoint& second = body.children[1];
        const QRegularExpression anchored(QStringLiteral("^n_3\\.html#([0-9a-f]{32})$"));
        const QRegularExpressionMatch match = anchored.match(second.link->source);
        QVERIFY2(match.hasMatch(), qPrintable(second.link->source));
        QVERIFY(notes.contains(QStringLiteral("<h4 class='section' id='%1'><p>2</p></h4>").arg(match.captured(1))));
        QCOMPARE(second.children.size(), 1);
        QVERIFY(anchored.match(second.children[0].link->source).hasMatch());
        QCOMPARE(second.children[0].title, QStringLiteral("2a"));

        // A body named with a capital N is an ordinary body with section pages.
        QCOMPARE(contents(document).mid(contents(document).size() - 2),
            QStringList({ " -> n_5.html", "  Kept -> n_6.html" }));
    }

    // A parent section has no page, but its heading, epigraph and content are kept in order
    // around its chapters' pages.
    void parentSectionContent()
    {
        Fb2Builder builder;
        const QString part = Fb2Builder::title({ "Part", "One" }) + Fb2Builder::epigraph(Fb2Builder::p("motto"))
            + Fb2Builder::p("intro") + section("Ch 1", Fb2Builder::p("text 1")) + Fb2Builder::p("between")
            + section("Ch 2", Fb2Builder::p("text 2")) + Fb2Builder::p("after");
        builder.addBody(Fb2Builder::title({ "Tom & Jerry" }) + Fb2Builder::section(part));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("p"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters(), QStringList({ "p_1.html", "p_2.html", "p_3.html" }));
        QCOMPARE(contents(document),
            QStringList({ "Tom &amp; Jerry -> p_1.html", "  Part  One -> p_2.html", "    Ch 1 -> p_2.html",
                "    Ch 2 -> p_3.html" }));
        const QList<TocPoint> toc = document.toc();
        QVERIFY(toc[0].children[0].link == toc[0].children[0].children[0].link);

        const QString first = readText(out + "/p_2.html");
        const QString second = readText(out + "/p_3.html");
        QVERIFY2(
            QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(kSectionHead)
                + QStringLiteral("<h4 class='section' id='[0-9a-f]{32}'><p>Part</p><p>One</p></h4><p><p>motto</p></p>"
                                 "<p>intro</p><h4 class='section' id='[0-9a-f]{32}'><p>Ch 1</p></h4><p>text 1</p>"
                                 "<p>between</p>")
                + QRegularExpression::escape(kEnd) + QStringLiteral("$"))
                .match(first)
                .hasMatch(),
            qPrintable(first));
        QVERIFY2(second.endsWith("<p>text 2</p><p>after</p>" + kEnd), qPrintable(second));
        QVERIFY(!second.contains("intro") && !second.contains("between"));
    }

    void deepNesting()
    {
        Fb2Builder builder;
        builder.addBody(
            Fb2Builder::title({ "B" }) + section("Part", section("Group", section("Chapter", Fb2Builder::p("deep")))));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("d"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters(), QStringList({ "d_1.html", "d_2.html" }));
        QCOMPARE(contents(document),
            QStringList({ "B -> d_1.html", "  Part -> ", "    Group -> d_2.html", "      Chapter -> d_2.html" }));
        const QString page = readText(out + "/d_2.html");
        QVERIFY(page.indexOf("<p>Part</p>") < page.indexOf("<p>Group</p>"));
        QVERIFY(page.indexOf("<p>Group</p>") < page.indexOf("<p>Chapter</p>"));
    }

    // A section that starts with an image keeps its page, numbered before its chapters.
    void leadingImageParent()
    {
        Fb2Builder builder;
        builder.addBody(section("Part",
            Fb2Builder::image("map.png") + Fb2Builder::p("legend") + section("Ch", Fb2Builder::p("text"))
                + Fb2Builder::p("tail")));
        builder.addBinary(QStringLiteral("map.png"), EpubBuilder::png(3, 2));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("i"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters(), QStringList({ "i_1.html", "i_2.html", "i_3.html" }));
        QCOMPARE(contents(document), QStringList({ " -> i_1.html", "  Part -> i_2.html", "    Ch -> i_3.html" }));
        const QString own = readText(out + "/i_2.html");
        QVERIFY2(own.contains("<img src=\"map.png\" /><p>legend</p>") && !own.contains("<p>text</p>"), qPrintable(own));
        QVERIFY(readText(out + "/i_3.html").endsWith("<p>text</p><p>tail</p>" + kEnd));
        QCOMPARE(QImage(out + "/map.png").size(), QSize(3, 2));
    }

    void textBooks()
    {
        const QString txt = m_dir.filePath(QStringLiteral("story.txt"));
        QVERIFY(testfiles::write(txt, "Line one\nLine & two\n"));
        FbDocument document(txt);
        const QString out = folder(QStringLiteral("t"));
        QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(out + "/cover.png"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters(), QStringList({ "t_1.html" }));
        QCOMPARE(readText(out + "/t_1.html"), kSectionHead + "<p>Line one</p><p>Line &amp; two</p>" + kEnd);
        QCOMPARE(contents(document), QStringList({ " -> t_1.html", "   -> t_1.html" }));
        QVERIFY(document.toc()[0].link == document.toc()[0].children[0].link);

        // Zipped, the same text gets a body page (with the cover) in front of its page.
        const QString zip = m_dir.filePath(QStringLiteral("story.zip"));
        QVERIFY(ZipWriter::write(zip, { { QStringLiteral("story.txt"), "Line one\n" } }));
        FbDocument zipped(zip);
        const QString zipOut = folder(QStringLiteral("z"));
        QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(zipOut + "/cover.png"));
        QVERIFY(zipped.load(zipOut));
        QCOMPARE(zipped.chapters(), QStringList({ "z_1.html", "z_2.html" }));
        QVERIFY(readText(zipOut + "/z_1.html").contains("<img src='cover.png'/>"));

        // The encoding chosen for a text book is used.
        const QString cp1251 = m_dir.filePath(QStringLiteral("cyr.txt"));
        QVERIFY(testfiles::write(cp1251, "\xcf\xf0\xe8\xe2\xe5\xf2\n"));
        FbDocument cyrillic(cp1251);
        cyrillic.setEncoding(QStringLiteral("windows-1251"));
        const QString cyrOut = folder(QStringLiteral("c"));
        QVERIFY(cyrillic.load(cyrOut));
        QVERIFY(readText(cyrOut + "/c_1.html").contains(QStringLiteral("<p>Привет</p>")));
    }

    void binaries()
    {
        const QByteArray png = EpubBuilder::png(5, 4);
        QImage source(6, 3, QImage::Format_RGB32);
        source.fill(Qt::red);
        QByteArray jpeg;
        {
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY(source.save(&buffer, "JPG"));
        }
        Fb2Builder builder;
        builder.addBody(section("S", Fb2Builder::p("x") + Fb2Builder::image("it's\".png")));
        for (const char* id : { "plain.jpg", "nosuffix", "../escape.png", "sub/dir.png", "back\\slash.png",
                 ".hidden.png", "a..b.png", "it's\".png", "cover.png", "odd.xyz" })
            builder.addBinary(QString::fromLatin1(id), QByteArray(id) == "plain.jpg" ? jpeg : png);
        const QString out = folder(QStringLiteral("img"));
        QImage libraryCover(7, 7, QImage::Format_RGB32);
        libraryCover.fill(Qt::blue);
        QVERIFY(libraryCover.save(out + "/cover.png"));
        FbDocument document(writeBook(builder));
        QVERIFY(document.load(out));

        QFile written(out + "/plain.jpg");
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.read(2) == QByteArray("\xff\xd8")); // JPEG, as the suffix says
        QCOMPARE(QImage(out + "/it's\".png").size(), QSize(5, 4));
        // The library's cover is not replaced by the book's binary of that name.
        QCOMPARE(QImage(out + "/cover.png").size(), QSize(7, 7));
        QStringList files = QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot);
        files.sort();
        QCOMPARE(files, QStringList({ "cover.png", "img_1.html", "img_2.html", "it's\".png", "plain.jpg" }));
        QVERIFY(!QFileInfo::exists(QFileInfo(out).path() + "/escape.png"));
        // The reference is escaped in the section page.
        QVERIFY(readText(out + "/img_2.html").contains("<img src=\"it&#39;s&quot;.png\" />"));
    }

    void failures()
    {
        Fb2Builder builder;
        builder.addBody(section("S", Fb2Builder::p("x")));
        const QString book = writeBook(builder);

        // An empty folder is refused: the working folder's files stay.
        const QString cwd = folder(QStringLiteral("cwd"));
        QVERIFY(testfiles::write(cwd + "/page.html", "keep"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd));
        FbDocument empty(book);
        const bool loaded = empty.load(QString());
        QDir::setCurrent(previous);
        QVERIFY(!loaded);
        QVERIFY(QFileInfo::exists(cwd + "/page.html"));
        QVERIFY(empty.chapters().isEmpty());

        // A book that cannot be read leaves the old chapters alone.
        const QString out = folder(QStringLiteral("f"));
        QVERIFY(testfiles::write(out + "/f_1.html", "old"));
        for (const QString& path : { m_dir.filePath("missing.fb2"), m_dir.filePath("garbage.fb2") }) {
            if (path.endsWith("garbage.fb2"))
                QVERIFY(testfiles::write(path, "<FictionBook><body><section>"));
            FbDocument broken(path);
            QVERIFY(!broken.load(out));
            QCOMPARE(readText(out + "/f_1.html"), QStringLiteral("old"));
            QVERIFY(broken.chapters().isEmpty());
            QVERIFY(broken.toc().isEmpty());
        }

        // A page that cannot be written is not listed, and its entry leads nowhere.
        const QString blocked = folder(QStringLiteral("w"));
        QVERIFY(QDir().mkpath(blocked + "/w_2.html"));
        Fb2Builder twoSections;
        twoSections.addBody(
            Fb2Builder::title({ "B" }) + section("S1", Fb2Builder::p("a")) + section("S2", Fb2Builder::p("b")));
        FbDocument partly(writeBook(twoSections));
        QVERIFY(partly.load(blocked));
        QCOMPARE(partly.chapters(), QStringList({ "w_1.html" }));
        QCOMPARE(contents(partly), QStringList({ "B -> w_1.html", "  S1 -> ", "  S2 -> " }));
        QVERIFY(QDir(blocked).entryList({ "*.part" }, QDir::Files | QDir::Hidden).isEmpty());

        // A missing output folder is made.
        const QString made = m_dir.filePath(QStringLiteral("new/folder"));
        FbDocument fresh(book);
        QVERIFY(fresh.load(made));
        QCOMPARE(htmlFiles(made), QStringList({ "folder_1.html", "folder_2.html" }));
    }
};

QTEST_MAIN(TestFbDocument)
#include "tst_fbdocument.moc"
