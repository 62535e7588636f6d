#pragma once
// CFolderDialog: "フォルダの参照", the modal folder browser behind every
// browse button that asks for a destination folder. It shows the folders of
// the file system as a tree whose top node is the root "/", lets the user
// create a folder in the selected one and rename folders in place, and hands
// back the path of the last folder selected.
//
// Use: construct, SetPath(current destination), SetPrompt(text), exec(); on
// QDialog::Accepted GetPath() is the chosen folder.
#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QFileIconProvider;
class QFileSystemModel;
class QLabel;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace zorv {

class CFolderDialog : public QDialog {
    Q_OBJECT
public:
    // Shows an error box: caption, text. The default is a modal QMessageBox.
    using MessageHandler = std::function<void(const QString& caption, const QString& text)>;

    explicit CFolderDialog(QWidget* parent = nullptr);
    ~CFolderDialog() override;

    // In: the folder to preselect when the dialog opens ("" or "/" selects the
    // root). Out: the last folder the user selected; unchanged while nothing
    // has been selected (a requested folder that no longer exists is then
    // handed back as it came).
    void SetPath(const QString& path);
    QString GetPath() const { return m_strPath; }

    // The text above the tree, shown as given.
    void SetPrompt(const QString& prompt);
    QString GetPrompt() const;

    void SetMessageHandler(MessageHandler handler) { m_fnMessage = std::move(handler); }

    // "新規フォルダ": creates "新しいフォルダ" (else "新しいフォルダ (0)" …
    // "(98)") in the selected folder and starts renaming it in the tree as
    // soon as the tree shows it.
    void OnNewFolder();

    QTreeView* Tree() const { return m_pTree; }
    QFileSystemModel* Model() const { return m_pModel; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* NewFolderButton() const { return m_pNewFolder; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Preselect();
    void OnSelectionChanged();
    void OnDirectoryLoaded(const QString& dir);
    void OnFileRenamed(const QString& dir, const QString& oldName, const QString& newName);
    void OnRowsInserted(const QModelIndex& parent, int first, int last);
    void SelectIndex(const QModelIndex& index);

    std::unique_ptr<QFileIconProvider> m_pIcons;
    QFileSystemModel* m_pModel;
    QLabel* m_pPrompt;
    QTreeView* m_pTree;
    QPushButton* m_pNewFolder;
    QPushButton* m_pOk;
    QPushButton* m_pCancel;
    QString m_strPath;
    MessageHandler m_fnMessage;
    // A folder just made, to be edited once its node is in the tree.
    QString m_strPendingEdit;
    // Folders whose listing may still move the preselected node: the view
    // scrolls to it again each time one of them has been read.
    QStringList m_scrollAfterLoad;
    // The view keeps the preselected folder in sight while the folders above
    // it are read and sorted, until the user scrolls or clicks.
    bool m_bFollowSelection = false;
    bool m_bShown = false;
    bool m_bClosing = false;
};

// What every browse button for a destination does: the folder browser over
// `parent`, preselecting `current`, with the prompt "Destination Foler".
// The chosen folder, or nothing when cancelled.
std::optional<QString> ChooseDestinationFolder(QWidget* parent, const QString& current);

} // namespace zorv
