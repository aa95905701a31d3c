#pragma once

#include "epubpackage.h"

#include "checkedsave.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

class QDomElement;
class ZipReader;

namespace epub {

class EpubConversion;
class EpubDocument;

// One entry of the book's navigation tree (NCX). src is percent-decoded and keeps its
// "#fragment".
struct NavPoint {
    QString label;
    QString src;
    QList<NavPoint> children;
};

enum EpubError {
    NoError = 0,
    ReadError = 1, // the archive does not unpack or names no package document
    ProtectedError = 4 // the content is enciphered
};

// Turns an EPUB file into chapter files in an output folder, its package record and its
// navigation tree. The full conversion unpacks the whole book, cleans every chapter of the
// spine in place (ChapterCleaner) and hands chapter list, kinds and package folder to the
// document; the fast one reads only container, package, encryption and cover.
//
// The full conversion runs in two stages, so that a reader can show a chapter before the whole
// book is converted: parseStructure reads container, package, encryption, cover, contents and
// the chapter list, unpacking only the entries these need; convertRest (or its background form)
// unpacks and cleans the rest, and prepareChapter converts one chapter at once. parse runs both
// stages in a row.
//
// Every path taken from the book is resolved against the package folder and must stay inside
// the output folder; chapters that point outside, are missing or cannot be read are skipped
// with a warning, and never fail the whole book.
//
// A parser serves one book: a second parse adds to what the first one read.
class EpubParser : public QObject {
    Q_OBJECT

public:
    // document receives chapters, kinds and base path; it is not owned and may be null when
    // only the package record is wanted.
    explicit EpubParser(EpubDocument* document);
    ~EpubParser() override;

    EpubError parse(const QString& epubPath, const QString& outputDir, bool fast);
    EpubError fastConvert(const QString& epubPath, const QString& outputDir);

    // The first stage of the full conversion; the document gets its base path and a chapter list
    // without the spine entries that are not in the book. No chapter is cleaned yet.
    EpubError parseStructure(const QString& epubPath, const QString& outputDir);
    // Converts one chapter of the document's list (at once, or waiting for the worker that is at
    // it) and records its kind; a chapter that cannot be shown leaves the list and gives false.
    bool prepareChapter(const QString& name);
    // Converts an entry that a chapter page reads (style sheet, image, font, document) before
    // it is read; path is a file under the output folder. Other paths are left alone.
    void prepareFile(const QString& path);
    // The second stage at once; false when the archive failed on the way.
    bool convertRest();
    // The second stage on a worker; finished(ok) is called on the worker thread at its end.
    void convertRestInBackground(const std::function<void(bool ok)>& finished);
    // After the second stage, on the document's thread: the chapters' kinds, and the chapters
    // that cannot be shown taken out of the list.
    void applyChapterOutcomes();
    // Why an entry of the book could not be written; None when none failed for that.
    checkedsave::Failure diskFailure() const;
    // Stops the second stage and waits for its worker.
    void cancel();

    const EpubPackage& package() const { return m_package; }
    const QList<NavPoint>& toc() const { return m_toc; }

    // Steps of the conversion, in the order the full conversion runs them.
    QString getOpfFilePath(const QString& containerPath);
    void loadMetaData(const QString& opfPath);
    void parseMetadata(const QDomElement& metadata);
    void setMetadata(const QString& name, const QVariant& value);
    void extractCover(ZipReader& reader, const QString& epubPath, const QString& outputDir);
    QString ncxFilePath() const;
    void loadTOC(const QString& ncxPath);
    // EPUB 3: the contents from the navigation document's "toc" nav, into the same tree.
    void loadNavigationDocument(const QString& navHref);
    void loadSpine();

private:
    void parseManifest(const QDomElement& manifest);
    void parseSpine(const QDomElement& spine);
    void parseNavPoint(const QDomElement& element, NavPoint& parent);
    // The NCX the package names (by id "ncx", the spine's toc or its media type); empty if none.
    QString declaredNcxHref() const;
    QString navigationDocumentHref() const;
    void parseNavList(const QDomElement& list, const QString& navFolder, NavPoint& parent) const;
    // A link of the navigation document as a path relative to the package folder, fragment kept;
    // empty (with a warning) when it leaves the package.
    QString navTarget(const QString& href, const QString& navFolder) const;
    // The text of a contents label without any list nested in it.
    static QString navLabelText(const QDomElement& label);
    void loadContents();

    // Remembers the output folder and the package document's entry name, or returns false
    // when that name would leave the folder.
    bool setPackageLocation(const QString& outputDir, const QString& opfEntryName);
    // The archive entry name of a file the package names (its decoded href, resolved against the
    // package folder, cleaned); empty when it would leave the book.
    QString entryNameOf(const QString& file) const;
    // The file of an href inside the output folder; empty (with a warning) when outside.
    QString filePathOf(const QString& href, const char* what) const;

    enum class Protection { None, Enciphered, ReadFailed };
    // Gives the file of a chapter href (empty when it has none); false when it cannot be had.
    using ChapterFile = std::function<bool(const QString& href, QString* file)>;
    Protection protectionOf(const QString& encryptionPath, const ChapterFile& chapterFile);

    QString findCoverEntry(const QStringList& entries) const;
    // Tells the conversion which entries are content documents (cleaned: links may lead there)
    // and which of them are chapters.
    void assignRoles();
    // Unpacks the entries of these hrefs that are not on disk yet (empty ones are passed over).
    void unpackHrefs(const QStringList& hrefs);

    EpubDocument* m_document;
    EpubPackage m_package;
    QList<NavPoint> m_toc;
    QString m_outputDir; // absolute and clean
    QString m_opfEntry; // entry name of the package document, cleaned
    QString m_opfFolder; // entry-name form: "OEBPS", or empty at the top of the archive
    // The book's entries and their claims during a full conversion.
    std::unique_ptr<EpubConversion> m_conversion;
};

} // namespace epub
