#include "arch/zipreader.h"

#include "arch/entryfile.h"
#include "arch/safepath.h"
#include "eventloops/nestedloop.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <functional>

namespace {
const char* const NameCodec = "IBM866";

enum class WalkKind { All, Each, ByName, ByPattern };

// The log lines of one walk kind; %1 is the library's error code.
struct WalkMessages {
    QtMsgType level;
    const char* open;
    const char* info;
    const char* entryOpen;
    const char* entryError;
    const char* notAtEnd;
    const char* entryClose;
    const char* archiveClose;
};

const WalkMessages& messagesFor(WalkKind kind)
{
    static const WalkMessages all
        = { QtCriticalMsg, "Extract archive. Error:%1", "Get zip-file info error:%1", "Open zip-file. Error:%1",
              "Unzip file. Error:%1", "Unzip file. Error:%1", "Unzip file. Error:%1", "Unzip file. Error:%1" };
    static const WalkMessages byName = { QtCriticalMsg, "Read zip failed. Open zip. Error code:%1",
        "Read zip failed. Get file info. Error code:%1", "Read zip failed. Error code:%1",
        "Read zip failed. Error code:%1", "Read zip failed. read all but not EOF", "Read zip failed. Error code:%1",
        "Read zip failed. Error code:%1" };
    static const WalkMessages byPattern = { QtWarningMsg, "testRead(): zip.open(): %1",
        "testRead(): getCurrentFileInfo(): %1\n", "testRead(): file.open(): %1", "testRead(): file.getFileName(): %1",
        "testRead(): read all but not EOF", "testRead(): file.close(): %1", "testRead(): zip.close(): %1" };
    switch (kind) {
    case WalkKind::All:
    case WalkKind::Each:
        return all;
    case WalkKind::ByName:
        return byName;
    case WalkKind::ByPattern:
        break;
    }
    return byPattern;
}

// One pass over the entries of an open-able archive, writing the selected ones.
class ZipWalk {
public:
    ZipWalk(WalkKind kind, const char* function)
        : m_kind(kind)
        , m_messages(messagesFor(kind))
        , m_function(function)
    {
    }

    std::function<bool(const QString& storedName)> select;
    std::function<void(const QString& storedName, const QString& path)> written;
    // Shared with other walks instead of the walk's own.
    UnpackBudget* sharedBudget = nullptr;
    checkedsave::Failure* diskFailure = nullptr;
    QList<QFileInfo>* extracted = nullptr;
    QString* outPath = nullptr;

    bool run(QuaZip& zip, const QString& destDir);

private:
    bool extractCurrent(QuaZip& zip, const QString& destDir);
    void record(const QString& storedName, const QString& path);
    QMessageLogger logger() const { return QMessageLogger(__FILE__, __LINE__, m_function); }
    void log(QtMsgType level, const QString& text) const;
    bool fail(const char* message, int code) const;
    bool failOnDisk(const char* message, const QString& detail, const QString& path) const;

    WalkKind m_kind;
    const WalkMessages& m_messages;
    const char* m_function;
    UnpackBudget m_budget;
    QString m_canonicalDestDir; // resolved once per walk
};

void ZipWalk::log(QtMsgType level, const QString& text) const
{
    if (level == QtCriticalMsg)
        logger().critical().noquote() << text;
    else if (level == QtWarningMsg)
        logger().warning().noquote() << text;
    else
        logger().debug().noquote() << text;
}

bool ZipWalk::fail(const char* message, int code) const
{
    log(m_messages.level, QString::fromLatin1(message).arg(code));
    return false;
}

// Disk-side failures carry minizip's I/O error code and a line that names the file.
bool ZipWalk::failOnDisk(const char* message, const QString& detail, const QString& path) const
{
    log(m_messages.level, detail);
    if (diskFailure && *diskFailure == checkedsave::Failure::None) {
        const checkedsave::Failure cause = checkedsave::classifyFolder(path);
        *diskFailure = cause == checkedsave::Failure::None ? checkedsave::Failure::Other : cause;
    }
    return fail(message, UNZ_ERRNO);
}

void ZipWalk::record(const QString& storedName, const QString& path)
{
    if (m_kind == WalkKind::Each) {
        if (written)
            written(storedName, path);
    } else if (m_kind == WalkKind::All) {
        if (extracted)
            extracted->append(QFileInfo(path));
    } else if (outPath) {
        *outPath = path;
    }
}

bool ZipWalk::run(QuaZip& zip, const QString& destDir)
{
    if (!zip.open(QuaZip::mdUnzip))
        return fail(m_messages.open, zip.getZipError());
    zip.setFileNameCodec(NameCodec);
    QDir().mkpath(destDir);
    m_canonicalDestDir = QFileInfo(destDir).canonicalFilePath();
    if (m_kind == WalkKind::ByPattern) {
        log(QtWarningMsg, QStringLiteral("%1 entries\n").arg(zip.getEntriesCount()));
        log(QtWarningMsg, QStringLiteral("Global comment: %1\n").arg(zip.getComment()));
    }
    // minizip reports a bad archive when asked for the first of no entries.
    const bool hasEntries = zip.getEntriesCount() > 0;
    for (bool more = hasEntries && zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (m_kind == WalkKind::All)
            NestedLoop::processEvents();
        if (!extractCurrent(zip, destDir))
            return false;
    }
    // The walk also ends on a damaged central directory: that is a failure, not the end.
    if (hasEntries && zip.getZipError() != UNZ_OK)
        return fail(m_messages.info, zip.getZipError());
    zip.close();
    if (zip.getZipError() != UNZ_OK)
        return fail(m_messages.archiveClose, zip.getZipError());
    return true;
}

bool ZipWalk::extractCurrent(QuaZip& zip, const QString& destDir)
{
    QuaZipFileInfo64 info;
    if (!zip.getCurrentFileInfo(&info))
        return fail(m_messages.info, zip.getZipError());
    if (select && !select(info.name))
        return true;

    QuaZipFile file(&zip);
    if (!file.open(QIODevice::ReadOnly))
        return fail(m_messages.entryOpen, file.getZipError());
    const QString name = file.getActualFileName();
    if (m_kind == WalkKind::ByName || m_kind == WalkKind::ByPattern)
        logger().warning() << "Actual file name:" << name;

    const QString path = safeEntryPath(destDir, name);
    if (path.isEmpty()) {
        logger().warning() << "Skipping an entry that would be written outside" << destDir << ":" << name;
        return true;
    }
    const QFileInfo target(path);
    if (m_kind == WalkKind::All && (target.exists() || target.isSymLink()))
        return true;
    logger().debug() << "File info:" << path;
    if (file.getZipError() != UNZ_OK)
        return fail(m_messages.entryError, file.getZipError());

    const bool folder = name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\'));
    EntryFile out(destDir, path, sharedBudget ? *sharedBudget : m_budget);
    out.setCanonicalDestDir(m_canonicalDestDir);
    // A whole book is unpacked at every opening: its files are not forced to disk one by one.
    out.setSyncToDisk(m_kind != WalkKind::All && m_kind != WalkKind::Each);
    if (folder) {
        QString error;
        if (!EntryFile::makeFolder(destDir, path, &error))
            return failOnDisk(m_messages.entryError, error, path);
    } else {
        if (!out.open())
            return failOnDisk(m_messages.entryError, out.errorString(), path);
        const EntryFile::CopyResult copied
            = out.copyFrom([&file](char* buffer, qint64 size) { return file.read(buffer, size); });
        if (copied == EntryFile::ReadFailed || file.getZipError() != UNZ_OK)
            return fail(m_messages.entryError, file.getZipError());
        if (copied != EntryFile::Copied)
            return failOnDisk(m_messages.entryError, out.errorString(), path);
        if (!file.atEnd()) {
            if (m_kind == WalkKind::ByName)
                log(QtWarningMsg, QStringLiteral("testRead(): read all but not EOF"));
            log(m_messages.level, QString::fromLatin1(m_messages.notAtEnd).arg(file.getZipError()));
            return false;
        }
    }
    // Closing checks the entry's CRC: only a verified entry gets its real name.
    file.close();
    if (file.getZipError() != UNZ_OK)
        return fail(m_messages.entryClose, file.getZipError());
    if (!folder && !out.commit())
        return failOnDisk(m_messages.entryError, out.errorString(), path);
    record(info.name, path);
    return true;
}
}

bool ZipReader::extractAll(const QString& archive, const QString& destDir, QList<QFileInfo>* extracted)
{
    QFile file(archive);
    return ZipReader::extractAll(&file, destDir, extracted);
}

bool ZipReader::extractAll(QIODevice* device, const QString& destDir, QList<QFileInfo>* extracted)
{
    QuaZip zip(device);
    ZipWalk walk(WalkKind::All, Q_FUNC_INFO);
    walk.extracted = extracted;
    return walk.run(zip, destDir);
}

bool ZipReader::extract(const QString& archive, const QRegExp& pattern, const QString& destDir, QString& outPath)
{
    QuaZip zip(archive);
    ZipWalk walk(WalkKind::ByPattern, Q_FUNC_INFO);
    if (!pattern.isEmpty())
        walk.select = [&pattern](const QString& name) { return pattern.indexIn(name) >= 0; };
    walk.outPath = &outPath;
    return walk.run(zip, destDir);
}

bool ZipReader::extract(const QString& archive, const QString& entryName, const QString& destDir, QString& outPath)
{
    QuaZip zip(archive);
    ZipWalk walk(WalkKind::ByName, Q_FUNC_INFO);
    if (!entryName.isEmpty())
        walk.select
            = [&entryName](const QString& name) { return QString::compare(name, entryName, Qt::CaseInsensitive) == 0; };
    walk.outPath = &outPath;
    return walk.run(zip, destDir);
}

bool ZipReader::extractEach(const QString& archive, const QString& destDir,
    const std::function<bool(const QString& storedName)>& claim,
    const std::function<void(const QString& storedName, const QString& path)>& written, UnpackBudget* budget,
    checkedsave::Failure* diskFailure)
{
    QuaZip zip(archive);
    ZipWalk walk(WalkKind::Each, Q_FUNC_INFO);
    walk.select = claim;
    walk.written = written;
    walk.sharedBudget = budget;
    walk.diskFailure = diskFailure;
    return walk.run(zip, destDir);
}

QStringList ZipReader::files(const QString& archive)
{
    QuaZip zip(archive);
    if (!zip.open(QuaZip::mdUnzip)) {
        qCritical("Read zip failed. Error code:%d", zip.getZipError());
        return QStringList();
    }
    zip.setFileNameCodec(NameCodec);
    const QStringList names = zip.getFileNameList();
    zip.close();
    return names;
}

QString ZipReader::singleEntrySuffix(const QString& zipPath)
{
    QuaZip zip(zipPath);
    if (!zip.open(QuaZip::mdUnzip))
        return QString();
    QString suffix;
    QuaZipFileInfo64 info;
    if (zip.getEntriesCount() == 1 && zip.goToFirstFile() && zip.hasCurrentFile() && zip.getCurrentFileInfo(&info))
        suffix = QFileInfo(info.name).suffix().toLower();
    zip.close();
    return suffix;
}
