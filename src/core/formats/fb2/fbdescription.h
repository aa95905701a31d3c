#pragma once

#include <QDate>
#include <QDomElement>
#include <QList>
#include <QString>
#include <QStringList>

namespace fb2 {

// One author or translator of an FB2 description.
struct FbAuthor {
    QString firstName;
    QString lastName;
    QString middleName;
    QString contact; // "email" or "nickname", whichever comes later
};

// The "title-info" of a description: the book itself.
struct FbTitleInfo {
    QStringList genres;
    FbAuthor author; // every "author" element merged into one record, later parts winning
    QString bookTitle;
    QString annotation; // plain text, markup dropped
    QDomElement coverPage;
    QString coverImageRef; // binary id of the last image of the cover page
    QStringList keywords;
    QDate date;
    QString lang;
    QString srcLang;
    QList<FbAuthor> translators;
};

// The "publish-info": the printed edition.
struct FbPublishInfo {
    QString bookName;
    QString publisher;
    QString city;
    QString year; // as written
};

// The "document-info": the electronic file.
struct FbDocumentInfo {
    FbAuthor author;
    QString programUsed;
    QDate date;
    QString id;
    QString version;
};

struct FbDescription {
    FbTitleInfo titleInfo;
    FbPublishInfo publishInfo;
    FbDocumentInfo documentInfo;
};

} // namespace fb2
