#include "librarybooks.h"

#include "epubbuilder.h"
#include "fb2builder.h"
#include "mobiwriter.h"
#include "pdfwriter.h"
#include "rarwriter.h"
#include "sevenzwriter.h"
#include "testfiles.h"
#include "zipwriter.h"

#include <QFileInfo>

namespace librarybooks {

namespace {

    QString chapterText(int chapter)
    {
        return QStringLiteral("Chapter %1 begins here. The loom clicked on through the night.").arg(chapter);
    }

    bool writeEpub(const QString& path, const BookRecipe& recipe)
    {
        EpubBuilder book;
        book.setTitle(recipe.title);
        book.setAuthor(recipe.author());
        book.setLanguage(recipe.language);
        book.addMetadata(QStringLiteral("dc:publisher"), recipe.publisher);
        book.addMetadata(QStringLiteral("dc:description"), recipe.description);
        for (int i = 1; i <= recipe.chapters; ++i) {
            book.addChapter(QStringLiteral("ch%1").arg(i), QStringLiteral("ch%1.xhtml").arg(i),
                QStringLiteral("Chapter %1").arg(i), QStringLiteral("<p>%1</p>").arg(chapterText(i)));
        }
        if (!recipe.coverSize.isEmpty())
            book.setCover(QStringLiteral("images/cover.png"), coverPng(recipe));
        return book.write(path);
    }

    MobiWriter mobiBook(const BookRecipe& recipe)
    {
        MobiWriter book;
        QByteArray text;
        for (int i = 1; i <= recipe.chapters; ++i)
            text += "<p>" + chapterText(i).toUtf8() + "</p><mbp:pagebreak/>";
        book.setText("<html><body>" + text + "</body></html>");
        book.setFullName(recipe.title.toUtf8());
        book.setAuthor(recipe.author());
        book.addExth(101, recipe.publisher.toUtf8());
        book.addExth(103, recipe.description.toUtf8());
        book.addExth(524, recipe.language.toUtf8());
        if (!recipe.coverSize.isEmpty()) {
            book.addImage(coverPng(recipe));
            book.setCoverOffset(0);
        }
        return book;
    }

    Fb2Builder fb2Book(const BookRecipe& recipe)
    {
        Fb2Builder book;
        book.setBookTitle(recipe.title);
        book.addAuthor({ recipe.authorFirst, QString(), recipe.authorLast, QString(), QString() });
        book.addGenre(QStringLiteral("prose_contemporary"));
        book.setAnnotationXml(Fb2Builder::p(recipe.description));
        book.setLang(recipe.language);
        book.setPublishInfo(recipe.title, recipe.publisher, QStringLiteral("Riga"), QStringLiteral("2020"));
        QString body;
        for (int i = 1; i <= recipe.chapters; ++i)
            body += Fb2Builder::section(Fb2Builder::p(chapterText(i)), QStringLiteral("Chapter %1").arg(i));
        book.addBody(body);
        if (!recipe.coverSize.isEmpty()) {
            book.setCoverImages({ QStringLiteral("cover.png") });
            book.addBinary(QStringLiteral("cover.png"), coverPng(recipe));
        }
        return book;
    }

    bool writePdf(const QString& path, const BookRecipe& recipe)
    {
        PdfWriter book;
        QList<PdfWriter::OutlineItem> outline;
        for (int i = 1; i <= recipe.chapters; ++i) {
            const int page = book.addPage();
            if (i == 1 && !recipe.coverSize.isEmpty())
                book.addRect(page, QRectF(0, 0, 612, 792), recipe.coverColor);
            book.addText(page, QPointF(72, 100), 14, chapterText(i));
            outline.append({ QStringLiteral("Chapter %1").arg(i), page, {} });
        }
        if (recipe.outline)
            book.setOutline(outline);
        book.setInfo("Title", recipe.title);
        book.setInfo("Author", recipe.author());
        book.setInfo("Creator", QStringLiteral("Loom Writer"));
        return book.save(path);
    }

    QList<ZipEntry> comicPages(const BookRecipe& recipe)
    {
        QList<ZipEntry> pages;
        const QSize first = recipe.coverSize.isEmpty() ? QSize(40, 60) : recipe.coverSize;
        pages.append(
            { QStringLiteral("page01.png"), EpubBuilder::png(first.width(), first.height(), recipe.coverColor.rgb()) });
        for (int i = 2; i <= recipe.chapters; ++i)
            pages.append(
                { QStringLiteral("page%1.png").arg(i, 2, 10, QLatin1Char('0')), EpubBuilder::png(40, 60, 0x808080) });
        return pages;
    }

} // namespace

QStringList suffixes() { return { "epub", "mobi", "prc", "fb2", "txt", "pdf", "cbz", "cbr", "zip", "7z" }; }

QByteArray coverPng(const BookRecipe& recipe)
{
    return EpubBuilder::png(recipe.coverSize.width(), recipe.coverSize.height(), recipe.coverColor.rgb());
}

bool write(const QString& path, const BookRecipe& recipe)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("epub"))
        return writeEpub(path, recipe);
    if (suffix == QLatin1String("mobi") || suffix == QLatin1String("prc"))
        return mobiBook(recipe).write(path);
    if (suffix == QLatin1String("fb2"))
        return fb2Book(recipe).write(path);
    if (suffix == QLatin1String("txt")) {
        QByteArray text;
        for (int i = 1; i <= recipe.chapters; ++i)
            text += chapterText(i).toUtf8() + "\n";
        return testfiles::write(path, text);
    }
    if (suffix == QLatin1String("pdf"))
        return writePdf(path, recipe);
    if (suffix == QLatin1String("cbz"))
        return ZipWriter::write(path, comicPages(recipe));
    if (suffix == QLatin1String("cbr"))
        return RarWriter::write(path, comicPages(recipe));
    const QString inner = QFileInfo(path).completeBaseName() + QStringLiteral(".fb2");
    if (suffix == QLatin1String("zip"))
        return fb2Book(recipe).writeZip(path, inner);
    if (suffix == QLatin1String("7z")) {
        SevenZWriter archive(path);
        archive.add(inner, fb2Book(recipe).bytes());
        return archive.write();
    }
    return false;
}

} // namespace librarybooks
