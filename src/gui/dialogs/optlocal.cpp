#include "dialogs/optlocal.h"

#include "res/resource.h"
#include "settings/options.h"
#include "ui/folderdialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace zorv {

COptLocal::COptLocal(COptions& options, QWidget* parent)
    : COptPage(options, QStringLiteral("ローカルファイル"), res::IDD_OPT_LOCAL, parent),
      m_pDestination(MakeEdit(res::IDC_OPT_DESTINATION)), m_pLevel(MakeEdit(res::IDC_OPT_FNAME_LEVEL, 4))
{
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
    level->addWidget(m_pLevel);
    level->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(level);
    layout->addStretch(1);

    m_chooseFolder = [this](const QString& current) { return ChooseDestinationFolder(this, current); };
    connect(browse, &QPushButton::clicked, this, &COptLocal::OnBrowse);
}

void COptLocal::OnInitPage()
{
    m_pDestination->setText(ToQ(m_options.DefaultDestination));
    m_pLevel->setText(QString::number(static_cast<unsigned>(m_options.DefaultFnameLevel)));
}

void COptLocal::OnBrowse()
{
    if (!ReadField(m_pLevel, kFieldFnameLevel))
        return;
    if (const auto folder = m_chooseFolder(m_pDestination->text()))
        m_pDestination->setText(*folder);
}

bool COptLocal::OnKillActive()
{
    const auto level = ReadField(m_pLevel, kFieldFnameLevel);
    if (!level)
        return false;
    m_options.DefaultDestination = FromQ(m_pDestination->text());
    m_options.DefaultFnameLevel = static_cast<int>(*level);
    return true;
}

} // namespace zorv
