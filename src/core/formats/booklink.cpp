#include "booklink.h"

#include <QUuid>

namespace {

void registerBookLinkTypes()
{
    qRegisterMetaType<BookLinkItem>("BookLinkItem");
    qRegisterMetaType<SearchItem>("SearchItem");
    qRegisterMetaType<BookLinkPtr>("BookLinkPtr");
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(registerBookLinkTypes)

QString newBookLinkId() { return QUuid::createUuid().toString(QUuid::Id128); }

BookLinkItem::BookLinkItem()
    : link(BookLinkPtr::create())
    , id(newBookLinkId())
{
}

QJsonObject BookLinkItem::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("Source"), link ? link->source : QString());
    object.insert(QStringLiteral("Title"), title);
    return object;
}
