#include "systemreport.h"

#include "checkedsave.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QScreen>
#include <QSysInfo>
#include <QTextStream>

#include <sys/utsname.h>
#include <unistd.h>

namespace {

// The value of the first "key: value" or "key=value" line of a small text file.
QString fileValue(const QString& path, const QString& key, QChar separator)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    // Both files are small; a bound keeps a strange /proc from being read without end.
    const QList<QByteArray> lines = file.read(1 << 20).split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw);
        const int at = line.indexOf(separator);
        if (at > 0 && line.left(at).trimmed() == key) {
            QString value = line.mid(at + 1).trimmed();
            if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return QString();
}

QString openGlRenderer()
{
    QOpenGLContext context;
    if (!context.create())
        return QStringLiteral("none");
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return QStringLiteral("none");
    QOpenGLFunctions* gl = context.functions();
    const auto text = [gl](GLenum name) {
        const GLubyte* value = gl->glGetString(name);
        return value ? QString::fromLatin1(reinterpret_cast<const char*>(value)) : QString();
    };
    const QString result = QStringLiteral("%1 (%2, %3)").arg(text(GL_RENDERER), text(GL_VENDOR), text(GL_VERSION));
    context.doneCurrent();
    return result;
}

} // namespace

namespace SystemReport {

QStringList guiFacts()
{
    QStringList lines;
    lines << QStringLiteral("Qt platform: %1").arg(QGuiApplication::platformName());
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i) {
        const QScreen* screen = screens.at(i);
        const QRect g = screen->geometry();
        lines << QStringLiteral("Screen %1: %2 %3x%4+%5+%6, ratio %7, logical DPI %8%9")
                     .arg(i)
                     .arg(screen->name())
                     .arg(g.width())
                     .arg(g.height())
                     .arg(g.x())
                     .arg(g.y())
                     .arg(screen->devicePixelRatio())
                     .arg(screen->logicalDotsPerInch())
                     .arg(screen == QGuiApplication::primaryScreen() ? QStringLiteral(", primary") : QString());
    }
    // The offscreen platform has no GL of its own worth reporting and may not create one.
    const bool hasGl = QGuiApplication::platformName() != QLatin1String("offscreen")
        && QGuiApplication::platformName() != QLatin1String("minimal");
    lines << QStringLiteral("OpenGL renderer: %1").arg(hasGl ? openGlRenderer() : QStringLiteral("none"));
    return lines;
}

QStringList systemFacts()
{
    QStringList lines;
    struct utsname names;
    if (::uname(&names) == 0) {
        lines << QStringLiteral("Kernel: %1 %2 %3 %4")
                     .arg(QString::fromLocal8Bit(names.sysname), QString::fromLocal8Bit(names.release),
                         QString::fromLocal8Bit(names.version), QString::fromLocal8Bit(names.machine));
    }
    QString distribution = fileValue(QStringLiteral("/etc/os-release"), QStringLiteral("PRETTY_NAME"), '=');
    if (distribution.isEmpty())
        distribution = QSysInfo::prettyProductName();
    lines << QStringLiteral("Distribution: %1").arg(distribution);
    lines << QStringLiteral("Processor: %1, %2 logical cores")
                 .arg(fileValue(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name"), ':'))
                 .arg(::sysconf(_SC_NPROCESSORS_ONLN));
    const qint64 pages = ::sysconf(_SC_PHYS_PAGES);
    const qint64 pageSize = ::sysconf(_SC_PAGE_SIZE);
    lines << QStringLiteral("Memory: %1 MiB").arg(pages > 0 && pageSize > 0 ? pages * pageSize / (1024 * 1024) : 0);
    return lines;
}

bool isFresh(const QString& path, const QDateTime& now)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const qint64 days = info.lastModified().daysTo(now);
    return days >= 0 && days < 30;
}

bool write(const QString& path, const QStringList& guiFacts, QString* error)
{
    const auto produce = [&guiFacts](QIODevice* device) {
        QTextStream out(device);
        out.setCodec("UTF-8");
        out << "System report, " << QDateTime::currentDateTime().toString(Qt::ISODate) << '\n';
        for (const QString& line : systemFacts() + guiFacts)
            out << line << '\n';
        out.flush();
        return out.status() == QTextStream::Ok;
    };
    const checkedsave::Result saved = checkedsave::writeFile(path, produce, checkedsave::TextMode);
    if (!saved && error)
        *error = saved.errorText;
    return saved.ok();
}

} // namespace SystemReport
