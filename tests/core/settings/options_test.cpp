// The settings record over the settings table: defaults, stored names and
// types, stored values outside the bounds, the empty-agent rule, and the
// one-step copy that the network snapshot never sees half done.
#include "settings/optionsedit.h"
#include "settings/settingstable.h"
#include "support/tempsettings.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace zorv::test {
namespace {

std::unique_ptr<QSettings> OpenIni(const QString& file)
{
    auto s = std::make_unique<QSettings>(file, QSettings::IniFormat);
    s->beginGroup(QStringLiteral("Settings"));
    return s;
}

// A value of each setting that is not its default: flags 1, other numbers
// distinct and within their bounds, strings their own.
int OtherInt(const CSetting& s, size_t i)
{
    if (s.max == 1)
        return s.intDefault == 0 ? 1 : 0;
    return s.intDefault == s.min ? std::min(s.max, s.min + 1 + int(i)) : s.min;
}
std::string OtherString(const CSetting& s)
{
    return std::string(s.name) + " 値";
}
void SetOthers(COptions& o)
{
    for (size_t i = 0; i < std::size(kSettings); ++i) {
        const CSetting& s = kSettings[i];
        if (s.intField)
            o.*s.intField = OtherInt(s, i);
        else
            o.*s.strField = OtherString(s);
    }
}
void ExpectOthers(const COptions& o)
{
    for (size_t i = 0; i < std::size(kSettings); ++i) {
        const CSetting& s = kSettings[i];
        if (s.intField)
            EXPECT_EQ(o.*s.intField, OtherInt(s, i)) << s.name;
        else
            EXPECT_EQ(o.*s.strField, OtherString(s)) << s.name;
    }
}

// An empty store and a record that reads none give the table's defaults,
// which lie within their bounds. Every setting is stored under its own name,
// integers as plain integers, reads back unchanged, and values that are not
// the record's (the window placement lives in the same group) are kept.
TEST_F(SettingsTest, EverySettingHasItsDefaultAndRoundTripsThroughTheStore)
{
    const COptions unloaded{COptions::NoLoad{}};
    for (const COptions* o : {static_cast<const COptions*>(&settings.Options()), &unloaded}) {
        for (const CSetting& s : kSettings) {
            if (s.intField) {
                EXPECT_EQ(o->*s.intField, s.intDefault) << s.name;
                EXPECT_TRUE(s.min <= s.intDefault && s.intDefault <= s.max) << s.name;
            } else {
                EXPECT_EQ(o->*s.strField, s.strDefault) << s.name;
            }
        }
    }

    SetOthers(settings.Options());
    OpenIni(settings.IniFile())->setValue(QStringLiteral("WindowPlacement"), QByteArray(44, '\x5A'));
    settings.Options().SaveSettings();

    const QString ini = QString::fromUtf8(ReadFileBytes(settings.IniFile()));
    QStringList expectedKeys{QStringLiteral("WindowPlacement")};
    for (size_t i = 0; i < std::size(kSettings); ++i) {
        const CSetting& s = kSettings[i];
        expectedKeys << QLatin1String(s.name);
        if (s.intField) {
            EXPECT_TRUE(ini.contains(QStringLiteral("\n%1=%2\n").arg(QLatin1String(s.name)).arg(OtherInt(s, i))))
                << s.name << " not stored as a plain integer in:\n"
                << ini.toStdString();
        }
    }
    auto stored = OpenIni(settings.IniFile());
    EXPECT_EQ(stored->value(QStringLiteral("WindowPlacement")).toByteArray(), QByteArray(44, '\x5A'));
    QStringList keys = stored->childKeys();
    keys.sort();
    expectedKeys.sort();
    EXPECT_EQ(keys, expectedKeys);

    ExpectOthers(settings.Reload());
}

// A stored number outside its setting's bounds loads as it is (whoever
// uses it applies its limits) and the page refuses it; a stored value that
// is no number loads as the default.
TEST_F(SettingsTest, StoredNumbersOutsideTheBoundsLoadAsTheyAreAndPagesRefuseThem)
{
    for (const CSetting& s : kSettings) {
        if (!s.intField || (s.min == INT_MIN && s.max == INT_MAX))
            continue;
        SCOPED_TRACE(s.name);
        for (const long long outside : {static_cast<long long>(s.min) - 1, static_cast<long long>(s.max) + 1}) {
            if (outside < INT_MIN || outside > INT_MAX)
                continue;
            OpenIni(settings.IniFile())->setValue(QLatin1String(s.name), outside);
            EXPECT_EQ(settings.Reload().*s.intField, outside);
            if (s.label && outside >= 0) {
                EXPECT_EQ(ParseField(std::to_string(outside / s.pageScale), PageField(s.name)), std::nullopt);
            }
        }
        if (s.label) { // the bounds themselves are taken
            for (const int inside : {s.min, s.max})
                EXPECT_EQ(ParseField(std::to_string(inside / s.pageScale), PageField(s.name)),
                          unsigned(inside / s.pageScale));
        }
        OpenIni(settings.IniFile())->setValue(QLatin1String(s.name), QStringLiteral("12x"));
        EXPECT_EQ(settings.Reload().*s.intField, s.intDefault);
    }
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

// CopyFrom carries every setting. A worker taking snapshots while the UI
// thread commits one edited record after another sees each snapshot whole:
// every field of the same record.
TEST_F(SettingsTest, CopyFromCommitsEverySettingInOneStep)
{
    COptions& o = settings.Options();
    COptions edited{COptions::NoLoad{}};
    SetOthers(edited);
    o.CopyFrom(edited);
    ExpectOthers(o);

    COptions a{COptions::NoLoad{}}, b{COptions::NoLoad{}};
    const auto mark = [](COptions& r, const std::string& tag, int n) {
        r.HttpAgent = r.ProxyHttpServer = r.ProxyHttpPort = r.ProxyBypass = r.CaCertificates = tag;
        r.MaxSegments = r.MaxConnectionsPerServer = r.ExistingFile = n;
    };
    mark(a, "a", 1);
    mark(b, std::string(200, 'b'), 2);
    o.CopyFrom(a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, snapshots{0};
    std::thread worker([&] {
        while (!stop.load()) {
            const CNetSettings n = o.NetSnapshot();
            const std::string& tag = n.HttpAgent;
            if (n.ProxyHttpServer != tag || n.ProxyHttpPort != tag || n.ProxyBypass != tag ||
                n.CaCertificates != tag || n.MaxSegments != (tag == "a" ? 1 : 2) ||
                n.MaxConnectionsPerServer != n.MaxSegments || n.ExistingFile != n.MaxSegments)
                ++torn;
            ++snapshots;
        }
    });
    for (int i = 0; i < 20000 || snapshots.load() < 20000; ++i)
        o.CopyFrom(i % 2 ? a : b);
    stop = true;
    worker.join();
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
} // namespace zorv::test
