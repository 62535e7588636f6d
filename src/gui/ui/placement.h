#pragma once
// Where a secondary window goes on the screen: beside the window it belongs
// to, never over it where the screen has room, and always whole on the
// screen.
#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace zorv {

// The client rectangle of a window of client size `size` whose frame adds
// `margins`, placed beside `anchor` (a frame rectangle) within `available`:
// on the side with more room, top edges aligned; narrowed (not below
// `minWidth`) to fit that room; where neither side has `minWidth`, over the
// anchor. The frame always lies inside `available` (the size shrinks when
// it must).
QRect PlaceBeside(const QRect& anchor, QSize size, const QMargins& margins, const QRect& available,
                  int minWidth);

// Moves and sizes the top-level `window` (not shown yet) beside `anchor`
// within the available geometry of the anchor's screen.
void PlaceWindowBeside(QWidget& window, const QWidget& anchor);

} // namespace zorv
