#include "settings/store.h"

#include <QSettings>
#include <mutex>

namespace zorv {

namespace {
std::mutex g_storeLock;
QString g_storeFile;
} // namespace

void SetSettingsFile(const QString& path)
{
    std::scoped_lock lock(g_storeLock);
    g_storeFile = path;
}

std::unique_ptr<QSettings> OpenSettingsStore()
{
    std::scoped_lock lock(g_storeLock);
    if (!g_storeFile.isEmpty())
        return std::make_unique<QSettings>(g_storeFile, QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, StoreCompanyName(),
                                       StoreProductName());
}

QString StoreCompanyName()
{
    return QStringLiteral("Quillmere");
}

QString StoreProductName()
{
    return QStringLiteral("zorv");
}

QStringList ReadRecentFileList(int count)
{
    QStringList paths;
    auto store = OpenSettingsStore();
    store->beginGroup(QStringLiteral("Recent File List"));
    for (int i = 1; i <= count; ++i) {
        const QString path = store->value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty() && !paths.contains(path))
            paths.append(path);
    }
    return paths;
}

} // namespace zorv
