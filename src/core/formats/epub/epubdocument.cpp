#include "epubdocument.h"

#include "epubparser.h"

namespace epub {

EpubDocument::EpubDocument(const QString& path, QObject* parent)
    : TextDocument(path, parent)
{
}

EpubDocument::~EpubDocument() { delete m_parser; }

bool EpubDocument::load(const QString& outputFolder)
{
    // A new conversion starts from nothing: a parser adds to what it has read before.
    delete m_parser;
    m_parser = new EpubParser(this);
    m_toc.clear();
    return m_parser->parse(filePath(), outputFolder, false) == NoError;
}

QList<TocPoint> EpubDocument::toc() const
{
    if (!m_toc.isEmpty() || !m_parser || m_parser->toc().isEmpty())
        return m_toc;
    // Built on first use and kept, so that entries keep their ids.
    auto* self = const_cast<EpubDocument*>(this);
    for (const NavPoint& point : m_parser->toc().first().children)
        self->m_toc.append(toTocPoint(point));
    resolveTocLinks(self->m_toc);
    return m_toc;
}

TocPoint EpubDocument::toTocPoint(const NavPoint& point)
{
    TocPoint entry;
    entry.link->source = point.src;
    entry.title = point.label;
    entry.index = 0;
    for (const NavPoint& child : point.children)
        entry.children.append(toTocPoint(child));
    return entry;
}

} // namespace epub
