#include "librarybooks.h"

#include "epubbuilder.h"
#include "fb2builder.h"
#include "mobiwriter.h"
#include "pdfwriter.h"
#include "rarwriter.h"
#include "sevenzwriter.h"
#include "zipwriter.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>

namespace librarybooks {

namespace {

    QString chapterText(int chapter)
    {
        return QStringLiteral("Chapter %1 begins here. The loom clicked on through the night.").arg(chapter);
    }

    bool writeBytes(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    bool writeEpub(const QString& path, const BookSpec& spec)
    {
        EpubBuilder book;
        book.setTitle(spec.title);
        book.setAuthor(spec.author());
        book.setLanguage(spec.language);
        book.addMetadata(QStringLiteral("dc:publisher"), spec.publisher);
        book.addMetadata(QStringLiteral("dc:description"), spec.description);
        for (int i = 1; i <= spec.chapters; ++i) {
            book.addChapter(QStringLiteral("ch%1").arg(i), QStringLiteral("ch%1.xhtml").arg(i),
                QStringLiteral("Chapter %1").arg(i), QStringLiteral("<p>%1</p>").arg(chapterText(i)));
        }
        if (!spec.coverSize.isEmpty())
            book.setCover(QStringLiteral("images/cover.png"), coverPng(spec));
        return book.write(path);
    }

    QByteArray mobiBook(const BookSpec& spec)
    {
        MobiWriter book;
        QByteArray text;
        for (int i = 1; i <= spec.chapters; ++i)
            text += "<p>" + chapterText(i).toUtf8() + "</p><mbp:pagebreak/>";
        book.setText("<html><body>" + text + "</body></html>");
        book.setFullName(spec.title.toUtf8());
        book.setAuthor(spec.author());
        book.addExth(101, spec.publisher.toUtf8());
        book.addExth(103, spec.description.toUtf8());
        book.addExth(524, spec.language.toUtf8());
        if (!spec.coverSize.isEmpty()) {
            book.addImage(coverPng(spec));
            book.setCoverOffset(0);
        }
        return book.build();
    }

    Fb2Builder fb2Book(const BookSpec& spec)
    {
        Fb2Builder book;
        book.setBookTitle(spec.title);
        Fb2Builder::Author author;
        author.first = spec.authorFirst;
        author.last = spec.authorLast;
        book.addAuthor(author);
        book.addGenre(QStringLiteral("prose_contemporary"));
        book.setAnnotationXml(Fb2Builder::p(spec.description));
        book.setLang(spec.language);
        book.setPublishInfo(spec.title, spec.publisher, QStringLiteral("Riga"), QStringLiteral("2020"));
        QString body;
        for (int i = 1; i <= spec.chapters; ++i)
            body += Fb2Builder::section(Fb2Builder::p(chapterText(i)), QStringLiteral("Chapter %1").arg(i));
        book.addBody(body);
        if (!spec.coverSize.isEmpty()) {
            book.setCoverImages({ QStringLiteral("cover.png") });
            book.addBinary(QStringLiteral("cover.png"), coverPng(spec));
        }
        return book;
    }

    bool writePdf(const QString& path, const BookSpec& spec)
    {
        PdfWriter book;
        for (int i = 1; i <= spec.chapters; ++i) {
            const int page = book.addPage();
            if (i == 1 && !spec.coverSize.isEmpty())
                book.addRect(page, QRectF(0, 0, 612, 792), spec.coverColor);
            book.addText(page, QPointF(72, 100), 14, chapterText(i));
        }
        book.setInfo("Title", spec.title);
        book.setInfo("Author", spec.author());
        book.setInfo("Creator", QStringLiteral("Loom Writer"));
        return book.save(path);
    }

    QList<QPair<QString, QByteArray>> comicPages(const BookSpec& spec)
    {
        QList<QPair<QString, QByteArray>> pages;
        const QSize first = spec.coverSize.isEmpty() ? QSize(40, 60) : spec.coverSize;
        pages.append(
            { QStringLiteral("page01.png"), EpubBuilder::png(first.width(), first.height(), spec.coverColor.rgb()) });
        for (int i = 2; i <= spec.chapters; ++i)
            pages.append(
                { QStringLiteral("page%1.png").arg(i, 2, 10, QLatin1Char('0')), EpubBuilder::png(40, 60, 0x808080) });
        return pages;
    }

} // namespace

QStringList suffixes()
{
    return { QStringLiteral("epub"), QStringLiteral("mobi"), QStringLiteral("prc"), QStringLiteral("fb2"),
        QStringLiteral("txt"), QStringLiteral("pdf"), QStringLiteral("cbz"), QStringLiteral("cbr"),
        QStringLiteral("zip"), QStringLiteral("7z") };
}

QByteArray coverPng(const BookSpec& spec)
{
    return EpubBuilder::png(spec.coverSize.width(), spec.coverSize.height(), spec.coverColor.rgb());
}

bool write(const QString& path, const BookSpec& spec)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("epub"))
        return writeEpub(path, spec);
    if (suffix == QLatin1String("mobi") || suffix == QLatin1String("prc"))
        return writeBytes(path, mobiBook(spec));
    if (suffix == QLatin1String("fb2"))
        return fb2Book(spec).write(path);
    if (suffix == QLatin1String("txt")) {
        QByteArray text;
        for (int i = 1; i <= spec.chapters; ++i)
            text += chapterText(i).toUtf8() + "\n";
        return writeBytes(path, text);
    }
    if (suffix == QLatin1String("pdf"))
        return writePdf(path, spec);
    if (suffix == QLatin1String("cbz")) {
        ZipWriter zip(path);
        for (const auto& page : comicPages(spec))
            zip.add(page.first, page.second);
        return zip.write();
    }
    if (suffix == QLatin1String("cbr")) {
        RarWriter rar(path);
        for (const auto& page : comicPages(spec))
            rar.add(page.first, page.second);
        return rar.write();
    }
    const QString inner = QFileInfo(path).completeBaseName() + QStringLiteral(".fb2");
    if (suffix == QLatin1String("zip"))
        return fb2Book(spec).writeZip(path, inner);
    if (suffix == QLatin1String("7z")) {
        SevenZWriter archive(path);
        archive.add(inner, fb2Book(spec).bytes());
        return archive.write();
    }
    return false;
}

} // namespace librarybooks
