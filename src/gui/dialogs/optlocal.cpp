#include "dialogs/optlocal.h"

#include "res/resource.h"
#include "settings/options.h"
#include "ui/controls.h"
#include "ui/folderdialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zorv {

COptLocal::COptLocal(COptions& options, QWidget* parent)
    : COptPage(options, QStringLiteral("ローカルファイル"), res::IDD_OPT_LOCAL, parent),
      m_pDestination(MakeEdit(res::IDC_OPT_DESTINATION)), m_pLevel(MakeEdit(res::IDC_OPT_FNAME_LEVEL, 4)),
      m_pExisting(new QComboBox(this))
{
    // In the order of the ExistingFile values.
    m_pExisting->addItems({QStringLiteral("両方残す (名前に (1) などを付けて保存)"), QStringLiteral("置き換える"),
                           QStringLiteral("保存しない (取得失敗にする)")});
    m_pExisting->setObjectName(QString::number(res::IDC_OPT_EXISTING_FILE));

    auto* browse = new QPushButton(QStringLiteral("参照"), this);
    browse->setObjectName(QString::number(res::IDC_OPT_BROWSE));
    browse->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("保存先"), this), 0, 0);
    grid->addWidget(m_pDestination, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->setColumnStretch(1, 1);
    auto* level = new QHBoxLayout;
    level->addWidget(new QLabel(QStringLiteral("保存先して使用するフォルダレベル"), this));
    AcceptDigitsOnly(m_pLevel);
    level->addWidget(m_pLevel);
    level->addStretch(1);
    auto* existing = new QHBoxLayout;
    existing->addWidget(new QLabel(QStringLiteral("同じ名前の別のファイルがあるとき"), this));
    existing->addWidget(m_pExisting);
    existing->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(level);
    layout->addLayout(existing);
    layout->addStretch(1);

    m_chooseFolder = [this](const QString& current) { return ChooseDestinationFolder(this, current); };
    connect(browse, &QPushButton::clicked, this, &COptLocal::OnBrowse);
}

void COptLocal::OnInitPage()
{
    m_pDestination->setText(ToQ(m_options.DefaultDestination));
    m_pLevel->setText(QString::number(static_cast<unsigned>(m_options.DefaultFnameLevel)));
    // A stored value outside 0–2 shows as the default (0), which it acts as.
    const int existing = m_options.ExistingFile;
    m_pExisting->setCurrentIndex(existing >= 0 && existing < m_pExisting->count() ? existing : 0);
}

void COptLocal::OnBrowse()
{
    if (!ReadField(m_pLevel, PageField("DefaultFnameLevel")))
        return;
    if (const auto folder = m_chooseFolder(m_pDestination->text()))
        m_pDestination->setText(*folder);
}

bool COptLocal::OnKillActive()
{
    const auto level = ReadField(m_pLevel, PageField("DefaultFnameLevel"));
    if (!level)
        return false;
    m_options.DefaultDestination = FromQ(m_pDestination->text());
    m_options.DefaultFnameLevel = static_cast<int>(*level);
    m_options.ExistingFile = m_pExisting->currentIndex();
    return true;
}

} // namespace zorv
