#include "modeltesthelpers.h"

#include "samplelibrary.h"

LibraryModels::LibraryModels()
    : m_folderTester(&folders, QAbstractItemModelTester::FailureReportingMode::QtTest)
    , m_bookTester(&books, QAbstractItemModelTester::FailureReportingMode::QtTest)
{
    folders.reload();
    books.setFolderModel(&folders);
    books.selectAll();
}

QStringList columnTexts(const QAbstractItemModel& model, int role, int column)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row, column).data(role).toString());
    return texts;
}

QStringList bookKeysInOrder(const QAbstractItemModel& model, const SampleLibrary& library)
{
    QStringList keys;
    for (int row = 0; row < model.rowCount(); ++row) {
        const int id = model.index(row, 0).data(BookModel::IdRole).toInt();
        QString key = QStringLiteral("?%1").arg(id);
        for (const QString& candidate : SampleLibrary::bookKeys()) {
            if (library.id(candidate) == id)
                key = candidate;
        }
        keys.append(key);
    }
    return keys;
}
