#include "model/listowner.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zorv {

namespace {

const QByteArray kGreeting = QByteArrayLiteral("ZORV-LIST/1\n");
constexpr int kLengthBytes = 4;
// A reply is short; anything longer is not one.
constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;
constexpr int kConnectMs = 2000;

QByteArray Frame(const QJsonObject& object)
{
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    QByteArray out;
    const auto n = static_cast<quint32>(json.size());
    out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    out.append(json);
    return out;
}

// The length in front of a frame, or -1 when `bytes` does not hold it yet.
qint64 FrameLength(const QByteArray& bytes, qsizetype at)
{
    if (bytes.size() - at < kLengthBytes)
        return -1;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    return (qint64(p[0]) << 24) | (qint64(p[1]) << 16) | (qint64(p[2]) << 8) | qint64(p[3]);
}

bool ParseObject(const QByteArray& json, QJsonObject* out)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    *out = doc.object();
    return true;
}

// What is found at an owner socket's path.
enum class SocketFile {
    None,    // nothing, or a file of this user's that is no socket
    Ours,    // a socket of this user's
    Foreign  // a file of another user's: never connected to, never replaced
};

SocketFile SocketFileAt(const QString& socketPath)
{
#ifdef _WIN32
    Q_UNUSED(socketPath);
    return SocketFile::Ours; // a named pipe: no file to look at
#else
    struct stat st {};
    if (socketPath.isEmpty() || ::lstat(QFile::encodeName(socketPath).constData(), &st) != 0)
        return SocketFile::None;
    if (st.st_uid != ::getuid())
        return SocketFile::Foreign;
    return S_ISSOCK(st.st_mode) ? SocketFile::Ours : SocketFile::None;
#endif
}

// True when something listens on the socket (an owner that is alive). Only
// a socket of this user's is tried: a stranger's would receive the request.
bool OwnerAnswers(const QString& socketPath)
{
    if (SocketFileAt(socketPath) != SocketFile::Ours)
        return false;
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    const bool connected = probe.waitForConnected(kConnectMs);
    probe.abort();
    return connected;
}

// The list's lock, taken for as long as the object lives. A folder where no
// lock file can be made (read only) gives no lock and no waiting: nothing
// can be saved there either.
class CHeldLock {
public:
    CHeldLock(const QString& listPath, std::chrono::milliseconds wait) : m_lock(ListLockPath(listPath))
    {
        // Only a lock whose process is gone is stale, however old it is.
        m_lock.setStaleLockTime(0);
        m_bHeld = m_lock.tryLock(static_cast<int>(wait.count()));
    }
    // Another zorv holds the lock (as opposed to: no lock file possible).
    bool Busy() const { return !m_bHeld && m_lock.error() == QLockFile::LockFailedError; }
    QString Holder() const
    {
        qint64 pid = 0;
        QString host, app;
        if (m_lock.getLockInfo(&pid, &host, &app))
            return QStringLiteral("pid %1").arg(pid);
        return QStringLiteral("?");
    }

private:
    QLockFile m_lock;
    bool m_bHeld = false;
};

} // namespace

QString CanonicalListPath(const QString& listPath)
{
    const QFileInfo info(listPath);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    // A list not made yet: its folder's canonical path and its name.
    const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir::cleanPath((dir.isEmpty() ? info.absolutePath() : dir) + QLatin1Char('/') + info.fileName());
}

namespace {

#ifndef _WIN32
// A folder nobody else can enter or write to: this user's own (not a link
// to one), without any permission for group or others.
bool PrivateFolder(const QString& path)
{
    struct stat st {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)
           && st.st_uid == ::getuid() && (st.st_mode & 0077) == 0;
}
#endif

// The folder of the owner sockets: XDG_RUNTIME_DIR when it is private, else
// a folder of this user's own in the temporary folder, made quietly, else
// Qt's runtime folder when that is private. Empty when no private folder
// exists (then no socket is made or tried).
QString RuntimeFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
#ifdef _WIN32
    if (!xdg.isEmpty() && QFileInfo(xdg).isDir())
        return xdg;
    return QString(); // named pipes: the name alone
#else
    if (PrivateFolder(xdg))
        return xdg;
    const QString dir = QDir::tempPath() + QStringLiteral("/zorv-runtime-") + QString::number(::getuid());
    ::mkdir(QFile::encodeName(dir).constData(), 0700);
    if (PrivateFolder(dir))
        return dir;
    const QString qt = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return PrivateFolder(qt) ? qt : QString();
#endif
}

} // namespace

QString OwnerSocketPath(const QString& listPath)
{
    const QByteArray hash =
        QCryptographicHash::hash(CanonicalListPath(listPath).toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    const QString name = QStringLiteral("zorv-") + QString::fromLatin1(hash);
    const QString dir = RuntimeFolder();
#ifndef _WIN32
    if (dir.isEmpty())
        return QString();
#endif
    return dir.isEmpty() ? name : dir + QLatin1Char('/') + name;
}

QString WindowHandOffPath()
{
    // Without a private runtime folder, the user's own cache folder: never
    // a shared one, where another user could take the lock first.
    QString dir = RuntimeFolder();
    if (dir.isEmpty()) {
        dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QDir().mkpath(dir);
    }
    return dir + QStringLiteral("/zorv-window");
}

QString ListLockPath(const QString& listPath)
{
    return CanonicalListPath(listPath) + QStringLiteral(".lock");
}

// ---- the owner ----------------------------------------------------------------

CListOwner::CListOwner(Handler handler, QObject* parent) : QObject(parent), m_handler(std::move(handler))
{
}

CListOwner::~CListOwner()
{
    Release();
}

bool CListOwner::Owns() const
{
    return m_pServer && m_pServer->isListening();
}

CListOwner::OwnResult CListOwner::Own(const QString& listPath, QString* error,
                                      const std::function<bool()>& whileLocked)
{
    const QString canonical = CanonicalListPath(listPath);
    const QString socketPath = OwnerSocketPath(listPath);
    // The list held now stays held when another zorv turns out to hold the
    // new one; the same list opened again is let go first (this process's
    // own socket would answer the check).
    if (canonical == m_strPath)
        Release();
    CHeldLock lock(listPath, std::chrono::seconds(5));
    if (lock.Busy()) {
        if (error)
            *error = QStringLiteral("%1: 別の zorv (%2) が書き込み中です").arg(listPath, lock.Holder());
        return OwnResult::Failed;
    }
    if (socketPath.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1: ソケットを置く自分専用のフォルダーがありません (XDG_RUNTIME_DIR)").arg(listPath);
        return OwnResult::Failed;
    }
    if (SocketFileAt(socketPath) == SocketFile::Foreign) {
        if (error)
            *error = QStringLiteral("%1 は別のユーザーのファイルです").arg(socketPath);
        return OwnResult::Failed;
    }
    if (OwnerAnswers(socketPath))
        return OwnResult::Taken;
    Release();
    // Nobody answers: a socket file left there belongs to a zorv that ended.
    QLocalServer::removeServer(socketPath);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(socketPath, server->errorString());
        return OwnResult::Failed;
    }
    connect(server.get(), &QLocalServer::newConnection, this, &CListOwner::OnNewConnection);
    m_pServer = std::move(server);
    m_strPath = canonical;
    if (whileLocked && !whileLocked()) {
        m_pServer.reset();
        m_strPath.clear();
        return OwnResult::Failed;
    }
    return OwnResult::Owned;
}

bool CListOwner::Release(const std::function<bool()>& lastSave)
{
    if (!m_pServer)
        return lastSave ? lastSave() : true;
    const QString path = m_strPath;
    // Connections still delivering their request are cut: their senders try
    // again and then find the file as saved below.
    for (QLocalSocket* s : findChildren<QLocalSocket*>()) {
        if (!s->property("answered").toBool())
            s->abort();
    }
    if (!lastSave) {
        m_pServer.reset();
        m_strPath.clear();
        return true;
    }
    CHeldLock lock(path, std::chrono::seconds(5));
    m_pServer.reset();
    m_strPath.clear();
    return lastSave();
}

void CListOwner::OnNewConnection()
{
    while (QLocalSocket* socket = m_pServer ? m_pServer->nextPendingConnection() : nullptr) {
        socket->setParent(this);
        // A sender that never completes its request is dropped.
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
        deadline->start(m_requestTimeout);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0)
            OnReadyRead(socket);
    }
}

void CListOwner::OnReadyRead(QLocalSocket* socket)
{
    if (socket->property("answered").toBool()) {
        socket->readAll(); // nothing more is expected
        return;
    }
    QByteArray buffer = socket->property("buffer").toByteArray();
    buffer += socket->read(kGreeting.size() + kLengthBytes + kMaxRequestBytes - buffer.size());
    const auto drop = [socket] {
        socket->setProperty("buffer", QVariant());
        socket->abort();
    };
    // The greeting first; anything else is not one of ours.
    if (!buffer.startsWith(kGreeting.left(std::min(buffer.size(), kGreeting.size()))))
        return drop();
    const qint64 length = FrameLength(buffer, kGreeting.size());
    if (length > kMaxRequestBytes)
        return drop();
    if (length < 0 || buffer.size() < kGreeting.size() + kLengthBytes + length) {
        socket->setProperty("buffer", buffer);
        return;
    }
    if (buffer.size() > kGreeting.size() + kLengthBytes + length)
        return drop(); // more than one request: not a sender of ours
    QJsonObject request;
    if (!ParseObject(buffer.mid(kGreeting.size() + kLengthBytes), &request)
        || request.value(QStringLiteral("list")).toString() != m_strPath) {
        return drop();
    }
    socket->setProperty("buffer", QVariant());
    socket->setProperty("answered", true);
    const QJsonObject reply = m_handler ? m_handler(request) : QJsonObject{};
    socket->write(Frame(reply));
    socket->flush();
    socket->disconnectFromServer(); // after the reply has been written
}

// ---- senders --------------------------------------------------------------------

HandOff SendToOwner(const QString& listPath, const QJsonObject& request, QJsonObject* reply,
                    std::chrono::milliseconds timeout)
{
    const QString socketPath = OwnerSocketPath(listPath);
    if (SocketFileAt(socketPath) != SocketFile::Ours)
        return HandOff::NoOwner;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kConnectMs))
        return HandOff::NoOwner;
    QJsonObject sent = request;
    sent.insert(QStringLiteral("list"), CanonicalListPath(listPath));
    const QByteArray frame = kGreeting + Frame(sent);
    QDeadlineTimer deadline(timeout);
    if (socket.write(frame) != frame.size())
        return HandOff::Lost;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            return HandOff::Lost;
    }
    QByteArray in;
    for (;;) {
        in += socket.readAll();
        const qint64 length = FrameLength(in, 0);
        if (length > kMaxReplyBytes)
            return HandOff::Lost;
        if (length >= 0 && in.size() >= kLengthBytes + length) {
            QJsonObject object;
            if (!ParseObject(in.mid(kLengthBytes, length), &object))
                return HandOff::Lost;
            if (reply)
                *reply = object;
            return HandOff::Answered;
        }
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            return HandOff::Lost;
        if (deadline.hasExpired())
            return HandOff::NoAnswer;
        socket.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
    }
}

bool ChangeList(const QString& listPath, const QJsonObject& request, QJsonObject* reply,
                const std::function<bool()>& local, QString* error, std::chrono::milliseconds lockWait)
{
    // An owner that is closing cuts the connection without a reply; the next
    // round finds it gone (or finds the next owner).
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        if (round > 0)
            QThread::msleep(100);
        switch (SendToOwner(listPath, request, reply)) {
        case HandOff::Answered:
            return true;
        case HandOff::Lost:
            continue;
        case HandOff::NoAnswer:
            // Not sent again: the owner may still apply it.
            if (error)
                *error = QStringLiteral("%1: the zorv that has the list open does not answer").arg(listPath);
            return false;
        case HandOff::NoOwner:
            break;
        }
        CHeldLock lock(listPath, lockWait);
        if (lock.Busy()) {
            if (error) {
                *error = QStringLiteral("%1 is being written by another zorv (%2); try again later")
                             .arg(listPath, lock.Holder());
            }
            return false;
        }
        // Owners register under the lock: one that answers now came first.
        if (OwnerAnswers(OwnerSocketPath(listPath)))
            continue;
        if (reply)
            *reply = QJsonObject{};
        return local();
    }
    if (error)
        *error = QStringLiteral("%1: the zorv that has the list open does not answer").arg(listPath);
    return false;
}

} // namespace zorv
