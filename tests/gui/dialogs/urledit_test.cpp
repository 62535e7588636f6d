// The URL edit dialog in its three modes, and the commands of the window
// that add URLs: New (with patterns), Edit of one and of several items, and
// Import.
#include "dialogs/urleditdlg.h"
#include "gui/controls.h"
#include "gui/window/window.h"
#include "res/resource.h"
#include "res/strings.h"
#include "settings/options.h"
#include "support/tempsettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

namespace zorv::test {
namespace {

class UrlEditDialogTest : public SettingsTest {
protected:
    void SetUp() override
    {
        settings.Options().DefaultDestination = settings.Dir().toStdString();
        settings.Options().DefaultFnameLevel = 2;
    }
    // A dialog shown without a modal loop, its messages and questions hooked.
    std::unique_ptr<CUrlEditDialog> Open(CUrlEditDialog::Mode mode, const CUrlFields& preset = {})
    {
        auto dialog = std::make_unique<CUrlEditDialog>(mode, nullptr);
        if (mode == CUrlEditDialog::MODE_EDIT || !preset.url.empty())
            dialog->SetValues(preset);
        dialog->SetMessageHook([this](const QString& text) { messages << text; });
        dialog->SetQuestionHook([this](const QString& text) { return questions << text, yes; });
        dialog->show();
        return dialog;
    }
    QStringList messages;
    QStringList questions;
    bool yes = false;
};

TEST_F(UrlEditDialogTest, ModesStartFromTheirValues)
{
    const CUrlFields item{"http://h/a/b.zip", "http://ref/", "/dl/a", "b.zip", 0};
    struct Case {
        CUrlEditDialog::Mode mode;
        QStringList fields; // URL, Referer, destination, file name, level
        bool urlEnabled;
    };
    const QString dir = settings.Dir();
    const Case cases[] = {
        {CUrlEditDialog::MODE_NEW, {"", "", dir, "", "2"}, true},
        {CUrlEditDialog::MODE_EDIT, {"http://h/a/b.zip", "http://ref/", "/dl/a", "b.zip", "2"}, true},
        {CUrlEditDialog::MODE_MULTI_EDIT, {"", "http://ref/", "/dl/a", "b.zip", "2"}, false},
    };
    const int ids[] = {res::IDC_URLEDIT_URL, res::IDC_URLEDIT_REFERER, res::IDC_URLEDIT_DESTINATION,
                       res::IDC_URLEDIT_FILENAME, res::IDC_URLEDIT_LEVEL};
    for (const Case& c : cases) {
        auto dialog = Open(c.mode, c.mode == CUrlEditDialog::MODE_NEW ? CUrlFields{} : item);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(Text(*dialog, ids[i]), c.fields[i]) << c.mode << " field " << ids[i];
        EXPECT_EQ(Control(*dialog, res::IDC_URLEDIT_URL)->isEnabled(), c.urlEnabled) << c.mode;
    }
    // With no default destination, new mode starts at the fallback folder.
    settings.Options().DefaultDestination.clear();
    EXPECT_EQ(Text(*Open(CUrlEditDialog::MODE_NEW), res::IDC_URLEDIT_DESTINATION).toStdString(),
              DefaultItemDestination());
}

// OK needs an unsigned folder level (no upper bound) and, in new mode, a URL
// that can be added; a refusal says why and keeps the dialog open.
TEST_F(UrlEditDialogTest, OkRefusesWhatCannotBeAddedAndSaysWhy)
{
    struct Case {
        CUrlEditDialog::Mode mode;
        const char* url;
        const char* level;
        bool yes;         // the answer to a question
        bool accepted;
        const char* told; // part of the message or question
    };
    const Case cases[] = {
        {CUrlEditDialog::MODE_EDIT, "http://h/a", "abc", false, false, "フォルダレベル"},
        {CUrlEditDialog::MODE_MULTI_EDIT, "", "-1", false, false, "フォルダレベル"},
        {CUrlEditDialog::MODE_EDIT, "not checked here", "300", false, true, nullptr},
        {CUrlEditDialog::MODE_NEW, "   ", "0", false, false, "URLを入力"},
        {CUrlEditDialog::MODE_NEW, "mailto:a@b", "0", false, false, "http、https、ftp"},
        {CUrlEditDialog::MODE_NEW, "http://h/*1.30000000.1d*", "0", true, false, "30000000"},
        {CUrlEditDialog::MODE_NEW, "http://h/*1.20000.1d*", "0", false, false, "20000"},
        {CUrlEditDialog::MODE_NEW, "http://h/*1.20000.1d*", "0", true, true, "20000"},
        {CUrlEditDialog::MODE_NEW, "http://h/*1.3.1d*", "4294967295", false, true, nullptr},
        // One URL per line: refused lines are named, the others added on a yes.
        {CUrlEditDialog::MODE_NEW, "http://h/a\r\nmailto:x\n\nhttp://h/b", "0", true, true, "mailto:x （"},
        {CUrlEditDialog::MODE_NEW, "http://h/a\nmailto:x", "0", false, false, "mailto:x （"},
        {CUrlEditDialog::MODE_NEW, "mailto:x\nhttp://h/*1.30000000.1d*", "0", true, false, "*1.30000000.1d* （"},
    };
    for (const Case& c : cases) {
        messages.clear();
        questions.clear();
        yes = c.yes;
        auto dialog = Open(c.mode);
        Type(*dialog, res::IDC_URLEDIT_URL, QString::fromUtf8(c.url));
        Type(*dialog, res::IDC_URLEDIT_LEVEL, QString::fromLatin1(c.level));
        Click(*dialog, 1);
        const QString context = QString::fromUtf8(c.url) + QLatin1Char(' ') + QString::fromLatin1(c.level);
        EXPECT_EQ(dialog->result() == QDialog::Accepted, c.accepted) << context.toStdString();
        EXPECT_EQ(dialog->isVisible(), !c.accepted) << context.toStdString();
        const QStringList told = messages + questions;
        if (c.told) {
            ASSERT_EQ(told.size(), 1) << context.toStdString();
            EXPECT_TRUE(told[0].contains(QString::fromUtf8(c.told))) << told[0].toStdString();
        } else {
            EXPECT_TRUE(told.isEmpty()) << context.toStdString();
        }
    }
    // Typed, the level takes digits only.
    auto typed = Open(CUrlEditDialog::MODE_NEW);
    QLineEdit* level = Control(*typed, res::IDC_URLEDIT_LEVEL);
    level->clear();
    QTest::keyClicks(level, QStringLiteral("a1-b2 "));
    EXPECT_EQ(level->text(), QStringLiteral("12"));
}

TEST_F(UrlEditDialogTest, BrowseOffersAFolderOrWhereTheFileGoes)
{
    QStringList asked;
    const auto hook = [&](CUrlEditDialog& dialog, const QString& answer) {
        dialog.SetFolderChooser([&, answer](const QString& current) -> std::optional<QString> {
            asked << QStringLiteral("folder ") + current;
            return answer;
        });
        dialog.SetFileChooser([&, answer](const QString& initial) -> std::optional<QString> {
            asked << QStringLiteral("file ") + initial;
            return answer;
        });
    };
    const QString dir = settings.Dir();
    // New and multi-edit: the folder browser.
    for (const auto mode : {CUrlEditDialog::MODE_NEW, CUrlEditDialog::MODE_MULTI_EDIT}) {
        asked.clear();
        auto dialog = Open(mode);
        Type(*dialog, res::IDC_URLEDIT_DESTINATION, dir);
        hook(*dialog, QStringLiteral("/picked"));
        Click(*dialog, res::IDC_URLEDIT_BROWSE);
        EXPECT_EQ(asked, QStringList{QStringLiteral("folder ") + dir});
        EXPECT_EQ(Text(*dialog, res::IDC_URLEDIT_DESTINATION), QStringLiteral("/picked"));
    }
    // Edit: the file dialog, in the existing destination at the item's file,
    // or at the destination text; the choice gives folder and file name.
    struct Case { QString destination; QString initial; };
    for (const Case& c : {Case{dir, dir + QStringLiteral("/b.zip")},
                          Case{QStringLiteral("/no/such/dir"), QStringLiteral("/no/such/dir")}}) {
        asked.clear();
        auto dialog = Open(CUrlEditDialog::MODE_EDIT, {"http://h/b.zip", "", c.destination.toStdString(), "b.zip", 0});
        hook(*dialog, QStringLiteral("/other/place/c.bin"));
        Click(*dialog, res::IDC_URLEDIT_BROWSE);
        EXPECT_EQ(asked, QStringList{QStringLiteral("file ") + c.initial});
        EXPECT_EQ(Text(*dialog, res::IDC_URLEDIT_DESTINATION), QDir::toNativeSeparators(QStringLiteral("/other/place")));
        EXPECT_EQ(Text(*dialog, res::IDC_URLEDIT_FILENAME), QStringLiteral("c.bin"));
    }
}

TEST(FileDialogFilter, TableFormBecomesQtForm)
{
    EXPECT_EQ(res::FileDialogFilter(res::LoadString(res::IDS_IMPORT_FILTER)),
              QStringLiteral("その他のファイル (*.wrg *.grx *.txt);;すべてのファイル (*)"));
    EXPECT_EQ(res::FileDialogFilter(QStringLiteral("All Files(*.*)|*.*||")), QStringLiteral("All Files (*)"));
}

// ---- the commands of the window --------------------------------------------

class UrlCommandTest : public WindowTest {
protected:
    bool Start()
    {
        if (!WindowTest::Start())
            return false;
        Options().DefaultDestination = settings.Dir().toStdString();
        Options().DefaultFnameLevel = 0;
        return true;
    }
    // Runs a command (or presses its key) whose URL edit dialog `drive`
    // fills in and closes (a dialog left open is cancelled so the test goes
    // on).
    void RunDialog(int id, const std::function<void(CUrlEditDialog&)>& drive, Qt::Key key = Qt::Key_unknown)
    {
        if (key != Qt::Key_unknown)
            Activate();
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CUrlEditDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            inDialog = View().InDialog();
            drive(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the dialog is still open";
                dialog->reject();
            }
        });
        if (key == Qt::Key_unknown) {
            Run(id);
        } else {
            QTest::keyClick(&View(), key);
        }
        EXPECT_FALSE(View().InDialog());
    }
    bool inDialog = false;
};

// New: each line is a URL to add, a pattern adds its run in order, queued;
// the destination check follows. Clipboard capture waits while the dialog is
// open. (Refusals are the dialog's own, above; the run's order the pattern's.)
TEST_F(UrlCommandTest, NewAddsAPatternRunInOrder)
{
    ASSERT_TRUE(Start());
    answers = {IDYES, IDYES};
    Run(res::ID_MONITOR_CLIPBOARD);
    RunDialog(res::ID_EDIT_NEW, [&](CUrlEditDialog& dialog) {
        QGuiApplication::clipboard()->setText(QStringLiteral("http://copied/while-open"));
        QCoreApplication::processEvents();
        // Two lines, as pasted from a list of links.
        Type(dialog, res::IDC_URLEDIT_URL, QStringLiteral("http://web/a*1.2.1d*/img.jpg\nhttp://web/a1/c.zip"));
        Type(dialog, res::IDC_URLEDIT_REFERER, QStringLiteral("http://web/"));
        Type(dialog, res::IDC_URLEDIT_LEVEL, QStringLiteral("1"));
        Click(dialog, 1);
    }, Qt::Key_Insert);
    EXPECT_TRUE(inDialog);
    EXPECT_EQ(UrlsFrom(0),
              (std::vector<std::string>{"http://web/a1/img.jpg", "http://web/a2/img.jpg", "http://web/a1/c.zip"}));
    EXPECT_TRUE(Doc().GetItemCount(true) == 3 && Doc().IsModified());
    EXPECT_EQ(std::pair(Doc().GetItem(1)->m_strReferer, Doc().GetItem(1)->m_strDestination),
              std::pair(std::string("http://web/"), settings.Path(QStringLiteral("a2")).toStdString()));
    // The check offered to create the two mirrored folders.
    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[0].arg, settings.Path(QStringLiteral("a1")).toStdString());
    EXPECT_TRUE(QDir(settings.Path(QStringLiteral("a2"))).exists());

    // Capture goes on once the dialog is closed.
    QGuiApplication::clipboard()->setText(QStringLiteral("http://copied/after"));
    ASSERT_TRUE(RunUntil([&] { return Doc().GetCount() == 4; }));
    EXPECT_EQ(UrlsFrom(3), std::vector<std::string>{"http://copied/after"});
}

// Edit of one item: its values in the dialog, an empty file name derived
// with the level; of several: the URL field disabled, only filled fields.
TEST_F(UrlCommandTest, EditChangesOneOrSeveralItems)
{
    ASSERT_TRUE(Start());
    Fill("abc");
    Doc().SetModifiedFlag(false);
    Select("b");
    RunDialog(res::ID_EDIT_EDIT, [&](CUrlEditDialog& dialog) {
        EXPECT_EQ(dialog.GetMode(), CUrlEditDialog::MODE_EDIT);
        EXPECT_EQ(Text(dialog, res::IDC_URLEDIT_URL), QStringLiteral("http://host/b"));
        EXPECT_EQ(Text(dialog, res::IDC_URLEDIT_FILENAME), QStringLiteral("b"));
        Type(dialog, res::IDC_URLEDIT_URL, QStringLiteral("http://host/x/y.bin"));
        Type(dialog, res::IDC_URLEDIT_FILENAME, QString());
        Type(dialog, res::IDC_URLEDIT_LEVEL, QStringLiteral("1"));
        Click(dialog, 1);
    }, Qt::Key_Return);
    EXPECT_TRUE(inDialog);
    const CItem& b = *Doc().GetItem(1);
    EXPECT_EQ(std::tuple(b.m_strUrl, b.m_strFileName, b.m_strDestination),
              std::tuple(std::string("http://host/x/y.bin"), std::string("y.bin"),
                         settings.Path(QStringLiteral("x")).toStdString()));
    EXPECT_TRUE(Doc().IsQueued(&b) && Doc().IsModified());
    EXPECT_EQ(prompts.size(), 1u) << "the destination check ran";

    Select("ac");
    RunDialog(res::ID_EDIT_EDIT, [&](CUrlEditDialog& dialog) {
        EXPECT_FALSE(Control(dialog, res::IDC_URLEDIT_URL)->isEnabled());
        Type(dialog, res::IDC_URLEDIT_REFERER, QStringLiteral("http://ref/"));
        Click(dialog, 1);
    });
    EXPECT_EQ(Names(), "ay.binc");
    for (const int r : {0, 1, 2})
        EXPECT_EQ(std::pair(Doc().GetItem(r)->m_strReferer, Doc().GetItem(r)->m_strDestination == settings.Dir().toStdString()),
                  std::pair(std::string(r == 1 ? "" : "http://ref/"), r != 1)) << r;
}

// Import: the filter of the string table, the folder of the last import; a
// failed import is told once and the list is marked modified anyway.
TEST_F(UrlCommandTest, ImportStartsInTheLastFolderAndTellsAFailureOnce)
{
    ASSERT_TRUE(Start());
    QStringList asked;
    QString answer;
    View().SetImportChooser([&](const QString& folder, const QString& filter) {
        asked << folder + QLatin1Char('|') + filter;
        return answer;
    });
    View().SetErrorHook([&](const QString& text) { errors << text; });
    const QString filter = res::FileDialogFilter(res::LoadString(res::IDS_IMPORT_FILTER));

    Run(res::ID_FILE_IMPORT); // cancelled
    EXPECT_FALSE(Doc().IsModified());
    ASSERT_TRUE(QDir(settings.Dir()).mkpath(QStringLiteral("lists")));
    answer = settings.Path(QStringLiteral("lists/nodot")); // no extension: not a list it can read
    Run(res::ID_FILE_IMPORT);
    EXPECT_EQ(errors, QStringList{res::LoadString(res::IDS_IMPORT_FAILED)});
    EXPECT_TRUE(Doc().IsModified());
    // A refused SaveAs= is told with its lines; the rest is imported.
    answer = settings.Path(QStringLiteral("lists/l.wrg"));
    ASSERT_TRUE(WriteFileBytes(answer, "StoreIn=/d\nSaveAs=../x\nUrl=http://h/a\nStoreIn=/d\nSaveAs=/y\nUrl=http://h/b\n"));
    errors.clear();
    Run(res::ID_FILE_IMPORT);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(answer) && errors[0].endsWith(QStringLiteral("2 行目、5 行目")))
        << errors[0].toStdString();
    EXPECT_EQ(Doc().GetCount(), 2);
    EXPECT_EQ(asked, (QStringList{QLatin1Char('|') + filter, QLatin1Char('|') + filter,
                                  settings.Path(QStringLiteral("lists")) + QLatin1Char('|') + filter}));
}

} // namespace
} // namespace zorv::test
