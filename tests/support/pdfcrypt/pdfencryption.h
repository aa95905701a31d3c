#pragma once

#include <QByteArray>
#include <QString>

// Writes the unencrypted PDF `pdf` to `path` encrypted with the standard security handler
// (AES-128). An empty user password makes a file that opens without one (owner password only).
// False with a warning when MuPDF cannot read the input or write the file.
bool writeEncryptedPdf(
    const QByteArray& pdf, const QString& path, const QString& userPassword, const QString& ownerPassword);
