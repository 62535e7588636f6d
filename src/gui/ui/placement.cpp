#include "ui/placement.h"

#include "settings/profile.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace zorv {

QRect PlaceBeside(const QRect& anchor, QSize size, const QMargins& margins, const QRect& available,
                  int minWidth)
{
    const int extraW = margins.left() + margins.right();
    const int extraH = margins.top() + margins.bottom();
    // The frame, no larger than the screen.
    int w = std::min(size.width() + extraW, available.width());
    const int h = std::min(size.height() + extraH, available.height());
    const int roomRight = available.right() - anchor.right();
    const int roomLeft = anchor.left() - available.left();
    const int minFrame = std::min(minWidth + extraW, w);
    int x = 0;
    if (std::max(roomRight, roomLeft) >= minFrame) {
        if (roomRight >= roomLeft) {
            w = std::min(w, roomRight);
            x = anchor.right() + 1;
        } else {
            w = std::min(w, roomLeft);
            x = anchor.left() - w;
        }
    } else {
        // No room beside it: over the anchor's far side, as far from its
        // left edge (where its own fields start) as the screen allows.
        x = anchor.right() + 1 - w;
    }
    const QRect placed = FitIntoArea(QRect(x, anchor.top(), w, h), available);
    return placed.marginsRemoved(margins);
}

void PlaceWindowBeside(QWidget& window, const QWidget& anchor)
{
    const QScreen* screen = anchor.screen();
    if (!screen)
        return;
    // The window has no frame yet: the anchor's frame (same desktop, same
    // decorations) stands for it.
    const QRect frame = anchor.frameGeometry();
    const QRect client = anchor.geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    const int minWidth = std::max(window.minimumSizeHint().width(), 320);
    window.setGeometry(PlaceBeside(frame, window.size(), margins, screen->availableGeometry(), minWidth));
}

} // namespace zorv
