#pragma once

#include <QObject>
#include <QString>

class QUrl;

// Opens web links through the desktop's opener (xdg-open) and watches it. Qt only starts the
// opener and reports success, so on a desktop where no browser can be started the user's click
// would go unanswered: here an opener that cannot be started, or that ends with a failure soon
// after it started, is logged and reported by failed, once per link opened. Without an opener the
// desktop's own way is taken, as Qt would.
class KelBrowserLauncher : public QObject {
    Q_OBJECT

public:
    explicit KelBrowserLauncher(QObject* parent = nullptr);

    // Takes the http and https links QDesktopServices::openUrl is asked to open; a handler set
    // for those schemes later replaces it.
    void install();

public slots:
    void open(const QUrl& url);

signals:
    void failed(const QString& link);

private:
    void fail(const QString& link, const QString& cause);
};
