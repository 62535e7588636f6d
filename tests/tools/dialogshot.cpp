// Renders one of the window's dialogs, filled with sample data, to a PNG
// file, so that its texts and layout can be looked at without driving the
// whole window: dialogshot folder|destcheck|question OUT.png
#include "model/prompt.h"
#include "dialogs/aboutdlg.h"
#include "dialogs/helpwindow.h"
#include "res/strings.h"
#include "ui/folderdialog.h"
#include "view/destcheckdlg.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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
        std::fprintf(stderr, "usage: dialogshot folder|destcheck|question OUT.png\n");
        return 2;
    }
    const QString kind = QString::fromLocal8Bit(argv[1]);
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
    } else if (kind == QLatin1String("about")) {
        dialog = std::make_unique<CAboutDlg>();
    } else if (kind == QLatin1String("help")) {
        auto* help = new CHelpWindow;
        help->ShowTopic(QStringLiteral("OptConnection.html"));
        dialog.reset(help);
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
