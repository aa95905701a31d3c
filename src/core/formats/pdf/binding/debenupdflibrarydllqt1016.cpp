// The hand-written part of the Qt layer: it owns the PdfLibraryDll. The class declaration and the
// forwarding members are generated from pdfentries.txt (generate.py).
#include "debenupdflibrarydllqt1016.h"
#include "pdflibrarydll.h"

DebenuPDFLibraryDLLQt1016::DebenuPDFLibraryDLLQt1016(QString dllPath)
    : QObject(nullptr)
    , dll(new PdfLibraryDll(dllPath.toStdU16String()))
    , ownsDll(true)
{
}

DebenuPDFLibraryDLLQt1016::~DebenuPDFLibraryDLLQt1016()
{
    if (ownsDll && dll) {
        delete dll;
        dll = nullptr;
    }
}

QString DebenuPDFLibraryDLLQt1016::loadError() const { return QString::fromStdString(dll->loadError()); }

bool DebenuPDFLibraryDLLQt1016::LibraryLoaded() { return dll->LibraryLoaded(); }
