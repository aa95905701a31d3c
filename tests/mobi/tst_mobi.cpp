// MOBI books written by the test generator: headers and their bounds, the text codecs, the
// conversion to HTML, and mutated books that must neither crash nor hang.
#include "formats/endrequest.h"
#include "formats/htmlnesting.h"
#include "formats/inlineruns.h"
#include "formats/mobi/chapterparts.h"
#include "formats/mobi/headingmarkup.h"
#include "formats/mobi/huffcdicreader.h"
#include "formats/mobi/mobi.h"
#include "formats/mobi/mobidocument.h"
#include "formats/mobi/mobitext.h"
#include "mobiwriter.h"
#include "parsedmarkup.h"
#include "testfiles.h"
#include "testpaths.h"
#include "viewedmarkup.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWebFrame>
#include <QWebPage>
#include <QXmlStreamReader>
#include <QtEndian>

#include <functional>

using mobi::HeadingMarkup;
using mobi::Mobi;
using mobi::MobiDocument;

namespace {
// A field of record 0 (PalmDOC header first, the MOBI header 16 bytes in), as a file offset.
qint64 field(const QByteArray& book, int offset) { return MobiWriter::record0Start(book) + offset; }
qint64 mobiField(const QByteArray& book, int offset) { return field(book, 16 + offset); }

// Paragraphs of about `size` bytes with headings between them; Cyrillic every other one.
QByteArray sampleText(int size, bool cyrillic)
{
    const QString latin = QStringLiteral(
        "<p>It was the best of times, it was the worst of times, it was the age of wisdom, it was the age of "
        "foolishness, it was the epoch of belief, it was the epoch of incredulity.</p>\n");
    const QString russian = QStringLiteral("<p>Все счастливые семьи похожи друг на друга, каждая несчастливая семья "
                                           "несчастлива по-своему. Всё смешалось в доме Облонских.</p>\n");
    QByteArray text;
    int paragraph = 0;
    while (text.size() < size) {
        text += (cyrillic && paragraph % 2 ? russian : latin).toUtf8();
        text += QByteArray("<h2>Part ") + QByteArray::number(++paragraph) + "</h2>\n";
    }
    return text;
}

QString anchor(const QString& digits) { return QStringLiteral("<a id='%1' name='%1'>&nbsp;</a>").arg(digits); }

// A link target written as ten characters, like the ten digits real books use, so that
// resolving it changes no offset.
QByteArray token(const QByteArray& name) { return "#" + name.leftJustified(8, '_') + "#"; }

// Replaces the token of every name by the byte offset of the marker "@name@" in the text
// without the markers, then drops the markers.
QByteArray resolveLinks(QByteArray text, const QList<QByteArray>& names)
{
    QMap<int, QByteArray> markers;
    for (const QByteArray& name : names)
        markers.insert(text.indexOf("@" + name + "@"), name);
    int removed = 0;
    QHash<QByteArray, int> offsets;
    for (auto it = markers.cbegin(); it != markers.cend(); ++it) {
        offsets.insert(it.value(), it.key() - removed);
        removed += it.value().size() + 2;
    }
    for (const QByteArray& name : names) {
        text.replace("@" + name + "@", "");
        text.replace(token(name), QByteArray::number(offsets.value(name)).rightJustified(10, '0'));
    }
    return text;
}

// The fuzz loop produces thousands of expected warnings; they are not printed.
void swallowMessages(QtMsgType, const QMessageLogContext&, const QString&) { }

QList<QByteArray> fuzzSeeds()
{
    QByteArray text = "<html><body><p><a filepos=0000000300>jump</a></p>";
    for (int i = 0; i < 80; ++i) {
        text += "<h2>Глава " + QByteArray::number(i)
            + "</h2><p>Съешь же ещё этих мягких французских булок. The quick brown fox.</p><mbp:pagebreak/>";
        if (i % 7 == 3)
            text += "<img recindex=\"00001\">";
    }
    MobiWriter palmDoc;
    palmDoc.setText(text);
    palmDoc.setAuthor(QStringLiteral("Автор"));
    palmDoc.addImage(MobiWriter::image(QSize(16, 16), Qt::red, "PNG"));
    palmDoc.addImage(MobiWriter::image(QSize(8, 8), Qt::blue, "JPG"));
    palmDoc.setCoverOffset(0);
    palmDoc.setExtraDataFlags(0x3);
    palmDoc.setTrailerRecords(true);

    MobiWriter huff;
    huff.setText(text.left(6000));
    huff.setCompression(MobiWriter::Compression::HuffCdic);
    HuffCdicWriter::Options options;
    options.codeBits = 5;
    options.nestedWord = "fox";
    options.nestedDepth = 3;
    huff.setHuffCdicOptions(options);
    huff.setExtraDataFlags(0x1);
    return { palmDoc.build(), huff.build() };
}

quint32 extremeValue(QRandomGenerator& random)
{
    static const quint32 values[]
        = { 0, 1, 2, 3, 0x40, 0xE4, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF };
    return random.bounded(3) == 0 ? random.generate() : values[random.bounded(int(std::size(values)))];
}

QByteArray mutate(QByteArray book, QRandomGenerator& random)
{
    const int headerEnd = int(qMin<qint64>(book.size(), MobiWriter::record0Start(book) + 600));
    switch (random.bounded(6)) {
    case 0: // a few random bytes anywhere
        for (int k = 1 + random.bounded(8); k > 0; --k)
            book[random.bounded(book.size())] = char(random.bounded(256));
        break;
    case 1: // a 32-bit field in the headers
        MobiWriter::putBigEndian(book, random.bounded(headerEnd), extremeValue(random));
        break;
    case 2: // a 16-bit field in the headers
        MobiWriter::putBigEndian(book, random.bounded(headerEnd), extremeValue(random) & 0xFFFF, 2);
        break;
    case 3:
        book.truncate(random.bounded(book.size()));
        break;
    case 4: { // a record-list offset
        const int records = (uchar(book[76]) << 8) | uchar(book[77]);
        MobiWriter::putBigEndian(book, 78 + 8 * random.bounded(qMax(records, 1)), extremeValue(random));
        break;
    }
    default: // bytes in the back half (compressed text, dictionary, images)
        for (int k = 1 + random.bounded(16); k > 0; --k)
            book[book.size() / 2 + random.bounded(book.size() / 2)] = char(random.bounded(256));
        break;
    }
    return book;
}
}

class TestMobi : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString save(const QByteArray& book, const QString& suffix = QStringLiteral("mobi"))
    {
        const QString path = m_dir.filePath(QStringLiteral("book%1.%2").arg(++m_count).arg(suffix));
        if (!testfiles::write(path, book))
            qFatal("cannot write fixture %s", qPrintable(path));
        return path;
    }

    QString outputFolder()
    {
        const QString path = m_dir.filePath(QStringLiteral("out%1").arg(++m_count));
        QDir().mkpath(path);
        return path;
    }

    // Loads the book into a fresh folder and returns the one chapter written.
    QString convertedBook(MobiDocument& document)
    {
        const QString folder = outputFolder();
        if (!document.load(folder))
            return QString();
        return QString::fromUtf8(testfiles::read(folder + "/" + QFileInfo(folder).fileName() + ".html"));
    }

private slots:
    // Header fields that no longer fit the file: each is bounded by what is there. The book has
    // two uncompressed text records ("a" x 4096, "b" x 10) with one trailing entry each, a record
    // that is no image and an image. Expected: the record count; the text's size, first and last
    // byte; full name, author and EXTH record count; the first image record.
    void hostileHeaderFields_data()
    {
        QTest::addColumn<QString>("area");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("width");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("expected");
        const auto row
            = [](const char* tag, const char* area, int offset, int width, qint64 value, const char* expected) {
                  QTest::newRow(tag) << QString(area) << offset << width << value << QString(expected);
              };
        row("as written", "mobi", 0, 0, 0, "5 rec, text 4106 ab, Zero Title/Author/1, image 4");
        row("EXTH count past record 0", "exth", 8, 4, 0x7FFFFFFF, "5 rec, text 4106 ab, Zero Title/Author/1, image 4");
        row("EXTH record past record 0", "exth", 16, 4, 0x10000000, "5 rec, text 4106 ab, Zero Title//0, image 4");
        row("EXTH magic broken", "exth", 0, 4, 0x45585458, "5 rec, text 4106 ab, Zero Title//0, image 4");
        row("first non-book 0: all text", "mobi", 64, 4, 0, "5 rec, text 4204 aB, Zero Title/Author/1, image 4");
        row("first non-book -1", "mobi", 64, 4, -1, "5 rec, text 4204 aB, Zero Title/Author/1, image 4");
        row("first non-book past the end", "mobi", 64, 4, 1000, "5 rec, text 4204 aB, Zero Title/Author/1, image 5");
        row("first non-book 1: no text", "mobi", 64, 4, 1, "5 rec, text 0, Zero Title/Author/1, image 4");
        row("record 2 past the file", "file", 94, 4, 0x7FFFFFF0, "5 rec, text 4096 aa, Zero Title/Author/1, image 5");
        row("record count past the file", "file", 76, 2, 0xFFFF, "568 rec, text 0, //0, image 568");
        row("record size 100", "record0", 10, 2, 100, "5 rec, text 110 ab, Zero Title/Author/1, image 4");
        row("header too short for flags", "mobi", 4, 4, 0xE0, "5 rec, text 4110 a\u0084, Zero Title//0, image 4");
    }

    void hostileHeaderFields()
    {
        QFETCH(QString, area);
        QFETCH(int, offset);
        QFETCH(int, width);
        QFETCH(qint64, value);
        QFETCH(QString, expected);
        MobiWriter writer;
        writer.setText(QByteArray(4096, 'a') + QByteArray(10, 'b'));
        writer.setCompression(MobiWriter::Compression::None);
        writer.setExtraDataFlags(0x2);
        writer.setFullName("Zero Title");
        writer.setAuthor(QStringLiteral("Author"));
        writer.addImage("IMAGE");
        writer.addImage(MobiWriter::image(QSize(2, 2), Qt::red));
        QByteArray book = writer.build();
        const qint64 base = area == "file" ? 0
            : area == "record0"            ? field(book, 0)
            : area == "mobi"               ? mobiField(book, 0)
                                           : mobiField(book, MobiWriter::HeaderLength);
        if (width)
            MobiWriter::putBigEndian(book, base + offset, quint32(value), width);
        Mobi reader(save(book));
        qint64 total = 0;
        for (int i = 0; i < reader.recordCount(); ++i)
            total += reader.recordLength(i);
        // No byte is read twice, and no record is listed that the file cannot hold.
        QVERIFY(total <= book.size());
        QVERIFY(reader.recordCount() <= book.size() / 8);
        bool ok = false;
        const QByteArray text = reader.textBytes(&ok);
        QVERIFY(ok);
        const QString summary
            = QStringLiteral("%1 rec, text %2%3, %4/%5/%6, image %7")
                  .arg(reader.recordCount())
                  .arg(text.size())
                  .arg(text.isEmpty() ? QString() : " " + QString::fromLatin1(text.left(1) + text.right(1)))
                  .arg(reader.fullName(), reader.author())
                  .arg(reader.mobiHead().exth().records.size())
                  .arg(reader.firstImageRecord());
        QCOMPARE(summary, expected);
    }

    // The offset and length fields of the full name bound what is read.
    void fullName()
    {
        const auto nameWith = [this](const QByteArray& stored, int offsetDelta, int length) {
            MobiWriter writer;
            writer.setText("x");
            writer.setFullName(stored);
            QByteArray book = writer.build();
            const qint64 offsetField = mobiField(book, 68);
            const quint32 offset = qFromBigEndian<quint32>(book.constData() + offsetField);
            MobiWriter::putBigEndian(book, offsetField, offset + offsetDelta);
            MobiWriter::putBigEndian(book, mobiField(book, 72), quint32(length));
            return Mobi(save(book)).fullName();
        };
        const QByteArray title("Zero Title");
        QCOMPARE(nameWith(QByteArray(3, '\0') + title, 0, 10), QStringLiteral("Zero Title")); // zero bytes skipped
        QCOMPARE(nameWith(title, 0, 4), QStringLiteral("Zero"));
        QCOMPARE(nameWith(title, -3, 10), QString()); // offset before the remainder
        QCOMPARE(nameWith(title, 0, 5000), QString()); // end past the remainder
        QCOMPARE(nameWith(title, 0, -1), QString()); // negative length
    }

    void palmDoc()
    {
        const auto unpacked = [](const char* hex) { return mobi::palmDocDecompress(QByteArray::fromHex(hex)); };
        QCOMPARE(unpacked("41800a"), QByteArray("AAAAAA")); // a short distance repeats
        QCOMPARE(unpacked("41800042"), QByteArray("A")); // distance zero ends
        QCOMPARE(unpacked("41802042"), QByteArray("A")); // distance past the output ends
        QCOMPARE(unpacked("4180"), QByteArray("A")); // pair cut at the end
        QCOMPARE(unpacked("41034243"), QByteArray("A")); // run past the end ends
        QCOMPARE(unpacked("41024243"), QByteArray("ABC")); // run to the last byte
        // Books decompress each record up to the record size: the output ends within one code of it.
        const QByteArray text = sampleText(4096, true).left(4096);
        const QByteArray head = mobi::palmDocDecompress(MobiWriter::palmDocCompress(text), 100);
        QVERIFY(head.size() >= 100 && head.size() < 110);
        QCOMPARE(head, text.left(head.size()));
    }

    void trailingEntries()
    {
        const QByteArray text("compressed");
        const QByteArray entry1 = QByteArray("PP") + MobiWriter::backwardSize(3);
        const QByteArray entry2 = QByteArray(200, 'Q') + MobiWriter::backwardSize(202);
        QCOMPARE(mobi::trailingEntriesSize(text + "\xb0\xd0\x02", 1), 3); // multibyte tail
        QCOMPARE(mobi::trailingEntriesSize(text + QByteArray(1, '\0'), 1), 1); // empty multibyte tail
        QCOMPARE(mobi::trailingEntriesSize(text + entry2, 4), 202); // two-byte size
        QCOMPARE(mobi::trailingEntriesSize(text + "\xb0\x01" + entry2 + entry1, 7), 207); // all three
        QCOMPARE(mobi::trailingEntriesSize("ab\x8f", 2), 3); // a size beyond the record
        QCOMPARE(mobi::trailingEntriesSize(QByteArray(), 0xFFFF), 0);
        QCOMPARE(mobi::trailingEntriesSize("\x01\x01\x01\x01\x01\x01", 2), 6); // size bytes without their flag
    }

    // Whole books through every compression, with characters split between records.
    void textRoundTrip_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("size");
        for (int compression : { 1, 2, 17480 }) {
            const QByteArray name = compression == 1 ? "plain" : compression == 2 ? "palmdoc" : "huffcdic";
            QTest::newRow(name + " multibyte tails") << compression << 1 << 30000;
            QTest::newRow(name + " all entries") << compression << 0x7 << 30001;
            QTest::newRow(name + " one short record") << compression << 0x3 << 700;
        }
    }

    void textRoundTrip()
    {
        QFETCH(int, compression);
        QFETCH(int, flags);
        QFETCH(int, size);
        // Text of an odd length, so the last record is shorter than the record size.
        const QByteArray text = sampleText(size, true).left(size + 1);
        MobiWriter writer;
        writer.setText(text);
        writer.setCompression(MobiWriter::Compression(compression));
        // Short codes and codes longer than 8 bits: the terminal lookup and the limit search.
        HuffCdicWriter::Options options;
        options.codeBits = 5;
        writer.setHuffCdicOptions(options);
        writer.setExtraDataFlags(quint16(flags));
        writer.addImage(MobiWriter::image(QSize(4, 4), Qt::red));
        Mobi reader(save(writer.build()));
        QCOMPARE(reader.mobiHead().extraDataFlags(), quint16(flags));
        bool ok = false;
        QCOMPARE(reader.textBytes(&ok), text);
        QVERIFY(ok);
        QCOMPARE(reader.text(), QString::fromUtf8(text));
        QCOMPARE(reader.imageCount(), 1);
    }

    void huffCdicDictionaries()
    {
        const QByteArray text = sampleText(12000, true);
        QList<QByteArray> chunks;
        for (int pos = 0; pos < text.size(); pos += 4096)
            chunks.append(text.mid(pos, 4096));
        HuffCdicWriter::Options options;
        options.codeBits = 5;
        const HuffCdicWriter writer(chunks, options);
        QVERIFY(writer.maxCodeLength() > 8);
        mobi::HuffCdicReader reader(writer.huffRecord(), writer.cdicRecords());
        QVERIFY(reader.isValid());
        QCOMPARE(reader.decodeRecord(writer.encodedRecords()[1], 50), chunks[1].left(50));

        QVERIFY(!mobi::HuffCdicReader(writer.huffRecord().left(1000), writer.cdicRecords()).isValid());
        QVERIFY(!mobi::HuffCdicReader(writer.huffRecord(), {}).isValid());
        QVERIFY(!mobi::HuffCdicReader("HUFX" + writer.huffRecord().mid(4), writer.cdicRecords()).isValid());
        QVERIFY(!mobi::HuffCdicReader(writer.huffRecord(), { "CDIX" + writer.cdicRecords()[0].mid(4) }).isValid());

        // In a book: a Huffman record index past the records, then an absurd record count.
        MobiWriter book;
        book.setText("Some text to compress, some text.");
        book.setCompression(MobiWriter::Compression::HuffCdic);
        QByteArray bytes = book.build();
        MobiWriter::putBigEndian(bytes, mobiField(bytes, 96), 5000);
        bool ok = true;
        QCOMPARE(Mobi(save(bytes)).textBytes(&ok), QByteArray());
        QVERIFY(!ok);
        MobiWriter::putBigEndian(bytes, mobiField(bytes, 96), 2);
        MobiWriter::putBigEndian(bytes, mobiField(bytes, 100), 0xFFFFFFFF);
        Mobi(save(bytes)).textBytes(&ok);
        QVERIFY(!ok);
    }

    // Entries nested 32 deep are expanded; one level more and the word is dropped. Every "loop"
    // is an entry whose bytes are its own code twice: unbounded, it would take 2^33 steps per
    // occurrence.
    void huffCdicNesting()
    {
        const auto decoded = [this](const QByteArray& text, const HuffCdicWriter::Options& options, bool* ok) {
            MobiWriter writer;
            writer.setText(text);
            writer.setCompression(MobiWriter::Compression::HuffCdic);
            writer.setHuffCdicOptions(options);
            return Mobi(save(writer.build())).textBytes(ok);
        };
        const QByteArray nested("Before the deep word comes after it. deep end.");
        HuffCdicWriter::Options options;
        options.nestedWord = "deep";
        for (const int depth : { 32, 33 }) {
            options.nestedDepth = depth;
            QCOMPARE(decoded(nested, options, nullptr), depth == 32 ? nested : QByteArray(nested).replace("deep", ""));
        }

        QByteArray text;
        for (int i = 0; i < 20; ++i)
            text += sampleText(4096, false).left(4000) + " loop ";
        options = HuffCdicWriter::Options();
        options.loopWord = "loop";
        bool ok = false;
        const QByteArray bytes = decoded(text, options, &ok);
        QVERIFY(ok);
        // The text in front of the first loop survives; decoding gives up after a few
        // records that exhaust their budget.
        QVERIFY(bytes.startsWith(text.left(text.indexOf("loop"))));
        QVERIFY(bytes.size() < text.size());

        // Directly: the step count stays within the budget.
        HuffCdicWriter huff({ text.left(200) + " loop" }, options);
        mobi::HuffCdicReader decoder(huff.huffRecord(), huff.cdicRecords());
        QCOMPARE(decoder.decodeRecord(huff.encodedRecords()[0], 4096), text.left(200) + " ");
        QVERIFY(decoder.lastRecordExhausted());
        QVERIFY(decoder.lastRecordSteps() <= qint64(mobi::HuffCdicReader::StepsPerByte) * 4096 + 1);
    }

    // A HuffCDIC book with its names, headings, page breaks and images of every kind, read and converted.
    void documentConvertsTheBook()
    {
        // A JPEG whose frame header claims 20000 x 20000 pixels (400 megapixels) is not decoded.
        QByteArray huge = MobiWriter::image(QSize(8, 8), Qt::red, "JPG");
        const int frame = huge.indexOf("\xff\xc0");
        QVERIFY(frame > 0);
        huge.replace(frame + 5, 4, QByteArray("\x4e\x20\x4e\x20", 4));
        const QByteArray text = "<html><head><guide></guide></head><body>"
                                "<h1>Title Page</h1><p>Opening words.</p><mbp:pagebreak/>"
                                "<h2 class=\"chapter\">Chapter <b>One</b></h2><p>Text one.</p>"
                                "<img recindex=\"00002\" width=\"300\"/><MBP:PAGEBREAK/>"
                                "<h3 id='x'>Part &amp; Parcel &lt;list@example.org&gt; "
                                "&#38;&#x26;</h3><h4>Four</h4><h5>Five is not collected</h5><h2>Not</h3>"
                                "<p><img recindex=\"00001\"></p></body></html>";
        MobiWriter writer;
        writer.setText(text + QByteArray(9000, 'a'));
        writer.setCompression(MobiWriter::Compression::HuffCdic);
        writer.addImage(MobiWriter::image(QSize(10, 20), Qt::red, "PNG"));
        writer.addImage(MobiWriter::image(QSize(30, 40), Qt::blue, "JPG"));
        writer.addImage(huge);
        writer.addImage(MobiWriter::image(QSize(5, 6), Qt::green, "BMP"));
        writer.setCoverOffset(0);
        writer.setTrailerRecords(true);
        writer.setFullName(QStringLiteral("Война и мир").toUtf8());
        writer.setAuthor(QStringLiteral("Ann Author"));
        writer.addExth(100, "Second author is ignored");
        writer.addExth(103, QStringLiteral("Описание").toUtf8());
        writer.addExth(302, "");
        const QString path = save(writer.build());
        Mobi reader(path);
        const mobi::ExthHeader& exth = reader.mobiHead().exth();
        QCOMPARE(QStringList({ reader.fullName(), reader.author(), exth.value(103), exth.value(108) }),
            QStringList({ "Война и мир", "Ann Author", "Описание", "" }));
        QCOMPARE(exth.data(302), QByteArray(""));
        QVERIFY(reader.record(-1).isNull());
        QVERIFY(reader.record(reader.recordCount()).isNull());
        QCOMPARE(reader.recordOffset(reader.recordCount()), qint64(0));
        // Record 0, 3 text records, HUFF and 1 CDIC record, then the images: the scan starts
        // at the first non-book record and passes over the dictionary.
        QCOMPARE(reader.mobiHead().firstNonBookIndex(), 4);
        QCOMPARE(reader.firstImageRecord(), 6);
        // FLIS, FCIS and the end record follow the images and are counted too.
        QCOMPARE(reader.imageCount(), 7);
        const QSize none(0, 0); // a null image
        QList<QSize> sizes;
        for (int i = -1; i <= 7; ++i)
            sizes.append(reader.image(i).size());
        QCOMPARE(
            sizes, QList<QSize>({ none, QSize(10, 20), QSize(30, 40), none, QSize(5, 6), none, none, none, none }));
        QCOMPARE(reader.coverImage().size(), QSize(10, 20));
        QCOMPARE(reader.coverImage().pixelColor(0, 0), QColor(Qt::red));

        // The document's resources are the images numbered from 1.
        MobiDocument document(path);
        QCOMPARE(document.loadResource(2, QUrl("pdbrec:/1")).value<QImage>().size(), QSize(10, 20));
        QCOMPARE(document.loadResource(2, QUrl("pdbrec:/00004")).value<QImage>().size(), QSize(5, 6));
        for (const char* url : { "pdbrec:/0", "pdbrec:/3", "pdbrec:/5", "pdbrec:/x", "pdbrec:/70000", "file:/1" })
            QVERIFY2(document.loadResource(2, QUrl(url)).value<QImage>().isNull(), url);
        QVERIFY(!document.loadResource(1, QUrl("pdbrec:/1")).isValid());

        const QString folder = outputFolder();
        QVERIFY(document.load(folder));
        const QString name = QFileInfo(folder).fileName();
        const QString html = QString::fromUtf8(testfiles::read(folder + "/" + name + ".html"));
        QVERIFY(html.startsWith(QStringLiteral("<head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                               "charset = utf-8\"/></head><html><head><guide>")));
        QVERIFY(html.contains("<p>Opening words.</p><p style=\"page-break-after:always\"></p>"));
        QVERIFY(html.contains("<center><img src=\"pdbrec_00002.jpg\"></center><MBP:PAGEBREAK/>"));

        // Headings down to level 4 are collected, each with an id of its own.
        const QList<TocPoint> toc = document.toc();
        // Titles are plain text: each character reference stands for its character, once.
        QCOMPARE(document.headingTitles(),
            QStringList({ "Title Page", "Chapter One", "Part & Parcel <list@example.org> &&", "Four" }));
        QCOMPARE(toc.size(), 4);
        for (int k = 0; k < toc.size(); ++k) {
            const QString id = document.headingIds().at(k);
            QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(id).hasMatch());
            QCOMPARE(toc[k].title, document.headingTitles().at(k));
            QCOMPARE(toc[k].link->source, name + ".html#" + id);
        }
        QVERIFY(html.contains("Chapter <b>One</b></h2><a id='" + document.headingIds().at(1) + "'>&nbsp;</a>"));

        // Images are saved as JPEG files numbered from 1; the huge one and the trailer records are skipped.
        QCOMPARE(QDir(folder).entryList({ "*.jpg" }),
            QStringList({ "pdbrec_00001.jpg", "pdbrec_00002.jpg", "pdbrec_00004.jpg" }));
        QCOMPARE(QImage(folder + "/pdbrec_00001.jpg").size(), QSize(10, 20));
        QCOMPARE(QImage(folder + "/pdbrec_00002.jpg").size(), QSize(30, 40));
    }

    // Links by byte position, images by record and headings collected for the contents.
    void toHtml_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("titles");
        // A link to byte 2750, and the same text with the link rewritten.
        const QString link = QStringLiteral("<a filepos=0000002750>go</a>") + QString(2717, QLatin1Char('x'));
        const QString rewritten = QStringLiteral("<a href=\"#0000002750\">go</a>") + QString(2717, QLatin1Char('x'));
        QTest::newRow("target inside a tag: anchor before the tag")
            << link + "<p class='c'>word</p>" << rewritten + anchor("0000002750") + "<p class='c'>word</p>"
            << QStringList();
        QTest::newRow("same target, different padding")
            << QStringLiteral("<a filepos=00040>a</a> <a href=\"x\" filepos=\"40\">b</a> <p>0123456789 target</p>")
            << QStringLiteral("<a href=\"#00040\">a</a> ") + anchor("40")
                + QStringLiteral("<a href=\"#40\">b</a> <p>0123456789 target</p>")
            << QStringList();
        QTest::newRow("filepos zero or beyond the end: no anchor")
            << QStringLiteral("<a filepos=0>start</a><a filepos='9999'>far</a>")
            << QStringLiteral("<a href=\"#0\">start</a><a href=\"#9999\">far</a>") << QStringList();
        QTest::newRow("two targets in one tag")
            << QStringLiteral("<A FILEPOS=22>a</A><A FILEPOS=24>b</A><p id='long'>x</p>")
            << QStringLiteral("<a href=\"#22\">a</A>") + anchor("22") + anchor("24")
                + QStringLiteral("<a href=\"#24\">b</A><p id='long'>x</p>")
            << QStringList();
        QTest::newRow("images: attributes dropped, capitals, no recindex")
            << QStringLiteral("<p><img width=\"50%\" recindex=\"00003\" alt='a'/></p><IMG RECINDEX=\"7\">"
                              "<img src=\"a.jpg\"> kept")
            << QStringLiteral("<p><center><img src=\"pdbrec_00003.jpg\"></center></p><center><img "
                              "src=\"pdbrec_7.jpg\"></center><img src=\"a.jpg\"> kept")
            << QStringList();
        QTest::newRow("quoted attributes, multi-line heading")
            << QStringLiteral("<h1 title=\"x\" class='y'>Quoted</h1><H3>\n  Line one\n</H3>") << QString()
            << QStringList { "Quoted", "Line one" };
        // Headings never closed would each hold the rest of the book: they and the text-level
        // elements they opened end where the next block starts, and become contents entries.
        QTest::newRow("unclosed headings closed before the next block") << QStringLiteral(
            "<h1><font size=\"7\"><b>One<p>a</p><h2 class='x'><i>Two</i> <br/>more<div>b</div>"
            "<h3>Three</h3><p>c") << QString() << QStringList { "One", "Two more", "Three" };
        // Headings without text (once tags, references to blanks and blanks are gone) are no
        // contents entries, nor do they get an anchor.
        QTest::newRow("empty headings make no entries")
            << QStringLiteral("<h1></h1><h2> <br/>\n</h2><h1>Real</h1><h3><img src=\"a.jpg\"></h3><h4>&nbsp;&#32;</h4>"
                              "<h1><h1><font><b><h2>Two</h2>")
            << QString() << QStringList { "Real", "Two" };
        // Thousands of them, only ever in a crafted book, would each be laid out by the web view:
        // every heading that holds nothing (not even an id or a name) is left out. A book with a
        // few keeps them, and so the element paths stored for it.
        const QString few = QStringLiteral("<h1></h1><H2 class='x'> \n</H2><p>Text</p><h3></h3>");
        QTest::newRow("a few empty headings kept") << few << few << QStringList();
        // An id or name that a link leads to stays, on an anchor that shows nothing.
        QTest::newRow("thousands of empty headings left out")
            << QStringLiteral("<h1>").repeated(MobiDocument::MaxEmptyHeadings)
                + QStringLiteral("<H4 ALIGN=\"center\">\r\n\t</H4><h2 title=\"id=3\"></h2><h1 id='k'></h1>"
                                 "<h2\tNAME=\"n\"> </h2><h3><img src=\"a.jpg\"></h3><h1>&nbsp;</h1><h5></h6>"
                                 "<p>Text <a href=\"#n\">n</a> <a href='#3'>3</a></p><h6 class=x></h6><h1><b></b></h1>")
            << QStringLiteral("<a NAME=\"n\"></a><h3><img src=\"a.jpg\"></h3>"
                              "<p>Text <a href=\"#n\">n</a> <a href='#3'>3</a></p>")
            << QStringList();
        // Every heading that shows nothing counts: blanks of every kind, as they are or as
        // references, and elements that hold nothing that shows. An image or a letter shows.
        const auto thousand = [](const QString& heading) {
            return QStringLiteral("<p>Text</p>") + heading.repeated(MobiDocument::MaxEmptyHeadings + 1);
        };
        const QStringList showNothing { QStringLiteral("<h2>&#160;</h2>"), QStringLiteral("<h2>&nbsp;</h2>"),
            QStringLiteral("<h3><b></b></h3>"), QStringLiteral("<h1><br></h1>"), QStringLiteral("<h1><br/></h1>"),
            QStringLiteral("<h4><a id=\"a\"></a></h4>"),
            QString::fromUtf8("<h1>\xc2\xa0\xe2\x80\x83<b>&#xA0;<i>&emsp;</i></b><!-- x -->&ZeroWidthSpace;<span "
                              "class='s'><br />&nbsp\xe2\x80\x8b</span><a name=n href='#o'></a>\t&shy;</h1>") };
        for (const QString& heading : showNothing)
            QTest::newRow(qPrintable("shows nothing: " + heading))
                << thousand(heading) << "<p>Text</p>" << QStringList();
        QTest::newRow("shows: an image") << thousand("<h3><img src=\"a.jpg\"></h3>")
                                         << thousand("<h3><img src=\"a.jpg\"></h3>") << QStringList();
        QTest::newRow("shows: a letter in bold")
            << thousand("<h5>&nbsp;<b>x</b></h5>") << thousand("<h5>&nbsp;<b>x</b></h5>") << QStringList();
        QTest::newRow("shows: a reference to a letter")
            << thousand("<h6>&#160;&#65;</h6>") << thousand("<h6>&#160;&#65;</h6>") << QStringList();
        // Text as the parser reads it (in a textarea or title, a comment, CDATA in SVG) is no
        // markup to convert; a title in SVG holds markup.
        QTest::newRow("images and links in text and comments stay as written")
            << QStringLiteral("<textarea><img recindex=\"00001\"><a "
                              "filepos=0>x</textarea><TITLE><imgrecindex=\"\"><mbp:pagebreak/>"
                              "</title><!-- <img recindex=\"2\"> --><![CDATA[<img recindex=\"3\">]]><svg><![CDATA[<img "
                              "recindex=\"4\">]]>"
                              "<title><img recindex=\"5\"></title></svg><p><textarea><img recindex=\"6\">")
            << QStringLiteral("<textarea><img recindex=\"00001\"><a filepos=0>x</textarea><TITLE><imgrecindex=\"\">"
                              "<mbp:pagebreak/></title><!-- <img recindex=\"2\"> --><![CDATA[<img recindex=\"3\">]]>"
                              "<svg><![CDATA[<img recindex=\"4\">]]><title><center><img src=\"pdbrec_5.jpg\"></center>"
                              "</title></svg><p><textarea><img recindex=\"6\">")
            << QStringList();
        // Inside a tag (an unquoted value, an attribute name, an end tag) a "<" is part of it.
        QTest::newRow("images and links inside a tag stay as written")
            << QStringLiteral("<p title=<img recindex=\"00001\">a</p><p x <a filepos=0>b</p></p <mbp:pagebreak/>>c"
                              "<img recindex=\"00002\">")
            << QStringLiteral("<p title=<img recindex=\"00001\">a</p><p x <a filepos=0>b</p></p <mbp:pagebreak/>>c"
                              "<center><img src=\"pdbrec_00002.jpg\"></center>")
            << QStringList();
        // The text on either side of those left out stays text.
        QTest::newRow("left out between a < and a name")
            << "<p>x<" + QStringLiteral("<h2></h2>").repeated(MobiDocument::MaxEmptyHeadings + 1) + "script>y</p>"
            << QStringLiteral("<p>x&lt;script>y</p>") << QStringList();
    }

    // What the parser reads as a comment, or as the text of a script or the like, holds no tag:
    // no heading is closed, found or left out in there, and what it hides stays hidden.
    void headingPassesLeaveHiddenMarkupAlone_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("closed");
        QTest::addColumn<QString>("dropped"); // every heading that shows nothing left out
        QTest::newRow("a block hidden by \"<?\"") << "<h1>One<?<p onclick=\"a()\">x</p><p>y</p>"
                                                  << "<h1>One<?<p onclick=\"a()\">x</h1></p><p>y</p>" << QString();
        QTest::newRow("a block hidden by a nameless end tag") << "<h2>Two</<p>x<div>y</div>"
                                                              << "<h2>Two</<p>x</h2><div>y</div>" << QString();
        QTest::newRow("blocks in comments") << "<h1>One<!-- <p>a</p> -->b<!--><p>c</p>"
                                            << "<h1>One<!-- <p>a</p> -->b<!--></h1><p>c</p>" << QString();
        QTest::newRow("a block in a script") << "<h3>Three<script>if (a<p) b()</script>x<p>y</p>"
                                             << "<h3>Three<script>if (a<p) b()</script>x</h3><p>y</p>" << QString();
        QTest::newRow("a block tag in a script") << "<h3>Three<script>a = '<p>';</script>x<p>y</p>"
                                                 << "<h3>Three<script>a = '<p>';</script>x</h3><p>y</p>" << QString();
        // Left out there, a heading would join "-" and "->" into the comment's end.
        QTest::newRow("empty headings in a comment, a value and a style")
            << "<p title=\"<h2></h2>\">a<!-- -<h2></h2>-> <b>hidden</b> --></p><style><h4></h4></style><h3></h3>"
            << QString() << "<p title=\"<h2></h2>\">a<!-- -<h2></h2>-> <b>hidden</b> --></p><style><h4></h4></style>";
        // The parser ends the span at its first ">": the heading shows 'words" x>'.
        QTest::newRow("a = where an attribute name starts")
            << "<h1><span =\">words\" x></span></h1><h2><b =\"><i title=\" x></i>\"></b></h2><p>a</p>" << QString()
            << "<h1><span =\">words\" x></span></h1><p>a</p>";
        QTest::newRow("headings named otherwise") << "<h1!></h1!><h2<b>x</h2><p>a</p>" << QString() << QString();
        // SVG reads CDATA as text to "]]>", and a style or script as markup; outside, CDATA is a
        // comment to the first ">".
        QTest::newRow("CDATA in SVG")
            << "<h1>One<svg><![CDATA[ a > <p>x</p> <h2></h2> ]]></svg>y<p>z</p><![CDATA[ > <h3></h3> ]]>"
            << "<h1>One<svg><![CDATA[ a > <p>x</p> <h2></h2> ]]></svg>y</h1><p>z</p><![CDATA[ > <h3></h3> ]]>"
            << "<h1>One<svg><![CDATA[ a > <p>x</p> <h2></h2> ]]></svg>y<p>z</p><![CDATA[ >  ]]>";
        QTest::newRow("a style in SVG") << "<h2>Two<svg><style><p>x</p></style></svg>"
                                        << "<h2>Two<svg><style></h2><p>x</p></style></svg>" << QString();
        // HTML again after an SVG closed in a heading, or by an end tag of the element around it.
        QTest::newRow("SVG closed in an empty heading")
            << "<h1><svg></svg></h1><![CDATA[ > <h2></h2> ]]>" << QString() << "<h1><svg></svg></h1><![CDATA[ >  ]]>";
        QTest::newRow("SVG ended by the end tag of the HTML element around it")
            << "<div><svg><g></div><![CDATA[ > <h2></h2> ]]>" << QString() << "<div><svg><g></div><![CDATA[ >  ]]>";
    }

    void headingPassesLeaveHiddenMarkupAlone()
    {
        QFETCH(QString, text);
        QFETCH(QString, closed);
        QFETCH(QString, dropped);
        QCOMPARE(HeadingMarkup::closeOpen(text), closed.isEmpty() ? text : closed);
        QCOMPARE(HeadingMarkup::dropEmpty(text, 0), dropped.isEmpty() ? text : dropped);
        // The parser shows the same.
        for (const QString& rewritten : { closed, dropped })
            QCOMPARE(parsedmarkup::read(rewritten.isEmpty() ? text.toUtf8() : rewritten.toUtf8()).shown,
                parsedmarkup::read(text.toUtf8()).shown);
        const QString hidden = QStringLiteral("<!-- <h1>Hidden</h1> --><?<h2>Hidden</h2>?></<h3>Hidden</h3>"
                                              "<p title=\"<h1>Hidden</h1>\"></p><script>\"<h2>Hidden</h2>\"</script>"
                                              "<svg><![CDATA[ a > <h1>Hidden</h1> ]]></svg>");
        QCOMPARE(HeadingMarkup::find(hidden + text).size(), HeadingMarkup::find(text).size());
    }

    // Markup only a crafted book holds: each heading pass reads the text about once, however many
    // "<" stand without a name or a ">", and whatever a tag, a quoted value or a comment swallows;
    // the nesting pass looks at about one open element a tag, however deep the elements that end
    // tags search past or formatting elements left open: after the prefix, the unit is repeated
    // ("%1" its number), then the closing as many times.
    void headingPassesReadTheTextOnce_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("closing");
        const auto row = [](const char* name, const QString& unit, const QString& prefix = QString(),
                             const QString& closing = QString()) { QTest::newRow(name) << prefix << unit << closing; };
        row("stray <", "<");
        row("headings whose start tag swallows their end tag", "<b<h1</h1>");
        row("names without >", "<a");
        row("values never closed", "<h1 a='");
        row("comments never closed", "<h1><!--");
        row("comments of one tag", "<?<h1 a='></<h2>");
        row("scripts never closed", "<h2><script>x<p>");
        row("empty headings", "<h1><b></b></h1>");
        row("closed comments", "<h1><!-- a -->b");
        row("scripts of escaped text", "<script><!--<script>a</script>--></script><h2>");
        row("end tags of no SVG element", "<g>", "<svg>", "</q>");
        row("end tags of no SVG element in SVG in HTML", "<g>", "<svg><q><foreignObject><div><svg>", "</q>");
        row("end tags of an element out of reach", "<span>", "<q><div>", "</q>");
        row("paragraph ends out of scope", "<span>", "<p><button>", "</p>");
        row("formatting ends past a block", "<span>", "<b><div>", "</b>");
        row("headings out of scope", "<span>", "<h1><object>", "</h2>");
        row("list items out of scope", "<span>", "<li><ul>", "</li>");
        row("table parts out of scope", "<span>", "<table><tr><td><table>", "</tr><tbody>");
        row("list items past a block", "<span>", "<li><section>", "<li></li>");
        row("tables started past a caption", "<span>", "<table><caption>", "<table></table>");
        row("cells started past a table", "<span>", "<table><td><table>", "<td></td>");
        row("elements of a kind past one never closed", "<span>", "<q>", "<q></q></span>");
        row("formatting elements each of its own attributes", "<b x=%1>");
        row("formatting ends of none left open", "<b x=%1>", "", "</i>");
        row("links past formatting elements", "<b x=%1>", "", "<a>");
        row("formatting elements reopened in each block", "<b x=%1 class=shuttle>", "<div>", "</div><div>x");
        QString leftOpen = QStringLiteral("<div>");
        for (int k = 0; k < 150; ++k)
            leftOpen += QStringLiteral("<b x=%1>").arg(k);
        row("150 formatting elements reopened in each block", "</div><div>x", leftOpen);
    }

    void headingPassesReadTheTextOnce()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, unit);
        QFETCH(QString, closing);
        QString text = QStringLiteral("<html><body><p>Text</p>") + prefix;
        int units = 0;
        for (; text.size() < 64 * 1024; ++units)
            text += QString(unit).replace(QLatin1String("%1"), QString::number(units));
        text += closing.repeated(units);
        qint64 found = 0, closed = 0, dropped = 0;
        HeadingMarkup::find(text, &found);
        HeadingMarkup::closeOpen(text, &closed);
        HeadingMarkup::dropEmpty(text, MobiDocument::MaxEmptyHeadings, &dropped);
        for (const qint64 scanned : { found, closed, dropped })
            QVERIFY2(scanned > 0 && scanned <= 4 * text.size(),
                qPrintable(QStringLiteral("%1, %2, %3 characters read for %4")
                               .arg(found)
                               .arg(closed)
                               .arg(dropped)
                               .arg(text.size())));
        qint64 visited = 0;
        HtmlNesting::bounded(text.toUtf8(), HtmlNesting::Html, nullptr, HtmlNesting::MaxDepth, nullptr, &visited);
        QVERIFY2(visited <= text.size(),
            qPrintable(QStringLiteral("%1 open elements visited for %2 characters").arg(visited).arg(text.size())));
        // A book with SVG has its foreign content found by the same walk, before any rewriting.
        visited = 0;
        HtmlNesting::foreignStretches(text.toUtf8() + "<svg></svg>", &visited);
        QVERIFY2(visited <= text.size(),
            qPrintable(QStringLiteral("%1 open elements visited for %2 characters, looking for SVG")
                           .arg(visited)
                           .arg(text.size())));
    }

    // A book of many chapters whose headings were never closed: the chapter page holds no
    // element nested deeper than a few levels, so it can be laid out chapter by chapter.
    void unclosedHeadingsNestShallow()
    {
        QByteArray text = "<html><head></head><body>";
        for (int chapter = 1; chapter <= 300; ++chapter) {
            text += "<h" + QByteArray::number(chapter % 2 + 1) + "><font size=\"" + QByteArray::number(chapter % 7 + 1)
                + "\"><b>Chapter " + QByteArray::number(chapter) + "<p>The shuttle flew.</p><p>The warp rose.</p>";
            // Empty ones between them, by the hundred, make no entries.
            text += QByteArray("<h1>").repeated(100) + "<h2><b> </b>" + QByteArray("<h3>&nbsp;").repeated(100);
        }
        text += "</body></html>";
        MobiWriter writer;
        writer.setText(text);
        MobiDocument document(save(writer.build()));
        const QString chapter = convertedBook(document);
        // The 60,300 that show nothing never reach the page, those holding a blank neither.
        QCOMPARE(chapter.count(QStringLiteral("<h1></h1>")), 0);
        QCOMPARE(chapter.count(QStringLiteral("<h3>&nbsp;</h3>")), 0);
        QCOMPARE(chapter.count(QStringLiteral("<b> </b>")), 0);

        QWebPage page;
        page.mainFrame()->setHtml(chapter);
        const QVariant depth = page.mainFrame()->evaluateJavaScript(
            "(function deepest(e) { var d = 0; for (var c = e.firstElementChild; c; c = c.nextElementSibling)"
            " d = Math.max(d, deepest(c)); return d + 1; })(document.body)");
        QVERIFY2(depth.toInt() > 1 && depth.toInt() <= 6, qPrintable(depth.toString()));
        QStringList titles;
        for (int chapter = 1; chapter <= 300; ++chapter)
            titles << QStringLiteral("Chapter %1").arg(chapter);
        QCOMPARE(document.headingTitles(), titles);
        QCOMPARE(document.toc().size(), 300);
    }

    // A chapter over a bound is cut where an element starts right in the body, before a heading
    // where there is one near; the parts hold the whole text, each part after the first behind
    // the head and the chapter's style sheets. A chapter within the bounds, or without a place to
    // cut, stays as it is.
    void chapterParts_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("parts");
        QTest::addColumn<QByteArray>("partStart"); // where each part after the first starts
        const auto repeated = [](int count, const std::function<QByteArray(QByteArray)>& part) {
            QByteArray text;
            for (int i = 0; i < count; ++i)
                text += part(QByteArray::number(i));
            return text;
        };
        const auto headings = [](const QByteArray& n) { return "<h2>Part " + n + "</h2><p>Line " + n + ".</p>"; };
        QTest::newRow("within the bounds") << repeated(5, headings) << 1 << QByteArray();
        QTest::newRow("headings") << repeated(60, headings) << 6 << QByteArray("<h2>Part ");
        QTest::newRow("unclosed paragraphs, no headings")
            << repeated(100, [](const QByteArray& n) { return "<p>Line " + n + "<br>"; }) << 5
            << QByteArray("<p>Line ");
        QTest::newRow("headings among paragraphs") << repeated(60, [](const QByteArray& n) {
            return "<p>a" + n + "</p><p>b</p><p>c</p><h3 class='x'>Part " + n + "</h3>";
        }) << 13 << QByteArray("<h3 class='x'>Part ");
        // A link target put right before a heading goes with it.
        QTest::newRow("link targets before headings") << repeated(60, [](const QByteArray& n) {
            return "<a id='t" + n + "' name='t" + n + "'>&nbsp;</a>\n<h2>Part " + n + "</h2><p>Line " + n + ".</p>";
        }) << 10 << QByteArray("<a id='t");
        // Inside a block, or where the parser would carry a formatting element on, no cut.
        QTest::newRow("all in one block") << "<div>" + repeated(60, headings) + "</div>" << 1 << QByteArray();
        QTest::newRow("a bold left open") << "<b>" + repeated(60, headings) << 1 << QByteArray();
        QTest::newRow("a bold closed halfway")
            << "<p><b>" + repeated(30, headings) + "</b></p>" + repeated(30, headings) << 4 << QByteArray("<h2>Part ");
    }

    void chapterParts()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, parts);
        QFETCH(QByteArray, partStart);
        const QByteArray head = "<head><meta charset='utf-8'/></head>";
        const QByteArray chapter = head + "<html><head><style>p { color: red; }</style><guide></guide></head><body>"
            + body + "</body></html>";
        mobi::ChapterParts::Bounds bounds;
        bounds.maxBytes = 2000;
        bounds.maxElements = 40;
        bounds.partBytes = 600;
        bounds.partElements = 20;
        const QList<QByteArray> cut = mobi::ChapterParts::cut(chapter, head, bounds);
        QCOMPARE(cut.size(), parts);
        QByteArray joined = cut.first();
        for (int k = 1; k < cut.size(); ++k) {
            const QByteArray prefix = head + "<style>p { color: red; }</style>";
            QVERIFY2(cut.at(k).startsWith(prefix + partStart), cut.at(k).constData());
            joined += cut.at(k).mid(prefix.size());
        }
        QCOMPARE(joined, chapter);

        // Each part shows what the whole showed there: together, the same text in the same order.
        const auto lines = [](const QByteArray& html) {
            QWebPage page;
            page.mainFrame()->setContent(html, QStringLiteral("text/html;charset=utf-8"));
            QStringList shown;
            for (const QString& line :
                page.mainFrame()->evaluateJavaScript("document.body.innerText").toString().split('\n')) {
                if (!line.trimmed().isEmpty())
                    shown << line.trimmed();
            }
            return shown;
        };
        QStringList shown;
        for (const QByteArray& part : cut)
            shown << lines(part);
        QCOMPARE(shown, lines(chapter));
    }

    // Links to an id in another part lead to that part's file; the others stay as written.
    void chapterPartsLinks()
    {
        QList<QByteArray> parts { "<p><a href=\"#far\">far</a> <a href='#near'>near</a> <a id=near>x</a>"
                                  "<a href=#gone>gone</a> <a href=\"#sp%20ace\">s</a></p>",
            "<p id='far'>Far.</p><a NAME=\"sp ace\"></a><a href=\"#near\">back</a><a href='other.html#far'>o</a>"
            "<script>var s = '<a href=\"#near\">';</script><script!><a href=\"#near\">shown</a></script!>" };
        const QHash<QByteArray, int> holders = mobi::ChapterParts::resolveLinks(parts, { "a b.html", "c.html" });
        QCOMPARE(parts.at(0),
            QByteArray("<p><a href=\"c.html#far\">far</a> <a href='#near'>near</a> <a id=near>x</a>"
                       "<a href=#gone>gone</a> <a href=\"c.html#sp%20ace\">s</a></p>"));
        QCOMPARE(parts.at(1),
            QByteArray("<p id='far'>Far.</p><a NAME=\"sp ace\"></a><a href=\"a%20b.html#near\">back</a>"
                       "<a href='other.html#far'>o</a><script>var s = '<a href=\"#near\">';</script>"
                       "<script!><a href=\"a%20b.html#near\">shown</a></script!>"));
        QCOMPARE(holders.value("far", -1), 1);
        QCOMPARE(holders.value("near", -1), 0);
        QCOMPARE(holders.value("sp ace", -1), 1);
    }

    // A book of more elements than one chapter takes is shown as several: the first under the
    // name of the whole, the contents and the links of the book leading into the right one.
    void bookCutIntoChapters()
    {
        const int count = mobi::ChapterParts::MaxElements / 2 + 2000;
        QByteArray text = "<html><head></head><body><p><a filepos=" + token("end") + ">To the end</a></p>";
        for (int i = 0; i < count; ++i)
            text += "<h1>Heading " + QByteArray::number(i) + "<p>Line " + QByteArray::number(i) + " ends.";
        text += "<p>The @end@last words.</p></body></html>";
        MobiWriter writer;
        writer.setText(resolveLinks(text, { "end" }));
        MobiDocument document(save(writer.build()));
        const QString folder = outputFolder();
        QVERIFY(document.load(folder));
        const QString name = QFileInfo(folder).fileName();
        const QStringList chapters = document.chapters();
        // A heading, the anchor after it and a paragraph each.
        QVERIFY2(chapters.size() >= count * 3 / mobi::ChapterParts::PartElements
                && chapters.size() <= count * 3 / mobi::ChapterParts::PartElements + 2,
            qPrintable(chapters.join(' ')));
        QCOMPARE(chapters.first(), name + ".html");
        const QString last = chapters.last();
        QCOMPARE(last, QStringLiteral("%1_%2.html").arg(name).arg(chapters.size(), 4, 10, QLatin1Char('0')));
        QList<QString> files;
        for (const QString& chapter : chapters) {
            files << QString::fromUtf8(testfiles::read(folder + '/' + chapter));
            QVERIFY(QFileInfo(folder + '/' + chapter).size() <= mobi::ChapterParts::PartBytes * 2);
        }
        QVERIFY(files.first().contains("<a href=\"" + last + "#"));
        QVERIFY(files.last().contains("last words."));
        QCOMPARE(document.toc().size(), count);
        QCOMPARE(document.toc().first().link->source.section('#', 0, 0), chapters.first());
        QCOMPARE(document.toc().last().title, QStringLiteral("Heading %1").arg(count - 1));
        QCOMPARE(document.toc().last().link->source.section('#', 0, 0), last);
        // Every part after the first starts at a heading; every heading is in one part.
        int shown = 0;
        for (int k = 0; k < files.size(); ++k) {
            if (k > 0)
                QVERIFY(files.at(k).midRef(files.at(k).indexOf("</head>") + 7).startsWith("<h1>"));
            shown += files.at(k).count("<h1>");
        }
        QCOMPARE(shown, count);
    }

    // Blocks and spans left open by the thousand, or nested a thousand deep: the chapter the
    // web view builds stays within the bound and shows the same text in the same order. A
    // book with a few unclosed blocks keeps its markup as it was, so its stored paths hold.
    void unclosedBlocksNestShallow_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("maxDepth");
        QTest::addColumn<bool>("kept");
        const auto repeated = [](int count, const std::function<QByteArray(QByteArray)>& part) {
            QByteArray text;
            for (int i = 0; i < count; ++i)
                text += part(QByteArray::number(i));
            return text;
        };
        QTest::newRow("unclosed divs") << repeated(3000, [](const QByteArray& n) {
            return "<div class='c" + n + "'><p>The shuttle flew " + n + ".</p>";
        }) << 4 << false;
        QTest::newRow("unclosed blockquotes")
            << repeated(3000, [](const QByteArray& n) { return "<blockquote>The warp rose " + n + "<br/>"; }) << 4
            << false;
        QTest::newRow("unclosed spans inside closed paragraphs")
            << repeated(3000, [](const QByteArray& n) { return "<p><span>Thread " + n + " </p>"; }) << 4 << false;
        // The parser reopens each font left open in every paragraph after it.
        QTest::newRow("unclosed fonts inside closed paragraphs") << repeated(3000, [](const QByteArray& n) {
            return "<p><font color='#" + n.rightJustified(6, '0') + "'>Thread " + n + " </p>";
        }) << 4 << false;
        QTest::newRow("unclosed spans") << repeated(3000, [](const QByteArray& n) { return "<span>Thread " + n + " "; })
                                        << 4 << false;
        QTest::newRow("divs and blockquotes in turn")
            << repeated(2000, [](const QByteArray& n) { return "<div>Loom " + n + "<blockquote>Reed " + n + " "; }) << 4
            << false;
        QTest::newRow("closed, a thousand deep") << QByteArray("<div>").repeated(700) + "<div id='deep'>Deep<div>"
                + QByteArray("<div>x").repeated(300) + QByteArray("</div>").repeated(1002)
                                                 << HtmlNesting::MaxDepth << false;
        // SVG and MathML as the parser reads them, kept whole a few levels beyond the bound: CDATA
        // is text there, a title in MathML text is HTML, an SVG script ends at an HTML tag.
        QTest::newRow("foreign content, a thousand deep") << QByteArray("<div>").repeated(1000)
                + "<p>a<svg><![CDATA[ b > <img src=x onerror=y()> ]]></svg> c</p>"
                  "<p>d<math><mi><title><b><script>w()</script></b></title></mi></math> e</p>"
                  "<p>f<svg><desc><![CDATA[<i>g</i>]]></desc><g><script>s()<em>h</em></script></g></svg> i</p>"
                  "<p>j<svg><foreignObject><div><![CDATA[ k > <b>l</b> ]]></div></foreignObject></svg></p>"
                  "<p>m<math><mi><textarea>n <b>o</b></textarea></mi></math></p>"
                + QByteArray("</div>").repeated(1000) << HtmlNesting::MaxDepth + 3
                                                          << false;
        // The next of its kind in SVG is no end of an HTML element never closed: ended there, the
        // SVG would end with it, and its iframe become an HTML one.
        QTest::newRow("an element never closed, its name again in SVG")
            << QByteArray("<x>a").repeated(1000) + "<svg><x><title>t</title><iframe src=x></iframe></x></svg>b"
            << HtmlNesting::MaxDepth << false;
        QTest::newRow("an element never closed, its name again in MathML")
            << QByteArray("<sa>a").repeated(1000) + "<math><sa><script>z()</script></sa></math>b"
            << HtmlNesting::MaxDepth << false;
        // SVG and MathML are namespaces apart: a MathML element is no end of an SVG one around it,
        // which would make it an SVG element, its script one that runs.
        QTest::newRow("an SVG element never closed, its name again in MathML in it")
            << QByteArray("<x>a").repeated(1000)
                + "<svg><a><foreignObject><math><a><script>z()</script></a></math></foreignObject></svg>b"
            << HtmlNesting::MaxDepth << false;
        QTest::newRow("a few unclosed blocks") << repeated(40, [](const QByteArray& n) {
            return "<div><p>The shuttle flew " + n + ".</p><blockquote>Reed";
        }) << 82 << true;
        // Tags dropped down there take nothing with them: the text around them stays text.
        QTest::newRow("split tags, a thousand deep") << QByteArray("<div>").repeated(1000)
                + "<p>x<<span>script>var words = 'the words'<</span>/script>y</p><p></<hh2>calibre7\">Home</p>"
                + QByteArray("</div>").repeated(1000) << HtmlNesting::MaxDepth
                                                     << false;
        // A name runs to a blank, "/" or ">": "<script!>" is no script, and what follows is markup.
        QTest::newRow("a tag named script!, a thousand deep")
            << QByteArray("<div>").repeated(100) + "<p>a<script!>b</p>" + QByteArray("<div>x").repeated(900)
                + "</script>" + QByteArray("</div>").repeated(1000)
            << HtmlNesting::MaxDepth << false;
        // The rewriting closes the list box at the second option, and takes the tags the parser
        // ignored in it: the blocks after it are still known as closed, and keep their words.
        // The parser would reopen each of them in every block: the rewriting closes them instead.
        QByteArray leftOpen = "<div>";
        for (int k = 0; k < 150; ++k)
            leftOpen += "<b x=" + QByteArray::number(k) + ">";
        QTest::newRow("150 formatting elements left open before 2,000 blocks")
            << leftOpen + "</div>" + QByteArray("<div>x</div>").repeated(2000) << 152 << false;
        QTest::newRow("a list box closed early, a thousand deep")
            << QByteArray("<div>").repeated(1000) + QByteArray("</div>").repeated(1000) + "<option><select><option>"
                + QByteArray("<i>").repeated(20) + "<input><blockquote id='o'>a<blockquote>b</blockquote>c</blockquote>"
                + QByteArray("<span>").repeated(30)
            << HtmlNesting::MaxDepth << false;
    }

    void unclosedBlocksNestShallow()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, maxDepth);
        QFETCH(bool, kept);
        MobiWriter writer;
        writer.setText("<html><head></head><body>" + body + "</body></html>");
        MobiDocument document(save(writer.build()));
        const QString chapter = convertedBook(document);
        QVERIFY(!chapter.isEmpty());
        if (kept)
            QVERIFY(chapter.contains(QString::fromUtf8(body)));

        QWebPage page;
        page.mainFrame()->setHtml(chapter);
        const int depth = page.mainFrame()
                              ->evaluateJavaScript("(function deepest(e) { var d = 0; for (var c = e.firstElementChild;"
                                                   " c; c = c.nextElementSibling) d = Math.max(d, deepest(c));"
                                                   " return d + 1; })(document.body)")
                              .toInt();
        QVERIFY2(depth > 1 && depth <= maxDepth, qPrintable(QString::number(depth)));
        const QString text = page.mainFrame()->evaluateJavaScript("document.body.textContent").toString();
        // Tags, and what the parser reads as comments ("</" and no name, up to ">"), show nothing.
        const QRegularExpression tags("</?[A-Za-z][^>]*>|</[^A-Za-z>][^>]*>");
        if (!body.contains("<svg>") && !body.contains("<math>")) {
            QCOMPARE(text.simplified(), QString::fromUtf8(body).remove(tags).simplified());
        } else {
            // The words the parser shows, none lost and none made markup; and no element made
            // in another namespace that could run where the book's could not.
            QCOMPARE(parsedmarkup::read(chapter.toUtf8()).shown, parsedmarkup::read(body).shown);
            const auto asParsed = [](const QByteArray& markup) {
                return viewedmarkup::runnable(markup, QStringLiteral("chapter.html"), viewedmarkup::AsParsed);
            };
            QCOMPARE(viewedmarkup::added(asParsed(body), asParsed(chapter.toUtf8())), QStringList());
        }
        // Nothing that could run, as the reader's web view holds the stored chapter.
        QCOMPARE(viewedmarkup::runnable(chapter.toUtf8()), QStringList());
        if (body.contains("id='deep'"))
            QVERIFY(page.mainFrame()->evaluateJavaScript("document.getElementById('deep') !== null").toBool());
        if (body.contains("<b x=149>"))
            QVERIFY(page.mainFrame()->evaluateJavaScript("document.getElementsByTagName('b').length").toInt() <= 150);
        if (body.contains("id='o'"))
            QCOMPARE(page.mainFrame()->evaluateJavaScript("document.getElementById('o').textContent").toString(),
                QStringLiteral("abc"));
    }

    // A long run of text outside any block is cut into blocks after its line breaks (or at a
    // sentence's end or a space); formatting open at a cut is closed and opened again without
    // its id; inside a paragraph the paragraph itself is cut; an end tag of an element opened
    // before the run ends the run, so no block stands across it.
    void inlineRunsCutIntoBlocks_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("syntax");
        QTest::addColumn<QByteArray>("expected");
        const int html = HtmlNesting::Html;
        QTest::newRow("lines in the body")
            << QByteArray("<body>aaa<br/>bbb<br/>ccc</body>") << html
            << QByteArray("<body><div>aaa<br/></div><div>bbb<br/></div><div>ccc</div></body>");
        QTest::newRow("formatting across a cut")
            << QByteArray("<body>a <b id='x' class='c'>bb<br/>cc</b> d</body>") << html
            << QByteArray("<body><div>a <b id='x' class='c'>bb<br/></b></div><div><b class='c'>cc</b> d</div></body>");
        QTest::newRow("formatting open at the end of the run")
            << QByteArray("<body><i name=n>bb<br>cc<p>dd</i></p></body>") << html
            << QByteArray("<body><div><i name=n>bb<br></i></div><div><i>cc</i></div><i>"
                          "<p>dd</i></p></body>");
        QTest::newRow("paragraph") << QByteArray("<p class='c' id='p'>aaa<br/>bbb</p>") << html
                                   << QByteArray("<p class='c' id='p'>aaa<br/></p><p class='c'>bbb</p>");
        QTest::newRow("end of an element opened before the run")
            << QByteArray("<body><b>x<div>y</div>aaaa<br/>bbbb</b>cccc<br/>dddd</body>") << html
            << QByteArray("<body><b>x<div>y</div><div>aaaa<br/></div><div>bbbb</div></b><div>cccc<br/></div>"
                          "<div>dddd</div></body>");
        QTest::newRow("no line break") << QByteArray("<body>One two. Three four. Five six.</body>") << html
                                       << QByteArray("<body><div>One two. </div><div>Three </div><div>four. </div>"
                                                     "<div>Five </div><div>six.</div></body>");
        // Cutting there would write every open element again at each cut.
        QTest::newRow("formatting open 40 deep is not cut")
            << "<body>" + QByteArray("<b>").repeated(40) + "aaaa<br/>bbbb</body>" << html
            << "<body><div>" + QByteArray("<b>").repeated(40) + "aaaa<br/>bbbb" + QByteArray("</b>").repeated(40)
                + "</div>" + QByteArray("<b>").repeated(40) + "</body>";
        QTest::newRow("end tags of line breaks") << QByteArray("<body>aaa</br>bbb</br>ccc</body>") << html
                                                 << QByteArray("<body><div>aaa</br></div><div>bbb</br></div><div>ccc"
                                                               "</div></body>");
        // What the HTML parser reads as comments holds no line break.
        QTest::newRow("comments") << QByteArray("<body>aaa</<br/>bbb<!--> -->ccc<br/>ddd<!-->eee<br>--></body>") << html
                                  << QByteArray("<body><div>aaa</<br/>bbb<!--> </div><div>-->ccc<br/></div><div>ddd"
                                                "<!-->eee<br></div><div>--></div></body>");
        QTest::newRow("text that ends in </") << QByteArray("<body>aaa<br/>bbb</") << html
                                              << QByteArray("<body><div>aaa<br/></div><div>bbb&lt;/</div>");
        // Outside SVG and MathML the HTML parser ends "<![CDATA[" at the first ">".
        QTest::newRow("cdata in html") << QByteArray("<body>aaa<![CDATA[>bbb<br/>ccc<p>d]]>e</p></body>") << html
                                       << QByteArray("<body><div>aaa<![CDATA[>bbb<br/></div><div>ccc</div><p>d]]>e"
                                                     "</p></body>");
        QTest::newRow("xml") << QByteArray("<body><span/>aaa<br/><![CDATA[<b>]]>bbb</body>") << int(HtmlNesting::Xml)
                             << QByteArray("<body><div><span/>aaa<br/></div><div><![CDATA[<b>]]>bbb</div></body>");
        QTest::newRow("head and table rows are left alone")
            << QByteArray("<head><title>a<br/>b<br/>c</title></head><table>aaa<br/>bbb<tr><td>c</td></tr></table>")
            << html
            << QByteArray("<head><title>a<br/>b<br/>c</title></head><table>aaa<br/>bbb<tr><td>c</td></tr></table>");
        QTest::newRow("short runs") << QByteArray("<body>aa<br/>b<p>cc<br/>d</p></body>") << html
                                    << QByteArray("<body>aa<br/>b<p>cc<br/>d</p></body>");
        // Only attributes named id or name are left out of the copies; other values are kept
        // byte for byte, whatever they hold.
        QTest::newRow("values holding id= and name=")
            << QByteArray("<body><b title=\"Poem name=Ode\" id=x>aa<br/>bb</b><i title='see id=3' NAME='n'>cc<br/>"
                          "dd</i><u title=name=Ode>ee<br/>ff</u></body>")
            << html
            << QByteArray("<body><div><b title=\"Poem name=Ode\" id=x>aa<br/></b></div><div><b title=\"Poem "
                          "name=Ode\">bb</b><i title='see id=3' NAME='n'>cc<br/></i></div><div><i title='see id=3'>dd"
                          "</i><u title=name=Ode>ee<br/></u></div><div><u title=name=Ode>ff</u></div></body>");
        QTest::newRow("blanks around =, values holding >")
            << QByteArray("<body><b id = \"x\" title = \"a > b\"\tclass=c name\t=\t'n'>aaa<br/>bbb</b></body>") << html
            << QByteArray("<body><div><b id = \"x\" title = \"a > b\"\tclass=c name\t=\t'n'>aaa<br/></b></div><div>"
                          "<b title = \"a > b\"\tclass=c>bbb</b></div></body>");
        QTest::newRow("paragraph with a value holding name=")
            << QByteArray("<p title=\"Poem name=Ode\" id='p'>aaa<br/>bbb</p>") << html
            << QByteArray("<p title=\"Poem name=Ode\" id='p'>aaa<br/></p><p title=\"Poem name=Ode\">bbb</p>");
        QTest::newRow("xml: xml:id dropped, names closed as written")
            << QByteArray("<body><span xml:id=\"s\" title=\"x id=y\" class='c'>aa<m:Note xmlns:m='urn:m' "
                          "m:ref='a>b'>a<br/>bbb</m:Note></span></body>")
            << int(HtmlNesting::Xml)
            << QByteArray("<body><div><span xml:id=\"s\" title=\"x id=y\" class='c'>aa<m:Note xmlns:m='urn:m' "
                          "m:ref='a>b'>a<br/></m:Note></span></div><div><span title=\"x id=y\" class='c'><m:Note "
                          "xmlns:m='urn:m' m:ref='a>b'>bbb</m:Note></span></div></body>");
        // Preformatted lines end with a line end: cut only right after one. The line end the
        // HTML parser drops after "<pre>" stays where it drops it.
        QTest::newRow("pre: cut after a line end only")
            << QByteArray("<body><pre>\naaa\nbb bb\ncc. dd\n</pre></body>") << html
            << QByteArray("<body><pre>\n<div>aaa\nbb bb\n</div><div>cc. dd\n</div></pre></body>");
        QTest::newRow("listing: one long line is not cut")
            << QByteArray("<body><listing>aaaa bbbb. cccc dddd</listing></body>") << html
            << QByteArray("<body><listing><div>aaaa bbbb. cccc dddd</div></listing></body>");
        QTest::newRow("xml: pre keeps its first line end")
            << QByteArray("<body><pre>\naa bb.\ncc dd\n</pre></body>") << int(HtmlNesting::Xml)
            << QByteArray("<body><pre><div>\naa bb.\n</div><div>cc dd\n</div></pre></body>");
        QTest::newRow("plaintext is left alone") << QByteArray("<body><plaintext>aaa<br/>bbb<br/>ccc</body>") << html
                                                 << QByteArray("<body><plaintext>aaa<br/>bbb<br/>ccc</body>");
        // A word longer than a piece is cut too: the web view lays a block of one word of a
        // megabyte out in seconds. Never inside a reference, nor inside a character of several
        // bytes (after an ASCII byte that follows another only).
        QTest::newRow("a word longer than a piece")
            << "<body>" + QByteArray(20, '<') + "</body>" << html
            << QByteArray("<body><div><<<<<</div><div><<<<<</div><div><<<<<</div><div><<<<&lt;</div></body>");
        QTest::newRow("references and characters of several bytes stay whole")
            << QByteArray("<body>&notit;&notin;&no&CounterClockwiseContourIntegral;aaaaaaaa&#x000000000000003c;&lt;"
                          "&lt;&#60;&#x3c;&lt;éaéaa&amp;</body>")
            << html
            << QByteArray("<body><div>&notit;</div><div>&notin;</div><div>&no&CounterClockwiseContourIntegral;</div>"
                          "<div>aaaaa</div><div>aaa&#x000000000000003c;</div><div>&lt;&lt;</div><div>&#60;</div>"
                          "<div>&#x3c;</div><div>&lt;éaéaa</div><div>&amp;</div></body>");
        QTest::newRow("xml: references stay whole")
            << QByteArray("<body>é&lt;&#x3c;aé&lt;&#60;&amp;&lt;</body>") << int(HtmlNesting::Xml)
            << QByteArray("<body><div>é&lt;</div><div>&#x3c;</div><div>aé&lt;</div><div>&#60;</div>"
                          "<div>&amp;</div><div>&lt;</div></body>");
        // A combining mark (or a joiner, a variation selector) stays with its letter: the cut
        // goes before the letter, or on where the place before it is no whole character; marks
        // alone for a whole piece are cut all the same.
        for (const uint mark :
            { 0x301u, 0x1AB0u, 0x1DC0u, 0x20D0u, 0xFE20u, 0x903u, 0x20DDu, 0x200Du, 0xFE0Fu, 0xE0100u }) {
            const QByteArray utf8 = QString::fromUcs4(&mark, 1).toUtf8();
            QTest::newRow(qPrintable(QStringLiteral("mark U+%1 after the letter at a cut").arg(mark, 4, 16)))
                << "<body>abcde" + utf8 + "fgh</body>" << html
                << "<body><div>abcd</div><div>e" + utf8 + "fgh</div></body>";
        }
        const QByteArray acute = "\xCC\x81";
        const QByteArray eAcute = "\xC3\xA9";
        QTest::newRow("marks after a space and after a letter of several bytes")
            << "<body>ab cd " + acute + "efgh" + eAcute + "ab" + acute + "cdef</body>" << html
            << "<body><div>ab cd</div><div> " + acute + "ef</div><div>gh" + eAcute + "ab" + acute
                + "cd</div><div>ef</div></body>";
        const QByteArray marked = "ab" + acute;
        const QByteArray cutMarked = "<div>" + marked + "ab</div><div>" + (acute + "ab").repeated(2) + "</div><div>"
            + (acute + "ab").repeated(2) + acute + "</div>";
        QTest::newRow("marks alone are cut all the same")
            << "<body>" + marked.repeated(6) + "</body>" << html << "<body>" + cutMarked + "</body>";
        // XML reads a tag whatever letter its name starts with ("<_x>", "<\xC3\xA9>"), and a comment
        // or an instruction to its own close: no cut inside one, whatever ">" it holds.
        QTest::newRow("xml: tags named with _ and letters beyond ASCII, > in values")
            << QByteArray("<body><_x t=\"a > b c\">aaaa bbbb</_x><\xC3\xA9 t='d > e f'>cccc dddd</\xC3\xA9><\xC3\xBC:a "
                          "xmlns:\xC3\xBC=\"urn:u\" t=\"g > h i\">eeee<br/>ffff</\xC3\xBC:a></body>")
            << int(HtmlNesting::Xml) << QByteArray();
        QTest::newRow("xml: comments and instructions holding > and tags")
            << QByteArray("<body>aaaa<?pi <br/> x y ?>bbbb<!---> <br/> <b> -->cccc<br/>dddd</body>")
            << int(HtmlNesting::Xml) << QByteArray();
        // Cut while fewer than 33 are open, then one text after another that cannot be cut: each
        // is read once, not searched on to the end of the run for a place to cut. Too long to
        // spell out (no expected text): held to the text the parser shows.
        QTest::newRow("paragraph of 4,000 links never closed")
            << "<p>" + QByteArray("<a href=#x>w ").repeated(4000) + "</p>" << html << QByteArray();
    }

    void inlineRunsCutIntoBlocks()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, syntax);
        QFETCH(QByteArray, expected);
        int runs = -1;
        qint64 scanned = 0;
        const QByteArray blocked = InlineRuns::blocked(text, InlineRuns::Syntax(syntax), &runs, 8, 4, &scanned);
        if (!expected.isNull())
            QCOMPARE(blocked, expected);
        QCOMPARE(runs > 0, text != blocked);
        // Each token is read twice (finding the runs, writing them), each byte of text at most
        // thrice more by the searches for a place to cut: never once more for each cut.
        QVERIFY2(scanned <= 6 * text.size(),
            qPrintable(QStringLiteral("%1 bytes read for %2").arg(scanned).arg(text.size())));
        if (syntax == HtmlNesting::Html)
            QCOMPARE(parsedmarkup::read(blocked).shown, parsedmarkup::read(text).shown);
        // No block starts with a mark that belonged to the letter before it, but where marks
        // follow every letter.
        const QRegularExpression markFirst(QStringLiteral("<(div|p)( [^>]*)?>[\\p{M}\\x{200D}]"));
        if (!text.contains("ab\xCC\x81\x61\x62"))
            QVERIFY2(!QString::fromUtf8(blocked).contains(markFirst), blocked.constData());
        if (syntax == HtmlNesting::Xml) {
            // Well-formed in, well-formed out, with the same character data.
            const auto characters = [](const QByteArray& xml) {
                QXmlStreamReader reader(xml);
                QString data;
                while (!reader.atEnd()) {
                    if (reader.readNext() == QXmlStreamReader::Characters)
                        data += reader.text();
                }
                return reader.hasError() ? QStringLiteral("error: ") + reader.errorString() : data;
            };
            QCOMPARE(characters(blocked), characters(text));
            QVERIFY(!characters(text).startsWith(QLatin1String("error: ")));
        }
    }

    // A book of lines apart by line breaks only is stored with blocks the reading page can lay
    // out one by one, showing the same text, formatting and ids; a book whose runs are short
    // keeps its bytes, so element paths stored for it hold.
    void bareLinesStoredInBlocks_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("kilobytes");
        QTest::addColumn<QByteArray>("lineEnd");
        QTest::newRow("in the body") << QByteArray() << 600 << QByteArray("<br/>\n");
        QTest::newRow("in a paragraph") << QByteArray("<p class='x'>") << 600 << QByteArray("<br/>\n");
        QTest::newRow("short") << QByteArray() << 100 << QByteArray("<br/>\n");
        // Its lines stay whole: each is one line of the page still.
        QTest::newRow("preformatted") << QByteArray("<pre>") << 1024 << QByteArray("\n");
    }

    void bareLinesStoredInBlocks()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, kilobytes);
        QFETCH(QByteArray, lineEnd);
        const auto line = [](int i) {
            return "The weaver sat at the loom from morning to night, and the shuttle flew " + QByteArray::number(i)
                + ".";
        };
        QByteArray body = head;
        for (int i = 0; body.size() < kilobytes * 1024; ++i) {
            if (i == 300)
                body += "<b><span id='mid'>";
            body += line(i) + lineEnd;
            if (i == 800)
                body += "</span></b>";
        }
        MobiWriter writer;
        writer.setText("<html><head></head><body>" + body + "</body></html>");
        MobiDocument document(save(writer.build()));
        const QString chapter = convertedBook(document);
        QVERIFY(!chapter.isEmpty());
        const bool kept = kilobytes * 1024 < InlineRuns::MaxRunBytes;
        QCOMPARE(chapter.contains(QString::fromUtf8(body)), kept);

        QWebPage page;
        page.mainFrame()->setHtml(chapter);
        const auto evaluate = [&page](const char* script) { return page.mainFrame()->evaluateJavaScript(script); };
        // The most text a block holds outside its child blocks.
        const int longest = evaluate("(function () { var most = 0, all = document.querySelectorAll('body, body *');"
                                     " function inline(e) { return getComputedStyle(e).display === 'inline'; }"
                                     " for (var i = 0; i < all.length; ++i) { if (inline(all[i])) continue;"
                                     " var own = 0; for (var c = all[i].firstChild; c; c = c.nextSibling)"
                                     " own += c.nodeType === 3 ? c.length : c.nodeType === 1 && inline(c)"
                                     " ? c.textContent.length : 0; most = Math.max(most, own); } return most; })()")
                                .toInt();
        if (kept)
            QVERIFY2(longest > 64 * 1024, qPrintable(QString::number(longest)));
        else
            QVERIFY2(longest <= 32 * 1024, qPrintable(QString::number(longest)));
        const QString plain = QString::fromUtf8(body).remove(QRegularExpression("<[^>]*>"));
        QCOMPARE(evaluate("document.body.textContent").toString(), plain);
        QCOMPARE(evaluate("document.querySelectorAll('#mid').length").toInt(), 1);
        QCOMPARE(evaluate("document.body.innerText").toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts),
            plain.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        // The bold lines are bold still, and nothing else is.
        const int boldStart = plain.indexOf(QString::fromUtf8(line(300)));
        const int boldEnd = plain.indexOf(QString::fromUtf8(line(801)));
        QCOMPARE(evaluate("(function () { var t = '', b = document.querySelectorAll('b');"
                          " for (var i = 0; i < b.length; ++i) t += b[i].textContent; return t; })()")
                     .toString(),
            plain.mid(boldStart, boldEnd - boldStart));
    }

    void toHtml()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(QStringList, titles);
        MobiWriter writer;
        writer.setText("x");
        MobiDocument document(save(writer.build()));
        const QString html = document.toHtml(text);
        if (!expected.isEmpty())
            QCOMPARE(html, expected);
        // Every character the parser shows stays, but those of headings that show nothing.
        const auto visible = [](const QString& html) {
            QString shown = parsedmarkup::read(html.toUtf8()).shown;
            shown.remove(QRegularExpression(QStringLiteral("[\\x{a0}\\x{ad}\\x{2000}-\\x{200f}]")));
            return shown;
        };
        QVERIFY(parsedmarkup::keepsShownText(visible(text), visible(html)));
        QCOMPARE(document.headingTitles(), titles);
        // One anchor for each entry.
        QCOMPARE(html.count(QRegularExpression(QStringLiteral("<a id='[0-9a-f]{32}'>"))), titles.size());
    }

    void cyrillicLinksLandOnTheirWords()
    {
        // Targets far into a UTF-8 text, where byte offsets and character positions differ by
        // thousands, across several compressed records with multibyte tails.
        QByteArray text = "<html><body><p><a filepos=" + token("first") + ">К первой главе</a> <a filepos="
            + token("word") + ">к слову</a> <a filepos=" + token("last") + ">к концу</a></p>";
        for (int i = 0; i < 60; ++i)
            text += QStringLiteral("<p>Все счастливые семьи похожи друг на друга.</p>").toUtf8();
        text += "@first@<h2>Глава первая</h2><p>Всё смешалось в доме @word@Облонских.</p>";
        for (int i = 0; i < 60; ++i)
            text += QStringLiteral("<p>Жена узнала, что муж был в связи с бывшею в их доме француженкой.</p>").toUtf8();
        text += "<p>Последние @last@слова книги.</p></body></html>";
        text = resolveLinks(text, { "first", "word", "last" });

        MobiWriter writer;
        writer.setText(text);
        writer.setExtraDataFlags(0x3);
        const QString path = save(writer.build());
        QVERIFY(Mobi(path).textRecordEnd() > 4);
        MobiDocument document(path);
        const QString html = convertedBook(document);
        QRegularExpressionMatchIterator links = QRegularExpression("<a href=\"#(\\d{10})\">").globalMatch(html);
        QStringList targets;
        while (links.hasNext())
            targets << links.next().captured(1);
        QCOMPARE(targets.size(), 3);
        QVERIFY(html.contains(anchor(targets[0]) + "<h2>Глава первая</h2>"));
        QVERIFY(html.contains("в доме " + anchor(targets[1]) + "Облонских."));
        QVERIFY(html.contains("Последние " + anchor(targets[2]) + "слова книги."));
        QCOMPARE(document.toc().size(), 1);
        QCOMPARE(document.toc().first().title, QStringLiteral("Глава первая"));

        // CP1252 books count bytes too; their full name is in that code page as well.
        const QByteArray latin = resolveLinks(
            "<p><a filepos=" + token("t") + ">to</a> caf\xe9 \x93\x80\x94 na\xefve @t@target</p>", { "t" });
        writer.setEncoding(1252);
        writer.setText(latin);
        writer.setFullName("D\xe9j\xe0 \x93vu\x94 \x80"
                           "5");
        const QString latinBook = save(writer.build());
        QCOMPARE(Mobi(latinBook).fullName(), QStringLiteral("Déjà “vu” €5"));
        MobiDocument cp1252(latinBook);
        const QString target = QString::number(latin.indexOf("target")).rightJustified(10, '0');
        QVERIFY(convertedBook(cp1252).contains(QStringLiteral("café “€” naïve ") + anchor(target) + "target"));
    }

    void failedLoads()
    {
        const QString folder = outputFolder();
        MobiWriter good;
        good.setText("<p>Text</p>");
        good.addImage(MobiWriter::image(QSize(2, 2), Qt::red));
        MobiWriter encrypted = good;
        encrypted.setEncryption(2);
        MobiWriter utf16 = good;
        utf16.setEncoding(1200);
        MobiWriter empty = good;
        empty.setText(QByteArray());
        MobiWriter huff = good;
        huff.setCompression(MobiWriter::Compression::HuffCdic);
        QByteArray badDictionary = huff.build();
        badDictionary.replace(badDictionary.indexOf("CDIC"), 4, "XXXX");
        const QStringList paths { save(encrypted.build()), save(utf16.build()), save(empty.build()),
            save(badDictionary), m_dir.filePath("missing.mobi") };
        for (const QString& path : paths) {
            MobiDocument document(path);
            QVERIFY2(!document.load(folder), qPrintable(path));
            QVERIFY(document.chapters().isEmpty());
        }
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());

        // The program's end stops the conversion: nothing is written.
        EndRequest::raise();
        MobiDocument stopped(save(good.build()));
        const bool loaded = stopped.load(folder);
        EndRequest::clear();
        QVERIFY(!loaded && stopped.chapters().isEmpty() && stopped.toc().isEmpty());
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
        // The next load converts.
        QVERIFY(stopped.load(folder) && stopped.chapters().size() == 1);

        // A missing folder is made; one under a file cannot be.
        const QString book = save(good.build());
        MobiDocument unwritable(book);
        QVERIFY(!unwritable.load(book + "/folder"));
        QVERIFY(unwritable.chapters().isEmpty());
    }

    void mutatedBooks()
    {
        const QString folder = outputFolder();
        const QList<QByteArray> books = fuzzSeeds();
        for (const QByteArray& book : books) {
            MobiDocument document(save(book));
            QVERIFY(document.load(folder));
            QVERIFY(!document.toc().isEmpty());
        }
        // Everything a reader and the document offer, on one file.
        const auto exercise = [](const QString& path, const QString& folder) {
            {
                Mobi reader(path);
                reader.fullName();
                reader.author();
                reader.coverImage();
                const int images = reader.imageCount();
                if (images > reader.recordCount())
                    qFatal("more images than records");
                reader.image(images - 1);
                reader.text();
            }
            MobiDocument document(path);
            document.load(folder);
            document.toc();
            document.loadResource(2, QUrl(QStringLiteral("pdbrec:/1")));
        };
        QRandomGenerator random(20240611);
        const QtMessageHandler previous = qInstallMessageHandler(swallowMessages);
        for (int round = 0; round < 1500; ++round) {
            QByteArray book = books[round % books.size()];
            for (int k = 1 + random.bounded(3); k > 0; --k)
                book = mutate(book, random);
            exercise(save(book), folder);
        }
        // Inputs that once broke the reader.
        for (const QFileInfo& file : QDir(testpaths::malformedDir("mobi")).entryInfoList(QDir::Files))
            exercise(file.filePath(), folder);
        qInstallMessageHandler(previous);
    }
};

QTEST_MAIN(TestMobi)
#include "tst_mobi.moc"
