#include "librarytestdb.h"

#include "models/librarymessagebox.h"
#include "sqlitepages.h"

#include <QCoreApplication>
#include <QCryptographicHash>
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
