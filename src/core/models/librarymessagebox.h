#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

// The library's storage layer cannot include the application's dialogs, so it shows its
// message boxes through this function object. The application points it at its own modal
// message box at start-up; until then (and in tests) a box is only logged and answered with
// Cancel, so nothing ever blocks on a dialog.
class LibraryMessageBox {
public:
    // Shows a modal critical box with no parent and the given buttons; returns the one pressed.
    using Handler = std::function<QMessageBox::StandardButton(
        const QString& title, const QString& text, QMessageBox::StandardButtons buttons)>;

    // An empty handler restores the default (log and answer Cancel).
    static void setHandler(Handler handler);
    static QMessageBox::StandardButton critical(
        const QString& title, const QString& text, QMessageBox::StandardButtons buttons = QMessageBox::Cancel);

    // Shows, on the GUI thread, what long work before the main window is doing ("Reading the
    // damaged library: 40%"); an empty text ends it. Without a handler nothing is shown.
    using ProgressHandler = std::function<void(const QString& text)>;
    static void setProgressHandler(ProgressHandler handler);
    static void progress(const QString& text);
};
