#include "debenupdflibrarydllqt1016.h"
#include "engine/pdfengineerrors.h"
#include "pdfencryption.h"
#include "pdfenginefile.h"
#include "pdffixtures.h"
#include "pdflibrarydll.h"
#include "temphome.h"
#include "testpaths.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QtConcurrent>

#include <dlfcn.h>

#include <memory>

namespace {

QString enginePath() { return testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName(); }

// A rendering of the selected document's page into an image of the given size.
QImage render(DebenuPDFLibraryDLLQt1016& pdf, int page, double dpi, const QSize& size, int* result = nullptr)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    PdfPixelBuffer target { image.bits(), image.width(), image.height(), int(image.bytesPerLine()) };
    const int ok = pdf.RenderPageToDC(dpi, page, &target);
    if (result)
        *result = ok;
    return image;
}

// The text lines of the selected page in the fragment format: [left, top, right, bottom, size, text].
QList<QStringList> fragments(DebenuPDFLibraryDLLQt1016& pdf)
{
    QList<QStringList> lines;
    for (const QString& line : pdf.GetPageText(2).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList fields = line.split(QLatin1Char(','));
        const QStringList head = fields.mid(0, 5);
        lines.append(head + QStringList { QStringList(fields.mid(5)).join(QLatin1Char(',')) });
    }
    return lines;
}

} // namespace

// The engine library over MuPDF, driven through the binding as the reader drives it.
class TestPdfEngine : public QObject {
    Q_OBJECT

private:
    TempHome home;
    std::unique_ptr<DebenuPDFLibraryDLLQt1016> pdf;
    QString bookPath;
    QString rotationsPath;

    QString write(const QString& name, const QByteArray& bytes)
    {
        return pdffixtures::writeFile(home.filePath(name), bytes);
    }

    // The outline from an item on, in one line: "title=page(children)", siblings apart by blanks.
    QString outlineText(int first)
    {
        QStringList parts;
        for (int item = first; item > 0; item = pdf->GetNextOutline(item)) {
            const int child = pdf->GetFirstChildOutline(item);
            parts.append(pdf->OutlineTitle(item) + '=' + QString::number(pdf->GetOutlinePage(item))
                + (child > 0 ? '(' + outlineText(child) + ')' : QString()));
        }
        return parts.join(' ');
    }

    int load(const QString& path, const QString& password = QString())
    {
        const int ok = pdf->LoadFromFile(path, password);
        return ok ? pdf->SelectedDocument() : -pdf->LastErrorCode();
    }

private slots:
    void initTestCase()
    {
        pdf.reset(new DebenuPDFLibraryDLLQt1016(enginePath()));
        QVERIFY2(pdf->LibraryLoaded(), qPrintable(pdf->loadError()));
        bookPath = write(QStringLiteral("book.pdf"), pdffixtures::book().toPdf());
        rotationsPath = write(QStringLiteral("rotations.pdf"), pdffixtures::rotations().toPdf());
        QVERIFY(!bookPath.isEmpty() && !rotationsPath.isEmpty());
    }

    void loadErrors_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        QTest::newRow("missing") << QStringLiteral("missing.pdf") << QByteArray() << int(PdfEngineError::FileNotFound);
        QTest::newRow("empty path") << QString() << QByteArray() << int(PdfEngineError::FileNotFound);
        QTest::newRow("folder") << QStringLiteral("folder") << QByteArray() << int(PdfEngineError::CannotOpen);
        QTest::newRow("garbage") << QStringLiteral("garbage.pdf") << pdffixtures::garbage()
                                 << int(PdfEngineError::Damaged);
        QTest::newRow("empty file") << QStringLiteral("empty.pdf") << QByteArray("") << int(PdfEngineError::Damaged);
    }

    void loadErrors()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        QString path;
        if (name == QLatin1String("folder")) {
            QDir(home.path()).mkdir(name);
            path = home.filePath(name);
        } else if (!name.isEmpty()) {
            path = home.filePath(name);
            if (!bytes.isNull())
                QVERIFY(!write(name, bytes).isEmpty());
        }
        const int documents = pdf->DocumentCount();
        const int selected = pdf->SelectedDocument();
        QCOMPARE(pdf->LoadFromFile(path, QString()), 0);
        QCOMPARE(pdf->LastErrorCode(), error);
        // A failed load changes nothing else.
        QCOMPARE(pdf->DocumentCount(), documents);
        QCOMPARE(pdf->SelectedDocument(), selected);
    }

    void truncatedFileIsRepaired()
    {
        const int id = load(write(QStringLiteral("truncated.pdf"), pdffixtures::truncated()));
        QVERIFY(id > 0);
        QCOMPARE(pdf->PageCount(), 3);
        QCOMPARE(pdf->GetDocumentRepaired(), 1);
        QCOMPARE(pdf->GetInformation(2), QStringLiteral("A Test Book"));
        QCOMPARE(pdf->RemoveDocument(id), 1);
    }

    void passwords()
    {
        const QByteArray plain = pdffixtures::book().toPdf();
        const QString user = home.filePath(QStringLiteral("user.pdf"));
        const QString owner = home.filePath(QStringLiteral("owner.pdf"));
        QVERIFY(writeEncryptedPdf(plain, user, QStringLiteral("secret"), QStringLiteral("boss")));
        QVERIFY(writeEncryptedPdf(plain, owner, QString(), QStringLiteral("boss")));

        QCOMPARE(load(user), -PdfEngineError::InvalidPassword);
        QCOMPARE(load(user, QStringLiteral("wrong")), -PdfEngineError::InvalidPassword);
        int id = load(user, QStringLiteral("secret"));
        QVERIFY(id > 0);
        QCOMPARE(pdf->PageCount(), 3);
        QCOMPARE(pdf->GetInformation(1), QStringLiteral("Ann Author"));
        pdf->RemoveDocument(id);
        // The owner password opens it too.
        id = load(user, QStringLiteral("boss"));
        QVERIFY(id > 0);
        pdf->RemoveDocument(id);
        // Only an owner password: it opens with none, and with any other.
        id = load(owner);
        QVERIFY(id > 0);
        QCOMPARE(pdf->SelectPage(1), 1);
        QVERIFY(pdf->GetPageText(2).contains(QStringLiteral("apples, pears and plums")));
        pdf->RemoveDocument(id);
        id = load(owner, QStringLiteral("anything"));
        QVERIFY(id > 0);
        pdf->RemoveDocument(id);
    }

    void documentsAreSelectedByIdAndRemoved()
    {
        const int before = pdf->DocumentCount();
        const int book = load(bookPath);
        const int rotations = load(rotationsPath);
        QVERIFY(book > 0 && rotations > book);
        QCOMPARE(pdf->DocumentCount(), before + 2);
        QCOMPARE(pdf->SelectedDocument(), rotations);
        QCOMPARE(pdf->PageCount(), 8);
        QCOMPARE(pdf->SelectDocument(book), 1);
        QCOMPARE(pdf->PageCount(), 3);
        QCOMPARE(pdf->GetDocumentFileName(), bookPath);
        // The selected page belongs to its document.
        QCOMPARE(pdf->SelectPage(2), 1);
        QCOMPARE(pdf->SelectDocument(rotations), 1);
        QCOMPARE(pdf->SelectedPage(), 0);
        QCOMPARE(pdf->SelectDocument(book), 1);
        QCOMPARE(pdf->SelectedPage(), 2);

        // Removing the selected document selects the newest remaining one.
        QCOMPARE(pdf->RemoveDocument(book), 1);
        QCOMPARE(pdf->DocumentCount(), before + 1);
        QCOMPARE(pdf->SelectedDocument(), rotations);
        QCOMPARE(pdf->SelectDocument(book), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::NoDocument));
        QCOMPARE(pdf->RemoveDocument(book), 0);
        QCOMPARE(pdf->RemoveDocument(rotations), 1);
        QCOMPARE(pdf->DocumentCount(), before);
        if (before == 0) {
            QCOMPARE(pdf->SelectedDocument(), 0);
            QCOMPARE(pdf->PageCount(), 0);
            QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::NoDocument));
            QCOMPARE(pdf->GetInformation(2), QString());
        }
    }

    void pageSizesAndRotation()
    {
        const int id = load(rotationsPath);
        QVERIFY(id > 0);
        const int expected[] = { 0, 90, 180, 270, 270, 90, 90 };
        for (int page = 1; page <= 7; ++page) {
            QCOMPARE(pdf->SelectPage(page), 1);
            QCOMPARE(pdf->PageRotation(), expected[page - 1]);
            // Sizes are before rotation.
            QCOMPARE(pdf->PageWidth(), 612.0);
            QCOMPARE(pdf->PageHeight(), 792.0);
        }
        QCOMPARE(pdf->SelectPage(8), 1);
        QCOMPARE(pdf->PageWidth(), 300.0);
        QCOMPARE(pdf->PageHeight(), 200.0);
        QCOMPARE(pdf->SelectPage(0), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidPage));
        QCOMPARE(pdf->SelectPage(9), 0);
        QCOMPARE(pdf->SelectedPage(), 8);
        pdf->RemoveDocument(id);

        QVERIFY(load(bookPath) > 0);
        QCOMPARE(pdf->SelectPage(2), 1);
        QVERIFY(qAbs(pdf->PageWidth() - 595.276) < 0.01);
        QVERIFY(qAbs(pdf->PageHeight() - 841.89) < 0.01);
        pdf->RemoveDocument(pdf->SelectedDocument());
    }

    void rendering()
    {
        const int id = load(bookPath);
        QVERIFY(id > 0);
        // 192 dpi: Letter is 1632 x 2112 pixels, the red box 192..576 x 192..384.
        int ok = 0;
        QImage image = render(*pdf, 1, 192, QSize(1632, 2112), &ok);
        QCOMPARE(ok, 1);
        QCOMPARE(image.pixel(384, 288), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(190, 288), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(384, 390), qRgb(255, 255, 255));
        // The whole target is drawn, to the last pixel.
        QCOMPARE(image.pixel(1631, 2111), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(0, 0), qRgb(255, 255, 255));

        // Page 3 is turned clockwise: the box lands at 648..720 x 72..216 points.
        image = render(*pdf, 3, 192, QSize(2112, 1632), &ok);
        QCOMPARE(ok, 1);
        QCOMPARE(image.pixel(1824, 384), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(384, 288), qRgb(255, 255, 255));

        // A4 at whole points (595 x 842) is stretched over the rounding: no blank last column.
        image = render(*pdf, 2, 192, QSize(1587, 2245), &ok);
        QCOMPARE(ok, 1);
        QCOMPARE(image.pixel(1586, 2244), qRgb(255, 255, 255));
        const QPoint blue(qRound(350 * 192 / 72.0), qRound(450 * 192 / 72.0));
        QCOMPARE(image.pixel(blue), qRgb(0, 0, 255));

        // Rows longer than the image: the bytes past each row are left alone.
        QImage padded(QSize(1700, 2112), QImage::Format_RGB32);
        padded.fill(Qt::black);
        PdfPixelBuffer target { padded.bits(), 1632, 2112, int(padded.bytesPerLine()) };
        QCOMPARE(pdf->RenderPageToDC(192, 1, &target), 1);
        QCOMPARE(padded.pixel(1631, 100), qRgb(255, 255, 255));
        QCOMPARE(padded.pixel(1632, 100), qRgb(0, 0, 0));

        // Bad targets and pages fail with their codes.
        QCOMPARE(pdf->RenderPageToDC(192, 1, nullptr), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        PdfPixelBuffer narrow { padded.bits(), 100, 100, 399 };
        QCOMPARE(pdf->RenderPageToDC(192, 1, &narrow), 0);
        QCOMPARE(pdf->RenderPageToDC(0, 1, &target), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        QCOMPARE(pdf->RenderPageToDC(192, 4, &target), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidPage));
        pdf->RemoveDocument(id);
    }

    void pageText()
    {
        const int id = load(bookPath);
        QVERIFY(id > 0);
        QCOMPARE(pdf->SelectPage(1), 1);
        const QList<QStringList> lines = fragments(*pdf);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).last(), QStringLiteral("Chapter One"));
        QCOMPARE(lines.at(1).last(), QStringLiteral("apples, pears and plums"));
        // Box and size in points from the top left, with a dot whatever the locale.
        bool ok = false;
        QVERIFY(qAbs(lines.at(1).at(0).toDouble(&ok) - 72) < 1 && ok);
        QVERIFY(lines.at(1).at(1).toDouble() < 250 && lines.at(1).at(3).toDouble() > 245);
        QCOMPARE(lines.at(1).at(4), QStringLiteral("12.00"));

        QCOMPARE(pdf->GetPageText(0), QStringLiteral("Chapter One\napples, pears and plums\n"));
        QCOMPARE(pdf->SelectPage(3), 1);
        QCOMPARE(fragments(*pdf).value(0).value(5), QStringLiteral("Rotated page"));
        QCOMPARE(pdf->GetPageText(7), QString());
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        pdf->RemoveDocument(id);
    }

    void information()
    {
        const int id = load(bookPath);
        QVERIFY(id > 0);
        // The writer's cross-reference table is exact: nothing to repair.
        QCOMPARE(pdf->GetDocumentRepaired(), 0);
        QStringList fields;
        for (int field : { 0, 1, 2, 5, 6, 3 })
            fields.append(pdf->GetInformation(field));
        QCOMPARE(fields, QStringList({ "1.7", "Ann Author", "A Test Book", "Test Writer", "pdfwriter", "" }));
        QCOMPARE(pdf->LastErrorCode(), 0);
        QCOMPARE(pdf->GetInformation(42), QString());
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidArgument));
        pdf->RemoveDocument(id);
    }

    void outline()
    {
        const int id = load(bookPath);
        QVERIFY(id > 0);
        QCOMPARE(pdf->OutlineCount(), 5);
        const int a = pdf->GetFirstOutline();
        QCOMPARE(outlineText(a), QStringLiteral("Part A=1(Part A1=2 Part A2=3) Part B=3 No target=0"));
        const int a1 = pdf->GetFirstChildOutline(a);
        const int a2 = pdf->GetNextOutline(a1);
        QCOMPARE(pdf->GetParentOutline(a1), a);
        QCOMPARE(pdf->GetPrevOutline(a2), a1);
        const int none = pdf->GetNextOutline(pdf->GetNextOutline(a));
        QCOMPARE(pdf->LastErrorCode(), 0);
        QCOMPARE(pdf->GetNextOutline(none), 0);
        QCOMPARE(pdf->OutlineTitle(99), QString());
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::InvalidOutline));
        QCOMPARE(pdf->GetOutlinePage(-1), 0);
        pdf->RemoveDocument(id);

        // No outline at all.
        QVERIFY(load(rotationsPath) > 0);
        QCOMPARE(pdf->GetFirstOutline(), 0);
        QCOMPARE(pdf->OutlineCount(), 0);
        pdf->RemoveDocument(pdf->SelectedDocument());
    }

    void hostileOutlines()
    {
        // A long sibling chain is read in a loop, not by recursion.
        int id = load(write(QStringLiteral("long.pdf"), pdffixtures::longOutline(100000).toPdf()));
        QVERIFY(id > 0);
        QCOMPARE(pdf->OutlineCount(), 100000);
        int last = pdf->GetFirstOutline();
        for (int next = last; next > 0; next = pdf->GetNextOutline(next))
            last = next;
        QCOMPARE(pdf->OutlineTitle(last), QStringLiteral("Item 100000"));
        pdf->RemoveDocument(id);

        // Nesting beyond the engine's depth is cut there.
        id = load(write(QStringLiteral("deep.pdf"), pdffixtures::deepOutline(200).toPdf()));
        QVERIFY(id > 0);
        QCOMPARE(pdf->OutlineCount(), 64);
        pdf->RemoveDocument(id);

        // Items that loop back end their chain: two items, the first without children.
        id = load(write(QStringLiteral("cycle.pdf"), pdffixtures::cyclicOutline().toPdf()));
        QVERIFY(id > 0);
        QCOMPARE(pdf->OutlineCount(), 2);
        const int first = pdf->GetFirstOutline();
        QCOMPARE(pdf->GetFirstChildOutline(first), 0);
        QCOMPARE(pdf->OutlineTitle(pdf->GetNextOutline(first)), QStringLiteral("Second"));
        QCOMPARE(pdf->GetNextOutline(pdf->GetNextOutline(first)), 0);
        QCOMPARE(pdf->GetOutlinePage(first), 1);
        pdf->RemoveDocument(id);
    }

    void stringProtocolAndStubs()
    {
        const int id = load(bookPath);
        QVERIFY(id > 0);
        // Entries this engine lacks: empty result, "not supported", and no stale string length.
        QVERIFY(!pdf->GetInformation(2).isEmpty());
        QCOMPARE(pdf->FontName(), QString());
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::NotSupported));
        QCOMPARE(pdf->Decrypt(), 0);
        QCOMPARE(pdf->LastErrorCode(), int(PdfEngineError::NotSupported));
        QCOMPARE(pdf->GetPageBox(1, 1), 0.0);
        QVERIFY(pdf->LibraryVersion().contains(QStringLiteral("MuPDF")));
        pdf->RemoveDocument(id);

        // Byte strings go through the buffer protocol whole, zero bytes included.
        PdfLibraryDll dll(enginePath().toStdU16String());
        QVERIFY(dll.LibraryLoaded());
        const QByteArray bytes = pdffixtures::book().toPdf();
        QVERIFY(bytes.contains('\0') || bytes.size() > 0);
        QCOMPARE(dll.LoadFromString(std::string(bytes.constData(), size_t(bytes.size())), u""), 1);
        QCOMPARE(dll.PageCount(), 3);
        QCOMPARE(dll.GetInformation(2), std::u16string(u"A Test Book"));
        QCOMPARE(dll.LoadFromString(std::string("%PDF-1.7\n\0junk", 14), u""), 0);
        QCOMPARE(dll.LastErrorCode(), int(PdfEngineError::Damaged));
        QCOMPARE(dll.GetDocumentFileName(), std::u16string());
    }

    void instancesAreIndependentAcrossThreads()
    {
        // Two instances render their own documents on two threads while a third thread works
        // on the first instance's documents between them.
        DebenuPDFLibraryDLLQt1016 second(enginePath());
        const int book = load(bookPath);
        QVERIFY(book > 0);
        QCOMPARE(second.LoadFromFile(rotationsPath, QString()), 1);
        QVERIFY(second.SelectedDocument() != 0);

        auto renderBook = [&] {
            for (int i = 0; i < 6; ++i) {
                QImage image = render(*pdf, 1, 96, QSize(816, 1056));
                if (image.pixel(192, 144) != qRgb(255, 0, 0))
                    return false;
            }
            return true;
        };
        auto readRotations = [&] {
            for (int i = 0; i < 30; ++i) {
                if (second.PageCount() != 8 || !second.SelectPage(5) || second.PageRotation() != 270)
                    return false;
            }
            return true;
        };
        auto queryBook = [&] {
            // Single calls only: sequences need the caller's own lock.
            for (int i = 0; i < 200; ++i) {
                if (pdf->PageCount() != 3 || pdf->DocumentCount() < 1)
                    return false;
            }
            return true;
        };
        QFuture<bool> a = QtConcurrent::run(renderBook);
        QFuture<bool> b = QtConcurrent::run(readRotations);
        QFuture<bool> c = QtConcurrent::run(queryBook);
        QVERIFY(a.result());
        QVERIFY(b.result());
        QVERIFY(c.result());
        pdf->RemoveDocument(book);
    }

    void releasingOneInstanceLeavesTheOthers()
    {
        auto other = std::make_unique<DebenuPDFLibraryDLLQt1016>(enginePath());
        QCOMPARE(other->LoadFromFile(bookPath, QString()), 1);
        QCOMPARE(other->PageCount(), 3);
        other.reset();
        // The main instance is untouched by the other's release.
        QVERIFY(load(bookPath) > 0);
        QCOMPARE(pdf->PageCount(), 3);
        pdf->RemoveDocument(pdf->SelectedDocument());
    }

    void cleanupTestCase()
    {
        // With every instance released the engine leaves memory: nothing in it pins the library.
        pdf.reset();
        const QByteArray path = QFile::encodeName(enginePath());
        void* handle = dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD);
        if (handle)
            dlclose(handle);
        QVERIFY(!handle);
    }
};

QTEST_GUILESS_MAIN(TestPdfEngine)
#include "tst_pdfengine.moc"
