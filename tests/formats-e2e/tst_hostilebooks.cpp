// Crafted books that once made opening hang or take gigabytes.

#include "epubbuilder.h"
#include "fb2builder.h"
#include "mobiwriter.h"
#include "temphome.h"
#include "testfiles.h"

#include "formats/mobi/mobi.h"
#include "formats/textdocument.h"
#include "formats/textdocumentfactory.h"

#include <QElapsedTimer>
#include <QTest>
#include <QtEndian>

#include <memory>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Image entries alternately point at a 2 MB record and at the last one, so that every other
// entry claims the whole range in between.
QByteArray mobiWithBackwardOffsets()
{
    MobiWriter writer;
    writer.setText("<p>text</p>");
    writer.addImage(QByteArray(2 << 20, 'x'));
    for (int i = 0; i < 2000; ++i)
        writer.addImage(QByteArray(16, 'y'));
    QByteArray book = writer.build();
    const auto offset = [&book](int record) { return qFromBigEndian<quint32>(book.constData() + 78 + 8 * record); };
    const int count = qFromBigEndian<quint16>(book.constData() + 76);
    const quint32 start = offset(count - 2001);
    const quint32 last = offset(count - 1);
    for (int i = count - 2001; i < count - 1; ++i)
        MobiWriter::putBigEndian(book, 78 + 8 * i, (count - i) % 2 ? start : last);
    return book;
}

QString crowdedElement(int attributes)
{
    QString xml = QStringLiteral("<p");
    for (int i = 0; i < attributes; ++i)
        xml += QStringLiteral(" a%1=\"\"").arg(i);
    return xml + QStringLiteral("/>");
}

} // namespace

class TestHostileBooks : public QObject {
    Q_OBJECT

    TempHome m_home;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return testfiles::write(m_home.filePath(name), bytes) ? m_home.filePath(name) : QString();
    }

private slots:
    void openQuickly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("opens");
        MobiWriter headings;
        headings.setText(QByteArray("<h1>x").repeated(150000) + "<p>text</p>");
        EpubBuilder epub;
        epub.addChapter("c1", "c1.xhtml", "One", "<p>one</p>");
        epub.addChapter("c2", "c2.xhtml", "Two", crowdedElement(200000));
        QVERIFY(epub.write(m_home.filePath("crowded.epub")));
        Fb2Builder fb2;
        fb2.addBody(Fb2Builder::section(crowdedElement(200000)));

        QTest::newRow("mobi: record offsets going back") << write("records.mobi", mobiWithBackwardOffsets()) << true;
        QTest::newRow("mobi: unclosed headings") << write("headings.mobi", headings.build()) << true;
        QTest::newRow("epub: 200,000 attributes") << m_home.filePath("crowded.epub") << true;
        QTest::newRow("fb2: 200,000 attributes") << write("crowded.fb2", fb2.bytes()) << false;
    }

    void openQuickly()
    {
        QFETCH(QString, path);
        QFETCH(bool, opens);
        QElapsedTimer timer;
        timer.start();
        const std::unique_ptr<TextDocument> document(createTextDocument(path));
        QCOMPARE(document->load(path + ".out"), opens);
        // Well under a second on a quiet machine; the bound leaves room for a loaded one.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        mobi::Mobi book(path);
        qint64 total = 0;
        for (int i = 0; i < book.recordCount(); ++i)
            total += book.recordLength(i);
        QVERIFY(total <= book.fileSize());
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
            // The first chapter is shown, the one too large to clean is not.
            _exit(document->load(path + ".out") && document->chapters() == QStringList("c1.xhtml") ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the conversion failed or ran out of memory");
    }
};

QTEST_MAIN(TestHostileBooks)
#include "tst_hostilebooks.moc"
