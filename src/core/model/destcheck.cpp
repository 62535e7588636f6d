#include "model/destcheck.h"

#include "model/doc.h"
#include "model/prompt.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace zorv {

namespace {

// The local file of an item, the same key `zorv --add` uses for its clash
// rule, so that the two agree on what clashes.
std::string DestinationKey(const CItem& item)
{
    return CItem::LocalFileKey(item.LocalPath());
}

struct CWaiting {
    std::string key;
    ItemPtr item;
};

// The items waiting to be compared, spread by the hash of their key so that
// only the items of one bucket are compared with each other. The hash
// decides only the order in which clashes are shown; equal keys always
// share a bucket, and grouping compares the keys exactly.
class CBuckets {
public:
    static constexpr size_t kCount = 37;

    // Sum of the key's bytes, each as a signed 8-bit value (the bytes of
    // multibyte characters count negative), read as unsigned 32-bit.
    static size_t BucketOf(const std::string& key)
    {
        std::uint32_t sum = 0; // wraps like the signed sum it stands for
        for (const char c : key)
            sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
        return sum % kCount;
    }

    void Add(ItemPtr item)
    {
        std::string key = DestinationKey(*item);
        const size_t b = BucketOf(key);
        m_buckets[b].push_back(CWaiting{std::move(key), std::move(item)});
    }

    bool Empty(size_t b) const { return m_buckets[b].empty(); }

    // Takes the first item of bucket b out together with every later one of
    // the same key; the others stay in their order. Items the list no
    // longer holds are dropped on the way.
    std::vector<ItemPtr> TakeGroup(size_t b, const CZorvDoc& doc)
    {
        std::vector<CWaiting>& bucket = m_buckets[b];
        const std::string key = bucket.front().key;
        std::vector<ItemPtr> group;
        std::vector<CWaiting> rest;
        for (CWaiting& w : bucket) {
            if (w.key != key)
                rest.push_back(std::move(w));
            else if (doc.RowOf(w.item.get()) >= 0)
                group.push_back(std::move(w.item));
        }
        bucket = std::move(rest);
        return group;
    }

private:
    std::array<std::vector<CWaiting>, kCount> m_buckets;
};

// Writes the user's answer into the items; true when any text changed.
bool ApplyEntries(const std::vector<ItemPtr>& group, const std::vector<CDestEntry>& entries)
{
    bool changed = false;
    for (size_t i = 0; i < std::min(group.size(), entries.size()); ++i) {
        CItem& item = *group[i];
        // A worker may have taken the item meanwhile and read its texts.
        const auto lock = item.Lock();
        const std::string oldDestination = item.m_strDestination;
        const std::string oldFileName = item.m_strFileName;
        if (!entries[i].fileName.empty())
            item.m_strFileName = entries[i].fileName;
        else
            item.MakeLocalName(0); // the last URL segment
        item.m_strDestination = entries[i].destination; // nothing mirrored onto it
        changed = changed || item.m_strDestination != oldDestination || item.m_strFileName != oldFileName;
    }
    return changed;
}

} // namespace

void CheckDestinations(CZorvDoc& doc, IPrompt& prompt, IDestClashResolver& resolver)
{
    // The questions and dialogs run event loops during which the window may
    // add or remove items: walk the items as they were at the start, each
    // held alive, and look again at each one when its turn comes.
    std::vector<ItemPtr> items;
    items.reserve(static_cast<size_t>(doc.GetCount()));
    for (int row = 0; row < doc.GetCount(); ++row)
        items.push_back(doc.GetItemPtr(row));

    CBuckets buckets;
    for (const ItemPtr& item : items) {
        if (doc.RowOf(item.get()) < 0 || !item->IsSettled())
            continue; // items in progress are neither examined nor compared
        bool changed = false;
        const int answer = item->CheckDestination(prompt, changed);
        if (changed) {
            // A trimmed destination is kept even when the user stops here.
            doc.SetModifiedFlag(true);
            doc.UpdateItem(item.get());
        }
        if (answer == IDCANCEL)
            break; // the clashes among the items walked so far are still shown
        {
            // A filled-in file name alone neither marks nor redraws.
            const auto lock = item->Lock();
            item->FillFileName();
        }
        buckets.Add(item);
    }

    // Each pass shows every group of two or more items with one key. Items
    // the user gave new texts go back into the buckets: into this bucket or
    // a later one they are compared again in this pass, into an earlier one
    // in the next. A group of one, or one the user ignores, is let through.
    // Only an OK starts another pass, so no pass runs without the user.
    for (bool accepted = true; accepted;) {
        accepted = false;
        for (size_t b = 0; b < CBuckets::kCount; ++b) {
            while (!buckets.Empty(b)) {
                const std::vector<ItemPtr> group = buckets.TakeGroup(b, doc);
                if (group.size() < 2)
                    continue;
                std::vector<CDestEntry> entries;
                for (const ItemPtr& item : group)
                    entries.push_back(CDestEntry{item->m_strUrl, item->m_strDestination, item->m_strFileName});
                if (!resolver.ResolveClash(entries))
                    continue;
                // The user's edits are list content: keep them in the file.
                if (ApplyEntries(group, entries))
                    doc.SetModifiedFlag(true);
                for (const ItemPtr& item : group)
                    buckets.Add(item);
                accepted = true;
            }
        }
        if (accepted) {
            for (int row = 0; row < doc.GetCount(); ++row)
                doc.UpdateItem(doc.GetItem(row));
        }
    }
}

} // namespace zorv
