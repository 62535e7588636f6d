// The list file: a 32-bit item count, then one object per item. The first
// object introduces the class (tag 0xFFFF, schema, name "CItem"); every later
// one refers back to it (tag 0x8001). Integers are little-endian.
#include "model/archive.h"
#include "model/doc.h"
#include "model/text.h"
#include "settings/options.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <exception>
#include <functional>
#include <set>
#include <string>
#include <thread>

namespace zorv {

namespace {

constexpr std::uint16_t kNewClassTag = 0xFFFF;
constexpr std::uint16_t kClassTag = 0x8000;
constexpr char kClassName[] = "CItem";

} // namespace

QByteArray CZorvDoc::SaveToBytes() const
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(16 + m_items.size() * 96));
    CArchiveWriter ar(out);
    ar.WriteI32(GetCount());
    bool classWritten = false;
    for (const auto& item : m_items) {
        if (!classWritten) {
            ar.WriteU16(kNewClassTag);
            ar.WriteU16(CItem::kSchema);
            ar.WriteU16(sizeof kClassName - 1);
            ar.WriteBytes(kClassName, sizeof kClassName - 1);
            classWritten = true;
        } else {
            ar.WriteU16(kClassTag | 1);
        }
        // An item in progress is stored as failed (or as the run asks); the
        // item itself keeps the state its worker gives it.
        const int state = item->GetState();
        item->SerializeWithState(ar, state >= 0 && state <= 3 ? state : m_inProgressSaveState);
    }
    return out;
}

namespace {

std::vector<ItemPtr> ParseList(const QByteArray& bytes)
{
    CArchiveReader ar(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const std::int32_t count = ar.ReadI32();
    std::vector<ItemPtr> items;
    // A list is consumed exactly: a negative count or bytes after the last
    // item mean the file is something else (a picture, a text), which must
    // never be taken as an empty list and saved over.
    if (count < 0)
        throw CArchiveError("zorv のリストではありません（項目数が負です）");
    // Every object takes at least its 2-byte tag.
    if (static_cast<std::size_t>(count) > ar.Remaining() / 2)
        throw CArchiveError("zorv のリストではありません（項目数がファイルの大きさに合いません）");
    items.reserve(static_cast<std::size_t>(count));

    // Archive map indices: each new class and each object takes the next one.
    std::uint32_t mapCount = 1;
    std::set<std::uint32_t> itemClassIndices;
    int schema = -1;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint16_t tag = ar.ReadU16();
        if (tag == kNewClassTag) {
            schema = ar.ReadU16();
            const std::uint16_t len = ar.ReadU16();
            if (ar.ReadRaw(len) != kClassName)
                throw CArchiveError("zorv のリストではありません（未知のクラスのデータがあります）");
            itemClassIndices.insert(mapCount++);
        } else if (!(tag & kClassTag) || !itemClassIndices.count(std::uint32_t{tag} & ~std::uint32_t{kClassTag})) {
            throw CArchiveError("zorv のリストではありません（リストの項目ではないデータがあります）");
        }
        auto item = std::make_shared<CItem>();
        item->Serialize(ar, schema);
        ++mapCount;
        items.push_back(std::move(item));
    }
    if (ar.Remaining() != 0) {
        throw CArchiveError("zorv のリストではありません（最後の項目の後に " + std::to_string(ar.Remaining())
                            + " バイト余っています）");
    }
    return items;
}

// A list file this long is read and parsed on a thread of its own.
constexpr qsizetype kLongList = 1 << 20;

// Runs `work`, when `aside`, on a thread of its own while the calling (UI)
// thread's event loop keeps running: timers, repaints and the workers'
// notices go on; user input and the requests of other zorv processes (socket
// notifiers) wait until the work is done, so that nothing is added to the
// list being replaced. Without an event
// loop of the application's thread to turn, it runs here.
void RunAside(bool aside, const std::function<void()>& work)
{
    const QCoreApplication* app = QCoreApplication::instance();
    if (!aside || !app || QThread::currentThread() != app->thread()) {
        work();
        return;
    }
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    worker.join();
}

} // namespace

bool CZorvDoc::LoadFromBytes(const QByteArray& bytes, QString* cause)
{
    std::vector<ItemPtr> items;
    std::list<ItemPtr> queue; // the items to fetch, in list order
    std::exception_ptr error;
    // A long list is parsed, and its queue built, aside: the items are no
    // one else's yet.
    RunAside(bytes.size() >= kLongList, [&] {
        try {
            items = ParseList(bytes);
            for (const ItemPtr& item : items) {
                if (item->GetState() == STATE_NOT_FETCHED) {
                    item->m_queuePos = queue.insert(queue.end(), item);
                    item->m_bQueued = true;
                }
            }
        } catch (...) {
            error = std::current_exception();
        }
    });
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const CArchiveError& e) {
            if (cause)
                *cause = QString::fromUtf8(e.what());
            return false;
        }
    }
    DeleteContents();
    AppendLoaded(std::move(items), std::move(queue));
    return true;
}

bool CZorvDoc::OnNewDocument()
{
    m_autoSave.Stop();
    DeleteContents();
    StorePathName({});
    m_bModified.store(false);
    NotifyTitle();
    return true;
}

bool CZorvDoc::OnOpenDocument(const QString& path, QString* error)
{
    m_autoSave.Stop();
    m_bLoading = true;
    QString cause;
    bool ok = false;
    QByteArray bytes;
    bool read = false;
    // Read aside too when long (errno belongs to the thread that read).
    RunAside(QFileInfo(path).size() >= kLongList, [&] {
        QFile file(path);
        errno = 0;
        if (!file.open(QIODevice::ReadOnly)) {
            cause = FileErrorText(errno, file.errorString());
            return;
        }
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            cause = file.errorString();
        else
            read = true;
    });
    if (read)
        ok = LoadFromBytes(bytes, &cause);
    if (ok) {
        StorePathName(path);
    } else {
        DeleteContents();
        StorePathName({});
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, cause);
    }
    m_bModified.store(false);
    m_bLoading = false;
    NotifyTitle();
    return ok;
}

namespace {

// Writes `bytes` to a temporary file beside `path` and renames it over
// `path` only when every byte is written: a failed save leaves the old file
// whole. The explicit flush matters: a small list sits in the device's
// buffer after write(), and a failure to write that buffer out must be seen
// before the rename, not after it. On failure *cause says why.
bool WriteListFile(const QString& path, const QByteArray& bytes, QString* cause)
{
    QSaveFile file(path);
    int err = 0;
    const auto step = [&](bool ok) {
        if (!ok && err == 0)
            err = errno ? errno : EIO;
        return ok;
    };
    errno = 0;
    const bool ok = step(file.open(QIODevice::WriteOnly)) && step(file.write(bytes) == bytes.size())
        && step(file.flush()) && step(file.commit());
    if (!ok) {
        *cause = FileErrorText(err, file.errorString());
        file.cancelWriting(); // the destructor removes the temporary file
    }
    return ok;
}

} // namespace

bool CZorvDoc::OnSaveDocument(const QString& path, QString* error)
{
    // Not modified from here: a worker's result stored after the items are
    // read (and after its check of the flag) marks the list modified again,
    // rather than being lost under a flag cleared after the write.
    const bool wasModified = m_bModified.exchange(false);
    QString cause;
    if (!WriteListFile(path, SaveToBytes(), &cause)) {
        if (wasModified)
            m_bModified.store(true);
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, cause);
        return false;
    }
    StorePathName(path);
    m_autoSave.Saved();
    NotifyTitle();
    return true;
}

bool CZorvDoc::SaveCopy(const QString& path, QString* error) const
{
    QString cause;
    if (WriteListFile(path, SaveToBytes(), &cause))
        return true;
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, cause);
    return false;
}

void CZorvDoc::DeleteContents()
{
    {
        // Emptied first, so that no worker takes an item of the old list
        // while the engine releases them.
        std::scoped_lock lock(m_lock);
        ClearQueueLocked();
    }
    // No worker may hold an item of the old list once it is gone.
    if (m_pEngine)
        m_pEngine->ReleaseItems();
    RemoveAllItems();
}

void CZorvDoc::OnCloseDocument()
{
    m_autoSave.Stop();
    if (m_pEngine) {
        m_pEngine->StopWorkers();
        m_pEngine->ReleaseItems();
    }
    COptions& options = Options();
    const int autoSave = options.AutoSave;
    options.AutoSave = 0;
    RemoveAllItems();
    options.AutoSave = autoSave;
}

} // namespace zorv
