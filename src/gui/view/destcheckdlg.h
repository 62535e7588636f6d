#pragma once
// CDestCheckDialog: one group of items that would write the same local file.
// The user picks an entry by its URL, edits its destination and file name
// (edits are kept per entry while switching), and OK hands every entry's
// values back; "無視" leaves the group as it is.
#include "model/destcheck.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QLineEdit;

namespace zorv {

class CDestCheckDialog : public QDialog {
    Q_OBJECT
public:
    // `entries`: the group in order (at least one).
    CDestCheckDialog(std::vector<CDestEntry> entries, QWidget* parent);

    // The entries with the user's values (complete after OK).
    const std::vector<CDestEntry>& Entries() const { return m_aCopies; }
    int Current() const { return m_nCurrent; }

    // How the browse button asks for a folder: the current text → the chosen
    // folder, or nothing when cancelled. Default: the folder browser.
    using FolderChooser = std::function<std::optional<QString>(const QString& current)>;
    void SetFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    void accept() override;

private:
    // Copies the two fields into the current entry.
    void StoreFields();
    void ShowEntry(int index);
    void OnBrowse();

    std::vector<CDestEntry> m_aCopies;
    int m_nCurrent = 0;
    QComboBox* m_pUrls;
    QLineEdit* m_pDestination;
    QLineEdit* m_pFileName;
    FolderChooser m_chooseFolder;
};

} // namespace zorv
