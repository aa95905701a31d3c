#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

// Builds realistic chapter documents, as the book formats write them, for tests of the reading
// engine and the chapter page: headings, long paragraphs with inline markup, lists, a table,
// a preformatted block, images of fixed sizes, Cyrillic and CJK text. Fonts are named
// explicitly (DejaVu, always installed) and sizes are relative, so the page's default font
// size drives the layout and layouts are the same on every machine. Text comes from a seeded
// generator: the same seed gives the same chapter.
class ChapterBuilder {
public:
    explicit ChapterBuilder(quint32 seed = 1);

    void addHeading(int level, const QString& text);
    // A paragraph of raw inner HTML (the caller escapes it).
    void addParagraph(const QString& innerHtml);
    // Generated paragraphs of the given word counts, with inline markup now and then.
    void addProse(int paragraphs, int minWords = 40, int maxWords = 160);
    void addCyrillicParagraph(int sentences);
    void addCjkParagraph(int sentences);
    // An image file of exactly this size, written beside the chapter, with width and height set.
    void addImage(int width, int height);
    void addList(int items, bool ordered);
    void addTable(int rows, int columns);
    void addPre(int lines);
    void addRaw(const QString& html);
    // A mix of all of the above until the body holds about this many bytes.
    void addRealisticContent(int approxBytes);

    // A generated sentence (plain text, capitalised, ending in a full stop or similar).
    QString sentence(int minWords, int maxWords);

    QString bodyHtml() const { return m_body; }
    // A complete XHTML document (served as application/xhtml+xml from a .xhtml file).
    QByteArray xhtml() const;
    // The same as an HTML document (text/html from a .html file).
    QByteArray html() const;

    // Writes the document (XHTML for a .xhtml name, HTML otherwise) and its images into the
    // folder; returns the document's path, or an empty text on failure.
    QString write(const QString& folder, const QString& fileName) const;

private:
    struct Image {
        QString name;
        QSize size;
    };

    quint32 nextRandom();
    int randomBetween(int low, int high);
    QString word();
    QString head() const;

    quint32 m_state;
    QString m_body;
    QList<Image> m_images;
};
