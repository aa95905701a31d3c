#include "pdflibraryentries.h"

#include <QMap>
#include <QSet>
#include <QTest>

#include <cstring>

// The entry table against the library's own numbers: 854 entries, 7 of them protocol entries, and
// 847 members in 148 shapes, ordered as the library is searched.
class TestPdfEntryTable : public QObject {
    Q_OBJECT

private:
    static QList<const PdfLibraryEntry*> members()
    {
        QList<const PdfLibraryEntry*> result;
        for (const PdfLibraryEntry& entry : pdfLibraryEntries) {
            if (entry.method)
                result.append(&entry);
        }
        return result;
    }

    static int indexOf(const char* name)
    {
        for (int i = 0; i < pdfLibraryEntryCount; ++i) {
            if (std::strcmp(pdfLibraryEntries[i].name, name) == 0)
                return i;
        }
        return -1;
    }

private slots:
    void countsByKind()
    {
        QCOMPARE(pdfLibraryEntryCount, 854);
        QSet<QString> protocol;
        for (const PdfLibraryEntry& entry : pdfLibraryEntries) {
            if (!entry.method)
                protocol.insert(QString::fromLatin1(entry.name));
        }
        const QSet<QString> expectedProtocol { "DPLAddToBuffer", "DPLAnsiStringResultLength", "DPLCreateBuffer",
            "DPLCreateLibrary", "DPLReleaseBuffer", "DPLReleaseLibrary", "DPLStringResultLength" };
        QCOMPARE(protocol, expectedProtocol);

        QMap<QString, int> byResult;
        for (const PdfLibraryEntry* entry : members())
            byResult[QString::fromLatin1(entry->shape).section(QStringLiteral(" -> "), 1)]++;
        const QMap<QString, int> expected { { "int", 695 }, { "double", 44 }, { "wstring", 86 }, { "bytes", 21 },
            { "HDC", 1 } };
        QCOMPARE(byResult, expected);
    }

    void countsByShape()
    {
        const QList<QPair<QString, int>> expected {
            { "() -> int", 88 },
            { "(int) -> int", 165 },
            { "(double) -> int", 16 },
            { "(wstring) -> int", 45 },
            { "(bytes) -> int", 5 },
            { "(int, int) -> int", 77 },
            { "(int, double) -> int", 3 },
            { "(int, wstring) -> int", 27 },
            { "(int, bytes) -> int", 1 },
            { "(double, int) -> int", 2 },
            { "(double, double) -> int", 6 },
            { "(double, wstring) -> int", 2 },
            { "(wstring, int) -> int", 14 },
            { "(wstring, double) -> int", 8 },
            { "(wstring, wstring) -> int", 17 },
            { "(bytes, int) -> int", 2 },
            { "(bytes, wstring) -> int", 2 },
            { "(pointer, pointer) -> int", 1 },
            { "(int, int, int) -> int", 19 },
            { "(int, int, double) -> int", 7 },
            { "(int, int, wstring) -> int", 5 },
            { "(int, double, double) -> int", 2 },
            { "(int, wstring, int) -> int", 3 },
            { "(int, wstring, double) -> int", 3 },
            { "(int, wstring, wstring) -> int", 7 },
            { "(double, int, HDC) -> int", 1 },
            { "(double, double, double) -> int", 7 },
            { "(double, double, wstring) -> int", 1 },
            { "(wstring, int, int) -> int", 2 },
            { "(wstring, int, wstring) -> int", 1 },
            { "(wstring, wstring, int) -> int", 3 },
            { "(wstring, wstring, wstring) -> int", 3 },
            { "(int, int, int, int) -> int", 6 },
            { "(int, int, int, double) -> int", 2 },
            { "(int, int, int, wstring) -> int", 4 },
            { "(int, int, double, int) -> int", 1 },
            { "(int, int, double, double) -> int", 1 },
            { "(int, int, double, HDC) -> int", 1 },
            { "(int, int, wstring, wstring) -> int", 1 },
            { "(int, double, double, double) -> int", 5 },
            { "(int, wstring, int, double) -> int", 1 },
            { "(int, wstring, wstring, int) -> int", 1 },
            { "(int, wstring, wstring, wstring) -> int", 1 },
            { "(double, int, int, wstring) -> int", 1 },
            { "(double, double, double, int) -> int", 1 },
            { "(double, double, double, double) -> int", 12 },
            { "(double, double, double, wstring) -> int", 4 },
            { "(double, double, wstring, int) -> int", 1 },
            { "(double, double, wstring, wstring) -> int", 1 },
            { "(wstring, int, int, int) -> int", 2 },
            { "(wstring, double, double, double) -> int", 1 },
            { "(wstring, wstring, int, int) -> int", 4 },
            { "(wstring, wstring, int, wstring) -> int", 1 },
            { "(wstring, wstring, wstring, wstring) -> int", 1 },
            { "(bytes, bytes, int, int) -> int", 1 },
            { "(int, int, int, int, int) -> int", 1 },
            { "(int, int, int, double, wstring) -> int", 1 },
            { "(int, int, double, double, double) -> int", 2 },
            { "(int, double, int, double, double) -> int", 2 },
            { "(int, double, double, double, double) -> int", 10 },
            { "(double, int, int, int, wstring) -> int", 1 },
            { "(double, double, double, double, int) -> int", 2 },
            { "(double, double, double, double, double) -> int", 1 },
            { "(double, double, double, wstring, wstring) -> int", 1 },
            { "(double, wstring, int, int, wstring) -> int", 1 },
            { "(wstring, int, int, int, wstring) -> int", 1 },
            { "(wstring, wstring, wstring, int, int) -> int", 1 },
            { "(wstring, wstring, wstring, wstring, int) -> int", 1 },
            { "(int, int, int, int, int, int) -> int", 3 },
            { "(int, int, int, int, int, double) -> int", 1 },
            { "(int, int, double, double, double, double) -> int", 2 },
            { "(int, double, double, double, double, double) -> int", 1 },
            { "(double, double, double, double, int, int) -> int", 1 },
            { "(double, double, double, double, double, int) -> int", 2 },
            { "(double, double, double, double, double, double) -> int", 3 },
            { "(double, double, double, double, wstring, int) -> int", 8 },
            { "(double, double, double, wstring, int, int) -> int", 1 },
            { "(wstring, double, double, double, double, int) -> int", 1 },
            { "(wstring, wstring, wstring, wstring, int, int) -> int", 1 },
            { "(int, int, int, int, int, int, double) -> int", 2 },
            { "(int, int, int, double, double, double, double) -> int", 5 },
            { "(int, double, double, double, double, double, double) -> int", 1 },
            { "(double, double, double, double, int, int, int) -> int", 1 },
            { "(double, double, double, double, int, double, int) -> int", 1 },
            { "(double, double, double, double, double, int, int) -> int", 1 },
            { "(double, double, double, double, double, double, int) -> int", 1 },
            { "(double, double, double, double, double, wstring, int) -> int", 2 },
            { "(double, double, double, double, wstring, int, int) -> int", 2 },
            { "(double, double, double, double, wstring, wstring, int) -> int", 1 },
            { "(double, double, double, wstring, int, int, int) -> int", 1 },
            { "(int, int, int, int, int, int, int, int) -> int", 2 },
            { "(int, int, int, int, int, double, double, double) -> int", 2 },
            { "(int, int, int, int, double, double, double, double) -> int", 1 },
            { "(int, int, int, double, double, double, double, double) -> int", 1 },
            { "(double, double, double, double, double, double, int, int) -> int", 1 },
            { "(double, double, double, double, double, double, double, double) -> int", 1 },
            { "(double, double, double, double, double, double, wstring, int) -> int", 1 },
            { "(double, wstring, double, double, double, double, double, double) -> int", 1 },
            { "(int, int, int, int, int, int, double, double, double) -> int", 1 },
            { "(int, int, int, int, int, double, double, double, double) -> int", 2 },
            { "(double, double, double, double, int, wstring, wstring, int, int) -> int", 1 },
            { "(double, double, double, double, wstring, int, double, int, int) -> int", 1 },
            { "(double, double, double, double, wstring, wstring, double, int, int) -> int", 1 },
            { "(double, double, wstring, int, int, int, int, double, double) -> int", 1 },
            { "(wstring, wstring, wstring, wstring, wstring, wstring, wstring, wstring, wstring) -> int", 1 },
            { "(int, int, int, int, int, int, double, double, double, double) -> int", 1 },
            { "(int, int, double, double, double, double, double, double, double, double) -> int", 1 },
            { "(int, wstring, int, int, int, double, double, double, double, int) -> int", 1 },
            { "(double, double, double, double, double, wstring, int, int, int, int) -> int", 1 },
            { "(double, double, wstring, int, double, double, double, double, double, double) -> int", 1 },
            { "(double, double, double, double, int, wstring, wstring, double, double, double, int) -> int", 2 },
            { "(double, double, double, double, wstring, wstring, wstring, double, double, double, int) -> int", 1 },
            { "(wstring, double, double, double, double, double, double, double, double, double, double, int) -> int",
                1 },
            { "(double, double, int, double, double, double, double, wstring, wstring, double, double, double, int) -> "
              "int",
                1 },
            { "(double, double, double, double, wstring, int, int, int, int, int, double, double, double, double) -> "
              "int",
                1 },
            { "() -> double", 8 },
            { "(int) -> double", 2 },
            { "(wstring) -> double", 1 },
            { "(int, int) -> double", 17 },
            { "(double, wstring) -> double", 3 },
            { "(int, int, int) -> double", 8 },
            { "(double, wstring, int) -> double", 1 },
            { "(int, int, int, int) -> double", 3 },
            { "(int, double, double, double, int, int) -> double", 1 },
            { "() -> wstring", 16 },
            { "(int) -> wstring", 28 },
            { "(wstring) -> wstring", 11 },
            { "(int, int) -> wstring", 17 },
            { "(int, wstring) -> wstring", 5 },
            { "(wstring, int) -> wstring", 1 },
            { "(wstring, wstring) -> wstring", 1 },
            { "(int, int, int) -> wstring", 1 },
            { "(double, wstring, wstring) -> wstring", 2 },
            { "(int, int, int, int) -> wstring", 1 },
            { "(wstring, wstring, int, int) -> wstring", 1 },
            { "(double, double, double, double, wstring) -> wstring", 1 },
            { "(double, double, wstring, double, double, double, double, double, double) -> wstring", 1 },
            { "() -> bytes", 4 },
            { "(int) -> bytes", 4 },
            { "(wstring) -> bytes", 1 },
            { "(int, int) -> bytes", 4 },
            { "(bytes, int) -> bytes", 1 },
            { "(int, int, int) -> bytes", 3 },
            { "(double, int, int) -> bytes", 1 },
            { "(wstring, wstring, int) -> bytes", 1 },
            { "(int, int, int, double) -> bytes", 1 },
            { "(wstring, int, int, int, int) -> bytes", 1 },
            { "(int, int) -> HDC", 1 },
        };
        QCOMPARE(expected.size(), 148);
        QMap<QString, int> byShape;
        for (const PdfLibraryEntry* entry : members())
            byShape[QString::fromLatin1(entry->shape)]++;
        QCOMPARE(byShape.size(), expected.size());
        for (const auto& shape : expected)
            QVERIFY2(byShape.value(shape.first) == shape.second,
                qPrintable(QStringLiteral("%1: %2 members").arg(shape.first).arg(byShape.value(shape.first))));
    }

    void orderIsByteOrderOfEntryNames()
    {
        QCOMPARE(pdfLibraryEntries[0].name, "DPLSetProgressCallback");
        for (int i = 2; i < pdfLibraryEntryCount; ++i)
            QVERIFY2(
                std::strcmp(pdfLibraryEntries[i - 1].name, pdfLibraryEntries[i].name) < 0, pdfLibraryEntries[i].name);
        QCOMPARE(pdfLibraryEntries[1].name, "DPLAddArcToPath");
        QCOMPARE(pdfLibraryEntries[pdfLibraryEntryCount - 1].name, "DPLUseUnsafeContentStreams");
        // Upper case sorts before lower case: not the order of a case-insensitive comparison.
        QVERIFY(indexOf("DPLAddSVGAnnotationFromFile") < indexOf("DPLAddSeparationColor"));
        QVERIFY(indexOf("DPLGetCSDictWKT") < indexOf("DPLGetCanvasDC"));
        // The protocol entries sit in the same order, between the members.
        QVERIFY(indexOf("DPLAddToBuffer") > indexOf("DPLAddTextMarkupAnnotation"));
        QVERIFY(indexOf("DPLAddToBuffer") < indexOf("DPLAddToFileList"));
    }

    void methodNamesFollowEntryNames()
    {
        // Four methods end in a W that their entry lacks; they sort by the entry's name.
        const QMap<QString, QString> renamed { { "DecryptFileW", "DPLDecryptFile" }, { "DrawTextW", "DPLDrawText" },
            { "EncryptFileW", "DPLEncryptFile" }, { "GetTempPathW", "DPLGetTempPath" } };
        QMap<QString, QString> found;
        for (const PdfLibraryEntry* entry : members()) {
            const QString method = QString::fromLatin1(entry->method);
            const QString name = QString::fromLatin1(entry->name);
            if (name != QLatin1String("DPL") + method)
                found.insert(method, name);
        }
        QCOMPARE(found, renamed);
        QCOMPARE(indexOf("DPLDrawText") + 1, indexOf("DPLDrawTextArc"));
        QCOMPARE(indexOf("DPLGetTempPath") + 1, indexOf("DPLGetTextAscent"));
    }

    void shapesOfTheMembersTheDocumentUses()
    {
        const QMap<QString, QString> expected { { "DPLLoadFromFile", "(wstring, wstring) -> int" },
            { "DPLLastErrorCode", "() -> int" }, { "DPLPageCount", "() -> int" }, { "DPLSelectPage", "(int) -> int" },
            { "DPLPageWidth", "() -> double" }, { "DPLPageHeight", "() -> double" }, { "DPLPageRotation", "() -> int" },
            { "DPLRenderPageToDC", "(double, int, HDC) -> int" }, { "DPLGetPageText", "(int) -> wstring" },
            { "DPLGetInformation", "(int) -> wstring" }, { "DPLGetFirstOutline", "() -> int" },
            { "DPLGetFirstChildOutline", "(int) -> int" }, { "DPLGetNextOutline", "(int) -> int" },
            { "DPLOutlineTitle", "(int) -> wstring" }, { "DPLGetOutlinePage", "(int) -> int" },
            { "DPLGetCanvasDC", "(int, int) -> HDC" },
            { "DPLStoreCustomDataFromString", "(bytes, bytes, int, int) -> int" },
            { "DPLRetrieveCustomDataToString", "(bytes, int) -> bytes" },
            { "DPLSetProgressCallback", "(pointer, pointer) -> int" },
            { "DPLAddToBuffer", "(int, pointer, int) -> int" }, { "DPLCreateLibrary", "() -> int" } };
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            const int index = indexOf(it.key().toLatin1().constData());
            QVERIFY2(index >= 0, qPrintable(it.key()));
            QCOMPARE(QString::fromLatin1(pdfLibraryEntries[index].shape), it.value());
        }
    }
};

QTEST_APPLESS_MAIN(TestPdfEntryTable)
#include "tst_pdfentrytable.moc"
