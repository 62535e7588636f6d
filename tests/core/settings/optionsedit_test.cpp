// The options pages' rules without a window: reading a typed number against
// its bounds, and the simple proxy fields against the four proxy strings.
#include "settings/optionsedit.h"

#include <gtest/gtest.h>

using namespace zorv;

// How a typed number reads; the bounds of each field are the settings
// table's (see the settings record's test).
TEST(OptionsEditTest, NumbersAreUnsignedDecimals)
{
    const std::pair<const char*, std::optional<unsigned>> cases[] = {
        {" 64\t", 64u}, {"007", 7u}, {"+5", std::nullopt}, {"-1", std::nullopt}, {"1 2", std::nullopt},
        {"0x10", std::nullopt}, {"", std::nullopt},
        {"１", std::nullopt}, // full-width digit
        {"4294967295", 4294967295u}, {"4294967296", std::nullopt}, {"99999999999999999999999", std::nullopt},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ParseUnsigned(text), value) << '"' << text << '"';
}

TEST(OptionsEditTest, SimpleProxyFollowsTheFourStrings)
{
    struct Case {
        const char* what;
        CProxyServers servers;
        CSimpleProxy derived;
    };
    const Case cases[] = {
        {"equal pairs", {"proxy", "8080", "proxy", "8080"}, {"proxy", "8080"}},
        {"other FTP port", {"proxy", "8080", "proxy", "21"}, {}},
        {"case differs", {"Proxy", "8080", "proxy", "8080"}, {}},
        {"all empty", {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeriveSimpleProxy(c.servers), c.derived) << c.what;
        // The details dialog shows the four strings unless both simple
        // fields are filled.
        EXPECT_EQ(ProxyDetailsPrefill(DeriveSimpleProxy(c.servers), c.servers), c.servers) << c.what;
    }

    const CProxyServers before{"h", "1", "f", "2"};
    const CProxyServers both{"typed", "3128", "typed", "3128"};
    EXPECT_EQ(ApplySimpleProxy({"typed", "3128"}, before), both);
    EXPECT_EQ(ProxyDetailsPrefill({"typed", "3128"}, before), both);
    // A cleared port (or address) keeps the four strings.
    EXPECT_EQ(ApplySimpleProxy({"typed", ""}, before), before);
    EXPECT_EQ(ApplySimpleProxy({"", "3128"}, before), before);
}
