#pragma once
// Closing a list while its items are being fetched: the user decides first.
#include "model/prompt.h"

namespace zorv {

class CWorkerPool;

// Asked before the open list goes away (a new list, another list, the
// window closing). With no item being fetched: true, nothing asked. Else the
// user is asked whether to stop fetching and close: OK stops the workers,
// cancels the running transfers (their partial files stay for a later
// resume) and returns true; Cancel leaves everything running and returns
// false.
bool ConfirmStopFetching(CWorkerPool& pool, IPrompt& prompt);

} // namespace zorv
