#pragma once

#include <QSize>

class KelButtonPainter;
class KelPaintContext;
class KelStyleable;
class KelWidgetStateAnimator;

// What the widgets drawn by a button painter (buttons, icon labels) share.

// The painter's size hints, measured once until the painter says its content changed.
class KelButtonSizeHints {
public:
    QSize sizeHint(const KelButtonPainter* painter) const;
    QSize minimumSizeHint(const KelButtonPainter* painter) const;
    void reset();

private:
    mutable QSize m_sizeHint = QSize(-1, -1);
    mutable QSize m_minimumSizeHint = QSize(-1, -1);
};

// The current style's button look for the object's role, when it has one.
void applyButtonPainterStyle(KelButtonPainter* painter, const KelStyleable* styleable);
// Frame, then icon and texts, in the animator's state colours and the painter's visibility fade.
void paintButtonPainter(KelPaintContext& context, KelButtonPainter* painter, KelWidgetStateAnimator* animator);
