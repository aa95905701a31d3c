#include "bookfiles.h"
#include "formats/mobi/mobi.h"
#include "mobiwriter.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QtEndian>

using mobi::Mobi;

// Record 0 fields of a built book, as offsets from the start of the file.
namespace {
qint64 mobiField(const QByteArray& book, int offset) { return MobiWriter::record0Start(book) + 16 + offset; }
}

class TestMobiHeaders : public QObject {
    Q_OBJECT

private:
    BookFiles m_files;

    QString save(const QByteArray& book) { return m_files.save(book); }

    static MobiWriter basicWriter()
    {
        MobiWriter writer;
        writer.setText("<html><body><p>Hello, world.</p></body></html>");
        writer.setFullName("The Long Title of the Book");
        writer.setAuthor(QStringLiteral("Ann Author"));
        writer.addExth(101, "Publisher House");
        writer.addExth(103, QStringLiteral("Описание").toUtf8());
        writer.addExth(104, "978-3-16-148410-0");
        writer.addExth(105, "Fiction");
        return writer;
    }

private slots:
    void headersAndExth()
    {
        const QByteArray book = basicWriter().build();
        Mobi reader(save(book));
        QCOMPARE(
            QVariantList({ reader.isOpen(), reader.isMobi(), reader.isEncrypted(), reader.palmDbHeader().type(),
                reader.palmDbHeader().creator(), reader.recordCount(), reader.recordOffset(0), reader.recordOffset(2),
                reader.firstRecordSize(), reader.palmDocHeader().compression(), reader.palmDocHeader().recordSize(),
                reader.mobiHead().headerLength(), reader.mobiHead().encodingName(),
                mobi::mobiTypeName(reader.mobiHead()), reader.fullName(), reader.author() }),
            QVariantList({ true, true, false, QByteArray("BOOK"), QByteArray("MOBI"), 2, MobiWriter::record0Start(book),
                qint64(0), reader.recordOffset(1) - reader.recordOffset(0), 2, 4096, quint32(MobiWriter::HeaderLength),
                "UTF-8", "Mobipocket Book", "The Long Title of the Book", "Ann Author" }));
        const mobi::ExthHeader& exth = reader.mobiHead().exth();
        QCOMPARE(QStringList({ exth.value(101), exth.value(103), exth.value(104), exth.value(105), exth.value(108) }),
            QStringList({ "Publisher House", "Описание", "978-3-16-148410-0", "Fiction", "" }));
        // 12 + records of 8 + data each, rounded up to 4.
        int expected = 12;
        for (const mobi::ExthRecord& record : exth.records)
            expected += 8 + record.data.size();
        QCOMPARE(reader.mobiHead().exthSize(), (expected + 3) / 4 * 4);

        QVERIFY(reader.record(-1).isNull());
        QVERIFY(reader.record(2).isNull());
        QVERIFY(reader.record(1).size() > 0);
        QCOMPARE(reader.record(0).left(2), QByteArray("\x00\x02", 2));
    }

    void exthEdgeCases()
    {
        MobiWriter writer;
        writer.setText("x");
        writer.addExth(300, "a");
        writer.addExth(301, "bc");
        writer.addExth(302, "");
        writer.addExth(100, "First");
        writer.addExth(100, "Second");
        Mobi reader(save(writer.build()));
        // 12 + 9 + 10 + 8 + 13 + 14 = 66, rounded to 68.
        QCOMPARE(reader.mobiHead().exth().records.size(), 5);
        QCOMPARE(reader.mobiHead().exthSize(), 68);
        QCOMPARE(reader.author(), QStringLiteral("First"));
        QCOMPARE(reader.mobiHead().exth().data(302), QByteArray(""));

        // A block that does not start with "EXTH" has no records but still counts 12.
        QByteArray book = writer.build();
        const qint64 exthStart = mobiField(book, MobiWriter::HeaderLength);
        QCOMPARE(book.mid(int(exthStart), 4), QByteArray("EXTH"));
        book[int(exthStart + 3)] = 'X';
        Mobi broken(save(book));
        QVERIFY(broken.mobiHead().hasExth());
        QVERIFY(broken.mobiHead().exth().records.isEmpty());
        QCOMPARE(broken.mobiHead().exthSize(), 12);
        QCOMPARE(broken.author(), QString());

        // No EXTH flag: no block, size 0, and an empty one answers every question.
        MobiWriter plain;
        plain.setText("x");
        Mobi none(save(plain.build()));
        QVERIFY(!none.mobiHead().hasExth());
        QCOMPARE(none.mobiHead().exthSize(), 0);
        QCOMPARE(none.author(), QString());
        QCOMPARE(none.fullName(), QStringLiteral("Untitled"));
    }

    void exthCountsAreBoundedByRecordZero()
    {
        MobiWriter writer;
        writer.setText("text");
        writer.addExth(100, "Author");
        QByteArray book = writer.build();
        const qint64 exthStart = mobiField(book, MobiWriter::HeaderLength);
        MobiWriter::putBigEndian(book, exthStart + 8, 0x7FFFFFFF);
        Mobi reader(save(book));
        // Record 0 ends after the full name, so the count cannot take more than fits.
        QCOMPARE(reader.author(), QStringLiteral("Author"));
        QVERIFY(reader.mobiHead().exth().records.size() < 10);

        // A record length that runs past record 0 stops the block there.
        MobiWriter::putBigEndian(book, exthStart + 16, 0x10000000);
        Mobi cut(save(book));
        QVERIFY(cut.mobiHead().exth().records.isEmpty());
        QCOMPARE(cut.text(), QStringLiteral("text"));
    }

    void fullName_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("offsetDelta");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("expected");
        const QByteArray title("Zero Title");
        const QByteArray zeros = QByteArray(3, '\0') + title;
        QTest::newRow("as written") << title << 0 << 10 << QStringLiteral("Zero Title");
        QTest::newRow("zero bytes before it are skipped") << zeros << 0 << 10 << QStringLiteral("Zero Title");
        QTest::newRow("shorter length") << title << 0 << 4 << QStringLiteral("Zero");
        QTest::newRow("offset before the remainder") << title << -3 << 10 << QString();
        QTest::newRow("end past the remainder") << title << 0 << 5000 << QString();
        QTest::newRow("negative length") << title << 0 << -1 << QString();
        QTest::newRow("zero length") << title << 0 << 0 << QString();
    }

    void fullName()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, offsetDelta);
        QFETCH(int, length);
        QFETCH(QString, expected);
        MobiWriter writer;
        writer.setText("x");
        writer.setFullName(stored);
        QByteArray book = writer.build();
        const qint64 offsetField = mobiField(book, 68);
        const quint32 offset = qFromBigEndian<quint32>(book.constData() + offsetField);
        MobiWriter::putBigEndian(book, offsetField, offset + offsetDelta);
        MobiWriter::putBigEndian(book, mobiField(book, 72), quint32(length));
        Mobi reader(save(book));
        QCOMPARE(reader.fullName(), expected);
    }

    void singleRecordHasNoFullName()
    {
        MobiWriter writer;
        writer.setFullName("Lonely");
        const QByteArray book = writer.build();
        Mobi reader(save(book));
        QCOMPARE(reader.recordCount(), 1);
        QCOMPARE(reader.firstRecordSize(), qint64(0));
        QVERIFY(reader.mobiHead().remainder().isEmpty());
        QCOMPARE(reader.fullName(), QString());
        QCOMPARE(reader.text(), QString());
    }

    void typeNames_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QString>("name");
        QTest::newRow("2") << 2u << QStringLiteral("Mobipocket Book");
        QTest::newRow("259") << 259u << QStringLiteral("News Magazine");
        QTest::newRow("518") << 518u << QStringLiteral("HTML");
        QTest::newRow("1") << 1u << QStringLiteral("Unknown (1)");
        QTest::newRow("huge") << 4000000000u << QStringLiteral("Unknown (4000000000)");
    }

    void typeNames()
    {
        QFETCH(quint32, type);
        QFETCH(QString, name);
        MobiWriter writer;
        writer.setMobiType(type);
        Mobi reader(save(writer.build()));
        QCOMPARE(mobi::mobiTypeName(reader.mobiHead()), name);
    }

    void encodings_data()
    {
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("encodingName");
        QTest::addColumn<QString>("fullName");
        QTest::newRow("UTF-8") << 65001 << QStringLiteral("Война и мир").toUtf8() << "UTF-8"
                               << "Война и мир";
        QTest::newRow("cp1252") << 1252
                                << QTextCodec::codecForName("windows-1252")->fromUnicode(QStringLiteral("Café – €5"))
                                << "Cp1252"
                                << "Café – €5";
        // UTF-16 is not a text encoding of these books: nothing is decoded.
        QTest::newRow("UTF-16") << 1200 << QByteArray("Title") << QString() << QString();
    }

    void encodings()
    {
        QFETCH(int, encoding);
        QFETCH(QByteArray, stored);
        QFETCH(QString, encodingName);
        QFETCH(QString, fullName);
        MobiWriter writer;
        writer.setEncoding(encoding);
        writer.setFullName(stored);
        writer.setText("x");
        Mobi reader(save(writer.build()));
        QCOMPARE(reader.mobiHead().encodingName(), encodingName);
        QCOMPARE(reader.fullName(), fullName);
        QCOMPARE(reader.text().isEmpty(), fullName.isEmpty());
    }

    void identifierAndEncryption()
    {
        MobiWriter writer;
        writer.setText("x");
        writer.setIdentifier("TEXt");
        writer.addImage(MobiWriter::image(QSize(4, 4), Qt::red));
        Mobi other(save(writer.build()));
        QVERIFY(!other.isMobi());
        QCOMPARE(other.mobiHead().identifier(), QByteArray("TEXt"));

        writer.setIdentifier("MOBI");
        writer.setEncryption(2);
        Mobi encrypted(save(writer.build()));
        QVERIFY(encrypted.isMobi());
        QVERIFY(encrypted.isEncrypted());
        QCOMPARE(encrypted.imageCount(), 1);
        QVERIFY(encrypted.coverImage().isNull());
        QVERIFY(!encrypted.image(0).isNull());
    }

    void images()
    {
        MobiWriter writer;
        writer.setText(QByteArray(9000, 'a'));
        writer.setCompression(MobiWriter::Compression::HuffCdic);
        writer.addImage(MobiWriter::image(QSize(10, 20), Qt::red, "PNG"));
        writer.addImage(MobiWriter::image(QSize(30, 40), Qt::blue, "JPG"));
        writer.addImage(MobiWriter::image(QSize(5, 6), Qt::green, "BMP"));
        writer.setCoverOffset(0);
        writer.setTrailerRecords(true);
        Mobi reader(save(writer.build()));
        // Record 0, 3 text records, HUFF and 1 CDIC record, then the images: the scan starts
        // at the first non-book record and passes over the dictionary.
        QCOMPARE(reader.mobiHead().firstNonBookIndex(), 4);
        QCOMPARE(reader.firstImageRecord(), 6);
        // FLIS, FCIS and the end record follow the images and are counted too.
        QCOMPARE(reader.imageCount(), 6);
        const QSize none(0, 0); // a null image
        QList<QSize> sizes;
        for (int i = -1; i <= 6; ++i)
            sizes.append(reader.image(i).size());
        QCOMPARE(sizes, QList<QSize>({ none, QSize(10, 20), QSize(30, 40), QSize(5, 6), none, none, none, none }));
        QCOMPARE(reader.coverImage().size(), QSize(10, 20));
        QCOMPARE(reader.coverImage().pixelColor(0, 0), QColor(Qt::red));
    }

    void noImages()
    {
        MobiWriter writer;
        writer.setText("text");
        Mobi reader(save(writer.build()));
        QCOMPARE(reader.firstImageRecord(), reader.recordCount());
        QCOMPARE(reader.imageCount(), 0);
        QVERIFY(reader.coverImage().isNull());
        QVERIFY(reader.image(0).isNull());
    }

    void hugeImagesAreNotDecoded()
    {
        // A JPEG whose frame header claims 20000 x 20000 pixels (400 megapixels).
        QByteArray jpeg = MobiWriter::image(QSize(8, 8), Qt::red, "JPG");
        const int frame = jpeg.indexOf("\xff\xc0");
        QVERIFY(frame > 0);
        const QByteArray side("\x4e\x20", 2); // 20000, big-endian
        jpeg.replace(frame + 5, 2, side);
        jpeg.replace(frame + 7, 2, side);
        MobiWriter writer;
        writer.setText("text");
        writer.addImage(jpeg);
        writer.addImage(MobiWriter::image(QSize(3, 3), Qt::red));
        Mobi reader(save(writer.build()));
        QCOMPARE(reader.imageCount(), 2);
        QVERIFY(reader.image(0).isNull());
        QCOMPARE(reader.image(1).size(), QSize(3, 3));
    }

    void firstNonBookIndexIsClamped_data()
    {
        QTest::addColumn<qint32>("firstNonBook");
        QTest::addColumn<int>("firstImage");
        QTest::newRow("zero") << 0 << 2;
        QTest::newRow("negative") << -5 << 2;
        QTest::newRow("past the end") << 1000 << 4;
        QTest::newRow("huge") << 0x7FFFFFFF << 4;
    }

    void firstNonBookIndexIsClamped()
    {
        QFETCH(qint32, firstNonBook);
        QFETCH(int, firstImage);
        MobiWriter writer;
        writer.setText("text");
        writer.addImage(MobiWriter::image(QSize(2, 2), Qt::red));
        writer.addImage(MobiWriter::image(QSize(2, 2), Qt::red));
        QByteArray book = writer.build();
        MobiWriter::putBigEndian(book, mobiField(book, 64), quint32(firstNonBook));
        Mobi reader(save(book));
        QCOMPARE(reader.recordCount(), 4);
        QCOMPARE(reader.firstImageRecord(), firstImage);
        QCOMPARE(reader.imageCount(), 4 - firstImage);
    }

    void recordLengthsAreBoundedByTheFile()
    {
        MobiWriter writer;
        writer.setText(QByteArray(10000, 'b'));
        QByteArray book = writer.build();
        // Record 2 claims to start past the end of the file, record 3 before record 2.
        const int count = 4;
        Mobi whole(save(book));
        QCOMPARE(whole.recordCount(), count);
        MobiWriter::putBigEndian(book, 78 + 8 * 2, 0x7FFFFFF0);
        Mobi reader(save(book));
        QCOMPARE(reader.recordLength(2), qint64(0));
        QCOMPARE(reader.record(2), QByteArray(""));
        // Record 1 now runs to the end of the file.
        QCOMPARE(reader.recordLength(1), qint64(book.size()) - reader.recordOffset(1));
        // Record 3 goes back below record 2: it is empty, so no byte is read twice.
        QCOMPARE(reader.recordLength(3), qint64(0));
    }

    void absurdRecordCountIsCutToTheFile()
    {
        MobiWriter writer;
        writer.setText("text");
        QByteArray book = writer.build();
        MobiWriter::putBigEndian(book, 76, 0xFFFF, 2);
        Mobi reader(save(book));
        QVERIFY(reader.recordCount() <= book.size() / 8);
        QVERIFY(reader.recordCount() > 2);
    }

    void missingAndTruncatedFiles()
    {
        Mobi missing(m_files.filePath(QStringLiteral("does-not-exist.mobi")));
        QVERIFY(!missing.isOpen());
        QCOMPARE(missing.recordCount(), 0);
        QVERIFY(missing.record(0).isNull());
        QVERIFY(!missing.isMobi());
        QVERIFY(missing.coverImage().isNull());
        QCOMPARE(missing.imageCount(), 0);
        QCOMPARE(missing.text(), QString());

        MobiWriter writer = basicWriter();
        writer.addImage(MobiWriter::image(QSize(2, 2), Qt::red));
        const QByteArray book = writer.build();
        for (int size : { 0, 10, 77, 78, 84, 100, 120, 200, 300, 400, book.size() - 10 }) {
            Mobi reader(save(book.left(size)));
            QVERIFY(reader.recordCount() <= qMax(0, (size - 78) / 8));
            reader.text();
            reader.coverImage();
            reader.fullName();
        }
        Mobi cut(save(book.left(120)));
        QCOMPARE(cut.mobiHead().headerLength(), quint32(0));
        QCOMPARE(cut.palmDocHeader().recordSize(), 4096);
    }
};

QTEST_MAIN(TestMobiHeaders)
#include "tst_mobiheaders.moc"
