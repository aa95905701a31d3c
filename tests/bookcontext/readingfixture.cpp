#include "readingfixture.h"

#include "abstractviewer.h"
#include "bookcontext.h"
#include "chapterbuilder.h"
#include "dataexchangesvc.h"
#include "epubbuilder.h"
#include "librarytestdb.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "readingservices.h"
#include "testpaths.h"
#include "textbookchapter.h"
#include "textviewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <QWebFrame>

namespace {

class PageCounter : public DataExchangeSvc {
public:
    PageCounter()
        : DataExchangeSvc(testpaths::binDir() + QStringLiteral("/zuvezedoda"), nullptr)
    {
    }
    using DataExchangeSvc::setTimeouts;
};

} // namespace

ReadingFixture::ReadingFixture()
{
    if (!BookProvider::instance()->createConnection(m_home.filePath(QStringLiteral("ebooklib.sqlite3"))))
        qWarning() << "Cannot create the library";
    m_books = std::make_unique<BookModel>();
    m_books->selectAll();
    m_pageCounter = std::make_unique<PageCounter>();
    ReadingServices::setBookModel(m_books.get());
    ReadingServices::setDataExchangeSvc(m_pageCounter.get());
}

ReadingFixture::~ReadingFixture()
{
    close();
    m_pageCounter->stopHandler();
    ReadingServices::setDataExchangeSvc(nullptr);
    ReadingServices::setBookModel(nullptr);
    m_pageCounter.reset();
    m_books.reset();
    closeLibrary();
}

void ReadingFixture::restartPageCounter(int connectTimeoutMs)
{
    m_pageCounter->stopHandler();
    auto counter = std::make_unique<PageCounter>();
    counter->setTimeouts(connectTimeoutMs, KelRemoteProcHandler::kWriteTimeoutMs);
    ReadingServices::setDataExchangeSvc(counter.get());
    m_pageCounter = std::move(counter);
}

int ReadingFixture::addEpub(const QString& fileName, int chapters, int chapterBytes)
{
    EpubBuilder epub;
    epub.setTitle(fileName);
    QList<EpubBuilder::NavPoint> contents;
    for (int i = 1; i <= chapters; ++i) {
        ChapterBuilder chapter { quint32(i) };
        chapter.addHeading(1, QStringLiteral("Chapter %1").arg(i));
        chapter.addProse(4);
        if (i == 2)
            chapter.addRaw(QStringLiteral("<h2 id=\"target\">The target</h2>\n"));
        chapter.addRealisticContent(chapterBytes);
        if (i == chapters)
            chapter.addParagraph(QStringLiteral("At last it ended %1.").arg(QLatin1String(kRareWord)));
        const QString href = QStringLiteral("ch%1.xhtml").arg(i);
        epub.addItem(QStringLiteral("c%1").arg(i), href, chapter.xhtml());
        EpubBuilder::NavPoint point { QStringLiteral("Chapter %1").arg(i), href, {} };
        if (i == 2)
            point.children.append({ QStringLiteral("The target"), href + QStringLiteral("#target"), {} });
        contents.append(point);
    }
    epub.setNavPoints(contents);
    const QString path = m_home.filePath(fileName);
    if (!epub.write(path))
        return -1;
    BookDto book;
    book.full_path = path;
    book.title = fileName;
    book.format = 0;
    return m_books->addBook(book);
}

QSharedPointer<BookContext> ReadingFixture::open(int bookId, bool waitForPages)
{
    close();
    m_area = std::make_unique<QWidget>();
    m_area->resize(800, 600);
    m_area->show();
    m_context = QSharedPointer<BookContext>::create();
    if (!m_context->readBook(m_books->bookById(bookId), m_area.get())) {
        m_context.reset();
        return {};
    }
    auto* widget = dynamic_cast<QWidget*>(m_context->viewer());
    widget->setGeometry(0, 0, 800, 600);
    m_context->viewer()->readBook(m_context);
    TextViewer* text = viewer();
    // A chapter of megabytes is laid out here and counted by the helper for minutes on a machine
    // busy with builds and other tests: the bounds are against a hang only.
    const int bound = 300000;
    const bool shown = waitFor(
        [text] { return text->isVisible() && text->chapterPage() && text->chapterPage()->currentPage() > 0; }, bound);
    const QSharedPointer<BookContext> context = m_context;
    if (!shown
        || (waitForPages
            && !waitFor([context] { return context->currentPage() > 0 && context->pageCount() > 0; }, bound)))
        return {};
    return m_context;
}

void ReadingFixture::close()
{
    m_area.reset();
    m_context.reset();
}

QString ReadingFixture::selectOnScreen(int length)
{
    // The first text a little inside the top-left corner of the screen.
    const QString script = QStringLiteral(
        "(function() { var r = document.caretRangeFromPoint(60, 60); var t = r && r.startContainer;"
        " if (!t || t.nodeType != 3) return ''; var s = document.createRange(); s.setStart(t, r.startOffset);"
        " s.setEnd(t, Math.min(t.length, r.startOffset + %1)); var sel = window.getSelection();"
        " sel.removeAllRanges(); sel.addRange(s); return sel.toString(); })();");
    return viewer()->chapterPage()->mainFrame()->evaluateJavaScript(script.arg(length)).toString();
}

TextViewer* ReadingFixture::viewer() const
{
    return m_context ? dynamic_cast<TextViewer*>(m_context->viewer()) : nullptr;
}

bool ReadingFixture::waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}
