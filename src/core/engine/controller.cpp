#include "engine/controller.h"

#include "engine/pool.h"
#include "model/events.h"
#include "settings/options.h"

#include <numeric>

namespace zorv {

CFetchController::CFetchController(CZorvDoc& doc, QObject* parent)
    : QObject(parent), m_doc(doc), m_launch(LaunchFile)
{
    m_doc.SetEventReceiver(this);
}

CFetchController::~CFetchController()
{
    m_doc.SetEventReceiver(nullptr);
}

bool CFetchController::event(QEvent* e)
{
    const int type = static_cast<int>(e->type());
    if (type < WM_ITEM_UPDATED || type > WM_LAUNCH_ITEM)
        return QObject::event(e);
    auto* ev = static_cast<CItemEvent*>(e);
    switch (type) {
    case WM_ITEM_UPDATED:
        if (ItemPtr item = ev->Item())
            OnItemUpdated(item, ev->State(), ev->WParam() == 1);
        break;
    case WM_SET_MODIFIED:
        m_doc.ModifiedNoticeHandled();
        // A worker's notice never clears the flag: the UI may have marked the
        // list modified after the notice was posted. The result of an item
        // that has left the list (a list closed while it was being fetched)
        // changes nothing in the list open now.
        if (ev->WParam() && m_doc.RowOf(ev->Item().get()) >= 0)
            m_doc.SetModifiedFlag(true);
        break;
    case WM_ADD_TRAFFIC:
        if (const quint64 bytes = m_doc.TakeTraffic())
            emit TrafficAdded(bytes);
        break;
    case WM_LAUNCH_ITEM:
        if (ItemPtr item = ev->Item(); item && m_launch)
            m_launch(item->LocalPath());
        break;
    }
    return true;
}

void CFetchController::OnItemUpdated(const ItemPtr& item, int postedState, bool fetched)
{
    CZorvDoc::UpdateHandled(item.get());
    const int row = m_doc.RowOf(item.get());
    if (row < 0)
        return; // the item left the list meanwhile
    // The server named the file: the row shows the new name, the list keeps it.
    if (item->ApplyOfferedFileName())
        m_doc.SetModifiedFlag(true);

    // Only the notice that carried the final result acts on it, and only
    // while the item still has that result: a failure is counted (and
    // retried) once however many notices are queued.
    const bool final = postedState == STATE_FETCHED || postedState == STATE_FAILED;
    if (!final || item->GetState() != postedState) {
        m_doc.UpdateItem(item.get());
        return;
    }
    const auto serverWait = item->TakeServerRetryAfter();
    // A fetch stopped for a pause did not fail: the item waits in its place
    // again, its partial data kept for the next fetch.
    if (postedState == STATE_FAILED && item->IsStoppedForPause()) {
        item->SetState(STATE_NOT_FETCHED);
        m_doc.UpdateItem(item.get());
        m_doc.QueueInPlace(item.get());
        return;
    }
    if (postedState == STATE_FETCHED)
        m_doc.SetPaused(item.get(), false); // a pause that came too late
    m_doc.UpdateItem(item.get());
    const COptions& options = Options();
    bool retried = false;
    std::chrono::milliseconds wait{};
    if (postedState == STATE_FAILED) {
        const unsigned failures = ++item->m_nFailures;
        // A server that asked for a pause gets it (the pool made its other
        // queued items wait already).
        wait = serverWait ? *serverWait : RetryWaitAfter(failures, options.RetryWait, m_retrySecond);
        if (failures <= static_cast<unsigned>(options.MaxRetry)) {
            retried = true;
            item->SetState(STATE_NOT_FETCHED);
            std::vector<int> order(static_cast<size_t>(m_doc.GetCount()));
            std::iota(order.begin(), order.end(), 0);
            order.erase(order.begin() + row);
            order.push_back(row);
            m_doc.Reorder(order);
        }
    }
    // Told before a retry is queued: until then no worker can take the
    // item, so its note is still the failure's.
    emit ItemFinished(item, postedState, retried, retried ? static_cast<qint64>(wait.count()) : 0);
    if (retried) {
        if (wait.count() > 0)
            m_doc.QueueRetry(item.get(), CItem::RetryClock::now() + wait);
        else
            m_doc.QueuePending(item.get());
        m_doc.SetModifiedFlag(true);
    }
    if (fetched && options.AutoRemoveUrlIfSuccess) {
        const int current = m_doc.RowOf(item.get());
        if (current >= 0) {
            m_doc.RemoveItems({current});
            m_doc.SetModifiedFlag(true);
        }
    }
}

} // namespace zorv
