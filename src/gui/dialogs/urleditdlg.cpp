#include "dialogs/urleditdlg.h"

#include "dialogs/help.h"
#include "dialogs/optpage.h"
#include "model/item.h"
#include "model/listrequest.h"
#include "model/prompt.h"
#include "res/resource.h"
#include "res/strings.h"
#include "settings/options.h"
#include "settings/optionsedit.h"
#include "ui/controls.h"
#include "ui/folderdialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace zorv {

CUrlEditDialog::CUrlEditDialog(Mode mode, QWidget* parent)
    : QDialog(parent), m_mode(mode), m_pUrl(DialogEdit(this, res::IDC_URLEDIT_URL)),
      m_pReferer(DialogEdit(this, res::IDC_URLEDIT_REFERER)),
      m_pDestination(DialogEdit(this, res::IDC_URLEDIT_DESTINATION)),
      m_pFileName(DialogEdit(this, res::IDC_URLEDIT_FILENAME)), m_pLevel(DialogEdit(this, res::IDC_URLEDIT_LEVEL))
{
    setWindowTitle(QStringLiteral("URLの編集"));
    setObjectName(QString::number(res::IDD_URL_EDIT));

    auto* browse = DialogButton(this, QStringLiteral("参照"), res::IDC_URLEDIT_BROWSE);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("URL"), this), 0, 0);
    grid->addWidget(m_pUrl, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Referer"), this), 1, 0);
    grid->addWidget(m_pReferer, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("保存先"), this), 2, 0);
    grid->addWidget(m_pDestination, 2, 1);
    grid->addWidget(browse, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("ファイル名"), this), 3, 0);
    grid->addWidget(m_pFileName, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    m_pLevel->setFixedWidth(m_pLevel->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);
    AcceptDigitsOnly(m_pLevel);
    auto* level = new QHBoxLayout;
    level->addWidget(new QLabel(QStringLiteral("保存先して使用するフォルダレベル"), this));
    level->addWidget(m_pLevel);
    level->addStretch(1);

    auto* ok = DialogButton(this, QStringLiteral("OK"), IDOK, true);
    auto* cancel = DialogButton(this, QStringLiteral("キャンセル"), IDCANCEL);
    auto* buttons = ButtonRow({ok, cancel});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(level);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    // Room for a long URL.
    setMinimumWidth(m_pUrl->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 70);

    m_message = [this](const QString& text) {
        QMessageBox::warning(this, res::LoadString(res::AFX_IDS_APP_TITLE), text);
    };
    m_question = [this](const QString& text) {
        return QMessageBox::question(this, res::LoadString(res::AFX_IDS_APP_TITLE), text,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
               == QMessageBox::Yes;
    };
    m_chooseFolder = [this](const QString& current) { return ChooseDestinationFolder(this, current); };
    m_chooseFile = [this](const QString& initial) -> std::optional<QString> {
        const QString path = QFileDialog::getSaveFileName(
            this, QString(), initial, res::FileDialogFilter(QStringLiteral("All Files(*.*)|*.*||")), nullptr,
            QFileDialog::DontConfirmOverwrite);
        if (path.isEmpty())
            return std::nullopt;
        return path;
    };
    m_help = [](const QString& topic) { ShowHelpTopic(topic); };

    connect(ok, &QPushButton::clicked, this, &CUrlEditDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, &CUrlEditDialog::OnBrowse);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setObjectName(QString::number(res::ID_HELP));
    connect(help, &QShortcut::activated, this, &CUrlEditDialog::OnHelp);

    // Initial values: the folder level from the settings in every mode, the
    // default destination in new mode; the URL stays empty and cannot be
    // typed in multi-edit mode (it is not applied there).
    CUrlFields initial;
    initial.level = Options().DefaultFnameLevel;
    if (m_mode == MODE_NEW)
        initial.destination = DefaultItemDestination();
    SetValues(initial);
    m_pUrl->setEnabled(m_mode != MODE_MULTI_EDIT);
}

void CUrlEditDialog::SetValues(const CUrlFields& values)
{
    m_values = values;
    m_values.level = Options().DefaultFnameLevel;
    if (m_mode == MODE_MULTI_EDIT)
        m_values.url.clear();
    m_pUrl->setText(ToQ(m_values.url));
    m_pReferer->setText(ToQ(m_values.referer));
    m_pDestination->setText(ToQ(m_values.destination));
    m_pFileName->setText(ToQ(m_values.fileName));
    m_pLevel->setText(QString::number(static_cast<unsigned>(std::max(m_values.level, 0))));
}

std::optional<unsigned> CUrlEditDialog::ReadLevel()
{
    const auto level = ParseUnsigned(FromQ(m_pLevel->text()));
    if (!level) {
        m_message(QStringLiteral("フォルダレベルには 0 以上の整数を入力してください。"));
        m_pLevel->setFocus();
        m_pLevel->selectAll();
    }
    return level;
}

void CUrlEditDialog::OnBrowse()
{
    if (!ReadLevel())
        return;
    if (m_mode != MODE_EDIT) {
        if (const auto folder = m_chooseFolder(m_pDestination->text()))
            m_pDestination->setText(*folder);
        return;
    }
    // Edit mode: where the item's file goes, starting at its current place
    // when the destination folder exists.
    const QString destination = m_pDestination->text();
    const QString initial = !destination.isEmpty() && QFileInfo(destination).isDir()
                                ? QDir(destination).filePath(m_pFileName->text())
                                : destination;
    const auto chosen = m_chooseFile(initial);
    if (!chosen)
        return;
    const QFileInfo file(*chosen);
    m_pDestination->setText(QDir::toNativeSeparators(file.absolutePath()));
    m_pFileName->setText(file.fileName());
}

void CUrlEditDialog::OnHelp()
{
    if (m_help)
        m_help(QStringLiteral("urledit.html"));
}

bool CUrlEditDialog::CheckNewUrlText(const std::string& url)
{
    const CNewUrlVerdict verdict = CheckNewUrl(url, kNewUrlCommand);
    QString refusal;
    switch (verdict.check) {
    case NewUrlCheck::Ok:
        return true;
    case NewUrlCheck::Blank:
        refusal = QStringLiteral("URLを入力してください。");
        break;
    case NewUrlCheck::NotHttp:
        refusal = QStringLiteral("追加できるのは http、https、ftp のURL (ホスト名のあるもの) だけです。\n\n%1")
                      .arg(m_pUrl->text());
        break;
    case NewUrlCheck::TooLarge:
        refusal = QStringLiteral("このURLは %1 個のURLに展開されます。一度に追加できるのは %2 個までです。")
                      .arg(verdict.count)
                      .arg(kMaxRun);
        break;
    case NewUrlCheck::Large:
        if (m_question(QStringLiteral("このURLは %1 個のURLに展開されます。すべて追加しますか?").arg(verdict.count)))
            return true;
        m_pUrl->setFocus();
        return false;
    }
    m_message(refusal);
    m_pUrl->setFocus();
    m_pUrl->selectAll();
    return false;
}

std::optional<std::vector<std::string>> CUrlEditDialog::CheckNewUrlLines()
{
    // A pasted list keeps its line breaks in the field (shown as blanks).
    std::vector<std::string> lines;
    for (QString line : m_pUrl->text().split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            lines.push_back(FromQ(line));
    }
    if (lines.size() <= 1) {
        const std::string url = lines.empty() ? std::string() : lines.front();
        if (!CheckNewUrlText(url))
            return std::nullopt;
        return std::vector<std::string>{url};
    }
    std::vector<std::string> good;
    QStringList refused;
    for (const std::string& line : lines) {
        const CNewUrlVerdict verdict = CheckNewUrl(line, kNewUrlCommand);
        switch (verdict.check) {
        case NewUrlCheck::Ok:
            good.push_back(line);
            break;
        case NewUrlCheck::Large:
            if (!m_question(QStringLiteral("このURLは %1 個のURLに展開されます。すべて追加しますか?\n\n%2")
                                .arg(verdict.count)
                                .arg(ToQ(line)))) {
                m_pUrl->setFocus();
                return std::nullopt;
            }
            good.push_back(line);
            break;
        case NewUrlCheck::TooLarge:
            refused << QStringLiteral("%1 （%2 個のURLに展開されます。一度に追加できるのは %3 個までです）")
                           .arg(ToQ(line))
                           .arg(verdict.count)
                           .arg(kMaxRun);
            break;
        case NewUrlCheck::Blank:
        case NewUrlCheck::NotHttp:
            refused << QStringLiteral("%1 （http、https、ftp のURLではありません）").arg(ToQ(line));
            break;
        }
    }
    if (refused.isEmpty())
        return good;
    const QString list = refused.join(QLatin1Char('\n'));
    if (good.empty()) {
        m_message(QStringLiteral("次の行は追加できません。\n\n%1").arg(list));
    } else if (m_question(QStringLiteral("次の行は追加できません。\n\n%1\n\nほかの %2 行のURLを追加しますか?")
                              .arg(list)
                              .arg(good.size()))) {
        return good;
    }
    m_pUrl->setFocus();
    return std::nullopt;
}

void CUrlEditDialog::accept()
{
    const auto level = ReadLevel();
    if (!level)
        return;
    CUrlFields values;
    values.url = m_mode == MODE_MULTI_EDIT ? std::string() : FromQ(m_pUrl->text());
    values.referer = FromQ(m_pReferer->text());
    values.destination = FromQ(m_pDestination->text());
    values.fileName = FromQ(m_pFileName->text());
    values.level = static_cast<int>(std::min<unsigned>(*level, INT_MAX));
    std::vector<std::string> urls;
    if (m_mode == MODE_NEW) {
        auto lines = CheckNewUrlLines();
        if (!lines)
            return;
        urls = std::move(*lines);
        values.url = urls.front();
    }
    m_values = std::move(values);
    m_urls = std::move(urls);
    QDialog::accept();
}

} // namespace zorv
