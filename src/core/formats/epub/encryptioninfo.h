#pragma once

#include <QByteArray>
#include <QString>

namespace epub {

// What "META-INF/encryption.xml" says about a book. Font obfuscation (the IDPF and Adobe
// algorithms) only scrambles embedded fonts: such a book reads like any other.
class EncryptionInfo {
public:
    enum Verdict {
        Unreadable, // missing, too large or not XML: the caller has to guess
        NotEnciphered, // no entries, or only obfuscated fonts
        Enciphered // at least one entry with another algorithm
    };

    static Verdict readFile(const QString& path);
    static Verdict fromData(const QByteArray& data);
    static bool isFontObfuscation(const QString& algorithm);
};

} // namespace epub
