#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

// A search hit inside one chapter as the page counter reports it.
struct ChapterHit {
    QString link;
    QString text;
    int page = 0;
};

// One chapter of a text book as handed to pagination; the document fills name and file,
// pagination fills the counts and hits.
struct ChapterPageInfo {
    int startPage = -1; // pages before this chapter; -1 until counted
    int pageCount = 0;
    QString source; // the chapter name exactly as in the chapter list
    QUrl fileUrl;
    QHash<QString, int> localPages; // kept with the record, never sent
    QList<ChapterHit> hits;
};
