#pragma once

#include <QObject>
#include <QString>

#include <memory>

// Asks the update address for the newest version of the program with one HTTP GET and
// announces a newer one with newVersionAvalible. The answer is untrusted: it must be a plain
// version number ("6.2.10", white space around it allowed) of at most 1 MiB, or the check ends
// in error(). Every started check ends with finished(); a running check is cancelled when a
// new one starts, and one that takes longer than its time-out ends in error().
class Updater : public QObject {
    Q_OBJECT

public:
    // changelogUrl and downloadUrl are handed on with newVersionAvalible, and only when they
    // are http or https addresses (otherwise an empty text is handed on in their place).
    Updater(const QString& deviceId, const QString& productId, const QString& checkUrl, const QString& changelogUrl,
        const QString& downloadUrl, QObject* parent = nullptr);
    ~Updater() override;

    // Starts one check; timeoutMs <= 0 selects 30 s. The signals come after this returns,
    // except that a check still running is cancelled (its finished()) right away.
    void checkForUpdates(int timeoutMs);

    // The version in a server answer: true and the version's text when the whole answer,
    // white space trimmed, is dot-separated decimal numbers (at most 16 of at most 9 digits).
    static bool parseServerVersion(const QByteArray& body, QString* version);

signals:
    void finished();
    void newVersionAvalible(const QString& version, const QString& changelogUrl, const QString& downloadUrl);
    void error(const QString& errorString);

private:
    class Private;
    std::unique_ptr<Private> d;
};
