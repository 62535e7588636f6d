#pragma once
// The per-user settings store: QSettings("Quillmere", "zorv") in the native
// format (the registry on Windows, ~/.config/Quillmere/zorv.conf on Linux),
// or an INI file chosen with SetSettingsFile (tests, portable use).
#include <QString>
#include <QStringList>
#include <memory>

class QSettings;

namespace zorv {

// The maker's and the program's names under which the store (and the
// program's data folder) is found.
QString StoreCompanyName();
QString StoreProductName();

// Point every later OpenSettingsStore() at the INI file `path`; an empty path
// returns to the native per-user store.
void SetSettingsFile(const QString& path);

// A store positioned at the top level; callers enter their group
// ("Settings", "ListView", "Recent File List").
std::unique_ptr<QSettings> OpenSettingsStore();

// The recent-file list of the window, newest first: at most `count` paths,
// without blanks and repeats.
QStringList ReadRecentFileList(int count);

} // namespace zorv
