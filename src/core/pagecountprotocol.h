#pragma once

#include "formats/chapterpageinfo.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

class QDataStream;

// A request to lay the book out anew: the page-format script (colour script, text-style script
// and page-dimension call), the font the pages use, and the links whose book pages must be known.
struct PaginationRequest {
    QString pageFormatScript;
    int fontSize = 20;
    QString fontFamily;
    QString text; // the number of the chapter list it is for; the helper reads it only into the request key
    QSet<QString> linkSources;
};

// A request to print the book with the page format, to a printer set up like the reader's.
struct PrintRequest {
    QString pageFormatScript;
    int fontSize = 20;
    QString text; // empty, or the absolute path of the PDF file to print into
    QSet<QString> linkSources; // sent empty
    QString printerName;
    qint64 reserved = 0; // no meaning yet; the helper ignores it
    qint64 colorMode = 1; // QPrinter::ColorMode
    qint64 orientation = 0; // QPrinter::Orientation
    qint64 pageSizeId = 0; // QPageSize::PageSizeId
    qint64 copyCount = 1;
};

// What the helper answers a pagination or print request with: every chapter of the last chapter
// list with its start page, page count and the hits of the last search, and the book page of every
// requested link. The helper fills text1 with the search text the hits belong to, number with the
// book's page count, text2 with the sources of the chapters it could not lay out, one a line, and
// text3 with the requestKey of the request it answers (empty when it answers none).
struct PaginationResult {
    QList<ChapterPageInfo> chapters;
    QString text1;
    int number = 0;
    QString text2;
    QString text3;
    QHash<QString, int> linkPages;
};

// The messages between the reader and the page-counting helper. Each is one QDataStream (default
// version) that starts with a qint32 type; the helper channel frames them. Containers use Qt's
// stream forms, but every reader here bounds each count by the bytes left in the payload before
// it allocates, since the payload comes from another process.
namespace pagecount {

enum MessageType : qint32 {
    EngineScript = 0, // to the helper: the engine script with its init call
    ChapterList = 1, // to the helper: the chapters in reading order, then the book's folder
    Pagination = 2, // to the helper: a PaginationRequest; from the helper: a PaginationResult
    Search = 3, // to the helper: the text whose hits the next result carries
    Print = 22, // to the helper: a PrintRequest
    Stop = 85, // to the helper: exit
};

QByteArray engineScriptMessage(const QString& script);
QByteArray chapterListMessage(const QList<ChapterPageInfo>& chapters, const QString& bookFolder);
QByteArray paginationMessage(const PaginationRequest& request);
// Names a pagination request by its content, the same in the reader and in the helper: a result
// tells which layout it counted.
QString requestKey(const PaginationRequest& request);
QByteArray searchMessage(const QString& text);
QByteArray printMessage(const PrintRequest& request);
QByteArray resultMessage(const PaginationResult& result);

// The readers take the stream positioned after the message type. Each returns false, with the
// stream's status set, when the payload is malformed; what was read before that stays filled.
bool readChapters(QDataStream& in, QList<ChapterPageInfo>* chapters);
// A chapter list message: its chapters, and the book's folder, empty when the sender told none.
bool readChapterList(QDataStream& in, QList<ChapterPageInfo>* chapters, QString* bookFolder);
bool readPagination(QDataStream& in, PaginationRequest* request);
bool readPrint(QDataStream& in, PrintRequest* request);
// Fields are read in order; a field that fails is left empty together with every later one.
bool readResult(QDataStream& in, PaginationResult* result);

} // namespace pagecount
