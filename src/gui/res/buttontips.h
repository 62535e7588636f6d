#pragma once
// What a toolbar button does, in a sentence: its tooltip (the button's
// label is the command's short name already).
#include <QString>

namespace zorv::res {

// The sentence for command `id`; the command's status-bar prompt when it
// has none.
QString ButtonTip(int id);

} // namespace zorv::res
