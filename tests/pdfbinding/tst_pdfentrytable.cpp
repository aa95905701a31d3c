#include "pdflibraryentries.h"

#include <QMap>
#include <QSet>
#include <QTest>

#include <cstring>

// The entry table against the library's own numbers: 854 entries, 7 of them protocol entries, and
// 847 members, ordered as the library is searched.
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
