#pragma once
// The notices that fetch workers post to the UI thread about a list's items
// (model/events.h), coalesced so that a fast download never floods the UI
// thread: of the progress notices (state 5 again) one per item waits at a
// time, of WM_SET_MODIFIED one in all, and traffic is summed until the UI
// takes it. Any thread, except where said.
#include "model/item.h"

#include <atomic>
#include <cstdint>
#include <memory>

class QObject;

namespace zorv {

class CItemNotices {
public:
    // `modified` is the list's modified flag: a result is not announced
    // while the list is modified already.
    explicit CItemNotices(const std::atomic<bool>& modified) : m_modified(modified) {}

    // Events go to `receiver` (on the UI thread). Null: none are posted.
    void SetReceiver(QObject* receiver) { m_pReceiver.store(receiver); }
    // Stores the state and posts WM_ITEM_UPDATED, WM_ADD_TRAFFIC (when bytes
    // were read), WM_SET_MODIFIED (for a result, while the list is not
    // modified) and, for state 7, WM_LAUNCH_ITEM, in that order.
    void Post(const std::shared_ptr<CItem>& item, int state, std::uint64_t bytes);
    // UI side of the coalescing: an item's update was handled.
    static void UpdateHandled(CItem* item) { item->m_bUpdatePosted.store(false); }
    // UI side: a WM_SET_MODIFIED notice was handled, or the list was emptied
    // (a notice still waiting belongs to items that are gone, and is dropped
    // when it arrives; a result of the next list posts its own).
    void ModifiedNoticeHandled() { m_bModifiedNoticePosted.store(false); }
    // The bytes read since the last call.
    std::uint64_t TakeTraffic() { return m_traffic.exchange(0); }

private:
    const std::atomic<bool>& m_modified;
    std::atomic<QObject*> m_pReceiver{nullptr};
    std::atomic<std::uint64_t> m_traffic{0};
    std::atomic<bool> m_bModifiedNoticePosted{false};
};

} // namespace zorv
