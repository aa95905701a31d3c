// Crafted books that once made opening hang or take gigabytes: each opens or is refused quickly,
// and the big chapter is converted under a memory limit.

#include "epubbuilder.h"
#include "fb2builder.h"
#include "mobiwriter.h"
#include "temphome.h"

#include "formats/mobi/mobi.h"
#include "formats/textdocument.h"
#include "formats/textdocumentfactory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A MOBI whose image entries point alternately at the start of a large record and at the last
// record, so that every other entry claims the whole range in between.
QByteArray mobiWithBackwardOffsets(const QString& scratch)
{
    MobiWriter writer;
    writer.setText("<p>text</p>");
    writer.addImage(QByteArray(2 << 20, 'x'));
    for (int i = 0; i < 2000; ++i)
        writer.addImage(QByteArray(16, 'y'));
    QByteArray book = writer.build();
    QFile file(scratch);
    if (!file.open(QIODevice::WriteOnly) || file.write(book) != book.size())
        return QByteArray();
    file.close();
    mobi::Mobi reader(scratch);
    const int first = reader.recordCount() - 2001;
    const quint32 start = quint32(reader.recordOffset(first));
    const quint32 last = quint32(reader.recordOffset(reader.recordCount() - 1));
    for (int i = first; i < reader.recordCount() - 1; ++i)
        MobiWriter::putBigEndian(book, 78 + 8 * i, (i - first) % 2 == 0 ? start : last);
    return book;
}

QByteArray crowdedElement(const QByteArray& tag, int attributes)
{
    QByteArray xml = "<" + tag;
    for (int i = 0; i < attributes; ++i)
        xml += " a" + QByteArray::number(i) + "=\"\"";
    return xml + "/>";
}

// A chapter of about size bytes of links that the cleaner has to remove.
QByteArray unsafeLinks(int size)
{
    const QByteArray link = "<a href=\"javascript:go()\">x</a>";
    return EpubBuilder::xhtml(QStringLiteral("Links"), QString::fromLatin1(link.repeated(size / link.size())));
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Address space the process has mapped, in bytes.
qint64 mappedBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(0).toLongLong() * sysconf(_SC_PAGESIZE);
}

} // namespace

class TestHostileBooks : public QObject {
    Q_OBJECT

private:
    TempHome m_home;

    QString bookPath(const QString& name) const { return m_home.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }

    void openQuickly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("opens");

        QTest::newRow("mobi: record offsets going back")
            << "records.mobi" << mobiWithBackwardOffsets(bookPath(QStringLiteral("scratch.mobi"))) << true;
        MobiWriter headings;
        headings.setText(QByteArray("<h1>x").repeated(150000) + "<p>text</p>");
        QTest::newRow("mobi: unclosed headings") << "headings.mobi" << headings.build() << true;

        EpubBuilder crowded;
        crowded.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), "<p>one</p>");
        crowded.addItem(QStringLiteral("c2"), QStringLiteral("c2.xhtml"),
            EpubBuilder::xhtml(QStringLiteral("Two"), QString::fromLatin1(crowdedElement("p", 200000))));
        QVERIFY(crowded.write(bookPath(QStringLiteral("crowded.epub"))));
        QFile epub(bookPath(QStringLiteral("crowded.epub")));
        QVERIFY(epub.open(QIODevice::ReadOnly));
        QTest::newRow("epub: 200,000 attributes") << "crowded.epub" << epub.readAll() << true;

        Fb2Builder fb2;
        fb2.addBody(Fb2Builder::section(QString::fromLatin1(crowdedElement("p", 200000))));
        QTest::newRow("fb2: 200,000 attributes") << "crowded.fb2" << fb2.bytes() << false;
    }

    void openQuickly()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, opens);
        QVERIFY(!bytes.isEmpty());
        const QString path = bookPath(name);
        QVERIFY(writeFile(path, bytes));

        QElapsedTimer timer;
        timer.start();
        const std::unique_ptr<TextDocument> document(createTextDocument(path));
        QCOMPARE(document->load(bookPath(name + QStringLiteral(".out"))), opens);
        // Well under a second on a quiet machine; the bound leaves room for a loaded one.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        if (name.endsWith(QLatin1String("records.mobi"))) {
            mobi::Mobi book(path);
            qint64 total = 0;
            for (int i = 0; i < book.recordCount(); ++i)
                total += book.recordLength(i);
            QVERIFY(total <= book.fileSize());
        }
    }

    // The cleaner of a huge chapter with unsafe links stays within 500 MB, checked in a child
    // whose address space is limited.
    void bigChapterWithinMemory()
    {
        EpubBuilder builder;
        builder.addChapter(QStringLiteral("c1"), QStringLiteral("c1.xhtml"), QStringLiteral("One"), "<p>one</p>");
        builder.addItem(QStringLiteral("c2"), QStringLiteral("c2.xhtml"), unsafeLinks(40 << 20));
        const QString path = bookPath(QStringLiteral("links.epub"));
        QVERIFY(builder.write(path));

        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const rlim_t limit = rlim_t(mappedBytes() + (qint64(500) << 20));
            const rlimit bound { limit, limit };
            setrlimit(RLIMIT_AS, &bound);
            const std::unique_ptr<TextDocument> document(createTextDocument(path));
            const bool loaded = document->load(bookPath(QStringLiteral("links.out")));
            // The first chapter is shown, the one too large to clean is not.
            _exit(loaded && document->chapters() == QStringList { QStringLiteral("c1.xhtml") } ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status), "the conversion was killed");
        QCOMPARE(WEXITSTATUS(status), 0);
    }
};

QTEST_MAIN(TestHostileBooks)
#include "tst_hostilebooks.moc"
