#pragma once
// Questions that core operations put to the user. The window answers them
// with message boxes; tests answer from a script. Texts are named by their
// string-table ids, so every text the user reads lives in one table.
#include <functional>
#include <string>
#include <utility>

namespace zorv {

// Message-box answers, with the values they have always had.
enum PromptAnswer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// String ids of the destination questions.
enum : int {
    IDS_DEST_CONFIRM = 137,        // caption "保存先の確認"
    IDS_DEST_CREATE = 138,         // "このディレクトリは存在しません．作成しますか?\n\n%s"
    IDS_DEST_CREATE_FAILED = 139,  // "このディレクトリの作成に失敗しました．続けますか?\n\n%s"
};

// String ids of the questions about the list as a whole.
enum : int {
    IDS_CLOSE_FETCHING = 160,      // "取得中の項目があります。取得を中止してリストを閉じますか?"
    IDS_CLOSE_FETCHING_OK = 161,   // its OK button: "取得を中止して閉じる"
    IDS_RECOVERY_OFFER = 162,      // "...保存されていなかったリスト (%s個の項目) ...復元しますか?"
    IDS_PROMPT_APP_TITLE = 57344,  // the program's name, as the caption
};

// OkCancel answers IDOK or IDCANCEL.
enum class PromptButtons { YesNoCancel, YesNo, OkCancel };
enum class PromptIcon { Question, Error };

struct CPrompt {
    int captionId = 0;
    int textId = 0;
    std::string arg; // replaces the %s of the text (UTF-8)
    PromptButtons buttons = PromptButtons::YesNo;
    PromptIcon icon = PromptIcon::Question;
    int okTextId = 0; // OkCancel: the OK button's own text (0: "OK")
};

class IPrompt {
public:
    virtual ~IPrompt() = default;
    // Shows the question and waits: IDYES, IDNO or (YesNoCancel only)
    // IDCANCEL; IDOK or IDCANCEL for OkCancel.
    virtual int Ask(const CPrompt& prompt) = 0;
};

// A prompt answered by a function (the window's message boxes, a test's
// script).
class CFunctionPrompt : public IPrompt {
public:
    explicit CFunctionPrompt(std::function<int(const CPrompt&)> ask) : m_ask(std::move(ask)) {}
    int Ask(const CPrompt& prompt) override { return m_ask(prompt); }

private:
    std::function<int(const CPrompt&)> m_ask;
};

} // namespace zorv
