// The manual page and the bash completion name exactly the options that
// `zorv --help` names.
#include "support/tempsettings.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace {

QSet<QString> Options(const QString& text, const QString& pattern)
{
    QSet<QString> found;
    for (const auto& m : QRegularExpression(pattern).globalMatch(text))
        found.insert(m.captured(1));
    return found;
}

QString Sorted(const QSet<QString>& set)
{
    QStringList list(set.begin(), set.end());
    list.sort();
    return list.join(' ');
}

TEST(ManualPage, NamesTheOptionsOfHelp)
{
    QProcess help;
    help.start(QStringLiteral(ZORV_EXE), {QStringLiteral("--help")});
    ASSERT_TRUE(help.waitForFinished(10000));
    const QSet<QString> fromHelp = Options(QString::fromUtf8(help.readAllStandardOutput()), R"((--[a-z]+))");
    ASSERT_GE(fromHelp.size(), 12);
    const auto read = [](const char* name) {
        return QString::fromUtf8(zorv::test::ReadFileBytes(QStringLiteral(ZORV_SOURCE_DIR "/dist/") + name));
    };
    QString man = read("zorv.1");
    man.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    EXPECT_EQ(Sorted(Options(man, R"((--[a-z]+))")), Sorted(fromHelp));
    EXPECT_EQ(Sorted(Options(read("zorv.bash"), R"((--[a-z]+))")), Sorted(fromHelp));
}

} // namespace
