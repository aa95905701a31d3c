// Adding books on the background task: a folder of generated books of every format is added to
// an empty library (read, covers scaled, stored through the book model), then the library is
// exported into an archive and that archive imported into a second, empty library. The library
// settles each book with the importer as the library page does; the bench reports whether the
// progress ever ran ahead of the stored books and how long after the last one the run ended.
// Usage: bench_libraryimport [book count, default 200] [small: FB2 books without covers]

#include "appdirs.h"
#include "import/bookimporter.h"
#include "librarybooks.h"
#include "librarytestdb.h"
#include "models/bookmodel.h"
#include "models/bookprovider.h"
#include "models/foldermodel.h"
#include "pdfenginefile.h"
#include "temphome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <cstdio>

#include <memory>

namespace {

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

long peakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The library page's part: store what the task read, on the GUI thread, and tell the importer.
struct Library {
    Library()
    {
        open = BookProvider::instance()->createConnection(databasePath());
        folders.reload();
        books.setFolderModel(&folders);
        books.selectAll();
        bookimporter* importer = bookimporter::instance();
        importer->setStore(&books);
        QObject::connect(
            importer, &bookimporter::itemProcessed, &books, [this, importer](ItemStatus status, const BookDto& item) {
                if (status != ItemAdded)
                    return;
                const int id = books.addBook(item);
                if (id > 0 && !item.folder_title.isEmpty())
                    folders.addBookToCategory(id, folders.findOrAddCategory(item.folder_title));
                lastStored.start();
                importer->booksSettled(1);
            });
        QObject::connect(importer, &bookimporter::progress, &books, [this](int current) {
            if (current > books.rowCount())
                ++progressAhead;
        });
        QObject::connect(importer, &bookimporter::finished, &books,
            [this] { endedAfterLastStored = lastStored.isValid() ? lastStored.elapsed() : -1; });
    }
    ~Library() { closeLibrary(); }
    bool open = false;
    FolderModel folders;
    BookModel books;
    QElapsedTimer lastStored;
    int progressAhead = 0;
    qint64 endedAfterLastStored = -1;
};

// Runs the event loop until the task reports its end; the elapsed milliseconds.
template <typename Signal>
qint64 runUntil(Signal signal, const std::function<void()>& begin)
{
    QEventLoop loop;
    const auto connection = QObject::connect(bookimporter::instance(), signal, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    begin();
    loop.exec();
    // Let the queued additions reach the models.
    QCoreApplication::processEvents();
    QObject::disconnect(connection);
    return timer.elapsed();
}

void report(const char* what, qint64 ms, int books)
{
    out() << what << ": " << ms << " ms, " << QString::number(double(ms) / qMax(1, books), 'f', 2) << " ms per book\n";
    out().flush();
}

// How the run's end and progress followed the storing.
void reportStoring(const Library& library)
{
    out() << "books in the library: " << library.books.rowCount() << ", progress ahead of them "
          << library.progressAhead << " times, run ended " << library.endedAfterLastStored
          << " ms after the last book was stored\n";
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Only failures are worth showing between the results.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Brindle Folvane"));
    pdfengine::setLibraryPath(
        QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/") + pdfengine::fileName());
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 200;
    const bool small = argc > 2 && qstrcmp(argv[2], "small") == 0;
    QTemporaryDir outside;
    const QString archive = outside.filePath(QStringLiteral("library.olv"));

    {
        TempHome home;
        Library library;
        if (!library.open) {
            out() << "cannot create the library\n";
            return 1;
        }
        const QStringList suffixes = small ? QStringList { QStringLiteral("fb2") } : librarybooks::suffixes();
        for (const QString& suffix : suffixes)
            QDir().mkpath(home.filePath(QStringLiteral("Shelf/") + suffix));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < count; ++i) {
            librarybooks::BookRecipe recipe;
            recipe.title = QStringLiteral("Book %1").arg(i);
            recipe.coverSize = small ? QSize() : QSize(600, 900);
            recipe.chapters = small ? 1 : 4;
            const QString suffix = suffixes.at(i % suffixes.size());
            librarybooks::write(
                home.filePath(QStringLiteral("Shelf/%1/book%2.%3").arg(suffix).arg(i).arg(suffix)), recipe);
        }
        out() << "generated " << count << " books in " << timer.elapsed() << " ms\n";

        const qint64 adding = runUntil(&bookimporter::finished,
            [&] { bookimporter::instance()->start(QString(), { home.filePath(QStringLiteral("Shelf")) }); });
        report("add a folder of books", adding, count);
        reportStoring(library);

        const QList<BookDto> books = BookProvider::instance()->allBooksWithFolderTitle();
        const qint64 exporting
            = runUntil(&bookimporter::exported, [&] { bookimporter::instance()->exportToArchive(archive, books); });
        report("export the library", exporting, books.size());
        out() << "archive size: " << QFileInfo(archive).size() / 1024 << " KiB\n";
    }
    {
        TempHome home;
        Library library;
        const qint64 importing
            = runUntil(&bookimporter::finished, [&] { bookimporter::instance()->importFromArchive(archive); });
        report("import the archive into an empty library", importing, count);
        reportStoring(library);
    }
    out() << "peak resident memory: " << peakRssKb() / 1024 << " MiB\n";
    return 0;
}
