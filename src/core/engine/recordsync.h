#pragma once
// CRecordSyncer: the syncing thread of the partial files' records. The
// transfer loop never waits for the disk: an update of a record
// (CPartJournal::Update) is queued here, and this thread syncs the partial
// file's data, writes the new record beside the old one and renames it
// into place.
//
// Order per file: a newer update of a file replaces one still queued (the
// older one's flag turns true at once). Invalidate (the record is removed:
// the file is complete, discarded, or about to be overwritten from the
// beginning) drops every update queued or being synced for that file at
// that moment; the rename and the removal are serialized, so a late update
// never brings back a record that was removed or describes bytes that are
// being overwritten.
#include "engine/partfile.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zorv {

class CRecordSyncer {
public:
    static CRecordSyncer& Instance();
    ~CRecordSyncer();

    // Queues `record` for `journal`'s file; the flag turns true when it is
    // on disk or was dropped.
    std::shared_ptr<const std::atomic<bool>> Queue(std::shared_ptr<CPartJournal> journal, CPartRecord record);
    // Runs `remove` with every earlier update of `partPath` dropped. An
    // update being synced at that moment still stages its file and then
    // drops it: the flag returned turns true once that is done (null when
    // none was being synced), so that a caller that must leave no trace
    // can wait for it without blocking.
    std::shared_ptr<const std::atomic<bool>> Invalidate(const std::string& partPath,
                                                        const std::function<void()>& remove);

private:
    CRecordSyncer() = default;
    void Run();
    struct Job {
        std::shared_ptr<CPartJournal> journal;
        CPartRecord record;
        std::uint64_t epoch;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_lock;
    std::condition_variable m_cond;
    std::deque<Job> m_jobs;
    std::map<std::string, std::uint64_t> m_epochs; // per file: raised by Invalidate
    const Job* m_pSyncing = nullptr;                // the update being synced now
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace zorv
