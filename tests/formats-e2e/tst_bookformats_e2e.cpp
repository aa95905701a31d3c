// Every book format opened through the calls the reading core makes: the factory, load into
// the book's data folder, the contents written to the ".toc" cache and read back; comics
// through the image viewer's calls.

#include "epubbuilder.h"
#include "fb2builder.h"
#include "formats/comics/comicdocument.h"
#include "formats/textdocument.h"
#include "formats/textdocumentfactory.h"
#include "mobiwriter.h"
#include "rarwriter.h"
#include "sevenzwriter.h"
#include "temphome.h"
#include "testfiles.h"
#include "zipwriter.h"

#include "appdirs.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QTextCodec>

#include <memory>

namespace {

const QString kChapterTwo = QStringLiteral("The keeper climbed the ninety-nine steps & lit the lamp.");

QStringList paragraphs(int chapter)
{
    QStringList lines;
    for (int i = 1; i <= 12; ++i)
        lines << QStringLiteral("Chapter %1, paragraph %2: the sea rolled on under a grey sky.").arg(chapter).arg(i);
    if (chapter == 2)
        lines.insert(3, kChapterTwo);
    return lines;
}

QString epubBody(int chapter)
{
    QString html = QStringLiteral("<h2>Chapter %1</h2>").arg(chapter);
    for (const QString& line : paragraphs(chapter))
        html += QStringLiteral("<p>%1</p>").arg(line.toHtmlEscaped());
    return html;
}

QString fb2Chapter(int chapter)
{
    QString xml;
    for (const QString& line : paragraphs(chapter))
        xml += Fb2Builder::p(line);
    return Fb2Builder::section(xml, QStringLiteral("Chapter %1").arg(chapter));
}

Fb2Builder lighthouseFb2()
{
    Fb2Builder builder;
    builder.setBookTitle(QStringLiteral("The Lighthouse"));
    builder.addAuthor({ "Ada", "", "Keeper", "", "" });
    builder.setCoverImages({ QStringLiteral("cover.jpg") });
    builder.addBody(Fb2Builder::title({ "The Lighthouse" }) + Fb2Builder::epigraph(Fb2Builder::p("Light the way."))
        + Fb2Builder::section(Fb2Builder::p("Before the storm.") + fb2Chapter(1) + fb2Chapter(2), "Part One")
        + Fb2Builder::section(fb2Chapter(3), "Part Two"));
    builder.addBody(Fb2Builder::title({ "Notes" })
            + Fb2Builder::section(Fb2Builder::p("A lamp of the old kind."), QStringLiteral("1"))
            + Fb2Builder::section(Fb2Builder::p("Ninety-nine, counted."), QStringLiteral("2")),
        QStringLiteral("notes"));
    builder.addBinary(QStringLiteral("cover.jpg"), MobiWriter::image(QSize(60, 90), Qt::darkBlue, "JPG"), "image/jpeg");
    return builder;
}

const QStringList kFb2Contents = { "The Lighthouse", "  Part One", "    Chapter 1", "    Chapter 2", "  Part Two",
    "    Chapter 3", "Notes", "  1", "  2" };

// The reading core's steps for a text book.
struct OpenedBook {
    std::unique_ptr<TextDocument> document;
    bool loaded = false;
    TocTree tree;
};

void openBook(const QString& path, const QString& encoding, OpenedBook& book)
{
    book.document.reset(createTextDocument(path));
    if (!encoding.isEmpty())
        book.document->setEncoding(encoding);
    const QString dataDir = bookDataDir(path);
    book.loaded = book.document->load(dataDir);
    const QString tocFile = dataDir + QLatin1Char('/') + QFileInfo(dataDir).fileName() + QStringLiteral(".toc");
    QFile file(tocFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    file.write(QJsonDocument(book.document->tocToJson().toArray()).toJson());
    file.close();
    book.tree.load(tocFile, book.document->basePath());
}

void flatten(const QList<TocPoint>& points, QStringList& titles, QList<TocPoint>& order, int depth = 0)
{
    for (const TocPoint& point : points) {
        titles << QString(depth * 2, QLatin1Char(' ')) + point.title;
        order << point;
        flatten(point.children, titles, order, depth + 1);
    }
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestBookFormatsE2e : public QObject {
    Q_OBJECT

private:
    TempHome m_home;

    QString bookPath(const QString& name) const { return m_home.filePath(QStringLiteral("Books/") + name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(QDir().mkpath(bookPath(QString())));
    }

    void textBooks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<int>("chapterCount");
        QTest::addColumn<QStringList>("contents");
        QTest::addColumn<QString>("knownTitle");
        QTest::addColumn<QString>("knownText");

        EpubBuilder epub;
        epub.setTitle(QStringLiteral("The Lighthouse"));
        epub.setCover(QStringLiteral("images/cover.png"), EpubBuilder::png(60, 90));
        for (int i = 1; i <= 4; ++i)
            epub.addChapter(QStringLiteral("c%1").arg(i), QStringLiteral("text/chapter%1.xhtml").arg(i),
                QStringLiteral("Chapter %1").arg(i), epubBody(i));
        epub.setNavPoints(
            { { "Part One", "text/chapter1.xhtml",
                  { { "Chapter 1", "text/chapter1.xhtml", {} }, { "Chapter 2", "text/chapter2.xhtml", {} } } },
                { "Part Two", "text/chapter3.xhtml",
                    { { "Chapter 3", "text/chapter3.xhtml", {} }, { "Chapter 4", "text/chapter4.xhtml#end", {} } } } });
        const QString epubPath = bookPath("lighthouse.epub");
        QVERIFY(epub.write(epubPath));
        QTest::newRow("epub") << epubPath << QString() << 4
                              << QStringList { "Part One", "  Chapter 1", "  Chapter 2", "Part Two", "  Chapter 3",
                                     "  Chapter 4" }
                              << "Chapter 2" << kChapterTwo.toHtmlEscaped();

        const Fb2Builder fb2 = lighthouseFb2();
        const QString fb2Path = bookPath("lighthouse.fb2");
        QVERIFY(fb2.write(fb2Path));
        QTest::newRow("fb2") << fb2Path << QString() << 5 << kFb2Contents << "Chapter 2" << kChapterTwo.toHtmlEscaped();
        const QString zipPath = bookPath("lighthouse.fb2.zip");
        QVERIFY(fb2.writeZip(zipPath, QStringLiteral("lighthouse.fb2")));
        QTest::newRow("zip") << zipPath << QString() << 5 << kFb2Contents << "Chapter 2" << kChapterTwo.toHtmlEscaped();
        const QString sevenZipPath = bookPath("lighthouse.7z");
        SevenZWriter sevenZip(sevenZipPath);
        sevenZip.add(QStringLiteral("Lighthouse/lighthouse.fb2"), fb2.bytes());
        QVERIFY(sevenZip.write());
        QTest::newRow("7z") << sevenZipPath << QString() << 5 << kFb2Contents << "Chapter 2"
                            << kChapterTwo.toHtmlEscaped();

        // A text book in the encoding the user chose for it.
        const QString text = QStringLiteral("Маяк\nСмотритель поднялся по ступеням.\nИ зажёг огонь.\n");
        const QString txtPath = bookPath("mayak.txt");
        QVERIFY(testfiles::write(txtPath, QTextCodec::codecForName("windows-1251")->fromUnicode(text)));
        QTest::newRow("txt") << txtPath << "windows-1251" << 1 << QStringList { "", "  " } << QString()
                             << "<p>Смотритель поднялся по ступеням.</p>";

        MobiWriter mobi;
        QByteArray html = "<html><head><guide></guide></head><body><h1>The Lighthouse</h1>";
        for (int i = 1; i <= 3; ++i) {
            html += "<mbp:pagebreak/><h2>Chapter " + QByteArray::number(i) + "</h2>";
            for (const QString& line : paragraphs(i))
                html += "<p>" + line.toHtmlEscaped().toUtf8() + "</p>";
        }
        html += "</body></html>";
        mobi.setText(html);
        mobi.setFullName("The Lighthouse");
        const QStringList mobiContents = { "The Lighthouse", "Chapter 1", "Chapter 2", "Chapter 3" };
        for (const char* name : { "lighthouse.mobi", "lighthouse.prc" }) {
            QVERIFY(mobi.write(bookPath(name)));
            QTest::newRow(QFileInfo(name).suffix().toLatin1().constData())
                << bookPath(name) << QString() << 1 << mobiContents << "Chapter 2" << kChapterTwo.toHtmlEscaped();
        }
    }

    void textBooks()
    {
        QFETCH(QString, path);
        QFETCH(QString, encoding);
        QFETCH(int, chapterCount);
        QFETCH(QStringList, contents);
        QFETCH(QString, knownTitle);
        QFETCH(QString, knownText);

        // Opened twice, as a book is each time the user comes back to it.
        for (int round = 0; round < 2; ++round) {
            OpenedBook book;
            openBook(path, encoding, book);
            QVERIFY(book.loaded);
            TextDocument& document = *book.document;
            QCOMPARE(document.chapters().size(), chapterCount);
            QCOMPARE(document.chapterPageInfos().first.size(), chapterCount);
            for (const QString& chapter : document.chapters())
                QVERIFY2(QFileInfo(document.chapterFilePath(chapter)).isFile(), qPrintable(chapter));

            QStringList titles;
            QList<TocPoint> order;
            flatten(book.tree.points, titles, order);
            QCOMPARE(titles, contents);
            const TocPoint* known = nullptr;
            for (int i = 0; i < order.size(); ++i) {
                QCOMPARE(order[i].index, i);
                // Every contents entry leads into a chapter of the book (or nowhere).
                const QString file = order[i].link->source.section(QLatin1Char('#'), 0, 0);
                QVERIFY2(file.isEmpty() || document.hasChapter(file), qPrintable(order[i].link->source));
                if (!known && order[i].title == knownTitle && !file.isEmpty())
                    known = &order[i];
            }
            QVERIFY(known);
            const QString chapter = readText(document.chapterFilePath(known->link->source.section('#', 0, 0)));
            QVERIFY2(chapter.contains(knownText), qPrintable(chapter.left(300)));
        }

        // Every document makes the output folder it is given when it is missing.
        const std::unique_ptr<TextDocument> fresh(createTextDocument(path));
        fresh->setEncoding(encoding);
        QVERIFY(fresh->load(m_home.filePath(QStringLiteral("fresh/") + QTest::currentDataTag())));
        QCOMPARE(fresh->chapters().size(), chapterCount);
    }

    // The image viewer's steps: construct, load, restore the saved page, contents, spreads.
    void comics_data()
    {
        QTest::addColumn<QString>("path");
        QStringList names = { "Lighthouse/ComicInfo.xml", "Lighthouse/page10.jpg", "Lighthouse/page2.jpg",
            "Lighthouse/page1.jpg", "__MACOSX/Lighthouse/._page1.jpg" };
        const auto data = [](const QString& name) {
            if (!name.endsWith(QLatin1String(".jpg")) || name.contains(QLatin1String("MACOSX")))
                return QByteArray("<ComicInfo/>");
            const int number = QFileInfo(name).baseName().mid(4).toInt();
            return MobiWriter::image(QSize(100 + number, 150), Qt::gray, "JPG");
        };
        ZipWriter zip(bookPath("lighthouse.cbz"));
        RarWriter rar(bookPath("lighthouse.cbr"));
        for (const QString& name : names) {
            zip.add(name, data(name));
            rar.add(name, data(name));
        }
        QVERIFY(zip.write() && rar.write());
        QTest::newRow("cbz") << bookPath("lighthouse.cbz");
        QTest::newRow("cbr") << bookPath("lighthouse.cbr");
    }

    void comics()
    {
        QFETCH(QString, path);
        ComicDocument document;
        document.load(path);
        QCOMPARE(document.pageCount(), 3);
        QCOMPARE(document.title(), QStringLiteral("lighthouse"));
        QCOMPARE(document.coverImage().width(), 101);
        document.setPageNumber(2);
        document.setColumnCount(2);
        QCOMPARE(document.toc().size(), 3);
        const QPair<QImage, QImage> spread
            = document.requestImages(document.pageNumber(), document.pageNumber() + 1, 1.0);
        QCOMPARE(spread.first.width(), 102);
        QCOMPARE(spread.second.width(), 110);
        QVERIFY(document.requestImages(3, 4, 1.0).second.isNull());
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    TestBookFormatsE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bookformats_e2e.moc"
