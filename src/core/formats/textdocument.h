#pragma once

#include "chapterpageinfo.h"
#include "checkedsave.h"
#include "toctree.h"

#include <QHash>
#include <QJsonValue>
#include <QObject>
#include <QPair>
#include <QStringList>

// A book converted, once per opening, into a folder of HTML or XHTML chapter files plus a
// table of contents. The converters derive from it; a bare TextDocument has no converter and
// its load fails.
class TextDocument : public QObject {
    Q_OBJECT

public:
    // A chapter left out (too large, too deep) is shown as a page of the program's own that
    // says so, in its place: the book's other chapters and positions keep their order.
    enum ChapterKind { KindNone = 0, KindHtml = 1, KindXhtml = 2, KindLeftOut = 3 };

    // The document is owned by whoever holds it: it never takes a QObject parent.
    explicit TextDocument(const QString& filePath, QObject* parent = nullptr);
    ~TextDocument() override;

    virtual void setEncoding(const QString& encoding);
    // Converts the book into chapter files under outputFolder; true on success.
    virtual bool load(const QString& outputFolder);
    // Converts what the contents and the chapter list need and leaves the rest to a worker
    // (isComplete false until completed()); chapters are then made ready by prepareChapter
    // before they are shown. Formats converted in one go just load.
    virtual bool loadStaged(const QString& outputFolder) { return load(outputFolder); }
    // Every chapter converted: what needs the whole book (page counts, search, printing) waits
    // for this.
    bool isComplete() const { return m_complete; }
    // Part of the book could not be unpacked in the background (a full disk, a damaged entry):
    // its chapters were left out.
    bool isPartial() const { return m_partial; }
    // Why, when it was a write that failed; None otherwise (a damaged entry).
    checkedsave::Failure partialCause() const { return m_partialCause; }
    // Converts the chapter now when the worker has not yet; false (and the chapter leaves the
    // list) when it cannot be shown.
    virtual bool prepareChapter(const QString& name);
    // Makes a file under the output folder that a chapter page reads ready before it is read.
    virtual void prepareFile(const QString& path);
    // Converts what is left on the calling thread and completes.
    virtual void completeNow() { }
    // The book is closed: the background conversion stops and is waited for; the document
    // stays incomplete.
    virtual void stopConversion() { }
    virtual QList<TocPoint> toc() const;

    const QString& filePath() const { return m_filePath; }
    const QString& outputFolder() const { return m_outputFolder; }
    const QString& encoding() const { return m_encoding; }

    const QStringList& chapters() const { return m_chapters; }
    const QString& basePath() const { return m_basePath; }
    // The folder whose files the book's chapter pages may read: the output folder (an EPUB's whole
    // unpacked container, whatever folder its package document is in), or the base path of a book
    // read where it lies.
    const QString& bookFolder() const { return m_outputFolder.isEmpty() ? m_basePath : m_outputFolder; }
    void clearChapters();
    void addChapter(const QString& name);
    void setBasePath(const QString& path);
    void setChapterKind(const QString& name, int kind);
    int chapterKind(const QString& name) const;

    // A chapter that earlier versions made as one file and this conversion cuts into several:
    // the files in reading order, the first under the chapter's own name; empty for any other
    // chapter. Places stored for the whole are found in its parts.
    QStringList chapterParts(const QString& name) const;
    void setChapterParts(const QString& name, const QStringList& parts);

    bool hasChapter(const QString& name) const;
    QString nextChapter(const QString& name) const;
    QString previousChapter(const QString& name) const;
    QString chapterFilePath(const QString& name) const;
    // The web view picks its parser by a file's name: documenttype::readsAsXml, the rule of the
    // chapter pages too.
    static bool nameReadsAsXml(const QString& fileName);
    // The name under which a chapter of that kind is stored and shown: an XHTML chapter under
    // an XHTML name, an HTML one under a name that is not read as XML, a left-out one's page
    // beside the chapter's file.
    static QString shownName(const QString& name, int kind);
    // The page shown for a chapter left out: its name and why, escaped.
    static QByteArray leftOutPage(const QString& name, const QString& reason);

    QPair<QList<ChapterPageInfo>, QHash<QString, int>> chapterPageInfos() const;
    // The virtual toc() as a JSON array of contents objects, in list order.
    QJsonValue tocToJson() const;
    static QJsonValue tocToJson(const QList<TocPoint>& points);

signals:
    // The background conversion has ended: every chapter is converted (or left out).
    void completed();

protected:
    // Contents links that name no chapter are matched by file name against the chapters: the
    // first chapter in reading order with that name; a link that still leads nowhere is left empty.
    void resolveTocLinks(QList<TocPoint>& points) const;

    QList<TocPoint> m_toc;
    QString m_filePath;
    QString m_outputFolder;
    QString m_encoding;
    QStringList m_chapters;
    QHash<QString, int> m_chapterKinds;
    QHash<QString, QStringList> m_chapterParts; // by the chapter's name in lower case
    QString m_basePath;
    bool m_complete = true;
    bool m_partial = false;
    checkedsave::Failure m_partialCause = checkedsave::Failure::None;
};
