// Opens a book, turns a page, adds a note and then waits to be killed. Tells its parent on
// stdout where the book's state file lies and when the note exists.

#include "appdirs.h"
#include "bookcontext.h"
#include "models/bookmodel.h"
#include "readingfixture.h"
#include "readingstatefile.h"
#include "textviewer.h"

#include <QApplication>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ReadingFixture fixture;
    const int id = fixture.addEpub(QStringLiteral("killed.epub"), 2, 6000);
    const QSharedPointer<BookContext> context = id >= 0 ? fixture.open(id) : nullptr;
    if (!context)
        return 1;
    const QString settings = ReadingStateFile::filePath(bookDataDir(fixture.books()->bookById(id).full_path));
    std::printf("%s\n%s\n", qPrintable(fixture.home().path()), qPrintable(settings));
    QTest::keyClick(fixture.viewer(), Qt::Key_Right);
    const QString selected = fixture.selectOnScreen(12);
    if (selected.isEmpty() || !context->addNoteAtCurrentSelection(NoteItem::Green) || context->notes().isEmpty())
        return 2;
    std::printf("%s\n", qPrintable(context->notes().first().startPath));
    std::fflush(stdout);
    return app.exec();
}
