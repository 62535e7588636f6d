#pragma once
// The mark the state column shows before an item's state, and the colour
// of a row that needs the user's eye. The colours come in two sets, one for
// light and one for dark palettes (chosen by the palette's base colour), each
// with enough contrast on its own background.
#include <QColor>
#include <QIcon>
#include <QPalette>

namespace zorv {

class CItem;

enum class EStateMark {
    None,
    Waiting, // not fetched yet
    Active,  // connecting, fetching, preparing, launching
    Done,    // fetched
    Failed,
    Invalid, // not a URL that can be fetched
    Paused,
};

// The mark of an item's present state.
EStateMark StateMarkOf(const CItem& item);

// Whether `palette` is a dark one (light text on a dark base).
bool IsDarkPalette(const QPalette& palette);
// The colour of a mark; also the text colour of a failed row.
QColor StateMarkColor(EStateMark mark, const QPalette& palette);
// The icon of a mark (null for None), drawn once per mark and palette kind.
QIcon StateMarkIcon(EStateMark mark, const QPalette& palette);

} // namespace zorv
