#include "temphome.h"
#include "zipwriter.h"

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

// The archive generator that every format test stands on, checked against a real reader: names
// written as given, in UTF-8 or a legacy code page, stored or deflated.
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
};

QTEST_GUILESS_MAIN(TestGenerators)
#include "tst_generators.moc"
