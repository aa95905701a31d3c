#include "epubdocument.h"

#include "epubparser.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

namespace epub {

EpubDocument::EpubDocument(const QString& path, QObject* parent)
    : TextDocument(path, parent)
{
}

EpubDocument::~EpubDocument() { delete m_parser; }

void EpubDocument::resetParser()
{
    delete m_parser;
    m_parser = new EpubParser(this);
    ++m_loads;
    m_toc.clear();
    m_complete = true;
    m_partial = false;
    m_partialCause = checkedsave::Failure::None;
}

bool EpubDocument::load(const QString& outputFolder)
{
    resetParser();
    // The manifest may name any file of the container, beside the package's folder too.
    m_outputFolder = QDir::cleanPath(QDir(outputFolder).absolutePath());
    return m_parser->parse(filePath(), outputFolder, false) == NoError;
}

bool EpubDocument::loadStaged(const QString& outputFolder)
{
    resetParser();
    m_outputFolder = QDir::cleanPath(QDir(outputFolder).absolutePath());
    if (m_parser->parseStructure(filePath(), outputFolder) != NoError)
        return false;
    m_complete = false;
    // A worker still running when the event loop is gone would outlive the objects it uses.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &EpubDocument::stopConversion, Qt::UniqueConnection);
    const quint64 loading = m_loads;
    // The parser, and with it this worker, is deleted only after the worker has ended; the
    // document lives longer still. The end of an earlier loading is not this one's.
    m_parser->convertRestInBackground([this, loading](bool ok) {
        QMetaObject::invokeMethod(
            this,
            [this, loading, ok] {
                if (loading == m_loads)
                    finishRest(ok);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void EpubDocument::finishRest(bool ok)
{
    if (m_complete)
        return;
    if (!ok)
        qWarning() << "Part of the book could not be unpacked; its chapters are left out:" << filePath();
    m_parser->applyChapterOutcomes();
    m_partial = !ok;
    m_partialCause = ok ? checkedsave::Failure::None : m_parser->diskFailure();
    m_complete = true;
    emit completed();
}

void EpubDocument::completeNow()
{
    if (m_complete || !m_parser)
        return;
    // Works along with the worker: each entry is still converted once.
    finishRest(m_parser->convertRest());
}

void EpubDocument::stopConversion()
{
    if (m_parser)
        m_parser->cancel();
}

bool EpubDocument::prepareChapter(const QString& name)
{
    if (m_complete || !m_parser)
        return TextDocument::prepareChapter(name);
    return m_parser->prepareChapter(name);
}

void EpubDocument::prepareFile(const QString& path)
{
    if (!m_complete && m_parser)
        m_parser->prepareFile(path);
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
