#include "model/adder.h"

#include "model/filename.h"
#include "model/pattern.h"
#include "model/text.h"
#include "settings/options.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace zorv {

ItemPtr NewItem(const std::string& url, const std::string& referer, const std::string& destination,
                const std::string& fileName, int level)
{
    if (level < 0)
        level = Options().DefaultFnameLevel;
    // Only the first line counts, whatever its line end: a URL must never
    // carry a line break into the list (or into `zorv --list`). White space
    // around it is dropped before the file name is derived from it.
    std::string line = url;
    line.resize(std::min(line.find_first_of("\r\n"), line.size()));
    line = TrimWhiteSpace(line);
    if (!CItem::IsValidUrl(line))
        return nullptr;
    return std::make_shared<CItem>(std::move(line), referer, destination, fileName, level);
}

void MakeItemFolders(const std::vector<const CItem*>& items, std::vector<std::string>& failed)
{
    std::unordered_set<std::string> made;
    for (const CItem* item : items) {
        if (!made.insert(item->m_strDestination).second)
            continue;
        const QString dir = QString::fromStdString(item->m_strDestination);
        if (!QDir().mkpath(dir)) {
            const bool exists = QFileInfo::exists(dir);
            failed.push_back(item->m_strDestination + ": "
                             + (exists ? "a file of that name is in the way" : "cannot be created"));
        }
    }
}

namespace {

// How a run of `count` URLs fares under the options.
NewUrlCheck JudgeRun(std::uint64_t count, const CAddOptions& options)
{
    if (count > kMaxRun)
        return NewUrlCheck::TooLarge;
    if (count > options.confirmAbove && !options.largeConfirmed)
        return NewUrlCheck::Large;
    return NewUrlCheck::Ok;
}

// Collects the new items of one add, each unless the clash rule refuses it.
class CItemAdder {
public:
    CItemAdder(const CZorvDoc& doc, ClashRule rule) : m_rule(rule)
    {
        if (m_rule == ClashRule::Keep)
            return;
        m_owners.reserve(static_cast<size_t>(doc.GetCount()));
        for (int i = 0; i < doc.GetCount(); ++i) {
            const CItem* item = doc.GetItem(i);
            m_owners.emplace(CItem::LocalFileKey(item->LocalPath()), item->m_strUrl);
        }
    }

    void Offer(ItemPtr item, CAddReport& report)
    {
        if (m_rule == ClashRule::Refuse) {
            const auto [it, isNew] = m_owners.emplace(CItem::LocalFileKey(item->LocalPath()), item->m_strUrl);
            if (!isNew && !TakeNumberedName(*item, it->second)) {
                report.clashes.emplace_back(item->m_strUrl, it->second);
                return;
            }
        }
        m_added.push_back(std::move(item));
    }

    std::vector<ItemPtr>& Added() { return m_added; }

    // Room for `n` more items (the run of a pattern): the table of local
    // files is not rebuilt again and again while it grows.
    void Reserve(std::uint64_t n)
    {
        if (m_rule == ClashRule::Refuse)
            m_owners.reserve(m_owners.size() + static_cast<std::size_t>(n));
        m_added.reserve(m_added.size() + static_cast<std::size_t>(n));
    }

private:
    // A free "name (n).ext" for a URL that differs from its owner's in the
    // query only (see ClashRule::Refuse).
    bool TakeNumberedName(CItem& item, const std::string& ownerUrl)
    {
        const std::string& url = item.m_strUrl;
        if (url == ownerUrl || UrlPathPart(url).size() == url.size() || !IsUrlFileName(url, item.m_strFileName))
            return false;
        const std::string name = item.m_strFileName;
        for (unsigned n = 1; n < 10000; ++n) {
            item.m_strFileName = NumberedFileName(name, n);
            const auto [it, isNew] = m_owners.emplace(CItem::LocalFileKey(item.LocalPath()), url);
            if (isNew)
                return true;
            if (it->second == url)
                break;
        }
        item.m_strFileName = name;
        return false;
    }

    ClashRule m_rule;
    // Local file → URL of the item that writes it.
    std::unordered_map<std::string, std::string> m_owners;
    std::vector<ItemPtr> m_added;
};

} // namespace

CAddReport AddNewUrls(CZorvDoc& doc, const std::vector<CNewUrl>& urls, const std::string& destination,
                      int level, const CAddOptions& options)
{
    CAddReport report;
    CItemAdder adder(doc, options.clashes);
    const auto offer = [&](const std::string& url, const CNewUrl& from) {
        if (ItemPtr item = NewItem(url, from.referer, destination, from.fileName, level))
            adder.Offer(std::move(item), report);
        else if (options.reportRefused)
            report.refused.push_back(url);
        return true;
    };
    for (const CNewUrl& u : urls) {
        if (!options.expand) {
            offer(u.url, u);
            continue;
        }
        const std::uint64_t count = CountExpandedUrls(u.url);
        if (JudgeRun(count, options) != NewUrlCheck::Ok) {
            report.tooLarge.emplace_back(u.url, count);
            continue;
        }
        adder.Reserve(count);
        ExpandAllUrls(u.url, [&](const std::string& url) { return offer(url, u); });
    }
    std::vector<ItemPtr>& added = adder.Added();
    if (options.makeFolders) {
        std::vector<const CItem*> items;
        items.reserve(added.size());
        for (const ItemPtr& item : added)
            items.push_back(item.get());
        MakeItemFolders(items, report.folders);
    }
    report.added = static_cast<int>(added.size());
    if (!added.empty()) {
        // One batch: one insertion notice for a run of many thousand URLs
        // keeps it cheap for the view; marked once, so that with automatic
        // saving on the file is written once, not once per URL.
        doc.AppendItems(std::move(added), true);
        doc.SetModifiedFlag(true);
    }
    return report;
}

CNewUrlVerdict CheckNewUrl(const std::string& url, const CAddOptions& options)
{
    CNewUrlVerdict verdict;
    if (TrimWhiteSpace(url).empty()) {
        verdict.check = NewUrlCheck::Blank;
        return verdict;
    }
    // A pattern only varies numbers, so the first URL of a run stands for
    // all of them.
    bool valid = false;
    ExpandAllUrls(url, [&](const std::string& first) {
        valid = NewItem(first, {}, "/", {}, 0) != nullptr;
        return false;
    });
    verdict.count = CountExpandedUrls(url);
    verdict.check = valid ? JudgeRun(verdict.count, options) : NewUrlCheck::NotHttp;
    return verdict;
}

} // namespace zorv
