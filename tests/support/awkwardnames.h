#pragma once

#include <QString>
#include <QStringList>

// Archive entry names that readers must survive, for fixtures built with ZipWriter,
// RarWriter or SevenZWriter (all three write names exactly as given).
namespace awkwardnames {
// Names that try to leave the destination folder: parent steps (also with backslashes and
// after a harmless folder), a drive name, and absoluteOutside itself (an absolute path the
// test watches). None of them may ever be written.
QStringList escaping(const QString& absoluteOutside);
// A Cyrillic name with a folder that IBM 866 can encode (legacy ZIP and RAR names).
QString dosCyrillic();
// Cyrillic with a dash that IBM 866 lacks: only Unicode names can carry it.
QString unicodeCyrillic();
// Japanese, Cyrillic, guillemets and the numero sign in one name with a folder.
QString unicodeMixed();
}
