#include "model/notices.h"

#include "model/events.h"

#include <QCoreApplication>

namespace zorv {

void CItemNotices::Post(const std::shared_ptr<CItem>& item, int state, std::uint64_t bytes)
{
    item->SetState(state);
    QObject* receiver = m_pReceiver.load();
    if (!receiver)
        return;
    // Every change of state gets its own notice; repeated notices of the same
    // state (progress) wait as one, since the handler reads the item's note
    // when it runs.
    const int previous = item->m_nNotifiedState.exchange(state);
    const bool waiting = item->m_bUpdatePosted.exchange(true);
    if (previous != state || state != STATE_FETCHING || !waiting) {
        QCoreApplication::postEvent(
            receiver, new CItemEvent(WM_ITEM_UPDATED, item, state == STATE_FETCHED ? 1 : 0, state));
    }
    if (bytes != 0 && m_traffic.fetch_add(bytes) == 0)
        QCoreApplication::postEvent(receiver, new CItemEvent(WM_ADD_TRAFFIC, item, 0, state));
    // A result (fetched, failed) marks the list modified, so that closing
    // asks to save it and an automatic save records it; progress steps do
    // not. One waiting notice at a time is enough: it is handled after the
    // states stored before it.
    const bool result = state == STATE_FETCHED || state == STATE_FAILED;
    if (result && !m_modified.load() && !m_bModifiedNoticePosted.exchange(true))
        QCoreApplication::postEvent(receiver, new CItemEvent(WM_SET_MODIFIED, item, 1, state));
    if (state == STATE_LAUNCHING)
        QCoreApplication::postEvent(receiver, new CItemEvent(WM_LAUNCH_ITEM, item, 0, state));
}

} // namespace zorv
