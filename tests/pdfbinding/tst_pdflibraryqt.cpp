#include "debenupdflibrarydllqt1016.h"
#include "fakeengine.h"
#include "pdfenginefile.h"
#include "pdflibraryentries.h"

#include <QMetaMethod>
#include <QPointer>
#include <QTest>

// The Qt layer: its meta-object, the QString conversions by parameter kind, and the life of the
// library it owns.
class TestPdfLibraryQt : public QObject {
    Q_OBJECT

private:
    static QMetaMethod ownMethod(const QString& signature)
    {
        const QMetaObject& meta = DebenuPDFLibraryDLLQt1016::staticMetaObject;
        const int index = meta.indexOfMethod(QMetaObject::normalizedSignature(qPrintable(signature)));
        return index >= meta.methodOffset() ? meta.method(index) : QMetaMethod();
    }

    static QStringList lines(std::initializer_list<const char*> items)
    {
        QStringList result;
        for (const char* item : items)
            result.append(QString::fromUtf8(item));
        return result;
    }

private slots:
    void metaObjectHoldsOneInvokableMethodPerMember()
    {
        const QMetaObject& meta = DebenuPDFLibraryDLLQt1016::staticMetaObject;
        QCOMPARE(meta.className(), "DebenuPDFLibraryDLLQt1016");
        QCOMPARE(meta.methodCount() - meta.methodOffset(), 848);
        QCOMPARE(meta.propertyCount(), meta.propertyOffset());
        QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
        QCOMPARE(meta.classInfoCount(), meta.classInfoOffset());
        QCOMPARE(meta.constructorCount(), 0);

        const int first = meta.methodOffset();
        QCOMPARE(meta.method(first).methodSignature(), QByteArray("LibraryLoaded()"));
        QCOMPARE(meta.method(first).typeName(), "bool");
        QCOMPARE(meta.method(first + 1).methodSignature(), QByteArray("SetProgressCallback(void*,void*)"));
        QCOMPARE(meta.method(meta.methodCount() - 1).methodSignature(), QByteArray("UseUnsafeContentStreams(int)"));

        // After LibraryLoaded, the members in the order of their entries, all public invokables.
        int index = first + 1;
        for (const PdfLibraryEntry& entry : pdfLibraryEntries) {
            if (!entry.method)
                continue;
            const QMetaMethod method = meta.method(index++);
            QCOMPARE(method.name(), QByteArray(entry.method));
            QCOMPARE(method.methodType(), QMetaMethod::Method);
            QCOMPARE(method.access(), QMetaMethod::Public);
        }
        QCOMPARE(index, meta.methodCount());
    }

    void signaturesAndParameterNames_data()
    {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("names");
        QTest::newRow("LoadFromFile") << "LoadFromFile(QString,QString)"
                                      << "int"
                                      << "FileName,Password";
        QTest::newRow("RenderPageToDC") << "RenderPageToDC(double,int,HDC)"
                                        << "int"
                                        << "DPI,Page,DC";
        QTest::newRow("GetCanvasDC") << "GetCanvasDC(int,int)"
                                     << "HDC"
                                     << "Arg1,Arg2";
        QTest::newRow("DrawTextW") << "DrawTextW(double,double,QString)"
                                   << "int"
                                   << "Arg1,Arg2,Arg3";
        QTest::newRow("GetTempPathW") << "GetTempPathW()"
                                      << "QString"
                                      << "";
    }

    void signaturesAndParameterNames()
    {
        QFETCH(QString, signature);
        QFETCH(QString, result);
        QFETCH(QString, names);
        const QMetaMethod method = ownMethod(signature);
        QVERIFY2(method.isValid(), qPrintable(signature));
        QCOMPARE(QString::fromLatin1(method.typeName()), result);
        QStringList recorded;
        for (const QByteArray& name : method.parameterNames())
            recorded.append(QString::fromLatin1(name));
        QCOMPARE(recorded.join(QLatin1Char(',')), names);
    }

    void loadStates()
    {
        FakeEngine fake;
        QVERIFY(DebenuPDFLibraryDLLQt1016(FakeEngine::completePath()).LibraryLoaded());
        DebenuPDFLibraryDLLQt1016 missing(QStringLiteral("/nonexistent/") + pdfengine::fileName());
        QVERIFY(!missing.LibraryLoaded());
        QVERIFY(!missing.loadError().isEmpty());
        QCOMPARE(missing.PageCount(), 0);
        QCOMPARE(missing.GetInformation(2), QString());
        DebenuPDFLibraryDLLQt1016 partial(FakeEngine::withoutPageCountPath());
        QVERIFY(!partial.LibraryLoaded());
        QVERIFY(partial.loadError().contains(QStringLiteral("DPLPageCount")));
    }

    void engineFileLiesBesideTheExecutableUnlessSet()
    {
        QVERIFY(pdfengine::fileName().endsWith(QLatin1String(".so")));
        QVERIFY(!pdfengine::fileName().contains(QLatin1Char('/')));
        QCOMPARE(pdfengine::defaultPath(), QCoreApplication::applicationDirPath() + '/' + pdfengine::fileName());
        QCOMPARE(pdfengine::libraryPath(), pdfengine::defaultPath());
        pdfengine::setLibraryPath(FakeEngine::completePath());
        QCOMPARE(pdfengine::libraryPath(), FakeEngine::completePath());
        pdfengine::setLibraryPath(QString());
        QCOMPARE(pdfengine::libraryPath(), pdfengine::defaultPath());
    }

    void membersAreInvokableByName()
    {
        FakeEngine fake;
        fake.script({ "DPLSelectPage 1", R"(DPLGetPageText "1,2,3,4,5,text")" });
        DebenuPDFLibraryDLLQt1016 library(FakeEngine::completePath());
        fake.takeCalls();
        int selected = 0;
        QString text;
        QVERIFY(QMetaObject::invokeMethod(
            &library, "SelectPage", Qt::DirectConnection, Q_RETURN_ARG(int, selected), Q_ARG(int, 3)));
        QVERIFY(QMetaObject::invokeMethod(
            &library, "GetPageText", Qt::DirectConnection, Q_RETURN_ARG(QString, text), Q_ARG(int, 2)));
        QCOMPARE(selected, 1);
        QCOMPARE(text, QStringLiteral("1,2,3,4,5,text"));
        QCOMPARE(
            fake.takeCalls(), lines({ "DPLSelectPage(1, 3)", "DPLGetPageText(1, 2)", "DPLStringResultLength(1)" }));
    }

    void stringsConvertByTheKindOfTheirParameter()
    {
        FakeEngine fake;
        fake.script({ R"(DPLOutlineTitle "Part\0One")", R"(DPLGetObjectToString "Gr\xc3\xbc\xc3\x9fe")",
            R"(DPLSaveToString "%PDF\xff")" });
        DebenuPDFLibraryDLLQt1016 library(FakeEngine::completePath());
        fake.takeCalls();
        // Wide strings as UTF-16 units, the empty password as an empty string, not a null pointer.
        library.LoadFromFile(QStringLiteral("/b/\u00e9t\u00e9 \U0001F600.pdf"), QString());
        // Byte strings as UTF-8: "é" takes two bytes.
        library.SetPageContentFromString(QStringLiteral("\u00e9"));
        QCOMPARE(library.OutlineTitle(4), QString::fromUtf16(u"Part\0One", 8));
        QCOMPARE(library.GetObjectToString(1), QStringLiteral("Grüße"));
        // Bytes that are not UTF-8 turn into replacement characters on the way to a QString.
        QCOMPARE(library.SaveToString(), QStringLiteral("%PDF\ufffd"));
        QCOMPARE(fake.takeCalls(),
            lines({ R"(DPLLoadFromFile(1, "/b/\u00e9t\u00e9 \ud83d\ude00.pdf", ""))", "DPLCreateBuffer(1, 2)",
                R"(DPLAddToBuffer(1, 100, "\xc3\xa9", 2))", "DPLSetPageContentFromString(1, 100)",
                "DPLReleaseBuffer(1, 100)", "DPLOutlineTitle(1, 4)", "DPLStringResultLength(1)",
                "DPLGetObjectToString(1, 1)", "DPLAnsiStringResultLength(1)", "DPLSaveToString(1)",
                "DPLAnsiStringResultLength(1)" }));
    }

    void deletingUnloadsExactlyOnce()
    {
        FakeEngine fake;
        auto* library = new DebenuPDFLibraryDLLQt1016(FakeEngine::completePath());
        QCOMPARE(fake.takeCalls(), lines({ "load", "DPLCreateLibrary()" }));
        delete library;
        QCOMPARE(fake.takeCalls(), lines({ "DPLReleaseLibrary(1)", "unload" }));
        QVERIFY(!FakeEngine::isLoaded(FakeEngine::completePath()));

        // Through the parent, as the document's shared library goes with the application object.
        auto* parent = new QObject;
        QPointer<DebenuPDFLibraryDLLQt1016> child = new DebenuPDFLibraryDLLQt1016(FakeEngine::completePath());
        child->setParent(parent);
        QVERIFY(FakeEngine::isLoaded(FakeEngine::completePath()));
        fake.takeCalls();
        delete parent;
        QVERIFY(child.isNull());
        QCOMPARE(fake.takeCalls(), lines({ "DPLReleaseLibrary(1)", "unload" }));
        QVERIFY(!FakeEngine::isLoaded(FakeEngine::completePath()));
    }
};

QTEST_GUILESS_MAIN(TestPdfLibraryQt)
#include "tst_pdflibraryqt.moc"
