#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

class QWidget;

// What KelUi asks the message box to show, after it chose the parent, the title, the icon and the
// buttons. The handler shows it modally and reports back through the request.
struct KelMessageBoxRequest {
    QWidget* parent = nullptr; // may be null: no usable parent window
    QString title; // never empty
    QString message; // rich text; links in it go to KelUi::openLink
    int iconType = 6;
    QString iconPath; // the current style's icon for iconType, empty when it has none
    // Button i shows buttonTexts[i] and closes the box with id i + 1; empty texts are not shown.
    QStringList buttonTexts;
    int defaultButtonId = 0; // the last shown button (style id 20), the others take style id 19

    bool hasRemember = false; // show a check box with rememberText
    bool remember = false; // in: its initial state; out: its final state
    QString rememberText;

    bool textInput = false; // a one-line text field follows the message
    int textInputType = 0; // KelUi::TextInputType
    bool readOnly = false;
    bool password = false; // style id 31 for the field, else 28
    bool allowEmpty = true; // false: the default button is enabled only while the field holds text
    int maxLength = 32767;
    QString regexp; // validator pattern (case-sensitive) when not empty
    QString text; // in: initial text; out: the text when the box closed, whichever button closed it
};

// One file dialog: the start folder, the title and the filter are ready for QFileDialog.
struct KelFileDialogRequest {
    enum Kind { OpenFile, OpenFiles, SaveFile, ExistingDirectory };
    Kind kind = OpenFile;
    QWidget* parent = nullptr;
    QString title;
    QString startPath; // folder, or folder and candidate file name for SaveFile
    QString filter;
    QFileDialog::Options options;
    // SaveFile: appended by the dialog to a name typed without a suffix (taken from the filter's
    // first pattern), so the file matches the filter it was saved under.
    QString defaultSuffix;
};
