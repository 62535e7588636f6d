// File names from outside text: Content-Disposition values and URL segments
// become bare names that stay in their folder and fit the file system.
#include "model/filename.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace zorv;

TEST(FileName, ServerAndUrlNamesBecomeBareNamesThatFit)
{
    const std::string longStem(300, 'a');
    std::string longJa;
    for (int i = 0; i < 100; ++i)
        longJa += "日";
    // kind "cd": a Content-Disposition value; "url": a URL.
    const struct { const char* kind; std::string in, name; } cases[] = {
        {"cd", "attachment; filename=\"report.pdf\"", "report.pdf"},
        {"cd", "attachment; filename=plain.txt; size=3", "plain.txt"},
        {"cd", "attachment; filename=\"a \\\"q\\\" b.txt\"", "a \"q\" b.txt"},
        {"cd", "attachment; filename=\"a;b.txt\"", "a;b.txt"},
        // The extended form wins, wherever it stands.
        {"cd", "attachment; filename*=UTF-8''%E6%97%A5%E6%9C%AC.txt; filename=\"fallback.txt\"", "日本.txt"},
        {"cd", "attachment; filename=\"fallback.txt\"; FILENAME*=utf-8'ja'%E8%AA%9E.txt", "語.txt"},
        {"cd", "attachment; filename*=iso-8859-1''caf%E9.txt", "café.txt"},
        {"cd", "attachment; filename*=koi8-r''x.txt; filename=y.txt", "y.txt"},
        {"cd", "attachment; filename*=UTF-8''%FF%FE.txt; filename=ok.txt", "ok.txt"},
        {"cd", "attachment; filename=\"caf\xe9.txt\"", "café.txt"}, // raw Latin-1
        // Hostile names stay in the folder.
        {"cd", "attachment; filename=\"../x\"", "x"},
        {"cd", "attachment; filename=\"/etc/passwd\"", "passwd"},
        {"cd", "attachment; filename=\"..\\\\..\\\\win.ini\"", "win.ini"},
        {"cd", "attachment; filename*=UTF-8''..%2F..%2Fx", "x"},
        {"cd", "attachment; filename=\"a/..\"", "_"},
        {"cd", "attachment; filename=\".\"", "_"},
        {"cd", "attachment; filename=\".bashrc\"", "bashrc"},
        {"cd", "attachment; filename=\"...\"", ""},
        {"cd", "attachment; filename*=UTF-8''a%0D%0Ab%07%1B.txt", "ab.txt"},
        {"cd", "attachment; filename=\"" + longStem + ".tar.gz\"", std::string(245 - 3, 'a') + ".gz"},
        {"cd", "attachment; filename=" + longStem, std::string(245, 'a')},
        {"cd", "attachment; filename=\"" + longJa + ".txt\"", longJa.substr(0, 240) + ".txt"},
        {"cd", "inline", ""},
        {"cd", "attachment; filename=", ""},
        // URL segments: %XX decoded only into clean UTF-8.
        {"url", "http://h/with%20space.txt", "with space.txt"},
        {"url", "http://h/%E6%97%A5%E6%9C%AC%E8%AA%9E.txt", "日本語.txt"},
        {"url", "http://h/a%2Fb.txt", "a%2Fb.txt"},
        {"url", "http://h/a%5Cb.txt", "a%5Cb.txt"},
        {"url", "http://h/a%00b", "a%00b"},
        {"url", "http://h/bad%FF.txt", "bad%FF.txt"},
        {"url", "http://h/100%.txt", "100%.txt"},
        {"url", "http://h/%2E%2E", "_"},
        {"url", "http://h/dir/", "index.html"},
        {"url", "http://h/big80.bin?from=wrg2", "big80.bin"},
        {"url", "http://h/d/?q=a/b.zip#c", "index.html"},
        {"url", "http://h/" + longStem + ".zip", std::string(245 - 4, 'a') + ".zip"},
    };
    for (const auto& c : cases) {
        const std::string kind = c.kind;
        const std::string name = kind == "cd" ? SafeFileName(ContentDispositionFileName(c.in)) : UrlFileName(c.in);
        EXPECT_EQ(name, c.name) << kind << ": " << c.in;
        EXPECT_LE(name.size() + std::string(".part.meta").size(), 255u) << c.in;
    }
}

TEST(FileName, DerivedNamesAreToldFromTypedOnes)
{
    const struct { const char *url, *name; bool derived; } cases[] = {
        {"http://h/d/cd", "cd", true},
        {"http://h/with%20space.txt", "with space.txt", true},
        {"http://h/with%20space.txt", "with%20space.txt", true}, // as older versions named it
        {"http://h/d/", "index.html", true},
        {"http://h/d/", "d", true}, // a higher folder level
        {"http://h/d/?x=1", "d", true},
        {"http://h/a.bin?f=w", "a.bin", true},
        {"http://h/a.bin?f=w", "a.bin?f=w", true}, // older versions kept the query
        {"http://h/a.bin?f=w/b.zip", "b.zip", true},
        {"http://h/a.bin?f=w", "f=w", false},
        {"http://h/d/cd", "report.pdf", false},
        {"http://h/d/cd", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsUrlFileName(c.url, c.name), c.derived) << c.url << " " << c.name;
}

} // namespace
