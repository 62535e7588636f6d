#pragma once
// Lists for the command tests: items named by one letter or number (the
// last URL segment), queued, settled or in progress as a test needs.
#include "model/commands.h"
#include "support/items.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorv::test {

// Many queued items at once: http://h/0, http://h/1, ...
inline void FillMany(CZorvDoc& doc, int count)
{
    std::vector<ItemPtr> items;
    for (int i = 0; i < count; ++i)
        items.push_back(std::make_shared<CItem>("http://h/" + std::to_string(i), "", "/tmp", "", 0));
    doc.AppendItems(std::move(items), true);
}

// Takes the item out of the queue and gives it a state, as a worker would.
inline void SetWorkerState(CZorvDoc& doc, int row, int state)
{
    doc.RemovePending(doc.GetItem(row));
    doc.GetItem(row)->SetState(state);
}

// The pending queue must hold the queued items in list order.
inline void ExpectQueueInListOrder(const CZorvDoc& doc)
{
    std::vector<CItem*> expected;
    for (int r = 0; r < doc.GetCount(); ++r)
        if (doc.IsQueued(doc.GetItem(r)))
            expected.push_back(doc.GetItem(r));
    EXPECT_EQ(doc.PendingItems(), expected);
}

} // namespace zorv::test
