#pragma once
// The message box that answers the questions core operations ask.
#include "model/prompt.h"

class QWidget;

namespace zorv {

// Shows `prompt` in a modal message box over `parent`: the caption and text
// from the string table (the text's %s replaced by the prompt's argument),
// Yes/No or Yes/No/Cancel, the question or the error icon. Returns IDYES,
// IDNO or IDCANCEL (closing the box counts as the last button).
int AskUser(QWidget* parent, const CPrompt& prompt);

} // namespace zorv
