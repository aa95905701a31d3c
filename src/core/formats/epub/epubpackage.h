#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace epub {

// One item of the package's manifest. href is stored percent-decoded.
struct ManifestItem {
    QString id;
    QString mediaType;
    QString href; // the file it names: decoded once, without a fragment or query
    QString properties; // EPUB 3: blank-separated words, "nav" for the navigation document
};

// Kinds of metadata, by element or meta name (see metadataKind).
enum MetadataKind {
    MetaIdentifier = 0,
    MetaTitle = 1,
    MetaCreator = 2,
    MetaContributor = 3,
    MetaSubject = 4,
    MetaPublisher = 5,
    MetaDescription = 6,
    MetaDate = 7, // dropped
    MetaType = 8,
    MetaFormat = 9,
    MetaSource = 10,
    MetaLanguage = 11,
    MetaCoverage = 13,
    MetaRights = 14,
    MetaCover = 15, // a cover candidate, kept with the coverages
    MetaGenerator = 16 // dropped
};

// The kind of a metadata name, compared exactly with its prefix ("dc:title"); names that are
// not known are identifiers. Safe to call from any thread.
int metadataKind(const QString& name);

// What one conversion learns about a book: manifest and spine of the package document, the
// package folder, the cover, whether the content is enciphered, and the Dublin Core metadata
// as lists of strings in document order. A copyable value.
class EpubPackage {
public:
    // The first title or creator, or an empty string.
    QString title() const;
    QString author() const;

    QString coverPath() const { return m_coverPath; }
    void setCoverPath(const QString& path) { m_coverPath = path; }
    QString packageDir() const { return m_packageDir; }
    void setPackageDir(const QString& dir) { m_packageDir = dir; }

    // The manifest item of an id; three empty strings (and no new entry) when unknown.
    ManifestItem item(const QString& id) const { return manifest.value(id); }

    // Appends value as a string to the list of kind; dates, generators and unknown kinds
    // are dropped.
    void setValue(int kind, const QVariant& value);

    QMap<QString, ManifestItem> manifest; // by id; a later item replaces an earlier one
    QString tocId;
    QStringList spine; // idrefs in document order
    bool isProtected = false;

    QStringList identifiers;
    QStringList titles;
    QStringList languages;
    QStringList creators;
    QStringList descriptions;
    QStringList publishers;
    QStringList contributors;
    QStringList types;
    QStringList formats;
    QStringList subjects;
    QStringList sources;
    QStringList coverages; // dc:coverage values and meta cover contents: the cover candidates
    QStringList rights;

private:
    QString m_packageDir;
    QString m_coverPath;
};

} // namespace epub
