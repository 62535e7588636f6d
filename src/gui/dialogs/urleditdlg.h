#pragma once
// CUrlEditDialog: "URLの編集", the five values of a URL entry (URL,
// referrer, destination folder, file name, folder level) in one of three
// modes. New mode starts from the default destination; edit mode shows one
// item's values; multi-edit mode starts empty with the URL field disabled
// (only the filled fields are applied to the items). The dialog only collects
// the values: applying them is the caller's work.
//
// Use: construct with the mode, preset the values (edit mode), DoModal(); on
// QDialog::Accepted read Values().
#include "model/commands.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLineEdit;

namespace zorv {

class CUrlEditDialog : public QDialog {
    Q_OBJECT
public:
    enum Mode { MODE_NEW, MODE_EDIT, MODE_MULTI_EDIT };

    // Shows why the input was refused (default: a warning box).
    using MessageHook = std::function<void(const QString& text)>;
    // Asks a yes/no question; true for はい (default: a question box).
    using QuestionHook = std::function<bool(const QString& text)>;
    // Asks for a folder starting at `current`; nothing when cancelled
    // (default: CFolderDialog with the prompt "Destination Foler").
    using FolderChooser = std::function<std::optional<QString>(const QString& current)>;
    // Asks where the file is saved, starting at `initial` (a path); nothing
    // when cancelled (default: a save-style file dialog, no overwrite prompt).
    using FileChooser = std::function<std::optional<QString>(const QString& initial)>;
    using HelpHook = std::function<void(const QString& topic)>;

    CUrlEditDialog(Mode mode, QWidget* parent);

    Mode GetMode() const { return m_mode; }
    // Presets the fields (the folder level always starts at DefaultFnameLevel;
    // in new mode the destination starts at the default destination).
    void SetValues(const CUrlFields& values);
    // The values as typed; valid after the dialog was accepted. In new mode
    // the URL is the first of Urls().
    const CUrlFields& Values() const { return m_values; }
    // New mode: the URLs (or patterns) to add, one per line of the URL
    // field, in order; lines that were refused are left out.
    const std::vector<std::string>& Urls() const { return m_urls; }

    int DoModal() { return exec(); }

    void SetMessageHook(MessageHook hook) { m_message = std::move(hook); }
    void SetQuestionHook(QuestionHook hook) { m_question = std::move(hook); }
    void SetFolderChooser(FolderChooser choose) { m_chooseFolder = std::move(choose); }
    void SetFileChooser(FileChooser choose) { m_chooseFile = std::move(choose); }
    void SetHelpHook(HelpHook hook) { m_help = std::move(hook); }

    // "参照": the folder browser in new and multi-edit mode; in edit mode
    // the file dialog, whose chosen file's folder becomes the destination and
    // its name the file name. The folder level must read first.
    void OnBrowse();
    // F1 (and the help command): the topic "urledit.html".
    void OnHelp();
    // OK: the folder level must be an unsigned number; in new mode each line
    // of the URL field must be a URL that can be added (a large run is
    // confirmed first). When some lines are refused, they are named and the
    // user chooses whether the others are added.
    void accept() override;

private:
    // The folder level field as a number; on failure the message is shown
    // and the field selected.
    std::optional<unsigned> ReadLevel();
    bool CheckNewUrlText(const std::string& url);
    // The lines of the URL field that can be added; nothing when the dialog
    // stays open.
    std::optional<std::vector<std::string>> CheckNewUrlLines();

    Mode m_mode;
    CUrlFields m_values;
    std::vector<std::string> m_urls;
    QLineEdit* m_pUrl;
    QLineEdit* m_pReferer;
    QLineEdit* m_pDestination;
    QLineEdit* m_pFileName;
    QLineEdit* m_pLevel;
    MessageHook m_message;
    QuestionHook m_question;
    FolderChooser m_chooseFolder;
    FileChooser m_chooseFile;
    HelpHook m_help;
};

} // namespace zorv
