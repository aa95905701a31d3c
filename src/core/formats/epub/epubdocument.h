#pragma once

#include "formats/textdocument.h"

namespace epub {

class EpubParser;
struct NavPoint;

// The TextDocument of an EPUB book: load runs the parser's full conversion into the output
// folder, toc turns the parser's navigation tree into contents entries (built once).
class EpubDocument : public TextDocument {
    Q_OBJECT

public:
    explicit EpubDocument(const QString& path, QObject* parent = nullptr);
    ~EpubDocument() override;

    bool load(const QString& outputFolder) override;
    QList<TocPoint> toc() const override;

private:
    static TocPoint toTocPoint(const NavPoint& point);

    EpubParser* m_parser = nullptr;
};

} // namespace epub
