#include "dialogs/optionssheet.h"

#include "dialogs/help.h"
#include "dialogs/optconnection.h"
#include "dialogs/optlocal.h"
#include "dialogs/optmisc.h"
#include "model/prompt.h"
#include "res/resource.h"
#include "res/strings.h"
#include "settings/options.h"
#include "ui/controls.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

namespace zorv {

COptionsSheet::COptionsSheet(COptions& options, QWidget* parent)
    : QDialog(parent), m_options(options), m_edit(COptions::NoLoad{}), m_pTabs(new QTabWidget(this)),
      m_pConnection(new COptConnection(m_edit, m_pTabs)), m_pLocal(new COptLocal(m_edit, m_pTabs)),
      m_pMisc(new COptMisc(m_edit, m_pTabs)), m_pages{m_pConnection, m_pLocal, m_pMisc},
      m_help([](const QString& topic) { ShowHelpTopic(topic); })
{
    m_edit.CopyFrom(options);
    setWindowTitle(res::LoadString(res::IDS_OPTIONS_CAPTION));
    for (COptPage* page : m_pages)
        m_pTabs->addTab(page, page->windowTitle());

    auto* ok = DialogButton(this, QStringLiteral("OK"), IDOK, true);
    auto* cancel = DialogButton(this, QStringLiteral("キャンセル"), IDCANCEL);
    auto* help = DialogButton(this, QStringLiteral("ヘルプ"), res::IDC_OPT_HELP);
    auto* buttons = ButtonRow({ok, cancel, help});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTabs);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &COptionsSheet::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, &COptionsSheet::OnHelp);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &COptionsSheet::OnHelp);
    connect(m_pTabs, &QTabWidget::currentChanged, this, &COptionsSheet::OnTabChanged);
}

int COptionsSheet::DoModal()
{
    return exec();
}

void COptionsSheet::SetMessageHook(const MessageHook& hook)
{
    for (COptPage* page : m_pages)
        page->SetMessageHook(hook);
}

COptPage* COptionsSheet::ActivePage() const
{
    return m_pages[static_cast<size_t>(m_nActive)];
}

void COptionsSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ActivePage()->Activate();
}

void COptionsSheet::OnTabChanged(int index)
{
    if (m_bSwitching || index == m_nActive || index < 0)
        return;
    const QScopedValueRollback guard(m_bSwitching, true);
    // The page being left stays in front while it is checked, and stays
    // there when its input is refused.
    m_pTabs->setCurrentIndex(m_nActive);
    if (!ActivePage()->Leave())
        return;
    m_nActive = index;
    m_pTabs->setCurrentIndex(index);
    ActivePage()->Activate();
}

void COptionsSheet::OnHelp()
{
    if (m_help)
        m_help(ActivePage()->HelpTopic());
}

void COptionsSheet::accept()
{
    if (!ActivePage()->Leave())
        return;
    m_options.CopyFrom(m_edit);
    QDialog::accept();
}

} // namespace zorv
