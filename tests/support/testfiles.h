#pragma once

#include <QByteArray>
#include <QString>

// Reading and writing whole files in tests.
namespace testfiles {
// Writes the bytes, replacing the file and making its folder; false unless all were written.
bool write(const QString& path, const QByteArray& bytes);
// The file's bytes; empty when it cannot be read.
QByteArray read(const QString& path);
}
