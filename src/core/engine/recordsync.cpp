#include "engine/recordsync.h"

#include <algorithm>

namespace zorv {

CRecordSyncer& CRecordSyncer::Instance()
{
    static CRecordSyncer syncer;
    return syncer;
}

CRecordSyncer::~CRecordSyncer()
{
    {
        std::scoped_lock lock(m_lock);
        m_stop = true;
    }
    m_cond.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::shared_ptr<const std::atomic<bool>> CRecordSyncer::Queue(std::shared_ptr<CPartJournal> journal,
                                                              CPartRecord record)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    {
        std::scoped_lock lock(m_lock);
        const std::string& path = journal->PartPath();
        const std::uint64_t epoch = m_epochs[path];
        auto queued = std::find_if(m_jobs.begin(), m_jobs.end(),
                                   [&path](const Job& j) { return j.journal->PartPath() == path; });
        if (queued != m_jobs.end()) {
            queued->done->store(true); // replaced by the newer one
            *queued = Job{std::move(journal), std::move(record), epoch, done};
        } else {
            m_jobs.push_back(Job{std::move(journal), std::move(record), epoch, done});
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
    }
    m_cond.notify_one();
    return done;
}

std::shared_ptr<const std::atomic<bool>> CRecordSyncer::Invalidate(const std::string& partPath,
                                                                   const std::function<void()>& remove)
{
    std::scoped_lock lock(m_lock);
    ++m_epochs[partPath];
    std::erase_if(m_jobs, [&partPath](const Job& j) {
        if (j.journal->PartPath() != partPath)
            return false;
        j.done->store(true);
        return true;
    });
    remove();
    if (m_pSyncing && m_pSyncing->journal->PartPath() == partPath)
        return m_pSyncing->done;
    return nullptr;
}

void CRecordSyncer::Run()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_cond.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, and every update is written
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_pSyncing = &job;
        lock.unlock();
        const std::string& path = job.journal->PartPath();
        job.journal->Sync(job.record, [&](bool staged) {
            // The check and the rename under the lock: an Invalidate comes
            // either before (the update is dropped) or after (it removes it).
            std::scoped_lock commitLock(m_lock);
            return CommitPartRecord(path, staged && m_epochs[path] == job.epoch);
        });
        lock.lock();
        m_pSyncing = nullptr;
        job.done->store(true);
    }
}

} // namespace zorv
