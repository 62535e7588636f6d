// The pending queue under load: workers pop while the UI thread removes,
// re-queues, inserts, reorders and adds. Meant to run under ThreadSanitizer
// as well.
#include "model/doc.h"
#include "support/tempsettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

using zorv::CItem;
using zorv::CZorvDoc;

namespace {

TEST(QueueThreads, EveryItemIsPoppedExactlyOnce)
{
    zorv::test::CTempSettings settings;
    CZorvDoc doc;
    constexpr int kInitial = 3000;
    constexpr int kAddedLater = 500;
    constexpr int kTotal = kInitial + kAddedLater;
    constexpr int kWorkers = 4;
    for (int i = 0; i < kInitial; ++i)
        ASSERT_NE(doc.AddUrl("http://h/" + std::to_string(i), "", "/d", "", 0), nullptr);

    std::atomic<bool> uiDone{false};
    std::atomic<int> poppedTotal{0};
    std::atomic<int> badCounts{0};
    std::vector<std::vector<CItem*>> popped(kWorkers);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (;;) {
                const bool last = uiDone.load();
                const zorv::ItemPtr item = doc.PopPending();
                const int count = doc.GetItemCount(true);
                if (count < 0 || count > kTotal)
                    ++badCounts;
                if (item) {
                    item->SetState(zorv::STATE_PREPARING); // as the worker pool does
                    popped[static_cast<size_t>(w)].push_back(item.get());
                    ++poppedTotal;
                    // A little work per item keeps the queue busy while the
                    // UI thread changes it.
                    std::this_thread::yield();
                } else if (last) {
                    return; // the UI thread had finished and the queue is empty
                } else {
                    std::this_thread::yield();
                }
            }
        });
    }

    // The UI thread only re-queues items it took out itself, so every item
    // still reaches exactly one worker.
    std::mt19937 rng(42);
    int added = 0;
    int requeued = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int round = 0; poppedTotal.load() < kTotal - 50 && std::chrono::steady_clock::now() < deadline;
         ++round) {
        if (round % 16 == 0 && added < kAddedLater) {
            ASSERT_NE(doc.AddUrl("http://h/late/" + std::to_string(added), "", "/d", "", 0), nullptr);
            ++added;
        }
        if (round % 512 == 0) {
            std::vector<int> order(static_cast<size_t>(doc.GetCount()));
            for (size_t k = 0; k < order.size(); ++k)
                order[k] = static_cast<int>(order.size() - 1 - k);
            doc.Reorder(order);
            // A snapshot of the queue holds every item at most once and in
            // list order.
            const std::vector<CItem*> pending = doc.PendingItems();
            for (size_t k = 1; k < pending.size(); ++k)
                ASSERT_LT(doc.RowOf(pending[k - 1]), doc.RowOf(pending[k]));
        }
        const auto n = static_cast<unsigned>(doc.GetCount());
        CItem* item = doc.GetItem(static_cast<int>(rng() % n));
        CItem* before = doc.GetItem(static_cast<int>(rng() % n));
        if (!doc.RemovePending(item))
            continue;
        ++requeued;
        switch (round % 4) {
        case 0:
            doc.QueuePending(item);
            break;
        case 1:
            // (before == item would leave the item out of the queue)
            doc.InsertPending(before == item ? nullptr : before, item);
            break;
        case 2:
            doc.InsertPending(nullptr, item);
            break;
        default:
            EXPECT_TRUE(doc.InsertPending(item, item)); // no-op: the item stays out...
            EXPECT_FALSE(doc.IsQueued(item));
            doc.QueuePending(item); // ...until queued again
            break;
        }
    }
    while (added < kAddedLater)
        ASSERT_NE(doc.AddUrl("http://h/late/" + std::to_string(added++), "", "/d", "", 0), nullptr);
    uiDone = true;
    for (auto& t : workers)
        t.join();

    // Every row was popped by exactly one worker, once.
    std::vector<CItem*> all;
    for (const auto& list : popped)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "an item was popped twice";
    EXPECT_EQ(all.size(), static_cast<size_t>(kTotal));
    EXPECT_EQ(doc.GetCount(), kTotal);
    for (int r = 0; r < doc.GetCount(); ++r)
        EXPECT_EQ(doc.GetItem(r)->GetState(), zorv::STATE_PREPARING) << r;
    EXPECT_GT(requeued, 0) << "the UI thread never met a queued item";
    EXPECT_EQ(doc.GetItemCount(true), 0);
    EXPECT_TRUE(doc.PendingItems().empty());
    EXPECT_EQ(badCounts.load(), 0);
}

} // namespace
