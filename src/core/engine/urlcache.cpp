#include "engine/urlcache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <filesystem>
#include <mutex>

namespace zorv {

namespace {

std::mutex g_overrideLock;
QString g_folderOverride;

constexpr int kLockTimeoutMs = 10000;

QString Str(const std::string& s)
{
    return QString::fromStdString(s);
}

// Header bytes are kept one to one (they need not be UTF-8).
QString Latin1(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::filesystem::path FsPath(const QString& path)
{
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// The copy keeps the URL's extension when it looks like one, so that the
// cached file opens with the right program.
QString CopySuffix(const std::string& ext)
{
    if (ext.empty() || ext.size() > 10)
        return {};
    for (char c : ext) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!ok)
            return {};
    }
    return QStringLiteral(".") + Str(ext);
}

void SetError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

QString CUrlCache::DefaultFolder()
{
    {
        std::scoped_lock lock(g_overrideLock);
        if (!g_folderOverride.isEmpty())
            return g_folderOverride;
    }
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/urlcache");
}

void CUrlCache::SetFolderOverride(const QString& folder)
{
    std::scoped_lock lock(g_overrideLock);
    g_folderOverride = folder;
}

CUrlCache::CUrlCache(QString folder) : m_folder(std::move(folder)) {}

std::string CUrlCache::UrlExtension(const std::string& url)
{
    const auto dot = url.rfind('.');
    return dot == std::string::npos ? url : url.substr(dot + 1);
}

QString CUrlCache::Key(const std::string& url) const
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(url), QCryptographicHash::Sha1).toHex());
}

bool CUrlCache::Store(const CUrlCacheRecord& rec, const QString& file, QString* error) const
{
    QDir dir(m_folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        SetError(error, QStringLiteral("cannot create the cache folder %1").arg(m_folder));
        return false;
    }
    const QString key = Key(rec.url);
    QLockFile lock(dir.filePath(key + QStringLiteral(".lock")));
    if (!lock.tryLock(kLockTimeoutMs)) {
        SetError(error, QStringLiteral("the cache entry is locked"));
        return false;
    }

    const std::string ext = UrlExtension(rec.url);
    const QString copyName = key + CopySuffix(ext);
    const QString copyPath = dir.filePath(copyName);

    // The copy goes to a temporary name first, so that a reader never sees
    // half a file under the entry's name.
    QTemporaryFile temp(dir.filePath(key + QStringLiteral(".XXXXXX.part")));
    if (!temp.open()) {
        SetError(error, temp.errorString());
        return false;
    }
    const QString tempPath = temp.fileName();
    temp.close();
    std::error_code ec;
    std::filesystem::copy_file(FsPath(file), FsPath(tempPath),
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
        SetError(error, QStringLiteral("cannot copy %1: %2").arg(file, Str(ec.message())));
        return false;
    }
    const auto size = static_cast<std::uint64_t>(QFileInfo(tempPath).size());

    // An earlier entry may have kept its copy under another extension.
    if (auto old = Lookup(rec.url); old && old->filePath != copyPath)
        QFile::remove(old->filePath);

    std::filesystem::rename(FsPath(tempPath), FsPath(copyPath), ec);
    if (ec) {
        SetError(error, QStringLiteral("cannot store %1: %2").arg(copyPath, Str(ec.message())));
        return false;
    }
    temp.setAutoRemove(false);

    QJsonObject obj;
    obj[QStringLiteral("url")] = Str(rec.url);
    obj[QStringLiteral("file")] = copyName;
    obj[QStringLiteral("headers")] = Latin1(rec.headers);
    obj[QStringLiteral("lastModified")] = Latin1(rec.lastModified);
    obj[QStringLiteral("lastModifiedTime")] = static_cast<qint64>(rec.lastModifiedTime);
    obj[QStringLiteral("type")] = rec.sparse ? QStringLiteral("sparse") : QStringLiteral("normal");
    obj[QStringLiteral("size")] = static_cast<qint64>(size);
    obj[QStringLiteral("expectedSize")] = static_cast<qint64>(rec.expectedSize);
    obj[QStringLiteral("extension")] = Str(ext);
    obj[QStringLiteral("stored")] = QDateTime::currentSecsSinceEpoch();

    QSaveFile index(dir.filePath(key + QStringLiteral(".json")));
    if (!index.open(QIODevice::WriteOnly)
        || index.write(QJsonDocument(obj).toJson()) < 0 || !index.commit()) {
        SetError(error, index.errorString());
        return false;
    }
    return true;
}

std::optional<CUrlCacheEntry> CUrlCache::Lookup(const std::string& url) const
{
    const QDir dir(m_folder);
    QFile index(dir.filePath(Key(url) + QStringLiteral(".json")));
    if (!index.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(index.readAll());
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject obj = doc.object();
    CUrlCacheEntry e;
    e.url = obj.value(QStringLiteral("url")).toString().toStdString();
    if (e.url != url)
        return std::nullopt;
    e.filePath = dir.filePath(obj.value(QStringLiteral("file")).toString());
    e.headers = obj.value(QStringLiteral("headers")).toString().toLatin1().toStdString();
    e.lastModified = obj.value(QStringLiteral("lastModified")).toString().toLatin1().toStdString();
    e.lastModifiedTime = obj.value(QStringLiteral("lastModifiedTime")).toInteger();
    e.sparse = obj.value(QStringLiteral("type")).toString() == QStringLiteral("sparse");
    e.size = static_cast<std::uint64_t>(obj.value(QStringLiteral("size")).toInteger());
    e.expectedSize = static_cast<std::uint64_t>(obj.value(QStringLiteral("expectedSize")).toInteger());
    e.extension = obj.value(QStringLiteral("extension")).toString().toStdString();
    e.storedTime = obj.value(QStringLiteral("stored")).toInteger();
    return e;
}

bool CUrlCache::Remove(const std::string& url) const
{
    const QDir dir(m_folder);
    const QString key = Key(url);
    QLockFile lock(dir.filePath(key + QStringLiteral(".lock")));
    if (!lock.tryLock(kLockTimeoutMs))
        return false;
    auto entry = Lookup(url);
    if (!entry)
        return false;
    QFile::remove(entry->filePath);
    return QFile::remove(dir.filePath(key + QStringLiteral(".json")));
}

} // namespace zorv
