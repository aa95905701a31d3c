#pragma once

#include <QStringList>
#include <QTemporaryDir>

// Drives the recording fake engine (fakeengine/pdfenginerecorder.h) from a test: the script it
// reads when loaded and the log of the calls it received. Only one may exist at a time.
class FakeEngine {
public:
    FakeEngine();
    ~FakeEngine();

    // The builds of the fake: complete, without DPLPageCount, without DPLCreateLibrary.
    static QString completePath();
    static QString withoutPageCountPath();
    static QString withoutCreateLibraryPath();
    // An engine that implements PageCount, LastErrorCode and GetInformation, all else generated
    // not-implemented entries (error 9999, empty results).
    static QString stubEnginePath();
    // Whether the library at the path is mapped into the process right now.
    static bool isLoaded(const QString& path);

    // Script lines ("<entry> <value>") for the next load of the fake.
    void script(const QStringList& lines);
    // The lines logged since the last call, which empties the log.
    QStringList takeCalls();

private:
    QTemporaryDir dir;
    QString logPath;
};
