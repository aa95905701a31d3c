#include "importtesthelpers.h"

#include "import/bookimporter.h"
#include "models/bookmodel.h"
#include "models/foldermodel.h"
#include "pdfenginefile.h"
#include "testpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTest>

#include <zlib.h>

void usePdfEngine() { pdfengine::setLibraryPath(testpaths::binDir() + QLatin1Char('/') + pdfengine::fileName()); }

QString writeBook(const QString& dir, const QString& fileName, const librarybooks::BookSpec& recipe)
{
    QDir().mkpath(dir);
    const QString path = QDir(dir).absoluteFilePath(fileName);
    if (!librarybooks::write(path, recipe)) {
        qWarning() << "Cannot write the test book" << path;
        return QString();
    }
    return path;
}

bool centreHasColour(const QImage& image, const QColor& colour)
{
    if (image.isNull())
        return false;
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    return qAbs(centre.red() - colour.red()) <= 3 && qAbs(centre.green() - colour.green()) <= 3
        && qAbs(centre.blue() - colour.blue()) <= 3;
}

QByteArray claimedSizePng(quint32 width, quint32 height)
{
    librarybooks::BookSpec tiny;
    tiny.coverSize = QSize(1, 1);
    QByteArray png = librarybooks::coverPng(tiny);
    // The IHDR chunk: its data start at 16 (width, height), its checksum follows at 29.
    const auto putBigEndian = [&png](int at, quint32 value) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = char(value >> (24 - 8 * i));
    };
    putBigEndian(16, width);
    putBigEndian(20, height);
    putBigEndian(29, quint32(::crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17)));
    return png;
}

ImportRecorder::ImportRecorder()
{
    bookimporter* importer = bookimporter::instance();
    // Direct connections: each lambda runs on the thread that emits.
    m_connections << QObject::connect(
        importer, &bookimporter::importStarted, [this] { record(QStringLiteral("importStarted")); });
    m_connections << QObject::connect(
        importer, &bookimporter::exportStarted, [this] { record(QStringLiteral("exportStarted")); });
    m_connections << QObject::connect(importer, &bookimporter::itemProcessed, [this](ItemStatus status, BookDto item) {
        items.append({ status, item });
        record(QStringLiteral("item %1").arg(int(status)));
    });
    m_connections << QObject::connect(importer, &bookimporter::progress, [this](int current, int total) {
        progress.append({ current, total });
        record(QStringLiteral("progress %1/%2").arg(current).arg(total));
    });
    m_connections << QObject::connect(importer, &bookimporter::finished, [this](int ok, int total) {
        ++finishedCount;
        record(QStringLiteral("finished %1/%2").arg(ok).arg(total));
    });
    m_connections << QObject::connect(importer, &bookimporter::exported, [this](int ok, int total) {
        ++finishedCount;
        exported.append({ ok, total });
        record(QStringLiteral("exported %1/%2").arg(ok).arg(total));
    });
}

ImportRecorder::~ImportRecorder()
{
    for (const QMetaObject::Connection& connection : qAsConst(m_connections))
        QObject::disconnect(connection);
}

void ImportRecorder::record(const QString& event)
{
    events.append(event);
    threads.insert(QThread::currentThread());
}

bool ImportRecorder::waitFinished(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return finishedCount >= count; }, timeoutMs);
}

bool ImportRecorder::waitItems(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return items.size() >= count; }, timeoutMs);
}

LibraryAdder::LibraryAdder(BookModel& books, FolderModel& folders)
{
    m_connection = QObject::connect(
        bookimporter::instance(), &bookimporter::itemProcessed, &books,
        [this, &books, &folders](ItemStatus status, const BookDto& item) {
            if (status != ItemAdded)
                return;
            const int id = books.addBook(item);
            if (id <= 0)
                return;
            addedIds.append(id);
            if (!item.folder_title.isEmpty())
                folders.addBookToCategory(id, folders.findOrAddCategory(item.folder_title));
        },
        Qt::QueuedConnection);
}

LibraryAdder::~LibraryAdder() { QObject::disconnect(m_connection); }

namespace {

struct CatcherState {
    QMutex mutex;
    QString text;
    QStringList messages;
    QtMessageHandler previous = nullptr;
};

CatcherState& catcher()
{
    static CatcherState state;
    return state;
}

void catchMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    CatcherState& state = catcher();
    {
        QMutexLocker lock(&state.mutex);
        if (message.contains(state.text))
            state.messages.append(message);
    }
    if (state.previous)
        state.previous(type, context, message);
}

} // namespace

MessageCatcher::MessageCatcher(const QString& text)
{
    QMutexLocker lock(&catcher().mutex);
    catcher().text = text;
    catcher().messages.clear();
    catcher().previous = qInstallMessageHandler(catchMessage);
}

MessageCatcher::~MessageCatcher() { qInstallMessageHandler(catcher().previous); }

QStringList MessageCatcher::messages() const
{
    QMutexLocker lock(&catcher().mutex);
    return catcher().messages;
}
