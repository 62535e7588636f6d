#pragma once
// Test helpers shared by the core tests: a private settings store with its
// own COptions record, and small file and byte helpers.
#include "settings/options.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>

namespace zorv::test {

// An INI settings store in a fresh temporary folder, and a COptions record
// loaded from it and installed as the record of the run. Everything is put
// back (native store, built-in defaults) by the destructor.
class CTempSettings {
public:
    CTempSettings();
    ~CTempSettings();
    CTempSettings(const CTempSettings&) = delete;
    CTempSettings& operator=(const CTempSettings&) = delete;

    // The temporary folder (also usable for list files of the test).
    QString Dir() const { return m_dir.path(); }
    QString Path(const QString& name) const { return m_dir.filePath(name); }
    QString IniFile() const { return m_dir.filePath(QStringLiteral("zorv.ini")); }
    COptions& Options() { return *m_options; }
    // Replaces the record with a fresh one loaded from the store.
    COptions& Reload();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<COptions> m_options;
};

// A test with its own settings store.
class SettingsTest : public ::testing::Test {
protected:
    CTempSettings settings;
};

QByteArray Bytes(std::initializer_list<int> bytes);
QByteArray ReadFileBytes(const QString& path);
bool WriteFileBytes(const QString& path, const QByteArray& bytes);
// Writes `bytes` to `root`/`relativePath`, making the folders on the way.
bool PutFileBelow(const QString& root, const QString& relativePath, const QByteArray& bytes);
// `n` letters in which no run of 251 or more recurs at another offset: a
// body whose misplaced or repeated pieces show.
std::string Pattern(size_t n);
// Runs this thread's event loop (posted events, timers) until `done` holds;
// false on timeout.
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Points XDG_RUNTIME_DIR (where list owners put their sockets) at a private
// 0700 folder for the whole run, and XDG_DATA_HOME (the program's data
// folder) at one inside it; child processes inherit them. Call it in
// main() before anything else.
void UsePrivateRuntimeDir();
// Hex dump "01 00 00 00 ..." for readable failure messages.
std::string HexDump(const QByteArray& bytes);

} // namespace zorv::test
