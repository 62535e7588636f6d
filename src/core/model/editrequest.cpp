#include "model/editrequest.h"

#include "model/adder.h"
#include "model/commands.h"
#include "model/paths.h"
#include "model/text.h"

#include <QDir>
#include <QJsonArray>

namespace zorv {

QJsonObject CEditRequest::ToJson() const
{
    QJsonObject json{{QStringLiteral("command"), QStringLiteral("edit")}, {QStringLiteral("row"), row}};
    const auto put = [&](const char* key, const std::optional<std::string>& value) {
        if (value)
            json.insert(QLatin1String(key), QString::fromStdString(*value));
    };
    put("url", url);
    put("destination", destination);
    put("name", fileName);
    put("referer", referer);
    return json;
}

CEditRequest CEditRequest::FromJson(const QJsonObject& json)
{
    CEditRequest r;
    r.row = json.value(QStringLiteral("row")).toInt(-1);
    // A field that is not text is not given.
    const auto take = [&](const char* key, std::optional<std::string>& into) {
        if (const QJsonValue v = json.value(QLatin1String(key)); v.isString())
            into = v.toString().toStdString();
    };
    take("url", r.url);
    take("destination", r.destination);
    take("name", r.fileName);
    take("referer", r.referer);
    return r;
}

QJsonObject CEditReport::ToJson() const
{
    QJsonArray dirs;
    for (const std::string& f : folders)
        dirs.append(QString::fromStdString(f));
    return QJsonObject{{QStringLiteral("busy"), busy}, {QStringLiteral("folders"), dirs}};
}

CEditReport CEditReport::FromJson(const QJsonObject& json)
{
    CEditReport r;
    r.busy = json.value(QStringLiteral("busy")).toBool();
    for (const QJsonValue& v : json.value(QStringLiteral("folders")).toArray())
        r.folders.push_back(v.toString().toStdString());
    return r;
}

CEditReport EditRow(CZorvDoc& doc, const CEditRequest& request)
{
    CEditReport report;
    const auto refuse = [&report](const std::string& why) {
        report.refused = why + "; nothing changed";
        return report;
    };
    const int count = doc.GetCount();
    if (request.row < 0 || request.row >= count) {
        return refuse("no item " + std::to_string(request.row) + " ("
                      + (count ? "its items are 0 to " + std::to_string(count - 1) : std::string("it has no items"))
                      + ")");
    }
    CItem* item = doc.GetItem(request.row);
    CUrlFields values;
    {
        const auto lock = item->Lock();
        values = {item->m_strUrl, item->m_strReferer, item->m_strDestination, item->m_strFileName, 0};
    }
    if (request.url) {
        // Judged (and trimmed) as adding the URL would judge it.
        const ItemPtr probe = NewItem(*request.url, {}, "/", "x", 0);
        if (!probe)
            return refuse("not an http, https or ftp URL: " + EscapeText(*request.url));
        values.url = probe->m_strUrl;
    }
    if (request.destination) {
        if (!QDir::isAbsolutePath(QString::fromStdString(*request.destination)))
            return refuse("no destination folder");
        values.destination = *request.destination;
    }
    if (request.fileName) {
        if (request.fileName->empty())
            return refuse("no file name");
        values.fileName = *request.fileName;
    }
    if (request.referer)
        values.referer = *request.referer;
    // A new place for the file must not be another item's: two items would
    // write (and replace) one file.
    if (request.destination || request.fileName) {
        const std::string key = CItem::LocalFileKey(values.destination + kPathSeparator + values.fileName);
        for (int r = 0; r < count; ++r) {
            const CItem* other = doc.GetItem(r);
            if (r != request.row && CItem::LocalFileKey(other->LocalPath()) == key) {
                return refuse("item " + std::to_string(r) + " (" + EscapeText(other->m_strUrl)
                              + ") already has the local file "
                              + EscapeText(values.destination + kPathSeparator + values.fileName));
            }
        }
    }
    // EditItem keeps a name given; an item that has none gets one from its URL.
    EditItem(doc, request.row, values);
    report.busy = !item->IsSettled();
    if (request.destination)
        MakeItemFolders({item}, report.folders);
    return report;
}

} // namespace zorv
