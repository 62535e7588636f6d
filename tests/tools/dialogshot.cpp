// Renders one of the window's dialogs, filled with sample data, to a PNG
// file, so that its texts and layout can be looked at without driving the
// whole window: dialogshot NAME OUT.png (the names: see usage below).
#include "app/app.h"
#include "app/mainframe.h"
#include "dialogs/aboutdlg.h"
#include "dialogs/helpwindow.h"
#include "dialogs/optionssheet.h"
#include "dialogs/proxydlg.h"
#include "dialogs/urleditdlg.h"
#include "model/prompt.h"
#include "res/strings.h"
#include "settings/options.h"
#include "ui/folderdialog.h"
#include "model/import.h"
#include "res/resource.h"
#include "view/destcheckdlg.h"
#include "model/doc.h"
#include "view/zorvview.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPalette>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <cstdio>
#include <memory>

using namespace zorv;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTranslator qtTexts; // message-box buttons in Japanese, as in the window
    if (qtTexts.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    if (argc != 3) {
        std::fprintf(stderr, "usage: dialogshot folder|destcheck|question|import-notes|about|help|options-connection|options-local|options-misc|proxy|urledit-new|urledit-edit|urledit-multi|list|list-dark OUT.png\n");
        return 2;
    }
    const QString kind = QString::fromLocal8Bit(argv[1]);
    if (kind.endsWith(QLatin1String("-dark"))) {
        // A dark theme: Fusion with a dark palette, for looking at colours
        // drawn from the palette.
        QApplication::setStyle(QStringLiteral("Fusion"));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
        dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
        dark.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
        dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
        dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
        dark.setColor(QPalette::Highlight, QColor(0x2f, 0x65, 0xca));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        dark.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
        dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
        dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
        QApplication::setPalette(dark);
    }
    if (kind == QLatin1String("list") || kind == QLatin1String("list-dark")) {
        // The window with a row in each state.
        CZorvApp zorvApp;
        if (!zorvApp.InitInstance({}))
            return 1;
        CZorvDoc& doc = zorvApp.Doc();
        const std::string dest = "/home/user/ダウンロード";
        const struct {
            const char* url;
            int state;
            const char* note;
        } rows[] = {
            {"http://example.com/files/archive-2024.tar.gz", STATE_FETCHED, "3145728/3145728"},
            {"http://example.com/video/holiday.mp4", STATE_FETCHING, ""},
            {"http://example.com/missing/photo.jpg", STATE_FAILED, "404 Not Found"},
            {"http://example.com/docs/manual.pdf", STATE_CONNECTING, ""},
            {"ftp://ftp.example.org/pub/tools/setup-1.2.zip", STATE_NOT_FETCHED, ""},
            {"http://example.com/gallery/img01.jpg", STATE_NOT_FETCHED, ""},
            {"http://example.com/gallery/img02.jpg", STATE_FAILED, "取得を中止しました"},
            {"http://example.com/music/podcast-42.mp3", STATE_FETCHED, "9437184/9437184"},
            {"http://example.com/busy/dataset.zip", STATE_NOT_FETCHED, "503 Service Unavailable"},
        };
        for (const auto& r : rows) {
            CItem* item = doc.AddUrl(r.url, "", dest, "", 0);
            if (!item)
                return 1;
            if (r.state != STATE_NOT_FETCHED)
                doc.RemovePending(item);
            item->SetState(r.state);
            item->SetNote(r.note);
            if (r.state == STATE_FETCHING) // what the transfer thread publishes
                item->SetProgress({1258291, 4194304, 0, 912384});
        }
        doc.GetItem(5)->SetState(STATE_INVALID_URL);
        doc.RemovePending(doc.GetItem(5));
        // A failed item waiting for its retry.
        doc.QueueRetry(doc.GetItem(8), CItem::RetryClock::now() + std::chrono::seconds(35));
        doc.SetModifiedFlag(false);
        CMainFrame* frame = zorvApp.MainFrame();
        frame->resize(1000, 350);
        frame->show();
        frame->View().SelectRows({4});
        for (int i = 0; i < 40; ++i)
            QTest::qWait(50);
        const bool saved = frame->grab().save(QString::fromLocal8Bit(argv[2]));
        zorvApp.ExitInstance();
        return saved ? 0 : 1;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir home;
    std::unique_ptr<QWidget> dialog;
    if (kind == QLatin1String("folder")) {
        // A small home folder with the download folder preselected.
        for (const char* d : {"Documents", "ダウンロード/2026", "ダウンロード/写真", "Music", "デスクトップ"})
            QDir(home.path()).mkpath(QString::fromUtf8(d));
        auto* folder = new CFolderDialog(nullptr);
        folder->SetPrompt(QStringLiteral("Destination Foler"));
        folder->SetPath(home.path() + QStringLiteral("/ダウンロード/写真"));
        dialog.reset(folder);
    } else if (kind == QLatin1String("destcheck")) {
        dialog = std::make_unique<CDestCheckDialog>(
            std::vector<CDestEntry>{{"http://example.com/gallery/2024/index.html", "/home/user/ダウンロード", "index.html"},
                                    {"http://example.org/docs/index.html", "/home/user/ダウンロード", "index.html"}},
            nullptr);
    } else if (kind == QLatin1String("question")) {
        auto* box = new QMessageBox(QMessageBox::Question, res::LoadString(IDS_DEST_CONFIRM),
                                    res::LoadString(IDS_DEST_CREATE).replace(QLatin1String("%s"),
                                                                             QStringLiteral("/home/user/ダウンロード/新しい写真")),
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        dialog.reset(box);
    } else if (kind == QLatin1String("import-notes")) {
        dialog = std::make_unique<QMessageBox>(
            QMessageBox::Critical, res::LoadString(res::AFX_IDS_APP_TITLE),
            CZorvView::ImportNotesText(QStringLiteral("/home/user/ダウンロード/old-list.wrg"), {{2, {}}, {5, {}}}));
    } else if (kind == QLatin1String("about")) {
        dialog = std::make_unique<CAboutDlg>();
    } else if (kind == QLatin1String("help")) {
        auto* help = new CHelpWindow;
        help->ShowTopic(QStringLiteral("OptConnection.html"));
        dialog.reset(help);
    } else if (kind.startsWith(QLatin1String("options-")) || kind == QLatin1String("proxy")) {
        // options-connection, options-local, options-misc: the options sheet
        // on that page; proxy: the proxy dialog. Sample values, the store is
        // not read.
        static COptions sample{COptions::NoLoad{}};
        sample.Connections = 4;
        sample.MaxRetry = 3;
        sample.MaxConnectionsPerServer = 2;
        sample.CaCertificates = "/home/user/certs/home-ca.pem";
        sample.ProxySetting = PROXY_NAMED;
        sample.ProxyHttpServer = sample.ProxyFtpServer = "proxy.example.com";
        sample.ProxyHttpPort = sample.ProxyFtpPort = "8080";
        sample.ProxyBypass = "localhost *.example.org";
        sample.DefaultDestination = "/home/user/ダウンロード";
        sample.DefaultFnameLevel = 1;
        sample.StartAt = 1;
        sample.StartAtHour = 2;
        sample.StartAtMin = 30;
        sample.AutoSave = 1;
        if (kind == QLatin1String("proxy")) {
            auto* proxy = new CProxyDialog(nullptr);
            proxy->SetServers({"proxy.example.com", "8080", "ftp-proxy.example.com", "2121"});
            proxy->SetBypass(sample.ProxyBypass);
            dialog.reset(proxy);
        } else {
            auto* sheet = new COptionsSheet(sample, nullptr);
            const int page = kind == QLatin1String("options-local")  ? 1
                             : kind == QLatin1String("options-misc") ? 2
                                                                      : 0;
            sheet->show();
            sheet->Tabs()->setCurrentIndex(page);
            dialog.reset(sheet);
        }
    } else if (kind.startsWith(QLatin1String("urledit-"))) {
        // The URL edit dialog in new, edit and multi-edit mode (the default
        // destination and folder level of new mode come from the record).
        Options().DefaultDestination = "/home/user/ダウンロード";
        Options().DefaultFnameLevel = 1;
        const auto mode = kind == QLatin1String("urledit-new")    ? CUrlEditDialog::MODE_NEW
                          : kind == QLatin1String("urledit-edit") ? CUrlEditDialog::MODE_EDIT
                                                                  : CUrlEditDialog::MODE_MULTI_EDIT;
        auto* edit = new CUrlEditDialog(mode, nullptr);
        if (mode == CUrlEditDialog::MODE_EDIT)
            edit->SetValues({"http://example.com/gallery/2024/photo01.jpg", "http://example.com/gallery/",
                             "/home/user/ダウンロード/2024", "photo01.jpg"});
        dialog.reset(edit);
    } else {
        std::fprintf(stderr, "dialogshot: unknown dialog %s\n", argv[1]);
        return 2;
    }
    dialog->show();
    // Let folder listings load and layouts settle.
    for (int i = 0; i < 60; ++i)
        QTest::qWait(50);
    if (!dialog->grab().save(out)) {
        std::fprintf(stderr, "dialogshot: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
