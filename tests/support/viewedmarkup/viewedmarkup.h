#pragma once

// Chapter markup as the reader's web view holds it: a stored chapter is loaded into a page set up
// as the reader's (a local-only network, scripting off, only the load asked for followed), the
// page's guard (disarmScripts) is run on it, and then a script of the test, with scripting on as
// the reading engine has it, walks every frame and lists what could still run. Its rules are its
// own, and it reads addresses as the view does (a scratch link's protocol, against the
// document's own base), so that it does not share the mistakes of the guard it checks.
// Needs a QApplication.

#include <QByteArray>
#include <QString>
#include <QStringList>

class QWebFrame;

namespace viewedmarkup {

enum Stage {
    Disarmed, // as the reading engine gets the chapter
    AsParsed // as the view built it, before its guard: what the markup itself brings
};

// What could run in a chapter, one line each: a script element, an element that loads a
// document of its own (frames, objects), a handler attribute, an attribute of any namespace whose
// value the view reads as a javascript: address (or, in an SVG animation, one of its values);
// each as "<element attribute=value>". A chapter the view does not finish loading, or a frame
// the walk cannot run in, is a line too.
// The chapter file as the view reads it (its name tells HTML from XHTML):
QStringList runnableInFile(const QString& path, Stage stage = Disarmed);
// The bytes, stored first under the name given in a folder of their own:
QStringList runnable(
    const QByteArray& data, const QString& fileName = QStringLiteral("chapter.html"), Stage stage = Disarmed);
// A frame and those in it as they are now, scripting on (the reader's page, the helper's):
QStringList runnableInFrame(QWebFrame* frame);

// The lines of after that before does not hold: what a rewriting made.
QStringList added(const QStringList& before, const QStringList& after);

} // namespace viewedmarkup
