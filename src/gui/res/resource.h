#pragma once
// Command, string, dialog and control ids of the window, one enum per kind. The numbers are
// fixed: they are the ids the string table, the menus, the accelerators and
// the status-bar panes are keyed by, and QActions carry them as their data.

namespace zorv::res {

// String table ids (and the main frame resource, whose strings are the
// document strings).
enum StringId : int {
    // ---- main frame resources (menu, accelerators, icon, document strings)
    IDR_MAINFRAME = 128,
    IDS_COMPANY = 129,
    IDS_OPTIONS_CAPTION = 134,
    IDS_HANGUP_MESSAGE = 135,
    IDS_HANGUP_REMAINING = 136,
    IDS_ARG_ORDER = 140,
    IDS_SELECTION = 141,     // "%d個中%d個選択中": rows, selected rows
    IDS_THREAD_STATUS = 142, // "最大%d接続中%dアクティブ": live workers, active fetches
    IDS_ITEM_STATUS = 143,   // "%d個中%d個取得待ち": rows, queued items

    // ---- the URL edit dialog (OK 1, cancel 2) and the import texts
    IDS_IMPORT_FILTER = 132, // the import file dialog's filter ("name|patterns|...||")
    IDS_IMPORT_FAILED = 133, // "不明なフォーマットもしくは無効なファイルです"

    // ---- column titles (column number = id - IDS_COLUMN_FIRST)
    IDS_COLUMN_FIRST = 1000,
    IDS_COLUMN_URL = 1000,
    IDS_COLUMN_STATE = 1001,
    IDS_COLUMN_NOTE = 1002,
    IDS_COLUMN_DESTINATION = 1003,
    IDS_COLUMN_FILENAME = 1004,
    IDS_COLUMN_REFERER = 1005,

    // ---- the application's standard commands and strings
    AFX_IDS_APP_TITLE = 57344,
    AFX_IDS_IDLEMESSAGE = 57345,
};

// Dialog ids.
enum DialogId : int {
    IDD_ABOUTBOX = 100,
    IDD_OPT_CONNECTION = 107,
    IDD_URL_EDIT = 131,
    IDD_OPT_MISC = 132,
    IDD_OPT_LOCAL = 133,
    IDD_HANGUP = 134,
    IDD_PROXY = 135,
    IDD_DESTCHECK = 136, // its texts: model/prompt.h's ids
};

// Control ids; each dialog has its own, so values repeat across dialogs.
enum ControlId : int {
    // ---- the destination check dialog (its texts: model/prompt.h's ids)
    IDC_DESTCHECK_BROWSE = 1002,
    IDC_DESTCHECK_URLS = 1003,
    IDC_DESTCHECK_DESTINATION = 1005,
    IDC_DESTCHECK_FILENAME = 1006,
    IDC_DESTCHECK_IGNORE = 5,

    // ---- the About box
    IDC_ABOUT_VERSION = 1000,
    IDC_ABOUT_DATE = 1001,
    IDC_ABOUT_COPYRIGHT = 1002,
    IDC_ABOUT_MODULES = 1031,

    // ---- controls of the hang-up dialog
    IDC_HANGUP_MESSAGE = 1011,
    IDC_HANGUP_REMAINING = 1012,

    // ---- controls of the folder browser (its OK and cancel buttons carry
    // the standard ids 1 and 2)
    IDC_FOLDER_PROMPT = 1001,
    IDC_FOLDER_TREE = 1003,
    IDC_FOLDER_NEW = 1004,

    // ---- the options pages and the proxy dialog (the misc page's 1027 and
    // the proxy dialog's 1027 are controls of different dialogs)
    IDC_OPT_CONNECTIONS = 1000,
    IDC_OPT_DESTINATION = 1001,
    IDC_OPT_BROWSE = 1002,
    IDC_OPT_AGENT = 1003,
    IDC_OPT_EXEC_AFTER_FETCH = 1004,
    IDC_OPT_CONFIRM_DELAY = 1007,
    IDC_OPT_COUNTDOWN = 1008,
    IDC_OPT_EXEC_ACTION = 1009,
    IDC_OPT_AUTO_START = 1013,
    IDC_OPT_CACHE = 1014,
    IDC_OPT_PROXY_DIRECT = 1017,
    IDC_OPT_PROXY_NAMED = 1018,
    IDC_OPT_PROXY_SYSTEM = 1019,
    IDC_OPT_PROXY_DETAILS = 1020,
    IDC_OPT_PROXY_ADDRESS = 1021,
    IDC_OPT_PROXY_PORT = 1022,
    IDC_PROXY_BYPASS = 1023,
    IDC_PROXY_HTTP_SERVER = 1024,
    IDC_PROXY_HTTP_PORT = 1025,
    IDC_PROXY_FTP_SERVER = 1026,
    IDC_PROXY_FTP_PORT = 1027,
    IDC_OPT_START_HOUR = 1027,
    IDC_OPT_START_MIN = 1028,
    IDC_OPT_START_AT = 1029,
    IDC_OPT_AUTO_REMOVE = 1030,
    IDC_OPT_AUTO_SAVE = 1036,
    IDC_OPT_FNAME_LEVEL = 1037,
    IDC_OPT_MAX_RETRY = 1040,
    IDC_OPT_RESUME_PARTIAL = 1050,
    IDC_OPT_SERVER_FILE_NAME = 1051,
    IDC_OPT_MAX_SEGMENTS = 1052,
    IDC_OPT_SPEED_LIMIT = 1053,
    IDC_OPT_NOTIFY_DONE = 1054,
    IDC_OPT_CLOSE_TO_TRAY = 1055,
    IDC_OPT_EXISTING_FILE = 1056,
    IDC_OPT_MAX_PER_SERVER = 1057,
    IDC_OPT_CA_CERTIFICATES = 1058,
    IDC_OPT_CA_BROWSE = 1059,
    IDC_OPT_RETRY_WAIT = 1060,
    IDC_OPT_HELP = 9, // the sheet's ヘルプ button (it sends ID_HELP); OK 1, cancel 2

    // ---- the URL edit dialog (OK 1, cancel 2) and the import texts
    IDC_URLEDIT_BROWSE = 1002,
    IDC_URLEDIT_URL = 1003,
    IDC_URLEDIT_REFERER = 1004,
    IDC_URLEDIT_DESTINATION = 1005,
    IDC_URLEDIT_FILENAME = 1006,
    IDC_URLEDIT_LEVEL = 1037,
};

// Command ids of menus, toolbar buttons and accelerators, and the
// status-bar panes.
enum CommandId : int {
    // ---- commands of the list
    ID_FETCH_START = 32772,
    ID_FETCH_STOP = 32773,
    ID_EDIT_DELETE = 32774,
    ID_EDIT_RESET = 32775,
    ID_EDIT_OPTIONS = 32776,
    ID_EDIT_NEW = 32777,
    ID_EDIT_EDIT = 32779,
    ID_MONITOR_CLIPBOARD = 32780,
    ID_SORT_URL = 32782,
    ID_SORT_STATE = 32783,
    ID_SORT_DESTINATION = 32784,
    ID_SORT_REFERER = 32785,
    ID_EDIT_INVERT_SELECTION = 32787,
    ID_FILE_IMPORT = 32788,
    ID_SORT_RANDOM = 32789,
    ID_MOVE_TOP = 32791,
    ID_MOVE_UP = 32792,
    ID_MOVE_DOWN = 32793,
    ID_MOVE_BOTTOM = 32794,
    ID_AUTO_DISCONNECT = 32795,
    ID_EDIT_CANCEL = 32796,
    ID_VIEW_FONT = 32797,
    ID_CHECK_DESTINATION = 32799,
    ID_FETCH_PAUSE_ALL = 32800,
    ID_EDIT_PAUSE = 32801,
    ID_EDIT_RESUME = 32802,
    ID_EDIT_OPEN_FILE = 32803,
    ID_EDIT_OPEN_FOLDER = 32804,

    // ---- the application's standard commands and strings
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_MRU_FILE1 = 57616, // ... ID_FILE_MRU_FILE1 + 3
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_SELECT_ALL = 57642,
    ID_EDIT_UNDO = 57643,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_INDEX = 57666,
    ID_HELP = 57670,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_INDICATOR_EXT = 59136,  // pane 2: workers
    ID_INDICATOR_CAPS = 59137, // pane 3: transfer speed
    ID_INDICATOR_NUM = 59138,  // pane 1: items waiting
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};


// Entries of the recent-file list.
inline constexpr int kRecentFileCount = 4;

} // namespace zorv::res
