#pragma once

#include <QString>

// Makes the reader the desktop's handler of a book type: a desktop entry for the running
// executable and its icon in the user's data folder, then "xdg-mime default" for the type.
// Nothing is written unless asked.
namespace DefaultApp {

// The desktop entry's file name, also the handler name xdg-mime records.
QString desktopFileName();
// The entry text for an executable (quoted for the Exec key).
QString desktopEntry(const QString& executablePath);
// The MIME type of a book file extension ("epub" or ".epub"), empty when unknown.
QString mimeTypeFor(const QString& extension);
// Writes the entry and the icon and registers the type; false with a readable error.
bool registerFor(const QString& extension, QString* error);

} // namespace DefaultApp
