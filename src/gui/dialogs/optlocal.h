#pragma once
// COptLocal: "ローカルファイル", the default destination folder (with "参照"),
// the default folder level, and what a download does with a file of its name
// that is not its own (ExistingFile).
#include "dialogs/optpage.h"

#include <QComboBox>

#include <functional>
#include <optional>

namespace zorv {

class COptLocal : public COptPage {
    Q_OBJECT
public:
    // Asks for a folder, starting at `current`; nothing when cancelled.
    // Default: CFolderDialog with the prompt "Destination Foler".
    using FolderChooser = std::function<std::optional<QString>(const QString& current)>;

    COptLocal(COptions& options, QWidget* parent);
    QString HelpTopic() const override { return QStringLiteral("OptLocal.html"); }

    void SetFolderChooser(FolderChooser choose) { m_chooseFolder = std::move(choose); }
    // "参照": the page's input must validate first.
    void OnBrowse();

protected:
    void OnInitPage() override;
    bool OnKillActive() override;

private:
    QLineEdit* m_pDestination;
    QLineEdit* m_pLevel;
    QComboBox* m_pExisting;
    FolderChooser m_chooseFolder;
};

} // namespace zorv
