#pragma once

// The drawing target of the PDF engine's rendering entries, shared by the binding and the engine.
// Pixels are 32-bit B, G, R, X bytes in memory (QImage::Format_RGB32 on little-endian machines),
// rows top-down and bytesPerLine apart. The caller owns the memory; the engine fills exactly
// width x height pixels and keeps no pointer after the call.
struct PdfPixelBuffer {
    unsigned char* pixels;
    int width;
    int height;
    int bytesPerLine;
};

// The handle the rendering entries take, under the name the binding's methods record for it.
typedef PdfPixelBuffer* HDC;
