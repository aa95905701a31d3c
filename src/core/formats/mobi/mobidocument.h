#pragma once

#include "formats/textdocument.h"

#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <memory>

namespace mobi {

class Mobi;
class TextPositions;

// The text document of a MOBI book: load converts the whole book into one HTML chapter named
// after the output folder (a book too large for one is cut into several, ChapterParts), saves the
// image records beside it as pdbrec_NNNNN.jpg and builds a flat table of contents from the level
// 1 to 4 headings that hold text.
class MobiDocument : public TextDocument {
    Q_OBJECT

public:
    // Resource type of an image, as in loadResource.
    enum { ImageResource = 2 };

    // Headings that show nothing only a crafted book has this many of: the web view would lay out
    // each one.
    static constexpr int MaxEmptyHeadings = 1000;

    explicit MobiDocument(const QString& bookPath, QObject* parent = nullptr);
    ~MobiDocument() override;

    // False (with a log line) for a file whose MOBI header is not "MOBI", an encrypted book,
    // a book without decodable text, or a chapter file that cannot be written; false too, with
    // no chapter, when the program's end (EndRequest) stops it.
    bool load(const QString& outputFolder) override;

    // The book's markup made displayable: anchors for filepos targets, links to them, images
    // by file name, page breaks and heading anchors (collected in headingTitles/headingIds).
    // A text of more than MaxEmptyHeadings headings that show nothing (blanks of every kind,
    // empty text-level elements, line breaks) loses all of them, but for the ids links lead to.
    // positions maps the filepos byte offsets to string positions; without it they are taken
    // as string positions. The program's end (EndRequest) stops it between its passes.
    QString toHtml(const QString& text, const TextPositions* positions = nullptr);

    // An image by "pdbrec:/N" (N counts the images from 1); an invalid value otherwise.
    virtual QVariant loadResource(int type, const QUrl& url);

    const QStringList& headingTitles() const { return m_headingTitles; }
    const QStringList& headingIds() const { return m_headingIds; }
    Mobi& book() { return *m_mobi; }
    // The characters the heading passes of the last toHtml read: their work, which must grow
    // with the length of the text alone, however its headings are made.
    qint64 headingCharactersRead() const { return m_headingScan; }

private:
    QString insertAnchors(const QString& text, const TextPositions* positions) const;
    QString insertHeadingAnchors(const QString& text);
    void saveImages(const QString& outputFolder);

    std::unique_ptr<Mobi> m_mobi;
    QStringList m_headingTitles;
    QStringList m_headingIds;
    qint64 m_headingScan = 0;
};

}
