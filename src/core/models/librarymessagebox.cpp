#include "librarymessagebox.h"

#include <QDebug>

namespace {

LibraryMessageBox::Handler& handler()
{
    static LibraryMessageBox::Handler current;
    return current;
}

LibraryMessageBox::ProgressHandler& progressHandler()
{
    static LibraryMessageBox::ProgressHandler current;
    return current;
}

} // namespace

void LibraryMessageBox::setHandler(Handler newHandler) { handler() = std::move(newHandler); }

QMessageBox::StandardButton LibraryMessageBox::critical(
    const QString& title, const QString& text, QMessageBox::StandardButtons buttons)
{
    if (handler())
        return handler()(title, text, buttons);
    qWarning().noquote() << "Message box not shown (no handler):" << title << "-" << text;
    return QMessageBox::Cancel;
}

void LibraryMessageBox::setProgressHandler(ProgressHandler handler) { progressHandler() = std::move(handler); }

void LibraryMessageBox::progress(const QString& text)
{
    if (progressHandler())
        progressHandler()(text);
}
