#pragma once
// CFetchController: handles, on the UI thread, the events that fetch workers
// post (model/events.h): redraws, retries of failed items, automatic removal
// of fetched items, launching fetched files and the traffic count. The window
// and the headless fetch both use it.
#include "engine/retrywait.h"
#include "model/doc.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <string>

namespace zorv {

class CFetchController : public QObject {
    Q_OBJECT
public:
    // Becomes the document's event receiver.
    explicit CFetchController(CZorvDoc& doc, QObject* parent = nullptr);
    ~CFetchController() override;

    // What launching a fetched file does (default: LaunchFile).
    void SetLauncher(std::function<void(const std::string& path)> launcher)
    {
        m_launch = std::move(launcher);
    }
    // How long one second of RetryWait and of a server's Retry-After lasts
    // (tests shorten it).
    void SetRetrySecond(std::chrono::milliseconds second) { m_retrySecond = second; }

signals:
    // A final result (1 fetched, 2 failed) was handled for the item; `retried`
    // tells that a failed item was queued again, to be taken after `waitMs`
    // milliseconds. Emitted before a fetched item is removed from the list.
    void ItemFinished(const zorv::ItemPtr& item, int state, bool retried, qint64 waitMs);
    // Bytes read since the last signal.
    void TrafficAdded(quint64 bytes);

protected:
    bool event(QEvent* e) override;

private:
    void OnItemUpdated(const ItemPtr& item, int postedState, bool fetched);

    CZorvDoc& m_doc;
    std::function<void(const std::string&)> m_launch;
    std::chrono::milliseconds m_retrySecond{1000};
};

} // namespace zorv
