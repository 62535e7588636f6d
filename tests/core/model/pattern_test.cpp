// Numbered URL patterns: one step of the expansion, every combination of
// several patterns, the count of a text's URLs, and adding a run.
#include "model/doc.h"
#include "support/tempsettings.h"

#include <gtest/gtest.h>

#include <cstdint>

using zorv::CZorvDoc;

namespace {

// What the new-URL command obtains: results fed back until -1.
std::vector<std::string> Steps(const std::string& url, std::vector<int>* results = nullptr)
{
    std::vector<std::string> out;
    std::string text;
    int k = CZorvDoc::ExpandUrlPattern(-1, text, url);
    for (int guard = 0; k != -1 && guard < 100000; ++guard) {
        if (results)
            results->push_back(k);
        out.push_back(text);
        k = CZorvDoc::ExpandUrlPattern(k, text, url);
    }
    return out;
}

std::vector<std::string> All(const std::string& url)
{
    std::vector<std::string> out;
    CZorvDoc::ExpandAllUrls(url, [&](const std::string& u) {
        out.push_back(u);
        return true;
    });
    return out;
}

using Strings = std::vector<std::string>;

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
    EXPECT_EQ(hex[0], "x00");
    EXPECT_EQ(hex[10], "x0A");
    EXPECT_EQ(hex[255], "xFF");
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

TEST(UrlPattern, CountMatchesTheExpansion)
{
    for (const char* url : {"plain", "x*1.3.2d*y", "x*3.1.2d*y", "a*1.3.1d*b*8.9.1d*", "a*b*1.2.1d*",
                            "a*1.2.1d*b*c*3.4.1d*", "*1.2.1d*-*1.2.1x*-*10.11.1X*", "*0.255.2X**1.3.1d*"})
        EXPECT_EQ(CZorvDoc::CountExpandedUrls(url), All(url).size()) << url;
    EXPECT_EQ(CZorvDoc::CountExpandedUrls("http://h/*1.100000.1d*"), 100000u);
    EXPECT_EQ(CZorvDoc::CountExpandedUrls("*1.1000.1d**1.1000.1d**1.1000.1d*"), 1000000000u);
    EXPECT_EQ(CZorvDoc::CountExpandedUrls("*-2147483648.2147483647.1d*"), 4294967296u);
    EXPECT_EQ(CZorvDoc::CountExpandedUrls("*-2147483648.2147483647.1d*"
                                          "*-2147483648.2147483647.1d*"
                                          "*-2147483648.2147483647.1d*"),
              UINT64_MAX);
}

TEST(UrlPattern, AddUrlExpandedAddsEveryMemberAndNamesTheRefused)
{
    zorv::test::CTempSettings settings;
    CZorvDoc doc;
    std::vector<std::string> refused;
    EXPECT_EQ(doc.AddUrlExpanded("http://h/img*1.3.2d*.jpg", "/d", "http://r/", "", 0, &refused), 3);
    EXPECT_TRUE(refused.empty());
    ASSERT_EQ(doc.GetCount(), 3);
    EXPECT_EQ(doc.GetItem(2)->m_strUrl, "http://h/img03.jpg");
    EXPECT_EQ(doc.GetItem(2)->m_strFileName, "img03.jpg");
    EXPECT_EQ(doc.GetItem(2)->m_strReferer, "http://r/");
    EXPECT_EQ(doc.GetItem(2)->m_strDestination, "/d");
    EXPECT_EQ(doc.GetItemCount(true), 3);

    EXPECT_EQ(doc.AddUrlExpanded("mailto:x*1.2.1d*", "/d", "", "", 0, &refused), 0);
    EXPECT_EQ(refused, (Strings{"mailto:x1", "mailto:x2"}));
    EXPECT_EQ(doc.GetCount(), 3);
}

} // namespace
