// The headless commands through the real executable, with a private home
// folder (settings) and a private working folder.
#include "model/doc.h"
#include "support/tempsettings.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zorv::CZorvDoc;
using zorv::test::ReadFileBytes;
using zorv::test::WriteFileBytes;

namespace {

struct Result {
    int status = -1;
    QString out;
    QString err;
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
        Result r;
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
            ADD_FAILURE() << "zorv did not finish: " << args.join(' ').toStdString();
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // The user's settings, as the executable finds them.
    void SetUserSetting(const QString& key, const QVariant& value)
    {
        QSettings s(m_home.filePath(QStringLiteral(".config/Quillmere/zorv.conf")), QSettings::IniFormat);
        s.setValue(QStringLiteral("Settings/") + key, value);
    }

    QString Work(const QString& name) const { return m_work.filePath(name); }
    QStringList Lines(const QString& text) const { return text.split('\n', Qt::SkipEmptyParts); }

    QTemporaryDir m_home;
    QTemporaryDir m_work;
};

TEST_F(HeadlessTest, HelpVersionAndUsageErrors)
{
    const Result help = Run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"--list", "--add", "--referer", "--dest", "--name", "--level", "--yes", "--version"})
        EXPECT_TRUE(help.out.contains(QLatin1String(word))) << word;

    const Result version = Run({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("zorv " ZORV_VERSION "\n"));

    const QString list = Work(QStringLiteral("l.zorv"));
    const QStringList usage[] = {
        {QStringLiteral("--list")},
        {QStringLiteral("--list"), list, list},
        {QStringLiteral("--add"), list},
        {QStringLiteral("--add"), QStringLiteral("--level"), QStringLiteral("x"), list, QStringLiteral("http://h/a")},
        {QStringLiteral("--add"), list, QStringLiteral("http://h/a"), QStringLiteral("--dest")},
        {QStringLiteral("--add"), QStringLiteral("--bogus"), list, QStringLiteral("http://h/a")},
    };
    for (const QStringList& args : usage) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFile::exists(list));
}

TEST_F(HeadlessTest, AddThenList)
{
    const QString list = Work(QStringLiteral("l.zorv"));
    const QString dest = Work(QStringLiteral("dl"));
    Result r = Run({QStringLiteral("--add"), QStringLiteral("--dest"), dest, QStringLiteral("--referer"),
                    QStringLiteral("http://ref/"), list, QStringLiteral("http://h/a/b/one.zip"),
                    QStringLiteral("ftp://h/pub/テスト.lzh")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    // A second run appends; --level mirrors folders, --name names the file,
    // a relative --dest is taken from the working folder.
    r = Run({QStringLiteral("--add"), QStringLiteral("--level"), QStringLiteral("2"), QStringLiteral("--dest"),
             QStringLiteral("rel"), list, QStringLiteral("http://h/a/b/two.zip")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    r = Run({QStringLiteral("--add"), QStringLiteral("--name"), QStringLiteral("mine.bin"), QStringLiteral("--dest"),
             dest, list, QStringLiteral("https://h/x/y?z=1")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();

    // One item already fetched, one failed: --list shows the stored states.
    {
        CZorvDoc doc;
        QString error;
        ASSERT_TRUE(doc.OnOpenDocument(list, &error)) << error.toStdString();
        ASSERT_EQ(doc.GetCount(), 4);
        doc.GetItem(1)->SetState(zorv::STATE_FETCHED);
        doc.GetItem(2)->SetState(zorv::STATE_FETCHING); // in progress: stored as failed
        ASSERT_TRUE(doc.OnSaveDocument(list, &error));
    }
    r = Run({QStringLiteral("--list"), list});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QString rel = Work(QStringLiteral("rel"));
    const QStringList expected = {
        QStringLiteral("0\t0\thttp://h/a/b/one.zip\t%1\tone.zip\thttp://ref/").arg(dest),
        QStringLiteral("1\t1\tftp://h/pub/テスト.lzh\t%1\tテスト.lzh\thttp://ref/").arg(dest),
        QStringLiteral("2\t2\thttp://h/a/b/two.zip\t%1/a/b\ttwo.zip\t").arg(rel),
        QStringLiteral("3\t0\thttps://h/x/y?z=1\t%1\tmine.bin\t").arg(dest),
    };
    EXPECT_EQ(r.out, expected.join('\n') + '\n');
}

TEST_F(HeadlessTest, RefusedUrlsAreNamedAndSkipped)
{
    const QString list = Work(QStringLiteral("l.zorv"));
    const Result r = Run({QStringLiteral("--add"), list, QStringLiteral("http://h/ok1"),
                          QStringLiteral("mailto:someone@example.com"), QStringLiteral("h/noscheme"),
                          QStringLiteral("file:///x*1.2.1d*"), QStringLiteral("https://h/ok2")});
    EXPECT_EQ(r.status, 1);
    for (const char* refused : {"mailto:someone@example.com", "h/noscheme", "file:///x1", "file:///x2"})
        EXPECT_TRUE(r.err.contains(QLatin1String(refused))) << refused << " not named in: " << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QLatin1String("ok1")));
    const Result listed = Run({QStringLiteral("--list"), list});
    EXPECT_EQ(Lines(listed.out).size(), 2);
    EXPECT_TRUE(Lines(listed.out).value(1).contains(QLatin1String("https://h/ok2")));
}

TEST_F(HeadlessTest, LongPatternRunsNeedConfirmation)
{
    const QString list = Work(QStringLiteral("l.zorv"));
    Result r = Run({QStringLiteral("--add"), list, QStringLiteral("http://h/*1.3.2d*/f*8.9.1d*.jpg")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    QStringList lines = Lines(Run({QStringLiteral("--list"), list}).out);
    ASSERT_EQ(lines.size(), 6);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("1\t0\thttp://h/01/f9.jpg\t")));
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("5\t0\thttp://h/03/f9.jpg\t")));

    const QString big = QStringLiteral("http://h/img*1.100001.6d*.jpg");
    r = Run({QStringLiteral("--add"), list, big, QStringLiteral("http://h/small")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(big)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String("--yes"))) << r.err.toStdString();
    lines = Lines(Run({QStringLiteral("--list"), list}).out);
    EXPECT_EQ(lines.size(), 7);

    r = Run({QStringLiteral("--add"), QStringLiteral("--yes"), list, big});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    lines = Lines(Run({QStringLiteral("--list"), list}).out);
    ASSERT_EQ(lines.size(), 7 + 100001);
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("100007\t0\thttp://h/img100001.jpg\t")));

    // A run no list can hold is refused even with --yes, before any work.
    const QString huge = QStringLiteral("http://h/*-2147483648.2147483647.1d*");
    r = Run({QStringLiteral("--add"), QStringLiteral("--yes"), list, huge});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(huge)) << r.err.toStdString();
    EXPECT_EQ(Lines(Run({QStringLiteral("--list"), list}).out).size(), 7 + 100001);
}

TEST_F(HeadlessTest, UnreadableListsFailWithTheirName)
{
    const QString missing = Work(QStringLiteral("missing.zorv"));
    const QString damaged = Work(QStringLiteral("damaged.zorv"));
    const QString folder = Work(QStringLiteral("folder.zorv"));
    const QByteArray damagedBytes("\x02\x00\x00\x00\xFF\xFF\x03\x00\x05\x00CIt", 13);
    ASSERT_TRUE(WriteFileBytes(damaged, damagedBytes));
    ASSERT_TRUE(QDir(m_work.path()).mkdir(QStringLiteral("folder.zorv")));

    for (const QString& list : {missing, damaged, folder}) {
        const Result r = Run({QStringLiteral("--list"), list});
        EXPECT_EQ(r.status, 2) << list.toStdString();
        EXPECT_TRUE(r.err.contains(list)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    // --add never replaces a list it cannot read.
    for (const QString& list : {damaged, folder}) {
        const Result r = Run({QStringLiteral("--add"), list, QStringLiteral("http://h/a")});
        EXPECT_EQ(r.status, 2) << list.toStdString();
        EXPECT_TRUE(r.err.contains(list)) << r.err.toStdString();
    }
    EXPECT_EQ(ReadFileBytes(damaged), damagedBytes);
    // A list that cannot be written: named, status 2.
    const QString inFile = damaged + QStringLiteral("/sub.zorv");
    const Result r = Run({QStringLiteral("--add"), inFile, QStringLiteral("http://h/a")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(inFile)) << r.err.toStdString();
}

// Without --dest: the default destination of the settings, else the working
// folder; without --level: the default level of the settings.
TEST_F(HeadlessTest, DestinationAndLevelDefaults)
{
    const QString list = Work(QStringLiteral("l.zorv"));
    Result r = Run({QStringLiteral("--add"), list, QStringLiteral("http://h/a/b/c.zip")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();

    const QString def = m_home.filePath(QStringLiteral("ダウンロード"));
    SetUserSetting(QStringLiteral("DefaultDestination"), def);
    SetUserSetting(QStringLiteral("DefaultFnameLevel"), 1);
    SetUserSetting(QStringLiteral("AutoSave"), 1);
    r = Run({QStringLiteral("--add"), list, QStringLiteral("http://h/a/b/d.zip")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();

    r = Run({QStringLiteral("--list"), list});
    const QStringList lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    EXPECT_EQ(lines[0].split('\t').value(3), m_work.path());
    EXPECT_EQ(lines[1].split('\t').value(3), def + QStringLiteral("/b"));
    EXPECT_EQ(lines[1].split('\t').value(4), QStringLiteral("d.zip"));
    // The commands only read the settings.
    QSettings s(m_home.filePath(QStringLiteral(".config/Quillmere/zorv.conf")), QSettings::IniFormat);
    EXPECT_EQ(s.value(QStringLiteral("Settings/AutoSave")).toInt(), 1);
    EXPECT_FALSE(s.contains(QStringLiteral("Settings/Connections")));
}

} // namespace
