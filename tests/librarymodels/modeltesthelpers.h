#pragma once

#include "models/bookmodel.h"
#include "models/foldermodel.h"

#include <QAbstractItemModelTester>
#include <QStringList>

class SampleLibrary;

// The folder and book models over the open library, wired and loaded as the application does at
// start-up, each checked by a model tester for as long as it lives.
class LibraryModels {
public:
    LibraryModels();

    FolderModel folders;
    BookModel books;

private:
    QAbstractItemModelTester m_folderTester;
    QAbstractItemModelTester m_bookTester;
};

// The values of one column (or role) of every row, in row order, as texts.
QStringList columnTexts(const QAbstractItemModel& model, int role, int column = 0);
// The keys of the sample library's books in the row order of a model of books.
QStringList bookKeysInOrder(const QAbstractItemModel& model, const SampleLibrary& library);
