// A start's hand-over to the running instance when there is none: with no lock at all, and with
// the lock and socket left by an instance that was killed (a stale lock, which must not be waited
// for). Each run asks to hand a message over with a 10 s time-out and reports how long the start
// took to find it is the one to run. Target: the stale lock within 100 ms, like no lock.
// Usage: bench_instancestart [runs, default 5]

#include "singleapplication/kellocalpeer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <QUuid>

#include <algorithm>

namespace {

// The milliseconds a start takes to give up handing over and run on its own; -1 when it handed over.
double startAlone(const QString& id)
{
    QElapsedTimer timer;
    timer.start();
    KelLocalPeer peer(id);
    const bool handedOver = peer.sendMessage(QStringLiteral("/books/a.epub"), 10000);
    return handedOver ? -1 : timer.nsecsElapsed() / 1e6;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The instance to kill: takes the lock, serves, and waits to be killed.
    if (argc > 2 && QByteArray(argv[1]) == "--hold") {
        KelLocalPeer peer(QString::fromLocal8Bit(argv[2]));
        if (peer.isClient())
            return 1;
        QTextStream(stdout) << "READY" << Qt::endl;
        QThread::sleep(600);
        return 0;
    }
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 5;
    QList<double> alone, stale;
    for (int i = 0; i < runs; ++i) {
        alone << startAlone(QUuid::createUuid().toString(QUuid::WithoutBraces));
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--hold"), id });
        if (!holder.waitForReadyRead(10000) || !holder.readAll().startsWith("READY"))
            return 1;
        holder.kill();
        holder.waitForFinished(5000);
        stale << startAlone(id);
    }
    QTextStream out(stdout);
    out << "start without a lock: " << median(alone) << " ms; with a stale lock: " << median(stale)
        << " ms (medians of " << runs << ", target < 100)" << Qt::endl;
    return median(stale) >= 0 && median(stale) < 100 ? 0 : 1;
}
