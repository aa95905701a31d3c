#include "bookfiles.h"
#include "formats/mobi/mobi.h"
#include "formats/mobi/mobidocument.h"
#include "mobiwriter.h"
#include "testpaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

namespace {
// The fuzz loop produces thousands of expected warnings; they are counted, not printed.
int swallowedMessages = 0;
void swallowMessages(QtMsgType, const QMessageLogContext&, const QString&) { ++swallowedMessages; }

QByteArray fixtureText(int paragraphs)
{
    QByteArray text = "<html><body><p><a filepos=0000000300>jump</a></p>";
    for (int i = 0; i < paragraphs; ++i) {
        text += "<h2>Глава " + QByteArray::number(i)
            + "</h2><p>Съешь же ещё этих мягких французских булок, да выпей "
              "чаю. The quick brown fox jumps over the lazy dog.</p><mbp:pagebreak/>";
        if (i % 7 == 3)
            text += "<img recindex=\"00001\">";
    }
    return text + "</body></html>";
}

QList<QByteArray> fixtures()
{
    QList<QByteArray> books;
    MobiWriter palmDoc;
    palmDoc.setText(fixtureText(80));
    palmDoc.setFullName(QStringLiteral("Фикстура").toUtf8());
    palmDoc.setAuthor(QStringLiteral("Автор"));
    palmDoc.addExth(101, "Publisher");
    palmDoc.addImage(MobiWriter::image(QSize(16, 16), Qt::red, "PNG"));
    palmDoc.addImage(MobiWriter::image(QSize(8, 8), Qt::blue, "JPG"));
    palmDoc.setCoverOffset(0);
    palmDoc.setExtraDataFlags(0x3);
    palmDoc.setTrailerRecords(true);
    books.append(palmDoc.build());

    MobiWriter huff;
    huff.setText(fixtureText(40));
    huff.setCompression(MobiWriter::Compression::HuffCdic);
    HuffCdicWriter::Options options;
    options.codeBits = 5;
    options.nestedWord = "fox";
    options.nestedDepth = 3;
    huff.setHuffCdicOptions(options);
    huff.setExtraDataFlags(0x1);
    huff.addImage(MobiWriter::image(QSize(4, 4), Qt::green, "PNG"));
    books.append(huff.build());

    MobiWriter plain;
    plain.setEncoding(1252);
    plain.setText("<h1>Plain</h1>" + QByteArray("<p>Plain caf\xe9 text</p>").repeated(400));
    plain.setCompression(MobiWriter::Compression::None);
    plain.addExth(100, "Writer");
    books.append(plain.build());
    return books;
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
    case 3: // truncation
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

class TestMobiFuzz : public QObject {
    Q_OBJECT

private:
    BookFiles m_files;

    // Everything a reader and the document offer, on one file. Returns the milliseconds taken.
    qint64 exercise(const QString& path, const QString& folder)
    {
        QElapsedTimer timer;
        timer.start();
        {
            mobi::Mobi reader(path);
            reader.fullName();
            reader.author();
            reader.mobiHead().exth().value(101);
            mobi::mobiTypeName(reader.mobiHead());
            reader.coverImage();
            const int images = reader.imageCount();
            if (images > reader.recordCount())
                qFatal("more images than records");
            reader.image(images - 1);
            reader.text();
        }
        mobi::MobiDocument document(path);
        document.load(folder);
        document.toc();
        document.loadResource(2, QUrl(QStringLiteral("pdbrec:/1")));
        return timer.elapsed();
    }

private slots:
    void fixturesLoad()
    {
        const QString folder = m_files.filePath(QStringLiteral("fixtures"));
        QDir().mkpath(folder);
        for (const QByteArray& book : fixtures()) {
            mobi::MobiDocument document(m_files.save(book));
            QVERIFY(document.load(folder));
            QVERIFY(!document.toc().isEmpty());
        }
    }

    void mutatedBooks()
    {
        const QString folder = m_files.filePath(QStringLiteral("mutated"));
        QDir().mkpath(folder);
        const QList<QByteArray> books = fixtures();
        QRandomGenerator random(20240611);
        QElapsedTimer total;
        total.start();
        qint64 slowest = 0;
        swallowedMessages = 0;
        const QtMessageHandler previous = qInstallMessageHandler(swallowMessages);
        for (int round = 0; round < 1500; ++round) {
            QByteArray book = books[round % books.size()];
            for (int k = 1 + random.bounded(3); k > 0; --k)
                book = mutate(book, random);
            slowest = qMax(slowest, exercise(m_files.save(book), folder));
        }
        qInstallMessageHandler(previous);
        qInfo() << "1500 mutated books in" << total.elapsed() << "ms, slowest" << slowest << "ms," << swallowedMessages
                << "log lines";
        QVERIFY2(slowest < 5000, "a mutated book took too long");
        QVERIFY2(total.elapsed() < 120000, "the mutation loop took too long");
    }

    void malformedRegressionFiles()
    {
        const QDir dir(testpaths::malformedDir(QStringLiteral("mobi")));
        const QString folder = m_files.filePath(QStringLiteral("malformed"));
        QDir().mkpath(folder);
        const QtMessageHandler previous = qInstallMessageHandler(swallowMessages);
        int count = 0;
        for (const QFileInfo& file : dir.entryInfoList(QDir::Files)) {
            QVERIFY2(exercise(file.filePath(), folder) < 5000, qPrintable(file.fileName()));
            ++count;
        }
        qInstallMessageHandler(previous);
        qInfo() << count << "malformed files read";
    }
};

QTEST_MAIN(TestMobiFuzz)
#include "tst_mobifuzz.moc"
