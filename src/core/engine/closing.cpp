#include "engine/closing.h"

#include "engine/pool.h"

namespace zorv {

bool ConfirmStopFetching(CWorkerPool& pool, IPrompt& prompt)
{
    if (pool.HoldingWorkers() == 0 && pool.ActiveFetches() == 0)
        return true;
    CPrompt question;
    question.captionId = IDS_PROMPT_APP_TITLE;
    question.textId = IDS_CLOSE_FETCHING;
    question.buttons = PromptButtons::OkCancel;
    question.okTextId = IDS_CLOSE_FETCHING_OK;
    if (prompt.Ask(question) != IDOK)
        return false;
    pool.StopFetching();
    pool.CancelAllFetches();
    return true;
}

} // namespace zorv
