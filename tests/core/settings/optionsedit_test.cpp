// The options pages' rules without a window: reading a typed number against
// its bounds, and the simple proxy fields against the four proxy strings.
#include "settings/optionsedit.h"

#include <gtest/gtest.h>

using namespace zorv;

TEST(OptionsEditTest, NumbersAreUnsignedDecimalsWithinBounds)
{
    struct Case {
        const char* text;
        const CUnsignedField& field;
        std::optional<unsigned> value;
    };
    const Case cases[] = {
        {"1", kFieldConnections, 1u},
        {" 64\t", kFieldConnections, 64u},
        {"65", kFieldConnections, std::nullopt},
        {"007", kFieldConnections, 7u},
        {"+5", kFieldConnections, std::nullopt},
        {"-1", kFieldMaxRetry, std::nullopt},
        {"1 2", kFieldMaxRetry, std::nullopt},
        {"0x10", kFieldMaxRetry, std::nullopt},
        {"", kFieldMaxRetry, std::nullopt},
        {"１", kFieldMaxRetry, std::nullopt}, // full-width digit
        {"2147483647", kFieldMaxRetry, 2147483647u},
        {"2147483648", kFieldMaxRetry, std::nullopt},
        {"256", kFieldFnameLevel, std::nullopt},
        {"24", kFieldStartHour, std::nullopt},
        {"60", kFieldStartMin, std::nullopt},
        // Seconds that still fit an int once in milliseconds.
        {"2147483", kFieldConfirmDelay, 2147483u},
        {"2147484", kFieldCountdown, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseField(c.text, c.field), c.value) << '"' << c.text << "\" as " << c.field.name;

    EXPECT_EQ(ParseUnsigned("4294967295"), 4294967295u);
    EXPECT_EQ(ParseUnsigned("4294967296"), std::nullopt);
    EXPECT_EQ(ParseUnsigned("99999999999999999999999"), std::nullopt);
    EXPECT_EQ(FieldMessage(kFieldConnections), "接続数には 1 から 64 までの整数を入力してください。");
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
