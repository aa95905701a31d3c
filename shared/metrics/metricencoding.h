#pragma once

#include <QString>

// The encodings shared by the metrics requests, the machine description and the update check.
namespace metrics {

// Seed of the device hash, shared with the update check.
extern const char* const kDeviceSeed;

// Lower-case hexadecimal MD5 digest of the UTF-8 bytes of text.
QString md5Hex(const QString& text);
// The hash under which a device is known to the servers: md5Hex(deviceId + seed).
QString deviceHash(const QString& deviceId);
// UTF-8, every byte but ASCII letters, digits, "-", ".", "_" and "~" written as %XX.
QString percentEncoded(const QString& text);

}
