#pragma once
// The per-user settings store: QSettings("Quillmere", "zorv") in the native
// format (the registry on Windows, ~/.config/Quillmere/zorv.conf on Linux),
// or an INI file chosen with SetSettingsFile (tests, portable use).
#include <QString>
#include <memory>

class QSettings;

namespace zorv {

// Point every later OpenSettingsStore() at the INI file `path`; an empty path
// returns to the native per-user store.
void SetSettingsFile(const QString& path);

// A store positioned at the top level; callers enter their group
// ("Settings", "ListView", "Recent File List").
std::unique_ptr<QSettings> OpenSettingsStore();

} // namespace zorv
