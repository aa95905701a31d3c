#pragma once

#include <QMetaType>
#include <QObject>

// Enumerations shared by the library storage, the shell and both pages. Their values are
// stored in the settings file and the database, so they never change.
namespace Enums {
Q_NAMESPACE

// Library categories. A format category is BookFormat + the book-format code; a folder
// category is MaxBookFormat + the folder id (folder ids start at 1).
// A fixed underlying type, so format and folder categories are values of the type too.
enum BookCategory : int {
    RecentlyRead = 0,
    LastAdded = 1,
    AllBooks = 2,
    Favorites = 3,
    Deleted = 4,
    MaxCategory = 5,
    AppSettings = 6, // the settings page, not a filter
    BookFormat = 1000,
    MaxBookFormat = 1100,
};
Q_ENUM_NS(BookCategory)

// The same value selects the list layout and the item mode.
enum LibraryViewMode {
    View_Table = 0,
    View_Cards = 1,
};
Q_ENUM_NS(LibraryViewMode)

// Actions on a book item, passed as the role of the book model's setData.
enum LibraryAction {
    NoAction = 0,
    Open = 1,
    ToFavorite = 2,
    FromFavorite = 3,
    ToTrash = 4,
    RestoreFromTrash = 5,
    DeleteFromLibrary = 6,
    Properties = 7,
    MoveToFolder = 8,
    RemoveFromFolder = 9,
    UpdateItem = 10,
};
Q_ENUM_NS(LibraryAction)

// Paragraph alignment of the reading view; CSS values "inherit", "left", "right", "center",
// "justify" in this order.
enum TextAlignment {
    OriginTextAlign = 0,
    LeftTextAlign = 1,
    RightTextAlign = 2,
    CenterTextAlign = 3,
    JustifyTextAlign = 4,
};
Q_ENUM_NS(TextAlignment)

// Results of importing a library archive.
enum ImportErrors {
    ImportNoError = 0,
    ImportContainerCorrupted = 1,
    ImportDecompressError = 2,
    ImportCanceled = 3,
};
Q_ENUM_NS(ImportErrors)

// Results of exporting the library into an archive.
enum ExportErrors {
    ExportNoError = 0,
    ExportLibraryEmpty = 1,
    ExportCompressError = 2,
    ExportCanceled = 3,
};
Q_ENUM_NS(ExportErrors)
}

// Q_ENUM_NS registers each enum with the meta-type system under its qualified name
// ("Enums::TextAlignment"), so no Q_DECLARE_METATYPE is needed.
