#pragma once

#include "formats/imagedocument.h"

#include <QSize>
#include <QSizeF>
#include <QString>

class DebenuPDFLibraryDLLQt1016;

// The text of a PDF library error code; "UnknownError" for a code without one.
QString pdfErrorText(int code);

// A PDF book as page images, over the PDF engine library. All documents of the process share one
// library object; each keeps the id of its own document in it and selects that document, under
// one process-wide lock, before every sequence of library calls, so the reader's book and an
// import running on a pool thread never answer for each other.
class PdfDocument : public ImageDocument {
public:
    explicit PdfDocument(QObject* parent = nullptr);
    // Removes the document from the library, unless the library is already gone.
    ~PdfDocument() override;

    // Loads the file with the password set by setPassword (empty: none). A failure leaves the
    // document unloaded; isPasswordRequired() tells whether the password was the reason.
    void load(const QString& path) override;
    QString title() const override;
    int pageCount() const override;
    QList<TocPoint> toc() const override;
    QList<SearchItem> search(const QString& query) override;
    // Renders at qRound(96 x scaleFactor() x scale) dpi; pages too large for that are rendered
    // at the dpi that fits maxImageSide and maxImagePixels. Safe on any thread.
    QImage requestImage(int page, double scale) override;
    double scaleFactor() const override { return 2.0; }

    void setPassword(const QString& password) { m_password = password; }
    bool isPasswordRequired() const { return m_passwordRequired; }
    QString author() const { return m_author; }
    QString creator() const { return m_creator; }

    // The library object every document uses: made by the first document; null before, and
    // after the application object (its parent) has deleted it.
    static DebenuPDFLibraryDLLQt1016* sharedLibrary();

    static constexpr int maxImageSide = 16384;
    static constexpr qint64 maxImagePixels = 256000000;
    // Outlines nested deeper than this are cut at this level.
    static constexpr int maxOutlineDepth = 64;
    // The pixel size of a page of `points` (whole points, after rotation) at dpi: each side
    // qRound(points x dpi / 72). A size beyond the caps is scaled down, and dpi with it, to fit.
    static QSize imageSize(const QSizeF& points, double& dpi);

private:
    Q_DISABLE_COPY(PdfDocument)
    void readOutline(
        DebenuPDFLibraryDLLQt1016* library, int first, QList<TocPoint>& items, int depth, int& budget) const;
    // Selects this document in the library; the caller holds the lock.
    DebenuPDFLibraryDLLQt1016* selectDocument() const;

    bool m_loaded = false;
    bool m_passwordRequired = false;
    QString m_password;
    int m_documentId = 0;
    int m_pageCount = 0;
    QString m_title;
    QString m_author;
    QString m_creator;
    mutable TocPoint m_tocRoot;
    mutable bool m_tocBuilt = false;
};
