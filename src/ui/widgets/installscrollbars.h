#pragma once

class QAbstractScrollArea;

// Lays thin overlay scroll bars over the right and bottom edges of the area's viewport, one for
// each orientation whose policy is not Qt::ScrollBarAlwaysOff. They show only while there is
// something to scroll and widen while the mouse rests on them. Mode 0 is a pure overlay; mode 1
// also reserves room for each bar in the margins of a QScrollArea's content widget while it
// shows. An area that already has toolkit scroll bars is left alone.
void installScrollBars(QAbstractScrollArea* area, int mode);
