// The PDF engine binding: its entry table, PdfLibraryDll and the Qt layer, against a recording
// fake of the engine built by the same generator (complete, and twice incomplete).
#include "debenupdflibrarydllqt1016.h"
#include "pdflibrarydll.h"
#include "pdflibraryentries.h"
#include "testfiles.h"

#include <QMetaMethod>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <dlfcn.h>
#include <memory>

namespace {
// The builds of the fake (fakeengine/pdfenginerecorder.h): complete, without DPLPageCount,
// without DPLCreateLibrary.
const QString completeFake = QStringLiteral(PL_FAKE_ENGINE);
const QString fakeWithoutPageCount = QStringLiteral(PL_FAKE_ENGINE_NO_PAGECOUNT);
const QString fakeWithoutCreate = QStringLiteral(PL_FAKE_ENGINE_NO_CREATE);

std::u16string path(const QString& file) { return file.toStdU16String(); }

// Whether the library at the path is mapped into the process right now.
bool isLoaded(const QString& path)
{
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

// Drives the recording fake: the script it reads when loaded and the log of the calls it
// received. One at a time.
class FakeEngine {
public:
    FakeEngine()
    {
        qputenv("PL_FAKE_ENGINE_LOG", QFile::encodeName(m_dir.filePath(QStringLiteral("calls.log"))));
        qputenv("PL_FAKE_ENGINE_SCRIPT", QFile::encodeName(m_dir.filePath(QStringLiteral("script.txt"))));
    }
    ~FakeEngine()
    {
        qunsetenv("PL_FAKE_ENGINE_LOG");
        qunsetenv("PL_FAKE_ENGINE_SCRIPT");
    }

    // Script lines ("<entry> <value>") for the next load of the fake.
    void script(const QStringList& lines)
    {
        if (!testfiles::write(m_dir.filePath(QStringLiteral("script.txt")), lines.join('\n').toUtf8() + '\n'))
            qFatal("cannot write the fake engine's script");
    }

    // The lines logged since the last call, which empties the log.
    QStringList takeCalls()
    {
        const QString log = m_dir.filePath(QStringLiteral("calls.log"));
        const QString text = QString::fromUtf8(testfiles::read(log));
        QFile(log).resize(0);
        return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // A loaded complete fake whose load and instance creation are taken from the log.
    std::unique_ptr<PdfLibraryDll> loaded()
    {
        auto dll = std::make_unique<PdfLibraryDll>(path(completeFake));
        takeCalls();
        return dll;
    }

private:
    QTemporaryDir m_dir;
};

int indexOf(const char* name)
{
    for (int i = 0; i < pdfLibraryEntryCount; ++i) {
        if (std::strcmp(pdfLibraryEntries[i].name, name) == 0)
            return i;
    }
    return -1;
}
}

class TestPdfBinding : public QObject {
    Q_OBJECT

private slots:
    // The entry table: one Qt member per entry but the protocol's, ordered by the bytes of their
    // names as the library is searched.
    void entryTable()
    {
        // The Qt layer has LibraryLoaded, then one public invokable per member in the entries' order.
        const QMetaObject& meta = DebenuPDFLibraryDLLQt1016::staticMetaObject;
        QCOMPARE(meta.method(meta.methodOffset()).methodSignature(), QByteArray("LibraryLoaded()"));
        int index = meta.methodOffset() + 1;
        for (const PdfLibraryEntry& entry : pdfLibraryEntries) {
            if (!entry.method)
                continue;
            const QMetaMethod method = meta.method(index++);
            QCOMPARE(method.name(), QByteArray(entry.method));
            QCOMPARE(method.access(), QMetaMethod::Public);
        }
        QCOMPARE(index, meta.methodCount());
        // A method ending in a W its entry lacks sorts by the entry's name.
        QCOMPARE(indexOf("DPLDrawText") + 1, indexOf("DPLDrawTextArc"));

        QCOMPARE(pdfLibraryEntries[0].name, "DPLSetProgressCallback");
        for (int i = 2; i < pdfLibraryEntryCount; ++i)
            QVERIFY2(
                std::strcmp(pdfLibraryEntries[i - 1].name, pdfLibraryEntries[i].name) < 0, pdfLibraryEntries[i].name);
        // Upper case sorts before lower case: not the order of a case-insensitive comparison.
        QVERIFY(indexOf("DPLAddSVGAnnotationFromFile") < indexOf("DPLAddSeparationColor"));
    }

    // A file that is no library loads nothing and every kind of result comes back empty without a
    // call through a null entry; a library without some entries still uses those it has.
    void loadFailures()
    {
        FakeEngine fake;
        QTemporaryDir dir;
        QVERIFY(testfiles::write(dir.filePath(QStringLiteral("libpdf.so")), "not an ELF file\n"));
        {
            PdfLibraryDll dll(path(dir.filePath(QStringLiteral("libpdf.so"))));
            QVERIFY(!dll.LibraryLoaded());
            QVERIFY(!dll.loadError().empty());
            QCOMPARE(dll.PageCount(), 0);
            QCOMPARE(dll.PageWidth(), 0.0);
            QVERIFY(dll.GetPageText(2).empty());
            QVERIFY(dll.SaveToString().empty());
            QVERIFY(dll.RetrieveCustomDataToString("key", 1).empty());
            QCOMPARE(dll.StoreCustomDataFromString("key", "data", 1, 0), 0);
            QCOMPARE(dll.GetCanvasDC(10, 10), HDC(nullptr));
            QCOMPARE(dll.LoadFromFile(u"/books/a.pdf", u""), 0);
        }
        QCOMPARE(fake.takeCalls(), QStringList());

        fake.script({ "DPLGetPageText \"text\"" });
        {
            PdfLibraryDll dll(path(fakeWithoutPageCount));
            QVERIFY(!dll.LibraryLoaded());
            QVERIFY(QString::fromStdString(dll.loadError()).contains(QStringLiteral("DPLPageCount")));
            QCOMPARE(dll.PageCount(), 0);
            QCOMPARE(QString::fromStdU16String(dll.GetPageText(2)), QStringLiteral("text"));
        }
        QCOMPARE(fake.takeCalls(),
            QStringList({ "load", "DPLCreateLibrary()", "DPLGetPageText(1, 2)", "DPLStringResultLength(1)",
                "DPLReleaseLibrary(1)", "unload" }));
        // Without DPLCreateLibrary there is no instance to pass or release.
        {
            PdfLibraryDll dll(path(fakeWithoutCreate));
            dll.SelectPage(2);
        }
        QCOMPARE(fake.takeCalls(), QStringList({ "load", "DPLSelectPage(0, 2)", "unload" }));
    }

    // Ids of 0 and below are the engine's failures: used as given, never released (a positive
    // one is released with its library, see qtLayer).
    void instanceLife_data()
    {
        QTest::addColumn<int>("id");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }

    void instanceLife()
    {
        QFETCH(int, id);
        FakeEngine fake;
        fake.script({ QStringLiteral("DPLCreateLibrary %1").arg(id), "DPLSelectPage 1" });
        {
            PdfLibraryDll dll(path(completeFake));
            QVERIFY(dll.LibraryLoaded());
            QVERIFY(dll.loadError().empty());
            QCOMPARE(dll.SelectPage(3), 1);
            QCOMPARE(dll.SelectPage(4), 0);
        }
        QCOMPARE(fake.takeCalls(),
            QStringList({ "load", "DPLCreateLibrary()", QStringLiteral("DPLSelectPage(%1, 3)").arg(id),
                QStringLiteral("DPLSelectPage(%1, 4)").arg(id), "unload" }));
        QVERIFY(!isLoaded(completeFake));
    }

    // Plain values pass unchanged, wide strings as zero-terminated UTF-16; byte strings go in
    // through buffers, released in creation order after the call, and a byte result is
    // completed after the release.
    void argumentsAndResultsPassUnchanged()
    {
        FakeEngine fake;
        fake.script({ "DPLPageWidth 612.5", "DPLLastErrorCode -3", "DPLGetCanvasDC 64", "DPLDrawTableRows 2",
            "DPLSetPageContentFromString 1", "DPLCreateBuffer 9", "DPLStoreCustomDataFromString 5",
            R"(DPLRetrieveCustomDataToString "value")" });
        auto dll = fake.loaded();
        unsigned char pixels[30 * 20 * 4] = {};
        PdfPixelBuffer target { pixels, 30, 20, 120 };
        int progress = 0;
        dll->RenderPageToDC(1.5, 4, &target);
        dll->SetProgressCallback(&progress, nullptr);
        dll->SetTextSize(0.1);
        dll->LoadFromFile(u"/b/\u0412\u043e\u0439\u043d\u0430.pdf", u"");
        dll->SetBaseURL(std::u16string(u"ab\0cd", 5));
        dll->AppendText(u"\U0001F600");
        QCOMPARE(dll->PageWidth(), 612.5);
        QCOMPARE(dll->LastErrorCode(), -3);
        const HDC canvas = dll->GetCanvasDC(64, 64);
        QVERIFY(canvas);
        QCOMPARE(canvas->width, 64);
        QCOMPARE(dll->GetCanvasDC(1, 1), HDC(nullptr));
        QCOMPARE(dll->DrawTableRows(1, 2.5, 3.0, 4.0, 5, -6), 2.0);
        QCOMPARE(dll->SetPageContentFromString(std::string("a\0b", 3)), 1);
        dll->LoadFromString("%PDF", u"secret");
        QCOMPARE(dll->StoreCustomDataFromString("k", "data", 1, 2), 5);
        QCOMPARE(dll->RetrieveCustomDataToString("key", 5), std::string("value"));
        const QString pointer = QStringLiteral("0x%1").arg(quintptr(&progress), 0, 16);
        QCOMPARE(fake.takeCalls(),
            QStringList({ "DPLRenderPageToDC(1, 1.5, 4, hdc(30x20))",
                QStringLiteral("DPLSetProgressCallback(1, %1, null)").arg(pointer), "DPLSetTextSize(1, 0.1)",
                R"(DPLLoadFromFile(1, "/b/\u0412\u043e\u0439\u043d\u0430.pdf", ""))", R"(DPLSetBaseURL(1, "ab"))",
                R"(DPLAppendText(1, "\ud83d\ude00"))", "DPLPageWidth(1)", "DPLLastErrorCode(1)",
                "DPLGetCanvasDC(1, 64, 64)", "DPLGetCanvasDC(1, 1, 1)", "DPLDrawTableRows(1, 1, 2.5, 3, 4, 5, -6)",
                "DPLCreateBuffer(1, 3)", R"(DPLAddToBuffer(1, 9, "a\x00b", 3))", "DPLSetPageContentFromString(1, 9)",
                "DPLReleaseBuffer(1, 9)", "DPLCreateBuffer(1, 4)", R"(DPLAddToBuffer(1, 100, "%PDF", 4))",
                R"(DPLLoadFromString(1, 100, "secret"))", "DPLReleaseBuffer(1, 100)", "DPLCreateBuffer(1, 1)",
                R"(DPLAddToBuffer(1, 101, "k", 1))", "DPLCreateBuffer(1, 4)", R"(DPLAddToBuffer(1, 102, "data", 4))",
                "DPLStoreCustomDataFromString(1, 101, 102, 1, 2)", "DPLReleaseBuffer(1, 101)",
                "DPLReleaseBuffer(1, 102)", "DPLCreateBuffer(1, 3)", R"(DPLAddToBuffer(1, 103, "key", 3))",
                "DPLRetrieveCustomDataToString(1, 103, 5)", "DPLReleaseBuffer(1, 103)",
                "DPLAnsiStringResultLength(1)" }));
    }

    // A string result is copied with the length the engine gives, asked right after the entry,
    // before anything else reaches the instance; zeros inside are kept.
    void stringResults_data()
    {
        QTest::addColumn<bool>("wide");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("length"); // scripted, or empty for the text's own
        QTest::addColumn<QByteArray>("expected"); // in UTF-8 for a wide result
        QTest::newRow("zeros inside") << true << R"("a\0b\0")" << QString() << QByteArray("a\0b\0", 4);
        QTest::newRow("length shorter than the text") << true << R"("abcdef")"
                                                      << "3" << QByteArray("abc");
        QTest::newRow("negative length") << true << R"("abc")"
                                         << "-1" << QByteArray();
        QTest::newRow("binary bytes") << false << R"("%PDF\x00\xff\n")" << QString() << QByteArray("%PDF\0\xff\n", 7);
        QTest::newRow("length shorter than the bytes") << false << R"("abcdef")"
                                                       << "2" << QByteArray("ab");
        QTest::newRow("null bytes") << false << "null"
                                    << "9" << QByteArray();
    }

    void stringResults()
    {
        QFETCH(bool, wide);
        QFETCH(QString, value);
        QFETCH(QString, length);
        QFETCH(QByteArray, expected);
        const QString entry = wide ? "DPLGetPageText" : "DPLSaveToString";
        const QString lengthEntry = wide ? "DPLStringResultLength" : "DPLAnsiStringResultLength";
        FakeEngine fake;
        fake.script({ entry + ' ' + value, length.isEmpty() ? QString() : lengthEntry + ' ' + length });
        auto dll = fake.loaded();
        const std::string bytes = wide ? std::string() : dll->SaveToString();
        const QByteArray result
            = wide ? QString::fromStdU16String(dll->GetPageText(2)).toUtf8() : QByteArray::fromStdString(bytes);
        QCOMPARE(result, expected);
        QCOMPARE(fake.takeCalls(), QStringList({ entry + (wide ? "(1, 2)" : "(1)"), lengthEntry + "(1)" }));
    }

    // Members are invokable by name; strings convert by the kind of their parameter; the library
    // is released once, with its parent, as the document's shared library goes with the
    // application object.
    void qtLayer()
    {
        FakeEngine fake;
        fake.script({ "DPLSelectPage 1", R"(DPLOutlineTitle "Part\0One")",
            R"(DPLGetObjectToString "Gr\xc3\xbc\xc3\x9fe")", R"(DPLSaveToString "%PDF\xff")" });
        auto* parent = new QObject;
        QPointer<DebenuPDFLibraryDLLQt1016> pointer = new DebenuPDFLibraryDLLQt1016(completeFake);
        pointer->setParent(parent);
        DebenuPDFLibraryDLLQt1016& library = *pointer;
        fake.takeCalls();
        int selected = 0;
        QVERIFY(QMetaObject::invokeMethod(
            &library, "SelectPage", Qt::DirectConnection, Q_RETURN_ARG(int, selected), Q_ARG(int, 3)));
        QCOMPARE(selected, 1);
        // Wide strings as UTF-16 units, the empty password as an empty string, not a null pointer.
        library.LoadFromFile(QStringLiteral("/b/\u00e9t\u00e9 \U0001F600.pdf"), QString());
        // Byte strings as UTF-8: "é" takes two bytes.
        library.SetPageContentFromString(QStringLiteral("\u00e9"));
        QCOMPARE(library.OutlineTitle(4), QString::fromUtf16(u"Part\0One", 8));
        QCOMPARE(library.GetObjectToString(1), QStringLiteral("Grüße"));
        // Bytes that are not UTF-8 turn into replacement characters on the way to a QString.
        QCOMPARE(library.SaveToString(), QStringLiteral("%PDF\ufffd"));
        QCOMPARE(fake.takeCalls(),
            QStringList({ "DPLSelectPage(1, 3)", R"(DPLLoadFromFile(1, "/b/\u00e9t\u00e9 \ud83d\ude00.pdf", ""))",
                "DPLCreateBuffer(1, 2)", R"(DPLAddToBuffer(1, 100, "\xc3\xa9", 2))",
                "DPLSetPageContentFromString(1, 100)", "DPLReleaseBuffer(1, 100)", "DPLOutlineTitle(1, 4)",
                "DPLStringResultLength(1)", "DPLGetObjectToString(1, 1)", "DPLAnsiStringResultLength(1)",
                "DPLSaveToString(1)", "DPLAnsiStringResultLength(1)" }));
        delete parent;
        QVERIFY(pointer.isNull());
        QCOMPARE(fake.takeCalls(), QStringList({ "DPLReleaseLibrary(1)", "unload" }));
        QVERIFY(!isLoaded(completeFake));
    }
};

QTEST_GUILESS_MAIN(TestPdfBinding)
#include "tst_pdfbinding.moc"
