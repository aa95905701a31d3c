#pragma once

#include <QStringList>

// Suffixes of the book files the library accepts, lower case, without dots: the add-book and
// add-folder dialogs and the drop handling filter by them.
QStringList supportedExtensions();
