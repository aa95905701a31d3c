#include "bookfiles.h"
#include "formats/mobi/huffcdicreader.h"
#include "formats/mobi/mobi.h"
#include "formats/mobi/mobitext.h"
#include "mobiwriter.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

using mobi::Mobi;

namespace {
// A few paragraphs of HTML-like text in Russian and English, repeated to the wanted size.
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

qint64 recordZeroField(const QByteArray& book, int offset) { return MobiWriter::record0Start(book) + offset; }
}

class TestMobiText : public QObject {
    Q_OBJECT

private:
    BookFiles m_files;

    QString save(const QByteArray& book) { return m_files.save(book); }

private slots:
    void palmDoc_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("pair copies three") << QByteArray::fromHex("4142438018") << QByteArray("ABCABC");
        QTest::newRow("short distance repeats") << QByteArray::fromHex("41800a") << QByteArray("AAAAAA");
        QTest::newRow("space pair") << QByteArray::fromHex("c1") << QByteArray(" A");
        QTest::newRow("literals") << QByteArray::fromHex("00097f") << QByteArray::fromHex("00097f");
        QTest::newRow("distance zero ends") << QByteArray::fromHex("41800042") << QByteArray("A");
        QTest::newRow("distance past output ends") << QByteArray::fromHex("41802042") << QByteArray("A");
        QTest::newRow("pair cut at the end") << QByteArray::fromHex("4180") << QByteArray("A");
        QTest::newRow("run past the end ends") << QByteArray::fromHex("41034243") << QByteArray("A");
        QTest::newRow("run to the last byte") << QByteArray::fromHex("41024243") << QByteArray("ABC");
        QTest::newRow("run of high bytes") << QByteArray::fromHex("02d0b0") << QByteArray::fromHex("d0b0");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void palmDoc()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QCOMPARE(mobi::palmDocDecompress(input), expected);
    }

    void palmDocRoundTrip()
    {
        QRandomGenerator random(7);
        for (int round = 0; round < 20; ++round) {
            QByteArray text = sampleText(4096, round % 2).left(4096);
            // Sprinkle bytes that need escaping.
            for (int k = 0; k < 30; ++k)
                text[int(random.bounded(text.size()))] = char(random.bounded(256));
            const QByteArray packed = MobiWriter::palmDocCompress(text);
            QVERIFY(packed.size() < text.size());
            QCOMPARE(mobi::palmDocDecompress(packed), text);
            // A limit ends decompression within one code of it.
            const QByteArray head = mobi::palmDocDecompress(packed, 100);
            QVERIFY(head.size() >= 100 && head.size() < 110);
            QCOMPARE(head, text.left(head.size()));
        }
    }

    void trailingEntries_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("flags");
        QTest::addColumn<int>("stripped");
        const QByteArray text("compressed");
        const QByteArray entry1 = QByteArray("PP") + MobiWriter::backwardSize(3);
        const QByteArray entry2 = QByteArray(200, 'Q') + MobiWriter::backwardSize(202);
        QCOMPARE(MobiWriter::backwardSize(202), QByteArray("\x81\x4a"));
        QTest::newRow("no flags") << text + entry1 << 0 << 0;
        QTest::newRow("multibyte tail") << text + QByteArray("\xb0\xd0\x02") << 1 << 3;
        QTest::newRow("empty multibyte tail") << text + QByteArray(1, '\0') << 1 << 1;
        QTest::newRow("one entry") << text + entry1 << 2 << 3;
        QTest::newRow("two-byte size") << text + entry2 << 4 << 202;
        QTest::newRow("two entries") << text + entry2 + entry1 << 6 << 205;
        QTest::newRow("all three") << text + QByteArray("\xb0\x01") + entry2 + entry1 << 7 << 207;
        QTest::newRow("size beyond the record") << QByteArray("ab\x8f") << 2 << 3;
        QTest::newRow("empty record") << QByteArray() << 0xFFFF << 0;
        QTest::newRow("unflagged size bytes") << QByteArray("\x01\x01\x01\x01\x01\x01") << 2 << 6;
    }

    void trailingEntries()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, flags);
        QFETCH(int, stripped);
        QCOMPARE(mobi::trailingEntriesSize(record, quint16(flags)), stripped);
    }

    void books_data()
    {
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("cyrillic");
        QTest::addColumn<int>("size");
        for (int compression : { 1, 2, 17480 }) {
            const QByteArray name = compression == 1 ? "plain" : compression == 2 ? "palmdoc" : "huffcdic";
            QTest::newRow(name + " latin") << compression << 0 << false << 20000;
            QTest::newRow(name + " cyrillic") << compression << 0 << true << 30000;
            QTest::newRow(name + " cyrillic multibyte tails") << compression << 1 << true << 30000;
            QTest::newRow(name + " cyrillic all entries") << compression << 0x7 << true << 30001;
            QTest::newRow(name + " one short record") << compression << 0x3 << true << 700;
        }
    }

    void books()
    {
        QFETCH(int, compression);
        QFETCH(int, flags);
        QFETCH(bool, cyrillic);
        QFETCH(int, size);
        // Text of an odd length, so the last record is shorter than the record size and
        // characters are split between records.
        QByteArray text = sampleText(size, cyrillic);
        text = text.left(size + (cyrillic ? 1 : 0));
        MobiWriter writer;
        writer.setText(text);
        writer.setCompression(MobiWriter::Compression(compression));
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

    void trailingEntriesNeedTheLongHeader()
    {
        // Without a header long enough to hold the flags the entries stay in the text (the
        // record-size cut is all they get).
        MobiWriter writer;
        writer.setText(QByteArray(5000, 'z'));
        writer.setCompression(MobiWriter::Compression::None);
        writer.setExtraDataFlags(0x2);
        QByteArray book = writer.build();
        MobiWriter::putBigEndian(book, recordZeroField(book, 16 + 4), 0xE0);
        Mobi reader(save(book));
        QCOMPARE(reader.mobiHead().extraDataFlags(), quint16(0));
        const QByteArray bytes = reader.textBytes();
        QCOMPARE(bytes.left(4096), QByteArray(4096, 'z'));
        QVERIFY(bytes.size() > 5000);
    }

    void recordsAreCutToTheRecordSize()
    {
        MobiWriter writer;
        writer.setText(sampleText(10000, false).left(10000));
        writer.setCompression(MobiWriter::Compression::None);
        QByteArray book = writer.build();
        MobiWriter::putBigEndian(book, recordZeroField(book, 10), 100, 2);
        Mobi reader(save(book));
        const QByteArray text = sampleText(10000, false);
        QCOMPARE(reader.textBytes(), text.mid(0, 100) + text.mid(4096, 100) + text.mid(8192, 100));
    }

    void unknownCompressionIsNone()
    {
        MobiWriter writer;
        writer.setText("plain text");
        writer.setCompression(MobiWriter::Compression::None);
        QByteArray book = writer.build();
        MobiWriter::putBigEndian(book, recordZeroField(book, 0), 3, 2);
        Mobi reader(save(book));
        QCOMPARE(mobi::compressionFromField(3), mobi::Compression::None);
        QCOMPARE(reader.text(), QStringLiteral("plain text"));
    }

    void firstNonBookIndexBoundsTheText_data()
    {
        QTest::addColumn<qint32>("firstNonBook");
        QTest::addColumn<int>("textRecords");
        QTest::newRow("as written") << 3 << 2;
        QTest::newRow("zero: every record") << 0 << 3;
        QTest::newRow("negative: every record") << -1 << 3;
        QTest::newRow("past the end") << 1000 << 3;
        QTest::newRow("one: no text") << 1 << 0;
        QTest::newRow("two") << 2 << 1;
    }

    void firstNonBookIndexBoundsTheText()
    {
        QFETCH(qint32, firstNonBook);
        QFETCH(int, textRecords);
        MobiWriter writer;
        writer.setText(QByteArray(4096, 'a') + QByteArray(10, 'b'));
        writer.setCompression(MobiWriter::Compression::None);
        writer.addImage("IMAGE");
        QByteArray book = writer.build();
        MobiWriter::putBigEndian(book, recordZeroField(book, 16 + 64), quint32(firstNonBook));
        Mobi reader(save(book));
        const QByteArray all = QByteArray(4096, 'a') + QByteArray(10, 'b') + "IMAGE";
        const int sizes[] = { 0, 4096, 4106, 4111 };
        QCOMPARE(reader.textRecordEnd(), textRecords + 1);
        QCOMPARE(reader.textBytes(), all.left(sizes[textRecords]));
    }

    void huffCdicTables()
    {
        // The writer's dictionary has compressed pair entries and codes longer than 8 bits, so
        // both the terminal lookup and the search through the limit table are used.
        const QByteArray text = sampleText(12000, true);
        QList<QByteArray> chunks;
        for (int pos = 0; pos < text.size(); pos += 4096)
            chunks.append(text.mid(pos, 4096));
        HuffCdicWriter::Options options;
        options.codeBits = 5;
        const HuffCdicWriter writer(chunks, options);
        QVERIFY(writer.maxCodeLength() > 8);
        QVERIFY(writer.cdicRecords().size() > 2);
        mobi::HuffCdicReader reader(writer.huffRecord(), writer.cdicRecords());
        QVERIFY(reader.isValid());
        for (int i = 0; i < chunks.size(); ++i) {
            QCOMPARE(reader.decodeRecord(writer.encodedRecords()[i], -1), chunks[i]);
            QVERIFY(reader.lastRecordSteps() < 2 * chunks[i].size());
            QCOMPARE(reader.decodeRecord(writer.encodedRecords()[i], 50), chunks[i].left(50));
        }
        QCOMPARE(reader.exhaustedRecords(), 0);

        QVERIFY(!mobi::HuffCdicReader(writer.huffRecord().left(1000), writer.cdicRecords()).isValid());
        QVERIFY(!mobi::HuffCdicReader(writer.huffRecord(), {}).isValid());
        QVERIFY(!mobi::HuffCdicReader("HUFX" + writer.huffRecord().mid(4), writer.cdicRecords()).isValid());
        QVERIFY(!mobi::HuffCdicReader(writer.huffRecord(), { "CDIX" + writer.cdicRecords()[0].mid(4) }).isValid());
    }

    void huffCdicNesting_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("kept");
        QTest::newRow("1 level") << 1 << true;
        QTest::newRow("32 levels") << 32 << true;
        QTest::newRow("33 levels") << 33 << false;
        QTest::newRow("40 levels") << 40 << false;
    }

    void huffCdicNesting()
    {
        QFETCH(int, depth);
        QFETCH(bool, kept);
        const QByteArray text("Before the deep word comes after it. deep end.");
        MobiWriter writer;
        writer.setText(text);
        writer.setCompression(MobiWriter::Compression::HuffCdic);
        HuffCdicWriter::Options options;
        options.nestedWord = "deep";
        options.nestedDepth = depth;
        writer.setHuffCdicOptions(options);
        Mobi reader(save(writer.build()));
        QByteArray expected = text;
        if (!kept)
            expected.replace("deep", "");
        QCOMPARE(reader.textBytes(), expected);
    }

    void huffCdicSelfReference()
    {
        // Every "loop" is an entry whose bytes are its own code twice: unbounded, it would
        // take 2^33 steps per occurrence.
        QByteArray text;
        for (int i = 0; i < 20; ++i)
            text += sampleText(4096, false).left(4000) + " loop ";
        MobiWriter writer;
        writer.setText(text);
        writer.setCompression(MobiWriter::Compression::HuffCdic);
        HuffCdicWriter::Options options;
        options.loopWord = "loop";
        writer.setHuffCdicOptions(options);
        Mobi reader(save(writer.build()));

        const QByteArray firstRecord = text.left(4096);
        const int loopAt = firstRecord.indexOf("loop");
        QVERIFY(loopAt > 0);
        bool ok = false;
        const QByteArray bytes = reader.textBytes(&ok);
        QVERIFY(ok);
        // The text in front of the first loop survives; decoding gives up after a few
        // records that exhaust their budget.
        QVERIFY(bytes.startsWith(firstRecord.left(loopAt)));
        QVERIFY(bytes.size() < text.size());

        // Directly: the step count stays within the budget.
        const QByteArray single = text.left(200) + " loop";
        HuffCdicWriter huff({ single }, options);
        mobi::HuffCdicReader decoder(huff.huffRecord(), huff.cdicRecords());
        QCOMPARE(decoder.decodeRecord(huff.encodedRecords()[0], 4096), text.left(200) + " ");
        QVERIFY(decoder.lastRecordExhausted());
        QVERIFY(decoder.lastRecordSteps() <= qint64(mobi::HuffCdicReader::StepsPerByte) * 4096 + 1);
    }

    void brokenDictionaryFailsTheText()
    {
        MobiWriter writer;
        writer.setText("Some text to compress, some text.");
        writer.setCompression(MobiWriter::Compression::HuffCdic);
        QByteArray book = writer.build();
        // Huffman record index past the records.
        MobiWriter::putBigEndian(book, recordZeroField(book, 16 + 96), 5000);
        Mobi reader(save(book));
        bool ok = true;
        QCOMPARE(reader.textBytes(&ok), QByteArray());
        QVERIFY(!ok);

        // Absurd record count.
        MobiWriter::putBigEndian(book, recordZeroField(book, 16 + 96), 2);
        MobiWriter::putBigEndian(book, recordZeroField(book, 16 + 100), 0xFFFFFFFF);
        Mobi counted(save(book));
        counted.textBytes(&ok);
        QVERIFY(!ok);
    }

    void missingCodecGivesNoText()
    {
        MobiWriter writer;
        writer.setText("text");
        writer.setEncoding(1200);
        Mobi reader(save(writer.build()));
        QCOMPARE(reader.text(), QString());
        QCOMPARE(reader.textBytes(), QByteArray("text"));
    }

    void cp1252Text()
    {
        const QString text = QStringLiteral("Déjà vu – “quoted” for €10.");
        MobiWriter writer;
        writer.setEncoding(1252);
        writer.setText(QTextCodec::codecForName("windows-1252")->fromUnicode(text));
        Mobi reader(save(writer.build()));
        QCOMPARE(reader.text(), text);
    }
};

QTEST_MAIN(TestMobiText)
#include "tst_mobitext.moc"
