#include "debenupdflibrarydllqt1016.h"
#include "logcapture.h"
#include "pdfdocument.h"
#include "pdfenginefile.h"
#include "pdffixtures.h"
#include "temphome.h"

#include <QTest>
#include <QtConcurrent>

// The first document of the process made on a pool thread, as an import does, with an engine
// file that is not there: the shared library still ends up owned by the application on its
// thread, and documents behave as unloaded.
class TestPdfDocumentFirstUse : public QObject {
    Q_OBJECT

private slots:
    void firstDocumentOnAPoolThreadWithoutEngine()
    {
        TempHome home;
        const QString book = home.filePath(QStringLiteral("book.pdf"));
        QVERIFY(pdffixtures::book().save(book));
        pdfengine::setLibraryPath(home.filePath(QStringLiteral("no-such-engine.so")));
        QVERIFY(!PdfDocument::sharedLibrary());

        LogCapture log;
        QFuture<int> imported = QtConcurrent::run([book] {
            PdfDocument document;
            document.load(book);
            if (!document.coverImage().isNull() || !document.title().isEmpty() || document.isPasswordRequired())
                return -1;
            return document.pageCount();
        });
        QCOMPARE(imported.result(), 0);
        QCOMPARE(log.criticalLines().size(), 1);
        QVERIFY2(log.criticalLines().first().contains(QStringLiteral("no-such-engine.so")),
            qPrintable(log.criticalLines().first()));

        DebenuPDFLibraryDLLQt1016* library = PdfDocument::sharedLibrary();
        QVERIFY(library);
        QVERIFY(!library->LibraryLoaded());
        QCOMPARE(library->thread(), QCoreApplication::instance()->thread());
        QTRY_COMPARE(library->parent(), QCoreApplication::instance());

        PdfDocument document;
        QCOMPARE(PdfDocument::sharedLibrary(), library);
        document.load(book);
        QCOMPARE(document.pageCount(), 0);
        QVERIFY(document.toc().isEmpty());
        QVERIFY(document.search(QStringLiteral("1")).isEmpty());
        QVERIFY(document.requestImage(1, 1.0).isNull());
        QCOMPARE(log.criticalLines().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestPdfDocumentFirstUse)
#include "tst_pdfdocumentfirstuse.moc"
