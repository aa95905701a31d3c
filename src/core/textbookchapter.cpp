#include "textbookchapter.h"

#include "bookpageparams.h"
#include "chapterload.h"
#include "jsengine/jsengine.h"
#include "localwebpage.h"
#include "readingfont.h"

#include <QDateTime>
#include <QUrl>
#include <QVariantMap>
#include <QWebFrame>
#include <QWebSettings>
#include <QtDebug>
#include <cmath>

namespace {

// An engine call with its text arguments, each escaped for a single-quoted string.
template <typename... Texts> QString call(const QString& format, const Texts&... texts)
{
    return format.arg(jsengine::escaped(texts)...);
}

// A whole number from the engine; anything else (a text, null, an error) is none.
bool integerResult(const QVariant& result, int* value)
{
    if (jsengine::resultKind(result) != jsengine::ResultKind::Value)
        return false;
    const int type = result.userType();
    if (type != QMetaType::Double && type != QMetaType::Int && type != QMetaType::LongLong)
        return false;
    const double number = result.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || std::fabs(number) > 1e9)
        return false;
    *value = int(number);
    return true;
}

bool isTextResult(const QVariant& result)
{
    return jsengine::resultKind(result) == jsengine::ResultKind::Value && result.userType() == QMetaType::QString;
}

} // namespace

struct TextBookChapter::Private {
    QString source;
    int pageCount = -1;
    int currentPage = -1;
    bool positioning = false; // a reading position is being set: page turns wait
    ChapterLoad* load = nullptr;
};

TextBookChapter::TextBookChapter(QObject* parent)
    : QWebPage(parent)
    , d(new Private)
{
    d->load = new ChapterLoad(this);
}

TextBookChapter::~TextBookChapter() = default;

void TextBookChapter::loadChapter(const QUrl& file, const QString& bookFolder)
{
    setPageChapter(this, bookFolder, file);
    d->load->start(file);
}

ChapterLoad* TextBookChapter::chapterLoad() const { return d->load; }

bool TextBookChapter::acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request, NavigationType type)
{
    switch (d->load->navigation(frame, request, type)) {
    case ChapterNavigation::Follow:
        return true;
    case ChapterNavigation::LinkClick:
        // Handed to the reader (linkClicked): the page itself goes nowhere.
        return QWebPage::acceptNavigationRequest(frame, request, type);
    case ChapterNavigation::Refuse:
        break;
    }
    return false;
}

QString TextBookChapter::source() const { return d->source; }

void TextBookChapter::setSource(const QString& source) { d->source = source; }

int TextBookChapter::currentPage() const { return d->currentPage; }

int TextBookChapter::pageCount() const { return d->pageCount; }

void TextBookChapter::setCurrentPage(int page)
{
    if (d->currentPage == page)
        return;
    d->currentPage = page;
    emit currentPageChanged();
}

QVariant TextBookChapter::evaluate(const QString& callText) { return mainFrame()->evaluateJavaScript(callText); }

QString TextBookChapter::readingLink(const QString& source, const QString& path)
{
    return source + QStringLiteral("?kelpath=") + QString::fromLatin1(QUrl::toPercentEncoding(path));
}

void TextBookChapter::next() { turn(QStringLiteral("next();"), &TextBookChapter::nextChapterRequest); }

void TextBookChapter::prev() { turn(QStringLiteral("prev();"), &TextBookChapter::prevChapterRequest); }

void TextBookChapter::turn(const QString& callText, void (TextBookChapter::*edgeSignal)())
{
    if (d->positioning)
        return;
    int page = 0;
    if (!integerResult(evaluate(callText), &page))
        return;
    if (page >= 1) {
        d->currentPage = page;
        emit currentPageChanged();
    } else {
        // The engine stays on its screen at the chapter's edge; the viewer changes chapter.
        emit(this->*edgeSignal)();
    }
}

bool TextBookChapter::setReadingPosition(const QString& position)
{
    d->positioning = true;
    qInfo() << "set reading position: " << position << "for source" << d->source;
    QString callText;
    bool isNumber = false;
    const int page = position.toInt(&isNumber, 10);
    if (isNumber && page > 0)
        callText = QStringLiteral("moveToPage(%1);").arg(page);
    else if (position.startsWith(QLatin1Char('#')))
        callText = call(QStringLiteral("setReadingPosById('%1');"), position.mid(1));
    else if (position.compare(QLatin1String("start"), Qt::CaseInsensitive) == 0)
        callText = QStringLiteral("moveHome();");
    else if (position.compare(QLatin1String("end"), Qt::CaseInsensitive) == 0)
        callText = QStringLiteral("moveEnd();");
    else if (position.startsWith(QLatin1Char('/')))
        callText = call(QStringLiteral("setReadingPosByXPath('%1');"), position);
    const QVariant result = callText.isEmpty() ? QVariant() : evaluate(callText);
    d->positioning = false;
    int current = 0;
    if (integerResult(result, &current) && current > 0 && current != d->currentPage)
        d->currentPage = current;
    emit currentPageChanged();
    return true;
}

QString TextBookChapter::getReadingLink()
{
    const QVariant result = evaluate(QStringLiteral("getReadingPosXPath();"));
    if (!isTextResult(result)) {
        qWarning() << "data not valid!!!";
        return QString();
    }
    return readingLink(d->source, result.toString());
}

void TextBookChapter::getReadingPosition(std::function<void(QString)> callback)
{
    const QVariant result = evaluate(QStringLiteral("getReadingPosXPath();"));
    if (!isTextResult(result)) {
        qWarning() << "data not valid";
        return;
    }
    const QString path = result.toString();
    emit readingPositionReported(path);
    if (callback)
        callback(path);
}

void TextBookChapter::createBookmarkForCurrentPage()
{
    const QVariant result = evaluate(QStringLiteral("getBookmarkData();"));
    qInfo() << "Bookmark data:" << result;
    const QVariantMap data = result.toMap();
    if (!data.contains(QStringLiteral("path")) || !data.contains(QStringLiteral("text")))
        return;
    BookmarkItem bookmark;
    bookmark.link->source = readingLink(d->source, data.value(QStringLiteral("path")).toString());
    bookmark.text = data.value(QStringLiteral("text")).toString();
    bookmark.date = QDateTime::currentDateTime();
    bookmark.flag = false;
    emit newBookmarkCreated(bookmark);
}

void TextBookChapter::createNoteFromSelection(const QString& noteId, NoteItem::NoteColor color)
{
    const QString selection = selectedText();
    const QVariantMap range
        = evaluate(call(QStringLiteral("createNoteFromSelection('%1', '%2');"), noteId, NoteItem::styleClass(color)))
              .toMap();
    for (const char* key : { "start", "startOffset", "end", "endOffset" }) {
        if (!range.contains(QLatin1String(key)))
            return;
    }
    bool startOk = false;
    bool endOk = false;
    const int startOffset = range.value(QStringLiteral("startOffset")).toInt(&startOk);
    const int endOffset = range.value(QStringLiteral("endOffset")).toInt(&endOk);
    if (!startOk || !endOk)
        return;
    NoteItem note;
    note.id = noteId;
    note.date = QDateTime::currentDateTime();
    note.color = color;
    note.chapter = d->source;
    note.context = selection;
    note.startPath = range.value(QStringLiteral("start")).toString();
    note.endPath = range.value(QStringLiteral("end")).toString();
    note.startOffset = startOffset;
    note.endOffset = endOffset;
    note.link->source = readingLink(d->source, note.startPath) + QStringLiteral("&offset=%1").arg(startOffset);
    emit newNoteCreated(note);
}

void TextBookChapter::addNotes(const QList<NoteItem>& notes)
{
    QString script;
    for (const NoteItem& note : notes) {
        script += QStringLiteral("createNoteFromParams('%1',%2,'%3',%4,'%5','%6');")
                      .arg(jsengine::escaped(note.startPath))
                      .arg(note.startOffset)
                      .arg(jsengine::escaped(note.endPath))
                      .arg(note.endOffset)
                      .arg(jsengine::escaped(NoteItem::styleClass(note.color)), jsengine::escaped(note.id));
    }
    evaluate(script);
}

void TextBookChapter::removeNote(const QString& noteId)
{
    evaluate(call(QStringLiteral("removeNoteById('%1');"), noteId));
}

void TextBookChapter::setNoteStyle(const QString& noteId, const QString& styleName)
{
    evaluate(call(QStringLiteral("setNoteStyleById('%1', '%2');"), noteId, styleName + QStringLiteral("note")));
}

void TextBookChapter::findNoteId(const QPoint& point, std::function<void(QString)> callback)
{
    const QString callText = point == QPoint(0, 0)
        ? QStringLiteral("selectedNoteId();")
        : QStringLiteral("selectedNoteIdAtPoint(%1, %2);").arg(point.x()).arg(point.y());
    const QVariant result = evaluate(callText);
    if (callback)
        callback(isTextResult(result) ? result.toString() : QString());
}

void TextBookChapter::applyPageParams(BookPageParams* params)
{
    if (!params)
        return;
    const int oldCount = d->pageCount;
    const int oldCurrent = d->currentPage;
    d->pageCount = -1;
    d->currentPage = -1;

    readingfont::applyStandardFont(settings(), params->fontFamily());
    if (settings()->fontSize(QWebSettings::DefaultFontSize) != params->fontSize())
        settings()->setFontSize(QWebSettings::DefaultFontSize, params->fontSize());

    const QVariant result = evaluate(params->pageFormatScript());
    if (jsengine::resultKind(result) != jsengine::ResultKind::Value)
        return;
    const QVariantMap layout = result.toMap();
    int value = -1;
    if (integerResult(layout.value(QStringLiteral("pageCount")), &value))
        d->pageCount = value;
    if (integerResult(layout.value(QStringLiteral("currentPage")), &value))
        d->currentPage = value;
    if (d->pageCount != oldCount)
        emit pageCountChanged();
    if (d->currentPage != oldCurrent)
        emit currentPageChanged();
    emit pageFormattingChanged();
}

void TextBookChapter::applyPageColors(BookPageParams* params)
{
    if (params)
        evaluate(params->colorScript());
}

void TextBookChapter::resolveLinkPage(BookLinkPtr link, int pageMode, int pageOffset, std::function<void()> done)
{
    if (link) {
        // A note's offset stays: a note inside a paragraph that began on an earlier page is on
        // the page of its own text, as the page counter reports it.
        QString target = link->source;
        const int pathAt = target.indexOf(QLatin1String("kelpath="));
        const int anchorAt = target.indexOf(QLatin1Char('#'));
        if (pathAt >= 0)
            target = target.mid(pathAt);
        else if (anchorAt >= 0)
            target = target.mid(anchorAt);
        int page = -1;
        if (!integerResult(evaluate(call(QStringLiteral("getPageByKelLink('%1');"), target)), &page) || page < 1) {
            // No such place in this chapter: no page, rather than one shifted by the offset.
            link->page = -1;
        } else {
            if (pageMode != 1)
                page = 2 * page - 1;
            link->page = page + pageOffset;
        }
    }
    if (done)
        done();
}
