#include "settings/options.h"

#include "settings/settingstable.h"
#include "settings/store.h"

#include <QSettings>

namespace zorv {

namespace {

COptions* g_options = nullptr;

void LoadValue(QSettings& s, const CSetting& setting, COptions& o)
{
    const QVariant v = s.value(QLatin1String(setting.name));
    if (setting.intField) {
        // A value that is no integer counts as absent; one outside the
        // bounds is kept (see CSetting::min).
        bool ok = false;
        const int n = v.toInt(&ok);
        o.*setting.intField = v.isValid() && ok ? n : setting.intDefault;
        return;
    }
    std::string value = v.isValid() ? v.toString().toStdString() : std::string(setting.strDefault);
    if (setting.emptyStoredAs && value == setting.emptyStoredAs)
        value.clear();
    o.*setting.strField = std::move(value);
}

void SaveValue(QSettings& s, const CSetting& setting, const COptions& o)
{
    const QString key = QLatin1String(setting.name);
    if (setting.intField) {
        s.setValue(key, o.*setting.intField);
        return;
    }
    const std::string& value = o.*setting.strField;
    s.setValue(key, QString::fromStdString(value.empty() && setting.emptyStoredAs ? std::string(setting.emptyStoredAs)
                                                                                  : value));
}

} // namespace

COptions::COptions()
{
    LoadSettings();
}

COptions::COptions(NoLoad)
{
    ResetToDefaults();
}

COptions::~COptions()
{
    if (m_bSaveOnDestroy)
        SaveSettings();
    if (g_options == this)
        g_options = nullptr;
}

void COptions::ResetToDefaults()
{
    std::scoped_lock lock(m_netLock);
    for (const CSetting& setting : kSettings) {
        if (setting.intField)
            this->*setting.intField = setting.intDefault;
        else
            this->*setting.strField = setting.strDefault;
    }
}

void COptions::LoadSettings()
{
    auto store = OpenSettingsStore();
    QSettings& s = *store;
    s.beginGroup(QStringLiteral("Settings"));
    std::scoped_lock lock(m_netLock);
    for (const CSetting& setting : kSettings)
        LoadValue(s, setting, *this);
}

void COptions::SaveSettings() const
{
    auto store = OpenSettingsStore();
    QSettings& s = *store;
    s.beginGroup(QStringLiteral("Settings"));
    for (const CSetting& setting : kSettings)
        SaveValue(s, setting, *this);
    s.endGroup();
    s.sync();
}

void COptions::CopyFrom(const COptions& other)
{
    if (&other == this)
        return;
    std::scoped_lock lock(m_netLock);
    for (const CSetting& setting : kSettings) {
        if (setting.intField)
            this->*setting.intField = other.*setting.intField;
        else
            this->*setting.strField = other.*setting.strField;
    }
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
