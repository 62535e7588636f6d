// The settings record: defaults of an empty store, the stored names and
// types, the empty-agent rule, values outside the page bounds, and the
// network snapshot that workers take.
#include "settings/options.h"
#include "support/tempsettings.h"

#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using zorv::COptions;
using zorv::test::ReadFileBytes;
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

const IntField kInts[] = {
    {"HangUpOnIdleTimer", &COptions::HangUpOnIdleTimer, 30000},
    {"HangUpOnIdleTimer2", &COptions::HangUpOnIdleTimer2, 30000},
    {"Connections", &COptions::Connections, 1},
    {"ExecAfterFetch", &COptions::ExecAfterFetch, 0},
    {"AutoStartIfRasActive", &COptions::AutoStartIfRasActive, 0},
    {"EnableCache", &COptions::EnableCache, 0},
    {"ProxySetting", &COptions::ProxySetting, 0},
    {"StartAt", &COptions::StartAt, 0},
    {"StartAtHour", &COptions::StartAtHour, 0},
    {"StartAtMin", &COptions::StartAtMin, 0},
    {"AutoRemoveUrlIfSuccess", &COptions::AutoRemoveUrlIfSuccess, 0},
    {"AutoSave", &COptions::AutoSave, 0},
    {"DefaultFnameLevel", &COptions::DefaultFnameLevel, 0},
    {"MaxRetry", &COptions::MaxRetry, 0},
};
const StrField kStrings[] = {
    {"HttpAgent", &COptions::HttpAgent, "zorv/1.0"},
    {"DefaultDestination", &COptions::DefaultDestination, ""},
    {"ExecAction", &COptions::ExecAction, "ToDo"},
    {"ProxyHttpServer", &COptions::ProxyHttpServer, ""},
    {"ProxyHttpPort", &COptions::ProxyHttpPort, ""},
    {"ProxyFtpServer", &COptions::ProxyFtpServer, ""},
    {"ProxyFtpPort", &COptions::ProxyFtpPort, ""},
    {"ProxyBypass", &COptions::ProxyBypass, ""},
};

std::unique_ptr<QSettings> OpenIni(const QString& file)
{
    auto s = std::make_unique<QSettings>(file, QSettings::IniFormat);
    s->beginGroup(QStringLiteral("Settings"));
    return s;
}

} // namespace

// An empty store gives the defaults. Every field is written under its own
// name, integers as plain integers (not booleans, not quoted, not variants),
// and reads back unchanged.
TEST_F(SettingsTest, DefaultsAndStoredValues)
{
    COptions& o = settings.Options();
    for (const auto& f : kInts)
        EXPECT_EQ(o.*f.field, f.def) << f.name;
    for (const auto& f : kStrings)
        EXPECT_EQ(o.*f.field, f.def) << f.name;

    int n = 2;
    for (const auto& f : kInts)
        o.*f.field = f.def == 0 ? 1 : n++ * 1000; // flags 1, counts distinct
    o.MaxRetry = 7;
    o.Connections = 64;
    for (const auto& f : kStrings)
        o.*f.field = std::string(f.name) + " 値 " + std::to_string(n++);
    o.SaveSettings();

    const QString ini = QString::fromUtf8(ReadFileBytes(settings.IniFile()));
    auto s = OpenIni(settings.IniFile());
    QStringList expectedKeys;
    for (const auto& f : kInts) {
        expectedKeys << QLatin1String(f.name);
        const QString line = QStringLiteral("\n%1=%2\n").arg(QLatin1String(f.name)).arg(o.*f.field);
        EXPECT_TRUE(ini.contains(line)) << f.name << " not stored as a plain integer in:\n"
                                        << ini.toStdString();
    }
    for (const auto& f : kStrings) {
        expectedKeys << QLatin1String(f.name);
        EXPECT_EQ(s->value(QLatin1String(f.name)).toString().toStdString(), o.*f.field) << f.name;
    }
    QStringList keys = s->childKeys();
    keys.sort();
    expectedKeys.sort();
    EXPECT_EQ(keys, expectedKeys);

    COptions saved{COptions::NoLoad{}};
    for (const auto& f : kInts)
        saved.*f.field = o.*f.field;
    for (const auto& f : kStrings)
        saved.*f.field = o.*f.field;
    COptions& back = settings.Reload(); // `o` is gone from here on
    for (const auto& f : kInts)
        EXPECT_EQ(back.*f.field, saved.*f.field) << f.name;
    for (const auto& f : kStrings)
        EXPECT_EQ(back.*f.field, saved.*f.field) << f.name;
}

// An empty agent is stored as "*noname*" and comes back empty; an absent
// value comes back as the default agent.
TEST_F(SettingsTest, EmptyAgentIsStoredAsNoname)
{
    const struct {
        const char* stored; // null: absent
        const char* loaded;
    } cases[] = {
        {nullptr, "zorv/1.0"},
        {"*noname*", ""},
        {"", ""},
        {"*NONAME*", "*NONAME*"},
        {"MyAgent/2", "MyAgent/2"},
    };
    for (const auto& c : cases) {
        {
            auto s = OpenIni(settings.IniFile());
            if (c.stored)
                s->setValue(QStringLiteral("HttpAgent"), QString::fromUtf8(c.stored));
            else
                s->remove(QStringLiteral("HttpAgent"));
        }
        EXPECT_EQ(settings.Reload().HttpAgent, c.loaded) << (c.stored ? c.stored : "(absent)");
    }

    settings.Options().HttpAgent.clear();
    settings.Options().SaveSettings();
    EXPECT_EQ(OpenIni(settings.IniFile())->value(QStringLiteral("HttpAgent")).toString(),
              QStringLiteral("*noname*"));
    EXPECT_EQ(settings.Reload().HttpAgent, "");
}

// The loader applies no bounds, and the record never touches values that are
// not its own (the window placement lives in the same group).
TEST_F(SettingsTest, ValuesOutsideThePageBoundsLoadUnchanged)
{
    {
        auto s = OpenIni(settings.IniFile());
        s->setValue(QStringLiteral("Connections"), 100);
        s->setValue(QStringLiteral("StartAtHour"), 30);
        s->setValue(QStringLiteral("DefaultFnameLevel"), -3);
        s->setValue(QStringLiteral("WindowPlacement"), QByteArray(44, '\x5A'));
    }
    COptions& o = settings.Reload();
    EXPECT_EQ(o.Connections, 100);
    EXPECT_EQ(o.StartAtHour, 30);
    EXPECT_EQ(o.DefaultFnameLevel, -3);
    o.Connections = 0;
    o.SaveSettings();
    // (a fresh record from here on)
    EXPECT_EQ(settings.Reload().Connections, 0);
    EXPECT_EQ(OpenIni(settings.IniFile())->value(QStringLiteral("WindowPlacement")).toByteArray(),
              QByteArray(44, '\x5A'));
}

// A worker taking snapshots while the UI thread rewrites the proxy under the
// record's lock always sees server and port of the same generation.
TEST_F(SettingsTest, NetSnapshotIsACopyNeverHalfWritten)
{
    COptions& o = settings.Options();
    o.HttpAgent = "agent";
    o.ProxySetting = zorv::PROXY_NAMED;
    o.ProxyFtpServer = "fp";
    o.ProxyFtpPort = "2121";
    o.ProxyBypass = "localhost 10.*";
    o.EnableCache = 1;
    o.ProxyHttpServer = "server-0";
    o.ProxyHttpPort = "0";
    const zorv::CNetSettings n = o.NetSnapshot();
    EXPECT_EQ(n.HttpAgent + n.ProxyHttpServer + n.ProxyHttpPort + n.ProxyFtpServer + n.ProxyFtpPort + n.ProxyBypass,
              "agentserver-00fp2121localhost 10.*");
    EXPECT_EQ(n.ProxySetting, zorv::PROXY_NAMED);
    EXPECT_TRUE(n.EnableCache);

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
