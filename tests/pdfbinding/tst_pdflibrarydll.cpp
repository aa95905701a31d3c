#include "fakeengine.h"
#include "pdflibrarydll.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// PdfLibraryDll against the recording fake engine: loading states, the instance's life, and the
// string and buffer protocols seen from the library's side.
class TestPdfLibraryDll : public QObject {
    Q_OBJECT

private:
    static std::u16string path(const QString& file) { return file.toStdU16String(); }

    static QStringList lines(std::initializer_list<const char*> items)
    {
        QStringList result;
        for (const char* item : items)
            result.append(QString::fromUtf8(item));
        return result;
    }

    // A loaded fake whose load and instance creation have been taken from the log.
    static std::unique_ptr<PdfLibraryDll> loadComplete(FakeEngine& fake)
    {
        auto dll = std::make_unique<PdfLibraryDll>(path(FakeEngine::completePath()));
        fake.takeCalls();
        return dll;
    }

private slots:
    void notLoadedCallsNothing_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("missing file") << false;
        QTest::newRow("not a library") << true;
    }

    void notLoadedCallsNothing()
    {
        QFETCH(bool, fileExists);
        FakeEngine fake;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("libpdf.so"));
        if (fileExists) {
            QFile text(file);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("not an ELF file\n");
        }
        {
            PdfLibraryDll dll(path(file));
            QVERIFY(!dll.LibraryLoaded());
            QVERIFY(!dll.loadError().empty());
            // Every kind of result comes back empty without a call through a null entry.
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
    }

    void notImplementedEntriesAnswerEmptyAndSetTheError()
    {
        PdfLibraryDll dll(path(FakeEngine::stubEnginePath()));
        QVERIFY2(dll.LibraryLoaded(), dll.loadError().c_str());
        QCOMPARE(dll.PageCount(), 3);
        QCOMPARE(dll.LastErrorCode(), 0);
        QVERIFY(dll.GetPageText(2).empty());
        QCOMPARE(dll.LastErrorCode(), 9999);
        QCOMPARE(QString::fromStdU16String(dll.GetInformation(2)), QStringLiteral("Title"));
        QCOMPARE(dll.PageWidth(), 0.0);
        QCOMPARE(dll.LastErrorCode(), 9999);
        QVERIFY(dll.SaveToString().empty());
        QCOMPARE(dll.RenderPageToDC(72.0, 1, nullptr), 0);
        QCOMPARE(dll.GetCanvasDC(1, 1), HDC(nullptr));
    }

    void loadedMakesOneInstanceAndReleasesItOnce()
    {
        FakeEngine fake;
        fake.script({ "DPLCreateLibrary 7", "DPLSelectPage 1" });
        {
            PdfLibraryDll dll(path(FakeEngine::completePath()));
            QVERIFY(dll.LibraryLoaded());
            QVERIFY(dll.loadError().empty());
            QCOMPARE(fake.takeCalls(), lines({ "load", "DPLCreateLibrary()" }));
            QCOMPARE(dll.SelectPage(3), 1);
            QCOMPARE(dll.SelectPage(4), 0);
            QCOMPARE(fake.takeCalls(), lines({ "DPLSelectPage(7, 3)", "DPLSelectPage(7, 4)" }));
        }
        QCOMPARE(fake.takeCalls(), lines({ "DPLReleaseLibrary(7)", "unload" }));
        QVERIFY(!FakeEngine::isLoaded(FakeEngine::completePath()));
    }

    void partlyLoadedStillUsesTheEntriesFound()
    {
        FakeEngine fake;
        fake.script({ "DPLGetPageText \"text\"" });
        {
            PdfLibraryDll dll(path(FakeEngine::withoutPageCountPath()));
            QVERIFY(!dll.LibraryLoaded());
            QVERIFY(QString::fromStdString(dll.loadError()).contains(QStringLiteral("DPLPageCount")));
            QCOMPARE(fake.takeCalls(), lines({ "load", "DPLCreateLibrary()" }));
            QCOMPARE(dll.PageCount(), 0);
            QCOMPARE(QString::fromStdU16String(dll.GetPageText(2)), QStringLiteral("text"));
            QCOMPARE(fake.takeCalls(), lines({ "DPLGetPageText(1, 2)", "DPLStringResultLength(1)" }));
        }
        QCOMPARE(fake.takeCalls(), lines({ "DPLReleaseLibrary(1)", "unload" }));
    }

    void partlyLoadedWithoutCreateLibraryHasNoInstance()
    {
        FakeEngine fake;
        {
            PdfLibraryDll dll(path(FakeEngine::withoutCreateLibraryPath()));
            QVERIFY(!dll.LibraryLoaded());
            dll.SelectPage(2);
            QCOMPARE(fake.takeCalls(), lines({ "load", "DPLSelectPage(0, 2)" }));
        }
        QCOMPARE(fake.takeCalls(), lines({ "unload" }));
    }

    void nonPositiveInstanceIdsAreNeverReleased_data()
    {
        QTest::addColumn<int>("id");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }

    void nonPositiveInstanceIdsAreNeverReleased()
    {
        QFETCH(int, id);
        FakeEngine fake;
        fake.script({ QStringLiteral("DPLCreateLibrary %1").arg(id) });
        {
            PdfLibraryDll dll(path(FakeEngine::completePath()));
            QVERIFY(dll.LibraryLoaded());
            dll.PageCount();
        }
        QCOMPARE(fake.takeCalls(),
            QStringList({ "load", "DPLCreateLibrary()", QStringLiteral("DPLPageCount(%1)").arg(id), "unload" }));
    }

    void plainArgumentsAndResultsPassUnchanged()
    {
        FakeEngine fake;
        fake.script({ "DPLPageWidth 612.5", "DPLLastErrorCode -3", "DPLGetCanvasDC 64", "DPLDrawTableRows 2" });
        auto dll = loadComplete(fake);
        unsigned char pixels[30 * 20 * 4] = {};
        PdfPixelBuffer target { pixels, 30, 20, 120 };
        int progress = 0;
        dll->RenderPageToDC(1.5, 4, &target);
        dll->SetProgressCallback(&progress, nullptr);
        dll->SetTextSize(0.1);
        QCOMPARE(dll->PageWidth(), 612.5);
        QCOMPARE(dll->LastErrorCode(), -3);
        const HDC canvas = dll->GetCanvasDC(64, 64);
        QVERIFY(canvas);
        QCOMPARE(canvas->width, 64);
        QCOMPARE(dll->GetCanvasDC(1, 1), HDC(nullptr));
        QCOMPARE(dll->DrawTableRows(1, 2.5, 3.0, 4.0, 5, -6), 2.0);
        const QString pointer = QStringLiteral("0x%1").arg(quintptr(&progress), 0, 16);
        QCOMPARE(fake.takeCalls(),
            QStringList({ "DPLRenderPageToDC(1, 1.5, 4, hdc(30x20))",
                QStringLiteral("DPLSetProgressCallback(1, %1, null)").arg(pointer), "DPLSetTextSize(1, 0.1)",
                "DPLPageWidth(1)", "DPLLastErrorCode(1)", "DPLGetCanvasDC(1, 64, 64)", "DPLGetCanvasDC(1, 1, 1)",
                "DPLDrawTableRows(1, 1, 2.5, 3, 4, 5, -6)" }));
    }

    void wideStringArgumentsAreZeroTerminatedUtf16()
    {
        FakeEngine fake;
        auto dll = loadComplete(fake);
        dll->LoadFromFile(u"/b/\u0412\u043e\u0439\u043d\u0430.pdf", u"");
        dll->SetBaseURL(std::u16string(u"ab\0cd", 5));
        dll->AppendText(u"\U0001F600");
        QCOMPARE(fake.takeCalls(),
            lines({ R"(DPLLoadFromFile(1, "/b/\u0412\u043e\u0439\u043d\u0430.pdf", ""))", R"(DPLSetBaseURL(1, "ab"))",
                R"(DPLAppendText(1, "\ud83d\ude00"))" }));
    }

    void wideStringResults_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << QStringList { R"(DPLGetPageText "r\u00e9sum\u00e9")" } << QStringLiteral("résumé");
        QTest::newRow("zeros inside") << QStringList { R"(DPLGetPageText "a\0b\0")" }
                                      << QString::fromUtf16(u"a\0b\0", 4);
        QTest::newRow("length shorter than the text")
            << QStringList { R"(DPLGetPageText "abcdef")", "DPLStringResultLength 3" } << QStringLiteral("abc");
        QTest::newRow("empty") << QStringList { R"(DPLGetPageText "")" } << QString();
        QTest::newRow("length 0") << QStringList { R"(DPLGetPageText "abc")", "DPLStringResultLength 0" } << QString();
        QTest::newRow("negative length") << QStringList { R"(DPLGetPageText "abc")", "DPLStringResultLength -1" }
                                         << QString();
        QTest::newRow("null text") << QStringList { "DPLGetPageText null", "DPLStringResultLength 4" } << QString();
    }

    void wideStringResults()
    {
        QFETCH(QStringList, script);
        QFETCH(QString, expected);
        FakeEngine fake;
        fake.script(script);
        auto dll = loadComplete(fake);
        QCOMPARE(QString::fromStdU16String(dll->GetPageText(2)), expected);
        // The length is asked right after the entry, before anything else reaches the instance.
        QCOMPARE(fake.takeCalls(), lines({ "DPLGetPageText(1, 2)", "DPLStringResultLength(1)" }));
    }

    void byteStringResults_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("binary") << QStringList { R"(DPLSaveToString "%PDF\x00\xff\n")" }
                                << QByteArray("%PDF\0\xff\n", 7);
        QTest::newRow("length shorter than the bytes")
            << QStringList { R"(DPLSaveToString "abcdef")", "DPLAnsiStringResultLength 2" } << QByteArray("ab");
        QTest::newRow("empty") << QStringList { R"(DPLSaveToString "")" } << QByteArray();
        QTest::newRow("null bytes") << QStringList { "DPLSaveToString null", "DPLAnsiStringResultLength 9" }
                                    << QByteArray();
    }

    void byteStringResults()
    {
        QFETCH(QStringList, script);
        QFETCH(QByteArray, expected);
        FakeEngine fake;
        fake.script(script);
        auto dll = loadComplete(fake);
        const std::string result = dll->SaveToString();
        QCOMPARE(QByteArray(result.data(), int(result.size())), expected);
        QCOMPARE(fake.takeCalls(), lines({ "DPLSaveToString(1)", "DPLAnsiStringResultLength(1)" }));
    }

    void byteStringArgumentsGoThroughABuffer()
    {
        FakeEngine fake;
        fake.script({ "DPLSetPageContentFromString 1", "DPLCreateBuffer 9" });
        auto dll = loadComplete(fake);
        QCOMPARE(dll->SetPageContentFromString(std::string("a\0b", 3)), 1);
        dll->SetPageContentFromString(std::string());
        dll->LoadFromString("%PDF", u"secret");
        QCOMPARE(fake.takeCalls(),
            lines({ "DPLCreateBuffer(1, 3)", R"(DPLAddToBuffer(1, 9, "a\x00b", 3))",
                "DPLSetPageContentFromString(1, 9)", "DPLReleaseBuffer(1, 9)", "DPLCreateBuffer(1, 0)",
                R"(DPLAddToBuffer(1, 100, "", 0))", "DPLSetPageContentFromString(1, 100)", "DPLReleaseBuffer(1, 100)",
                "DPLCreateBuffer(1, 4)", R"(DPLAddToBuffer(1, 101, "%PDF", 4))",
                R"(DPLLoadFromString(1, 101, "secret"))", "DPLReleaseBuffer(1, 101)" }));
    }

    void twoBuffersAreReleasedInCreationOrder()
    {
        FakeEngine fake;
        fake.script({ "DPLStoreCustomDataFromString 5" });
        auto dll = loadComplete(fake);
        QCOMPARE(dll->StoreCustomDataFromString("k", "data", 1, 2), 5);
        QCOMPARE(fake.takeCalls(),
            lines({ "DPLCreateBuffer(1, 1)", R"(DPLAddToBuffer(1, 100, "k", 1))", "DPLCreateBuffer(1, 4)",
                R"(DPLAddToBuffer(1, 101, "data", 4))", "DPLStoreCustomDataFromString(1, 100, 101, 1, 2)",
                "DPLReleaseBuffer(1, 100)", "DPLReleaseBuffer(1, 101)" }));
    }

    void bytesResultIsCompletedAfterTheRelease()
    {
        FakeEngine fake;
        fake.script({ R"(DPLRetrieveCustomDataToString "value")" });
        auto dll = loadComplete(fake);
        QCOMPARE(dll->RetrieveCustomDataToString("key", 5), std::string("value"));
        QCOMPARE(fake.takeCalls(),
            lines({ "DPLCreateBuffer(1, 3)", R"(DPLAddToBuffer(1, 100, "key", 3))",
                "DPLRetrieveCustomDataToString(1, 100, 5)", "DPLReleaseBuffer(1, 100)",
                "DPLAnsiStringResultLength(1)" }));
    }
};

QTEST_GUILESS_MAIN(TestPdfLibraryDll)
#include "tst_pdflibrarydll.moc"
