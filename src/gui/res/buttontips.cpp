#include "res/buttontips.h"

#include "res/resource.h"
#include "res/strings.h"

#include <QHash>

namespace zorv::res {

QString ButtonTip(int id)
{
    static const QHash<int, QString> tips{
        {ID_EDIT_NEW, QStringLiteral("URL を入力してリストに追加します（Insert キー）。1 行に 1 つずつ、いくつでも貼り付けられます。")},
        {ID_FILE_IMPORT, QStringLiteral("ほかのプログラムのリストファイルやテキストファイルから URL を読み込みます。")},
        {ID_FETCH_START, QStringLiteral("取得待ちの項目のダウンロードを始めます。")},
        {ID_FETCH_STOP, QStringLiteral("新しいダウンロードを始めないようにします。取得中の項目は最後まで取得します。")},
        {ID_FETCH_PAUSE_ALL, QStringLiteral("取得中のダウンロードをすぐに止めます。受信済みの分は残り、「取得」で続きから再開します。")},
        {ID_EDIT_PAUSE, QStringLiteral("選択した項目を一時停止します。取得中なら止め、再開するまで取得しません。")},
        {ID_EDIT_RESUME, QStringLiteral("一時停止した選択項目を再び取得できるようにします。")},
        {ID_EDIT_DELETE, QStringLiteral("選択した項目をリストから削除します（Delete キー）。")},
        {ID_MOVE_UP, QStringLiteral("選択した項目をリストのひとつ前へ移動します（Ctrl+↑）。")},
        {ID_MOVE_DOWN, QStringLiteral("選択した項目をリストのひとつ後へ移動します（Ctrl+↓）。")},
        {ID_EDIT_OPTIONS, QStringLiteral("同時接続数、保存先、速度制限などの設定を変更します。")},
        {ID_EDIT_OPEN_FILE, QStringLiteral("取得したファイルを既定のアプリケーションで開きます（行をダブルクリック）。")},
        {ID_EDIT_OPEN_FOLDER, QStringLiteral("保存先のフォルダをファイルマネージャーで開きます。")},
    };
    const QString tip = tips.value(id);
    return tip.isEmpty() ? Prompt(id) : tip;
}

} // namespace zorv::res
