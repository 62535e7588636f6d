#pragma once
// The main frame's menu bar and accelerator table (resource 128).
#include <QKeyCombination>
#include <QString>

#include <vector>

namespace zorv::res {

// A menu entry: a command (id > 0), a separator (id 0, no text), or a popup
// (id -1) with its entries.
struct CMenuEntry {
    int id = 0;
    QString text;
    std::vector<CMenuEntry> popup;
};

// Index of the Edit popup in the menu bar: the list's context menu.
inline constexpr int kEditMenuIndex = 1;

// The menu bar, top-level popups in order.
const std::vector<CMenuEntry>& MainMenu();

struct CAccelerator {
    QKeyCombination key;
    int id;
};

// The accelerator table, in table order.
const std::vector<CAccelerator>& Accelerators();

} // namespace zorv::res
