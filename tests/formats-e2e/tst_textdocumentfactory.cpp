// Which text document the factory makes for a book file.

#include "epubbuilder.h"
#include "fb2builder.h"
#include "formats/textdocument.h"
#include "formats/textdocumentfactory.h"
#include "mobiwriter.h"
#include "sevenzwriter.h"
#include "temphome.h"
#include "testfiles.h"
#include "zipwriter.h"

#include <QDir>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct Entry {
    QString name;
    QByteArray data;
};

} // namespace

Q_DECLARE_METATYPE(QList<Entry>)

namespace {

QByteArray fb2Book()
{
    Fb2Builder builder;
    builder.addBody(Fb2Builder::section(Fb2Builder::p("text"), QStringLiteral("One")));
    return builder.bytes();
}

QByteArray mobiBook(const QByteArray& identifier = "MOBI")
{
    MobiWriter writer;
    writer.setText("<html><body><h1>Start</h1><p>Words.</p></body></html>");
    writer.setIdentifier(identifier);
    return writer.build();
}

} // namespace

class TestTextDocumentFactory : public QObject {
    Q_OBJECT

private:
    TempHome m_home;
    QTemporaryDir m_dir;

    QString writeFile(const QString& name, const QByteArray& data)
    {
        return testfiles::write(m_dir.filePath(name), data) ? m_dir.filePath(name) : QString();
    }

    // Writes the named file: a ZIP or 7z archive of the entries, or the first entry's bytes.
    QString writeBook(const QString& name, const QList<Entry>& entries)
    {
        const QString path = m_dir.filePath(name);
        if (name.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)) {
            ZipWriter writer(path);
            for (const Entry& entry : entries)
                writer.add(entry.name, entry.data);
            return writer.write() ? path : QString();
        }
        if (name.endsWith(QLatin1String(".7z"))) {
            SevenZWriter writer(path);
            for (const Entry& entry : entries)
                writer.add(entry.name, entry.data);
            return writer.write() ? path : QString();
        }
        return writeFile(name, entries.isEmpty() ? QByteArray() : entries.first().data);
    }

private slots:
    void initTestCase() { QVERIFY(m_home.isValid() && m_dir.isValid()); }

    void choices_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<QString>("className");

        const QByteArray epub = [] {
            QTemporaryDir dir;
            EpubBuilder builder;
            builder.addChapter("c1", "c1.xhtml", "One", "<p>x</p>");
            return builder.write(dir.filePath("b.epub")) ? testfiles::read(dir.filePath("b.epub")) : QByteArray();
        }();
        const QString text = QStringLiteral("TextDocument");
        const QString fb = QStringLiteral("fb2::FbDocument");
        const QString mobi = QStringLiteral("mobi::MobiDocument");
        const QString epubDoc = QStringLiteral("epub::EpubDocument");

        QTest::newRow("fb2") << "a.fb2" << QList<Entry> { { "", fb2Book() } } << fb;
        QTest::newRow("FB2 in capitals") << "B.FB2" << QList<Entry> { { "", fb2Book() } } << fb;
        QTest::newRow("txt") << "c.txt" << QList<Entry> { { "", "line" } } << fb;
        QTest::newRow("epub") << "d.EPUB" << QList<Entry> { { "", epub } } << epubDoc;
        QTest::newRow("mobi") << "e.mobi" << QList<Entry> { { "", mobiBook() } } << mobi;
        QTest::newRow("prc") << "f.PRC" << QList<Entry> { { "", mobiBook() } } << mobi;
        QTest::newRow("djvu") << "g.djvu" << QList<Entry> { { "", "AT&TFORM" } } << text;
        QTest::newRow("no suffix") << "h" << QList<Entry> { { "", fb2Book() } } << text;
        QTest::newRow("zip of one FB2") << "i.ZIP" << QList<Entry> { { "Book.FB2", fb2Book() } } << fb;
        QTest::newRow("zip of one text") << "j.zip" << QList<Entry> { { "dir/story.txt", "line" } } << fb;
        QTest::newRow("zip of one EPUB") << "k.zip" << QList<Entry> { { "b.epub", epub } } << epubDoc;
        QTest::newRow("zip of two books")
            << "l.zip" << QList<Entry> { { "a.fb2", fb2Book() }, { "b.fb2", fb2Book() } } << text;
        QTest::newRow("empty zip") << "m.zip" << QList<Entry> {} << text;
        QTest::newRow("zip of one picture") << "n.zip" << QList<Entry> { { "a.png", "x" } } << text;
        QTest::newRow("7z of an FB2") << "o.7z" << QList<Entry> { { "readme.doc", "x" }, { "b/Tale.FB2", fb2Book() } }
                                      << fb;
        // Only FB2 and text are read from 7z: no document claims the others.
        QTest::newRow("7z of a MOBI") << "p.7z" << QList<Entry> { { "book.mobi", mobiBook() } } << text;
        QTest::newRow("7z of an EPUB") << "q.7z" << QList<Entry> { { "book.epub", epub } } << text;
        QTest::newRow("7z without a book") << "r.7z" << QList<Entry> { { "readme.doc", "x" } } << text;
    }

    void choices()
    {
        QFETCH(QString, file);
        QFETCH(QList<Entry>, entries);
        QFETCH(QString, className);
        QString path = writeBook(file, entries);
        if (file == QLatin1String("m.zip")) // an empty archive: QuaZip writes nothing without entries
            path = writeFile(file, QByteArray::fromHex("504b0506000000000000000000000000000000000000"));
        QVERIFY(!path.isEmpty());
        const std::unique_ptr<TextDocument> document(createTextDocument(path));
        QVERIFY(document);
        QCOMPARE(QString::fromLatin1(document->metaObject()->className()), className);
        QCOMPARE(document->filePath(), path);
        QVERIFY(!document->parent());
    }

    void unreadableArchives()
    {
        for (const char* name : { "broken.zip", "broken.7z", "missing.zip" }) {
            const QString path
                = QString::fromLatin1(name) == "missing.zip" ? m_dir.filePath(name) : writeFile(name, "not an archive");
            const std::unique_ptr<TextDocument> document(createTextDocument(path));
            QCOMPARE(document->metaObject()->className(), "TextDocument");
            QVERIFY(!document->load(m_dir.filePath("out")));
            QVERIFY(document->chapters().isEmpty());
            QCOMPARE(document->tocToJson().toArray().size(), 0);
        }
    }

    // A PRC file opens when it holds a MOBI book and fails cleanly when it does not.
    void prcBooks()
    {
        QVERIFY(QDir().mkpath(m_dir.filePath("prc-good")) && QDir().mkpath(m_dir.filePath("prc-other")));
        const QString good = writeFile("good.prc", mobiBook());
        const std::unique_ptr<TextDocument> mobi(createTextDocument(good));
        QVERIFY(mobi->load(m_dir.filePath("prc-good")));
        QCOMPARE(mobi->chapters().size(), 1);

        const QString other = writeFile("other.prc", mobiBook("TEXT"));
        const std::unique_ptr<TextDocument> notMobi(createTextDocument(other));
        QVERIFY(!notMobi->load(m_dir.filePath("prc-other")));
        QVERIFY(notMobi->chapters().isEmpty());
    }
};

QTEST_MAIN(TestTextDocumentFactory)
#include "tst_textdocumentfactory.moc"
