// The headless commands through the real executable, with a private home
// folder (settings) and a private working folder.
#include "support/childprocess.h"
#include "support/http_server.h"
#include "support/tempsettings.h"

#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using zorv::test::ReadFileBytes;

namespace {

struct Result {
    int status = -1;
    QString out;
    QString err;
    QStringList Lines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid() && m_work.isValid());
        // Fetches go straight to the loopback servers, whatever proxy the
        // environment names.
        QSettings(SettingsFile(), QSettings::IniFormat).setValue(QStringLiteral("Settings/ProxySetting"), 1);
    }

    // Runs zorv with `args` (and `env` added to its environment); with
    // `fileSizeKiB` > 0, files it writes cannot grow beyond that (writes fail
    // with EFBIG, as on a full disk).
    Result Run(const QStringList& args, int fileSizeKiB = 0, const QStringList& env = {})
    {
        QProcess p;
        p.setProcessEnvironment(zorv::test::EnvironmentWith(zorv::test::PrivateHomeEnv(m_home.path()) + env));
        p.setWorkingDirectory(m_work.path());
        if (fileSizeKiB > 0) {
            p.start(QStringLiteral("/bin/bash"),
                    QStringList{"-c", QStringLiteral("ulimit -f %1; trap '' XFSZ; exec \"$0\" \"$@\"").arg(fileSizeKiB),
                                QStringLiteral(ZORV_EXE)} + args);
        } else {
            p.start(QStringLiteral(ZORV_EXE), args);
        }
        if (!p.waitForFinished(60000)) {
            ADD_FAILURE() << "zorv did not finish: " << args.join(' ').toStdString();
            p.kill();
            p.waitForFinished();
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

    // Starts `zorv ARGS` in the background, with the same settings.
    void StartChild(zorv::test::CChildProcess& child, const QStringList& args)
    {
        zorv::test::CChildProcess::Options options;
        options.env = zorv::test::PrivateHomeEnv(m_home.path());
        QString error;
        ASSERT_TRUE(child.Start(QStringLiteral(ZORV_EXE), args, options, &error)) << error.toStdString();
    }

    // The user's settings, as the executable finds them.
    QString SettingsFile() const { return m_home.filePath(QStringLiteral(".config/Quillmere/zorv.conf")); }
    QString Work(const char* name) const { return m_work.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_home;
    QTemporaryDir m_work;
};

TEST_F(HeadlessTest, HelpVersionAndUsageErrors)
{
    EXPECT_EQ(Run({"--help"}).status, 0);
    const Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("zorv " ZORV_VERSION "\n"));

    const QString list = Work("l.zorv");
    for (const QStringList& args : {QStringList{"--list"}, QStringList{"--list", list, list}, QStringList{"--add", list},
                                    QStringList{"--add", "--level", "x", list, "http://h/a"},
                                    QStringList{"--import", list}, QStringList{"--import", "--bogus", list, "good.txt"},
                                    QStringList{"--fetch"}, QStringList{"--fetch", "--connections", "0", list},
                                    QStringList{"--fetch", "--existing", "keep", list}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFile::exists(list));
}

// A headless command starts without the window's libraries: the dynamic
// loader's log of `zorv --list` names Qt Core but neither Qt Gui, Qt Widgets
// nor the font library.
TEST_F(HeadlessTest, StartsWithoutTheWindowLibraries)
{
    const QString list = Work("l.zorv");
    ASSERT_EQ(Run({"--add", list, "http://h/a.bin"}).status, 0);
    const Result r = Run({"--list", list}, 0, {"LD_DEBUG=libs"});
    EXPECT_EQ(r.status, 0);
    const QString& log = r.err;
    EXPECT_TRUE(log.contains("libQt6Core.so")) << log.left(2000).toStdString();
    for (const char* lib : {"libQt6Gui.so", "libQt6Widgets.so", "libfontconfig.so", "zorv-window"})
        EXPECT_FALSE(log.contains(lib)) << lib;
}

// --referer, --dest (relative: from the working folder), --level and --name;
// --list escapes tabs, line breaks and backslashes in its fields;
// without --dest the default destination of the settings, else the working
// folder; without --level the default level of the settings.
TEST_F(HeadlessTest, AddThenList)
{
    const QString list = Work("l.zorv");
    const QString dest = Work("dl");
    const QString def = m_home.filePath(QStringLiteral("ダウンロード"));
    const auto add = [&](const QStringList& args) {
        const Result r = Run(QStringList{"--add"} + args);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    };
    add({"--dest", dest, "--referer", "http://ref/", list, "http://h/a/b/one.zip", "ftp://h/pub/テスト.lzh"});
    add({"--level", "2", "--dest", "rel", list, "http://h/a/b/two.zip"});
    add({"--name", "mine.bin", "--dest", dest, "--referer", "r\tx\\y\nz", list, "https://h/x/y?z=1"});
    add({list, "http://h/a/b/c.zip"});
    {
        QSettings s(SettingsFile(), QSettings::IniFormat);
        s.setValue(QStringLiteral("Settings/DefaultDestination"), def);
        s.setValue(QStringLiteral("Settings/DefaultFnameLevel"), 1);
        s.setValue(QStringLiteral("Settings/AutoSave"), 1);
    }
    add({list, "http://h/a/b/d.zip"});

    const Result r = Run({"--list", list});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList expected = {
        QStringLiteral("0\t0\thttp://h/a/b/one.zip\t%1\tone.zip\thttp://ref/").arg(dest),
        QStringLiteral("1\t0\tftp://h/pub/テスト.lzh\t%1\tテスト.lzh\thttp://ref/").arg(dest),
        QStringLiteral("2\t0\thttp://h/a/b/two.zip\t%1/a/b\ttwo.zip\t").arg(Work("rel")),
        QStringLiteral("3\t0\thttps://h/x/y?z=1\t%1\tmine.bin\tr\\tx\\\\y\\nz").arg(dest), // fields escaped
        QStringLiteral("4\t0\thttp://h/a/b/c.zip\t%1\tc.zip\t").arg(m_work.path()),
        QStringLiteral("5\t0\thttp://h/a/b/d.zip\t%1/b\td.zip\t").arg(def),
    };
    EXPECT_EQ(r.out, expected.join('\n') + '\n');
    // The commands only read the settings.
    QSettings s(SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(s.value(QStringLiteral("Settings/AutoSave")).toInt(), 1);
    EXPECT_FALSE(s.contains(QStringLiteral("Settings/Connections")));
}

// Refused URLs and runs of more than 100,000 URLs without --yes are named on
// stderr with status 1; the rest of the command line is still added. (Each
// add rule is the model's test; this proves --add and --yes reach it.)
TEST_F(HeadlessTest, RefusedUrlsAndLongRunsAreNamedAndSkipped)
{
    const QString list = Work("l.zorv");
    const QString big = QStringLiteral("http://h/img*1.100001.6d*.jpg");
    // Nothing added: no list is made.
    EXPECT_EQ(Run({"--add", list, big}).status, 1);
    EXPECT_FALSE(QFile::exists(list));
    Result r = Run({"--add", list, "http://h/ok1", "mailto:someone@example.com", big, "https://h/ok*2.3.1d*"});
    EXPECT_EQ(r.status, 1);
    for (const QString& named : {QStringLiteral("mailto:someone@example.com"), big, QStringLiteral("--yes")})
        EXPECT_TRUE(r.err.contains(named)) << named.toStdString() << " not in: " << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QLatin1String("h/ok"))) << r.err.toStdString();
    EXPECT_EQ(Run({"--list", list}).Lines().size(), 3);

    r = Run({"--add", "--yes", list, big});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = Run({"--list", list}).Lines();
    ASSERT_EQ(lines.size(), 3 + 100001);
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("100003\t0\thttp://h/img100001.jpg\t")));
}

TEST_F(HeadlessTest, UnreadableListsFailWithTheirName)
{
    const QString missing = Work("missing.zorv");
    const QString damaged = Work("damaged.zorv");
    const QString folder = Work("folder.zorv");
    const QString photo = Work("photo.jpg");
    const QByteArray damagedBytes("\x02\x00\x00\x00\xFF\xFF\x03\x00\x05\x00CIt", 13);
    const QByteArray photoBytes("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01", 12);
    ASSERT_TRUE(zorv::test::WriteFileBytes(damaged, damagedBytes));
    ASSERT_TRUE(zorv::test::WriteFileBytes(photo, photoBytes));
    ASSERT_TRUE(QDir(m_work.path()).mkdir(QStringLiteral("folder.zorv")));

    // No command replaces a file it cannot read as a list, nor writes into a
    // file. (Which bytes are no list: the list file's test; here each command.)
    const QString inFile = damaged + QStringLiteral("/sub.zorv");
    for (const QStringList& args :
         {QStringList{"--list", missing}, QStringList{"--list", folder}, QStringList{"--add", damaged, "http://h/a"},
          QStringList{"--add", folder, "http://h/a"}, QStringList{"--add", inFile, "http://h/a"},
          QStringList{"--add", photo, "http://h/a"}, QStringList{"--fetch", photo}, QStringList{"--import", damaged, photo},
          QStringList{"--reset", missing}, QStringList{"--remove", damaged, "0"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(args[1])) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_EQ(ReadFileBytes(damaged), damagedBytes);
    EXPECT_EQ(ReadFileBytes(photo), photoBytes);
}

// A full disk while the list is saved: the command says so (naming the list
// and the cause) with status 2, the old list stays byte for byte and no
// temporary file is left. --fetch also fails the downloads that hit it.
TEST_F(HeadlessTest, FullDiskLeavesTheListWhole)
{
    zorv::test::CHttpServer server;
    server.Serve("/big/f[0-9]+", std::string(8192, 'b'));
    ASSERT_TRUE(server.Start());
    const QString list = Work("l.zorv");
    QStringList add{"--add", "--dest", Work("dl"), list};
    for (int i = 0; i < 40; ++i)
        add << QString::fromStdString(server.Url("/big/f" + std::to_string(i)));
    ASSERT_EQ(Run(add).status, 0);
    const QByteArray before = ReadFileBytes(list);
    ASSERT_GT(before.size(), 2048);
    for (const QStringList& args : {QStringList{"--add", list, "http://h/more"}, QStringList{"--fetch", list}}) {
        const Result r = Run(args, 1);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(list)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("ファイルが大きすぎます"))) << r.err.toStdString();
        EXPECT_EQ(ReadFileBytes(list), before);
        EXPECT_EQ(QDir(m_work.path()).entryList(QDir::Files), QStringList{"l.zorv"});
    }
    EXPECT_FALSE(Run({"--list", list}).out.contains(QStringLiteral("\t1\t"))) << "nothing fetched";
}

// --add makes the destination folders of what it adds and refuses (naming
// both) a URL whose local file another item writes, or whose folder cannot
// be made. (Numbering and each clash rule: the model's test.)
TEST_F(HeadlessTest, AddMakesFoldersAndRefusesClashes)
{
    const QString list = Work("l.zorv");
    Result r = Run({"--add", "--dest", "out", "--level", "2", list, "http://h/sub/deep/f.txt"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(Work("out/sub/deep")).isDir());
    ASSERT_TRUE(zorv::test::WriteFileBytes(Work("blocked"), "x"));
    for (const auto& [args, named] : std::vector<std::pair<QStringList, QStringList>>{
             {{"--name", "x.bin", "--dest", "out", list, "http://h/a", "http://h/b"}, {"http://h/b", "http://h/a"}},
             {{"--dest", "blocked/in", list, "http://h/c"}, {Work("blocked/in")}}}) {
        r = Run(QStringList{"--add"} + args);
        EXPECT_EQ(r.status, 1) << args.join(' ').toStdString();
        for (const QString& n : named)
            EXPECT_TRUE(r.err.contains(n)) << n.toStdString() << " not in: " << r.err.toStdString();
    }
    const QStringList lines = Run({"--list", list}).Lines();
    ASSERT_EQ(lines.size(), 3); // f.txt, a as x.bin, c (its folder is missing)
    EXPECT_TRUE(lines[1].contains(QStringLiteral("http://h/a\t")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("http://h/c\t")));
}

// With no zorv holding the list, writers take turns through a lock file
// beside it: a live holder makes a second writer give up with status 2;
// the socket and the lock left by a zorv that died are taken over.
TEST_F(HeadlessTest, WritersTakeTurnsThroughTheLockFile)
{
    const QString list = Work("l.zorv");
    ASSERT_EQ(Run({"--add", list, "http://h/a"}).status, 0);
    const QByteArray before = ReadFileBytes(list);
    QByteArray lockText;
    {
        QLockFile lock(list + QStringLiteral(".lock"));
        ASSERT_TRUE(lock.tryLock());
        const Result r = Run({"--add", list, "http://h/b"});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(QStringLiteral("another zorv"))) << r.err.toStdString();
        EXPECT_EQ(ReadFileBytes(list), before);
        lockText = ReadFileBytes(list + QStringLiteral(".lock"));
    }
    // A fetch that is killed leaves its socket; a lock names a process that is gone.
    zorv::test::CHttpServer server;
    server.ServeStalled("/stalled", "xx", 100000);
    ASSERT_TRUE(server.Start());
    ASSERT_EQ(Run({"--add", "--dest", Work("dl"), list, QString::fromStdString(server.Url("/stalled"))}).status, 0);
    zorv::test::CChildProcess fetch, gone;
    StartChild(fetch, {"--fetch", list});
    ASSERT_TRUE(zorv::test::RunUntil([&] { return !server.RequestsFor("/stalled").empty(); }, 20000));
    ::kill(fetch.Pid(), SIGKILL);
    ASSERT_TRUE(zorv::test::RunUntil([&] { return !fetch.IsRunning(); }, 20000));
    QString error;
    ASSERT_TRUE(gone.Start(QStringLiteral("/bin/true"), {}, {}, &error)) << error.toStdString();
    const pid_t deadPid = gone.Pid();
    ASSERT_TRUE(zorv::test::RunUntil([&] { return !gone.IsRunning(); }, 20000));
    lockText.replace(0, lockText.indexOf('\n'), QByteArray::number(deadPid));
    ASSERT_TRUE(zorv::test::WriteFileBytes(list + QStringLiteral(".lock"), lockText));

    const Result r = Run({"--add", list, "http://h/b"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(Run({"--list", list}).Lines().size(), 3);
    EXPECT_FALSE(QFile::exists(list + QStringLiteral(".lock")));
}

// --import: a file that fails (a bad line, no extension) is named with
// status 1, and what it added before stays, as does what the other files add.
TEST_F(HeadlessTest, ImportKeepsWhatCameBeforeAFailure)
{
    const QString list = Work("l.zorv");
    ASSERT_TRUE(zorv::test::WriteFileBytes(Work("good.txt"), "http://h/a\n"));
    ASSERT_TRUE(zorv::test::WriteFileBytes(Work("bad.txt"), "http://h/c\nnot a url\nhttp://h/d\n"));
    ASSERT_TRUE(zorv::test::WriteFileBytes(Work("readme"), "http://h/f\n"));

    // Nothing imported: no list is made.
    Result r = Run({"--import", list, "readme"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("readme"))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(list));

    r = Run({"--import", list, "bad.txt", "good.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("bad.txt: line 2"))) << r.err.toStdString();
    EXPECT_EQ(Run({"--list", list}).Lines(), (QStringList{QStringLiteral("0\t0\thttp://h/c\t%1\tc\t").arg(m_work.path()),
                                                        QStringLiteral("1\t0\thttp://h/a\t%1\ta\t").arg(m_work.path())}));
}

// --reset puts the failed items (or the given ones) back at the bottom, not
// fetched; --remove deletes the given ones; --edit changes only the values
// given, under the lock when nobody holds the list. An index outside the
// list (or a URL adding would refuse) is a usage error that changes nothing.
TEST_F(HeadlessTest, ResetAndRemoveByIndex)
{
    zorv::test::CHttpServer server;
    server.Serve("/ok(/3)?", "ok");
    server.ServeStatus("/gone/[12]", 404);
    ASSERT_TRUE(server.Start());
    const QString list = Work("l.zorv");
    const QString ok = QString::fromStdString(server.Url("/ok")), gone = QString::fromStdString(server.Url("/gone"));
    ASSERT_EQ(Run({"--add", "--dest", Work("dl"), list, gone + "/1", ok, gone + "/2", ok + "/3"}).status, 0);
    ASSERT_EQ(Run({"--fetch", "--connections", "1", list}).status, 1);
    const auto states = [&] {
        QStringList out;
        for (const QString& line : Run({"--list", list}).Lines())
            out += line.section('\t', 1, 2);
        return out;
    };
    ASSERT_EQ(states(), (QStringList{"2\t" + gone + "/1", "1\t" + ok, "2\t" + gone + "/2", "1\t" + ok + "/3"}));

    const QByteArray before = ReadFileBytes(list);
    // Each refused with the index (or the missing one) named.
    for (const auto& [args, named] : std::vector<std::pair<QStringList, QString>>{
             {{"--reset", list, "4"}, "item 4"}, {{"--reset", list, "x"}, "x"}, {{"--remove", list}, "index"},
             {{"--remove", list, "1", "7"}, "item 7"}, {{"--remove", list, "-1"}, "-1"},
             {{"--edit", list, "4", "--url", ok}, "item 4"}, {{"--edit", list, "0", "--url", "mailto:x"}, "mailto:x"},
             {{"--edit", list, "0", "--name", "2"}, "item 2"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(named)) << r.err.toStdString();
        EXPECT_EQ(ReadFileBytes(list), before);
    }
    EXPECT_EQ(Run({"--reset", list}).status, 0);
    EXPECT_EQ(states(), (QStringList{"1\t" + ok, "1\t" + ok + "/3", "0\t" + gone + "/1", "0\t" + gone + "/2"}));
    EXPECT_EQ(Run({"--reset", list, "0"}).status, 0);
    EXPECT_EQ(states(), (QStringList{"1\t" + ok + "/3", "0\t" + gone + "/1", "0\t" + gone + "/2", "0\t" + ok}));
    EXPECT_EQ(Run({"--remove", list, "2", "0", "2"}).status, 0);
    EXPECT_EQ(states(), (QStringList{"0\t" + gone + "/1", "0\t" + ok}));
    // The file name stays with a new URL; the destination is made absolute.
    EXPECT_EQ(Run({"--edit", list, "0", "--url", ok + "/3", "--dest", "moved", "--referer", "http://r/"}).status, 0);
    EXPECT_EQ(Run({"--list", list}).Lines().first(), "0\t0\t" + ok + "/3\t" + Work("moved") + "\t1\thttp://r/");
    EXPECT_TRUE(QFileInfo(Work("moved")).isDir());
}

// While `zorv --fetch` holds the list, --add, --remove and --edit are handed
// to it: added URLs are fetched in the same run and kept in the list it
// saves; a queued item is removed before it is fetched; the item being
// fetched is left alone by --remove (status 1), and an edit of it keeps its
// transfer (said on stderr) and is saved.
TEST_F(HeadlessTest, AddAndRemoveDuringAFetchAreHandedToIt)
{
    zorv::test::CHttpServer server;
    server.ServeSlow("/slow", std::string(3000, 's'), 100, std::chrono::milliseconds(200));
    server.Serve("/(late|added)", "late body");
    ASSERT_TRUE(server.Start());
    const QString list = Work("l.zorv");
    const auto url = [&](const char* path) { return QString::fromStdString(server.Url(path)); };
    ASSERT_EQ(Run({"--add", "--dest", Work("dl"), list, url("/slow"), url("/late")}).status, 0);
    zorv::test::CChildProcess fetch;
    StartChild(fetch, {"--fetch", "--connections", "1", list});
    ASSERT_TRUE(zorv::test::RunUntil([&] { return !server.RequestsFor("/slow").empty(); }, 20000));
    Result r = Run({"--remove", list, "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("being fetched"))) << r.err.toStdString();
    r = Run({"--remove", list, "1"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    r = Run({"--edit", list, "0", "--url", url("/edited")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("being fetched"))) << r.err.toStdString();
    r = Run({"--add", "--dest", Work("dl"), list, url("/added")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_TRUE(zorv::test::RunUntil([&] { return !fetch.IsRunning(); }, 30000));
    const QStringList lines = Run({"--list", list}).Lines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "0\t1\t" + url("/edited") + "\t" + Work("dl") + "\tslow\t");
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("1\t1\t") + url("/added"))) << lines[1].toStdString();
    EXPECT_TRUE(server.RequestsFor("/late").empty());
    EXPECT_EQ(ReadFileBytes(Work("dl/added")), QByteArray("late body"));
}

} // namespace
