#pragma once
// Events that fetch workers post to the UI thread. Their types are the
// private message numbers; an event names its item by a weak reference, so it
// can never reach a different item that happens to reuse the address, and it
// is ignored when the item has left the list.
#include "model/item.h"

#include <QEvent>

#include <cstdint>
#include <memory>

namespace zorv {

enum : int {
    WM_ITEM_UPDATED = 0x8000, // wParam 1 when the new state is 1 (fetched)
    WM_SET_MODIFIED = 0x8001, // wParam: the modified flag to set
    WM_ADD_TRAFFIC = 0x8002,  // bytes read since the last such event (see CZorvDoc::TakeTraffic)
    WM_LAUNCH_ITEM = 0x8003,  // the item is complete: launch its file
};

class CItemEvent : public QEvent {
public:
    CItemEvent(int type, std::weak_ptr<CItem> item, int wParam, int state)
        : QEvent(static_cast<QEvent::Type>(type)), m_item(std::move(item)), m_wParam(wParam),
          m_nState(state)
    {
    }
    std::shared_ptr<CItem> Item() const { return m_item.lock(); }
    int WParam() const { return m_wParam; }
    // The state the worker stored when it posted the event.
    int State() const { return m_nState; }

private:
    std::weak_ptr<CItem> m_item;
    int m_wParam;
    int m_nState;
};

} // namespace zorv
