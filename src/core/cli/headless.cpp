#include "cli/headless.h"

#include "cli/fetch_command.h"
#include "cli/nativehost.h"

#include "model/doc.h"
#include "model/editrequest.h"
#include "model/import.h"
#include "model/listowner.h"
#include "model/listrequest.h"
#include "model/text.h"
#include "settings/options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <optional>
#include <string>
#include <vector>

namespace zorv {

namespace {

// Text from the user or a server, safe to print on a terminal.
QString Escaped(const std::string& text)
{
    return QString::fromStdString(EscapeText(text));
}

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// A path made absolute from the current folder: a list held by another zorv
// may be changed by a process that runs elsewhere.
std::string Absolute(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path)).toStdString();
}

// Changes the list `listPath` with `request`: handed to the zorv that holds
// the list, or answered here (AnswerListRequest, as the holder does) on the
// file under the list's lock and saved when it changed. The answer's report
// in *report. False, with the cause on `err`, when the list cannot be read,
// saved or reached, or the holder refused the request.
bool RequestChange(const QString& listPath, const QJsonObject& request, bool mayBeNew, QJsonObject* report,
                   std::FILE* err)
{
    Options().AutoSave = 0; // saved once, below
    bool done = true;
    QJsonObject reply;
    QString error;
    const bool ok = ChangeList(listPath, request, &reply, [&] {
        CZorvDoc doc;
        if (!OpenList(doc, listPath, mayBeNew, err)) {
            done = false;
            return true;
        }
        reply = AnswerListRequest(doc, request);
        // Nothing changed, nothing written: no new empty list either.
        if (reply.value(QStringLiteral("ok")).toBool() && doc.IsModified())
            done = SaveList(doc, listPath, err);
        return true;
    }, &error);
    if (!ok) {
        Print(err, QStringLiteral("zorv: %1\n").arg(error));
        return false;
    }
    if (!done)
        return false;
    if (!reply.value(QStringLiteral("ok")).toBool()) {
        Print(err, QStringLiteral("zorv: %1: %2\n").arg(listPath, reply.value(QStringLiteral("error")).toString()));
        return false;
    }
    *report = reply.value(QStringLiteral("report")).toObject();
    return true;
}

int RunList(const QStringList& args, std::FILE* out, std::FILE* err)
{
    if (args.size() != 1)
        return UsageError(err, QStringLiteral("--list takes one list file"));
    CZorvDoc doc;
    if (!OpenList(doc, args[0], false, err))
        return EXIT_USAGE;
    std::string buf;
    buf.reserve(1 << 16);
    for (int i = 0; i < doc.GetCount(); ++i) {
        const CItem* item = doc.GetItem(i);
        buf += std::to_string(i);
        buf += '\t';
        buf += std::to_string(item->GetState());
        // One item, one line of six fields: tabs, line breaks, backslashes
        // and other control characters in the texts are escaped.
        for (const std::string* field :
             {&item->m_strUrl, &item->m_strDestination, &item->m_strFileName, &item->m_strReferer}) {
            buf += '\t';
            buf += EscapeText(*field, Escape::Field);
        }
        buf += '\n';
        if (buf.size() >= (1 << 16) - 4096) {
            std::fwrite(buf.data(), 1, buf.size(), out);
            buf.clear();
        }
    }
    std::fwrite(buf.data(), 1, buf.size(), out);
    return std::fflush(out) == 0 ? EXIT_OK : EXIT_USAGE;
}

// The lines that tell what an add left out; true when it left out nothing.
bool PrintAddReport(std::FILE* err, const CAddReport& report)
{
    for (const auto& [pattern, count] : report.tooLarge) {
        const QString why = count > kMaxRun
            ? QStringLiteral("more than a list can hold (%1); not added").arg(kMaxRun)
            : QStringLiteral("more than %1; add --yes to add them all").arg(kMaxUnconfirmedRun);
        Print(err, QStringLiteral("zorv: %1 expands into %2 URLs, %3\n").arg(Escaped(pattern)).arg(count).arg(why));
    }
    for (const std::string& r : report.refused)
        Print(err, QStringLiteral("zorv: not an http, https or ftp URL, skipped: %1\n").arg(Escaped(r)));
    for (const auto& [url, other] : report.clashes) {
        Print(err, QStringLiteral("zorv: %1 would be saved to the same local file as %2; skipped "
                                  "(give it another --name or --dest)\n")
                       .arg(Escaped(url), Escaped(other)));
    }
    for (const std::string& f : report.folders)
        Print(err, QStringLiteral("zorv: cannot create the folder %1\n").arg(Escaped(f)));
    if (report.omitted)
        Print(err, QStringLiteral("zorv: (%1 more not listed)\n").arg(report.omitted));
    return report.Complete();
}

// Takes args[i], which no option took: "--" ends the options (every
// argument after it is positional, and i moves past them); anything else
// that starts with "--" is unknown. False after a usage error on `err`.
bool TakePositional(const QStringList& args, int& i, QStringList* out, std::FILE* err)
{
    if (args[i] == QLatin1String("--")) {
        *out += args.mid(i + 1);
        i = static_cast<int>(args.size());
        return true;
    }
    if (args[i].startsWith(QLatin1String("--"))) {
        UsageError(err, QStringLiteral("unknown option %1").arg(args[i]));
        return false;
    }
    *out += args[i];
    return true;
}

// The arguments after a command that takes no options.
bool Positional(const QStringList& args, QStringList* out, std::FILE* err)
{
    for (int i = 0; i < args.size(); ++i) {
        if (!TakePositional(args, i, out, err))
            return false;
    }
    return true;
}

int RunAdd(const QStringList& args, std::FILE* /*out*/, std::FILE* err)
{
    QString referer, destination, name;
    int level = -1;
    bool yes = false;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        if (a == QLatin1String("--referer")) {
            if (!value(referer))
                return UsageError(err, QStringLiteral("--referer needs a value"));
        } else if (a == QLatin1String("--dest")) {
            if (!value(destination))
                return UsageError(err, QStringLiteral("--dest needs a folder"));
        } else if (a == QLatin1String("--name")) {
            if (!value(name))
                return UsageError(err, QStringLiteral("--name needs a file name"));
        } else if (a == QLatin1String("--level")) {
            QString text;
            bool ok = false;
            if (value(text))
                level = text.toInt(&ok);
            if (!ok || level < 0 || level > 255)
                return UsageError(err, QStringLiteral("--level needs a number from 0 to 255"));
        } else if (a == QLatin1String("--yes")) {
            yes = true;
        } else if (!TakePositional(args, i, &positional, err)) {
            return EXIT_USAGE;
        }
    }
    if (positional.size() < 2)
        return UsageError(err, QStringLiteral("--add needs a list file and at least one URL"));

    CAddRequest request;
    // Without a destination anywhere, files go to the current folder rather
    // than the root of the file system.
    request.destination = Absolute(destination.isEmpty() ? QString::fromStdString(DefaultItemDestination()) : destination);
    request.referer = referer.toStdString();
    request.fileName = name.toStdString();
    request.level = level;
    request.confirmLarge = yes;
    for (int i = 1; i < positional.size(); ++i)
        request.urls.push_back(positional[i].toStdString());

    QJsonObject report;
    if (!RequestChange(positional[0], request.ToJson(), true, &report, err))
        return EXIT_USAGE;
    return PrintAddReport(err, CAddReport::FromJson(report)) ? EXIT_OK : EXIT_PARTIAL;
}

int RunImport(const QStringList& args, std::FILE* err)
{
    QStringList positional;
    if (!Positional(args, &positional, err))
        return EXIT_USAGE;
    if (positional.size() < 2)
        return UsageError(err, QStringLiteral("--import needs a list file and at least one file to import"));
    CImportRequest request;
    request.destination = Absolute(QString::fromStdString(DefaultItemDestination()));
    for (int i = 1; i < positional.size(); ++i)
        request.files.push_back(Absolute(positional[i]));

    QJsonObject json;
    if (!RequestChange(positional[0], request.ToJson(), true, &json, err))
        return EXIT_USAGE;
    const CImportReport report = CImportReport::FromJson(json);
    for (size_t i = 0; i < report.files.size(); ++i) {
        const CImportReport::File& f = report.files[i];
        // Named as the user gave it.
        const QString name = i + 1 < size_t(positional.size()) ? positional[int(i) + 1] : Q(f.path);
        for (const CImportNote& note : f.notes)
            Print(err, QStringLiteral("zorv: %1: line %2: %3\n").arg(name).arg(note.line).arg(Q(note.text)));
        if (f.ok)
            continue;
        if (f.line > 0) {
            Print(err, QStringLiteral("zorv: %1: line %2: %3; %4 item(s) before it were added\n")
                           .arg(name).arg(f.line).arg(Q(f.cause)).arg(f.added));
        } else {
            Print(err, QStringLiteral("zorv: %1: %2\n").arg(name, Q(f.cause)));
        }
    }
    for (const std::string& f : report.folders)
        Print(err, QStringLiteral("zorv: cannot create the folder %1\n").arg(Escaped(f)));
    return report.Complete() ? EXIT_OK : EXIT_PARTIAL;
}

int RunItems(const QStringList& args, bool remove, std::FILE* err)
{
    const QString command = remove ? QStringLiteral("--remove") : QStringLiteral("--reset");
    QStringList positional;
    if (!Positional(args, &positional, err))
        return EXIT_USAGE;
    if (positional.isEmpty() || (remove && positional.size() < 2))
        return UsageError(err, remove ? QStringLiteral("--remove needs a list file and at least one index")
                                      : QStringLiteral("--reset needs a list file"));
    CItemsRequest request;
    request.remove = remove;
    for (int i = 1; i < positional.size(); ++i) {
        bool ok = false;
        const int row = positional[i].toInt(&ok);
        if (!ok || row < 0)
            return UsageError(err, QStringLiteral("%1: not an item index: %2").arg(command, positional[i]));
        request.rows.push_back(row);
    }
    QJsonObject json;
    if (!RequestChange(positional[0], request.ToJson(), false, &json, err))
        return EXIT_USAGE;
    const CItemsReport report = CItemsReport::FromJson(json);
    if (!report.missing.empty()) {
        QStringList rows;
        for (const int r : report.missing)
            rows += QString::number(r);
        const QString has = report.count == 0 ? QStringLiteral("it has no items")
                                              : QStringLiteral("its items are 0 to %1").arg(report.count - 1);
        return UsageError(err, QStringLiteral("%1 has no item %2 (%3); nothing changed")
                                   .arg(positional[0], rows.join(QStringLiteral(", ")), has));
    }
    for (const int r : report.busy)
        Print(err, QStringLiteral("zorv: item %1 is being fetched; left alone\n").arg(r));
    return report.busy.empty() ? EXIT_OK : EXIT_PARTIAL;
}

// --edit LIST INDEX [--url U] [--dest D] [--name N] [--referer R]: only the
// fields given change; the file name stays unless --name gives one.
int RunEdit(const QStringList& args, std::FILE* err)
{
    CEditRequest request;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        std::optional<std::string>* field = a == QLatin1String("--url")       ? &request.url
                                            : a == QLatin1String("--dest")    ? &request.destination
                                            : a == QLatin1String("--name")    ? &request.fileName
                                            : a == QLatin1String("--referer") ? &request.referer
                                                                              : nullptr;
        if (field) {
            // Only the referrer may be emptied.
            if (i + 1 >= args.size() || (args[i + 1].isEmpty() && field != &request.referer))
                return UsageError(err, QStringLiteral("%1 needs a value").arg(a));
            *field = args[++i].toStdString();
        } else if (!TakePositional(args, i, &positional, err)) {
            return EXIT_USAGE;
        }
    }
    if (positional.size() != 2)
        return UsageError(err, QStringLiteral("--edit needs a list file and one index"));
    bool ok = false;
    request.row = positional[1].toInt(&ok);
    if (!ok || request.row < 0)
        return UsageError(err, QStringLiteral("--edit: not an item index: %1").arg(positional[1]));
    if (!request.url && !request.destination && !request.fileName && !request.referer)
        return UsageError(err, QStringLiteral("--edit needs at least one of --url, --dest, --name, --referer"));
    if (request.destination)
        request.destination = Absolute(Q(*request.destination));

    QJsonObject json;
    if (!RequestChange(positional[0], request.ToJson(), false, &json, err))
        return EXIT_USAGE;
    const CEditReport report = CEditReport::FromJson(json);
    if (report.busy)
        Print(err, QStringLiteral("zorv: item %1 is being fetched; the new values apply from its next fetch\n")
                       .arg(request.row));
    for (const std::string& f : report.folders)
        Print(err, QStringLiteral("zorv: cannot create the folder %1\n").arg(Escaped(f)));
    return report.folders.empty() ? EXIT_OK : EXIT_PARTIAL;
}

} // namespace

void Print(std::FILE* to, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
}

int UsageError(std::FILE* err, const QString& message)
{
    Print(err, QStringLiteral("zorv: %1\n").arg(message));
    Print(err, QStringLiteral("Try 'zorv --help'.\n"));
    return EXIT_USAGE;
}

bool OpenList(CZorvDoc& doc, const QString& path, bool mayBeNew, std::FILE* err)
{
    if (mayBeNew && !QFileInfo::exists(path)) {
        doc.OnNewDocument();
        return true;
    }
    QString error;
    if (!doc.OnOpenDocument(path, &error)) {
        Print(err, QStringLiteral("zorv: cannot read list %1\n").arg(error));
        return false;
    }
    return true;
}

bool SaveList(CZorvDoc& doc, const QString& path, std::FILE* err)
{
    QString error;
    if (!doc.OnSaveDocument(path, &error)) {
        Print(err, QStringLiteral("zorv: cannot save list %1\n").arg(error));
        return false;
    }
    return true;
}

void PrintUsage(std::FILE* to)
{
    Print(to, QStringLiteral(
        "Usage:\n"
        "  zorv [LIST]                 open the window with a new list, or with LIST\n"
        "  zorv --list LIST            print the items of LIST, one per line:\n"
        "                              index, state, URL, destination, file name, referrer\n"
        "                              (tab-separated; states: 0 not fetched, 1 fetched,\n"
        "                              2 failed, 3 invalid URL)\n"
        "  zorv --add [OPTIONS] LIST URL...\n"
        "                              add URLs to LIST (created when missing); numbered\n"
        "                              patterns like img*1.12.2d*.jpg expand into runs\n"
        "      --referer R             referrer sent with the requests\n"
        "      --dest DIR              destination folder (default: the settings' default\n"
        "                              destination, else the current folder)\n"
        "      --name NAME             file name (default: taken from the URL)\n"
        "      --level N               URL folder levels mirrored under DIR (0-255)\n"
        "      --yes                   allow a pattern of more than 100,000 URLs\n"
        "  zorv --import LIST FILE...  add the URLs of other programs' list files to LIST\n"
        "                              (created when missing), by extension: .grx, .wrg,\n"
        "                              else one URL per line\n"
        "  zorv --reset LIST [INDEX...]\n"
        "                              put the failed items, or the items at INDEX (as\n"
        "                              --list numbers them), back in the queue, not fetched\n"
        "  zorv --remove LIST INDEX... remove the items at INDEX from LIST\n"
        "  zorv --edit LIST INDEX [--url U] [--dest DIR] [--name NAME] [--referer R]\n"
        "                              change the item at INDEX: only the values given;\n"
        "                              a new URL keeps the file name, so that a partial\n"
        "                              file goes on from the new URL where the server\n"
        "                              still has the same file\n"
        "  zorv --fetch [--connections N] [--max-segments N] [--limit-rate K]\n"
        "               [--max-per-server N] [--cacert FILE]\n"
        "               [--existing rename|replace|skip] LIST\n"
        "                              download the queued items of LIST; --existing: what\n"
        "                              a download does with a file of its name that is not\n"
        "                              its own earlier download\n"
        "      --max-per-server N      connections to one server at once (0-64, 0: no limit)\n"
        "      --cacert FILE           PEM file of certificate authorities trusted for\n"
        "                              HTTPS in addition to the system's\n"
        "  zorv --native-messaging CALLER...\n"
        "                              the native messaging host the zorv browser\n"
        "                              extension talks to (started by the browser)\n"
        "  zorv --help | --version\n"
        "\n"
        "Exit status: 0 success, 1 some URL refused, import file failed, item failed or\n"
        "left alone while being fetched, 2 usage or list error.\n"));
}

bool IsHeadlessCommand(const QStringList& args)
{
    if (args.isEmpty())
        return false;
    const QString& a = args[0];
    return a == QLatin1String("--list") || a == QLatin1String("--add") || a == QLatin1String("--help")
        || a == QLatin1String("-h") || a == QLatin1String("--version") || a == QLatin1String("--fetch")
        || a == QLatin1String("--import") || a == QLatin1String("--reset") || a == QLatin1String("--remove")
        || a == QLatin1String("--edit") || a == QLatin1String("--native-messaging");
}

int RunHeadless(const QStringList& args, std::FILE* out, std::FILE* err)
{
    if (args.isEmpty()) {
        PrintUsage(err);
        return EXIT_USAGE;
    }
    const QString& command = args[0];
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        PrintUsage(out);
        return EXIT_OK;
    }
    if (command == QLatin1String("--version")) {
        Print(out, QStringLiteral("zorv %1\n").arg(QLatin1String(ZORV_VERSION)));
        return EXIT_OK;
    }
    COptions options; // this user's settings, read only
    SetOptions(&options);
    int status;
    if (command == QLatin1String("--list"))
        status = RunList(rest, out, err);
    else if (command == QLatin1String("--add"))
        status = RunAdd(rest, out, err);
    else if (command == QLatin1String("--import"))
        status = RunImport(rest, err);
    else if (command == QLatin1String("--reset") || command == QLatin1String("--remove"))
        status = RunItems(rest, command == QLatin1String("--remove"), err);
    else if (command == QLatin1String("--edit"))
        status = RunEdit(rest, err);
    else if (command == QLatin1String("--fetch"))
        status = RunFetch(rest, out, err);
    else if (command == QLatin1String("--native-messaging"))
        status = RunNativeHost(rest, 0, 1, {QCoreApplication::applicationFilePath()});
    else
        status = UsageError(err, QStringLiteral("unknown command %1").arg(command));
    SetOptions(nullptr);
    return status;
}

} // namespace zorv
