#include "desktop/filemanager.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>

namespace zorv {

CFileManagerLink::CFileManagerLink(QObject* parent) : QObject(parent), m_bus(QDBusConnection::sessionBus()) {}

void CFileManagerLink::ShowItem(const QString& path, std::function<void()> failed)
{
    if (!m_bus.isConnected()) {
        if (failed)
            failed();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QLatin1String(kService), QStringLiteral("ShowItems"));
    // The URIs of the items, and a start-up id (none).
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    // Without a file manager on the bus the answer is an error at once; a
    // file manager that is being started may take a few seconds.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [failed = std::move(failed)](QDBusPendingCallWatcher* w) {
        if (w->isError() && failed)
            failed();
        w->deleteLater();
    });
}

} // namespace zorv
