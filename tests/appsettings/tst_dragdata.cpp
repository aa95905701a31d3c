#include "dragdata.h"
#include "supportedextensions.h"
#include "temphome.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QStandardItemModel>
#include <QTest>
#include <QUrl>

#include <memory>

namespace {

constexpr int kBookIdRole = Qt::UserRole + 1;

QByteArray idPayload(qint32 count, const QList<qint32>& ids)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << count;
    for (qint32 id : ids)
        out << id;
    return payload;
}

std::unique_ptr<QMimeData> mimeWith(const QString& type, const QByteArray& data)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setData(type, data);
    return mime;
}

void touch(const QString& path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

std::unique_ptr<QMimeData> uriList(const QList<QUrl>& urls)
{
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    return mime;
}

} // namespace

class TestDragData : public QObject {
    Q_OBJECT

private slots:
    void supportedSuffixes()
    {
        QCOMPARE(supportedExtensions(),
            QStringList({ "epub", "mobi", "prc", "fb2", "cbr", "cbz", "pdf", "txt", "zip", "7z" }));
    }

    void bookIdsRoundTrip()
    {
        QStandardItemModel model;
        const QList<QVariant> values = { 7, QVariant(), 3, 7, QStringLiteral("not a number"), -2 };
        for (const QVariant& value : values) {
            auto* item = new QStandardItem(QStringLiteral("book"));
            item->setData(value, kBookIdRole);
            model.appendRow(item);
        }
        QModelIndexList indexes;
        for (int row = 0; row < model.rowCount(); ++row)
            indexes.append(model.index(row, 0));

        std::unique_ptr<QMimeData> mime(bookIdsToMimeData(indexes));
        QVERIFY(mime);
        QCOMPARE(mime->formats(), QStringList({ QStringLiteral("pageloom/book-item-id") }));
        // The stored form is a big-endian count followed by the ids, as other builds read it.
        QCOMPARE(mime->data(bookIdsMimeType()), idPayload(4, { 7, 3, 7, -2 }));
        QCOMPARE(bookIdsFromMimeData(mime.get()), QList<int>({ 7, 3, 7, -2 }));
    }

    void noIdsNoDragData()
    {
        QStandardItemModel model(2, 1);
        QVERIFY(!bookIdsToMimeData({ model.index(0, 0), model.index(1, 0) }));
        QVERIFY(!bookIdsToMimeData({}));
    }

    void bookIdsFromForeignDrops_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QList<int>>("expected");

        const QString type = bookIdsMimeType();
        QTest::newRow("other type") << QStringLiteral("text/plain") << idPayload(1, { 5 }) << QList<int>();
        QTest::newRow("empty payload") << type << QByteArray() << QList<int>();
        QTest::newRow("short count") << type << QByteArray("\0\0\1", 3) << QList<int>();
        QTest::newRow("zero count") << type << idPayload(0, { 5 }) << QList<int>();
        QTest::newRow("negative count") << type << idPayload(-3, { 5, 6, 7 }) << QList<int>();
        QTest::newRow("fewer ids than counted") << type << idPayload(3, { 5, 6 }) << QList<int>({ 5, 6 });
        QTest::newRow("truncated id") << type << idPayload(2, { 5, 6 }).left(10) << QList<int>({ 5 });
        QTest::newRow("trailing bytes ignored") << type << idPayload(1, { 5, 6 }) << QList<int>({ 5 });
        QTest::newRow("huge count, no ids") << type << idPayload(50000000, {}) << QList<int>();
        QTest::newRow("maximum count, two ids") << type << idPayload(0x7fffffff, { 1, 2 }) << QList<int>({ 1, 2 });
    }

    void bookIdsFromForeignDrops()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, payload);
        QFETCH(QList<int>, expected);
        const auto mime = mimeWith(type, payload);
        // A reader that trusted the count would return the padding zeros it read past the end.
        QCOMPARE(bookIdsFromMimeData(mime.get()), expected);
    }

    void bookIdsFromNull() { QVERIFY(bookIdsFromMimeData(nullptr).isEmpty()); }

    void bookFilesFromDrops()
    {
        TempHome home;
        QVERIFY(home.isValid());
        const QString root = home.filePath(QStringLiteral("drop"));
        touch(root + "/one.epub");
        touch(root + "/Two.PDF");
        touch(root + "/notes.doc");
        touch(root + "/lib/three.fb2");
        touch(root + "/lib/deeper/four.cbz");
        touch(root + "/lib/deeper/readme");
        // A link back up must not make the walk endless or list books twice.
        QVERIFY(QFile::link(root + "/lib", root + "/lib/deeper/loop"));
        const QStringList suffixes = supportedExtensions();

        // Files in drop order, other suffixes and missing or remote entries skipped.
        bool folderSeen = true;
        auto mime = uriList({ QUrl::fromLocalFile(root + "/Two.PDF"), QUrl::fromLocalFile(root + "/notes.doc"),
            QUrl::fromLocalFile(root + "/missing.epub"), QUrl(QStringLiteral("https://example.org/remote.epub")),
            QUrl::fromLocalFile(root + "/one.epub") });
        QCOMPARE(bookFilesFromMimeData(mime.get(), suffixes, true, &folderSeen),
            QStringList({ root + "/Two.PDF", root + "/one.epub" }));
        QVERIFY(!folderSeen);

        // A folder without recursion adds nothing but is reported.
        mime = uriList({ QUrl::fromLocalFile(root + "/lib"), QUrl::fromLocalFile(root + "/one.epub") });
        QCOMPARE(bookFilesFromMimeData(mime.get(), suffixes, false, &folderSeen), QStringList({ root + "/one.epub" }));
        QVERIFY(folderSeen);

        // With recursion every book below it, once.
        folderSeen = false;
        mime = uriList({ QUrl::fromLocalFile(root + "/lib") });
        QStringList found = bookFilesFromMimeData(mime.get(), suffixes, true, &folderSeen);
        found.sort();
        QCOMPARE(found, QStringList({ root + "/lib/deeper/four.cbz", root + "/lib/three.fb2" }));
        QVERIFY(folderSeen);

        // The flag is optional.
        QCOMPARE(bookFilesFromMimeData(mime.get(), suffixes, true).size(), 2);
    }

    void bookFilesNeedAUriList()
    {
        bool folderSeen = true;
        QVERIFY(bookFilesFromMimeData(nullptr, supportedExtensions(), true, &folderSeen).isEmpty());
        QVERIFY(!folderSeen);
        const auto text = mimeWith(QStringLiteral("text/plain"), "/tmp/book.epub");
        QVERIFY(bookFilesFromMimeData(text.get(), supportedExtensions(), true, &folderSeen).isEmpty());
    }
};

QTEST_MAIN(TestDragData)
#include "tst_dragdata.moc"
