// The destination check in the window: the command asks through the
// window's questions and shows clash groups; the clash dialog keeps edits per
// entry; the question box maps its buttons onto the answers.
#include "window.h"

#include "gui/controls.h"
#include "res/strings.h"
#include "ui/messagebox.h"
#include "view/destcheckdlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace zorv::test {
namespace {

using DestCheckTest = WindowTest;

// The command asks its questions through the window and shows clash groups
// through the view; what the answers do to the items is the core's test.
TEST_F(DestCheckTest, CommandCreatesTheFolderAndResolvesTheClash)
{
    ASSERT_TRUE(Start());
    const std::string dest = settings.Dir().toStdString() + "/new/sub";
    for (const char* url : {"http://a/x/a.html", "http://b/y/a.html"})
        ASSERT_NE(Doc().AddUrl(url, "", dest, "", 0), nullptr);
    answers = {IDYES};
    int shown = 0;
    View().SetClashResolver([&](std::vector<CDestEntry>& entries) {
        ++shown;
        EXPECT_EQ(entries.size(), 2u);
        entries.back().fileName = "b.html";
        return true;
    });
    Run(res::ID_CHECK_DESTINATION);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_TRUE(prompts[0].textId == IDS_DEST_CREATE && prompts[0].arg == dest);
    EXPECT_TRUE(QDir(QString::fromStdString(dest)).exists() && shown == 1);
    EXPECT_EQ(Doc().GetItem(1)->m_strFileName, "b.html");
}

TEST_F(DestCheckTest, ClashDialogKeepsEditsPerEntryAndOkHandsThemBack)
{
    CDestCheckDialog dialog({{"http://h/1", "/d", "f"}, {"http://h/2", "/d", "f"}, {"http://h/3", "/d", "f"}},
                            nullptr);
    auto* urls = Control<QComboBox>(dialog, res::IDC_DESTCHECK_URLS);
    auto* dest = Control(dialog, res::IDC_DESTCHECK_DESTINATION);
    auto* name = Control(dialog, res::IDC_DESTCHECK_FILENAME);
    ASSERT_TRUE(urls && dest && name);
    EXPECT_EQ(std::pair(urls->count(), urls->currentIndex()), std::pair(3, 2)); // the last entry shows first

    name->setText(QStringLiteral("three"));
    urls->setCurrentIndex(0);
    EXPECT_EQ(name->text(), QStringLiteral("f"));
    name->clear();
    dialog.SetFolderChooser([](const QString& current) { return std::optional(current + QStringLiteral("/一")); });
    Click(dialog, res::IDC_DESTCHECK_BROWSE);
    EXPECT_EQ(dest->text(), QStringLiteral("/d/一"));
    urls->setCurrentIndex(2);
    EXPECT_EQ(name->text(), QStringLiteral("three"));
    Click(dialog, 1);

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const auto& e = dialog.Entries();
    EXPECT_EQ(e[0].destination + "|" + e[0].fileName + "|" + e[1].fileName + "|" + e[2].fileName, "/d/一||f|three");

    CDestCheckDialog ignored({{"http://h/1", "/d", "f"}, {"http://h/2", "/d", "f"}}, nullptr);
    Click(ignored, res::IDC_DESTCHECK_IGNORE);
    EXPECT_EQ(ignored.result(), QDialog::Rejected);
}

// The question box shows the table's caption, the argument on the last line
// of its text, and maps its buttons onto the answers.
TEST(QuestionBox, ShowsTheTableTextsAndMapsTheButtons)
{
    struct Case {
        PromptButtons buttons;
        QMessageBox::StandardButton press;
        int answer;
    };
    for (const Case c : {Case{PromptButtons::YesNoCancel, QMessageBox::Cancel, IDCANCEL},
                         Case{PromptButtons::YesNo, QMessageBox::No, IDNO},
                         Case{PromptButtons::YesNo, QMessageBox::Yes, IDYES}}) {
        QString seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen = box->windowTitle() + "|" + box->text().section('\n', -1) + (box->button(QMessageBox::Cancel) ? "|cancel" : "");
            box->button(c.press)->click();
        });
        EXPECT_EQ(AskUser(nullptr, {IDS_DEST_CONFIRM, IDS_DEST_CREATE_FAILED, "/x/y", c.buttons, PromptIcon::Error}),
                  c.answer);
        EXPECT_EQ(seen, res::LoadString(IDS_DEST_CONFIRM) + "|/x/y" + (c.buttons == PromptButtons::YesNoCancel ? "|cancel" : ""));
    }
}

} // namespace
} // namespace zorv::test
