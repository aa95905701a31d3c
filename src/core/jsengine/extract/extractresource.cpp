// Build-time tool: copies one file out of a Qt resource compiled into a Qt library, for
// example Qt WebChannel's client script, which Debian installs only inside the library.
// Usage: extractresource <resource path> <output file>

#include <QFile>
#include <QSaveFile>
#include <QWebChannel>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <resource path> <output file>\n", argv[0]);
        return 2;
    }
    // Referencing the library keeps the linker from dropping it, and loading it registers its
    // resources.
    (void)QWebChannel::staticMetaObject.className();

    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot open resource %s\n", argv[1]);
        return 1;
    }
    const QByteArray data = in.readAll();
    if (data.isEmpty()) {
        std::fprintf(stderr, "resource %s is empty\n", argv[1]);
        return 1;
    }
    QSaveFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
