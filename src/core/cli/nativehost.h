#pragma once
// `zorv --native-messaging`: the native messaging host that a web browser
// starts for the zorv extension. The browser writes messages to its standard
// input and reads the replies from its standard output; each message is a
// 32-bit length in the machine's byte order followed by that many bytes of
// UTF-8 JSON. The host hands the links of a message to the zorv window (see
// DeliverLinks) and answers {"ok": true, ...} or {"ok": false, "error": ...}.
//
// The host acts only for the zorv extension (the caller the browser names on
// the command line), only on http, https and ftp URLs, and never runs
// anything a message names.
#include "model/listrequest.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <vector>

namespace zorv {

// The longest message the host reads; anything longer is refused unread.
inline constexpr std::uint32_t kMaxNativeMessageBytes = 1024 * 1024;
// The most links one message may carry.
inline constexpr int kMaxNativeLinks = 10000;

// Splits the byte stream from the browser into messages, however the reads
// cut it.
class CNativeFrameReader {
public:
    enum class Next {
        NeedMore, // no whole message yet
        Message,  // *message holds the next one
        TooLong   // the next message is over kMaxNativeMessageBytes: the stream is of no further use
    };
    void Append(const char* data, std::size_t size);
    Next Take(QByteArray* message);
    // True when no byte of an unfinished message is waiting.
    bool Empty() const { return m_buffer.isEmpty(); }

private:
    QByteArray m_buffer;
};

// `message` as the browser reads it: the length, then the compact JSON.
QByteArray NativeFrame(const QJsonObject& message);

// A message from the extension.
struct CBrowserMessage {
    enum class Command { Ping, Add };
    Command command = Command::Ping;
    // For Add: at least one; every URL http, https or ftp and valid, every
    // referrer empty or an http(s) URL, every file name a bare, safe name.
    std::vector<CLink> links;
    bool front = false; // bring the window to the front
};

// Reads one message: {"command": "ping"} or {"command": "add", "items":
// [{"url": U, "referrer": R, "filename": F}, ...], "front": B}. False, with
// the reason in *error, for anything else; nothing of such a message is used.
bool ParseBrowserMessage(const QByteArray& json, CBrowserMessage* out, QString* error);

// True when the arguments after --native-messaging name the zorv extension:
// its origin "chrome-extension://ID/" (Chromium, Chrome), or the path of the
// host manifest and its id (Firefox).
bool IsAllowedCaller(const QStringList& args);

struct CHostOptions {
    // The zorv executable that opens the window.
    QString program;
    // How long a window that was started may take to answer.
    std::chrono::milliseconds startWait{std::chrono::seconds(20)};
};

// Hands the links to the zorv window: the first window of this user (which
// answers for whatever list it has open, an unnamed one too), else the zorv
// that holds the most recent list of the recent-file list (a window that
// came second, or a `zorv --fetch`). With neither, it starts the window
// (`zorv LIST` with the most recent list that exists, else `zorv` with a new
// list), waits for it and hands the links over. The reply for the browser.
QJsonObject DeliverLinks(const CBrowserMessage& message, const CHostOptions& options);

// The reply to one message.
QJsonObject AnswerBrowserMessage(const QByteArray& json, const CHostOptions& options);

// The host: answers the messages on `inFd` on `outFd` until the input ends.
// `args` are the arguments after --native-messaging. A caller other than the
// zorv extension, or a message over the limit, gets one error reply and ends
// the host (status 2, 1); else the status is 0.
int RunNativeHost(const QStringList& args, int inFd, int outFd, const CHostOptions& options);

} // namespace zorv
