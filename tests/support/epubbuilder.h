#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Real EPUB 2 or 3 files: stored "mimetype", container, OPF, NCX (and nav document for EPUB 3),
// chapters, images and any extra files.
class EpubBuilder {
public:
    struct NavPoint {
        QString title;
        QString src; // relative to the OPF folder, may carry "#fragment"
        QList<NavPoint> children;
    };

    void setVersion(int version) { m_version = version; } // 2 or 3
    void setOpfFolder(const QString& folder) { m_opfFolder = folder; } // "" puts the OPF at the root
    void setTitle(const QString& title) { m_title = title; }
    void setAuthor(const QString& author) { m_author = author; }
    void setLanguage(const QString& language) { m_language = language; }
    void setIdentifier(const QString& identifier) { m_identifier = identifier; }
    // e.g. ("dc:publisher", "Acme")
    void addMetadata(const QString& element, const QString& value) { m_metadata.append({ element, value }); }

    // A chapter in the manifest and spine, with a contents entry of the same title.
    void addChapter(const QString& id, const QString& href, const QString& title, const QString& bodyHtml);
    // A manifest item with exactly these bytes; inSpine adds it to the spine as well.
    void addItem(const QString& id, const QString& href, const QByteArray& data,
        const QString& mediaType = QStringLiteral("application/xhtml+xml"), bool inSpine = true);
    // A spine entry whose manifest item has no file in the archive.
    void addMissingItem(const QString& id, const QString& href, bool inSpine = true);
    void addResource(const QString& id, const QString& href, const QByteArray& data, const QString& mediaType)
    {
        addItem(id, href, data, mediaType, false);
    }
    void setCover(const QString& href, const QByteArray& data, const QString& mediaType = QStringLiteral("image/png"));
    // Outside the manifest, relative to the archive root.
    void addArchiveFile(const QString& path, const QByteArray& data) { m_archiveFiles.append({ path, data }); }

    // Replaces the generated META-INF/container.xml.
    void setContainerXml(const QByteArray& xml) { m_containerXml = xml; }

    void setNavPoints(const QList<NavPoint>& points)
    {
        m_navPoints = points;
        m_customNav = true;
    }
    void setWriteNcx(bool write) { m_writeNcx = write; }
    // The EPUB 3 navigation document, relative to the OPF folder (links are written as given).
    void setNavHref(const QString& href) { m_navHref = href; }
    // Replaces the generated navigation document's body (EPUB 3), e.g. with real-world markup.
    void setNavBody(const QString& bodyHtml) { m_navBody = bodyHtml; }

    bool write(const QString& path) const;

    static QByteArray xhtml(const QString& title, const QString& bodyHtml);
    static QByteArray png(int width, int height, unsigned rgb = 0x3366cc);

    QString opfPath() const { return itemPath(QStringLiteral("content.opf")); }
    QByteArray opf() const;
    QByteArray ncx() const;

private:
    struct Item {
        QString id;
        QString href;
        QByteArray data;
        QString mediaType;
        bool inSpine = false;
        bool present = true;
        QString properties;
    };

    QString itemPath(const QString& href) const { return m_opfFolder.isEmpty() ? href : m_opfFolder + '/' + href; }
    // The archive entry an item's href names: its path decoded, beside the package's folder too.
    QString entryOf(const QString& href) const;

    int m_version = 2;
    QString m_opfFolder = QStringLiteral("OEBPS");
    QString m_title = QStringLiteral("Test Book");
    QString m_author = QStringLiteral("Test Author");
    QString m_language = QStringLiteral("en");
    QString m_identifier = QStringLiteral("urn:uuid:12345678-1234-1234-1234-123456789abc");
    QList<QPair<QString, QString>> m_metadata;
    QList<Item> m_items;
    QList<QPair<QString, QByteArray>> m_archiveFiles;
    QList<NavPoint> m_navPoints;
    bool m_customNav = false;
    bool m_writeNcx = true;
    QString m_navHref = QStringLiteral("nav.xhtml");
    QString m_navBody;
    QString m_coverId;
    QByteArray m_containerXml;
};
