#pragma once

#include "formats/imagedocument.h"

#include <QMutex>
#include <QStringList>

#include <memory>

class ArchiveReader;

// A comic archive (CBZ, CBR) as page images. The pages are the archive's image entries
// (jpg, jpeg, png, gif, bmp, webp), decided by name, in natural order ("2.jpg" before
// "10.jpg"); folders, metadata, thumbnails and resource forks are not pages. load only lists
// the archive; a page request unpacks its entry into the "pages" folder of the book's data
// folder and decodes it.
//
// requestImage may run on any number of pool threads at once, also while load replaces the
// book: each request works on its own snapshot of the loaded state.
class ComicDocument : public ImageDocument {
public:
    // Pages of more pixels than this (as their header says) are not decoded.
    static constexpr qint64 maxImagePixels = 100LL * 1000 * 1000;

    explicit ComicDocument(QObject* parent = nullptr);
    ~ComicDocument() override;

    // The folder whose "pages" folder the pages are unpacked into, in place of the book's data
    // folder (which may not be writable); taken by the next load.
    void setDataFolder(const QString& folder) { m_dataFolder = folder; }
    void load(const QString& path) override;
    // The archive's base name with "_" shown as blanks ("My_Comic_Vol.2.cbz" -> "My Comic Vol").
    QString title() const override;
    int pageCount() const override;
    // One "Page %1" entry per page.
    QList<TocPoint> toc() const override;
    // Only a page number is found: the "Go to page %1" hit.
    QList<SearchItem> search(const QString& query) override;
    // The page at its own pixel size with device pixel ratio scale; a null image for a page
    // outside 1..pageCount(), one that does not unpack or decode, or one that is too large.
    QImage requestImage(int page, double scale) override;
    double scaleFactor() const override { return 1.0; }

    // The entry names of the pages, in page order.
    QStringList pageNames() const;

    // Whether an archive entry is a page, by its name alone.
    static bool isPageName(const QString& entryName);

private:
    Q_DISABLE_COPY(ComicDocument)

    struct State {
        QString archivePath;
        QString pagesDir;
        std::shared_ptr<ArchiveReader> reader;
        QStringList pages;
    };
    std::shared_ptr<const State> state() const;

    QString m_dataFolder;
    mutable QMutex m_mutex;
    std::shared_ptr<const State> m_state;
};
