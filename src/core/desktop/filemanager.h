#pragma once
// Showing a file in the desktop's file manager: ShowItems of
// org.freedesktop.FileManager1 on the session bus opens the file's folder
// with the file selected. The call is asynchronous; when no file manager
// answers (none on the bus, no bus, an error), the caller's fallback runs.
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace zorv {

class CFileManagerLink : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kService = "org.freedesktop.FileManager1";

    // On the session bus.
    explicit CFileManagerLink(QObject* parent = nullptr);
    // Another bus (tests run a private one).
    void SetConnection(const QDBusConnection& bus) { m_bus = bus; }

    // Asks the file manager to show `path` (an absolute file path) selected
    // in its folder. `failed` runs on this object's thread, once, when that
    // cannot be done; on success nothing runs.
    void ShowItem(const QString& path, std::function<void()> failed);

private:
    QDBusConnection m_bus;
};

} // namespace zorv
