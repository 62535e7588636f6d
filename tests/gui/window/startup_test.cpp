// Start-up, the command line, the recent-file list, dropped files, closing
// and what survives a restart.
#include "window.h"

#include "cli/nativehost.h"
#include "model/listowner.h"
#include "settings/profile.h"
#include "settings/options.h"
#include "settings/store.h"
#include "support/childprocess.h"
#include "support/http_server.h"

#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QUrl>

namespace zorv::test {
namespace {

class StartupTest : public WindowTest {
protected:
    // A list file with the given URLs; items of `fetched` rows are stored as
    // fetched, the others as not fetched.
    QString MakeList(const QString& name, const std::vector<std::string>& urls, std::vector<int> fetched = {})
    {
        CZorvDoc doc;
        for (const auto& url : urls)
            EXPECT_NE(doc.AddUrl(url, "", settings.Dir().toStdString(), "", 0), nullptr);
        for (int r : fetched)
            doc.GetItem(r)->SetState(STATE_FETCHED);
        const QString path = settings.Path(name);
        QString error;
        EXPECT_TRUE(doc.OnSaveDocument(path, &error)) << error.toStdString();
        return path;
    }
    // The value under `group`/`key` in the settings store.
    QVariant Stored(const QString& group, const QString& key)
    {
        auto store = OpenSettingsStore();
        store->beginGroup(group);
        return store->value(key);
    }
};

// No argument: an empty untitled list; a list argument is opened with its
// unfetched items queued; a list that cannot be opened (missing, not a
// list) ends the start with one message.
TEST_F(StartupTest, ArgumentIsOpenedAndQueuedOrEndsTheStartWithAMessage)
{
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Frame().isVisible() && errors.isEmpty());
    EXPECT_TRUE(Doc().GetCount() == 0 && Doc().GetPathName().isEmpty());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("無題 - zorv"));
    for (int size : {16, 32, 48})
        EXPECT_EQ(Frame().windowIcon().pixmap(size).size(), QSize(size, size)) << size;
    // Qt's own dialogs speak Japanese too.
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Cancel);
    EXPECT_TRUE(box.button(QMessageBox::Cancel)->text().contains(QStringLiteral("キャンセル")));
    Stop();

    const QString path = MakeList(QStringLiteral("start.zorv"),
                                  {"http://host/a", "http://host/b", "http://host/c"}, {1});
    ASSERT_TRUE(Start({path}));
    ASSERT_EQ(Doc().GetCount(), 3);
    EXPECT_TRUE(Doc().GetPathName() == path && Doc().GetItemCount(true) == 2); // the fetched item is not queued
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("start.zorv - zorv"));
    EXPECT_EQ(app->RecentFiles(), QStringList{path});
    Stop();

    const QString missing = settings.Path(QStringLiteral("missing.zorv"));
    const QString junk = settings.Path(QStringLiteral("junk.zorv")); // not a list
    ASSERT_TRUE(WriteFileBytes(junk, "not a list at all"));
    for (const QString& bad : {missing, junk}) {
        errors.clear();
        EXPECT_FALSE(Start({bad}));
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(bad == junk || errors[0].contains(bad)) << errors[0].toStdString();
        Stop();
    }
}

// The real executable where no display can be opened: a mistyped option or
// a second list is a usage error, not a failed window; Qt's own options
// still reach the window.
TEST(CommandLine, WindowArgumentsAreCheckedBeforeTheDisplay)
{
    CTempSettings settings;
    CChildProcess::Options options; // the run's private XDG_RUNTIME_DIR: the window's hand-off is found
    options.env = PrivateHomeEnv(settings.Dir()) << "QT_QPA_PLATFORM=";
    options.stderrFile = settings.Path(QStringLiteral("stderr.txt"));
    const QString list = settings.Path(QStringLiteral("l.zorv"));
    for (const QStringList& args : {QStringList{"--fecth", list}, QStringList{"-fecth"}, QStringList{list, list},
                                    QStringList{"--platform=offscreen"}, QStringList{"-platform"},
                                    QStringList{"-platform", "offscreen", "-reverse"}}) {
        CChildProcess zorv;
        QString why;
        ASSERT_TRUE(zorv.Start(QStringLiteral(ZORV_EXE), args, options, &why)) << why.toStdString();
        if (args.contains("-reverse")) { // Qt's options are the window's: it comes up and answers
            QJsonObject reply;
            EXPECT_TRUE(RunUntil([&] { return SendToOwner(WindowHandOffPath(), {{"command", "none"}}, &reply)
                                                  == HandOff::Answered; }, 30000))
                << ReadFileBytes(options.stderrFile).toStdString();
            continue;
        }
        EXPECT_EQ(zorv.Wait(30000), 2) << args.join(' ').toStdString();
        const QByteArray err = ReadFileBytes(options.stderrFile);
        EXPECT_TRUE(err.startsWith("zorv: ") && err.contains("\nUsage:")) << err.toStdString();
    }
}

TEST_F(StartupTest, RecentFileListKeepsTheFourNewestAndSurvivesRestart)
{
    ASSERT_TRUE(Start());
    QStringList paths;
    for (int i = 1; i <= 5; ++i) {
        paths << MakeList(QStringLiteral("l%1.zorv").arg(i), {"http://host/x"});
        ASSERT_TRUE(app->OpenDocumentFile(paths.back()));
    }
    // Opening one again brings it to the front without a duplicate.
    ASSERT_TRUE(app->OpenDocumentFile(paths[2]));
    const QStringList recent{paths[2], paths[4], paths[3], paths[1]};
    EXPECT_EQ(app->RecentFiles(), recent);
    Stop();
    EXPECT_EQ(Stored(QStringLiteral("Recent File List"), QStringLiteral("File4")).toString(), paths[1]);
    ASSERT_TRUE(Start());
    EXPECT_EQ(app->RecentFiles(), recent);
    // The File menu lists them as commands 57616...; choosing one opens it.
    EXPECT_TRUE(Act(res::ID_FILE_MRU_FILE1 + 1).text().startsWith(QStringLiteral("&2 ")));
    Run(res::ID_FILE_MRU_FILE1 + 1);
    EXPECT_EQ(Doc().GetPathName(), paths[4]);
    // A list that has gone away leaves the recent-file list when chosen.
    ASSERT_TRUE(QFile::remove(paths[3]));
    Run(res::ID_FILE_MRU_FILE1 + 2);
    EXPECT_EQ(errors.size(), 1);
    EXPECT_FALSE(app->RecentFiles().contains(paths[3]));
}

// A dropped list file opens; dropped links (a browser's uri-list, or plain
// text) are added like captured clipboard lines; other local files add
// nothing.
TEST_F(StartupTest, DroppedListFileOpensAndDroppedLinksAreAdded)
{
    const QString path = MakeList(QStringLiteral("dropped.zorv"), {"http://host/a", "http://host/b"});
    ASSERT_TRUE(Start());
    const auto drop = [&](QMimeData& mime) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QCoreApplication::sendEvent(&Frame(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&Frame(), &event);
    };
    QMimeData list;
    list.setUrls({QUrl::fromLocalFile(path)});
    drop(list);
    EXPECT_TRUE(Doc().GetPathName() == path && Doc().GetCount() == 2 && !Doc().IsModified());

    QMimeData links, text, other;
    links.setUrls({QUrl(QStringLiteral("http://web/x.zip")), QUrl::fromLocalFile(settings.Path(QStringLiteral("a.txt"))),
                   QUrl(QStringLiteral("ftp://web/y%20z.iso"))});
    text.setText(QStringLiteral("http://web/1.jpg\r\nnot a url\nmailto:a@b\nhttps://web/2.jpg"));
    other.setUrls({QUrl::fromLocalFile(settings.Path(QStringLiteral("other.txt")))});
    const int queued = Doc().GetItemCount(true);
    for (QMimeData* mime : {&links, &text, &other})
        drop(*mime);
    EXPECT_EQ(UrlsFrom(2), (std::vector<std::string>{"http://web/x.zip", "ftp://web/y%20z.iso", "http://web/1.jpg",
                                              "https://web/2.jpg"}));
    EXPECT_EQ(Doc().GetItemCount(true), queued + 4);
    EXPECT_TRUE(Doc().IsModified() && Doc().GetPathName() == path);
}

TEST_F(StartupTest, ClosingAModifiedListAsksToSave)
{
    ASSERT_TRUE(Start());
    Fill("ab");
    Doc().SetModifiedFlag(true);
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("無題 * - zorv"));
    saveAnswer = QMessageBox::Cancel;
    EXPECT_FALSE(Frame().close());
    EXPECT_TRUE(questions.size() == 1 && Frame().isVisible() && Doc().GetCount() == 2);

    // Yes saves through the file chooser before the window closes.
    saveAnswer = QMessageBox::Yes;
    chosenFile = settings.Path(QStringLiteral("saved.zorv"));
    EXPECT_TRUE(Frame().close());
    EXPECT_TRUE(prompts.empty()) << "nothing runs: no question about transfers";
    CZorvDoc reread;
    ASSERT_TRUE(reread.OnOpenDocument(chosenFile, nullptr));
    EXPECT_EQ(reread.GetCount(), 2);
}

// The open and save dialogs start in the folder of the open list, else of
// the most recent one; a list with a name is saved under its own path.
TEST_F(StartupTest, FileDialogsStartInTheFolderOfTheLastList)
{
    const QString folder = settings.Path(QStringLiteral("lists"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(Start());
    QStringList asked;
    app->UI().chooseFile = [&](bool forSave, const QString& current) {
        asked << QStringLiteral("%1 %2").arg(forSave ? "save" : "open", current);
        return forSave ? chosenFile : QString();
    };
    chosenFile = folder + "/l.zorv";
    for (int id : {res::ID_FILE_OPEN, res::ID_FILE_SAVE_AS, res::ID_FILE_SAVE_AS, res::ID_FILE_NEW, res::ID_FILE_OPEN,
                   res::ID_FILE_SAVE_AS})
        Run(id);
    EXPECT_EQ(asked, (QStringList{"open ", "save ", "save " + chosenFile, "open " + folder, "save " + folder}));
}

// A failed automatic save is not silent: one warning naming the file, and
// the title keeps its mark. (The folder of the list does not exist;
// permissions would not stop a test run as root.)
TEST_F(StartupTest, FailedAutomaticSaveIsShownAndTheListStaysModified)
{
    ASSERT_TRUE(Start());
    Options().AutoSave = 1;
    Doc().SetPathName(settings.Path(QStringLiteral("gone/l.zorv")));
    Fill("b");
    Doc().SetModifiedFlag(true);
    ASSERT_TRUE(RunUntil([&] { return !warnings.isEmpty(); }));
    EXPECT_TRUE(warnings.size() == 1 && warnings[0].contains(QStringLiteral("l.zorv"))) << warnings.join('\n').toStdString();
    EXPECT_TRUE(Doc().IsModified() && errors.isEmpty());
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("l.zorv * - zorv"));
}

// Where QDesktopServices sends a URL: under the offscreen platform of the
// tests it runs no program, so the "file" scheme is caught here.
class CUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

// A fetched file is launched by the verb of the settings: "open" through the
// desktop services the window installs, another verb as the program of that
// name on PATH with the file as its argument.
TEST_F(StartupTest, FetchedFileIsLaunchedByTheVerb)
{
    CHttpServer server;
    server.Serve("/by-open.txt", "1");
    server.Serve("/by-viewer.txt", "2");
    ASSERT_TRUE(server.Start());
    const QString bin = settings.Path(QStringLiteral("bin"));
    const QString seen = settings.Path(QStringLiteral("viewer-saw.txt"));
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(WriteFileBytes(bin + "/zorv-test-viewer", "#!/bin/sh\nprintf %s \"$1\" > '" + seen.toUtf8() + "'\n"));
    ASSERT_TRUE(QFile::setPermissions(bin + "/zorv-test-viewer", QFile::ReadOwner | QFile::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.toUtf8() + ":" + path);
    CUrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    const auto restore = qScopeGuard([&] {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        qputenv("PATH", path);
    });

    ASSERT_TRUE(Start());
    Options().ExecAfterFetch = 1;
    const QString dir = settings.Dir();
    Options().ExecAction = "open";
    ASSERT_TRUE(Add(server.Url("/by-open.txt")));
    Run(res::ID_FETCH_START);
    EXPECT_TRUE(RunUntil([&] { return !catcher.urls.isEmpty(); }));
    EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(dir + "/by-open.txt")});

    Options().ExecAction = "zorv-test-viewer";
    ASSERT_TRUE(Add(server.Url("/by-viewer.txt")));
    EXPECT_TRUE(RunUntil([&] { return QFile::exists(seen) && !ReadFileBytes(seen).isEmpty(); }));
    EXPECT_EQ(ReadFileBytes(seen), (dir + "/by-viewer.txt").toUtf8());
    EXPECT_EQ(catcher.urls.size(), 1);
}

// ---- what survives a restart ---------------------------------------------------------

TEST_F(StartupTest, PlacementComesBackNormalAtTheSavedPosition)
{
    {
        auto store = OpenSettingsStore();
        store->setValue(QStringLiteral("Settings/WindowPlacement"), 1234);
    }
    ASSERT_TRUE(Start());
    EXPECT_EQ(Frame().size(), QSize(1080, 600)) << "a value of another type is ignored: the default size";
    const QRect normal(120, 90, 640, 420);
    Frame().setGeometry(normal);
    ASSERT_TRUE(RunUntil([&] { return Frame().geometry() == normal; }));
    Frame().showMaximized();
    ASSERT_TRUE(RunUntil([&] { return Frame().isMaximized(); }));
    Stop();

    const auto bytes = GetBinaryProfile(QStringLiteral("Settings"), QStringLiteral("WindowPlacement"), 44);
    const auto stored = bytes ? PlacementFromBytes(*bytes) : std::nullopt;
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->showCmd == SW_SHOWMAXIMIZED && stored->normal == normal) << stored->showCmd;

    // A start that fails (the list cannot be opened) leaves it alone.
    EXPECT_FALSE(Start({settings.Path(QStringLiteral("missing.zorv"))}));
    Stop();
    ASSERT_TRUE(Start());
    EXPECT_FALSE(Frame().isMaximized() || Frame().isMinimized());
    EXPECT_EQ(Frame().geometry(), normal);
    Stop();

    // Stored on a larger screen (or at a smaller scale): fitted into this one.
    WriteBinaryProfile(QStringLiteral("Settings"), QStringLiteral("WindowPlacement"),
                       PlacementToBytes({SW_SHOWNORMAL, QRect(300, 200, 2000, 1200)}));
    ASSERT_TRUE(Start());
    const QRect screen = Frame().screen()->availableGeometry();
    ASSERT_TRUE(RunUntil([&] { return screen.contains(Frame().frameGeometry()); }))
        << Frame().frameGeometry().width() << "x" << Frame().frameGeometry().height();
    EXPECT_GT(Frame().width(), screen.width() * 9 / 10);
}

TEST_F(StartupTest, ColumnWidthsFontAndOptionsSurviveRestart)
{
    ASSERT_TRUE(Start());
    QHeaderView* header = View().horizontalHeader();
    const int noteWidth = header->sectionSize(COL_NOTE);
    // The last column fills what the others leave of a wide window.
    Frame().resize(2000, 600);
    Frame().show();
    ASSERT_TRUE(RunUntil([&] { return header->sectionSize(COL_REFERER) > 600; }));
    header->resizeSection(COL_DESTINATION, 260);
    header->resizeSection(COL_URL, 333);

    // A cancelled font dialog changes and writes nothing.
    const QFont before = View().font();
    std::optional<QFont> offered = QFont(), chosen;
    View().SetFontChooser([&](const std::optional<QFont>& initial) {
        offered = initial;
        return chosen;
    });
    Run(res::ID_VIEW_FONT);
    EXPECT_FALSE(offered) << "no saved font: the dialog starts without one";
    EXPECT_EQ(View().font(), before);
    EXPECT_FALSE(Stored(QStringLiteral("ListView"), QStringLiteral("Font")).isValid());
    chosen = QFont(QStringLiteral("IPAGothic"));
    chosen->setPixelSize(19);
    chosen->setBold(true);
    Run(res::ID_VIEW_FONT);
    Options().Connections = 7;
    Options().DefaultDestination = "/srv/downloads";
    Stop();

    EXPECT_EQ(Stored(QStringLiteral("ListView"), QStringLiteral("URL")).toInt(), 333);
    EXPECT_EQ(Stored(QStringLiteral("ListView"), QStringLiteral("Font")).toByteArray().size(), 60);
    COptions reloaded; // the options are written back at exit
    EXPECT_EQ(std::pair(reloaded.Connections, reloaded.DefaultDestination), std::pair(7, std::string("/srv/downloads")));
    ASSERT_TRUE(Start());
    header = View().horizontalHeader();
    EXPECT_EQ(std::tuple(header->sectionSize(COL_DESTINATION), header->sectionSize(COL_URL), header->sectionSize(COL_NOTE)),
              std::tuple(260, 333, noteWidth));
    const QFont font = View().font();
    EXPECT_EQ(std::tuple(font.family(), font.pixelSize(), font.weight()), std::tuple(QStringLiteral("IPAGothic"), 19, QFont::Bold));
}

// A list open in a window is held by it: `zorv LIST` brings that window to
// the front instead of opening a second one, and `zorv --add LIST` hands its
// URLs to it. The native messaging host hands a browser's links to the
// window too, which comes to the front only when the message asks for it.
TEST_F(StartupTest, OtherZorvsHandOverToTheWindow)
{
    const QString list = MakeList(QStringLiteral("held.zorv"), {"http://h/a.bin"});
    ASSERT_TRUE(Start({list}));
    int raised = 0;
    QObject::connect(app.get(), &CZorvApp::Raised, [&] { ++raised; });
    QProcess p;
    const auto run = [&](const QStringList& args, const QByteArray& input = {}) {
        p.setProcessEnvironment(EnvironmentWith(PrivateHomeEnv(settings.Dir()) << "QT_QPA_PLATFORM=offscreen"));
        p.start(QStringLiteral(ZORV_EXE), args);
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(RunUntil([&] { return p.state() == QProcess::NotRunning; }, 30000)) << args.join(' ').toStdString();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        return p.exitCode();
    };
    EXPECT_EQ(run({list}), 0);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(run({"--add", "--dest", settings.Dir(), list, "http://h/b.bin"}), 0);
    EXPECT_EQ(UrlsFrom(0), (std::vector<std::string>{"http://h/a.bin", "http://h/b.bin"}));
    EXPECT_TRUE(Doc().GetItemCount(true) == 2 && Doc().IsModified());
    // The browser's links reach the window whatever list it has open.
    Run(res::ID_FILE_NEW);
    const auto send = [&](const char* url, bool front) {
        const QJsonObject link{{"url", url}, {"referrer", "http://page/"}};
        run({"--native-messaging", "chrome-extension://" ZORV_CHROMIUM_EXTENSION_ID "/"},
            NativeFrame({{"command", "add"}, {"front", front}, {"items", QJsonArray{link}}}));
        return QJsonDocument::fromJson(p.readAllStandardOutput().mid(4)).object().value("added").toInt();
    };
    EXPECT_EQ(send("http://h/c.bin", false), 1);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(send("https://h/d.bin", true), 1);
    EXPECT_EQ(raised, 2);
    ASSERT_EQ(UrlsFrom(0), (std::vector<std::string>{"http://h/c.bin", "https://h/d.bin"}));
    EXPECT_TRUE(Doc().GetItem(1)->m_strReferer == "http://page/" && Doc().GetItemCount(true) == 2);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

} // namespace
} // namespace zorv::test

#include "startup_test.moc"
