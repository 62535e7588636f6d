#include "view/destcheckdlg.h"

#include "model/prompt.h"
#include "res/resource.h"
#include "ui/controls.h"
#include "ui/folderdialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zorv {

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace

CDestCheckDialog::CDestCheckDialog(std::vector<CDestEntry> entries, QWidget* parent)
    : QDialog(parent), m_aCopies(std::move(entries)), m_pUrls(new QComboBox(this)),
      m_pDestination(new QLineEdit(this)), m_pFileName(new QLineEdit(this))
{
    setWindowTitle(QStringLiteral("保存先の確認"));
    setObjectName(QString::number(res::IDD_DESTCHECK));

    auto* message = new QLabel(
        QStringLiteral("保存先ファイル名が重複しています．いずれかの保存先を変更してください．"), this);
    message->setWordWrap(true);

    m_pUrls->setObjectName(QString::number(res::IDC_DESTCHECK_URLS));
    m_pUrls->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_pUrls->setMinimumContentsLength(30);
    m_pDestination->setObjectName(QString::number(res::IDC_DESTCHECK_DESTINATION));
    m_pFileName->setObjectName(QString::number(res::IDC_DESTCHECK_FILENAME));
    auto* browse = DialogButton(this, QStringLiteral("参照"), res::IDC_DESTCHECK_BROWSE);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("URL"), this), 0, 0);
    grid->addWidget(m_pUrls, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("保存先"), this), 1, 0);
    grid->addWidget(m_pDestination, 1, 1);
    grid->addWidget(browse, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("ファイル名"), this), 2, 0);
    grid->addWidget(m_pFileName, 2, 1, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* ok = DialogButton(this, QStringLiteral("OK"), IDOK, true);
    auto* ignore = DialogButton(this, QStringLiteral("無視"), res::IDC_DESTCHECK_IGNORE);
    auto* buttons = ButtonRow({ok, ignore});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addSpacing(6);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    // Wide enough for the message on one line.
    setMinimumWidth(std::max(440, message->fontMetrics().horizontalAdvance(message->text()) + 40));

    for (const CDestEntry& e : m_aCopies)
        m_pUrls->addItem(Q(e.url));
    // The last entry is shown first.
    m_nCurrent = static_cast<int>(m_aCopies.size()) - 1;
    m_pUrls->setCurrentIndex(m_nCurrent);
    ShowEntry(m_nCurrent);

    m_chooseFolder = [this](const QString& current) { return ChooseDestinationFolder(this, current); };

    connect(m_pUrls, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0 || index == m_nCurrent)
            return;
        StoreFields();
        m_nCurrent = index;
        ShowEntry(index);
    });
    connect(browse, &QPushButton::clicked, this, &CDestCheckDialog::OnBrowse);
    connect(ok, &QPushButton::clicked, this, &CDestCheckDialog::accept);
    connect(ignore, &QPushButton::clicked, this, &CDestCheckDialog::reject);
}

void CDestCheckDialog::StoreFields()
{
    if (m_nCurrent < 0 || m_nCurrent >= static_cast<int>(m_aCopies.size()))
        return;
    // An emptied file name stays empty: on OK the item takes the last
    // segment of its URL.
    CDestEntry& e = m_aCopies[static_cast<size_t>(m_nCurrent)];
    e.fileName = m_pFileName->text().toStdString();
    e.destination = m_pDestination->text().toStdString();
}

void CDestCheckDialog::ShowEntry(int index)
{
    if (index < 0 || index >= static_cast<int>(m_aCopies.size()))
        return;
    const CDestEntry& e = m_aCopies[static_cast<size_t>(index)];
    m_pFileName->setText(Q(e.fileName));
    m_pDestination->setText(Q(e.destination));
}

void CDestCheckDialog::OnBrowse()
{
    if (const auto folder = m_chooseFolder(m_pDestination->text()))
        m_pDestination->setText(*folder);
}

void CDestCheckDialog::accept()
{
    StoreFields();
    QDialog::accept();
}

} // namespace zorv
