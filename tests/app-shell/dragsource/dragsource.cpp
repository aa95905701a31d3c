// A small window that drags the files named on its command line as a uri-list when pressed, as a
// file manager does. The exit code tells the drop: 0 copied, 1 refused or cancelled.

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QPushButton source(QStringLiteral("Drag Source"));
    source.setWindowTitle(QStringLiteral("Drag Source"));
    source.setGeometry(10, 10, 160, 160);
    QObject::connect(&source, &QPushButton::pressed, &source, [&source] {
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& file : QApplication::arguments().mid(1))
            urls << QUrl::fromLocalFile(file);
        mime->setUrls(urls);
        auto* drag = new QDrag(&source);
        drag->setMimeData(mime);
        QApplication::exit(drag->exec(Qt::CopyAction) == Qt::CopyAction ? 0 : 1);
    });
    source.show();
    return app.exec();
}
