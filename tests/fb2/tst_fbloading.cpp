#include "epubbuilder.h"
#include "fb2builder.h"
#include "fbtesthelpers.h"
#include "formats/fb2/fbbook.h"
#include "sevenzwriter.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"
#include "zipwriter.h"

#include "appdirs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTextCodec>

using fb2::FbBook;

Q_DECLARE_METATYPE(ZipEntry)

namespace {

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

QByteArray encoded(const char* codec, const QString& text)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForName(codec)->fromUnicode(text.constData(), text.size(), &state);
}

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

} // namespace

class TestFbLoading : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeBook();
    void prologEncodings_data();
    void prologEncodings();
    void suffixes();
    void plainText_data();
    void plainText();
    void plainTextNames();
    void zipFb2();
    void zipRefused_data();
    void zipRefused();
    void archivedBooks_data();
    void archivedBooks();
    void sevenZipScratchFolder();
    void hugeFilesRefused();
    void nestingLimit();
    void malformedRegressions();

private:
    QString path(const QString& name) const { return m_home->filePath(name); }
    TempHome* m_home = nullptr;
};

void TestFbLoading::init()
{
    m_home = new TempHome;
    QVERIFY(m_home->isValid());
}

void TestFbLoading::cleanup()
{
    delete m_home;
    m_home = nullptr;
}

void TestFbLoading::wholeBook()
{
    Fb2Builder builder;
    builder.setBookTitle("The Tale");
    builder.addAuthor({ "Anna", QString(), "Berg", QString(), QString() });
    builder.setCoverImages({ "cover.png" });
    builder.addBody(Fb2Builder::image("cover.png") + Fb2Builder::title({ "The Tale" })
        + Fb2Builder::epigraph(Fb2Builder::p("Motto") + "<text-author>Sage</text-author>")
        + Fb2Builder::section(
            Fb2Builder::section(Fb2Builder::image("pic.png", "xlink:href") + Fb2Builder::p("First & foremost")
                    + Fb2Builder::pXml("Note<a l:href=\"#n1\" type=\"note\">1</a> here")
                    + Fb2Builder::poem({ { "Roses", "Violets" } }, "Song")
                    + Fb2Builder::cite(Fb2Builder::p("Quoted") + Fb2Builder::emptyLine())
                    + Fb2Builder::table({ { "cell" } }) + Fb2Builder::subtitle("Later"),
                "Chapter 1", "c1")
                + Fb2Builder::section(Fb2Builder::p("Two"), "Chapter 2"),
            "Part One"));
    builder.addBody(Fb2Builder::title({ "Notes" }) + Fb2Builder::section(Fb2Builder::p("A note."), "1", "n1"), "notes");
    builder.addBinary("pic.png", EpubBuilder::png(6, 3));
    builder.addBinary("cover.png", EpubBuilder::png(2, 2));
    QVERIFY(builder.write(path("tale.fb2")));

    FbBook book;
    QVERIFY(book.load(path("tale.fb2"), QString()));
    QCOMPARE(book.title(), QStringLiteral("The Tale"));
    QCOMPARE(book.authorName(), QStringLiteral("Berg Anna "));
    QCOMPARE(book.binaries.keys(), QStringList({ "cover.png", "pic.png" }));
    QCOMPARE(book.coverImage().size(), QSize(2, 2));
    QCOMPARE(book.description.titleInfo.coverImageRef, QStringLiteral("cover.png"));

    QCOMPARE(book.bodies.size(), 2);
    fb2::FbBody& main = book.bodies[0];
    QCOMPARE(main.image, QStringLiteral("cover.png"));
    QCOMPARE(main.title, QStringLiteral("<p>The Tale</p>"));
    QCOMPARE(main.epigraphs, QStringList({ "<p>Motto</p>" }));
    QCOMPARE(main.sections.size(), 1);
    fb2::FbSection& part = main.sections[0];
    QCOMPARE(fb2::plainTitle(part.title), QStringLiteral("Part One"));
    QCOMPARE(part.sections.size(), 2);
    const fb2::FbSection& chapter = part.sections[0];
    QCOMPARE(chapter.id, QStringLiteral("c1"));
    QCOMPARE(chapter.image, QStringLiteral("pic.png"));
    QCOMPARE(chapter.content,
        QStringLiteral("<p>First &amp; foremost</p><p>Note here</p><p>Song</p>Roses</br>Violets</br>"
                       "<p>Quoted</p></br><p class=\"subtitle\">Later</p>"));
    const QString html = part.toHtml(false);
    QCOMPARE(html.count(QStringLiteral("First &amp; foremost")), 1);
    QCOMPARE(html.count(QStringLiteral("<p>Two</p>")), 1);
    QVERIFY(!html.contains(QStringLiteral("cell")));

    QCOMPARE(book.bodies[1].name, QStringLiteral("notes"));
    QCOMPARE(book.bodies[1].sections[0].content, QStringLiteral("<p>A note.</p>"));
}

void TestFbLoading::prologEncodings_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("declared"); // null: the codec's name
    QTest::addColumn<char>("quote");
    QTest::addColumn<bool>("bom");
    QTest::addColumn<bool>("oneLine");

    QTest::newRow("cp1251, double quotes") << "windows-1251" << QString() << '"' << false << false;
    QTest::newRow("cp1251, single quotes") << "windows-1251" << QString() << '\'' << false << false;
    QTest::newRow("cp1251, one line") << "windows-1251" << QString() << '\'' << false << true;
    QTest::newRow("KOI8-R") << "KOI8-R" << QString() << '"' << false << false;
    QTest::newRow("UTF-8 with mark") << "UTF-8" << QString() << '"' << true << false;
    QTest::newRow("UTF-16 with mark") << "UTF-16LE" << QString("UTF-16") << '"' << true << false;
    QTest::newRow("mark beats the declaration") << "UTF-8" << QString("windows-1251") << '"' << true << false;
    QTest::newRow("unknown name, cp1251 bytes") << "windows-1251" << QString("x-unknown") << '"' << false << false;
    QTest::newRow("unknown name, UTF-8 bytes") << "UTF-8" << QString("x-unknown") << '"' << false << false;
}

void TestFbLoading::prologEncodings()
{
    QFETCH(QString, codec);
    QFETCH(QString, declared);
    QFETCH(char, quote);
    QFETCH(bool, bom);
    QFETCH(bool, oneLine);

    Fb2Builder builder;
    builder.setEncoding(codec, quote);
    if (!declared.isNull())
        builder.setDeclaredEncoding(declared);
    builder.setByteOrderMark(bom);
    builder.setOneLine(oneLine);
    builder.setBookTitle(QStringLiteral("Мастер"));
    builder.addBody(Fb2Builder::section(Fb2Builder::p(kRussian)));
    QVERIFY(builder.write(path("book.fb2")));

    FbBook book;
    QVERIFY(book.load(path("book.fb2"), QString()));
    QCOMPARE(book.title(), QStringLiteral("Мастер"));
    QCOMPARE(textContent(book), paragraphs({ kRussian }));
}

void TestFbLoading::suffixes()
{
    Fb2Builder builder;
    builder.addBody(Fb2Builder::section(Fb2Builder::p("inside")));
    QVERIFY(builder.write(path("Book.FB2")));
    QVERIFY(builder.writeZip(path("book.Zip"), "INNER.FB2"));
    QVERIFY(testfiles::write(path("notes.TXT"), "<FictionBook/>"));
    // No suffix: read as FB2.
    QVERIFY(builder.write(path("nosuffix")));

    FbBook fb2;
    QVERIFY(fb2.load(path("Book.FB2"), QString()));
    QCOMPARE(textContent(fb2), QStringLiteral("<p>inside</p>"));
    FbBook zipped;
    QVERIFY(zipped.load(path("book.Zip"), QString()));
    QCOMPARE(textContent(zipped), QStringLiteral("<p>inside</p>"));
    FbBook text;
    QVERIFY(text.load(path("notes.TXT"), QString()));
    QCOMPARE(textContent(text), QStringLiteral("<p>&lt;FictionBook/&gt;</p>"));
    QCOMPARE(text.title(), QStringLiteral("notes"));
    FbBook bare;
    QVERIFY(bare.load(path("nosuffix"), QString()));
}

void TestFbLoading::plainText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("codecName");
    QTest::addColumn<QString>("content");

    QTest::newRow("UTF-8 without mark") << kRussian.toUtf8() << QString() << paragraphs({ kRussian });
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBF") + kRussian.toUtf8() << QString()
                                     << paragraphs({ kRussian });
    QTest::newRow("UTF-16 with mark") << QByteArray("\xFF\xFE") + encoded("UTF-16LE", "a\nb") << QString()
                                      << paragraphs({ "a", "b" });
    QTest::newRow("named codec") << encoded("windows-1251", kRussian) << QString("windows-1251")
                                 << paragraphs({ kRussian });
    QTest::newRow("named codec, other letter case")
        << encoded("KOI8-R", kRussian) << QString("koi8-r") << paragraphs({ kRussian });
    QTest::newRow("mark beats the named codec")
        << QByteArray("\xEF\xBB\xBF") + kRussian.toUtf8() << QString("windows-1251") << paragraphs({ kRussian });
    QTest::newRow("unknown named codec: UTF-8")
        << kRussian.toUtf8() << QString("x-unknown") << paragraphs({ kRussian });
    // Legacy code pages without a name are guessed, never shown as replacement characters.
    QTest::newRow("cp1251 guessed") << encoded("windows-1251", kRussian) << QString() << paragraphs({ kRussian });
    QTest::newRow("KOI8-R guessed") << encoded("KOI8-R", kRussian) << QString() << paragraphs({ kRussian });
    QTest::newRow("cp1250 guessed") << encoded("windows-1250", kPolish) << QString() << paragraphs({ kPolish });
    // The Greek sentence in code page 737, byte by byte.
    const QByteArray greek737
        = QByteArray::fromHex("92a620a7a8e0e520a620af98a8e1aa20a5e7a7a49ea99c20a4e0a8e5aa20a198a020a198abe2"
                              "999ea19c20a9aba620a2a0a3e1a4a02e2086209fe1a298a9a99820e3ab98a420e3a9acae9e2e");
    QTest::newRow("cp737 guessed") << greek737 << QString() << paragraphs({ kGreek });
    const QString french = QStringLiteral("Déjà l'été: à Noël, où irons-nous? Chez Hélène, près de la forêt.");
    QTest::newRow("cp1252 not taken for Greek")
        << encoded("windows-1252", french) << QString() << paragraphs({ french });
    QTest::newRow("Shift-JIS guessed") << encoded("Shift_JIS", kJapanese) << QString() << paragraphs({ kJapanese });
    QTest::newRow("Big5 guessed") << encoded("Big5", kChinese) << QString() << paragraphs({ kChinese });
    QTest::newRow("UTF-16BE without mark")
        << encoded("UTF-16BE", kRussian + "\n" + kPolish) << QString() << paragraphs({ kRussian, kPolish });
    QTest::newRow("UTF-8 Japanese kept") << kJapanese.toUtf8() << QString() << paragraphs({ kJapanese });
    QTest::newRow("empty file") << QByteArray() << QString() << QString();
    QTest::newRow("three lines, middle empty")
        << QByteArray("one\r\n\r\nthree\r\n") << QString() << paragraphs({ "one", "", "three" });
    QTest::newRow("markup characters") << QByteArray("a < b & \"c\" > d") << QString()
                                       << paragraphs({ "a &lt; b &amp; &quot;c&quot; &gt; d" });
    QTest::newRow("control characters dropped")
        << QByteArray("page\fbreak\x01\n") << QString() << paragraphs({ "pagebreak" });
}

void TestFbLoading::plainText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, codecName);
    QFETCH(QString, content);
    QVERIFY(testfiles::write(path("story.txt"), bytes));
    FbBook book;
    QVERIFY(book.load(path("story.txt"), codecName));
    QCOMPARE(textContent(book), content);
    QCOMPARE(book.title(), QStringLiteral("story"));
    QVERIFY(book.bodies.first().sections.first().title.isEmpty());
}

void TestFbLoading::plainTextNames()
{
    // The title is the base name up to the first dot, escaped on the way into XML.
    QVERIFY(testfiles::write(path("Tom & Jerry.v2.txt"), "line"));
    FbBook book;
    QVERIFY(book.load(path("Tom & Jerry.v2.txt"), QString()));
    QCOMPARE(book.title(), QStringLiteral("Tom & Jerry"));
    QVERIFY(!book.load(path("missing.txt"), QString()));
}

void TestFbLoading::zipFb2()
{
    // A one-line cp1251 book: the prolog is found in the raw bytes and the whole entry decoded.
    Fb2Builder builder;
    builder.setEncoding("windows-1251");
    builder.setOneLine(true);
    builder.setBookTitle(QStringLiteral("Мастер"));
    builder.addBody(Fb2Builder::section(Fb2Builder::p(kRussian)));
    QVERIFY(builder.writeZip(path("book.fb2.zip"), "book.fb2"));
    FbBook book;
    QVERIFY(book.load(path("book.fb2.zip"), QString()));
    QCOMPARE(book.title(), QStringLiteral("Мастер"));
    QCOMPARE(textContent(book), paragraphs({ kRussian }));

    // The size limit counts decompressed bytes: a well-compressed entry is refused all the same.
    const QByteArray big = builder.bytes() + QByteArray(64 * 1024, ' ');
    QVERIFY(ZipWriter::write(path("big.zip"), { { "big.fb2", big } }));
    QVERIFY(QFileInfo(path("big.zip")).size() < 16 * 1024);
    FbBook limited;
    limited.setMaxInputBytes(32 * 1024);
    QVERIFY(!limited.load(path("big.zip"), QString()));
    limited.setMaxInputBytes(big.size());
    QVERIFY(limited.load(path("big.zip"), QString()));
}

void TestFbLoading::zipRefused_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");

    Fb2Builder builder;
    builder.addBody(Fb2Builder::section(Fb2Builder::p("x")));
    const QByteArray fb2 = builder.bytes();
    QTest::newRow("two entries") << QList<ZipEntry> { { "book.fb2", fb2 }, { "readme.txt", "hi" } };
    QTest::newRow("folder and book") << QList<ZipEntry> { { "dir/", QByteArray() }, { "dir/book.fb2", fb2 } };
    QTest::newRow("a PDF") << QList<ZipEntry> { { "book.pdf", "%PDF-1.4" } };
    QTest::newRow("no entries") << QList<ZipEntry>();
    QTest::newRow("not XML") << QList<ZipEntry> { { "book.fb2", "<FictionBook><body>" } };
}

void TestFbLoading::zipRefused()
{
    QFETCH(QList<ZipEntry>, entries);
    QVERIFY(ZipWriter::write(path("bad.zip"), entries) || entries.isEmpty());
    FbBook book;
    QVERIFY(!book.load(path("bad.zip"), QString()));
}

void TestFbLoading::archivedBooks_data()
{
    QTest::addColumn<QString>("archive"); // its suffix picks the reader
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("codecName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("content");

    // A text in a ZIP archive: its first line is the title when it is short enough.
    const QString line60(60, QLatin1Char('x'));
    const QString line61(61, QLatin1Char('x'));
    const QString text = QStringLiteral("Глава первая\n") + kRussian + QStringLiteral("\n");
    const QStringList lines { QStringLiteral("Глава первая"), kRussian };
    const auto zipText = [](const char* name) -> QTestData& {
        return QTest::newRow(name) << "text.zip"
                                   << "Story.TXT";
    };
    zipText("zip: cp1251 detected") << encoded("windows-1251", text) << QString() << lines.first() << paragraphs(lines);
    zipText("zip: KOI8-R detected") << encoded("KOI8-R", text) << QString() << lines.first() << paragraphs(lines);
    zipText("zip: UTF-8 kept") << text.toUtf8() << QString() << lines.first() << paragraphs(lines);
    zipText("zip: UTF-16 without mark") << encoded("UTF-16LE", text) << QString() << lines.first() << paragraphs(lines);
    zipText("zip: named codec") << encoded("KOI8-R", text) << QString("KOI8-R") << lines.first() << paragraphs(lines);
    zipText("zip: 60 characters are a title")
        << (line60 + "\nrest").toUtf8() << QString() << line60 << paragraphs({ line60, "rest" });
    zipText("zip: 61 are not") << (line61 + "\nrest").toUtf8() << QString() << QString()
                               << paragraphs({ line61, "rest" });
    zipText("zip: escaped title") << QByteArray("A & B\n") << QString() << "A & B" << paragraphs({ "A &amp; B" });
    zipText("zip: empty entry") << QByteArray() << QString() << QString() << QString();

    // In a 7z archive the first book is taken, and a text's title is its name.
    Fb2Builder builder;
    builder.setEncoding("windows-1251", '\'');
    builder.setOneLine(true);
    builder.setBookTitle(QStringLiteral("Мастер"));
    builder.addBody(Fb2Builder::section(Fb2Builder::p(kRussian)));
    QTest::newRow("7z: FB2") << "book.7Z"
                             << "tale.fb2" << builder.bytes() << QString() << QStringLiteral("Мастер")
                             << paragraphs({ kRussian });
    QTest::newRow("7z: FB2 in a folder") << "book.7Z"
                                         << "books/deep/Tale.FB2" << builder.bytes() << QString()
                                         << QStringLiteral("Мастер") << paragraphs({ kRussian });
    QTest::newRow("7z: cp1251 text detected") << "book.7Z"
                                              << "Повесть.txt" << encoded("windows-1251", kRussian) << QString()
                                              << QStringLiteral("Повесть") << paragraphs({ kRussian });
    QTest::newRow("7z: KOI8-R text detected") << "book.7Z"
                                              << "story.v1.txt" << encoded("KOI8-R", kRussian) << QString()
                                              << QStringLiteral("story") << paragraphs({ kRussian });
    QTest::newRow("7z: named codec") << "book.7Z"
                                     << "story.txt" << encoded("KOI8-R", kRussian) << QString("KOI8-R")
                                     << QStringLiteral("story") << paragraphs({ kRussian });
}

void TestFbLoading::archivedBooks()
{
    QFETCH(QString, archive);
    QFETCH(QString, entry);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, codecName);
    QFETCH(QString, title);
    QFETCH(QString, content);
    if (archive.endsWith(".zip")) {
        QVERIFY(ZipWriter::write(path(archive), { { entry, bytes } }));
    } else {
        SevenZWriter writer(path(archive));
        writer.add(QStringLiteral("readme.md"), "not a book");
        writer.add(entry, bytes);
        QVERIFY(writer.write());
    }
    FbBook book;
    QVERIFY(book.load(path(archive), codecName));
    QCOMPARE(book.title(), title);
    QCOMPARE(textContent(book), content);
}

void TestFbLoading::sevenZipScratchFolder()
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

    // Archives without a book, and broken ones, fail.
    SevenZWriter noBook(path("nobook.7z"));
    noBook.add(QStringLiteral("book.pdf"), "%PDF-1.4");
    QVERIFY(noBook.write());
    QVERIFY(!FbBook().load(path("nobook.7z"), QString()));
    QVERIFY(testfiles::write(path("broken.7z"), "7z\xBC\xAF\x27\x1C garbage"));
    QVERIFY(!FbBook().load(path("broken.7z"), QString()));
}

void TestFbLoading::hugeFilesRefused()
{
    // Sparse files: large by size, nothing on disk. They are refused without being read.
    for (const QString& name : { QStringLiteral("huge.fb2"), QStringLiteral("huge.txt") }) {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(FbBook::kMaxInputBytes + 1));
        file.close();
        QElapsedTimer timer;
        timer.start();
        FbBook book;
        QVERIFY(!book.load(path(name), QString()));
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(book.bodies.isEmpty());
    }
    // The limit itself on a small book.
    QVERIFY(testfiles::write(path("small.txt"), QByteArray(1000, 'a')));
    FbBook book;
    book.setMaxInputBytes(999);
    QVERIFY(!book.load(path("small.txt"), QString()));
    book.setMaxInputBytes(1000);
    QVERIFY(book.load(path("small.txt"), QString()));
}

void TestFbLoading::nestingLimit()
{
    // FictionBook and body count as two levels, the innermost title and its paragraph as two more.
    const int allowedSections = FbBook::kMaxDepth - 4;
    Fb2Builder builder;
    builder.setDescriptionXml(QString());
    builder.addBody(Fb2Builder::nestedSections(allowedSections, QString()));
    QVERIFY(builder.write(path("deep.fb2")));
    FbBook deep;
    QVERIFY(deep.load(path("deep.fb2"), QString()));
    QCOMPARE(deep.title(), QStringLiteral("Level 1"));

    Fb2Builder deeper;
    deeper.setDescriptionXml(QString());
    deeper.addBody(Fb2Builder::nestedSections(allowedSections + 1, QString()));
    QVERIFY(deeper.write(path("deeper.fb2")));
    FbBook refused;
    QVERIFY(!refused.load(path("deeper.fb2"), QString()));

    // A hundred thousand levels of emphasis do not reach the stack either.
    Fb2Builder hostile;
    hostile.addBody(Fb2Builder::section(
        Fb2Builder::pXml(QString("<emphasis>").repeated(100000) + QString("</emphasis>").repeated(100000))));
    QVERIFY(hostile.write(path("hostile.fb2")));
    FbBook hostileBook;
    QVERIFY(!hostileBook.load(path("hostile.fb2"), QString()));
}

void TestFbLoading::malformedRegressions()
{
    // Inputs that once broke the reader: each must fail cleanly.
    const QDir dir(testpaths::malformedDir(QStringLiteral("fb2")));
    const QStringList files = dir.entryList(QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString& name : files) {
        FbBook book;
        QElapsedTimer timer;
        timer.start();
        QVERIFY2(!book.load(dir.filePath(name), QString()), qPrintable(name));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestFbLoading)
#include "tst_fbloading.moc"
