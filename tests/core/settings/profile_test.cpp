// A stored window placement brought onto a screen that is smaller than the
// one it was stored on.
#include "settings/profile.h"

#include <gtest/gtest.h>

namespace zorv {
namespace {

TEST(Placement, FitIntoAreaShrinksAndMovesTheLeastWayInside)
{
    // The free area of a 1600×1000 screen at scale 1.5, below a 20-pixel panel.
    const QRect area(0, 20, 1067, 647);
    const struct {
        QRect stored, fitted;
    } cases[] = {
        {{100, 100, 640, 420}, {100, 100, 640, 420}},   // inside: unchanged
        {{100, 100, 1080, 600}, {0, 67, 1067, 600}},    // too wide: as wide as the area, moved left
        {{900, 500, 400, 300}, {667, 367, 400, 300}},   // off the bottom right corner
        {{-300, -40, 400, 300}, {0, 20, 400, 300}},     // off the top left, above the panel
        {{50, 50, 2400, 1500}, {0, 20, 1067, 647}},     // larger than the area both ways
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitIntoArea(c.stored, area), c.fitted) << c.stored.x() << "," << c.stored.y();
    // A placement on a second screen to the left stays on that screen.
    EXPECT_EQ(FitIntoArea({-1800, 100, 800, 600}, {-1920, 0, 1920, 1080}), QRect(-1800, 100, 800, 600));
}

} // namespace
} // namespace zorv
