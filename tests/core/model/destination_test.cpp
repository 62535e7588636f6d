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

// Answers the folder questions from a script and records them.
struct CScriptedPrompt : IPrompt {
    std::deque<int> answers;
    std::vector<CPrompt> asked;
    int Ask(const CPrompt& p) override
    {
        asked.push_back(p);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question " << p.textId << " about " << p.arg;
            return IDCANCEL;
        }
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
};

// Answers each clash group with the next edit of its script (true: OK) and
// records the URLs of every group shown.
using Edit = std::function<bool(std::vector<CDestEntry>&)>;
const Edit kIgnore = [](std::vector<CDestEntry>&) { return false; };
struct CScriptedResolver : IDestClashResolver {
    std::deque<Edit> edits;
    std::vector<std::vector<std::string>> groups;
    bool ResolveClash(std::vector<CDestEntry>& entries) override
    {
        groups.emplace_back();
        for (const CDestEntry& e : entries)
            groups.back().push_back(e.url);
        if (edits.empty()) {
            ADD_FAILURE() << "unexpected clash dialog";
            return false;
        }
        const Edit edit = edits.front();
        edits.pop_front();
        return edit(entries);
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
    std::string MakeFile(const char* name)
    {
        EXPECT_TRUE(zorv::test::WriteFileBytes(QString::fromStdString(Path(name)), "x"));
        return Path(name);
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
    std::vector<std::string> AskedAbout() const
    {
        std::vector<std::string> args;
        for (const CPrompt& p : prompt.asked)
            args.push_back(std::to_string(p.textId) + " " + p.arg);
        return args;
    }

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
        EXPECT_EQ(item.m_strDestination, want);
        EXPECT_EQ(flag, changed) << given;
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
    ASSERT_EQ(prompt.asked.size(), 1u);
    const CPrompt& q = prompt.asked[0];
    EXPECT_EQ(std::make_tuple(q.captionId, q.textId, q.arg),
              std::make_tuple(int(IDS_DEST_CONFIRM), int(IDS_DEST_CREATE), leaf));
    EXPECT_TRUE(q.buttons == PromptButtons::YesNoCancel && q.icon == PromptIcon::Question);

    // True only for a folder this call made; a file on the way, a name or a
    // path longer than the system takes fail like any other refusal.
    MakeFile("file");
    std::string deep = Path("deep");
    while (deep.size() < 5000)
        deep += "/" + std::string(200, 'd');
    for (const std::string& path : {leaf, Path("file"), Path("file") + "/c", Path("n") + "/" + std::string(300, 'x'),
                                    deep, std::string()})
        EXPECT_FALSE(CreateDirectoryTree(path)) << path;
    EXPECT_TRUE(CreateDirectoryTree(Path("new") + "/c"));
}

TEST_F(DestinationTest, AnswersToTheFolderQuestions)
{
    MakeFile("file");
    struct Case {
        const char* dest;
        std::deque<int> answers;
        int want;
        std::vector<int> texts;
    };
    for (const Case& c : std::vector<Case>{{"file", {IDYES, IDNO}, IDCANCEL, {138, 139}},
                                           {"file", {IDYES, IDYES}, IDYES, {138, 139}},
                                           {"", {IDYES, IDYES}, IDYES, {138, 139}}, // an empty text cannot be made
                                           {"missing", {IDNO}, IDNO, {138}},
                                           {"missing", {IDCANCEL}, IDCANCEL, {138}}}) {
        prompt = {};
        prompt.answers = c.answers;
        CItem item("http://h/a", "", "", "a", 0);
        item.m_strDestination = *c.dest ? Path(c.dest) : "";
        bool changed = false;
        EXPECT_EQ(item.CheckDestination(prompt, changed), c.want) << c.dest;
        std::vector<int> texts;
        for (const CPrompt& p : prompt.asked)
            texts.push_back(p.textId);
        EXPECT_EQ(texts, c.texts) << c.dest;
        const CPrompt& last = prompt.asked.back();
        if (last.textId == IDS_DEST_CREATE_FAILED)
            EXPECT_TRUE(last.buttons == PromptButtons::YesNo && last.icon == PromptIcon::Error && last.arg == item.m_strDestination);
    }
    EXPECT_FALSE(IsDirectory(Path("missing")));
}

TEST_F(DestinationTest, CancelEndsTheWalkAndNoGoesOn)
{
    const std::string d = MakeDir("d"), file = MakeFile("file");
    // Answers; the questions asked; the groups shown (ignored).
    struct Case {
        std::deque<int> answers;
        std::vector<std::string> asked;
        size_t groups;
    };
    for (const Case& c : std::vector<Case>{{{IDYES, IDNO}, {"138 " + file, "139 " + file}, 0},
                                           {{IDCANCEL}, {"138 " + file}, 0},
                                           {{IDNO, IDNO}, {"138 " + file, "138 " + Path("m")}, 1}}) {
        Reset();
        Add("http://h/1/a.html", d);
        Add("http://h/2/x", file);
        Add("http://h/3/y", Path("m"));
        Add("http://h/4/a.html", d); // clashes with the first when walked
        prompt.answers = c.answers;
        resolver.edits = {kIgnore};
        Check();
        EXPECT_EQ(AskedAbout(), c.asked);
        EXPECT_EQ(resolver.groups.size(), c.groups);
    }
}

TEST_F(DestinationTest, ItemsOfOneLocalFileFormOneGroup)
{
    const std::string d = MakeDir("d"), upper = MakeDir("DL"), lower = MakeDir("dl"), jp = MakeDir("保存");
    for (const char* url : {"http://h/1/a.html", "http://h/2/a.html", "http://h/3/a.html", "http://h/4/b.html"})
        Add(url, d);
    Add("http://h/5/c.html", upper); // letter case matters
    Add("http://h/6/c.html", lower);
    Add("http://h/7/資料.zip", jp); // bytes that count negative in the hash
    Add("http://h/8/資料.zip", jp);
    CItem* busy = Add("http://h/9/a.html", d + "/"); // would clash once trimmed
    busy->SetState(STATE_FETCHING);
    resolver.edits = {kIgnore, kIgnore};
    Check();
    std::sort(resolver.groups.begin(), resolver.groups.end());
    EXPECT_EQ(resolver.groups, (std::vector<std::vector<std::string>>{
                                   {"http://h/1/a.html", "http://h/2/a.html", "http://h/3/a.html"},
                                   {"http://h/7/資料.zip", "http://h/8/資料.zip"}}));
    EXPECT_EQ(busy->m_strDestination, d + "/"); // not examined
    EXPECT_FALSE(doc.IsModified());
}

TEST_F(DestinationTest, ClashAnswers)
{
    settings.Options().DefaultFnameLevel = 1; // an emptied name still mirrors nothing
    const std::string d = MakeDir("d"), e = MakeDir("e");
    const Edit ok = [](std::vector<CDestEntry>&) { return true; };
    struct Case {
        const char* name;
        std::deque<Edit> edits;
        size_t dialogs;
        std::string first, second; // destination|file name after the check
        bool modified;
    };
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
        EXPECT_EQ(first->m_strDestination + "|" + first->m_strFileName, c.first) << c.name;
        EXPECT_EQ(second->m_strDestination + "|" + second->m_strFileName, c.second) << c.name;
        EXPECT_EQ(doc.IsModified(), c.modified) << c.name;
    }
}

TEST_F(DestinationTest, EmptyFileNamesAreFilledBeforeComparing)
{
    const std::string d = MakeDir("d");
    CItem* a = Add("http://h/1/a.zip", d);
    CItem* b = Add("http://h/2/a.zip", d);
    CItem* c = Add("http://h/3/c.zip", d);
    for (CItem* item : {a, b, c})
        item->m_strFileName.clear(); // as a list of the older schema loads
    resolver.edits = {kIgnore};
    Check();
    EXPECT_EQ(resolver.groups.size(), 1u);
    EXPECT_EQ(a->m_strFileName + b->m_strFileName + c->m_strFileName, "a.zipa.zipc.zip");
    EXPECT_FALSE(doc.IsModified()); // filled names alone do not mark the list

    c->m_strDestination = d + "/";
    resolver = {};
    resolver.edits = {kIgnore};
    Check();
    EXPECT_EQ(c->m_strDestination, d);
    EXPECT_TRUE(doc.IsModified()); // a trimmed destination does
}

} // namespace
