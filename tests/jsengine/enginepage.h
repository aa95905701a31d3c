#pragma once

#include <functional>

#include "bookpageparams.h"

#include <QStringList>
#include <QVariant>
#include <QWebPage>

// What the host hands to the engine to lay a chapter out: the page parameters' defaults
// except for the page size, which the host takes from its view.
struct PageFormat {
    int columnCount = 1;
    int width = 800;
    int height = 600;
    int fontSize = 20;
    int lineSpacing = 110;

    static PageFormat withColumns(int columns)
    {
        PageFormat format;
        format.columnCount = columns;
        return format;
    }
};

// Loads a file into a page's main frame and waits for the load to finish; false on failure or
// time-out.
// start loads the file's address in the page (the page's main frame by default): a chapter page
// follows only the load it is asked for itself.
bool loadWebPage(
    QWebPage* page, const QString& filePath, int timeoutMs = 20000, const std::function<void(const QUrl&)>& start = {});

// A web page that runs the reading engine the way the reader does: the chapter file is
// loaded into the main frame, the engine script with its init call is evaluated when the load
// finishes, and every further call is one synchronous evaluation of the host's exact call
// text.
class EnginePage : public QWebPage {
    Q_OBJECT
public:
    explicit EnginePage(QObject* parent = nullptr);

    // Loads a chapter file and waits for the load to finish; false on failure or time-out.
    bool load(const QString& filePath, int timeoutMs = 20000);
    QVariant evaluate(const QString& script);
    // The engine script followed by "init('<uid>');".
    QVariant injectEngine(const QString& uid = QStringLiteral("0123456789abcdef0123456789abcdef"));
    // Load, engine and first layout in one, a long chapter split into pieces as the reader splits
    // it: the page count, or -1 when the chapter did not load.
    int open(const QString& filePath, const PageFormat& format = PageFormat());
    // The reader's layout step: viewport and default font size, then the page parameters'
    // script in one evaluation. Returns its result.
    QVariantMap applyPageFormat(const PageFormat& format);
    static QString pageFormatScript(const PageFormat& format);
    // White page, black text, the note styles' colours.
    static ViewerColors dayColors();

    // Integer results: the number, or kNoNumber for anything that is not one.
    static constexpr int kNoNumber = -1000000;
    int evaluateInt(const QString& script);
    QString evaluateString(const QString& script);

    int next() { return evaluateInt(QStringLiteral("next();")); }
    int prev() { return evaluateInt(QStringLiteral("prev();")); }
    int moveToPage(int page) { return evaluateInt(QStringLiteral("moveToPage(%1);").arg(page)); }
    int moveHome() { return evaluateInt(QStringLiteral("moveHome();")); }
    int moveEnd() { return evaluateInt(QStringLiteral("moveEnd();")); }
    int setReadingPosByXPath(const QString& path);
    int getPageByKelLink(const QString& link);
    QString getReadingPosXPath() { return evaluateString(QStringLiteral("getReadingPosXPath();")); }
    int current() { return evaluateInt(QStringLiteral("page.current")); }
    int count() { return evaluateInt(QStringLiteral("page.count")); }
    const PageFormat& format() const { return m_format; }
    const QString& uid() const { return m_uid; }

    // Measurements made without the engine's own geometry code, to check it against.
    // The page (column) under a horizontal viewport position, from the column container's left.
    int pageAtX(double viewportX);
    // The last page that holds rendered text or an image.
    int lastContentPage();

private:
    PageFormat m_format;
    QString m_uid;
};
