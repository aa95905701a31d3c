#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

// Realistic chapter documents for the reading engine: headings, prose with inline markup,
// lists, tables, images, Cyrillic and CJK text, in DejaVu fonts with relative sizes so layouts
// match on every machine. The same seed gives the same chapter.
class ChapterBuilder {
public:
    explicit ChapterBuilder(quint32 seed = 1)
        : m_state(seed ? seed : 1)
    {
    }

    void addHeading(int level, const QString& text)
    {
        m_body += QStringLiteral("<h%1>%2</h%1>\n").arg(level).arg(text.toHtmlEscaped());
    }
    // A paragraph of raw inner HTML (the caller escapes it).
    void addParagraph(const QString& innerHtml) { m_body += QStringLiteral("<p>%1</p>\n").arg(innerHtml); }
    // Generated paragraphs of the given word counts, with inline markup now and then.
    void addProse(int paragraphs, int minWords = 40, int maxWords = 160);
    // An image file of exactly this size, written beside the chapter, with width and height set.
    void addImage(int width, int height);
    void addRaw(const QString& html) { m_body += html; }
    // A mix of all kinds until the body holds about this many bytes.
    void addRealisticContent(int approxBytes);
    // A software reference manual converted to one document, until the body holds about this
    // many bytes: numbered sections nested three deep, each with a heading, prose with inline
    // code, code blocks, option tables, lists and definition lists.
    void addManualContent(int approxBytes);

    QString sentence(int minWords, int maxWords);
    // One paragraph of sentences, at least minChars long: every screen but the first starts inside it.
    void addLongParagraph(int minChars);

    QString bodyHtml() const { return m_body; }
    QByteArray xhtml() const;
    QByteArray html() const;

    // Writes the document (XHTML for a .xhtml name, HTML otherwise) and its images into the
    // folder; the document's path, or empty on failure.
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
    void addPhrases(const char* const* phrases, int count, int sentences, const QString& separator);
    void addList(int items, bool ordered);
    void addTable(int rows, int columns);
    void addPre(int lines);
    QString inlineCode();
    QString manualProse();
    void addManualSection(const QString& number, int depth);

    quint32 m_state;
    QString m_body;
    int m_manualSections = 0;
    QList<Image> m_images;
};
