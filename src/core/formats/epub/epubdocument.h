#pragma once

#include "formats/textdocument.h"

namespace epub {

class EpubParser;
struct NavPoint;

// The TextDocument of an EPUB book: load runs the parser's full conversion into the output
// folder, toc turns the parser's navigation tree into contents entries (built once).
//
// loadStaged reads the book's structure at once and converts the rest on the parser's worker;
// completed() follows on the document's thread. Deleting the document (or quitting the
// application) cancels the worker and waits for it.
class EpubDocument : public TextDocument {
    Q_OBJECT

public:
    explicit EpubDocument(const QString& path, QObject* parent = nullptr);
    ~EpubDocument() override;

    bool load(const QString& outputFolder) override;
    bool loadStaged(const QString& outputFolder) override;
    bool prepareChapter(const QString& name) override;
    void prepareFile(const QString& path) override;
    void completeNow() override;
    void stopConversion() override;
    QList<TocPoint> toc() const override;

private:
    static TocPoint toTocPoint(const NavPoint& point);
    // Starts afresh: a parser adds to what it has read before.
    void resetParser();
    void finishRest(bool ok);

    EpubParser* m_parser = nullptr;
    quint64 m_loads = 0;
};

} // namespace epub
