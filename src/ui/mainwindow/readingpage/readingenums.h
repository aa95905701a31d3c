#pragma once

#include <QObject>

namespace ReadingEnums {
Q_NAMESPACE

// The pages of the reading page's two slide boxes; the masks tell the side a page opens on.
enum SideBar {
    None = 0,
    Toc = 1,
    Notes = 2,
    Bookmarks = 4,
    Search = 8,
    Settings = 16,
    Print = 32,
    LeftSideMask = 15,
    RightSideMask = 240
};
Q_ENUM_NS(SideBar)

} // namespace ReadingEnums
