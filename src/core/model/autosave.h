#pragma once
// The automatic save of a list. With AutoSave on and a path known, marking
// the list modified saves it: at once when the last automatic save is at
// least the save interval ago, else once when the interval has passed (a
// burst of changes, such as a run of worker results, is written once, not
// once per change). UI thread only.
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QTimer;

namespace zorv {

class CAutoSave {
public:
    // `save` writes the list (false, and *error names the file and the
    // cause, when it failed); `wanted` says whether an automatic save is due
    // (AutoSave on, a path, the list modified); `failed` is told of a run of
    // failed saves once (a later successful save re-arms it).
    CAutoSave(std::function<bool(QString* error)> save, std::function<bool()> wanted,
              std::function<void(const QString& error)> failed);
    ~CAutoSave();
    CAutoSave(const CAutoSave&) = delete;
    CAutoSave& operator=(const CAutoSave&) = delete;

    // The list was just marked modified: saves now when the interval allows
    // (true when that save succeeded), else has a save wait for the end of the
    // interval (false).
    bool Modified();
    // Writes a waiting save now (before the list is closed, and at the end of
    // a run). False when that save failed.
    bool Flush();
    bool Pending() const;
    // Drops a waiting save.
    void Stop();
    // The list was saved (by any means): nothing waits, and the next failure
    // is told again.
    void Saved();
    // Shortest time between two automatic saves (1 s; tests shorten it).
    void SetInterval(std::chrono::milliseconds interval) { m_interval = interval; }
    // Error of the last automatic save (empty when it succeeded).
    const QString& LastError() const { return m_strError; }

private:
    bool SaveNow();

    std::function<bool(QString*)> m_save;
    std::function<bool()> m_wanted;
    std::function<void(const QString&)> m_failed;
    QString m_strError;
    bool m_bFailureTold = false; // `failed` heard of the current run of failures
    std::chrono::milliseconds m_interval{1000};
    std::chrono::steady_clock::time_point m_lastSave{};
    std::unique_ptr<QTimer> m_pTimer; // a waiting save
};

} // namespace zorv
