#pragma once

// The codes the PDF engine reports through DPLLastErrorCode. The 4xx codes are the ones the
// reader's PDF document knows from the library it replaces; the rest are the engine's own.
namespace PdfEngineError {
enum : int {
    None = 0,
    CannotOpen = 401, // the file exists but cannot be read
    InvalidPassword = 404, // a user password is needed and the one given does not open the file
    Damaged = 409, // not a PDF, or too broken to repair
    FileNotFound = 411,
    NoDocument = 601, // no document is selected, or the id names none
    InvalidPage = 602, // a page number outside 1..PageCount
    InvalidArgument = 603, // a key, option, buffer or drawing target the entry cannot use
    RenderFailed = 604, // the page could not be drawn
    InvalidOutline = 605, // an outline id the selected document does not have
    OperationFailed = 606, // the document could not answer (a broken page or object)
    OutOfMemory = 607,
    NotSupported = 9999, // an entry this engine does not implement
};
}
