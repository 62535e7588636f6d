#pragma once
// The recovery list: a list that was never saved, kept when the window is
// ended from outside (a signal, the end of the desktop session) so that its
// items are not lost, and offered when the window next starts.
#include "model/prompt.h"

#include <QString>

namespace zorv {

class CZorvDoc;

// recovery.zorv in the program's data folder (~/.local/share/Quillmere/zorv on Linux).
QString RecoveryListPath();

// What the window keeps when it is ended from outside, asking nothing:
// a modified list with a file is saved to it; a list without a file that has
// items becomes the recovery list. Items being fetched are stored as not
// fetched, so that they are fetched again (resuming their partial files).
// False, with *error, when the list or the recovery list could not be written.
bool KeepListAtEnd(CZorvDoc& doc, QString* error);

// At start: when a recovery list exists, the user is asked whether to
// restore it. Yes puts its items into `doc` as a new, unsaved (modified)
// list; No discards it. The recovery file is removed either way (also when
// it cannot be read). True when the list was restored.
bool OfferRecovery(CZorvDoc& doc, IPrompt& prompt);

} // namespace zorv
