// FB2 and plain-text books: the description, the converters from FB2 markup to HTML, loading
// from files and archives in every encoding, and the document that writes the chapter pages.

#include "epubbuilder.h"
#include "fb2builder.h"
#include "mobiwriter.h"
#include "sevenzwriter.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"
#include "textrows.h"
#include "zipwriter.h"

#include "appdirs.h"
#include "formats/fb2/fbbook.h"
#include "formats/fb2/fbdocument.h"
#include "formats/fb2/fbplaintext.h"
#include "formats/fb2/fbtextcodec.h"
#include "formats/fb2/fbxmlreader.h"
#include "formats/htmlnesting.h"

#include <QBuffer>
#include <QDir>
#include <QDomDocument>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QTest>
#include <QTextCodec>

using fb2::FbBook;
using fb2::FbDocument;
using fb2::FbSection;

namespace {

// Parses a whole document with the loader's parser; false (with a warning) on an error.
bool fbParse(const QString& xml, QDomDocument& document)
{
    QString error;
    if (fb2::parseXml(xml, 1000, &document, &error))
        return true;
    qWarning() << "Does not parse:" << error << xml.left(200);
    document = QDomDocument();
    return false;
}

// Parses one element (namespaces added to its start tag) with the loader's parser; the document
// keeps the element alive.
QDomElement fbElement(const QString& xml, QDomDocument& keeper)
{
    const int end = xml.indexOf(QRegularExpression(QStringLiteral("[ />]")), 1);
    QString withNamespaces = xml;
    withNamespaces.insert(end,
        QStringLiteral(" xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" xmlns:l=\"http://www.w3.org/1999/xlink\" "
                       "xmlns:xlink=\"http://www.w3.org/1999/xlink\""));
    fbParse(withNamespaces, keeper);
    return keeper.documentElement();
}

// A JPEG whose frame header claims that size: the readers must refuse it by its header alone.
QByteArray hugeJpeg(quint16 width, quint16 height)
{
    QByteArray jpeg = MobiWriter::image(QSize(8, 8), Qt::red, "JPG");
    const int frame = jpeg.indexOf("\xff\xc0");
    const char size[] = { char(height >> 8), char(height), char(width >> 8), char(width) };
    return jpeg.replace(frame + 5, 4, QByteArray(size, 4));
}

FbSection readSectionXml(const QString& xml)
{
    QDomDocument keeper;
    FbBook book;
    FbSection section;
    book.readSection(fbElement(xml, keeper), section);
    return section;
}

QString inlineHtml(const QString& paragraphXml)
{
    QDomDocument keeper;
    FbBook book;
    QString html;
    book.readInline(fbElement(QStringLiteral("<p>%1</p>").arg(paragraphXml), keeper), html);
    return html;
}

// A book read from a document whose title-info is the given XML, beside a document and publish info.
FbBook bookWithTitleInfo(const QString& titleInfoXml)
{
    Fb2Builder builder;
    builder.setDescriptionXml(QStringLiteral("<description><title-info>%1</title-info><document-info><program-used>"
                                             "Editor 2</program-used><id>id-42</id></document-info><publish-info>"
                                             "<publisher>Acme</publisher></publish-info></description>")
                                  .arg(titleInfoXml));
    QDomDocument document;
    FbBook book;
    if (!fbParse(builder.xml(), document) || !book.readDocument(document))
        qWarning() << "The description did not read";
    return book;
}

// The fields of a title-info that the library shows, as "name=value" lines where set.
QStringList fieldsOf(const fb2::FbTitleInfo& info)
{
    QStringList fields;
    const auto add = [&fields](const char* name, const QString& value) {
        if (!value.isEmpty())
            fields.append(QLatin1String(name) + '=' + value);
    };
    add("title", info.bookTitle);
    add("first", info.author.firstName);
    add("middle", info.author.middleName);
    add("last", info.author.lastName);
    add("genres", info.genres.join('|'));
    add("lang", info.lang);
    add("cover", info.coverImageRef);
    add("annotation", info.annotation);
    return fields;
}

const QString kRussian
    = QStringLiteral("Однажды весною, в час небывало жаркого заката, в Москве, на Патриарших прудах, появились два "
                     "гражданина. Первый из них, одетый в летнюю серенькую пару, был маленького роста, упитан, лыс, "
                     "свою приличную шляпу пирожком нес в руке, а на хорошо выбритом лице его помещались очки в "
                     "черной роговой оправе.");

// Everyday prose in the scripts whose legacy code pages real plain-text books use.
const QString kPolish = QStringLiteral("Wczoraj pojechaliśmy nad jezioro, gdzie stara łódź czekała przy pomoście. "
                                       "Żółte liście spadały cicho na wodę, a dzieci śmiały się głośno.");
const QString kGreek = QStringLiteral("Το πρωί ο ψαράς ξύπνησε νωρίς και κατέβηκε στο λιμάνι. Η θάλασσα ήταν ήσυχη.");
const QString kJapanese = QStringLiteral("今朝は駅前の小さな喫茶店でコーヒーを飲みました。窓の外では雨が静かに降ってい"
                                         "て、人々は傘をさして急いで歩いていました。");
const QString kChinese
    = QStringLiteral("今天早上天氣很好，我們一起到山上散步。路邊的花開得非常漂亮，小鳥在樹上唱歌，大家都覺得很開心。");

// A short FB2 book titled "Мастер" with one paragraph, in that encoding and form.
QByteArray masterBytes(const char* codec, const QString& declared, char quote, bool bom, bool oneLine)
{
    Fb2Builder builder;
    builder.setEncoding(codec, quote);
    if (!declared.isNull())
        builder.setDeclaredEncoding(declared);
    builder.setByteOrderMark(bom);
    builder.setOneLine(oneLine);
    builder.setBookTitle(QStringLiteral("Мастер"));
    builder.addBody(Fb2Builder::section(Fb2Builder::p(kRussian)));
    return builder.bytes();
}

using testfiles::encoded;

// The paragraphs of the only section of a text book.
QString textContent(const FbBook& book)
{
    if (book.bodies.size() != 1 || book.bodies.first().sections.size() != 1)
        return QStringLiteral("<not one body with one section>");
    return book.bodies.first().sections.first().content;
}

QString paragraphs(const QStringList& lines)
{
    QString html;
    for (const QString& line : lines)
        html += QStringLiteral("<p>") + line + QStringLiteral("</p>");
    return html;
}

const QString kBodyHead
    = QStringLiteral("<html><head><meta http-equiv='Content-Type' content='text/html; charset=utf-8'/></head>");
const QString kSectionHead = QStringLiteral("<html><head><meta http-equiv='Content-Type' content='text/html; "
                                            "charset = utf-8'/></head><body class='section'>");
const QString kEnd = QStringLiteral("</body></html>");

QString readText(const QString& path) { return QString::fromUtf8(testfiles::read(path)); }

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

class TestFb2 : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    int m_count = 0;

    QString path(const QString& name) const { return m_home->filePath(name); }
    // A fresh output folder whose last component is name.
    QString folder(const QString& name)
    {
        const QString made = path(QStringLiteral("out%1/%2").arg(++m_count).arg(name));
        QDir().mkpath(made);
        return made;
    }
    QString writeBook(const Fb2Builder& builder, const QString& fileName = QStringLiteral("book.fb2"))
    {
        const QString written = path(QStringLiteral("b%1-%2").arg(++m_count).arg(fileName));
        return builder.write(written) ? written : QString();
    }

    // The entry as a file of its own (no archive named), or packed in a ZIP archive or in a 7z
    // archive beside a file that is no book; the path written, empty on failure.
    QString writeEntry(const QString& archive, const QString& entry, const QByteArray& bytes)
    {
        if (archive.isEmpty())
            return testfiles::write(path(entry), bytes) ? path(entry) : QString();
        if (archive.endsWith(QLatin1String(".zip")))
            return ZipWriter::write(path(archive), { { entry, bytes } }) ? path(archive) : QString();
        SevenZWriter writer(path(archive));
        writer.add(QStringLiteral("readme.md"), "not a book");
        writer.add(entry, bytes);
        return writer.write() ? path(archive) : QString();
    }

private slots:
    void init()
    {
        m_home = std::make_unique<TempHome>();
        QVERIFY(m_home->isValid());
    }
    void cleanup() { m_home.reset(); }

    void titleInfoFields_data()
    {
        QTest::addColumn<QString>("titleInfo");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("all shown fields")
            << "<genre>sf</genre><author><first-name>Anna</first-name><middle-name>Maria</middle-name><last-name>Berg"
               "</last-name><nickname>ab</nickname></author><book-title>Tale &amp; Co</book-title><annotation><p>One"
               "</p></annotation><keywords>space, time</keywords><date value=\"2001-02-03\">Feb 2001</date><coverpage>"
               "<image l:href=\"#cover.jpg\"/></coverpage><lang>ru</lang><translator><first-name>Tom</first-name>"
               "</translator>"
            << QStringList { "title=Tale & Co", "first=Anna", "middle=Maria", "last=Berg", "genres=sf", "lang=ru",
                   "cover=cover.jpg", "annotation=One" };
        QTest::newRow("authors merge, later parts winning")
            << "<author><first-name>Anna</first-name><last-name>Berg</last-name><email>a@b</email></author>"
               "<author><last-name>Cole</last-name><nickname>cc</nickname></author>"
            << QStringList { "first=Anna", "last=Cole" };
        QTest::newRow("genres, the empty one left out")
            << "<genre></genre><genre>prose</genre><genre>poetry</genre>" << QStringList { "genres=prose|poetry" };
        QTest::newRow("cover page: its last image")
            << "<coverpage><image l:href=\"#a.jpg\"/>text<!--c--><image xlink:href=\"#b.jpg\"/></coverpage>"
            << QStringList { "cover=b.jpg" };
        QTest::newRow("cover page without image") << "<coverpage><p>no image</p></coverpage>" << QStringList();
        QTest::newRow("annotation as plain text")
            << "<annotation>\n  <p>First <emphasis>part</emphasis>.</p>\n  <p>Second</p>\n  <empty-line/>\n"
               "  <p>Third &amp; last</p>\n</annotation>"
            << QStringList { "annotation=First part.SecondThird & last" };
        // The last text child counts; an element without text leaves the field as it was.
        QTest::newRow("last text wins") << "<book-title>Old</book-title><book-title> </book-title>"
                                           "<lang>en<!--x-->de</lang><src-lang><b>fr</b></src-lang>"
                                        << QStringList { "title=Old", "lang=de" };
    }

    void titleInfoFields()
    {
        QFETCH(QString, titleInfo);
        QFETCH(QStringList, fields);
        const FbBook book = bookWithTitleInfo(titleInfo);
        QCOMPARE(fieldsOf(book.description.titleInfo), fields);
        QCOMPARE(book.description.publishInfo.publisher, QStringLiteral("Acme"));
        QCOMPARE(book.description.documentInfo.id, QStringLiteral("id-42"));
    }

    void coverImage()
    {
        // The binaries under these ids; the id of the one taken as the cover.
        const auto coverOf = [](const QStringList& ids) {
            FbBook book;
            for (const QString& id : ids) {
                QImage image(1, 1, QImage::Format_RGB32);
                image.setText(QStringLiteral("id"), id);
                book.binaries.insert(id, image);
            }
            return book.coverImage().text(QStringLiteral("id"));
        };
        QCOMPARE(coverOf({ "xCover.png", "pic.png" }), QStringLiteral("pic.png")); // no id holds lower-case "cover"
        QCOMPARE(coverOf({ "z-cover.png", "b-cover.png" }), QStringLiteral("b-cover.png"));
        QVERIFY(FbBook().coverImage().isNull());
    }

    void sectionContent_data()
    {
        QTest::addColumn<QString>("children");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("content");

        addTextRows({
            { "title, image, p: leading image", "<title><p>T</p></title><image l:href=\"#a.png\"/><p>x</p>", "a.png",
                "<p>x</p>" },
            { "p, image: image in content", "<p>x</p><image l:href=\"#a.png\"/>", nullptr,
                "<p>x</p><img src=\"a.png\" />" },
            { "table skipped, flag kept", "<table><tr><td>cell</td></tr></table><image l:href=\"#a.png\"/>", "a.png",
                nullptr },
            { "subtitle as a paragraph", "<subtitle>S <emphasis>s</emphasis></subtitle>", nullptr,
                "<p class=\"subtitle\">S <i>s</i></p>" },
            { "empty line in a section", "<p>a</p><empty-line/>", nullptr, "<p>a</p><br/>" },
            { "cite: paragraph, empty line, subtitle, author skipped",
                "<cite><p>c</p><empty-line/><subtitle>s</subtitle><text-author>Who</text-author></cite>", nullptr,
                "<p>c</p></br><p class=\"subtitle\">s</p>" },
            { "poem in a cite, with epigraph and date",
                "<cite><poem><epigraph><p>e</p></epigraph><stanza><title><p>I</p></title><subtitle>s</subtitle>"
                "<v>a</v></stanza><date>1900</date><text-author>X</text-author></poem></cite>",
                nullptr, "<p>e</p><p>I</p><p class=\"subtitle\">s</p>a</br>" },
            { "annotation and unknown children skipped", "<annotation><p>n</p></annotation><foo>x</foo><p>y</p>",
                nullptr, "<p>y</p>" },
        });
        QTest::newRow("poem in a section")
            << Fb2Builder::poem({ { "a", "b" } }, "Ode") << QString() << "<p>Ode</p>a</br>b</br>";
    }

    void sectionContent()
    {
        QFETCH(QString, children);
        QFETCH(QString, image);
        QFETCH(QString, content);
        const FbSection section = readSectionXml(QStringLiteral("<section id=\"s1\">%1</section>").arg(children));
        QCOMPARE(section.id, QStringLiteral("s1"));
        QCOMPARE(section.image, image);
        QCOMPARE(section.content, content);
    }

    void inlineText_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("html");

        addTextRows({
            { "ampersand escaped again", "Tom &amp; <emphasis>Jerry</emphasis>", "Tom &amp; <i>Jerry</i>" },
            { "quotes and brackets", "a &lt;b&gt; \"c\" 'd'", "a &lt;b&gt; &quot;c&quot; 'd'" },
            // Links into the book keep their words and their target's id, escaped, for the document
            // to resolve; a link inside one is only its words.
            { "note reference keeps its mark", "Text<a l:href=\"#n1\" type=\"note\">[1]</a>.",
                "Text<a href=\"#n1\">[1]</a>." },
            { "other link keeps its text", "see <a l:href=\"http://example.org/\">the <strong>site</strong></a>",
                "see the <b>site</b>" },
            { "link with another prefix", "<a xlink:href=\"#n2\">2</a>x", "<a href=\"#n2\">2</a>x" },
            { "internal link escaped, nested one plain",
                "Alpha <a l:href=\"#s&quot;2'&lt;\">w&amp;<a l:href=\"#in\"><emphasis>x</emphasis></a></a> after.",
                "Alpha <a href=\"#s&quot;2&#39;&lt;\">w&amp;<i>x</i></a> after." },
            { "formatting", "<strong>b</strong><strikethrough>s</strikethrough><style name=\"x\">st</style>",
                "<b>b</b><s>s</s>st" },
            { "blank between inline elements kept", "<strong>a</strong> <emphasis>b</emphasis>", "<b>a</b> <i>b</i>" },
            { "unknown element dropped with its text", "a<foo>hidden</foo>b", "ab" },
            { "CDATA escaped", "<![CDATA[x<y & z]]>", "x&lt;y &amp; z" },
            { "comment and instruction dropped", "a<!-- c --><?pi data?>b", "ab" },
            { "image, other prefix", "<image xlink:href=\"#pic.jpg\"/>", "<img src=\"pic.jpg\" />" },
            { "image without #", "<image l:href=\"pic.jpg\"/>", "<img src=\"pic.jpg\" />" },
            { "image without reference", "<image alt=\"x\"/>", "<img src=\"\" />" },
        });
    }

    void inlineText()
    {
        QFETCH(QString, xml);
        QFETCH(QString, html);
        QCOMPARE(inlineHtml(xml), html);
    }

    void readersRefuseTooDeepDom()
    {
        // A DOM built by other code has no nesting limit: the readers keep their own.
        QDomDocument document;
        QDomElement parent = document.createElement(QStringLiteral("section"));
        document.appendChild(parent);
        const QDomElement top = parent;
        for (int i = 0; i < FbBook::kMaxDepth + 5; ++i) {
            QDomElement child = document.createElement(QStringLiteral("section"));
            parent.appendChild(child);
            parent = child;
        }
        FbBook book;
        FbSection section;
        QVERIFY(!book.readSection(top, section));
        // The counter is balanced after a refusal: a shallow section still reads.
        FbSection shallow;
        QVERIFY(book.readSection(top.ownerDocument().createElement(QStringLiteral("section")), shallow));
    }

    void binaries()
    {
        const QByteArray png = EpubBuilder::png(3, 2);
        const QString base64 = QString::fromLatin1(png.toBase64());
        const QString split = base64.left(8) + QStringLiteral("<!-- cut -->") + base64.mid(8);
        // Just over the pixel limit by its header alone.
        QByteArray huge = hugeJpeg(10001, 10000);
        QBuffer buffer(&huge);
        QCOMPARE(QImageReader(&buffer).size(), QSize(10001, 10000));
        QDomDocument keeper;
        const QDomElement root = fbElement(
            QStringLiteral("<FictionBook><binary id=\"a.png\">%1</binary><binary id=\"b.png\">%2</binary>"
                           "<binary id=\"a.png\">%3</binary><binary id=\"junk\">bm90IGFuIGltYWdl</binary>"
                           "<binary>%3</binary><binary id=\"huge.png\">%4</binary><binary id=\"fine.png\">%5</binary>"
                           "</FictionBook>")
                .arg(QString(base64).replace(QStringLiteral("A"), QStringLiteral("A\n")), split,
                    QString::fromLatin1(EpubBuilder::png(5, 5).toBase64()), QString::fromLatin1(huge.toBase64()),
                    QString::fromLatin1(EpubBuilder::png(1000, 1000).toBase64())),
            keeper);
        FbBook book;
        for (QDomElement binary = root.firstChildElement(); !binary.isNull(); binary = binary.nextSiblingElement())
            QVERIFY(book.readBinary(binary));
        QCOMPARE(book.binaries.keys(), QStringList({ "", "a.png", "b.png", "fine.png", "huge.png", "junk" }));
        QCOMPARE(book.binaries.value("a.png").size(), QSize(5, 5)); // the later one of the same id
        QVERIFY(book.binaries.value("b.png").isNull()); // only the text before the comment
        QVERIFY(book.binaries.value("junk").isNull());
        QCOMPARE(book.binaries.value("").size(), QSize(5, 5));
        QVERIFY(book.binaries.value("huge.png").isNull());
        QCOMPARE(book.binaries.value("fine.png").size(), QSize(1000, 1000));
    }

    void zipRefused()
    {
        Fb2Builder builder;
        builder.addBody(Fb2Builder::section(Fb2Builder::p("x")));
        const QList<QList<ZipEntry>> archives { { { "dir/", QByteArray() }, { "dir/book.fb2", builder.bytes() } },
            { { "book.pdf", "%PDF-1.4" } }, { { "book.fb2", "<FictionBook><body>" } } };
        for (const QList<ZipEntry>& entries : archives) {
            QVERIFY(ZipWriter::write(path("bad.zip"), entries));
            QVERIFY(!FbBook().load(path("bad.zip"), QString()));
        }
    }

    // Books in every encoding: FB2 by its prolog, plain text by its mark, a named codec or a guess;
    // alone, as the one entry of a ZIP archive or the first book of a 7z archive.
    void encodings_data()
    {
        QTest::addColumn<QString>("archive"); // empty: the entry alone; else its suffix picks the reader
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("codecName");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("content");

        const auto fb2
            = [](const char* name, const char* codec, const QString& declared, char quote, bool bom, bool oneLine) {
                  QTest::newRow(name) << QString() << "book.fb2" << masterBytes(codec, declared, quote, bom, oneLine)
                                      << QString() << QStringLiteral("Мастер") << paragraphs({ kRussian });
              };
        fb2("cp1251, double quotes", "windows-1251", QString(), '"', false, false);
        fb2("cp1251, one line", "windows-1251", QString(), '\'', false, true);
        fb2("UTF-16 with mark", "UTF-16LE", "UTF-16", '"', true, false);
        fb2("mark beats the declaration", "UTF-8", "windows-1251", '"', true, false);
        fb2("unknown name, cp1251 bytes", "windows-1251", "x-unknown", '"', false, false);
        fb2("unknown name, UTF-8 bytes", "UTF-8", "x-unknown", '"', false, false);

        const auto text
            = [](const char* name, const QByteArray& bytes, const QString& codecName, const QStringList& lines) {
                  QTest::newRow(name) << QString() << "story.txt" << bytes << codecName << "story" << paragraphs(lines);
              };
        text("text: UTF-16 with mark", QByteArray("\xFF\xFE") + encoded("UTF-16LE", "a\nb"), QString(), { "a", "b" });
        text("named codec, other letter case", encoded("KOI8-R", kRussian), "koi8-r", { kRussian });
        text(
            "mark beats the named codec", QByteArray("\xEF\xBB\xBF") + kRussian.toUtf8(), "windows-1251", { kRussian });
        text("unknown named codec: UTF-8", kRussian.toUtf8(), "x-unknown", { kRussian });
        // Legacy code pages without a name are guessed, never shown as replacement characters.
        text("cp1251 guessed", encoded("windows-1251", kRussian), QString(), { kRussian });
        text("KOI8-R guessed", encoded("KOI8-R", kRussian), QString(), { kRussian });
        text("cp1250 guessed", encoded("windows-1250", kPolish), QString(), { kPolish });
        // The Greek sentence in code page 737, byte by byte.
        const QByteArray greek737
            = QByteArray::fromHex("92a620a7a8e0e520a620af98a8e1aa20a5e7a7a49ea99c20a4e0a8e5aa20a198a020a198abe2"
                                  "999ea19c20a9aba620a2a0a3e1a4a02e2086209fe1a298a9a99820e3ab98a420e3a9acae9e2e");
        text("cp737 guessed", greek737, QString(), { kGreek });
        const QString french = QStringLiteral("Déjà l'été: à Noël, où irons-nous? Chez Hélène, près de la forêt.");
        text("cp1252 not taken for Greek", encoded("windows-1252", french), QString(), { french });
        text("Shift-JIS guessed", encoded("Shift_JIS", kJapanese), QString(), { kJapanese });
        text("Big5 guessed", encoded("Big5", kChinese), QString(), { kChinese });
        text("UTF-16BE without mark", encoded("UTF-16BE", kRussian + "\n" + kPolish), QString(), { kRussian, kPolish });
        // A few stray NUL bytes, each the second of its pair, do not make 8-bit text UTF-16.
        QByteArray stray = encoded("windows-1252", french.repeated(4));
        for (int at : { 41, 121, 201 })
            stray.insert(at, '\0');
        text("cp1252 with stray NULs", stray, QString(), { french.repeated(4) });
        text("UTF-8 Japanese kept", kJapanese.toUtf8(), QString(), { kJapanese });
        QTest::newRow("empty file") << QString() << "story.txt" << QByteArray() << QString() << "story" << QString();
        text("three lines, middle empty", "one\r\n\r\nthree\r\n", QString(), { "one", "", "three" });
        text("markup characters", "a < b & \"c\" > d", QString(), { "a &lt; b &amp; &quot;c&quot; &gt; d" });
        text("control characters dropped", "page\fbreak\x01\n", QString(), { "pagebreak" });
        text("lone carriage returns end lines", "one\rtwo\r\rfour", QString(), { "one", "two", "", "four" });
        // A text without line breaks becomes paragraphs of at most 16,384 characters, cut after a
        // sentence, else at a blank, else anywhere; no character is lost but the blanks at a cut.
        const QString sentence = QStringLiteral("The shuttle flew. ");
        const int perLine = 16384 / sentence.size();
        const QString prose = sentence.repeated(perLine * 2 + 1).trimmed();
        text("long line cut after sentences", prose.toUtf8(), QString(),
            { sentence.repeated(perLine).trimmed(), sentence.repeated(perLine).trimmed(), sentence.trimmed() });
        const QString word = QStringLiteral("loom ");
        const QString words = word.repeated(16384 / word.size() + 3).trimmed();
        text("long line cut at a blank", words.toUtf8(), QString(),
            { word.repeated(16384 / word.size()).trimmed(), word.repeated(3).trimmed() });
        const QString han = QStringLiteral("\u7ec7\u5e03\u3002");
        const QString cjk = han.repeated(16384 / 3 + 1);
        text("long CJK line cut after a full stop", cjk.toUtf8(), QString(), { han.repeated(16384 / 3), han });
        const QString letters(16384 + 10, QLatin1Char('x'));
        text("long line without blanks cut at the limit", letters.toUtf8(), QString(),
            { letters.left(16384), letters.mid(16384) });

        // A text in a ZIP archive: its first line is the title when it is short enough.
        const QString line60(60, QLatin1Char('x'));
        const QString line61(61, QLatin1Char('x'));
        const QString chapter = QStringLiteral("Глава первая\n") + kRussian + QStringLiteral("\n");
        const QStringList lines { QStringLiteral("Глава первая"), kRussian };
        const auto zipText = [](const char* name) -> QTestData& {
            return QTest::newRow(name) << "text.zip"
                                       << "Story.TXT";
        };
        zipText("zip: UTF-16 without mark")
            << encoded("UTF-16LE", chapter) << QString() << lines.first() << paragraphs(lines);
        zipText("zip: 60 characters are a title")
            << (line60 + "\nrest").toUtf8() << QString() << line60 << paragraphs({ line60, "rest" });
        zipText("zip: 61 are not") << (line61 + "\nrest").toUtf8() << QString() << QString()
                                   << paragraphs({ line61, "rest" });
        zipText("zip: escaped title") << QByteArray("A & B\n") << QString() << "A & B" << paragraphs({ "A &amp; B" });
        zipText("zip: empty entry") << QByteArray() << QString() << QString() << QString();

        // The prolog of a one-line book is found in the raw bytes. In a 7z archive the first book
        // is taken, and a text's title is its name.
        QTest::newRow("zip: one-line cp1251 FB2")
            << "book.fb2.zip"
            << "book.fb2" << masterBytes("windows-1251", QString(), '\'', false, true) << QString()
            << QStringLiteral("Мастер") << paragraphs({ kRussian });
        QTest::newRow("7z: KOI8-R text detected") << "book.7Z"
                                                  << "story.v1.txt" << encoded("KOI8-R", kRussian) << QString()
                                                  << QStringLiteral("story") << paragraphs({ kRussian });
    }

    void encodings()
    {
        QFETCH(QString, archive);
        QFETCH(QString, entry);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, codecName);
        QFETCH(QString, title);
        QFETCH(QString, content);
        const QString written = writeEntry(archive, entry, bytes);
        QVERIFY(!written.isEmpty());
        FbBook book;
        QVERIFY(book.load(written, codecName));
        QCOMPARE(book.title(), title);
        QCOMPARE(textContent(book), content);
    }

    // A text book, packed or not, is one page without a body page in front, and one contents
    // entry named after the book. A packed one's page keeps the number it had when a body page
    // came first: saved reading positions, bookmarks and notes name that file.
    void textBookPages_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("contents");
        QTest::addColumn<QStringList>("chapters");
        QTest::newRow("txt") << QString() << "tale.txt" << QStringList { "tale -> t_1.html" }
                             << QStringList { "t_1.html" };
        QTest::newRow("zip") << "tale.zip"
                             << "tale.txt" << QStringList { "Once -> t_2.html" } << QStringList { "t_2.html" };
        QTest::newRow("7z") << "tale.7z"
                            << "Tale/tale.TXT" << QStringList { "tale -> t_2.html" } << QStringList { "t_2.html" };
    }

    void textBookPages()
    {
        QFETCH(QString, archive);
        QFETCH(QString, entry);
        QFETCH(QStringList, contents);
        QFETCH(QStringList, chapters);
        const QByteArray bytes = "Once\nupon a time\n";
        const QString written = writeEntry(archive, entry, bytes);
        QVERIFY(!written.isEmpty());
        const QString out = folder(QStringLiteral("t"));
        // The blank body page an earlier version wrote in front goes with the other old pages.
        QVERIFY(testfiles::write(out + "/t_1.html", "<html><head></head><body></body></html>"));
        FbDocument document(written);
        QVERIFY(document.load(out));
        QCOMPARE(::contents(document), contents);
        QCOMPARE(document.chapters(), chapters);
        QCOMPARE(QDir(out).entryList(QDir::Files), chapters);
        QCOMPARE(readText(out + "/" + chapters.first()),
            kSectionHead + QStringLiteral("<p>Once</p><p>upon a time</p></body></html>"));
    }

    void sevenZipScratchFolder()
    {
        Fb2Builder builder;
        builder.addBody(Fb2Builder::section(Fb2Builder::p("seven")));
        SevenZWriter writer(path("book.7z"));
        writer.add(QStringLiteral("book.fb2"), builder.bytes());
        QVERIFY(writer.write());

        // The book is unpacked inside its data folder: with no usable shared temporary folder the
        // load works all the same, and nothing is left behind.
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(path("no-such-folder")));
        FbBook book;
        const bool loaded = book.load(path("book.7z"), QString());
        qputenv("TMPDIR", oldTmp);
        QVERIFY(loaded);
        QCOMPARE(textContent(book), QStringLiteral("<p>seven</p>"));
        const QString dataDir = bookDataDir(path("book.7z"));
        QCOMPARE(QDir(dataDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());

        // When that folder cannot be made the load fails.
        QVERIFY(QDir(dataDir).removeRecursively());
        QVERIFY(testfiles::write(dataDir, "a file where the folder belongs"));
        FbBook blocked;
        QVERIFY(!blocked.load(path("book.7z"), QString()));
    }

    void hugeFilesRefused()
    {
        // Sparse files: large by size, nothing on disk; refused by their size.
        for (const QString& name : { QStringLiteral("huge.fb2"), QStringLiteral("huge.txt") }) {
            QFile file(path(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(FbBook::kMaxInputBytes + 1));
            file.close();
            FbBook book;
            QVERIFY(!book.load(path(name), QString()));
            QVERIFY(book.bodies.isEmpty());
        }
        // The limit itself on a small book.
        QVERIFY(testfiles::write(path("small.txt"), QByteArray(1000, 'a')));
        FbBook book;
        book.setMaxInputBytes(999);
        QVERIFY(!book.load(path("small.txt"), QString()));
        book.setMaxInputBytes(1000);
        QVERIFY(book.load(path("small.txt"), QString()));
        // In a ZIP archive it counts decompressed bytes.
        Fb2Builder padded;
        padded.addBody(Fb2Builder::section(Fb2Builder::p(QString(64 * 1024, QLatin1Char('x')))));
        QVERIFY(ZipWriter::write(path("big.zip"), { { "big.fb2", padded.bytes() } }));
        QVERIFY(QFileInfo(path("big.zip")).size() < 16 * 1024);
        book.setMaxInputBytes(32 * 1024);
        QVERIFY(!book.load(path("big.zip"), QString()));
        book.setMaxInputBytes(padded.bytes().size());
        QVERIFY(book.load(path("big.zip"), QString()));
    }

    void nestingLimit()
    {
        // FictionBook and body count as two levels, the innermost title and its paragraph as two more.
        for (const int sections : { FbBook::kMaxDepth - 4, FbBook::kMaxDepth - 3 }) {
            Fb2Builder builder;
            builder.setDescriptionXml(QString());
            builder.addBody(Fb2Builder::nestedSections(sections, QString()));
            FbBook book;
            QCOMPARE(book.load(writeBook(builder), QString()), sections == FbBook::kMaxDepth - 4);
        }

        // A hundred thousand levels of emphasis do not reach the stack either.
        Fb2Builder hostile;
        hostile.addBody(Fb2Builder::section(
            Fb2Builder::pXml(QString("<emphasis>").repeated(100000) + QString("</emphasis>").repeated(100000))));
        QVERIFY(hostile.write(path("hostile.fb2")));
        FbBook hostileBook;
        QVERIFY(!hostileBook.load(path("hostile.fb2"), QString()));
    }

    void malformedRegressions()
    {
        // Inputs that once broke the reader: each must fail cleanly.
        const QDir dir(testpaths::malformedDir(QStringLiteral("fb2")));
        const QStringList files = dir.entryList(QDir::Files);
        QVERIFY(!files.isEmpty());
        for (const QString& name : files) {
            FbBook book;
            QVERIFY2(!book.load(dir.filePath(name), QString()), qPrintable(name));
        }
    }

    void escapeXmlText()
    {
        QString controls = QStringLiteral("x\fy\x01z\tw");
        controls += QChar(0xFFFF);
        controls += QChar(0xD800); // unpaired high half
        controls += QStringLiteral("v");
        controls += QChar(0xDC00); // unpaired low half
        QCOMPARE(fb2::escapeXmlText(controls), QStringLiteral("xyz\twv"));
        const QString pair = QString::fromUcs4(U"\U0001F600");
        QCOMPARE(fb2::escapeXmlText(pair), pair);
    }

    void bodyPages_data()
    {
        QTest::addColumn<bool>("cover");
        QTest::addColumn<QStringList>("bodies");
        QTest::addColumn<QStringList>("pages");

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
        // Chapter files of an earlier load go, whatever their case; other files and folders stay.
        QDir().mkpath(out + "/sub");
        for (const char* name :
            { "b_9.html", "UPPER.HTML", ".hidden.html", "cut_3.html.part", "notes.txt", "sub/kept.html" })
            QVERIFY(testfiles::write(out + "/" + name, "x"));
        Fb2Builder builder;
        for (const QString& body : bodies)
            builder.addBody(body);
        FbDocument document(writeBook(builder));
        QVERIFY(document.load(out));
        // A second load into the same folder gives the same chapters and contents, not more.
        QVERIFY(document.load(out));
        QCOMPARE(document.toc().size(), bodies.size());
        QStringList files = document.chapters() + QStringList({ "notes.txt", "sub" });
        if (cover)
            files << "cover.png";
        files.sort();
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name), files);
        QVERIFY(QFileInfo::exists(out + "/sub/kept.html"));
        QCOMPARE(document.chapters().size(), pages.size());
        for (int i = 0; i < pages.size(); ++i)
            QCOMPARE(readText(out + "/" + document.chapters().at(i)), kBodyHead + pages.at(i));
    }

    // Notes share one page; links into the book (to a later page, a note, back from a note) keep
    // their words and lead to their section's heading, a broken one is its words alone.
    void notesBody()
    {
        Fb2Builder builder;
        builder.addBody(Fb2Builder::section(Fb2Builder::p("story")
                + "<p>Alpha <a l:href=\"#s&quot;2&amp;\">word</a> after.</p>"
                  "<p>Please see <a l:href=\"#gone\">the <emphasis>policy</emphasis></a> for more.</p>"
                  "<p>Noted<a l:href=\"#n2\" type=\"note\">[2]</a>.</p>",
            "Chapter", "c1"));
        builder.addBody(Fb2Builder::title({ "Notes" }) + section("1", Fb2Builder::p("first note"))
                + Fb2Builder::section("<p>second note, <a l:href=\"#c1\">back</a></p>"
                        + section("2a", Fb2Builder::p("inner note")) + Fb2Builder::p("after inner"),
                    "2", "n2"),
            QStringLiteral("notes"));
        builder.addBody(section("Remark", Fb2Builder::p("comment")), QStringLiteral("comments"));
        builder.addBody(Fb2Builder::section(Fb2Builder::p("ordinary"), "Kept", "s\"2&"), QStringLiteral("Notes"));
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
        QVERIFY(QRegularExpression(QStringLiteral("first note.*second note.*inner note.*after inner"))
                    .match(notes)
                    .hasMatch());
        QVERIFY(!notes.contains("page-break"));

        // The notes lead to anchors in their one page; a body named with a capital N is an
        // ordinary body with section pages.
        QStringList toc = contents(document);
        const QString noteAnchor = toc.value(4).section('#', 1);
        QVERIFY(notes.contains(QStringLiteral("<h4 class='section' id='%1'><p>2</p></h4>").arg(noteAnchor)));
        const auto anchorOf = [](const QString& page, const QString& title) {
            return QRegularExpression(QStringLiteral("<h4 class='section' id='([0-9a-f]{32})'><p>%1</p>").arg(title))
                .match(page)
                .captured(1);
        };
        const QString chapter = readText(out + "/n_2.html");
        const QString keptAnchor = anchorOf(readText(out + "/n_6.html"), "Kept");
        QVERIFY(!keptAnchor.isEmpty());
        QVERIFY2(
            chapter.contains(QStringLiteral("<p>Alpha <a href=\"n_6.html#%1\">word</a> after.</p>").arg(keptAnchor)),
            qPrintable(chapter));
        QVERIFY(chapter.contains("<p>Please see the <i>policy</i> for more.</p>"));
        QVERIFY(chapter.contains(QStringLiteral("<p>Noted<a href=\"n_3.html#%1\">[2]</a>.</p>").arg(noteAnchor)));
        QVERIFY2(notes.contains(QStringLiteral("<p>second note, <a href=\"n_2.html#%1\">back</a></p>")
                                    .arg(anchorOf(chapter, "Chapter"))),
            qPrintable(notes));
        toc.replaceInStrings(QRegularExpression(QStringLiteral("#[0-9a-f]{32}$")), QStringLiteral("#id"));
        QCOMPARE(toc,
            QStringList({ "Test Book -> n_1.html", "  Chapter -> n_2.html", "Notes -> n_3.html", "  1 -> n_3.html",
                "  2 -> n_3.html#id", "    2a -> n_3.html#id", "Remark comment -> n_4.html", "  Remark -> n_4.html",
                "Kept ordinary -> n_5.html", "  Kept -> n_6.html" }));
    }

    // No contents row without words: a section without a heading is named by its first words,
    // cut at a blank and marked "…", as plain text; the main body by the book's title.
    void untitledEntriesNamed_data()
    {
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("bookTitle");
        QTest::addColumn<QStringList>("bodies");
        QTest::addColumn<QStringList>("contents");

        // A converted guide: no headings anywhere, its paragraphs indented as the converter wrote
        // them, its pages but the first opening with the same navigation line (the words after
        // it name them); one part holds another without words of its own. In cp1251 and as its
        // UTF-8 twin.
        const auto indented = [](const QString& text) {
            return Fb2Builder::pXml("\n            " + Fb2Builder::esc(text) + "\n        ");
        };
        const QString navigation = Fb2Builder::pXml(QStringLiteral(
            "\n            вперёд\n            назад |\n            Ubuntu Packaging Guide »\n        "));
        const auto page = [&](const QString& heading) {
            return Fb2Builder::section(navigation + indented(heading) + indented(kRussian));
        };
        const QStringList guide { Fb2Builder::section(indented(kRussian)) + page(QStringLiteral("1. Введение"))
            + page(QStringLiteral("Глава без заголовка."))
            + Fb2Builder::section(page(QStringLiteral("2. Начало работы"))) };
        const QStringList guideContents { "Мастер -> g_1.html",
            "  Однажды весною, в час небывало жаркого заката, в… -> g_2.html",
            "  1. Введение Однажды весною, в час небывало жаркого… -> g_3.html",
            "  Глава без заголовка. Однажды весною, в час… -> g_4.html",
            "  2. Начало работы Однажды весною, в час небывало… -> g_5.html",
            "    2. Начало работы Однажды весною, в час небывало… -> g_5.html" };
        QTest::newRow("cp1251 guide") << "windows-1251" << QStringLiteral("Мастер") << guide << guideContents;
        QTest::newRow("UTF-8 twin") << "UTF-8" << QStringLiteral("Мастер") << guide << guideContents;

        const QString word = QString(60, QLatin1Char('x'));
        QTest::newRow("markup, parts, pictures, notes")
            << "UTF-8" << QStringLiteral("Field Guide")
            << QStringList { Fb2Builder::section("<p>Tom &amp; <emphasis>Jer</emphasis>ry &lt;list&gt;</p>")
                       + Fb2Builder::section(section("Chapter 1", Fb2Builder::p("Text of one.")))
                       + Fb2Builder::section(Fb2Builder::image("map.png")) + Fb2Builder::section(Fb2Builder::p(word)),
                   Fb2Builder::section(Fb2Builder::pXml("\n            <emphasis>Notes</emphasis>\n            to "
                                                        "the\n            <strong>guide</strong>\n        ")
                       + Fb2Builder::p("A lamp of the old kind, with a wick and a glass.")) }
            << QStringList { "Field Guide -> g_1.html", "  Tom & Jerry <list> -> g_2.html",
                   "  Chapter 1 Text of one. -> g_3.html", "    Chapter 1 -> g_3.html", "  Field Guide -> g_4.html",
                   "  " + word.left(50) + "… -> g_5.html",
                   "Notes to the guide A lamp of the old kind, with a… -> g_6.html",
                   "  Notes to the guide A lamp of the old kind, with a… -> g_6.html" };
    }

    void untitledEntriesNamed()
    {
        QFETCH(QString, codec);
        QFETCH(QString, bookTitle);
        QFETCH(QStringList, bodies);
        QFETCH(QStringList, contents);
        Fb2Builder builder;
        builder.setEncoding(codec);
        builder.setBookTitle(bookTitle);
        builder.addBody(bodies.first());
        if (bodies.size() > 1)
            builder.addBody(bodies.last(), QStringLiteral("notes"));
        FbDocument document(writeBook(builder));
        QVERIFY(document.load(folder(QStringLiteral("g"))));
        QCOMPARE(::contents(document), contents);
    }

    // Text-level markup nested hundreds deep (the file's nesting limit allows it) does not nest
    // the page that deep: the tags beyond the bound go, the text stays in order. Markup of an
    // ordinary depth is written as it was.
    void deepInlineMarkupNestsShallow_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<bool>("kept");
        QTest::newRow("900 levels") << 900 << false;
        QTest::newRow("20 levels") << 20 << true;
    }

    void deepInlineMarkupNestsShallow()
    {
        QFETCH(int, levels);
        QFETCH(bool, kept);
        QString inner = QStringLiteral("core");
        QString text = inner;
        for (int i = levels - 1; i >= 0; --i) {
            const QString tag = i % 2 ? QStringLiteral("strong") : QStringLiteral("emphasis");
            inner = QStringLiteral("<%1>w%2 %3</%1>").arg(tag).arg(i).arg(inner);
            text = QStringLiteral("w%1 %2").arg(i).arg(text);
        }
        Fb2Builder builder;
        builder.addBody(Fb2Builder::section(
            Fb2Builder::p("before") + Fb2Builder::pXml(inner) + Fb2Builder::p("after"), QStringLiteral("Deep")));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("d"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters(), QStringList({ "d_1.html", "d_2.html" }));
        const QString page = readText(out + "/d_2.html");
        const int depth = HtmlNesting::depth(page.toUtf8(), HtmlNesting::Html);
        QVERIFY2(depth <= HtmlNesting::MaxDepth, qPrintable(QString::number(depth)));
        QVERIFY(
            QString(page).remove(QRegularExpression(QStringLiteral("<[^>]*>"))).contains("before" + text + "after"));
        QCOMPARE(page.contains(QStringLiteral("<i>w0 <b>w1 <i>w2 ")), true);
        QCOMPARE(page.count(QStringLiteral("<i>")) == (levels + 1) / 2, kept);
    }

    // A poem of thousands of verses is written as lines apart by line breaks: its page holds
    // them in blocks to lay out one by one, every verse once and in order. A short poem's
    // page is written as it was.
    void longPoemWrittenInBlocks_data()
    {
        QTest::addColumn<int>("verses");
        QTest::addColumn<bool>("kept");
        QTest::newRow("12,000 verses") << 12000 << false;
        QTest::newRow("1,000 verses") << 1000 << true;
    }

    void longPoemWrittenInBlocks()
    {
        QFETCH(int, verses);
        QFETCH(bool, kept);
        QStringList lines;
        for (int i = 0; i < verses; ++i)
            lines << QStringLiteral("The weaver sat at the loom from morning to night, verse %1").arg(i);
        Fb2Builder builder;
        builder.addBody(section("Song", Fb2Builder::poem({ lines })));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("p"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters().size(), 2);
        const QString page = readText(out + "/" + document.chapters().at(1));
        QCOMPARE(page.contains(lines.join(QLatin1String("</br>")) + "</br>"), kept);
        QCOMPARE(page.count(QStringLiteral("<div>")) > 20, !kept);
        QVERIFY(QString(page).remove(QRegularExpression(QStringLiteral("<[^>]*>"))).contains(lines.join(QString())));
    }

    // A parent section has no page, but its heading, epigraph and content are kept in order
    // around its chapters' pages; one that starts with an image keeps its page, before its chapters.
    void parentSectionContent()
    {
        Fb2Builder builder;
        const QString part = Fb2Builder::title({ "Part", "One" }) + Fb2Builder::epigraph(Fb2Builder::p("motto"))
            + Fb2Builder::p("intro") + section("Ch 1", Fb2Builder::p("text 1")) + Fb2Builder::p("between")
            + section("Ch 2", Fb2Builder::p("text 2")) + Fb2Builder::p("after");
        const QString maps = section("Maps",
            Fb2Builder::image("map.png") + Fb2Builder::p("legend") + section("Ch 3", Fb2Builder::p("text 3"))
                + "<p>tail <a l:href=\"#part\">up</a></p>");
        builder.addBody(Fb2Builder::title({ "Tom & Jerry", "Project <list@example.org>" })
            + Fb2Builder::section(part, QString(), "part") + maps);
        builder.addBinary(QStringLiteral("map.png"), EpubBuilder::png(3, 2));
        FbDocument document(writeBook(builder));
        const QString out = folder(QStringLiteral("p"));
        QVERIFY(document.load(out));
        QCOMPARE(document.chapters(), QStringList({ "p_1.html", "p_2.html", "p_3.html", "p_4.html", "p_5.html" }));
        QCOMPARE(contents(document),
            // Titles are plain text: the title's markup characters are shown as they were written.
            QStringList({ "Tom & Jerry  Project <list@example.org> -> p_1.html", "  Part  One -> p_2.html",
                "    Ch 1 -> p_2.html", "    Ch 2 -> p_3.html", "  Maps -> p_4.html", "    Ch 3 -> p_5.html" }));
        const QList<TocPoint> toc = document.toc();
        QVERIFY(toc[0].children[0].link == toc[0].children[0].children[0].link);

        const QString first = readText(out + "/p_2.html").replace(QRegularExpression("id='[0-9a-f]{32}'"), "id=''");
        const QString second = readText(out + "/p_3.html");
        QCOMPARE(first,
            kSectionHead
                + "<h4 class='section' id=''><p>Part</p><p>One</p></h4><p><p>motto</p></p><p>intro</p><h4 "
                  "class='section' id=''><p>Ch 1</p></h4><p>text 1</p><p>between</p>"
                + kEnd);
        QVERIFY2(second.endsWith("<p>text 2</p><p>after</p>" + kEnd), qPrintable(second));
        QVERIFY(!second.contains("intro") && !second.contains("between"));
        const QString own = readText(out + "/p_4.html");
        QVERIFY2(
            own.contains("<img src=\"map.png\" /><p>legend</p>") && !own.contains("<p>text 3</p>"), qPrintable(own));
        // A link to the parent leads to its heading on the first page below it.
        const QString partAnchor
            = QRegularExpression("id='([0-9a-f]{32})'><p>Part</p>").match(readText(out + "/p_2.html")).captured(1);
        QVERIFY(!partAnchor.isEmpty());
        QVERIFY(readText(out + "/p_5.html")
                    .endsWith(QStringLiteral("<p>text 3</p><p>tail <a href=\"p_2.html#%1\">up</a></p>").arg(partAnchor)
                        + kEnd));
        QCOMPARE(QImage(out + "/map.png").size(), QSize(3, 2));
    }

    void pageImages()
    {
        const QByteArray png = EpubBuilder::png(5, 4);
        const QByteArray jpeg = MobiWriter::image(QSize(6, 3), Qt::red, "JPG");
        Fb2Builder builder;
        // An image inside a paragraph, whose id names no format.
        builder.addBody(section("S", Fb2Builder::p("x") + Fb2Builder::image("it's\".png"))
            + section("T", QStringLiteral("<p>before <image l:href=\"#nosuffix\"/> after</p>")));
        for (const char* id : { "plain.jpg", "nosuffix", "../escape.png", "sub/dir.png", "back\\slash.png",
                 ".hidden.png", "a..b.png", "it's\".png", "cover.png", "odd.xyz" })
            builder.addBinary(QString::fromLatin1(id), QByteArray(id) == "plain.jpg" ? jpeg : png);
        const QString out = folder(QStringLiteral("img"));
        QVERIFY(testfiles::write(out + "/cover.png", EpubBuilder::png(7, 7)));
        FbDocument document(writeBook(builder));
        QVERIFY(document.load(out));

        QVERIFY(testfiles::read(out + "/plain.jpg").startsWith("\xff\xd8")); // JPEG, as the suffix says
        QCOMPARE(QImage(out + "/it's\".png").size(), QSize(5, 4));
        // The library's cover is not replaced by the book's binary of that name.
        QCOMPARE(QImage(out + "/cover.png").size(), QSize(7, 7));
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
            QStringList({ "cover.png", "img_1.html", "img_2.html", "img_3.html", "it's\".png", "nosuffix", "odd.xyz",
                "plain.jpg" }));
        // Written in a format the page's image loader recognises from the bytes.
        QCOMPARE(QImage(out + "/nosuffix").size(), QSize(5, 4));
        QVERIFY(readText(out + "/img_3.html").contains("<p>before <img src=\"nosuffix\" /> after</p>"));
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
        for (const QString& path : { path("missing.fb2"), path("garbage.fb2") }) {
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
    }
};

QTEST_MAIN(TestFb2)
#include "tst_fb2.moc"
