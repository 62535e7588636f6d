// The native messaging host: its framing and message reader in process, and
// the real executable as a browser starts it, handing links to a real zorv
// window (offscreen) that it starts itself when none runs.
#include "cli/nativehost.h"
#include "model/doc.h"
#include "support/childprocess.h"
#include "support/tempsettings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <tuple>

using zorv::CBrowserMessage;
using zorv::CNativeFrameReader;

namespace {

const QString kChromiumCaller = QStringLiteral("chrome-extension://" ZORV_CHROMIUM_EXTENSION_ID "/");

QByteArray Frame(const QByteArray& json)
{
    const auto n = static_cast<quint32>(json.size());
    return QByteArray(reinterpret_cast<const char*>(&n), 4) + json;
}

QByteArray Json(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// An add message as JSON.
QByteArray AddMessage(const QJsonArray& items, bool front = false)
{
    return Json({{"command", "add"}, {"items", items}, {"front", front}});
}

QJsonObject Link(const QString& url, const QString& referrer = {}, const QString& name = {})
{
    return {{"url", url}, {"referrer", referrer}, {"filename", name}};
}

// Messages arrive whole however the reads cut the stream; a length over the
// limit ends the stream at once, before its bytes arrive.
TEST(NativeFrames, WholeMessagesFromAnyCutAndNothingOverTheLimit)
{
    const QByteArray a = R"({"command":"ping"})", b = "[1,2]";
    const QByteArray stream = Frame(a) + Frame("") + Frame(b) + zorv::NativeFrame({{"ok", true}});
    for (const int step : {1, 3, 5, 64}) {
        CNativeFrameReader reader;
        QList<QByteArray> got;
        for (qsizetype at = 0; at < stream.size(); at += step) {
            const qsizetype n = std::min<qsizetype>(step, stream.size() - at);
            reader.Append(stream.constData() + at, static_cast<std::size_t>(n));
            QByteArray m;
            while (reader.Take(&m) == CNativeFrameReader::Next::Message)
                got << m;
        }
        EXPECT_EQ(got, (QList<QByteArray>{a, "", b, R"({"ok":true})"})) << "step " << step;
        EXPECT_TRUE(reader.Empty());
    }

    for (const auto& [n, next] : {std::pair{quint32(zorv::kMaxNativeMessageBytes), CNativeFrameReader::Next::NeedMore},
                                  {quint32(zorv::kMaxNativeMessageBytes + 1), CNativeFrameReader::Next::TooLong}}) {
        CNativeFrameReader reader;
        QByteArray m;
        reader.Append(reinterpret_cast<const char*>(&n), 4);
        EXPECT_EQ(reader.Take(&m), next) << n;
    }
}

// What the host acts on, and every kind of message it refuses whole.
TEST(BrowserMessages, AcceptedOnlyWhenEveryPartIsSound)
{
    CBrowserMessage m;
    QString error;
    ASSERT_TRUE(zorv::ParseBrowserMessage(R"({"command":"ping"})", &m, &error));
    EXPECT_EQ(m.command, CBrowserMessage::Command::Ping);

    const QJsonArray items{Link("http://h/a.zip", "https://page/x?y=1", "../../etc/evil.bin"),
                           Link("FTP://h/pub/b", "javascript:alert(1)"), Link("https://h/c", "http://p/\r\nX: y"),
                           QJsonObject{{"url", "http://h/*1.3.1d*"}}};
    ASSERT_TRUE(zorv::ParseBrowserMessage(AddMessage(items, true), &m, &error)) << error.toStdString();
    EXPECT_TRUE(m.command == CBrowserMessage::Command::Add && m.front);
    std::vector<std::string> links;
    for (const auto& l : m.links)
        links.push_back(l.url + "|" + l.referer + "|" + l.fileName);
    EXPECT_EQ(links, (std::vector<std::string>{
                         "http://h/a.zip|https://page/x?y=1|evil.bin", // a bare name only
                         "FTP://h/pub/b||",     // a referrer that is no web address is dropped
                         "https://h/c||",       // ... as is one that would break the header
                         "http://h/*1.3.1d*||", // taken as it is
                     }));

    QJsonArray tooMany;
    for (int i = 0; i <= zorv::kMaxNativeLinks; ++i)
        tooMany.append(Link(QStringLiteral("http://h/%1").arg(i)));
    const QList<QByteArray> refused = {
        "", "not json", "[]", R"({"command":"run","program":"/bin/sh"})", R"({"command":"add"})", AddMessage({}),
        AddMessage({"http://h/a"}), AddMessage(tooMany), AddMessage({Link("file:///etc/passwd")}),
        AddMessage({Link(" http://h/a")}), AddMessage({Link("http://h/a\nhttp://h/b")}), AddMessage({QJsonObject{{"url", 5}}}),
        AddMessage({QJsonObject{{"url", "http://h/a"}, {"referrer", 1}}}),
        AddMessage({QJsonObject{{"url", "http://h/a"}, {"filename", QJsonArray{}}}}),
        Json(QJsonObject{{"command", "add"}, {"items", QJsonArray{Link("http://h/a")}}, {"front", "yes"}}),
        // The first link is sound: the message is still refused whole.
        AddMessage({Link("http://h/a"), Link("mailto:x@y")}),
    };
    for (const QByteArray& json : refused) {
        error.clear();
        EXPECT_FALSE(zorv::ParseBrowserMessage(json, &m, &error)) << json.left(200).toStdString();
        EXPECT_FALSE(error.isEmpty()) << json.left(200).toStdString();
    }
}

TEST(BrowserMessages, OnlyTheZorvExtensionIsACaller)
{
    const QString firefoxId = QStringLiteral(ZORV_FIREFOX_EXTENSION_ID);
    const QString manifest = QStringLiteral("/usr/lib/mozilla/native-messaging-hosts/" ZORV_NATIVE_HOST_NAME ".json");
    const QList<std::pair<QStringList, bool>> cases = {
        {{kChromiumCaller}, true}, {{kChromiumCaller, "--parent-window=0"}, true}, {{manifest, firefoxId}, true},
        {{}, false}, {{"chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/"}, false},
        {{QStringLiteral("chrome-extension://" ZORV_CHROMIUM_EXTENSION_ID)}, false}, {{kChromiumCaller, "--other"}, false},
        {{manifest, "other@example.invalid"}, false}, {{firefoxId}, false}, {{manifest, firefoxId, "x"}, false},
    };
    for (const auto& [args, allowed] : cases)
        EXPECT_EQ(zorv::IsAllowedCaller(args), allowed) << args.join(' ').toStdString();
}

// The ids the host allows are those of the extension as shipped (the
// Chromium id is the hash of the manifest's public key), and the extension
// has the program's version.
TEST(BrowserMessages, ExtensionIdsMatchTheExtension)
{
    const QJsonObject manifest =
        QJsonDocument::fromJson(zorv::test::ReadFileBytes(QStringLiteral(ZORV_SOURCE_DIR "/extension/manifest.json")))
            .object();
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray::fromBase64(manifest.value("key").toString().toLatin1()), QCryptographicHash::Sha256);
    QByteArray id;
    for (const char c : hash.left(16).toHex())
        id += char('a' + QByteArray(1, c).toInt(nullptr, 16));
    EXPECT_EQ(id, ZORV_CHROMIUM_EXTENSION_ID);
    EXPECT_EQ(manifest.value("version").toString(), ZORV_VERSION);
    EXPECT_EQ(manifest.value("browser_specific_settings")["gecko"]["id"].toString(), ZORV_FIREFOX_EXTENSION_ID);
    for (const char* file : {"/extension/background.js", "/extension/options.js"}) {
        EXPECT_TRUE(zorv::test::ReadFileBytes(QStringLiteral(ZORV_SOURCE_DIR) + file)
                        .contains("'" ZORV_NATIVE_HOST_NAME "'"))
            << file;
    }
}

// ---- the executable ---------------------------------------------------------------

struct HostRun {
    int status = -1;
    QList<QJsonObject> replies;
};

class NativeHostTest : public zorv::test::SettingsTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(Path("run")) && QFile::setPermissions(Path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_env = zorv::test::EnvironmentWith(zorv::test::PrivateHomeEnv(Path("home"))
                                            << "XDG_RUNTIME_DIR=" + Path("run") << "QT_QPA_PLATFORM=offscreen");
        QSettings s(Path("home/.config/Quillmere/zorv.conf"), QSettings::IniFormat);
        s.setValue("Settings/AutoSave", 1);
        s.setValue("Settings/DefaultDestination", Path("dl"));
    }
    void TearDown() override
    {
        // The windows the host started run detached: found by their runtime folder.
        for (const int pid : Windows())
            ::kill(pid, SIGKILL);
    }

    QString Path(const QString& name) const { return settings.Path(name); }
    std::unique_ptr<QProcess> Start(const QStringList& args)
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(m_env);
        p->start(QStringLiteral(ZORV_EXE), args);
        return p;
    }
    // Runs the host with `input` on its standard input (then closed).
    HostRun Host(const QByteArray& input, const QStringList& caller = {kChromiumCaller})
    {
        const auto p = Start(QStringList{"--native-messaging"} + caller);
        p->write(input);
        p->closeWriteChannel();
        EXPECT_TRUE(p->waitForFinished(60000)) << "the host did not finish";
        HostRun run{p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1, {}};
        CNativeFrameReader reader;
        const QByteArray out = p->readAllStandardOutput();
        reader.Append(out.constData(), static_cast<size_t>(out.size()));
        QByteArray m;
        while (reader.Take(&m) == CNativeFrameReader::Next::Message)
            run.replies << QJsonDocument::fromJson(m).object();
        EXPECT_TRUE(reader.Empty()) << "a reply was cut";
        return run;
    }
    // The zorv processes of this test other than the host: the windows.
    QList<int> Windows() const
    {
        QList<int> pids;
        const QByteArray mark = "XDG_RUNTIME_DIR=" + QFile::encodeName(Path("run"));
        for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
            QFile environ("/proc/" + pid + "/environ");
            if (pid.toInt() > 0 && environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(mark)
                && QFileInfo("/proc/" + pid + "/exe").symLinkTarget().endsWith("/zorv"))
                pids << pid.toInt();
        }
        return pids;
    }

    QProcessEnvironment m_env;
};

// A wrong caller, a message over the limit and one cut short each get one
// error reply and end the host; a malformed message gets its error reply and
// the next message is still answered. None starts a window.
TEST_F(NativeHostTest, RefusalsAreAnsweredAndNeverActedOn)
{
    const QByteArray add = Frame(AddMessage({Link("http://h/a")}));
    const quint32 n = zorv::kMaxNativeMessageBytes + 1;
    const QByteArray over = QByteArray(reinterpret_cast<const char*>(&n), 4) + add;
    for (const auto& [input, caller, status, error] : std::vector<std::tuple<QByteArray, QString, int, QString>>{
             {add, "chrome-extension://aaaabbbbccccddddeeeeffffgggghhhh/", 2, ""},
             {over, kChromiumCaller, 1, "longer"}, {add.left(add.size() - 1), kChromiumCaller, 1, ""}}) {
        const HostRun r = Host(input, {caller});
        EXPECT_EQ(r.status, status);
        ASSERT_EQ(r.replies.size(), 1);
        EXPECT_FALSE(r.replies[0]["ok"].toBool());
        EXPECT_TRUE(r.replies[0]["error"].toString().contains(error)) << r.replies[0]["error"].toString().toStdString();
    }
    const HostRun r = Host(Frame("{\"command\":") + Frame(AddMessage({Link("javascript:x")})) + Frame(R"({"command":"ping"})"));
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.replies.size(), 3);
    EXPECT_FALSE(r.replies[0]["ok"].toBool() || r.replies[1]["ok"].toBool());
    EXPECT_EQ(r.replies[2]["version"].toString(), ZORV_VERSION);
    EXPECT_TRUE(Windows().isEmpty());
    EXPECT_FALSE(QFile::exists(Path("dl")));
}

// No window: the host starts one with the most recent list and hands the
// links over. (A host meeting a running window: the window's start-up test.)
TEST_F(NativeHostTest, StartsTheWindowWithTheRecentListThenUsesIt)
{
#ifndef ZORV_HAS_WINDOW
    GTEST_SKIP() << "this zorv is built without the window (ZORV_GUI=OFF)";
#endif
    const QString list = Path("l.zorv");
    const auto add = Start({"--add", list, "http://h/seed"});
    ASSERT_TRUE(add->waitForFinished(30000) && add->exitCode() == 0);
    {
        QSettings s(Path("home/.config/Quillmere/zorv.conf"), QSettings::IniFormat);
        s.setValue("Recent File List/File1", Path("gone.zorv"));
        s.setValue("Recent File List/File2", list);
    }
    const HostRun r = Host(Frame(AddMessage({Link("http://h/a.zip", "http://page/", "x.bin"), Link("ftp://h/b")})));
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.replies.size(), 1);
    EXPECT_EQ(r.replies[0]["added"].toInt(), 2) << QJsonDocument(r.replies[0]).toJson().toStdString();
    EXPECT_EQ(Windows().size(), 1);
    // The window saves the list automatically.
    zorv::CZorvDoc doc;
    ASSERT_TRUE(zorv::test::RunUntil([&] { return doc.LoadFromBytes(zorv::test::ReadFileBytes(list), nullptr) && doc.GetCount() == 3; }, 20000));
    std::vector<std::string> items;
    for (int i = 0; i < 3; ++i) {
        const zorv::CItem* it = doc.GetItem(i);
        items.push_back(std::to_string(it->GetState()) + "|" + it->m_strUrl + "|" + it->m_strFileName + "|" + it->m_strReferer);
        EXPECT_EQ(it->m_strDestination, Path("dl").toStdString());
    }
    EXPECT_EQ(items, (std::vector<std::string>{"0|http://h/seed|seed|", "0|http://h/a.zip|x.bin|http://page/", "0|ftp://h/b|b|"}));
}

} // namespace
