#include "fakeengine.h"

#include <QFile>
#include <QTextStream>

#include <dlfcn.h>

FakeEngine::FakeEngine()
    : logPath(dir.filePath(QStringLiteral("calls.log")))
{
    qputenv("PL_FAKE_ENGINE_LOG", QFile::encodeName(logPath));
    qputenv("PL_FAKE_ENGINE_SCRIPT", QFile::encodeName(dir.filePath(QStringLiteral("script.txt"))));
}

FakeEngine::~FakeEngine()
{
    qunsetenv("PL_FAKE_ENGINE_LOG");
    qunsetenv("PL_FAKE_ENGINE_SCRIPT");
}

QString FakeEngine::completePath() { return QStringLiteral(PL_FAKE_ENGINE); }

QString FakeEngine::withoutPageCountPath() { return QStringLiteral(PL_FAKE_ENGINE_NO_PAGECOUNT); }

QString FakeEngine::withoutCreateLibraryPath() { return QStringLiteral(PL_FAKE_ENGINE_NO_CREATE); }

QString FakeEngine::stubEnginePath() { return QStringLiteral(PL_STUB_ENGINE); }

bool FakeEngine::isLoaded(const QString& path)
{
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

void FakeEngine::script(const QStringList& lines)
{
    QFile file(dir.filePath(QStringLiteral("script.txt")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the fake engine's script");
    file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
}

QStringList FakeEngine::takeCalls()
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadWrite))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    file.resize(0);
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
