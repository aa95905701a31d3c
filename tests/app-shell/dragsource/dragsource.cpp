// A small window that drags the files named on its command line as a uri-list when pressed, as a
// file manager does. The exit code tells the drop: 0 copied, 1 refused or cancelled.

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

namespace {

class DragSource : public QWidget {
public:
    explicit DragSource(const QStringList& files)
        : m_files(files)
    {
        setWindowTitle(QStringLiteral("Drag Source"));
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        auto* mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString& file : m_files)
            urls << QUrl::fromLocalFile(file);
        mime->setUrls(urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        QApplication::exit(action == Qt::CopyAction ? 0 : 1);
    }

private:
    QStringList m_files;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    DragSource source(app.arguments().mid(1));
    source.setGeometry(10, 10, 160, 160);
    source.show();
    return app.exec();
}
