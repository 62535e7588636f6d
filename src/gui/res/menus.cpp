#include "res/menus.h"

#include "res/resource.h"

namespace zorv::res {

namespace {

CMenuEntry Cmd(int id, const char16_t* text)
{
    return {id, QString::fromUtf16(text), {}};
}

CMenuEntry Sep()
{
    return {};
}

CMenuEntry Popup(const char16_t* text, std::vector<CMenuEntry> entries)
{
    return {-1, QString::fromUtf16(text), std::move(entries)};
}

} // namespace

const std::vector<CMenuEntry>& MainMenu()
{
    static const std::vector<CMenuEntry> menu{
        Popup(u"ファイル(&F)",
              {
                  Cmd(ID_FILE_NEW, u"新規作成(&N)\tCtrl+N"),
                  Cmd(ID_FILE_OPEN, u"開く(&O)...\tCtrl+O"),
                  Cmd(ID_FILE_IMPORT, u"インポート"),
                  Cmd(ID_FILE_SAVE, u"上書き保存(&S)\tCtrl+S"),
                  Cmd(ID_FILE_SAVE_AS, u"名前を付けて保存(&A)..."),
                  Sep(),
                  Cmd(ID_FETCH_START, u"取得開始"),
                  Cmd(ID_FETCH_STOP, u"取得停止"),
                  Cmd(ID_FETCH_PAUSE_ALL, u"一時停止"),
                  Cmd(ID_MONITOR_CLIPBOARD, u"クリップボードの監視"),
                  Cmd(ID_AUTO_DISCONNECT, u"接続を自動的に切断"),
                  Cmd(ID_CHECK_DESTINATION, u"保存先のチェック..."),
                  Sep(),
                  Cmd(ID_FILE_MRU_FILE1, u"最新のﾌｧｲﾙ"),
                  Sep(),
                  Cmd(ID_APP_EXIT, u"終了(&X)"),
              }),
        Popup(u"編集(&E)",
              {
                  Cmd(ID_EDIT_NEW, u"新規(&N)...\tINS"),
                  Cmd(ID_EDIT_EDIT, u"編集(E)...\tRET"),
                  Cmd(ID_EDIT_RESET, u"リセット"),
                  Cmd(ID_EDIT_CANCEL, u"取得のキャンセル"),
                  Cmd(ID_EDIT_PAUSE, u"一時停止"),
                  Cmd(ID_EDIT_RESUME, u"再開"),
                  Cmd(ID_EDIT_DELETE, u"削除(&D)\tDEL"),
                  Sep(),
                  Cmd(ID_EDIT_OPEN_FILE, u"ファイルを開く"),
                  Cmd(ID_EDIT_OPEN_FOLDER, u"保存先フォルダを開く"),
                  Sep(),
                  Popup(u"移動",
                        {
                            Cmd(ID_MOVE_TOP, u"先頭へ\tCTRL+HOME"),
                            Cmd(ID_MOVE_UP, u"ひとつ前へ\tCTRL+Up"),
                            Cmd(ID_MOVE_DOWN, u"ひとつ後へ\tCTRL+Down"),
                            Cmd(ID_MOVE_BOTTOM, u"最後尾へ\tCTRL+END"),
                        }),
                  Sep(),
                  Cmd(ID_EDIT_SELECT_ALL, u"すべて選択(&A)\tCtrl+A"),
                  Cmd(ID_EDIT_INVERT_SELECTION, u"選択の切り替え(&I)"),
                  Sep(),
                  Cmd(ID_EDIT_OPTIONS, u"設定(&O)..."),
              }),
        Popup(u"表示(&V)",
              {
                  Popup(u"ソート(&S)",
                        {
                            Cmd(ID_SORT_URL, u"URL順"),
                            Cmd(ID_SORT_STATE, u"状態順"),
                            Cmd(ID_SORT_DESTINATION, u"ローカルパス順"),
                            Cmd(ID_SORT_REFERER, u"Referer順"),
                            Sep(),
                            Cmd(ID_SORT_RANDOM, u"ランダム"),
                        }),
                  Sep(),
                  Cmd(ID_VIEW_TOOLBAR, u"ツールバー"),
                  Cmd(ID_VIEW_STATUS_BAR, u"ｽﾃｰﾀｽ ﾊﾞｰ"),
                  Sep(),
                  Cmd(ID_VIEW_FONT, u"フォント..."),
              }),
        Popup(u"ヘルプ(&H)",
              {
                  Cmd(ID_HELP_INDEX, u"目次..."),
                  Cmd(ID_APP_ABOUT, u"バージョン情報..."),
              }),
    };
    return menu;
}

const std::vector<CAccelerator>& Accelerators()
{
    using K = Qt::Key;
    constexpr auto Ctrl = Qt::ControlModifier;
    constexpr auto Shift = Qt::ShiftModifier;
    constexpr auto Alt = Qt::AltModifier;
    static const std::vector<CAccelerator> table{
        {Ctrl | K::Key_A, ID_EDIT_SELECT_ALL},
        {Ctrl | K::Key_C, ID_EDIT_COPY},
        {Ctrl | K::Key_N, ID_FILE_NEW},
        {Ctrl | K::Key_O, ID_FILE_OPEN},
        {Ctrl | K::Key_S, ID_FILE_SAVE},
        {Ctrl | K::Key_V, ID_EDIT_PASTE},
        {Alt | K::Key_Backspace, ID_EDIT_UNDO},
        {QKeyCombination(K::Key_Delete), ID_EDIT_DELETE},
        {Shift | K::Key_Delete, ID_EDIT_CUT},
        {Ctrl | K::Key_Down, ID_MOVE_DOWN},
        {Ctrl | K::Key_End, ID_MOVE_BOTTOM},
        {QKeyCombination(K::Key_F1), ID_HELP},
        {QKeyCombination(K::Key_F6), ID_NEXT_PANE},
        {Shift | K::Key_F6, ID_PREV_PANE},
        {Ctrl | K::Key_Home, ID_MOVE_TOP},
        {QKeyCombination(K::Key_Insert), ID_EDIT_NEW},
        {Ctrl | K::Key_Insert, ID_EDIT_COPY},
        {Shift | K::Key_Insert, ID_EDIT_PASTE},
        {QKeyCombination(K::Key_Return), ID_EDIT_EDIT},
        {QKeyCombination(K::Key_Enter), ID_EDIT_EDIT}, // the keypad's Enter
        {Ctrl | K::Key_Up, ID_MOVE_UP},
        {Ctrl | K::Key_X, ID_EDIT_CUT},
        {Ctrl | K::Key_Z, ID_EDIT_UNDO},
    };
    return table;
}

} // namespace zorv::res
