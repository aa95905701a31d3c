#pragma once

#include <QtGlobal>

class QImage;
class QPainter;

// Exported by QtWidgets but declared in no public header. With a painter the blurred image is drawn
// onto it at (0, 0); transposed is 0 for a plain blur.
void qt_blurImage(QPainter* painter, QImage& image, qreal radius, bool quality, bool alphaOnly, int transposed = 0);
void qt_blurImage(QImage& image, qreal radius, bool quality, int transposed = 0);
