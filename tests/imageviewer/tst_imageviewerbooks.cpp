// Real PDF and comic books opened as the reading page opens them (the context's readBook, then the
// viewer's): pages from the document, turning, the password prompt, the position kept across
// reopening and the progress in the library.
#include "appdirs.h"
#include "bookcontext.h"
#include "bookpageparams.h"
#include "imageviewer.h"
#include "models/bookmodel.h"
#include "passwordprompt.h"
#include "pdfencryption.h"
#include "pdfenginefile.h"
#include "pdfwriter.h"
#include "readingservices.h"
#include "readingstatefile.h"
#include "samplelibrary.h"
#include "testpaths.h"
#include "zipwriter.h"

#include <QBuffer>
#include <QGraphicsScene>
#include <QJsonDocument>
#include <QtTest>

namespace {

QColor pageColor(int page) { return QColor::fromHsv(page * 80 % 360, 255, 200); }

// Four pages of one colour each, as a PDF (3) or a CBZ (6), written to path.
bool writeBook(const QString& path, int format)
{
    PdfWriter pdf;
    ZipWriter zip(path);
    for (int page = 4; page >= 1; --page) {
        QImage image(300, 400, QImage::Format_RGB32);
        image.fill(pageColor(page));
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        image.save(&png, "PNG");
        zip.add(QStringLiteral("p/%1.png").arg(page), png.data(), false);
        pdf.addRect(pdf.addPage(QSizeF(300, 400)), QRectF(0, 0, 300, 400), pageColor(5 - page));
    }
    return format == 3 ? pdf.save(path) : zip.write();
}

// Whether the middle of the view shows the page's colour.
bool shows(AbstractViewer* viewer, int page)
{
    const QImage image = dynamic_cast<QWidget*>(viewer)->grab().toImage();
    const QColor shown = image.pixelColor(image.rect().center()), wanted = pageColor(page);
    return qAbs(shown.hue() - wanted.hue()) < 3 && qAbs(shown.value() - wanted.value()) < 6;
}

} // namespace

class TestImageViewerBooks : public QObject {
    Q_OBJECT

    std::unique_ptr<SampleLibrary> library;
    std::unique_ptr<BookModel> model;
    QWidget area;

    // The open book's context; null when a readBook refused it.
    QSharedPointer<BookContext> open(const QString& path, int format, int id)
    {
        BookDto book;
        book.full_path = path;
        book.format = format;
        book.id = id;
        QSharedPointer<BookContext> context(new BookContext);
        context->pageParams()->setColumnCount(1);
        auto* viewer = context->readBook(book, &area) ? dynamic_cast<ImageViewer*>(context->viewer()) : nullptr;
        if (!viewer || !viewer->readBook(context))
            return {};
        viewer->resize(area.size());
        viewer->show();
        const bool shown
            = QTest::qWaitFor([viewer] { return !viewer->isRendering() && viewer->scene()->items().size(); });
        return shown ? context : nullptr;
    }

private slots:
    void initTestCase()
    {
        pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName());
        library.reset(new SampleLibrary);
        model.reset(new BookModel);
        model->selectAll();
        ReadingServices::setBookModel(model.get());
        area.resize(400, 500);
        area.show();
    }
    void cleanupTestCase() { ReadingServices::setBookModel(nullptr); }

    void openTurnReopen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("answers"); // the passwords the user offers before cancelling
        QTest::addColumn<bool>("opens");
        QTest::newRow("pdf") << "book.pdf" << QStringList() << true;
        QTest::newRow("cbz") << "comic.cbz" << QStringList() << true;
        QTest::newRow("password: wrong, then right") << "locked.pdf" << QStringList { "guess", "s3cret" } << true;
        QTest::newRow("password: cancelled") << "locked.pdf" << QStringList { "guess" } << false;
        QTest::newRow("password: no prompt") << "locked.pdf" << QStringList() << false;
        QTest::newRow("damaged pdf") << "damaged.pdf" << QStringList() << false;
    }
    void openTurnReopen()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, answers);
        QFETCH(bool, opens);
        const QString fileName = QString(QTest::currentDataTag()).remove(QRegularExpression("\\W")) + name;
        const QString path = library->home().filePath(fileName);
        const int format = name.endsWith(QLatin1String(".cbz")) ? 6 : 3;
        QVERIFY(writeBook(path, format));
        if (name == QLatin1String("locked.pdf")) {
            QFile plain(path);
            QVERIFY(plain.open(QIODevice::ReadOnly));
            QVERIFY(writeEncryptedPdf(plain.readAll(), path, QStringLiteral("s3cret"), QStringLiteral("owner")));
        } else if (name == QLatin1String("damaged.pdf")) {
            QVERIFY(QFile::resize(path, 300));
        }
        QStringList refused;
        if (!answers.isEmpty())
            setPasswordPrompt([&](const QString& shownName, const PasswordValidator& validator) {
                for (const QString& answer : answers)
                    if (shownName == fileName && validator(answer))
                        return true;
                    else
                        refused.append(answer);
                return false;
            });
        BookDto row;
        row.full_path = path;
        row.format = format;
        const int id = model->addBook(row);
        QSharedPointer<BookContext> context = open(path, format, id);
        setPasswordPrompt({});
        QCOMPARE(refused, answers.mid(0, 1));
        QCOMPARE(!context.isNull(), opens);
        if (!opens)
            return;
        QCOMPARE(context->pageCount(), 4);
        auto* viewer = dynamic_cast<ImageViewer*>(context->viewer());
        QTRY_VERIFY(shows(viewer, 1));
        if (!answers.isEmpty())
            return;
        for (Qt::Key key : { Qt::Key_Right, Qt::Key_Right, Qt::Key_Left })
            QTest::keyClick(viewer, key);
        QCursor::setPos(viewer->mapToGlobal(QPoint(350, 250)));
        QTest::mouseClick(viewer->viewport(), Qt::LeftButton, {}, viewer->viewport()->mapFromGlobal(QCursor::pos()));
        QTRY_COMPARE(context->currentPage(), 3);
        QTRY_VERIFY(shows(viewer, 3));
        delete viewer;
        context.reset();
        QFile state(ReadingStateFile::filePath(bookDataDir(path)));
        QVERIFY(state.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(state.readAll())["ReadingPosition"]["Page"].toInt(), 3);
        QCOMPARE(model->bookById(id).max_position, 75);

        context = open(path, format, id);
        QVERIFY(context);
        QCOMPARE(context->currentPage(), 3);
        QTRY_VERIFY(shows(context->viewer(), 3));
        delete context->viewer();
    }
};

QTEST_MAIN(TestImageViewerBooks)
#include "tst_imageviewerbooks.moc"
