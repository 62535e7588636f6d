#include "settings/options.h"

#include "settings/store.h"

#include <QSettings>

namespace zorv {

namespace {

COptions* g_options = nullptr;

std::string ReadString(QSettings& s, const char* key, const std::string& def)
{
    const QVariant v = s.value(QLatin1String(key));
    return v.isValid() ? v.toString().toStdString() : def;
}

int ReadInt(QSettings& s, const char* key, int def)
{
    const QVariant v = s.value(QLatin1String(key));
    bool ok = false;
    const int n = v.toInt(&ok);
    return v.isValid() && ok ? n : def;
}

void WriteString(QSettings& s, const char* key, const std::string& value)
{
    s.setValue(QLatin1String(key), QString::fromStdString(value));
}

void WriteInt(QSettings& s, const char* key, int value)
{
    s.setValue(QLatin1String(key), value);
}

} // namespace

COptions::COptions()
{
    LoadSettings();
}

COptions::~COptions()
{
    if (m_bSaveOnDestroy)
        SaveSettings();
    if (g_options == this)
        g_options = nullptr;
}

void COptions::LoadSettings()
{
    auto store = OpenSettingsStore();
    QSettings& s = *store;
    s.beginGroup(QStringLiteral("Settings"));
    std::scoped_lock lock(m_netLock);
    HttpAgent = ReadString(s, "HttpAgent", kDefaultAgent);
    if (HttpAgent == kNoAgent)
        HttpAgent.clear();
    HangUpOnIdleTimer = ReadInt(s, "HangUpOnIdleTimer", 30000);
    HangUpOnIdleTimer2 = ReadInt(s, "HangUpOnIdleTimer2", 30000);
    Connections = ReadInt(s, "Connections", 1);
    DefaultDestination = ReadString(s, "DefaultDestination", "");
    ExecAction = ReadString(s, "ExecAction", "ToDo");
    ExecAfterFetch = ReadInt(s, "ExecAfterFetch", 0);
    AutoStartIfRasActive = ReadInt(s, "AutoStartIfRasActive", 0);
    EnableCache = ReadInt(s, "EnableCache", 0);
    ProxySetting = ReadInt(s, "ProxySetting", PROXY_SYSTEM);
    ProxyHttpServer = ReadString(s, "ProxyHttpServer", "");
    ProxyHttpPort = ReadString(s, "ProxyHttpPort", "");
    ProxyFtpServer = ReadString(s, "ProxyFtpServer", "");
    ProxyFtpPort = ReadString(s, "ProxyFtpPort", "");
    ProxyBypass = ReadString(s, "ProxyBypass", "");
    StartAt = ReadInt(s, "StartAt", 0);
    StartAtHour = ReadInt(s, "StartAtHour", 0);
    StartAtMin = ReadInt(s, "StartAtMin", 0);
    AutoRemoveUrlIfSuccess = ReadInt(s, "AutoRemoveUrlIfSuccess", 0);
    AutoSave = ReadInt(s, "AutoSave", 0);
    DefaultFnameLevel = ReadInt(s, "DefaultFnameLevel", 0);
    MaxRetry = ReadInt(s, "MaxRetry", 0);
    ResumePartial = ReadInt(s, "ResumePartial", 1);
    UseServerFileName = ReadInt(s, "UseServerFileName", 1);
    NotifyWhenDone = ReadInt(s, "NotifyWhenDone", 1);
    CloseToTray = ReadInt(s, "CloseToTray", 0);
    ToolBar = ReadInt(s, "ToolBar", 1);
    MaxSegments = ReadInt(s, "MaxSegments", 8);
    SpeedLimit = ReadInt(s, "SpeedLimit", 0);
    ExistingFile = ReadInt(s, "ExistingFile", 0);
    MaxConnectionsPerServer = ReadInt(s, "MaxConnectionsPerServer", 0);
    CaCertificates = ReadString(s, "CaCertificates", "");
}

void COptions::SaveSettings() const
{
    auto store = OpenSettingsStore();
    QSettings& s = *store;
    s.beginGroup(QStringLiteral("Settings"));
    WriteString(s, "HttpAgent", HttpAgent.empty() ? std::string(kNoAgent) : HttpAgent);
    WriteInt(s, "HangUpOnIdleTimer", HangUpOnIdleTimer);
    WriteInt(s, "HangUpOnIdleTimer2", HangUpOnIdleTimer2);
    WriteInt(s, "Connections", Connections);
    WriteString(s, "DefaultDestination", DefaultDestination);
    WriteString(s, "ExecAction", ExecAction);
    WriteInt(s, "ExecAfterFetch", ExecAfterFetch);
    WriteInt(s, "AutoStartIfRasActive", AutoStartIfRasActive);
    WriteInt(s, "EnableCache", EnableCache);
    WriteInt(s, "ProxySetting", ProxySetting);
    WriteString(s, "ProxyHttpServer", ProxyHttpServer);
    WriteString(s, "ProxyHttpPort", ProxyHttpPort);
    WriteString(s, "ProxyFtpServer", ProxyFtpServer);
    WriteString(s, "ProxyFtpPort", ProxyFtpPort);
    WriteString(s, "ProxyBypass", ProxyBypass);
    WriteInt(s, "StartAt", StartAt);
    WriteInt(s, "StartAtHour", StartAtHour);
    WriteInt(s, "StartAtMin", StartAtMin);
    WriteInt(s, "AutoRemoveUrlIfSuccess", AutoRemoveUrlIfSuccess);
    WriteInt(s, "AutoSave", AutoSave);
    WriteInt(s, "DefaultFnameLevel", DefaultFnameLevel);
    WriteInt(s, "MaxRetry", MaxRetry);
    WriteInt(s, "ResumePartial", ResumePartial);
    WriteInt(s, "UseServerFileName", UseServerFileName);
    WriteInt(s, "NotifyWhenDone", NotifyWhenDone);
    WriteInt(s, "CloseToTray", CloseToTray);
    WriteInt(s, "ToolBar", ToolBar);
    WriteInt(s, "MaxSegments", MaxSegments);
    WriteInt(s, "SpeedLimit", SpeedLimit);
    WriteInt(s, "ExistingFile", ExistingFile);
    WriteInt(s, "MaxConnectionsPerServer", MaxConnectionsPerServer);
    WriteString(s, "CaCertificates", CaCertificates);
    s.endGroup();
    s.sync();
}

CNetSettings COptions::NetSnapshot() const
{
    std::scoped_lock lock(m_netLock);
    CNetSettings n;
    n.HttpAgent = HttpAgent;
    n.ProxySetting = ProxySetting;
    n.ProxyHttpServer = ProxyHttpServer;
    n.ProxyHttpPort = ProxyHttpPort;
    n.ProxyFtpServer = ProxyFtpServer;
    n.ProxyFtpPort = ProxyFtpPort;
    n.ProxyBypass = ProxyBypass;
    n.EnableCache = EnableCache != 0;
    n.ResumePartial = ResumePartial != 0;
    n.UseServerFileName = UseServerFileName != 0;
    n.MaxSegments = MaxSegments;
    n.ExistingFile = ExistingFile;
    n.MaxConnectionsPerServer = MaxConnectionsPerServer;
    n.CaCertificates = CaCertificates;
    return n;
}

COptions& Options()
{
    if (g_options)
        return *g_options;
    static COptions defaults{COptions::NoLoad{}};
    return defaults;
}

void SetOptions(COptions* options)
{
    g_options = options;
}

} // namespace zorv
