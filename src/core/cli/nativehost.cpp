#include "cli/nativehost.h"

#include "cli/headless.h"
#include "model/filename.h"
#include "model/item.h"
#include "model/listowner.h"
#include "model/text.h"
#include "settings/store.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zorv {

namespace {

constexpr std::size_t kLengthBytes = 4;
// The recent-file list the window keeps.
constexpr int kRecentFiles = 4;

QJsonObject Error(const QString& why)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), why}};
}

bool IsHttpUrl(std::string_view url)
{
    const std::string_view scheme = url.substr(0, url.find(':'));
    return CItem::IsValidUrl(url) && (EqualsNoCase(scheme, "http") || EqualsNoCase(scheme, "https"));
}

// An optional string member: false when present with another type.
bool OptionalString(const QJsonObject& o, const char* key, std::string* out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return true;
    if (!v.isString())
        return false;
    *out = v.toString().toStdString();
    return true;
}

} // namespace

// ---- framing ------------------------------------------------------------------

void CNativeFrameReader::Append(const char* data, std::size_t size)
{
    m_buffer.append(data, static_cast<qsizetype>(size));
}

CNativeFrameReader::Next CNativeFrameReader::Take(QByteArray* message)
{
    if (static_cast<std::size_t>(m_buffer.size()) < kLengthBytes)
        return Next::NeedMore;
    std::uint32_t length = 0;
    std::memcpy(&length, m_buffer.constData(), kLengthBytes); // the machine's byte order
    if (length > kMaxNativeMessageBytes)
        return Next::TooLong;
    if (static_cast<std::size_t>(m_buffer.size()) < kLengthBytes + length)
        return Next::NeedMore;
    *message = m_buffer.mid(kLengthBytes, length);
    m_buffer.remove(0, static_cast<qsizetype>(kLengthBytes + length));
    return Next::Message;
}

QByteArray NativeFrame(const QJsonObject& message)
{
    const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
    const auto length = static_cast<std::uint32_t>(json.size());
    QByteArray out(reinterpret_cast<const char*>(&length), kLengthBytes);
    return out + json;
}

// ---- messages -----------------------------------------------------------------

bool ParseBrowserMessage(const QByteArray& json, CBrowserMessage* out, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("not a JSON object"));
    const QJsonObject o = doc.object();
    CBrowserMessage m;
    const QString command = o.value(QStringLiteral("command")).toString();
    if (command == QLatin1String("ping")) {
        *out = m;
        return true;
    }
    if (command != QLatin1String("add"))
        return fail(QStringLiteral("unknown command"));
    m.command = CBrowserMessage::Command::Add;
    const QJsonValue front = o.value(QStringLiteral("front"));
    if (!front.isUndefined() && !front.isBool())
        return fail(QStringLiteral("\"front\" is not true or false"));
    m.front = front.toBool();
    const QJsonValue items = o.value(QStringLiteral("items"));
    if (!items.isArray() || items.toArray().isEmpty())
        return fail(QStringLiteral("no items"));
    const QJsonArray list = items.toArray();
    if (list.size() > kMaxNativeLinks)
        return fail(QStringLiteral("more than %1 items").arg(kMaxNativeLinks));
    for (const QJsonValue& v : list) {
        if (!v.isObject())
            return fail(QStringLiteral("an item is not an object"));
        const QJsonObject item = v.toObject();
        CLink link;
        std::string name;
        if (!item.value(QStringLiteral("url")).isString() || !OptionalString(item, "referrer", &link.referer)
            || !OptionalString(item, "filename", &name)) {
            return fail(QStringLiteral("an item is malformed"));
        }
        link.url = item.value(QStringLiteral("url")).toString().toStdString();
        // Exactly as sent: white space or a line break around a URL is not
        // from the extension.
        if (!CItem::IsValidUrl(link.url) || link.url != TrimWhiteSpace(link.url))
            return fail(QStringLiteral("not an http, https or ftp URL: %1").arg(QString::fromStdString(link.url).left(200)));
        // A referrer is sent as a header: only a plain web address is used.
        if (!IsHttpUrl(link.referer))
            link.referer.clear();
        link.fileName = SafeFileName(name);
        m.links.push_back(std::move(link));
    }
    *out = std::move(m);
    return true;
}

bool IsAllowedCaller(const QStringList& args)
{
    // Chromium and Chrome: the caller's origin (on Windows followed by
    // --parent-window=N).
    if (!args.isEmpty() && args.first() == QStringLiteral("chrome-extension://" ZORV_CHROMIUM_EXTENSION_ID "/"))
        return args.size() == 1 || (args.size() == 2 && args[1].startsWith(QLatin1String("--parent-window=")));
    // Firefox: the host manifest's path and the extension's id.
    return args.size() == 2 && args[0].endsWith(QLatin1String(".json"))
        && args[1] == QStringLiteral(ZORV_FIREFOX_EXTENSION_ID);
}

// ---- hand-off -------------------------------------------------------------------

namespace {

// The most recent list of the recent-file list that still exists; empty when none does.
QString MostRecentList()
{
    for (const QString& path : ReadRecentFileList(kRecentFiles)) {
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

// Offers the request to the window, then to the holder of `recent`.
HandOff Offer(const QJsonObject& request, const QString& recent, QJsonObject* reply)
{
    QStringList targets{WindowHandOffPath()};
    if (!recent.isEmpty())
        targets << recent;
    bool lost = false;
    for (const QString& target : targets) {
        switch (SendToOwner(target, request, reply, std::chrono::seconds(30))) {
        case HandOff::Answered:
            return HandOff::Answered;
        case HandOff::NoAnswer:
            // Not sent again: the holder may still add the links.
            return HandOff::NoAnswer;
        case HandOff::Lost:
            lost = true; // closing: the next round finds it gone
            break;
        case HandOff::NoOwner:
            break;
        }
    }
    return lost ? HandOff::Lost : HandOff::NoOwner;
}

QJsonObject Reply(const QJsonObject& answer)
{
    if (!answer.value(QStringLiteral("ok")).toBool()) {
        const QString why = answer.value(QStringLiteral("error")).toString();
        return Error(why.isEmpty() ? QStringLiteral("zorv refused the links") : why);
    }
    const CAddReport report = CAddReport::FromJson(answer.value(QStringLiteral("report")).toObject());
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("added"), report.added},
            {QStringLiteral("refused"), static_cast<int>(report.refused.size())},
            {QStringLiteral("clashes"), static_cast<int>(report.clashes.size())},
            {QStringLiteral("folders"), static_cast<int>(report.folders.size())}};
}

// Starts the window detached from the browser: its own session, and none of
// the host's pipes (a byte it wrote there would break the protocol, and an
// inherited pipe would keep the browser's end open).
bool StartWindow(const QString& program, const QString& list)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(list.isEmpty() ? QStringList{} : QStringList{list});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace

QJsonObject DeliverLinks(const CBrowserMessage& message, const CHostOptions& options)
{
    CLinksRequest links;
    links.links = message.links;
    links.raise = message.front;
    const QJsonObject request = links.ToJson();
    const QString recent = MostRecentList();
    const QDeadlineTimer deadline(options.startWait);
    QJsonObject answer;
    // A window that is closing cuts the connection: a moment later it is gone.
    for (int round = 0; round < 5; ++round) {
        const HandOff r = Offer(request, recent, &answer);
        if (r == HandOff::Answered)
            return Reply(answer);
        if (r == HandOff::NoAnswer)
            return Error(QStringLiteral("the zorv window does not answer"));
        if (r == HandOff::NoOwner)
            break;
        QThread::msleep(100);
    }
    // One host at a time starts a window; the others find it when they get
    // the lock.
    QLockFile starting(WindowHandOffPath() + QStringLiteral("-start.lock"));
    starting.setStaleLockTime(0);
    if (!starting.tryLock(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
        return Error(QStringLiteral("another zorv is starting the window"));
    HandOff r = Offer(request, recent, &answer);
    if (r == HandOff::NoOwner || r == HandOff::Lost) {
        if (options.program.isEmpty() || !StartWindow(options.program, recent))
            return Error(QStringLiteral("zorv could not be started"));
        const QDeadlineTimer started(options.startWait);
        do {
            QThread::msleep(100);
            r = Offer(request, recent, &answer);
        } while ((r == HandOff::NoOwner || r == HandOff::Lost) && !started.hasExpired());
    }
    if (r == HandOff::Answered)
        return Reply(answer);
    return Error(r == HandOff::NoAnswer ? QStringLiteral("the zorv window does not answer")
                                        : QStringLiteral("the zorv window did not start"));
}

QJsonObject AnswerBrowserMessage(const QByteArray& json, const CHostOptions& options)
{
    CBrowserMessage message;
    QString error;
    if (!ParseBrowserMessage(json, &message, &error))
        return Error(error);
    if (message.command == CBrowserMessage::Command::Ping)
        return {{QStringLiteral("ok"), true}, {QStringLiteral("version"), QStringLiteral(ZORV_VERSION)}};
    return DeliverLinks(message, options);
}

// ---- the host -------------------------------------------------------------------

namespace {

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
#ifdef _WIN32
        const int n = ::_write(fd, p, static_cast<unsigned>(left));
#else
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

int RunNativeHost(const QStringList& args, int inFd, int outFd, const CHostOptions& options)
{
#ifdef _WIN32
    ::_setmode(inFd, _O_BINARY);
    ::_setmode(outFd, _O_BINARY);
#else
    // A browser that went away makes a write fail, not end the host.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (!IsAllowedCaller(args)) {
        WriteAll(outFd, NativeFrame(Error(QStringLiteral("zorv answers only the zorv extension"))));
        return EXIT_USAGE;
    }
    CNativeFrameReader reader;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        QByteArray message;
        switch (reader.Take(&message)) {
        case CNativeFrameReader::Next::Message:
            if (!WriteAll(outFd, NativeFrame(AnswerBrowserMessage(message, options))))
                return EXIT_PARTIAL;
            continue;
        case CNativeFrameReader::Next::TooLong:
            WriteAll(outFd, NativeFrame(Error(QStringLiteral("message longer than %1 bytes").arg(kMaxNativeMessageBytes))));
            return EXIT_PARTIAL;
        case CNativeFrameReader::Next::NeedMore:
            break;
        }
#ifdef _WIN32
        const int n = ::_read(inFd, buffer.data(), static_cast<unsigned>(buffer.size()));
#else
        const ssize_t n = ::read(inFd, buffer.data(), buffer.size());
#endif
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 && reader.Empty())
            return EXIT_OK;
        if (n <= 0) {
            WriteAll(outFd, NativeFrame(Error(QStringLiteral("the message ended early"))));
            return EXIT_PARTIAL;
        }
        reader.Append(buffer.data(), static_cast<std::size_t>(n));
    }
}

} // namespace zorv
