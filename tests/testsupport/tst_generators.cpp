#include "epubbuilder.h"
#include "temphome.h"
#include "zipwriter.h"

#include <QDomDocument>
#include <QFile>
#include <QTest>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

namespace {

QByteArray readEntry(QuaZip& zip, const QString& name)
{
    if (!zip.setCurrentFile(name))
        return QByteArray();
    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

// The fixture generators are what every format test stands on: check that what they write is
// what a real reader of the format expects.
class TestGenerators : public QObject {
    Q_OBJECT

private slots:
    void zipNamesAndMethods()
    {
        TempHome home;
        const QString path = home.filePath(QStringLiteral("names.zip"));
        ZipWriter writer(path);
        writer.add(QStringLiteral("stored.txt"), "plain", false);
        writer.add(QStringLiteral("Книга/глава.txt"), QByteArray(5000, 'x'));
        writer.add(QStringLiteral("../escape.txt"), "bad");
        writer.addFolder(QStringLiteral("folder"));
        QVERIFY(writer.write());

        QuaZip zip(path);
        QVERIFY(zip.open(QuaZip::mdUnzip));
        const QStringList names = zip.getFileNameList();
        QCOMPARE(names,
            QStringList({ QStringLiteral("stored.txt"), QStringLiteral("Книга/глава.txt"),
                QStringLiteral("../escape.txt"), QStringLiteral("folder/") }));
        QList<QuaZipFileInfo64> infos = zip.getFileInfoList64();
        QCOMPARE(infos.at(0).method, quint16(0));
        QCOMPARE(infos.at(1).method, quint16(8));
        QVERIFY(infos.at(1).compressedSize < 5000);
        QCOMPARE(readEntry(zip, QStringLiteral("Книга/глава.txt")), QByteArray(5000, 'x'));
    }

    void legacyCodecNames()
    {
        TempHome home;
        const QString path = home.filePath(QStringLiteral("cp866.zip"));
        ZipWriter writer(path);
        writer.setNames(ZipWriter::Names::Codec, "IBM 866");
        writer.add(QStringLiteral("Привет.txt"), "hi");
        QVERIFY(writer.write());
        QFile raw(path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        // "П" is 0x8F in CP866: the raw name bytes are the legacy encoding, not UTF-8.
        QVERIFY(raw.readAll().contains(QByteArray("\x8f\xe0\xa8\xa2\xa5\xe2.txt")));
    }

    void epubLayout()
    {
        TempHome home;
        const QString path = home.filePath(QStringLiteral("book.epub"));
        EpubBuilder epub;
        epub.setVersion(3);
        epub.setTitle(QStringLiteral("A & B"));
        epub.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(20, 30));
        epub.addChapter(QStringLiteral("c1"), QStringLiteral("text/ch1.xhtml"), QStringLiteral("One"),
            QStringLiteral("<p>First</p>"));
        epub.addChapter(QStringLiteral("c2"), QStringLiteral("text/ch2.xhtml"), QStringLiteral("Two"),
            QStringLiteral("<p>Second</p>"));
        QVERIFY(epub.write(path));

        // mimetype first and stored, so the file is recognised by its first bytes.
        QFile raw(path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray head = raw.read(58);
        QCOMPARE(head.mid(30, 8), QByteArray("mimetype"));
        QCOMPARE(head.mid(38, 20), QByteArray("application/epub+zip"));

        QuaZip zip(path);
        QVERIFY(zip.open(QuaZip::mdUnzip));
        QDomDocument container;
        QVERIFY(container.setContent(readEntry(zip, QStringLiteral("META-INF/container.xml"))));
        QCOMPARE(container.documentElement()
                     .elementsByTagName(QStringLiteral("rootfile"))
                     .item(0)
                     .toElement()
                     .attribute(QStringLiteral("full-path")),
            QStringLiteral("OEBPS/content.opf"));

        QDomDocument opf;
        QVERIFY(opf.setContent(readEntry(zip, QStringLiteral("OEBPS/content.opf")), true));
        QCOMPARE(opf.elementsByTagNameNS(QStringLiteral("http://purl.org/dc/elements/1.1/"), QStringLiteral("title"))
                     .item(0)
                     .toElement()
                     .text(),
            QStringLiteral("A & B"));
        QCOMPARE(opf.elementsByTagName(QStringLiteral("itemref")).size(), 2);

        QDomDocument ncx;
        QVERIFY(ncx.setContent(readEntry(zip, QStringLiteral("OEBPS/toc.ncx"))));
        QCOMPARE(ncx.elementsByTagName(QStringLiteral("navPoint")).size(), 2);
        QCOMPARE(ncx.elementsByTagName(QStringLiteral("content")).item(1).toElement().attribute(QStringLiteral("src")),
            QStringLiteral("text/ch2.xhtml"));

        QDomDocument chapter;
        QVERIFY(chapter.setContent(readEntry(zip, QStringLiteral("OEBPS/text/ch1.xhtml"))));
        QCOMPARE(chapter.elementsByTagName(QStringLiteral("p")).item(0).toElement().text(), QStringLiteral("First"));
        QVERIFY(!readEntry(zip, QStringLiteral("OEBPS/nav.xhtml")).isEmpty());
        QImage cover;
        QVERIFY(cover.loadFromData(readEntry(zip, QStringLiteral("OEBPS/images/cover.png"))));
        QCOMPARE(cover.size(), QSize(20, 30));
    }
};

QTEST_GUILESS_MAIN(TestGenerators)
#include "tst_generators.moc"
