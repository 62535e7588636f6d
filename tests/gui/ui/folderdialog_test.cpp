// The folder browser on the real file system: preselection, new folders,
// renaming in place and the creation error boxes.
#include "ui/folderdialog.h"

#include "support/tempsettings.h"

#include <QDir>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>

#include <unistd.h>

namespace zorv::test {
namespace {

class FolderDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QDir(tmp.path()).mkpath("a/b/c"));
    }
    QString Path(const QString& rel) const { return tmp.filePath(rel); }
    // A new dialog asked for `path`, shown.
    void Open(const QString& path)
    {
        dlg = std::make_unique<CFolderDialog>();
        dlg->SetMessageHandler([this](const QString& caption, const QString& text) {
            boxes << caption + '|' + text;
        });
        dlg->SetPath(path);
        dlg->show();
    }
    QModelIndex Index(const QString& path) const { return dlg->Model()->index(path); }
    QString Selected() const
    {
        const QModelIndexList rows = dlg->Tree()->selectionModel()->selectedIndexes();
        return rows.isEmpty() ? QString() : dlg->Model()->filePath(rows.front());
    }
    // Every folder from "/" down to `path` is expanded in the tree.
    bool ExpandedDownTo(const QString& path) const
    {
        for (QModelIndex i = Index(path); i.isValid(); i = i.parent())
            if (!dlg->Tree()->isExpanded(i))
                return false;
        return Index(path).isValid();
    }
    // The node of a folder that the tree has read under "a" (asking the model
    // for a path would make the node itself).
    QModelIndex Child(const QString& name) const
    {
        const QModelIndex parent = Index(Path("a"));
        for (int row = 0; row < dlg->Model()->rowCount(parent); ++row)
            if (dlg->Model()->fileName(dlg->Model()->index(row, 0, parent)) == name)
                return dlg->Model()->index(row, 0, parent);
        return {};
    }
    QStringList Folders(const QString& rel) const
    {
        return QDir(Path(rel)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir tmp;
    std::unique_ptr<CFolderDialog> dlg;
    QStringList boxes;
};

// An existing folder is selected (a file or a missing one selects nothing and
// comes back as it went in), the folders above it expanded; an empty path
// selects the root and opens the home folder.
TEST_F(FolderDialogTest, PreselectionSelectsAnExistingFolderOrNothing)
{
    QFile file(Path("a/b/c/file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", Path("a/b").toUtf8());
    const struct { QString request, selected, expanded; } cases[] = {
        {Path("a/b/c"), Path("a/b/c"), Path("a/b")}, {Path("a/b/c/"), Path("a/b/c"), Path("a/b")},
        {Path("a/gone/deeper"), "", Path("a")},     {Path("a/b/c/file"), "", Path("a/b/c")},
        {"", "/", Path("a/b")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        Open(c.request);
        EXPECT_EQ(Selected(), c.selected);
        EXPECT_EQ(dlg->GetPath(), c.selected.isEmpty() ? c.request : c.selected);
        EXPECT_TRUE(ExpandedDownTo(c.expanded));
        EXPECT_TRUE(c.selected.size() < 2 || !dlg->Tree()->isExpanded(Index(c.selected)));
        EXPECT_TRUE(dlg->OkButton()->isEnabled());
    }
    qputenv("HOME", home);
}

TEST_F(FolderDialogTest, NewFolderNamesInTurnAndStartsRenaming)
{
    Open(Path("a"));
    for (int n = 0; n < 3; ++n)
        dlg->NewFolderButton()->click();
    EXPECT_EQ(Folders("a"), QStringList({"b", "新しいフォルダ", "新しいフォルダ (0)",
                                         "新しいフォルダ (1)"}));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    // The last one is renamed in the tree once the tree has read it; the
    // folder it was made in stays selected.
    QLineEdit* editor = nullptr;
    ASSERT_TRUE(RunUntil([&] {
        return (editor = qobject_cast<QLineEdit*>(dlg->Tree()->indexWidget(Child("新しいフォルダ (1)"))));
    }));
    EXPECT_EQ(Selected(), Path("a"));

    editor->setText(QStringLiteral("名前"));
    QTest::keyClick(editor, Qt::Key_Return); // commits once the event loop runs
    EXPECT_TRUE(RunUntil([&] { return Selected() == Path("a/名前"); }));
    EXPECT_EQ(dlg->GetPath(), Path("a/名前"));
    EXPECT_EQ(Folders("a"), QStringList({"b", "名前", "新しいフォルダ", "新しいフォルダ (0)"}));
}

// A failed new folder shows one box; when the selected folder could not be
// entered, the box gives that cause on a line of its own.
TEST_F(FolderDialogTest, NewFolderFailuresShowTheirBoxes)
{
    // A selected folder that has gone cannot be entered (whoever runs this).
    Open(Path("a/b/c"));
    ASSERT_TRUE(QDir(Path("a/b")).rmdir("c"));
    dlg->OnNewFolder();
    ASSERT_EQ(boxes.size(), 1);
    const QString failed = boxes[0].section('\n', 0, 0);
    EXPECT_FALSE(boxes[0].section('\n', 1).isEmpty()) << "the cause";
    if (geteuid() == 0)
        return; // permissions do not stop the superuser
    boxes.clear();
    ASSERT_TRUE(QFile::setPermissions(Path("a/b"), QFile::ReadOwner | QFile::ExeOwner));
    dlg->Tree()->selectionModel()->setCurrentIndex(Index(Path("a/b")), QItemSelectionModel::ClearAndSelect);
    dlg->OnNewFolder();
    QFile::setPermissions(Path("a/b"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(boxes, QStringList{failed});
    EXPECT_TRUE(Folders("a/b").isEmpty());
}

} // namespace
} // namespace zorv::test
