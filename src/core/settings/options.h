#pragma once
// COptions: every user option, kept in the "Settings" group of the settings
// store under the value names below. Names, defaults and bounds are those of
// the settings table (settings/settingstable.h). One record exists per run of
// the program (SetOptions / Options); it is written on the UI thread only.
//
// Fetch workers read the network fields from their own threads. They never
// read the fields directly: NetSnapshot() copies them under the record's
// lock, and UI code that writes a network field holds that lock
// (LockNetwork(), or CopyFrom for every field at once) so that a worker never
// sees a string half replaced or an edit half applied.
#include <memory>
#include <mutex>
#include <string>

namespace zorv {

// Proxy access types of ProxySetting.
enum : int {
    PROXY_SYSTEM = 0, // the system's proxy configuration (proxy environment variables)
    PROXY_DIRECT = 1, // no proxy
    PROXY_NAMED = 3,  // the proxies named in the record, with ProxyBypass
};

// The settings a fetch needs, copied at one moment (NetSnapshot fills every
// field; the defaults are the settings table's).
struct CNetSettings {
    std::string HttpAgent;
    int ProxySetting = PROXY_SYSTEM;
    std::string ProxyHttpServer;
    std::string ProxyHttpPort;
    std::string ProxyFtpServer;
    std::string ProxyFtpPort;
    std::string ProxyBypass;
    bool EnableCache = false;
    bool ResumePartial = false;
    bool UseServerFileName = false;
    int MaxSegments = 0;
    int ExistingFile = 0;
    int MaxConnectionsPerServer = 0;
    std::string CaCertificates;
};

class COptions {
public:
    static constexpr const char* kDefaultAgent = "zorv/1.0";
    // Stored in place of an empty agent, so that "no agent" survives a restart.
    static constexpr const char* kNoAgent = "*noname*";

    // Loads every value from the settings store.
    COptions();
    // The built-in defaults, without reading the store.
    struct NoLoad {};
    explicit COptions(NoLoad);
    // Writes every value back when SetSaveOnDestroy(true) was called (the
    // window application does; the headless commands only read).
    ~COptions();
    COptions(const COptions&) = delete;
    COptions& operator=(const COptions&) = delete;

    void LoadSettings();
    void SaveSettings() const;
    // Every setting of `other`, copied in one step under this record's lock
    // (the options sheet commits its edited copy this way).
    void CopyFrom(const COptions& other);
    void SetSaveOnDestroy(bool save) { m_bSaveOnDestroy = save; }

    // Lock to hold while changing a network field on the UI thread.
    std::unique_lock<std::mutex> LockNetwork() const { return std::unique_lock(m_netLock); }
    // A consistent copy of the network fields; safe on any thread.
    CNetSettings NetSnapshot() const;

    // The fields, named after their stored values. They start empty; the
    // constructors give them the table's defaults.
    std::string HttpAgent;
    int HangUpOnIdleTimer{};  // milliseconds
    int HangUpOnIdleTimer2{}; // milliseconds
    int Connections{};
    std::string DefaultDestination;
    std::string ExecAction;
    int ExecAfterFetch{};
    int AutoStartIfRasActive{};
    int EnableCache{};
    int ProxySetting{};
    std::string ProxyHttpServer;
    std::string ProxyHttpPort;
    std::string ProxyFtpServer;
    std::string ProxyFtpPort;
    std::string ProxyBypass;
    int StartAt{};
    int StartAtHour{};
    int StartAtMin{};
    int AutoRemoveUrlIfSuccess{};
    int AutoSave{};
    int DefaultFnameLevel{};
    int MaxRetry{};
    // Seconds before the first retry of a failed item, doubled for every
    // retry after it (at most 10 minutes); 0: at once.
    int RetryWait{};
    // A fetch goes on from the partial file of an earlier one (1) or always
    // starts from the beginning (0).
    int ResumePartial{};
    // A file name the server sends replaces the one derived from the URL (1).
    int UseServerFileName{};
    // The window: a desktop notification when the queue has run empty, the
    // close button hiding the window in the tray, the toolbar shown.
    int NotifyWhenDone{};
    int CloseToTray{};
    int ToolBar{};
    // Connections one large file may use at once when workers are idle
    // (1: one connection per file).
    int MaxSegments{};
    // A finished download whose name a file that is not its own earlier
    // download holds: 0 takes the first free "name (1).ext", 1 replaces the
    // file, 2 drops the download (the item fails).
    int ExistingFile{};
    // KiB/s for the whole program, 0 for no limit. Workers do not read it:
    // whoever changes it applies it to the limiter (ApplySpeedLimit).
    int SpeedLimit{};
    // Connections to one host and port at once across the whole queue,
    // ranges of split files included; 0 for no limit.
    int MaxConnectionsPerServer{};
    // A PEM file of certificate authorities trusted in addition to the
    // system's (for self-hosted servers); empty for the system's alone.
    std::string CaCertificates;

private:
    void ResetToDefaults();

    mutable std::mutex m_netLock;
    bool m_bSaveOnDestroy = false;
};

// The record of this run. Until one is installed, Options() is a record with
// the built-in defaults (not loaded from the store).
COptions& Options();
void SetOptions(COptions* options);

} // namespace zorv
