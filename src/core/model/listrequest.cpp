#include "model/listrequest.h"

#include <QDir>
#include <QJsonArray>

#include <unordered_map>
#include <unordered_set>

namespace zorv {

namespace {

// Each list of a report carries at most this many entries as JSON.
constexpr size_t kMaxReportEntries = 1000;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string S(const QJsonValue& v)
{
    return v.toString().toStdString();
}

} // namespace

QJsonObject CAddRequest::ToJson() const
{
    QJsonArray list;
    for (const std::string& u : urls)
        list.append(Q(u));
    return QJsonObject{
        {QStringLiteral("command"), QStringLiteral("add")},
        {QStringLiteral("urls"), list},
        {QStringLiteral("referer"), Q(referer)},
        {QStringLiteral("destination"), Q(destination)},
        {QStringLiteral("name"), Q(fileName)},
        {QStringLiteral("level"), level},
        {QStringLiteral("confirmLarge"), confirmLarge},
    };
}

CAddRequest CAddRequest::FromJson(const QJsonObject& json)
{
    CAddRequest r;
    for (const QJsonValue& v : json.value(QStringLiteral("urls")).toArray())
        r.urls.push_back(S(v));
    r.referer = S(json.value(QStringLiteral("referer")));
    r.destination = S(json.value(QStringLiteral("destination")));
    r.fileName = S(json.value(QStringLiteral("name")));
    r.level = std::clamp(json.value(QStringLiteral("level")).toInt(-1), -1, 255);
    r.confirmLarge = json.value(QStringLiteral("confirmLarge")).toBool();
    return r;
}

QJsonObject CAddReport::ToJson() const
{
    std::uint64_t left = omitted;
    const auto cut = [&](size_t n) {
        left += n > kMaxReportEntries ? n - kMaxReportEntries : 0;
        return std::min(n, kMaxReportEntries);
    };
    QJsonArray large, bad, clash, dirs;
    for (size_t i = 0, n = cut(tooLarge.size()); i < n; ++i)
        large.append(QJsonArray{Q(tooLarge[i].first), QString::number(tooLarge[i].second)});
    for (size_t i = 0, n = cut(refused.size()); i < n; ++i)
        bad.append(Q(refused[i]));
    for (size_t i = 0, n = cut(clashes.size()); i < n; ++i)
        clash.append(QJsonArray{Q(clashes[i].first), Q(clashes[i].second)});
    for (size_t i = 0, n = cut(folders.size()); i < n; ++i)
        dirs.append(Q(folders[i]));
    return QJsonObject{
        {QStringLiteral("added"), added},     {QStringLiteral("tooLarge"), large},
        {QStringLiteral("refused"), bad},     {QStringLiteral("clashes"), clash},
        {QStringLiteral("folders"), dirs},    {QStringLiteral("omitted"), QString::number(left)},
    };
}

CAddReport CAddReport::FromJson(const QJsonObject& json)
{
    CAddReport r;
    r.added = json.value(QStringLiteral("added")).toInt();
    for (const QJsonValue& v : json.value(QStringLiteral("tooLarge")).toArray()) {
        const QJsonArray pair = v.toArray();
        r.tooLarge.emplace_back(S(pair.at(0)), pair.at(1).toString().toULongLong());
    }
    for (const QJsonValue& v : json.value(QStringLiteral("refused")).toArray())
        r.refused.push_back(S(v));
    for (const QJsonValue& v : json.value(QStringLiteral("clashes")).toArray()) {
        const QJsonArray pair = v.toArray();
        r.clashes.emplace_back(S(pair.at(0)), S(pair.at(1)));
    }
    for (const QJsonValue& v : json.value(QStringLiteral("folders")).toArray())
        r.folders.push_back(S(v));
    r.omitted = json.value(QStringLiteral("omitted")).toString().toULongLong();
    return r;
}

CAddReport AddUrls(CZorvDoc& doc, const CAddRequest& request)
{
    CAddReport report;
    // Local file → URL of the item that writes it.
    std::unordered_map<std::string, std::string> owners;
    owners.reserve(static_cast<size_t>(doc.GetCount()));
    for (int i = 0; i < doc.GetCount(); ++i) {
        const CItem* item = doc.GetItem(i);
        owners.emplace(CItem::LocalFileKey(item->LocalPath()), item->m_strUrl);
    }
    std::vector<ItemPtr> added;
    for (const std::string& url : request.urls) {
        const std::uint64_t count = CZorvDoc::CountExpandedUrls(url);
        if (count > kMaxRun || (count > kMaxUnconfirmedRun && !request.confirmLarge)) {
            report.tooLarge.emplace_back(url, count);
            continue;
        }
        CZorvDoc::ExpandAllUrls(url, [&](const std::string& u) {
            ItemPtr item = CZorvDoc::NewItem(u, request.referer, request.destination, request.fileName,
                                             request.level);
            if (!item) {
                report.refused.push_back(u);
                return true;
            }
            const auto [it, isNew] = owners.emplace(CItem::LocalFileKey(item->LocalPath()), item->m_strUrl);
            if (!isNew) {
                report.clashes.emplace_back(item->m_strUrl, it->second);
                return true;
            }
            added.push_back(std::move(item));
            return true;
        });
    }
    // The folders of the items added, each made once (mirrored URL folders
    // included): without them every such item would fail.
    std::unordered_set<std::string> made;
    for (const ItemPtr& item : added) {
        if (!made.insert(item->m_strDestination).second)
            continue;
        const QString dir = Q(item->m_strDestination);
        if (!QDir().mkpath(dir)) {
            const bool exists = QFileInfo::exists(dir);
            report.folders.push_back(item->m_strDestination + ": "
                                     + (exists ? "a file of that name is in the way" : "cannot be created"));
        }
    }
    report.added = static_cast<int>(added.size());
    if (!added.empty()) {
        doc.AppendItems(std::move(added), true);
        doc.SetModifiedFlag(true);
    }
    return report;
}

QJsonObject AnswerListRequest(CZorvDoc& doc, const QJsonObject& request)
{
    if (request.value(QStringLiteral("command")).toString() == QLatin1String("add")) {
        const CAddRequest add = CAddRequest::FromJson(request);
        if (add.destination.empty() || !QDir::isAbsolutePath(Q(add.destination)))
            return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("no destination folder")}};
        return {{QStringLiteral("ok"), true}, {QStringLiteral("report"), AddUrls(doc, add).ToJson()}};
    }
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("unknown request")}};
}

} // namespace zorv
