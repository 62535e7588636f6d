#include "engine/pool.h"

#include "engine/ratelimit.h"
#include "engine/retrywait.h"
#include "settings/options.h"

#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <system_error>

namespace zorv {

namespace {

// How long closing a list waits for the workers to let go of its items.
constexpr std::chrono::seconds kReleaseTimeout{10};
constexpr std::chrono::milliseconds kIdleWait{1000};
// The loop's tick while a speed limit is set.
constexpr int kLimitedTickMs = 5;

std::function<void(const std::string&)>& OpenHandler()
{
    static std::function<void(const std::string&)> handler;
    return handler;
}

} // namespace

// The transfer thread's jobs.
struct CWorkerPool::Loop {
    std::vector<std::unique_ptr<CItemFetch>> items;
    std::vector<std::unique_ptr<CRangeJob>> helpers; // ranges taken by free slots
    CFetchLimits limits;
};

CWorkerPool::CWorkerPool(CZorvDoc& doc) : m_doc(doc)
{
    m_doc.SetEngine(this);
}

CWorkerPool::~CWorkerPool()
{
    Shutdown();
    if (m_doc.Engine() == this)
        m_doc.SetEngine(nullptr);
}

void CWorkerPool::Shutdown()
{
    SetWorkerCount(0);
    ReleaseItems();
    {
        std::scoped_lock lock(m_workerLock);
        m_bShutdown = true;
    }
    Wake();
    if (m_thread.joinable())
        m_thread.join();
}

void CWorkerPool::SetLimits(const CFetchLimits& limits)
{
    std::scoped_lock lock(m_workerLock);
    m_limits = limits;
}

void CWorkerPool::StartFetching()
{
    ApplySpeedLimit(Options().SpeedLimit);
    SetWorkerCount(Options().Connections);
}

void CWorkerPool::SetWorkerCount(int n)
{
    {
        std::scoped_lock lock(m_workerLock);
        if (m_bShutdown)
            n = 0;
        n = std::max(n, 0);
        if (n > 0)
            m_bPausing = false;
        m_nTarget.store(n);
        m_board.SetWorkers(n);
        // New slots are there at once; busy ones stay until their transfer ends.
        m_nLive.store(std::max(n, m_nBusy.load()));
        if (n > 0 && !m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { LoopThreadProc(); });
            } catch (const std::system_error&) {
                m_nLive.store(0);
                m_nTarget.store(0);
            }
        }
    }
    m_activeChanged.notify_all();
    Wake();
}

bool CWorkerPool::WaitUntilStopped(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_workerLock);
    return m_activeChanged.wait_for(lock, timeout, [this] { return m_nLive.load() == 0; });
}

std::vector<ItemPtr> CWorkerPool::ActiveItems() const
{
    std::scoped_lock lock(m_workerLock);
    return m_active;
}

void CWorkerPool::Wake()
{
    m_transferLoop.Wakeup();
}

void CWorkerPool::UpdateLive()
{
    {
        std::scoped_lock lock(m_workerLock);
        m_nLive.store(std::max(m_nTarget.load(), m_nBusy.load()));
    }
    m_activeChanged.notify_all();
}

// Hands ranges back, starts queued items and helping ranges, as the slots allow.
void CWorkerPool::Schedule(Loop& loop)
{
    const int target = m_nTarget.load();
    auto busy = [&loop] { return static_cast<int>(loop.items.size() + loop.helpers.size()); };
    // A helping range gives its slot back when the pool shrinks or an item waits.
    for (auto& helper : loop.helpers) {
        if (busy() > target || (busy() >= target && m_doc.ReadyCount() > 0)) {
            helper->Tick(true);
            if (helper->Finished()) {
                helper.reset();
                std::erase(loop.helpers, nullptr);
                break; // one per round; the next round goes on
            }
        }
    }
    while (busy() < target) {
        ItemPtr item = m_doc.PopPending();
        if (!item)
            break;
        m_nHolding.fetch_add(1);
        m_nActive.fetch_add(1);
        // Clear a cancel meant for an earlier fetch before the item becomes
        // cancellable.
        item->ClearCancel();
        {
            std::scoped_lock lock(m_workerLock);
            m_active.push_back(item);
            if (m_bPausing)
                item->StopForPause();
        }
        m_doc.NotifyItemState(item, STATE_PREPARING, 0);
        // Only http, https and ftp URLs are fetched; anything else fails
        // without touching the network, its note unchanged.
        if (!CItem::IsValidUrl(item->FetchParams().url) || item->IsCancelled()) {
            Settle(item, STATE_FAILED);
            continue;
        }
        m_transferLoop.SetMaxHostConnections(Options().NetSnapshot().MaxConnectionsPerServer);
        auto fetch = std::make_unique<CItemFetch>(item, m_doc, m_transferLoop, loop.limits, &m_board);
        fetch->Start();
        loop.items.push_back(std::move(fetch));
        m_nBusy.store(busy());
    }
    while (busy() < target) {
        auto [transfer, seg] = m_board.TakeRange();
        if (!transfer)
            break;
        auto job = std::make_unique<CRangeJob>(m_transferLoop, std::move(transfer), seg, loop.limits);
        job->Start();
        if (!job->Finished())
            loop.helpers.push_back(std::move(job));
    }
    m_nBusy.store(busy());
}

// Posts the result of an item taken from the queue and lets go of it.
void CWorkerPool::Settle(const ItemPtr& item, int result)
{
    // A server that asked for a pause gets it at once: none of its queued
    // items is taken before the item's result is handled. The item keeps
    // the wait for its own retry.
    if (const auto asked = item->TakeServerRetryAfter()) {
        std::chrono::milliseconds second;
        {
            std::scoped_lock lock(m_workerLock);
            second = m_limits.retrySecond;
        }
        const auto wait = ScaledWait(*asked, second);
        item->SetServerRetryAfter(wait);
        m_doc.DelayServer(CItem::ServerOf(item->FetchParams().url), CItem::RetryClock::now() + wait);
    }
    {
        std::scoped_lock lock(m_workerLock);
        if (auto it = std::find(m_active.begin(), m_active.end(), item); it != m_active.end())
            m_active.erase(it);
    }
    m_doc.NotifyItemState(item, result, 0);
    m_nActive.fetch_sub(1);
    {
        std::scoped_lock lock(m_workerLock);
        m_nHolding.fetch_sub(1);
    }
    m_activeChanged.notify_all();
}

// Ticks every job and posts the results of the fetches that ended.
void CWorkerPool::Reap(Loop& loop)
{
    for (auto& helper : loop.helpers) {
        helper->Tick(false);
        if (helper->Finished())
            helper.reset();
    }
    std::erase(loop.helpers, nullptr);
    for (auto& fetch : loop.items) {
        fetch->Tick();
        if (!fetch->Finished())
            continue;
        const ItemPtr item = fetch->Item();
        const int result = fetch->Result();
        fetch.reset();
        Settle(item, result);
    }
    std::erase(loop.items, nullptr);
    m_nBusy.store(static_cast<int>(loop.items.size() + loop.helpers.size()));
}

void CWorkerPool::LoopThreadProc()
{
    Loop loop;
    for (;;) {
        {
            std::scoped_lock lock(m_workerLock);
            loop.limits = m_limits;
            if (m_bShutdown && loop.items.empty() && loop.helpers.empty())
                break;
        }
        Schedule(loop);
        if (!m_transferLoop.Perform()) {
            // The multi handle failed: every running transfer is cancelled.
            for (const ItemPtr& item : ActiveItems())
                item->Cancel();
        }
        Reap(loop);
        UpdateLive();
        // A slot freed while items wait: the next round takes them at once.
        const int busy = static_cast<int>(loop.items.size() + loop.helpers.size());
        if (busy < m_nTarget.load() && m_doc.ReadyCount() > 0)
            continue;
        const bool idle = loop.items.empty() && loop.helpers.empty();
        // Under a speed limit paused transfers go on in small steps.
        const int busyWait = CRateLimiter::Global().Limited() ? kLimitedTickMs : kTickMs;
        int wait = idle ? static_cast<int>(kIdleWait.count()) : busyWait;
        // A free slot wakes for the first item whose retry time comes.
        if (busy < m_nTarget.load()) {
            if (const auto next = m_doc.NextRetry()) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - CItem::RetryClock::now());
                wait = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, wait));
            }
        }
        m_transferLoop.Wait(wait);
    }
    m_nBusy.store(0);
    UpdateLive();
}

void CWorkerPool::CancelAllFetches()
{
    std::scoped_lock lock(m_workerLock);
    for (const ItemPtr& item : m_active)
        item->Cancel();
}

void CWorkerPool::PauseAll()
{
    SetWorkerCount(0);
    std::scoped_lock lock(m_workerLock);
    m_bPausing = true;
    for (const ItemPtr& item : m_active)
        item->StopForPause();
}

void CWorkerPool::ReleaseItems()
{
    const auto deadline = std::chrono::steady_clock::now() + kReleaseTimeout;
    std::unique_lock lock(m_workerLock);
    // Cancel again on every round: the loop may have just taken an item.
    while (m_nHolding.load() > 0 && std::chrono::steady_clock::now() < deadline) {
        for (const ItemPtr& item : m_active)
            item->Cancel();
        m_activeChanged.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void CWorkerPool::CheckAutoStart()
{
    const COptions& options = Options();
    if (m_nLive.load() == 0 && options.AutoStartIfRasActive && m_dialUpActive && m_dialUpActive()) {
        ApplySpeedLimit(options.SpeedLimit);
        SetWorkerCount(options.Connections);
    }
}

void SetOpenFileHandler(std::function<void(const std::string& path)> handler)
{
    OpenHandler() = std::move(handler);
}

void LaunchFile(const std::string& path)
{
    const COptions& options = Options();
    if (!options.ExecAfterFetch)
        return;
    if (options.ExecAction == "open") {
        if (OpenHandler())
            OpenHandler()(path);
        return;
    }
    const QString program = QStandardPaths::findExecutable(QString::fromStdString(options.ExecAction));
    if (program.isEmpty())
        return;
    QProcess::startDetached(program, {QString::fromStdString(path)});
}

} // namespace zorv
