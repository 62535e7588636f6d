// The headless commands through the real executable, with a private home
// folder (settings) and a private working folder.
#include "support/tempsettings.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
#ifndef ZORV_EXE
        GTEST_SKIP() << "the zorv executable is not built (ZORV_GUI=OFF)";
#endif
        ASSERT_TRUE(m_home.isValid() && m_work.isValid());
    }

    Result Run(const QStringList& args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral(".config")));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_work.path());
#ifdef ZORV_EXE
        p.start(QStringLiteral(ZORV_EXE), args);
#endif
        if (!p.waitForFinished(60000)) {
            ADD_FAILURE() << "zorv did not finish: " << args.join(' ').toStdString();
            p.kill();
            p.waitForFinished();
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
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
                                    QStringList{"--add", "--bogus", list, "http://h/a"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFile::exists(list));
}

// --referer, --dest (relative: from the working folder), --level and --name;
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
    add({"--name", "mine.bin", "--dest", dest, list, "https://h/x/y?z=1"});
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
        QStringLiteral("3\t0\thttps://h/x/y?z=1\t%1\tmine.bin\t").arg(dest),
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
// stderr with status 1; the rest of the command line is still added.
TEST_F(HeadlessTest, RefusedUrlsAndLongRunsAreNamedAndSkipped)
{
    const QString list = Work("l.zorv");
    const QString big = QStringLiteral("http://h/img*1.100001.6d*.jpg");
    Result r = Run({"--add", list, "http://h/ok1", "mailto:someone@example.com", "h/noscheme", "file:///x*1.2.1d*", big,
                    "https://h/ok*2.3.1d*"});
    EXPECT_EQ(r.status, 1);
    for (const QString& named : {QStringLiteral("mailto:someone@example.com"), QStringLiteral("h/noscheme"),
                                 QStringLiteral("file:///x1"), QStringLiteral("file:///x2"), big, QStringLiteral("--yes")})
        EXPECT_TRUE(r.err.contains(named)) << named.toStdString() << " not in: " << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QLatin1String("h/ok"))) << r.err.toStdString();
    EXPECT_EQ(Run({"--list", list}).Lines().size(), 3);

    r = Run({"--add", "--yes", list, big});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QStringList lines = Run({"--list", list}).Lines();
    ASSERT_EQ(lines.size(), 3 + 100001);
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("2\t0\thttps://h/ok3\t")));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("100003\t0\thttp://h/img100001.jpg\t")));

    // A run no list can hold is refused even with --yes, before any work.
    const QString huge = QStringLiteral("http://h/*-2147483648.2147483647.1d*");
    r = Run({"--add", "--yes", list, huge});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(huge)) << r.err.toStdString();
    EXPECT_EQ(Run({"--list", list}).Lines().size(), 3 + 100001);
}

TEST_F(HeadlessTest, UnreadableListsFailWithTheirName)
{
    const QString missing = Work("missing.zorv");
    const QString damaged = Work("damaged.zorv");
    const QString folder = Work("folder.zorv");
    const QByteArray damagedBytes("\x02\x00\x00\x00\xFF\xFF\x03\x00\x05\x00CIt", 13);
    ASSERT_TRUE(zorv::test::WriteFileBytes(damaged, damagedBytes));
    ASSERT_TRUE(QDir(m_work.path()).mkdir(QStringLiteral("folder.zorv")));

    // --add never replaces a list it cannot read, nor writes into a file.
    const QString inFile = damaged + QStringLiteral("/sub.zorv");
    for (const QStringList& args : {QStringList{"--list", missing}, QStringList{"--list", damaged},
                                    QStringList{"--list", folder}, QStringList{"--add", damaged, "http://h/a"},
                                    QStringList{"--add", folder, "http://h/a"}, QStringList{"--add", inFile, "http://h/a"}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(args[1])) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_EQ(ReadFileBytes(damaged), damagedBytes);
}

} // namespace
