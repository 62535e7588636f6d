// Numbered URL patterns: one step of the expansion, every combination of
// several patterns and the count of a text's URLs. (Adding a run: the doc
// and command tests.)
#include "model/pattern.h"

#include <gtest/gtest.h>

#include <cstdint>


namespace {

using Strings = std::vector<std::string>;

// What the new-URL command obtains: results fed back until -1.
Strings Steps(const std::string& url, std::vector<int>* results = nullptr)
{
    Strings out;
    std::string text;
    for (int k = zorv::ExpandUrlPattern(-1, text, url); k != -1 && out.size() < 100000;
         k = zorv::ExpandUrlPattern(k, text, url)) {
        if (results)
            results->push_back(k);
        out.push_back(text);
    }
    return out;
}

Strings All(const std::string& url)
{
    Strings out;
    zorv::ExpandAllUrls(url, [&](const std::string& u) {
        out.push_back(u);
        return true;
    });
    return out;
}

TEST(UrlPattern, OneStepOfTheFirstPattern)
{
    std::vector<int> results;
    EXPECT_EQ(Steps("x*1.3.2d*y", &results), (Strings{"x01y", "x02y", "x03y"}));
    EXPECT_EQ(results, (std::vector<int>{0, 1, 2}));
    results.clear();
    EXPECT_EQ(Steps("http://h/no-pattern", &results), Strings{"http://h/no-pattern"});
    EXPECT_EQ(results, std::vector<int>{0});

    // Not a usable pattern: the URL itself, once.
    for (const char* url : {"x*3.1.2d*y", "x*2.2.1d*", "x*a*y*1.2.1d*", "x*1.2.0d*", "x*1.2.-1d*",
                            "x*1.2.2q*", "x*1.2.2*", "x*1.2*", "x*1.3.2d", "*1.2.1D*", "x*1.2.1 d*"})
        EXPECT_EQ(Steps(url), Strings{url}) << url;

    const Strings hex = Steps("x*0.255.2X*");
    ASSERT_EQ(hex.size(), 256u);
    EXPECT_EQ(hex[10] + hex[255], "x0AxFF");
    EXPECT_EQ(Steps("*9.11.1x*"), (Strings{"9", "a", "b"}));
    EXPECT_EQ(Steps("n*-1.1.2d*"), (Strings{"n-01", "n00", "n01"}));
    EXPECT_EQ(Steps("*98.101.1d*"), (Strings{"98", "99", "100", "101"}));
    // Text after the type letter up to the second star is ignored.
    EXPECT_EQ(Steps("a*1.2.3dzz*b"), (Strings{"a001b", "a002b"}));
}

TEST(UrlPattern, SeveralPatternsGiveEveryCombinationFirstSlowest)
{
    EXPECT_EQ(All("a*1.3.1d*b*8.9.1d*"), (Strings{"a1b8", "a1b9", "a2b8", "a2b9", "a3b8", "a3b9"}));
    EXPECT_EQ(All("*1.2.1d*-*1.2.1x*-*10.11.1X*"),
              (Strings{"1-1-A", "1-1-B", "1-2-A", "1-2-B", "2-1-A", "2-1-B", "2-2-A", "2-2-B"}));
    // A later pattern counts only while the first pair of stars is one.
    EXPECT_EQ(All("a*b*1.2.1d*"), Strings{"a*b*1.2.1d*"});
    EXPECT_EQ(All("a*1.2.1d*b*c*3.4.1d*"), (Strings{"a1b*c*3.4.1d*", "a2b*c*3.4.1d*"}));
}

// The count saturates instead of wrapping.
TEST(UrlPattern, CountMatchesTheExpansion)
{
    for (const char* url : {"plain", "x*3.1.2d*y", "a*1.3.1d*b*8.9.1d*", "a*b*1.2.1d*", "a*1.2.1d*b*c*3.4.1d*"})
        EXPECT_EQ(zorv::CountExpandedUrls(url), All(url).size()) << url;
    const std::string widest = "*-2147483648.2147483647.1d*";
    EXPECT_EQ(zorv::CountExpandedUrls(widest), 4294967296u);
    EXPECT_EQ(zorv::CountExpandedUrls(widest + widest + widest), UINT64_MAX);
}

} // namespace
