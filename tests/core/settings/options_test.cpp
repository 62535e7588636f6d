// The settings record: defaults of an empty store, the stored names and
// types, the empty-agent rule, and the network snapshot that workers take.
#include "settings/options.h"
#include "support/tempsettings.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using zorv::COptions;
using zorv::test::SettingsTest;

namespace {

struct IntField {
    const char* name;
    int COptions::*field;
    int def;
};
struct StrField {
    const char* name;
    std::string COptions::*field;
    const char* def;
};

#define FIELD(name, def) {#name, &COptions::name, def}
const IntField kInts[] = {
    FIELD(HangUpOnIdleTimer, 30000), FIELD(HangUpOnIdleTimer2, 30000), FIELD(Connections, 1),
    FIELD(ExecAfterFetch, 0), FIELD(AutoStartIfRasActive, 0), FIELD(EnableCache, 0), FIELD(ProxySetting, 0),
    FIELD(StartAt, 0), FIELD(StartAtHour, 0), FIELD(StartAtMin, 0), FIELD(AutoRemoveUrlIfSuccess, 0),
    FIELD(AutoSave, 0), FIELD(DefaultFnameLevel, 0), FIELD(MaxRetry, 0), FIELD(ResumePartial, 1),
    FIELD(UseServerFileName, 1),
    FIELD(NotifyWhenDone, 1), FIELD(CloseToTray, 0), FIELD(ToolBar, 1),
    FIELD(MaxSegments, 8), FIELD(SpeedLimit, 0), FIELD(ExistingFile, 0),
};
const StrField kStrings[] = {
    FIELD(HttpAgent, "zorv/1.0"), FIELD(DefaultDestination, ""), FIELD(ExecAction, "ToDo"),
    FIELD(ProxyHttpServer, ""), FIELD(ProxyHttpPort, ""), FIELD(ProxyFtpServer, ""), FIELD(ProxyFtpPort, ""),
    FIELD(ProxyBypass, ""),
};
#undef FIELD

std::unique_ptr<QSettings> OpenIni(const QString& file)
{
    auto s = std::make_unique<QSettings>(file, QSettings::IniFormat);
    s->beginGroup(QStringLiteral("Settings"));
    return s;
}

} // namespace

// An empty store gives the defaults. Every field is written under its own
// name, integers as plain integers (not booleans, not quoted, not variants),
// and reads back unchanged, with no bounds applied. Values that are not the
// record's own (the window placement lives in the same group) are kept.
TEST_F(SettingsTest, DefaultsAndStoredValues)
{
    COptions& o = settings.Options();
    for (const auto& f : kInts)
        EXPECT_EQ(o.*f.field, f.def) << f.name;
    for (const auto& f : kStrings)
        EXPECT_EQ(o.*f.field, f.def) << f.name;

    // Flags 1, counts distinct; every string its own.
    const auto intValue = [](size_t i) { return kInts[i].def == 0 ? 1 : int(1000 * (i + 2)); };
    const auto strValue = [](const StrField& f) { return std::string(f.name) + " 値"; };
    for (size_t i = 0; i < std::size(kInts); ++i)
        o.*kInts[i].field = intValue(i);
    for (const auto& f : kStrings)
        o.*f.field = strValue(f);
    OpenIni(settings.IniFile())->setValue(QStringLiteral("WindowPlacement"), QByteArray(44, '\x5A'));
    o.SaveSettings();

    const QString ini = QString::fromUtf8(zorv::test::ReadFileBytes(settings.IniFile()));
    QStringList expectedKeys;
    for (size_t i = 0; i < std::size(kInts); ++i) {
        expectedKeys << QLatin1String(kInts[i].name);
        EXPECT_TRUE(ini.contains(QStringLiteral("\n%1=%2\n").arg(QLatin1String(kInts[i].name)).arg(intValue(i))))
            << kInts[i].name << " not stored as a plain integer in:\n" << ini.toStdString();
    }
    auto s = OpenIni(settings.IniFile());
    for (const auto& f : kStrings) {
        expectedKeys << QLatin1String(f.name);
        EXPECT_EQ(s->value(QLatin1String(f.name)).toString().toStdString(), strValue(f)) << f.name;
    }
    EXPECT_EQ(s->value(QStringLiteral("WindowPlacement")).toByteArray(), QByteArray(44, '\x5A'));
    expectedKeys << QStringLiteral("WindowPlacement");
    QStringList keys = s->childKeys();
    keys.sort();
    expectedKeys.sort();
    EXPECT_EQ(keys, expectedKeys);

    COptions& back = settings.Reload(); // `o` is gone from here on
    for (size_t i = 0; i < std::size(kInts); ++i)
        EXPECT_EQ(back.*kInts[i].field, intValue(i)) << kInts[i].name;
    for (const auto& f : kStrings)
        EXPECT_EQ(back.*f.field, strValue(f)) << f.name;
}

// An empty agent is stored as "*noname*" and comes back empty; an absent
// value comes back as the default agent.
TEST_F(SettingsTest, EmptyAgentIsStoredAsNoname)
{
    for (const auto& [stored, loaded] : std::vector<std::pair<const char*, const char*>>{
             {nullptr, "zorv/1.0"}, {"*noname*", ""}, {"", ""}, {"*NONAME*", "*NONAME*"}, {"MyAgent/2", "MyAgent/2"}}) {
        if (stored) // else absent
            OpenIni(settings.IniFile())->setValue(QStringLiteral("HttpAgent"), QString::fromUtf8(stored));
        else
            OpenIni(settings.IniFile())->remove(QStringLiteral("HttpAgent"));
        EXPECT_EQ(settings.Reload().HttpAgent, loaded) << (stored ? stored : "(absent)");
    }
    settings.Options().HttpAgent.clear();
    settings.Options().SaveSettings();
    EXPECT_EQ(OpenIni(settings.IniFile())->value(QStringLiteral("HttpAgent")).toString(), QStringLiteral("*noname*"));
}

// A worker taking snapshots while the UI thread rewrites the proxy under the
// record's lock always sees server and port of the same generation.
TEST_F(SettingsTest, NetSnapshotIsACopyNeverHalfWritten)
{
    // (That the snapshot carries each field, the fetch tests show.)
    COptions& o = settings.Options();
    o.ProxyHttpServer = "server-0";
    o.ProxyHttpPort = "0";
    std::atomic<bool> stop{false};
    std::atomic<int> mismatches{0};
    std::atomic<int> snapshots{0};
    std::thread worker([&] {
        while (!stop.load()) {
            const zorv::CNetSettings n = o.NetSnapshot();
            if (n.ProxyHttpServer != "server-" + n.ProxyHttpPort)
                ++mismatches;
            ++snapshots;
        }
    });
    for (int i = 1; i <= 20000; ++i) {
        auto lock = o.LockNetwork();
        o.ProxyHttpServer = "server-" + std::to_string(i);
        o.ProxyHttpPort = std::to_string(i);
    }
    while (snapshots.load() < 100)
        std::this_thread::yield();
    stop = true;
    worker.join();
    EXPECT_EQ(mismatches.load(), 0);
}
