#include "res/strings.h"

#include "model/item.h"
#include "model/prompt.h"
#include "res/resource.h"

#include <QHash>
#include <QStringList>

namespace zorv::res {

namespace {

const QHash<int, QString>& Table()
{
    static const QHash<int, QString> table = [] {
        QHash<int, QString> t{
            {IDR_MAINFRAME,
             QStringLiteral("zorv\n\nzorv\nzorv ファイル(*.zorv)\n.zorv\nzorv.URLList\nzorv URL List")},
            {IDS_COMPANY, QStringLiteral("Quillmere")},
            {IDS_OPTIONS_CAPTION, QStringLiteral("Options")},
            {IDS_HANGUP_MESSAGE,
             QStringLiteral("ファイル取得がすべて終了しました．ダイアルアップ接続を切断します．"
                            "切断をキャンセルするには%d秒以内にキャンセルしてください．")},
            {IDS_HANGUP_REMAINING, QStringLiteral("あと%d秒で切断します")},
            {IDS_DEST_CONFIRM, QStringLiteral("保存先の確認")},
            {IDS_IMPORT_FILTER, QStringLiteral("その他のファイル(*.wrg;*.grx;*.txt)|*.wrg;*.grx;*.txt|"
                                 "すべてのファイル(*.*)|*.*||")},
            {IDS_IMPORT_FAILED, QStringLiteral("不明なフォーマットもしくは無効なファイルです")},
            {IDS_DEST_CREATE, QStringLiteral("このディレクトリは存在しません．作成しますか?\n\n%s")},
            {IDS_DEST_CREATE_FAILED, QStringLiteral("このディレクトリの作成に失敗しました．続けますか?\n\n%s")},
            {IDS_CLOSE_FETCHING, QStringLiteral("取得中の項目があります。取得を中止してリストを閉じますか?")},
            {IDS_CLOSE_FETCHING_OK, QStringLiteral("取得を中止して閉じる")},
            {IDS_RECOVERY_OFFER,
             QStringLiteral("前回 zorv が外から終了させられたとき、保存されていなかったリスト (%s個の項目) "
                            "を残しておきました。復元しますか?\n\n「いいえ」を選ぶとこのリストは削除されます。")},
            {IDS_ARG_ORDER, QStringLiteral("0")},
            {IDS_SELECTION, QStringLiteral("%d個中%d個選択中")},
            {IDS_THREAD_STATUS, QStringLiteral("最大%d接続中%dアクティブ")},
            {IDS_ITEM_STATUS, QStringLiteral("%d個中%d個取得待ち")},

            {IDS_COLUMN_URL, QStringLiteral("URL")},
            {IDS_COLUMN_STATE, QStringLiteral("状態")},
            {IDS_COLUMN_NOTE, QStringLiteral("補足")},
            {IDS_COLUMN_DESTINATION, QStringLiteral("ローカルパス")},
            {IDS_COLUMN_FILENAME, QStringLiteral("ファイル名")},
            {IDS_COLUMN_REFERER, QStringLiteral("Referer")},

            {ID_FETCH_START, QStringLiteral("取得開始\n取得")},
            {ID_FETCH_STOP, QStringLiteral("取得停止\n取得停止")},
            {ID_FETCH_PAUSE_ALL,
             QStringLiteral("実行中の転送をすぐに止めます。項目は取得待ちのまま残り、取得で続きから再開します\n一時停止")},
            {ID_EDIT_PAUSE,
             QStringLiteral("選択した項目を一時停止します。取得済みの部分は残り、再開するまで取得しません\n一時停止")},
            {ID_EDIT_RESUME, QStringLiteral("一時停止した項目の取得を再開します\n再開")},
            {ID_EDIT_DELETE, QStringLiteral("選択したオブジェクトを削除\n削除")},
            {ID_EDIT_RESET, QStringLiteral("選択したオブジェクトを未取得状態に変更\nリセット")},
            {ID_EDIT_OPTIONS, QStringLiteral("オプションの設定\n設定")},
            {ID_EDIT_NEW, QStringLiteral("新規URLの追加\n新規")},
            {ID_EDIT_EDIT, QStringLiteral("URLや保存先を編集します\n編集")},
            {ID_MONITOR_CLIPBOARD,
             QStringLiteral("クリップボードに追加されたURLを自動的に取得対象にする\nクリップボードの監視")},
            {ID_SORT_URL, QStringLiteral("URL順でソート\nURL順")},
            {ID_SORT_STATE, QStringLiteral("状態順でソート\n状態順")},
            {ID_SORT_DESTINATION, QStringLiteral("ローカルパス順でソート\nローカルパス順")},
            {ID_SORT_REFERER, QStringLiteral("Referer順でソート\nReferer順")},
            {ID_EDIT_INVERT_SELECTION, QStringLiteral("選択を切り替え\n選択を切り替え")},
            {ID_FILE_IMPORT, QStringLiteral("その他のファイルからインポート\nインポート")},
            {ID_SORT_RANDOM, QStringLiteral("ランダムにソートします\nランダム")},
            {ID_MOVE_TOP, QStringLiteral("選択アイテムをリスト先頭へ\n先頭へ")},
            {ID_MOVE_UP, QStringLiteral("選択アイテムをリストのひとつ前へ\n前へ")},
            {ID_MOVE_DOWN, QStringLiteral("選択アイテムをリストのひとつ後へ\n後へ")},
            {ID_MOVE_BOTTOM, QStringLiteral("選択アイテムをリスト最後尾へ\n最後尾へ")},
            {ID_EDIT_CANCEL, QStringLiteral("ファイル取得のキャンセル\n取得のキャンセル")},
            {ID_VIEW_FONT, QStringLiteral("表示フォントの選択\nフォント")},
            {ID_CHECK_DESTINATION,
             QStringLiteral("ファイルの保存先が正しいかチェックします\n保存先のチェック")},
            {ID_EDIT_SELECT_ALL, QStringLiteral("全体を選択\nすべて選択")},
            {ID_EDIT_OPEN_FILE, QStringLiteral("取得したファイルを既定のアプリケーションで開きます\nファイルを開く")},
            {ID_EDIT_OPEN_FOLDER, QStringLiteral("保存先のフォルダをファイルマネージャーで開きます\n保存先フォルダを開く")},

            // The application's standard strings.
            {AFX_IDS_APP_TITLE, QStringLiteral("zorv")},
            {AFX_IDS_IDLEMESSAGE, QStringLiteral("ﾚﾃﾞｨ")},
            {ID_FILE_NEW, QStringLiteral("新規にファイルを作成\n新規ファイル")},
            {ID_FILE_OPEN, QStringLiteral("既存のファイルを開く\n開く")},
            {ID_FILE_SAVE, QStringLiteral("開いているファイルを上書きして保存\n保存")},
            {ID_FILE_SAVE_AS, QStringLiteral("開いているファイルに名前を付けて保存\n名前を付けて保存")},
            {ID_APP_ABOUT, QStringLiteral("プログラム情報、バージョン、著作権を表示\nバージョン情報")},
            {ID_APP_EXIT, QStringLiteral("アプリケーションを終了し、ファイルの保存を指示\n終了")},
            {ID_HELP_INDEX, QStringLiteral("ヘルプの目次を表示\n目次")},
            {ID_VIEW_TOOLBAR, QStringLiteral("ツール バーの表示/非表示\nツール バーの表示切替")},
            {ID_VIEW_STATUS_BAR, QStringLiteral("ステータス バーの表示/非表示\nステータス バーの表示切替")},
            {ID_INDICATOR_EXT, QStringLiteral("Thread Status               ")},
            {ID_INDICATOR_CAPS, QStringLiteral("Traffic Status       ")},
            {ID_INDICATOR_NUM, QStringLiteral("Item Status             ")},
        };
        for (int i = 0; i < kRecentFileCount; ++i)
            t.insert(ID_FILE_MRU_FILE1 + i, QStringLiteral("このファイルを開く\n開く"));
        // Item state names, strings 2000-2007.
        for (int state = 0; state < kStateCount; ++state)
            t.insert(2000 + state, QString::fromStdString(StateName(state)));
        return t;
    }();
    return table;
}

} // namespace

QString LoadString(int id)
{
    return Table().value(id);
}

bool HasString(int id)
{
    return Table().contains(id);
}

QString Prompt(int id)
{
    const QString s = LoadString(id);
    return s.section(QLatin1Char('\n'), 0, 0);
}

QString ToolTip(int id)
{
    const QString s = LoadString(id);
    const qsizetype nl = s.indexOf(QLatin1Char('\n'));
    return nl < 0 ? QString() : s.mid(nl + 1);
}

int ArgumentOrderFlag()
{
    const QString s = LoadString(IDS_ARG_ORDER);
    return s.isEmpty() ? 0 : s.at(0).unicode() - '0';
}

// The table's texts are printf formats of their own (one or two %d each),
// not literals the compiler could check against the arguments.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

QString FormatCount(int id, long first, long second)
{
    if (ArgumentOrderFlag() != 0)
        std::swap(first, second);
    return QString::asprintf(LoadString(id).toUtf8().constData(), static_cast<int>(first),
                             static_cast<int>(second));
}

QString FormatNumber(int id, long n)
{
    return QString::asprintf(LoadString(id).toUtf8().constData(), static_cast<int>(n));
}

#pragma GCC diagnostic pop

QString FileDialogFilter(const QString& filter)
{
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i].trimmed();
        if (name.isEmpty())
            break; // the "||" that ends the list
        // The name's own pattern list ("(*.wrg;*.txt)") gives way to Qt's.
        if (name.endsWith(QLatin1Char(')'))) {
            const qsizetype open = name.lastIndexOf(QLatin1Char('('));
            if (open > 0)
                name = name.left(open).trimmed();
        }
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << (p.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : p.trimmed());
        out << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

} // namespace zorv::res
