#pragma once
// One list, one owner. The zorv that has a list open (a window or a running
// `zorv --fetch`) owns it: it listens on a local socket named from the list's
// canonical path, in the user's runtime folder, reachable by the same user
// only. Another zorv that wants to change the list hands its request to the
// owner, which applies it to the list it holds and saves by its own rules;
// with no owner, the change is made to the file under a lock file beside it.
// Owners register, and headless writers write, only while holding that lock,
// so nothing ever saves over changes it has not seen.
//
// A request is a JSON object behind a fixed greeting and a length; the owner
// drops anything else (and anything longer than kMaxRequestBytes) without
// effect.
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace zorv {

// The list's path as the owner socket is named from it: canonical folder and
// file name (the file need not exist yet).
QString CanonicalListPath(const QString& listPath);
// The owner socket of the list: a path in the user's runtime folder.
QString OwnerSocketPath(const QString& listPath);
// The lock file beside the list.
QString ListLockPath(const QString& listPath);
// The path that stands for "the window", whatever list it has open (a new,
// unnamed one too): the first zorv window owns it as it owns its list, so
// that a request sent there reaches the list the user sees. A file of this
// name is never made; only its lock file and socket are.
QString WindowHandOffPath();

inline constexpr qint64 kMaxRequestBytes = 32 * 1024 * 1024;

class CListOwner : public QObject {
    Q_OBJECT
public:
    // Answers a request (on the owner's thread); the reply goes back as it is.
    using Handler = std::function<QJsonObject(const QJsonObject& request)>;
    explicit CListOwner(Handler handler, QObject* parent = nullptr);
    ~CListOwner() override;

    enum class OwnResult {
        Owned, // this process answers for the list now
        Taken, // another zorv answers for it
        Failed // no socket could be set up (*error says why)
    };
    // Starts answering for `listPath` (after releasing any list owned
    // before). `whileLocked` (loading the list, say) runs once the socket
    // listens, still under the list's lock; when it returns false the list
    // is released again and the result is Failed.
    OwnResult Own(const QString& listPath, QString* error,
                  const std::function<bool()>& whileLocked = {});
    // Stops answering. With `lastSave`, the socket closes and `lastSave`
    // runs under the list's lock, so that a writer that finds no owner
    // afterwards reads what was saved; its result is returned.
    bool Release(const std::function<bool()>& lastSave = {});
    bool Owns() const;
    // The canonical path of the owned list; empty when none.
    QString OwnedPath() const { return m_strPath; }

    // How long a connection may take to deliver its request.
    void SetRequestTimeout(std::chrono::milliseconds t) { m_requestTimeout = t; }

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);

    Handler m_handler;
    std::unique_ptr<QLocalServer> m_pServer;
    QString m_strPath;
    std::chrono::milliseconds m_requestTimeout{10000};
};

// Result of handing a request to a list's owner.
enum class HandOff {
    NoOwner,  // nobody answers for the list
    Answered, // the owner's reply is in *reply
    Lost,     // an owner took the connection but closed it without a reply
    NoAnswer  // an owner took the request but did not answer in time
};
HandOff SendToOwner(const QString& listPath, const QJsonObject& request, QJsonObject* reply,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Changes the list file `listPath`: hands `request` to the list's owner when
// one answers (the owner's reply in *reply, result true), else runs `local`
// under the list's lock (which opens, changes and saves the file; its result
// is returned and *reply is left empty). False with *error when the lock
// cannot be had within `lockWait` (another zorv is writing the list).
bool ChangeList(const QString& listPath, const QJsonObject& request, QJsonObject* reply,
                const std::function<bool()>& local, QString* error,
                std::chrono::milliseconds lockWait = std::chrono::seconds(5));

} // namespace zorv
