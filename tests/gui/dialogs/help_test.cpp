// The help pages and window, and the About box.
#include "about/modules.h"
#include "dialogs/aboutdlg.h"
#include "dialogs/help.h"
#include "dialogs/helpwindow.h"
#include "ui/placement.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include <curl/curl.h>
#include <gnu/libc-version.h>
#include <gtest/gtest.h>

#include <ctime>

namespace zorv::test {
namespace {

QString Page(const QString& name)
{
    QFile file(QStringLiteral(":/help/") + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The help topics named in the program's sources (every "NAME.html" text),
// and those the options pages and the URL edit dialog must have.
QSet<QString> NamedTopics()
{
    QSet<QString> topics{"OptConnection.html", "OptLocal.html", "OptMisc.html", "urledit.html"};
    const QRegularExpression call(QStringLiteral(R"re("([^"/]+\.html)(?:#[^"]*)?")re"));
    for (QDirIterator it(QStringLiteral(ZORV_SOURCE_DIR "/src"), {"*.cpp", "*.h"}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile source(it.next());
        EXPECT_TRUE(source.open(QIODevice::ReadOnly)) << source.fileName().toStdString();
        for (const auto& m : call.globalMatch(QString::fromUtf8(source.readAll())))
            topics.insert(m.captured(1));
    }
    return topics;
}

// Every topic named in the code is a page of its own, and the pages form one
// web: each link reaches an existing page (and anchor), and every page can be
// reached from the contents.
TEST(HelpPages, TopicsExistAndEveryLinkResolves)
{
    for (const QString& topic : NamedTopics())
        EXPECT_EQ(HelpTopicUrl(topic), QUrl("qrc:/help/" + topic)) << topic.toStdString();

    const QRegularExpression href(QStringLiteral(R"re(href\s*=\s*"([^"]*)")re"));
    QStringList queue{QString::fromLatin1(kHelpContents)};
    QSet<QString> seen(queue.begin(), queue.end());
    while (!queue.isEmpty()) {
        const QString page = queue.takeFirst();
        const QString html = Page(page);
        ASSERT_FALSE(html.isEmpty()) << page.toStdString();
        EXPECT_TRUE(html.contains(QRegularExpression("<title>[^<]+</title>"))) << page.toStdString();
        for (const auto& m : href.globalMatch(html)) {
            const QUrl link(m.captured(1));
            const std::string where = (page + " -> " + m.captured(1)).toStdString();
            if (link.scheme() == "http" || link.scheme() == "https")
                continue; // opened by the desktop's browser
            ASSERT_TRUE(link.isRelative()) << where;
            const QString target = link.path().isEmpty() ? page : link.path();
            const QString text = Page(target);
            ASSERT_FALSE(text.isEmpty()) << where;
            const QString anchor = link.fragment();
            EXPECT_TRUE(anchor.isEmpty() || text.contains("name=\"" + anchor + "\"") || text.contains("id=\"" + anchor + "\""))
                << where;
            if (!seen.contains(target)) {
                seen.insert(target);
                queue << target;
            }
        }
    }
    const QStringList all = QDir(QStringLiteral(":/help")).entryList({"*.html"}, QDir::Files);
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()), seen);
}

TEST(HelpWindow, OneWindowShowsTheAskedTopicOrTheContents)
{
    const struct { const char* topic; const char* page; } cases[] = {
        {"OptLocal.html", "OptLocal.html"}, {"", "index.html"},
        {"nosuch.html", "index.html"},      {"../help/OptMisc.html", "index.html"},
        {"urledit.html", "urledit.html"},   {"OptMisc.html#schedule", "OptMisc.html"},
    };
    CHelpWindow* first = nullptr;
    for (const auto& c : cases) {
        ShowHelpTopic(QString::fromUtf8(c.topic));
        CHelpWindow* window = CHelpWindow::Existing();
        ASSERT_NE(window, nullptr);
        if (!first)
            first = window;
        EXPECT_EQ(window, first) << c.topic;
        EXPECT_TRUE(window->isVisible()) << c.topic;
        EXPECT_EQ(window->Browser().source().fileName(), QString::fromUtf8(c.page)) << c.topic;
        EXPECT_FALSE(window->Browser().toPlainText().isEmpty()) << c.topic;
    }
    // The tool bar goes back, forward and to the contents; a closed window
    // comes back.
    for (const auto& [action, page] : {std::pair{"back", "urledit.html"}, {"forward", "OptMisc.html"},
                                       {"contents", "index.html"}}) {
        first->findChild<QAction*>(action)->trigger();
        EXPECT_EQ(first->Browser().source().fileName(), QString::fromUtf8(page)) << action;
    }
    first->close();
    ShowHelpTopic(QStringLiteral("OptConnection.html"));
    EXPECT_EQ(CHelpWindow::Existing(), first);
    EXPECT_TRUE(first->isVisible());
    first->close();

    // Asked for from a modal dialog, the window stands beside it, whole on the
    // screen; it takes clicks, Escape closes it alone, and it stays open when
    // the dialog closes.
    QDialog modal;
    const QRect available = modal.screen()->availableGeometry();
    modal.setGeometry(available.left() + 20, available.top() + 40, 300, 300);
    modal.setModal(true);
    modal.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &modal);
    ShowHelpTopic(QStringLiteral("OptMisc.html"));
    ASSERT_TRUE(first->isVisible());
    EXPECT_TRUE(available.contains(first->frameGeometry())) << first->frameGeometry().x();
    EXPECT_FALSE(first->frameGeometry().intersects(modal.frameGeometry()));
    EXPECT_EQ(first->frameGeometry().top(), modal.frameGeometry().top());
    // Through the window system, where a modal dialog blocks other windows.
    QWidget* button = first->findChild<QToolBar*>()->widgetForAction(first->findChild<QAction*>("contents"));
    QTest::mouseClick(first->windowHandle(), Qt::LeftButton, {}, button->mapTo(first, button->rect().center()));
    EXPECT_EQ(first->Browser().source().fileName(), QStringLiteral("index.html"));
    QTest::keyClick(&first->Browser(), Qt::Key_Escape);
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(modal.isVisible());
    ShowHelpTopic(QStringLiteral("OptMisc.html"));
    modal.hide();
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_TRUE(first->isVisible());
}

// Beside the anchor on the side with room, narrowed to fit, over the anchor
// when neither side has room; the frame always whole on the screen.
TEST(HelpWindow, PlacementBesideItsParentStaysOnTheScreen)
{
    const QRect screen(0, 0, 1600, 1000);
    const QMargins frame(2, 30, 2, 2);
    const struct {
        QRect anchor;
        QSize size;
        QRect placed; // the client rectangle
    } cases[] = {
        {{100, 100, 500, 400}, {640, 520}, {602, 130, 640, 520}},   // right
        {{1000, 100, 500, 400}, {640, 520}, {358, 130, 640, 520}},  // left: more room there
        {{100, 700, 500, 300}, {640, 520}, {602, 478, 640, 520}},   // lifted onto the screen
        {{400, 0, 900, 900}, {640, 520}, {2, 30, 396, 520}},        // narrowed to the room on the left
        {{200, 0, 1300, 900}, {640, 1200}, {858, 30, 640, 968}},    // no room: over it, shortened
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlaceBeside(c.anchor, c.size, frame, screen, 320), c.placed) << c.anchor.x();
}

// The About box names the program's version and the run-time libraries of
// this process, in a fixed order, with their own versions.
TEST(AboutBox, ShowsTheVersionAndTheLoadedLibraries)
{
    CAboutDlg about;
    EXPECT_TRUE(about.Version().startsWith(QStringLiteral("v" ZORV_VERSION "."))) << "as zorv --version";
    const QRegularExpression date(QStringLiteral(R"(^[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}$)"));
    EXPECT_TRUE(date.match(about.Date()).hasMatch()) << about.Date().toStdString();

    const QStringList lines = about.Modules().split('\n');
    const struct { const char* soname; QString version; } expected[] = {
        {"libQt6Core.so", qVersion()},
        {"libQt6Widgets.so", qVersion()},
        {"libcurl.so", curl_version_info(CURLVERSION_NOW)->version},
        {"libc.so", gnu_get_libc_version()},
    };
    ASSERT_EQ(lines.size(), 2 * std::size(expected) + 1) << about.Modules().toStdString();
    for (qsizetype i = 0; i < qsizetype(std::size(expected)); ++i) {
        const QStringList name = lines[2 * i].split('\t');
        const QStringList facts = lines[2 * i + 1].split('\t'); // the second line starts with a tab
        ASSERT_TRUE(name.size() == 2 && facts.size() == 3) << lines[2 * i].toStdString();
        EXPECT_TRUE(name[0].startsWith(expected[i].soname)) << name[0].toStdString();
        EXPECT_EQ(facts.mid(0, 2), (QStringList{QString(), expected[i].version})) << expected[i].soname;
        EXPECT_TRUE(date.match(facts[2]).hasMatch()) << facts[2].toStdString();
    }
    EXPECT_EQ(lines.last(), QString());

    // A library that is not loaded adds nothing.
    std::vector<std::string> loaded = LoadedLibraryPaths();
    std::erase_if(loaded, [](const std::string& p) { return p.find("libQt6Widgets") != std::string::npos; });
    const std::vector<CModuleFacts> without = ModuleFacts(loaded);
    ASSERT_EQ(without.size(), 3u);
    EXPECT_EQ(without[1].version, curl_version_info(CURLVERSION_NOW)->version);
}

// File dates in the 24-character asctime form, with English names whatever
// the locale.
TEST(AboutBox, DatesInTheAscTimeForm)
{
    const struct { int year, month, day, hour, minute, second; const char* text; } cases[] = {
        {1980, 1, 2, 2, 3, 55, "Wed Jan 02 02:03:55 1980"},
        {2024, 2, 29, 0, 0, 0, "Thu Feb 29 00:00:00 2024"},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& c : cases) {
        const QDateTime when(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, c.second));
        const std::time_t secs = when.toSecsSinceEpoch();
        std::tm t{};
        ASSERT_NE(localtime_r(&secs, &t), nullptr);
        EXPECT_EQ(FormatAscTime(t), c.text);
        // A file's modification time, in local time.
        QFile file(dir.filePath(QStringLiteral("f")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.setFileTime(when, QFileDevice::FileModificationTime));
        file.close();
        EXPECT_EQ(FileDateText(file.fileName().toStdString()), c.text);
    }
    EXPECT_EQ(FileDateText(dir.filePath(QStringLiteral("missing")).toStdString()), std::nullopt);
}

} // namespace
} // namespace zorv::test
