#include "model/listrequest.h"

#include "model/commands.h"
#include "model/editrequest.h"
#include "model/import.h"

#include <QDir>
#include <QJsonArray>

#include <algorithm>

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
    std::vector<CNewUrl> urls;
    urls.reserve(request.urls.size());
    for (const std::string& url : request.urls)
        urls.push_back({url, request.referer, request.fileName});
    CAddOptions options = kAddCommand;
    options.largeConfirmed = request.confirmLarge;
    return AddNewUrls(doc, urls, request.destination, request.level, options);
}

// ---- links ---------------------------------------------------------------------

QJsonObject CLinksRequest::ToJson() const
{
    QJsonArray list;
    for (const CLink& l : links) {
        list.append(QJsonObject{{QStringLiteral("url"), Q(l.url)},
                                {QStringLiteral("referer"), Q(l.referer)},
                                {QStringLiteral("name"), Q(l.fileName)}});
    }
    return QJsonObject{
        {QStringLiteral("command"), QStringLiteral("links")},
        {QStringLiteral("links"), list},
        {QStringLiteral("destination"), Q(destination)},
        {QStringLiteral("raise"), raise},
    };
}

CLinksRequest CLinksRequest::FromJson(const QJsonObject& json)
{
    CLinksRequest r;
    for (const QJsonValue& v : json.value(QStringLiteral("links")).toArray()) {
        const QJsonObject o = v.toObject();
        r.links.push_back({S(o.value(QStringLiteral("url"))), S(o.value(QStringLiteral("referer"))),
                           S(o.value(QStringLiteral("name")))});
    }
    r.destination = S(json.value(QStringLiteral("destination")));
    r.raise = json.value(QStringLiteral("raise")).toBool();
    return r;
}

CAddReport AddLinks(CZorvDoc& doc, const CLinksRequest& request)
{
    std::vector<CNewUrl> urls;
    urls.reserve(request.links.size());
    for (const CLink& link : request.links)
        urls.push_back({link.url, link.referer, link.fileName});
    return AddNewUrls(doc, urls, request.destination, -1, kAddLinks);
}

CAddReport AddUrlLines(CZorvDoc& doc, const std::vector<std::string>& lines)
{
    std::vector<CNewUrl> urls;
    urls.reserve(lines.size());
    for (const std::string& line : lines)
        urls.push_back({line, {}, {}});
    // Text that is not a URL is what a clipboard mostly holds: not worth a word.
    CAddOptions options = kAddLinks;
    options.reportRefused = false;
    return AddNewUrls(doc, urls, {}, -1, options);
}

// ---- import ------------------------------------------------------------------

QJsonObject CImportRequest::ToJson() const
{
    QJsonArray list;
    for (const std::string& f : files)
        list.append(Q(f));
    return QJsonObject{
        {QStringLiteral("command"), QStringLiteral("import")},
        {QStringLiteral("files"), list},
        {QStringLiteral("destination"), Q(destination)},
    };
}

CImportRequest CImportRequest::FromJson(const QJsonObject& json)
{
    CImportRequest r;
    for (const QJsonValue& v : json.value(QStringLiteral("files")).toArray())
        r.files.push_back(S(v));
    r.destination = S(json.value(QStringLiteral("destination")));
    return r;
}

int CImportReport::Added() const
{
    int n = 0;
    for (const File& f : files)
        n += f.added;
    return n;
}

bool CImportReport::Complete() const
{
    return folders.empty()
           && std::all_of(files.begin(), files.end(), [](const File& f) { return f.ok && f.notes.empty(); });
}

QJsonObject CImportReport::ToJson() const
{
    QJsonArray list, dirs;
    for (const File& f : files) {
        QJsonArray notes;
        for (size_t i = 0; i < std::min(f.notes.size(), kMaxReportEntries); ++i)
            notes.append(QJsonObject{{QStringLiteral("line"), f.notes[i].line},
                                     {QStringLiteral("text"), Q(f.notes[i].text)}});
        list.append(QJsonObject{{QStringLiteral("path"), Q(f.path)},
                                {QStringLiteral("ok"), f.ok},
                                {QStringLiteral("added"), f.added},
                                {QStringLiteral("line"), f.line},
                                {QStringLiteral("cause"), Q(f.cause)},
                                {QStringLiteral("notes"), notes}});
    }
    for (size_t i = 0; i < std::min(folders.size(), kMaxReportEntries); ++i)
        dirs.append(Q(folders[i]));
    return QJsonObject{{QStringLiteral("files"), list}, {QStringLiteral("folders"), dirs}};
}

CImportReport CImportReport::FromJson(const QJsonObject& json)
{
    CImportReport r;
    for (const QJsonValue& v : json.value(QStringLiteral("files")).toArray()) {
        const QJsonObject o = v.toObject();
        std::vector<CImportNote> notes;
        for (const QJsonValue& n : o.value(QStringLiteral("notes")).toArray())
            notes.push_back({n.toObject().value(QStringLiteral("line")).toInt(), S(n.toObject().value(QStringLiteral("text")))});
        r.files.push_back({S(o.value(QStringLiteral("path"))), o.value(QStringLiteral("ok")).toBool(),
                           o.value(QStringLiteral("added")).toInt(), o.value(QStringLiteral("line")).toInt(),
                           S(o.value(QStringLiteral("cause"))), std::move(notes)});
    }
    for (const QJsonValue& v : json.value(QStringLiteral("folders")).toArray())
        r.folders.push_back(S(v));
    return r;
}

CImportReport ImportFiles(CZorvDoc& doc, const CImportRequest& request)
{
    CImportReport report;
    const int before = doc.GetCount();
    for (const std::string& path : request.files) {
        CImportFailure failure;
        const CImportResult r = ImportFile(doc, path, request.destination, &failure);
        report.files.push_back(
            {path, r.ok, r.added, r.ok ? 0 : failure.line, r.ok ? std::string() : failure.cause, r.notes});
    }
    std::vector<const CItem*> added;
    for (int i = before; i < doc.GetCount(); ++i)
        added.push_back(doc.GetItem(i));
    MakeItemFolders(added, report.folders);
    if (!added.empty())
        doc.SetModifiedFlag(true);
    return report;
}

// ---- reset and remove ------------------------------------------------------

QJsonObject CItemsRequest::ToJson() const
{
    QJsonArray list;
    for (const int r : rows)
        list.append(r);
    return QJsonObject{{QStringLiteral("command"), remove ? QStringLiteral("remove") : QStringLiteral("reset")},
                       {QStringLiteral("rows"), list}};
}

CItemsRequest CItemsRequest::FromJson(const QJsonObject& json)
{
    CItemsRequest r;
    r.remove = json.value(QStringLiteral("command")).toString() == QLatin1String("remove");
    for (const QJsonValue& v : json.value(QStringLiteral("rows")).toArray())
        r.rows.push_back(v.toInt(-1));
    return r;
}

namespace {

QJsonArray Ints(const std::vector<int>& v)
{
    QJsonArray a;
    for (size_t i = 0; i < std::min(v.size(), kMaxReportEntries); ++i)
        a.append(v[i]);
    return a;
}

std::vector<int> Ints(const QJsonValue& v)
{
    std::vector<int> out;
    for (const QJsonValue& x : v.toArray())
        out.push_back(x.toInt());
    return out;
}

} // namespace

QJsonObject CItemsReport::ToJson() const
{
    return QJsonObject{{QStringLiteral("changed"), changed},
                       {QStringLiteral("busy"), Ints(busy)},
                       {QStringLiteral("missing"), Ints(missing)},
                       {QStringLiteral("count"), count}};
}

CItemsReport CItemsReport::FromJson(const QJsonObject& json)
{
    CItemsReport r;
    r.changed = json.value(QStringLiteral("changed")).toInt();
    r.busy = Ints(json.value(QStringLiteral("busy")));
    r.missing = Ints(json.value(QStringLiteral("missing")));
    r.count = json.value(QStringLiteral("count")).toInt();
    return r;
}

CItemsReport ChangeItems(CZorvDoc& doc, const CItemsRequest& request)
{
    CItemsReport report;
    report.count = doc.GetCount();
    std::vector<int> rows = request.rows;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int r : rows) {
        if (r < 0 || r >= report.count)
            report.missing.push_back(r);
    }
    if (!report.missing.empty())
        return report;
    if (rows.empty() && !request.remove) {
        for (int r = 0; r < report.count; ++r) {
            if (doc.GetItem(r)->GetState() == STATE_FAILED)
                rows.push_back(r);
        }
    }
    // What the commands leave alone: items a worker holds.
    for (const int r : rows) {
        if (!doc.GetItem(r)->IsSettled())
            report.busy.push_back(r);
    }
    const CCommandResult result = request.remove ? DeleteItems(doc, rows) : ResetItems(doc, rows);
    report.changed = result.nChanged;
    return report;
}

// ---- the owner's side -------------------------------------------------------

QJsonObject AnswerListRequest(CZorvDoc& doc, const QJsonObject& request)
{
    const auto refuse = [](const QString& why) {
        return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), why}};
    };
    const auto answer = [](const QJsonObject& report) {
        return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("report"), report}};
    };
    const QString command = request.value(QStringLiteral("command")).toString();
    if (command == QLatin1String("add")) {
        const CAddRequest add = CAddRequest::FromJson(request);
        if (add.destination.empty() || !QDir::isAbsolutePath(Q(add.destination)))
            return refuse(QStringLiteral("no destination folder"));
        return answer(AddUrls(doc, add).ToJson());
    }
    if (command == QLatin1String("links")) {
        const CLinksRequest links = CLinksRequest::FromJson(request);
        // Empty: NewItem gives each item this holder's default destination.
        if (!links.destination.empty() && !QDir::isAbsolutePath(Q(links.destination)))
            return refuse(QStringLiteral("no destination folder"));
        return answer(AddLinks(doc, links).ToJson());
    }
    if (command == QLatin1String("import")) {
        const CImportRequest import = CImportRequest::FromJson(request);
        // Paths are taken as the sender meant them, whatever folder this
        // process runs in.
        if (import.destination.empty() || !QDir::isAbsolutePath(Q(import.destination)))
            return refuse(QStringLiteral("no destination folder"));
        for (const std::string& f : import.files) {
            if (!QDir::isAbsolutePath(Q(f)))
                return refuse(QStringLiteral("not an absolute path: %1").arg(Q(f)));
        }
        return answer(ImportFiles(doc, import).ToJson());
    }
    if (command == QLatin1String("reset") || command == QLatin1String("remove"))
        return answer(ChangeItems(doc, CItemsRequest::FromJson(request)).ToJson());
    if (command == QLatin1String("edit")) {
        const CEditReport report = EditRow(doc, CEditRequest::FromJson(request));
        if (!report.refused.empty())
            return refuse(QString::fromStdString(report.refused));
        return answer(report.ToJson());
    }
    return refuse(QStringLiteral("unknown request"));
}

} // namespace zorv
