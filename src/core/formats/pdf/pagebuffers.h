#pragma once

#include <QImage>

// Pixel memory for rendered pages, reused from one page to the next. A page image takes
// megabytes, and memory fresh from the system costs a page fault per 4 KB on first touch,
// which made clearing a new page cost several times what clearing reused memory does. An
// image made here hands its memory back when its last copy is gone; a few buffers are kept
// for the next pages, the rest are freed.
class PageBuffers {
public:
    // A blank (uninitialised) image of 32-bit format; null when there is no memory for it.
    static QImage newImage(const QSize& size, QImage::Format format);

    // Buffers kept for reuse at most, and their bytes at most.
    static constexpr int MaxSpare = 2;
    static constexpr qint64 MaxSpareBytes = qint64(96) << 20;
    // Frees the buffers kept; images still shown keep theirs.
    static void releaseSpares();
    // Buffers kept now (for tests).
    static int spareCount();
};
