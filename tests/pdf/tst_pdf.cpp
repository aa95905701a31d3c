// The PDF engine binding against a recording fake of the engine, then the real engine and the PDF
// document over it, on PDFs written by the tests.
#include "../kel-effects/messagecatcher.h"
#include "debenupdflibrarydllqt1016.h"
#include "engine/pdfengineerrors.h"
#include "pagebuffers.h"
#include "pdfdocument.h"
#include "pdfencryption.h"
#include "pdfenginefile.h"
#include "pdflibrarydll.h"
#include "pdflibraryentries.h"
#include "pdfwriter.h"
#include "temphome.h"
#include "testfiles.h"
#include "testpaths.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <memory>

namespace pdffixtures {
// Three pages (Letter, A4, Letter turned by /Rotate 90) with boxes and lines of text, an
// information dictionary and a two-level outline with an item without a target.
PdfWriter book()
{
    PdfWriter pdf;
    const QRectF redBox(72, 72, 144, 72);
    const int first = pdf.addPage();
    pdf.addRect(first, redBox, Qt::red);
    pdf.addText(first, QPointF(72, 200), 24, QStringLiteral("Chapter One"), PdfWriter::Font::HelveticaBold);
    pdf.addText(first, QPointF(72, 250), 12, QStringLiteral("apples, pears and plums"));
    const int second = pdf.addPage(QSizeF(595.276, 841.89));
    pdf.addRect(second, QRectF(300, 400, 100, 100), Qt::blue);
    pdf.addText(second, QPointF(72, 100), 12, QStringLiteral("Second page, with Commas, inside 3"),
        PdfWriter::Font::TimesRoman);
    const int third = pdf.addPage();
    pdf.setRotation(third, 90);
    pdf.addRect(third, redBox, Qt::red);
    pdf.addText(third, QPointF(72, 300), 14, QStringLiteral("Rotated page"), PdfWriter::Font::Courier);
    pdf.setInfo("Title", QStringLiteral("A Test Book"));
    pdf.setInfo("Author", QStringLiteral("Ann Author"));
    pdf.setInfo("Creator", QStringLiteral("Test Writer"));
    pdf.setInfo("Producer", QStringLiteral("pdfwriter"));
    PdfWriter::OutlineItem partA { QStringLiteral("Part A"), 1, {} };
    partA.children.append({ QStringLiteral("Part A1"), 2, {} });
    partA.children.append({ QStringLiteral("Part A2"), 3, {} });
    pdf.setOutline({ partA, { QStringLiteral("Part B"), 3, {} }, { QStringLiteral("No target"), 0, {} } });
    return pdf;
}

// Values the engine must bring to a quarter turn: below zero, past a full turn, between quarters.
const int rotationValues[] = { -90, 450, 45 };

// One Letter page per rotation value, written as given; then a page whose crop box
// (100 100 400 300) lies inside its Letter media box.
PdfWriter rotations()
{
    PdfWriter pdf;
    for (const int degrees : rotationValues) {
        const int page = pdf.addPage();
        pdf.setRotation(page, degrees);
        pdf.addText(page, QPointF(72, 72), 12, QStringLiteral("Rotate %1").arg(degrees));
    }
    pdf.setCropBox(pdf.addPage(), QRectF(100, 100, 300, 200));
    return pdf;
}

// A page whose outline has count items at the top, the first of them nesting depth levels.
PdfWriter bigOutline(int count, int depth)
{
    PdfWriter pdf;
    pdf.addPage();
    PdfWriter::OutlineItem root { QStringLiteral("Level %1").arg(depth), 1, {} };
    for (int level = depth - 1; level >= 1; --level)
        root = PdfWriter::OutlineItem { QStringLiteral("Level %1").arg(level), 1, { root } };
    QList<PdfWriter::OutlineItem> items { root };
    for (int i = 2; i <= count; ++i)
        items.append({ QStringLiteral("Item %1").arg(i), 1, {} });
    pdf.setOutline(items);
    return pdf;
}

// Two items that name each other as next; the first names itself as child.
PdfWriter cyclicOutline()
{
    PdfWriter pdf;
    pdf.addPage();
    const int outlines = pdf.reserveObject();
    const int first = pdf.reserveObject();
    const int second = pdf.reserveObject();
    const QByteArray page = QByteArray::number(pdf.pageObject(1));
    auto ref = [](int object) { return QByteArray::number(object) + " 0 R"; };
    pdf.setObject(outlines, "<< /Type /Outlines /First " + ref(first) + " /Last " + ref(second) + " /Count 2 >>");
    pdf.setObject(first,
        "<< /Title (First) /Parent " + ref(outlines) + " /Next " + ref(second) + " /First " + ref(first) + " /Dest ["
            + page + " 0 R /Fit] >>");
    pdf.setObject(second,
        "<< /Title (Second) /Parent " + ref(outlines) + " /Next " + ref(first) + " /Dest [" + page + " 0 R /Fit] >>");
    pdf.setOutlineRoot(outlines);
    return pdf;
}
}

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

QString enginePath() { return testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName(); }

// Titles and pages of a contents tree as "title:page" with children in brackets.
QString describe(const QList<TocPoint>& points)
{
    QStringList items;
    for (const TocPoint& point : points) {
        QString item = point.title + QLatin1Char(':') + QString::number(point.link->page);
        if (point.index != point.link->page || !point.link->source.isEmpty())
            item += QStringLiteral("!");
        if (!point.children.isEmpty())
            item += QLatin1Char('[') + describe(point.children) + QLatin1Char(']');
        items.append(item);
    }
    return items.join(QLatin1Char(','));
}

int depth(const QList<TocPoint>& points) { return points.isEmpty() ? 0 : 1 + depth(points.first().children); }
}

class TestPdf : public QObject {
    Q_OBJECT

private:
    TempHome home;
    std::unique_ptr<DebenuPDFLibraryDLLQt1016> pdf;
    QString bookPath;
    QString rotationsPath;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return testfiles::write(home.filePath(name), bytes) ? home.filePath(name) : QString();
    }

    static int documentCount() { return PdfDocument::sharedLibrary()->DocumentCount(); }

    int load(const QString& path, const QString& password = QString())
    {
        const int ok = pdf->LoadFromFile(path, password);
        return ok ? pdf->SelectedDocument() : -pdf->LastErrorCode();
    }

private slots:
    void initTestCase()
    {
        pdfengine::setLibraryPath(enginePath());
        pdf.reset(new DebenuPDFLibraryDLLQt1016(enginePath()));
        QVERIFY2(pdf->LibraryLoaded(), qPrintable(pdf->loadError()));
        bookPath = write(QStringLiteral("book.pdf"), pdffixtures::book().toPdf());
        rotationsPath = write(QStringLiteral("rotations.pdf"), pdffixtures::rotations().toPdf());
        PdfWriter huge;
        huge.addRect(huge.addPage(QSizeF(14400, 100)), QRectF(7200, 0, 7200, 100), Qt::red);
        QVERIFY(!bookPath.isEmpty() && !rotationsPath.isEmpty() && !write("huge.pdf", huge.toPdf()).isEmpty());
    }

    // The entries are ordered by the bytes of their names, as the library is searched. A file that
    // is no library loads nothing and every kind of result comes back empty without a call through a
    // null entry; a library without some entries still uses those it has.
    void loadFailures()
    {
        QCOMPARE(pdfLibraryEntries[0].name, "DPLSetProgressCallback");
        for (int i = 2; i < pdfLibraryEntryCount; ++i)
            QVERIFY2(
                std::strcmp(pdfLibraryEntries[i - 1].name, pdfLibraryEntries[i].name) < 0, pdfLibraryEntries[i].name);
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
    // one is released with its library, see argumentsAndResultsPassUnchanged).
    void instanceLife()
    {
        for (const int id : { 0, -5 }) {
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
    }

    // Through the Qt layer, as the document calls the engine: members invokable by name; plain values
    // pass unchanged, wide strings as zero-terminated UTF-16 (the empty password as an empty string),
    // byte strings as UTF-8 in buffers released in creation order after the call, and a result is
    // completed after the release. The library is released once, with its parent.
    void argumentsAndResultsPassUnchanged()
    {
        FakeEngine fake;
        fake.script(
            { "DPLSelectPage 1", "DPLPageWidth 612.5", "DPLLastErrorCode -3", "DPLGetCanvasDC 64", "DPLDrawTableRows 2",
                "DPLSetPageContentFromString 1", "DPLCreateBuffer 9", "DPLStoreCustomDataFromString 5",
                R"(DPLRetrieveCustomDataToString "value")", R"(DPLOutlineTitle "Part\0One")",
                R"(DPLGetObjectToString "Gr\xc3\xbc\xc3\x9fe")", R"(DPLSaveToString "%PDF\xff")" });
        auto* parent = new QObject;
        QPointer<DebenuPDFLibraryDLLQt1016> library = new DebenuPDFLibraryDLLQt1016(completeFake);
        library->setParent(parent);
        fake.takeCalls();
        int selected = 0;
        QVERIFY(QMetaObject::invokeMethod(
            library.data(), "SelectPage", Qt::DirectConnection, Q_RETURN_ARG(int, selected), Q_ARG(int, 3)));
        QCOMPARE(selected, 1);
        unsigned char pixels[30 * 20 * 4] = {};
        PdfPixelBuffer target { pixels, 30, 20, 120 };
        int progress = 0;
        library->RenderPageToDC(1.5, 4, &target);
        library->SetProgressCallback(&progress, nullptr);
        library->SetTextSize(0.1);
        library->LoadFromFile(QStringLiteral("/b/\u00e9t\u00e9 \U0001F600.pdf"), QString());
        library->SetBaseURL(QString::fromUtf16(u"ab\0cd", 5));
        QCOMPARE(library->PageWidth(), 612.5);
        QCOMPARE(library->LastErrorCode(), -3);
        const HDC canvas = library->GetCanvasDC(64, 64);
        QVERIFY(canvas);
        QCOMPARE(canvas->width, 64);
        QCOMPARE(library->GetCanvasDC(1, 1), HDC(nullptr));
        QCOMPARE(library->DrawTableRows(1, 2.5, 3.0, 4.0, 5, -6), 2.0);
        // "é" takes two bytes; the zero after it goes in too.
        QCOMPARE(library->SetPageContentFromString(QString::fromUtf16(u"\u00e9\0", 2)), 1);
        QCOMPARE(library->StoreCustomDataFromString(QStringLiteral("k"), QStringLiteral("data"), 1, 2), 5);
        QCOMPARE(library->RetrieveCustomDataToString(QStringLiteral("key"), 5), QStringLiteral("value"));
        QCOMPARE(library->OutlineTitle(4), QString::fromUtf16(u"Part\0One", 8));
        QCOMPARE(library->GetObjectToString(1), QStringLiteral("Grüße"));
        // Bytes that are not UTF-8 turn into replacement characters on the way to a QString.
        QCOMPARE(library->SaveToString(), QStringLiteral("%PDF\ufffd"));
        const QString pointer = QStringLiteral("0x%1").arg(quintptr(&progress), 0, 16);
        QCOMPARE(fake.takeCalls(),
            QStringList({ "DPLSelectPage(1, 3)", "DPLRenderPageToDC(1, 1.5, 4, hdc(30x20))",
                QStringLiteral("DPLSetProgressCallback(1, %1, null)").arg(pointer), "DPLSetTextSize(1, 0.1)",
                R"(DPLLoadFromFile(1, "/b/\u00e9t\u00e9 \ud83d\ude00.pdf", ""))", R"(DPLSetBaseURL(1, "ab"))",
                "DPLPageWidth(1)", "DPLLastErrorCode(1)", "DPLGetCanvasDC(1, 64, 64)", "DPLGetCanvasDC(1, 1, 1)",
                "DPLDrawTableRows(1, 1, 2.5, 3, 4, 5, -6)", "DPLCreateBuffer(1, 3)",
                R"(DPLAddToBuffer(1, 9, "\xc3\xa9\x00", 3))", "DPLSetPageContentFromString(1, 9)",
                "DPLReleaseBuffer(1, 9)", "DPLCreateBuffer(1, 1)", R"(DPLAddToBuffer(1, 100, "k", 1))",
                "DPLCreateBuffer(1, 4)", R"(DPLAddToBuffer(1, 101, "data", 4))",
                "DPLStoreCustomDataFromString(1, 100, 101, 1, 2)", "DPLReleaseBuffer(1, 100)",
                "DPLReleaseBuffer(1, 101)", "DPLCreateBuffer(1, 3)", R"(DPLAddToBuffer(1, 102, "key", 3))",
                "DPLRetrieveCustomDataToString(1, 102, 5)", "DPLReleaseBuffer(1, 102)", "DPLAnsiStringResultLength(1)",
                "DPLOutlineTitle(1, 4)", "DPLStringResultLength(1)", "DPLGetObjectToString(1, 1)",
                "DPLAnsiStringResultLength(1)", "DPLSaveToString(1)", "DPLAnsiStringResultLength(1)" }));
        delete parent;
        QVERIFY(library.isNull());
        QCOMPARE(fake.takeCalls(), QStringList({ "DPLReleaseLibrary(1)", "unload" }));
        QVERIFY(!isLoaded(completeFake));
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

    // The first document of the process made on a pool thread, as an import does, with an engine
    // file that is not there: the shared library still ends up owned by the application on its
    // thread, and documents behave as unloaded. Runs alone, in a process of its own.
    void firstDocumentOnAPoolThreadWithoutEngine()
    {
        if (!qEnvironmentVariableIsSet("PL_PDF_FIRST_USE"))
            QSKIP("run by the tst_pdf_firstuse registration");
        pdfengine::setLibraryPath(home.filePath(QStringLiteral("no-such-engine.so")));
        QVERIFY(!PdfDocument::sharedLibrary());
        MessageCatcher log(QtCriticalMsg);
        const QString book = bookPath;
        QFuture<int> imported = QtConcurrent::run([book] {
            PdfDocument document;
            document.load(book);
            if (!document.coverImage().isNull() || !document.title().isEmpty() || document.isPasswordRequired())
                return -1;
            return document.pageCount();
        });
        QCOMPARE(imported.result(), 0);
        QCOMPARE(log.total(), 1);
        QCOMPARE(log.count(QStringLiteral("no-such-engine.so")), 1);

        DebenuPDFLibraryDLLQt1016* library = PdfDocument::sharedLibrary();
        QVERIFY(library);
        QVERIFY(!library->LibraryLoaded());
        QCOMPARE(library->thread(), QCoreApplication::instance()->thread());
        QTRY_COMPARE(library->parent(), QCoreApplication::instance());

        PdfDocument document;
        QCOMPARE(PdfDocument::sharedLibrary(), library);
        document.load(bookPath);
        QCOMPARE(document.pageCount(), 0);
        QVERIFY(document.toc().isEmpty());
        QVERIFY(document.search(QStringLiteral("1")).isEmpty());
        QVERIFY(document.requestImage(1, 1.0).isNull());
        QCOMPARE(log.total(), 2);
    }

    // Files the engine cannot open fail with their codes and change nothing else; the document
    // logs one error and has no pages. A file cut before its cross-reference table is repaired.
    void brokenFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        QTest::newRow("empty path") << QString() << QByteArray() << int(PdfEngineError::FileNotFound);
        QTest::newRow("folder") << QStringLiteral("folder") << QByteArray() << int(PdfEngineError::CannotOpen);
        const QByteArray whole = pdffixtures::book().toPdf();
        QTest::newRow("empty file") << QStringLiteral("empty.pdf") << QByteArray("") << int(PdfEngineError::Damaged);
        QTest::newRow("truncated") << QStringLiteral("truncated.pdf") << whole.left(whole.indexOf("\nxref\n")) << 0;
    }

    void brokenFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        const QString path = name.isEmpty() ? QString() : home.filePath(name);
        if (name == QLatin1String("folder"))
            QVERIFY(QDir(home.path()).mkpath(name));
        else if (!bytes.isNull())
            QVERIFY(!write(name, bytes).isEmpty());
        const int documents = pdf->DocumentCount();
        const int selected = pdf->SelectedDocument();
        QCOMPARE(pdf->LoadFromFile(path, QString()), error ? 0 : 1);
        if (error) {
            QCOMPARE(pdf->LastErrorCode(), error);
            QCOMPARE(pdf->DocumentCount(), documents);
            QCOMPARE(pdf->SelectedDocument(), selected);
        } else {
            QCOMPARE(pdf->GetDocumentRepaired(), 1);
            QCOMPARE(pdf->RemoveDocument(pdf->SelectedDocument()), 1);
        }

        MessageCatcher log(QtCriticalMsg);
        PdfDocument document;
        document.load(path);
        QCOMPARE(document.pageCount(), error ? 0 : 3);
        QVERIFY(!document.isPasswordRequired());
        QCOMPARE(log.total(), error ? 1 : 0);
        QCOMPARE(document.requestImage(1, 1.0).size(), error ? QSize(0, 0) : QSize(1632, 2112));
    }

    // Documents by id: selection, rendering into a caller's rows and bad targets, stubs.
    void engineDocuments()
    {
        const int before = pdf->DocumentCount();
        const int book = load(bookPath);
        const int rotations = load(rotationsPath);
        QVERIFY(book > 0 && rotations > book);
        QCOMPARE(pdf->DocumentCount(), before + 2);
        QCOMPARE(pdf->SelectedDocument(), rotations);
        QCOMPARE(pdf->PageCount(), 4);
        QCOMPARE(pdf->SelectDocument(book), 1);
        QCOMPARE(pdf->PageCount(), 3);
        // The writer's cross-reference table is exact: nothing to repair.
        QCOMPARE(pdf->GetDocumentRepaired(), 0);
        QCOMPARE(pdf->GetPageText(7), QString());
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        // Entries this engine lacks: empty result, "not supported", and no stale string length.
        QVERIFY(!pdf->GetInformation(2).isEmpty());
        QCOMPARE(pdf->FontName(), QString());
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::NotSupported));

        // Rows longer than the image: the bytes past each row are left alone.
        QImage padded(QSize(1700, 2112), QImage::Format_RGB32);
        padded.fill(Qt::black);
        PdfPixelBuffer target { padded.bits(), 1632, 2112, int(padded.bytesPerLine()) };
        QCOMPARE(pdf->RenderPageToDC(192, 1, &target), 1);
        QCOMPARE(padded.pixel(1631, 100), qRgb(255, 255, 255));
        QCOMPARE(padded.pixel(1632, 100), qRgb(0, 0, 0));
        QCOMPARE(pdf->RenderPageToDC(192, 1, nullptr), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        PdfPixelBuffer narrow { padded.bits(), 100, 100, 399 };
        QCOMPARE(pdf->RenderPageToDC(192, 1, &narrow), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        QCOMPARE(pdf->RenderPageToDC(0, 1, &target), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        QCOMPARE(pdf->RenderPageToDC(192, 4, &target), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidPage));

        QCOMPARE(pdf->RemoveDocument(book), 1);
        QCOMPARE(pdf->SelectDocument(book), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::NoDocument));
        QCOMPARE(pdf->RemoveDocument(rotations), 1);
        QCOMPARE(pdf->DocumentCount(), before);
    }

    void documentLoadsTheBook()
    {
        auto document = std::make_unique<PdfDocument>();
        QVERIFY(PdfDocument::sharedLibrary()->LibraryLoaded());
        const int before = documentCount();
        QVERIFY(document->toc().isEmpty());
        QVERIFY(document->search(QStringLiteral("1")).isEmpty());
        QVERIFY(document->requestImage(1, 1.0).isNull());
        document->load(bookPath);
        QCOMPARE(document->pageCount(), 3);
        QVERIFY(!document->isPasswordRequired());
        QCOMPARE(QStringList({ document->title(), document->author(), document->creator() }),
            QStringList({ "A Test Book", "Ann Author", "Test Writer" }));
        QCOMPARE(document->coverImage().size(), QSize(1632, 2112));
        // The contents asked before the load are read after it, and asked again give the same.
        const QString expected = QStringLiteral("Part A:1[Part A1:2,Part A2:3],Part B:3,No target:0");
        QCOMPARE(describe(document->toc()), expected);
        QCOMPARE(describe(document->toc()), expected);

        // Each load replaces the engine's document, a failed load leaves none, deletion removes it.
        QCOMPARE(documentCount(), before + 1);
        document->load(rotationsPath);
        QCOMPARE(documentCount(), before + 1);
        QCOMPARE(document->pageCount(), 4);
        document->load(home.filePath(QStringLiteral("missing.pdf")));
        QCOMPARE(documentCount(), before);
        QCOMPARE(document->pageCount(), 0);
        document->load(bookPath);
        QCOMPARE(documentCount(), before + 1);
        document.reset();
        QCOMPARE(documentCount(), before);

        // Pages and scales outside the book give no image and log nothing; nor does the second
        // column of a spread on the last page.
        PdfDocument book;
        book.load(bookPath);
        MessageCatcher log(QtCriticalMsg);
        QVERIFY(book.requestImage(0, 1.0).isNull());
        QVERIFY(book.requestImage(4, 1.0).isNull());
        QVERIFY(book.requestImage(-1, 1.0).isNull());
        QVERIFY(book.requestImage(1, 0.0).isNull());
        QVERIFY(book.requestImage(1, std::nan("")).isNull());
        const auto pair = book.requestImages(3, 4, 1.0);
        QVERIFY(!pair.first.isNull());
        QVERIFY(pair.second.isNull());
        QCOMPARE(log.total(), 0);
    }

    // Page images: size, scale and rotation, the crop box, the side cap of a huge page, and the red
    // box where it belongs (at 72, 72 by 144 x 72 points: 192..576 x 192..384 pixels at 192 dpi).
    void pageImages_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("page");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("red"); // with a white point beside it, unless null
        QTest::addColumn<QPoint>("white");
        const QString book = QStringLiteral("book");
        const QString rotations = QStringLiteral("rotations");
        QTest::newRow("letter 1.0") << book << 1 << 1.0 << QSize(1632, 2112) << QPoint(384, 288) << QPoint(1631, 2111);
        QTest::newRow("letter 2.0") << book << 1 << 2.0 << QSize(3264, 4224) << QPoint(768, 576) << QPoint(370, 576);
        QTest::newRow("A4 in whole points") << book << 2 << 1.0 << QSize(1587, 2245) << QPoint() << QPoint();
        // Turned clockwise, the box is at 648..720 x 72..216 points.
        QTest::newRow("rotate 90") << book << 3 << 1.0 << QSize(2112, 1632) << QPoint(1824, 384) << QPoint(384, 288);
        int page = 0;
        for (const int degrees : pdffixtures::rotationValues)
            QTest::addRow("rotate %d", degrees)
                << rotations << ++page << 1.0 << QSize(2112, 1632) << QPoint() << QPoint();
        QTest::newRow("crop box") << rotations << ++page << 1.0 << QSize(800, 533) << QPoint() << QPoint();
        QTest::newRow("huge, red right half")
            << QStringLiteral("huge") << 1 << 1.0 << QSize(16384, 113) << QPoint(16283, 50) << QPoint(100, 50);
    }

    void pageImages()
    {
        QFETCH(QString, file);
        QFETCH(int, page);
        QFETCH(double, scale);
        QFETCH(QSize, size);
        QFETCH(QPoint, red);
        QFETCH(QPoint, white);
        PdfDocument document;
        document.load(home.filePath(file + ".pdf"));
        const QImage image = document.requestImage(page, scale);
        QCOMPARE(image.size(), size);
        QCOMPARE(image.devicePixelRatio(), scale);
        QCOMPARE(image.format(), QImage::Format_RGB32);
        if (!red.isNull()) {
            QCOMPARE(image.pixel(red), qRgb(255, 0, 0));
            QCOMPARE(image.pixel(white), qRgb(255, 255, 255));
        }
    }

    // Page memory is reused once the image holding it is gone, never while it is shown, and a
    // reused page is drawn whole (no remains of the page before).
    void pageMemoryIsReused()
    {
        PdfDocument document;
        document.load(home.filePath("book.pdf"));
        QImage first = document.requestImage(2, 1.0);
        const uchar* firstMemory = first.constBits();
        first.fill(Qt::black);
        const QImage shown = document.requestImage(1, 1.0);
        QVERIFY(shown.constBits() != firstMemory);
        first = QImage();
        const QImage again = document.requestImage(1, 1.0);
        QCOMPARE(again.constBits(), firstMemory);
        QCOMPARE(again, shown);
        QCOMPARE(again.pixel(384, 288), qRgb(255, 0, 0));
        QCOMPARE(again.pixel(1631, 2111), qRgb(255, 255, 255));

        QList<QImage> many;
        for (int i = 0; i < PageBuffers::MaxSpare + 3; ++i)
            many.append(document.requestImage(1, 1.0));
        many.clear();
        QCOMPARE(PageBuffers::spareCount(), PageBuffers::MaxSpare);

        // A closed book leaves no spare memory behind; an image still shown keeps its own.
        QImage kept = document.requestImage(1, 1.0);
        {
            PdfDocument other;
        }
        QCOMPARE(PageBuffers::spareCount(), 0);
        QCOMPARE(kept.pixel(384, 288), qRgb(255, 0, 0));
        kept = QImage();
        QCOMPARE(PageBuffers::spareCount(), 1);
    }

    // Within the side cap a square page still passes the pixel cap; the resolution follows.
    void hugePagesAreScaledDown()
    {
        double dpi = 192;
        const QSize square = PdfDocument::imageSize(QSizeF(14400, 14400), dpi);
        QCOMPARE(square, QSize(16000, 16000));
        QVERIFY(qint64(square.width()) * square.height() <= PdfDocument::maxImagePixels);
        QVERIFY(qAbs(square.width() - 14400 * dpi / 72) < 1.0);
        QCOMPARE(PdfDocument::imageSize(QSizeF(0, 792), dpi), QSize());
    }

    void contents()
    {
        PdfDocument document;
        document.load(write(QStringLiteral("big.pdf"), pdffixtures::bigOutline(100000, 200).toPdf()));
        const QList<TocPoint> items = document.toc();
        QCOMPARE(items.size(), 100000);
        QCOMPARE(items.last().title, QStringLiteral("Item 100000"));
        QCOMPARE(depth(items), PdfDocument::maxOutlineDepth);
        QCOMPARE(items.first().title, QStringLiteral("Level 1"));

        // Items that loop back end their chain: two items, the first without children.
        document.load(write(QStringLiteral("cycle.pdf"), pdffixtures::cyclicOutline().toPdf()));
        QCOMPARE(describe(document.toc()), QStringLiteral("First:1,Second:1"));
    }

    void search_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("hits");
        QTest::newRow("page number first")
            << QStringLiteral("3")
            << QStringList { QStringLiteral("3:Go to page 3"), QStringLiteral("2:Second page, with Commas, inside 3") };
        QTest::newRow("after a comma, any case")
            << QStringLiteral("PEARS") << QStringList { QStringLiteral("1:apples, pears and plums") };
        QTest::newRow("rotated page") << QStringLiteral("rotated") << QStringList { QStringLiteral("3:Rotated page") };
        QTest::newRow("no such page") << QStringLiteral("12") << QStringList();
        QTest::newRow("empty") << QString() << QStringList();
    }

    void search()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, hits);
        PdfDocument document;
        document.load(bookPath);
        QStringList found;
        for (const SearchItem& item : document.search(query)) {
            found.append(QString::number(item.link->page) + QLatin1Char(':') + item.text);
            QCOMPARE(item.query, query);
        }
        QCOMPARE(found, hits);
    }

    void passwords()
    {
        const QByteArray plain = pdffixtures::book().toPdf();
        const QString user = home.filePath(QStringLiteral("user.pdf"));
        const QString owner = home.filePath(QStringLiteral("owner.pdf"));
        QVERIFY(writeEncryptedPdf(plain, user, QStringLiteral("secret-word"), QStringLiteral("owner-word")));
        QVERIFY(writeEncryptedPdf(plain, owner, QString(), QStringLiteral("owner-word")));

        MessageCatcher log(QtCriticalMsg);
        PdfDocument document;
        document.load(user);
        QVERIFY(document.isPasswordRequired());
        QCOMPARE(document.pageCount(), 0);
        document.setPassword(QStringLiteral("wrong-word"));
        document.load(user);
        QVERIFY(document.isPasswordRequired());
        document.setPassword(QStringLiteral("secret-word"));
        document.load(user);
        QVERIFY(!document.isPasswordRequired());
        QCOMPARE(document.pageCount(), 3);
        QCOMPARE(document.title(), QStringLiteral("A Test Book"));
        QCOMPARE(document.requestImage(1, 1.0).pixel(384, 288), qRgb(255, 0, 0));
        document.setPassword(QStringLiteral("owner-word"));
        document.load(user);
        QCOMPARE(document.pageCount(), 3);
        QCOMPARE(log.count(QStringLiteral("-word")), 0);

        PdfDocument ownerOnly;
        ownerOnly.load(owner);
        QVERIFY(!ownerOnly.isPasswordRequired());
        QCOMPARE(ownerOnly.pageCount(), 3);
    }

    void twoDocumentsWhileAnotherThreadRenders()
    {
        // The reader's book renders on a pool thread while another book is read on this thread
        // and a third is imported on another pool thread: each answers for its own file only.
        PdfDocument book;
        book.load(bookPath);
        PdfDocument rotations;
        rotations.load(rotationsPath);

        QFuture<bool> rendering = QtConcurrent::run([&book] {
            for (int round = 0; round < 3; ++round) {
                if (book.requestImage(1, 0.5).pixel(192, 144) != qRgb(255, 0, 0)
                    || book.requestImage(3, 0.5).size() != QSize(1056, 816)
                    || book.requestImage(2, 0.5).size() != QSize(793, 1123))
                    return false;
            }
            return true;
        });
        QFuture<QString> import = QtConcurrent::run([this] {
            PdfDocument imported;
            imported.load(bookPath);
            const QImage cover = imported.coverImage();
            return imported.title() + QLatin1Char('/') + QString::number(cover.width());
        });
        for (int round = 0; round < 3; ++round) {
            QCOMPARE(rotations.requestImage(1, 0.5).size(), QSize(1056, 816));
            QCOMPARE(rotations.search(QStringLiteral("Rotate 450")).size(), 1);
            QCOMPARE(rotations.search(QStringLiteral("Rotate 450")).first().link->page, 2);
            QVERIFY(rotations.toc().isEmpty());
            QCOMPARE(describe(book.toc()).left(6), QStringLiteral("Part A"));
        }
        QVERIFY(rendering.result());
        QCOMPARE(import.result(), QStringLiteral("A Test Book/1632"));
    }
    // Last: takes the shared library down, as the application's end does.
    void libraryDeletedUnderDocuments()
    {
        auto document = std::make_unique<PdfDocument>();
        document->load(bookPath);
        QCOMPARE(document->pageCount(), 3);
        delete PdfDocument::sharedLibrary();
        QVERIFY(!PdfDocument::sharedLibrary());
        MessageCatcher log(QtCriticalMsg);
        QVERIFY(document->requestImage(1, 1.0).isNull());
        QVERIFY(document->search(QStringLiteral("pears")).isEmpty());
        document->load(bookPath);
        QCOMPARE(document->pageCount(), 0);
        QCOMPARE(log.total(), 1);
        document.reset();
        // The engine instance of this test is another, and keeps working.
        QVERIFY(load(bookPath) > 0);
        QCOMPARE(pdf->PageCount(), 3);
    }

    void cleanupTestCase()
    {
        // With every instance released the engine leaves memory: nothing in it pins the library.
        pdf.reset();
        delete PdfDocument::sharedLibrary();
        QVERIFY(!isLoaded(enginePath()));
    }
};

QTEST_GUILESS_MAIN(TestPdf)
#include "tst_pdf.moc"
