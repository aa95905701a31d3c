#pragma once

#include <QByteArray>
#include <QString>

// Writes `pdf` encrypted with AES-128 (an empty user password opens without one); false with a
// warning when MuPDF cannot read or write it.
bool writeEncryptedPdf(
    const QByteArray& pdf, const QString& path, const QString& userPassword, const QString& ownerPassword);
