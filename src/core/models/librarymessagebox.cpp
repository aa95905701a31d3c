#include "librarymessagebox.h"

#include <QDebug>

namespace {

LibraryMessageBox::Handler& handler()
{
    static LibraryMessageBox::Handler current;
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
