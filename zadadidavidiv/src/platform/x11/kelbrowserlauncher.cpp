#include "kelbrowserlauncher.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QtDebug>

namespace {

// An opener runs a browser in its own stead on some desktops and ends only when the browser
// does: a failure later than this is that browser's end, not a failed start.
constexpr qint64 kStartTimeMs = 20000;

const char* const kWebSchemes[] = { "http", "https" };

} // namespace

KelBrowserLauncher::KelBrowserLauncher(QObject* parent)
    : QObject(parent)
{
}

void KelBrowserLauncher::install()
{
    for (const char* scheme : kWebSchemes)
        QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
}

void KelBrowserLauncher::open(const QUrl& url)
{
    const QString link = url.toString();
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        // Asked from within its handler, QDesktopServices opens the link the desktop's way.
        if (!QDesktopServices::openUrl(url))
            fail(link, QStringLiteral("no way to open it was found"));
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(opener);
    process->setArguments({ url.toString(QUrl::FullyEncoded) });
    // The browser may outlive this program: it gets no pipe to it.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    connect(process, &QProcess::errorOccurred, this, [this, process, link](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        fail(link, process->errorString());
        process->deleteLater();
    });
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
        [this, process, link, clock](int code, QProcess::ExitStatus status) {
            process->deleteLater();
            if (status == QProcess::NormalExit && code == 0)
                return;
            const QString cause = status == QProcess::NormalExit
                ? QStringLiteral("%1 ended with code %2").arg(process->program()).arg(code)
                : QStringLiteral("%1 crashed").arg(process->program());
            if (clock.elapsed() > kStartTimeMs)
                qInfo() << "The browser of" << link << "has ended:" << cause;
            else
                fail(link, cause);
        });
    process->start();
}

void KelBrowserLauncher::fail(const QString& link, const QString& cause)
{
    qWarning() << "No browser could be started for" << link << ":" << cause;
    emit failed(link);
}
