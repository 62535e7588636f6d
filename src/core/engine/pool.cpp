#include "engine/pool.h"

#include "engine/ratelimit.h"
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

std::function<void(const std::string&)>& OpenHandler()
{
    static std::function<void(const std::string&)> handler;
    return handler;
}

} // namespace

struct CWorkerPool::Worker {
    std::thread thread;
    std::atomic<bool> done{false};
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
        std::scoped_lock lock(m_wakeLock);
        m_bShutdown = true;
    }
    m_wakeCond.notify_all();
    for (auto& w : m_workers) {
        if (w->thread.joinable())
            w->thread.join();
    }
    m_workers.clear();
}

void CWorkerPool::SetLimits(const CFetchLimits& limits)
{
    std::scoped_lock lock(m_workerLock);
    m_limits = limits;
}

void CWorkerPool::ReapWorkers()
{
    std::erase_if(m_workers, [](const std::unique_ptr<Worker>& w) {
        if (!w->done.load())
            return false;
        w->thread.join();
        return true;
    });
}

void CWorkerPool::StartFetching()
{
    ApplySpeedLimit(Options().SpeedLimit);
    SetWorkerCount(Options().Connections);
}

void CWorkerPool::SetWorkerCount(int n)
{
    ReapWorkers();
    {
        std::scoped_lock lock(m_wakeLock);
        if (m_bShutdown)
            n = 0;
    }
    n = std::max(n, 0);
    if (n > 0) {
        std::scoped_lock lock(m_workerLock);
        m_bPausing = false;
    }
    m_board.SetWorkers(n);
    const int current = TargetWorkers();
    if (n == current)
        return;
    if (n < current) {
        {
            std::scoped_lock lock(m_workerLock);
            m_nQuitRequests.fetch_add(current - n);
        }
        Wake();
        return;
    }
    for (int i = current; i < n; ++i) {
        // A quit request not yet taken cancels out a new thread.
        int pending = m_nQuitRequests.load();
        while (pending > 0 && !m_nQuitRequests.compare_exchange_weak(pending, pending - 1)) {
        }
        if (pending > 0)
            continue;
        auto worker = std::make_unique<Worker>();
        m_nLive.fetch_add(1);
        try {
            Worker* w = worker.get();
            worker->thread = std::thread([this, w] {
                FetchThreadProc();
                w->done.store(true);
            });
            m_workers.push_back(std::move(worker));
        } catch (const std::system_error&) {
            // Only threads that exist are counted.
            m_nLive.fetch_sub(1);
            break;
        }
    }
}

bool CWorkerPool::WaitUntilStopped(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_workerLock);
    const bool stopped = m_activeChanged.wait_for(lock, timeout, [this] { return m_nLive.load() == 0; });
    lock.unlock();
    ReapWorkers();
    return stopped;
}

std::vector<ItemPtr> CWorkerPool::ActiveItems() const
{
    std::scoped_lock lock(m_workerLock);
    return m_active;
}

void CWorkerPool::Wake()
{
    {
        std::scoped_lock lock(m_wakeLock);
        m_bWakeSignalled = true;
    }
    m_wakeCond.notify_one();
}

bool CWorkerPool::TakeQuitRequest()
{
    int n = m_nQuitRequests.load();
    while (n > 0) {
        if (m_nQuitRequests.compare_exchange_weak(n, n - 1))
            return true;
    }
    return false;
}

ItemPtr CWorkerPool::GetNextItem(CURL* helpEasy, CURLM* helpMulti, const CFetchLimits& limits)
{
    // A helper gives its range back when there is an item to take, or a
    // worker to retire.
    const auto yield = [this] { return m_doc.GetItemCount(true) > 0 || m_nQuitRequests.load() > 0; };
    for (;;) {
        if (TakeQuitRequest())
            return nullptr;
        m_nHolding.fetch_add(1);
        if (ItemPtr item = m_doc.PopPending()) {
            // Clear a cancel meant for an earlier fetch before the item
            // becomes cancellable.
            item->ClearCancel();
            {
                std::scoped_lock lock(m_workerLock);
                m_active.push_back(item);
                if (m_bPausing)
                    item->StopForPause();
            }
            m_doc.NotifyItemState(item, STATE_PREPARING, 0);
            return item;
        }
        if (m_nHolding.fetch_sub(1) == 1)
            m_activeChanged.notify_all();
        if (helpEasy && m_board.Help(helpEasy, helpMulti, limits, yield))
            continue;
        {
            std::unique_lock lock(m_wakeLock);
            m_wakeCond.wait_for(lock, kIdleWait, [this] { return m_bWakeSignalled || m_bShutdown; });
            m_bWakeSignalled = false; // auto-reset
        }
        if (TakeQuitRequest())
            return nullptr;
    }
}

void CWorkerPool::ReleaseHeld(const ItemPtr& item)
{
    {
        std::scoped_lock lock(m_workerLock);
        auto it = std::find(m_active.begin(), m_active.end(), item);
        if (it != m_active.end())
            m_active.erase(it);
    }
}

void CWorkerPool::FetchThreadProc()
{
    CFetchLimits limits;
    {
        std::scoped_lock lock(m_workerLock);
        limits = m_limits;
    }
    CFetchSession session(limits);
    session.SetSegmentBoard(&m_board);
    // The handle this worker fetches other items' ranges with.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> helpEasy(curl_easy_init(), &curl_easy_cleanup);
    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> helpMulti(curl_multi_init(), &curl_multi_cleanup);
    if (!helpMulti)
        helpEasy.reset();
    while (ItemPtr item = GetNextItem(helpEasy.get(), helpMulti.get(), limits)) {
        m_nActive.fetch_add(1);
        int result = STATE_FAILED;
        // Only http, https and ftp URLs are fetched; anything else fails
        // without touching the network, its note unchanged.
        if (CItem::IsValidUrl(item->FetchParams().url) && !item->IsCancelled())
            result = FetchItem(session, item, m_doc);
        ReleaseHeld(item);
        m_doc.NotifyItemState(item, result, 0);
        if (item->IsCancelled())
            session.Reset();
        m_nActive.fetch_sub(1);
        {
            std::scoped_lock lock(m_workerLock);
            m_nHolding.fetch_sub(1);
        }
        m_activeChanged.notify_all();
    }
    {
        std::scoped_lock lock(m_workerLock);
        m_nLive.fetch_sub(1);
    }
    m_activeChanged.notify_all();
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
    // Cancel again on every round: a worker may have just taken an item.
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
