#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// FictionBook 2 files in any declared encoding, as a file or the only entry of a ZIP. The
// fragment helpers escape text arguments, not XML ones.
class Fb2Builder {
public:
    struct Author {
        QString first;
        QString middle;
        QString last;
        QString nickname;
        QString email;
    };

    // The declared encoding and the codec the file is written in; quote is ' or ".
    void setEncoding(const QString& name, char quote = '"')
    {
        m_codec = name;
        m_quote = quote;
    }
    // Declares a different name than the codec the bytes are written in (an unknown name).
    void setDeclaredEncoding(const QString& name) { m_declared = name; }
    void setByteOrderMark(bool write) { m_bom = write; }
    void setOneLine(bool oneLine) { m_oneLine = oneLine; }

    void setBookTitle(const QString& title) { m_bookTitle = title; }
    void addAuthor(const Author& author) { m_authors.append(author); }
    void addGenre(const QString& genre) { m_genres.append(genre); }
    void setAnnotationXml(const QString& xml) { m_annotation = xml; }
    void setLang(const QString& lang) { m_lang = lang; }
    void setCoverImages(const QStringList& ids) { m_coverImages = ids; }
    void setPublishInfo(const QString& bookName, const QString& publisher, const QString& city, const QString& year)
    {
        m_publishInfo = QStringList { bookName, publisher, city, year };
    }
    // Replaces the whole description element (an empty string leaves it out).
    void setDescriptionXml(const QString& xml)
    {
        m_description = xml;
        m_customDescription = true;
    }

    void addBody(const QString& innerXml, const QString& name = QString());
    void addBinary(const QString& id, const QByteArray& data, const QString& contentType = QStringLiteral("image/png"));

    QString xml() const;
    QByteArray bytes() const;
    bool write(const QString& path) const;
    bool writeZip(const QString& zipPath, const QString& entryName) const;

    static QString esc(const QString& text) { return text.toHtmlEscaped(); }
    static QString p(const QString& text) { return pXml(esc(text)); }
    static QString pXml(const QString& innerXml) { return QStringLiteral("<p>%1</p>").arg(innerXml); }
    static QString title(const QStringList& paragraphs);
    static QString section(
        const QString& innerXml, const QString& titleText = QString(), const QString& id = QString());
    // depth sections inside each other, each titled "Level n", the innermost holding leafXml.
    static QString nestedSections(int depth, const QString& leafXml);
    static QString epigraph(const QString& innerXml) { return QStringLiteral("<epigraph>%1</epigraph>").arg(innerXml); }
    static QString poem(const QList<QStringList>& stanzas, const QString& titleText = QString());
    static QString image(const QString& id, const QString& attribute = QStringLiteral("l:href"));

private:
    QString authorXml(const QString& tag, const Author& author) const;
    QString descriptionXml() const;

    QString m_codec = QStringLiteral("UTF-8");
    QString m_declared;
    char m_quote = '"';
    bool m_bom = false;
    bool m_oneLine = false;

    QString m_bookTitle = QStringLiteral("Test Book");
    QList<Author> m_authors;
    QStringList m_genres;
    QString m_annotation;
    QString m_lang = QStringLiteral("en");
    QStringList m_coverImages;
    QStringList m_publishInfo;
    QString m_description;
    bool m_customDescription = false;

    QStringList m_parts;
    QStringList m_binaries;
};
