// Destination folders: trimming, creation on consent, the answers to the
// folder questions, and the destination check of a list (the walk over the
// items, clash groups and what the user's answers do to the items).
#include "model/destcheck.h"
#include "model/destination.h"
#include "model/doc.h"
#include "model/prompt.h"
#include "support/tempsettings.h"

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

using namespace zorv;

namespace {

// The next entry of a script; a failure, and `none`, when it has run out.
template <class T>
T Next(std::deque<T>& script, T none, const std::string& what)
{
    if (script.empty()) {
        ADD_FAILURE() << "unexpected " << what;
        return none;
    }
    T next = script.front();
    script.pop_front();
    return next;
}

// Answers the folder questions from a script and records them as
// "text id, argument"; the caption, buttons and icon of each are checked.
struct CScriptedPrompt : IPrompt {
    std::deque<int> answers;
    std::vector<std::string> asked;
    int Ask(const CPrompt& p) override
    {
        asked.push_back(std::to_string(p.textId) + " " + p.arg);
        const bool create = p.textId == IDS_DEST_CREATE;
        EXPECT_TRUE(p.captionId == IDS_DEST_CONFIRM && (create || p.textId == IDS_DEST_CREATE_FAILED)
                    && p.buttons == (create ? PromptButtons::YesNoCancel : PromptButtons::YesNo)
                    && p.icon == (create ? PromptIcon::Question : PromptIcon::Error))
            << asked.back();
        return Next(answers, int(IDCANCEL), "question " + asked.back());
    }
};

// Answers each clash group with the next edit of its script (true: OK) and
// records the URLs of every group shown.
using Edit = std::function<bool(std::vector<CDestEntry>&)>;
const Edit kIgnore = [](std::vector<CDestEntry>&) { return false; };
struct CScriptedResolver : IDestClashResolver {
    std::deque<Edit> edits;
    std::vector<std::string> groups; // the URLs of each, in group order
    bool ResolveClash(std::vector<CDestEntry>& entries) override
    {
        groups.emplace_back();
        for (const CDestEntry& e : entries)
            groups.back() += e.url + " ";
        return Next(edits, kIgnore, "clash dialog")(entries);
    }
};

class DestinationTest : public zorv::test::SettingsTest {
protected:
    std::string Path(const char* name) { return settings.Path(QString::fromUtf8(name)).toStdString(); }
    std::string MakeDir(const char* name)
    {
        EXPECT_TRUE(QDir().mkpath(QString::fromStdString(Path(name))));
        return Path(name);
    }
    // A file in the way of every folder below it.
    std::string MakeFile()
    {
        EXPECT_TRUE(zorv::test::WriteFileBytes(settings.Path("file"), "x"));
        return Path("file");
    }
    CItem* Add(const char* url, const std::string& dest, const char* fileName = "")
    {
        CItem* item = doc.AddUrl(url, "", dest, fileName, 0);
        EXPECT_NE(item, nullptr) << url;
        return item;
    }
    void Reset()
    {
        doc.RemoveAllItems();
        doc.SetModifiedFlag(false);
        prompt = {};
        resolver = {};
    }
    void Check() { CheckDestinations(doc, prompt, resolver); }

    CZorvDoc doc;
    CScriptedPrompt prompt;
    CScriptedResolver resolver;
};

TEST_F(DestinationTest, TrailingSeparatorsAreTrimmedAndTheRootKeepsItsOwn)
{
    const std::string d = MakeDir("d");
    for (const auto& [given, want, changed] : std::vector<std::tuple<std::string, std::string, bool>>{
             {d, d, false}, {d + "/", d, true}, {d + "///", d, true}, {"/", "/", false}, {"//", "/", true}}) {
        CItem item("http://h/a", "", given, "a", 0);
        bool flag = false;
        EXPECT_EQ(item.CheckDestination(prompt, flag), IDOK) << given;
        EXPECT_EQ(std::pair(item.m_strDestination, flag), std::pair(want, changed)) << given;
    }
    EXPECT_TRUE(prompt.asked.empty()); // an existing folder is never asked about
}

TEST_F(DestinationTest, EveryMissingLevelIsCreatedOnConsent)
{
    const std::string leaf = Path("new") + "/a/b";
    CItem item("http://h/a", "", leaf, "a", 0);
    prompt.answers = {IDYES};
    bool changed = false;
    EXPECT_EQ(item.CheckDestination(prompt, changed), IDYES);
    EXPECT_TRUE(IsDirectory(leaf));
    EXPECT_EQ(prompt.asked, std::vector<std::string>{"138 " + leaf});
    // An empty text is asked about and cannot be made; No then stops.
    item.m_strDestination.clear();
    prompt = {};
    prompt.answers = {IDYES, IDNO};
    EXPECT_EQ(item.CheckDestination(prompt, changed), IDCANCEL);
    EXPECT_EQ(prompt.asked, (std::vector<std::string>{"138 ", "139 "}));

    // True only for a folder this call made; a file on the way, a name or a
    // path longer than the system takes fail like any other refusal.
    MakeFile();
    std::string deep = Path("deep");
    while (deep.size() < 5000)
        deep += "/" + std::string(200, 'd');
    for (const std::string& path : {leaf, Path("file"), Path("file") + "/c", Path("n") + "/" + std::string(300, 'x'),
                                    deep, std::string()})
        EXPECT_FALSE(CreateDirectoryTree(path)) << path;
    EXPECT_TRUE(CreateDirectoryTree(Path("new") + "/c"));
}

// A file in the way counts as a missing folder whose creation fails.
TEST_F(DestinationTest, CancelEndsTheWalkAndNoGoesOn)
{
    const std::string d = MakeDir("d"), file = MakeFile();
    // Answers; the questions asked; the groups shown (ignored).
    for (const auto& [answers, asked, groups] :
         std::vector<std::tuple<std::deque<int>, std::vector<std::string>, size_t>>{
             {{IDYES, IDNO}, {"138 " + file, "139 " + file}, 0},
             {{IDCANCEL}, {"138 " + file}, 0},
             {{IDNO, IDNO}, {"138 " + file, "138 " + Path("m")}, 1},
             {{IDYES, IDYES, IDNO}, {"138 " + file, "139 " + file, "138 " + Path("m")}, 1}}) {
        Reset();
        Add("http://h/1/a.html", d);
        Add("http://h/2/x", file);
        Add("http://h/3/y", Path("m"));
        Add("http://h/4/a.html", d); // clashes with the first when walked
        prompt.answers = answers;
        resolver.edits = {kIgnore};
        Check();
        EXPECT_EQ(prompt.asked, asked);
        EXPECT_EQ(resolver.groups.size(), groups);
    }
    EXPECT_FALSE(IsDirectory(Path("m"))); // No creates nothing
}

TEST_F(DestinationTest, ItemsOfOneLocalFileFormOneGroup)
{
    const std::string d = MakeDir("d"), upper = MakeDir("DL"), lower = MakeDir("dl"), jp = MakeDir("保存");
    for (const char* url : {"http://h/1/a.html", "http://h/2/a.html", "http://h/3/a.html", "http://h/4/b.html"})
        Add(url, d);
    Add("http://h/5/c.html", upper); // letter case matters
    Add("http://h/6/c.html", lower);
    // Bytes that count negative in the hash; names empty as a list of the
    // older schema loads them, filled before comparing.
    CItem* jp1 = Add("http://h/7/資料.zip", jp);
    CItem* jp2 = Add("http://h/8/資料.zip", jp);
    jp1->m_strFileName.clear();
    jp2->m_strFileName.clear();
    CItem* busy = Add("http://h/9/a.html", d + "/"); // would clash once trimmed
    busy->SetState(STATE_FETCHING);
    resolver.edits = {kIgnore, kIgnore};
    Check();
    std::sort(resolver.groups.begin(), resolver.groups.end());
    EXPECT_EQ(resolver.groups, (std::vector<std::string>{"http://h/1/a.html http://h/2/a.html http://h/3/a.html ",
                                                         "http://h/7/資料.zip http://h/8/資料.zip "}));
    EXPECT_EQ(busy->m_strDestination, d + "/"); // not examined
    EXPECT_EQ(jp1->m_strFileName + jp2->m_strFileName, "資料.zip資料.zip");
    EXPECT_FALSE(doc.IsModified()); // filled names alone do not mark the list
}

TEST_F(DestinationTest, ClashAnswers)
{
    settings.Options().DefaultFnameLevel = 1; // an emptied name still mirrors nothing
    const std::string d = MakeDir("d"), e = MakeDir("e");
    const Edit ok = [](std::vector<CDestEntry>&) { return true; };
    // Edits; dialogs shown; destination|file name of both items after; modified.
    struct Case { const char* name; std::deque<Edit> edits; size_t dialogs; std::string first, second; bool modified; };
    for (const Case& c : std::vector<Case>{
             {"ignore", {kIgnore}, 1, d + "|x.bin", d + "|x.bin", false},
             {"second renamed", {[](auto& en) { en[1].fileName = "b.bin"; return true; }}, 1, d + "|x.bin", d + "|b.bin", true},
             {"OK unchanged shows it again", {ok, kIgnore}, 2, d + "|x.bin", d + "|x.bin", false},
             {"first emptied, second moved",
              {[&](auto& en) {
                  EXPECT_EQ(en[0].destination + "|" + en[0].fileName, d + "|x.bin");
                  en[0].fileName.clear();
                  en[1].destination = e;
                  return true;
              }},
              1, d + "|a.html", e + "|x.bin", true}}) {
        Reset();
        CItem* first = Add("http://h/1/a.html", d, "x.bin");
        CItem* second = Add("http://h/2/a.html", d, "x.bin");
        resolver.edits = c.edits;
        Check();
        EXPECT_EQ(resolver.groups.size(), c.dialogs) << c.name;
        EXPECT_EQ(resolver.groups.back(), "http://h/1/a.html http://h/2/a.html ") << c.name; // shown again alike
        EXPECT_EQ(std::tuple(first->m_strDestination + "|" + first->m_strFileName,
                             second->m_strDestination + "|" + second->m_strFileName, doc.IsModified()),
                  std::tuple(c.first, c.second, c.modified)) << c.name;
    }
}

} // namespace
