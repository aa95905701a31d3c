#include "librarytestdb.h"

#include "formats/bookformat.h"
#include "models/bookprovider.h"
#include "models/librarymessagebox.h"
#include "sqlitepages.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

void closeLibrary()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

bool writeDatabaseFile(const QString& path, const QStringList& statements)
{
    return sqlitepages::execute(path, statements);
}

namespace {

// The first column of every row of a statement with one bound value.
QStringList firstColumn(const QString& sql, const QString& name, const QString& value)
{
    QSqlQuery query;
    query.prepare(sql);
    query.bindValue(name, value);
    QStringList values;
    if (query.exec()) {
        while (query.next())
            values.append(query.value(0).toString());
    }
    return values;
}

} // namespace

QStringList columnsOf(const QString& table)
{
    return firstColumn(QStringLiteral("select name from pragma_table_info(:table)"), QStringLiteral(":table"), table);
}

QStringList schemaNames(const QString& type)
{
    return firstColumn(
        QStringLiteral("select name from sqlite_master where type = :type and name not like 'sqlite_%' order by name"),
        QStringLiteral(":type"), type);
}

QString scalar(const QString& sql)
{
    QSqlQuery query;
    if (query.exec(sql) && query.next())
        return query.value(0).toString();
    return QString();
}

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex()
                                          : QByteArray();
}

BookDto makeBook(const QString& path, const QString& title, int format)
{
    BookDto book;
    book.full_path = path;
    book.cover = path + QStringLiteral(".cover.jpg");
    book.title = title;
    book.author = QStringLiteral("Author of ") + title;
    book.format = format;
    book.time_added = quint32(QDateTime::currentSecsSinceEpoch());
    return book;
}

bool buildLibrary(BookProvider* db, int count, const QString& snapshot)
{
    QSqlQuery unit;
    if (!unit.exec(QStringLiteral("BEGIN")))
        return false;
    QList<int> folders;
    for (const char* title : { "Classics", "Mystery", "Науч-поп" })
        folders.append(db->addCategory(QString::fromUtf8(title), 0));
    QList<BookDto> books;
    for (int i = 0; i < count; ++i) {
        const QString shelf = i % 20 == 7 ? QStringLiteral("A shelf with a long name %1/").arg(i).repeated(25)
                                          : QStringLiteral("Shelf %1/").arg(i % 9);
        BookDto book = makeBook(QStringLiteral("/home/reader/Books/%1book %2.epub").arg(shelf).arg(i),
            QStringLiteral("Книга %1").arg(i), BookFormat::Epub);
        book.notes_count = i % 7;
        book.max_position = 1000 + i;
        book.metadata = { { 2, QStringLiteral("Publisher %1").arg(i % 13) },
            { 6, QStringLiteral("A description as long as publishers write them. ").repeated(i % 20 == 7 ? 100 : 3) } };
        books.append(book);
    }
    QList<int> ids;
    bool ok = !folders.contains(-1) && db->addAll(books, ids);
    for (int i = 0; ok && i < ids.size(); ++i) {
        ok = (i % 5 || db->setFavorite(ids[i], 1)) && (i % 23 || db->setDeleted(ids[i], 1))
            && (i % 4 == 3 || db->addBookToCategory(ids[i], folders[i % 3]));
    }
    if (!unit.exec(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")) || !ok)
        return false;
    if (!snapshot.isEmpty() && !QFile::copy(QSqlDatabase::database().databaseName(), snapshot))
        return false;
    for (int i = count / 2; ok && i < count / 2 + count / 15; ++i)
        ok = !db->deleteFromLibrary(ids[i]).isNull();
    return ok && db->setFavorite(ids[9], 1);
}

BoxRecorder::BoxRecorder()
{
    LibraryMessageBox::setHandler(
        [this](const QString& title, const QString& text, QMessageBox::StandardButtons shown) {
            offGuiThread = offGuiThread || QThread::currentThread() != QCoreApplication::instance()->thread();
            boxes.append({ title, text });
            buttons.append(shown);
            return answer;
        });
}

BoxRecorder::~BoxRecorder() { LibraryMessageBox::setHandler(nullptr); }
