#include "dialogs/aboutdlg.h"

#include "about/modules.h"
#include "model/prompt.h"
#include "res/resource.h"
#include "res/strings.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

// The program icon is a resource of the zorv_gui library.
static void InitIconResources()
{
    Q_INIT_RESOURCE(zorv);
}

namespace zorv {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    InitIconResources();
    setObjectName(QString::number(res::IDD_ABOUTBOX));
    setWindowTitle(QStringLiteral("About zorv..."));

    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/zorv/zorv-48.png")));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    auto* name = new QLabel(QStringLiteral("zorv"), this);
    QFont big = name->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    name->setFont(big);

    m_pCopyright = new QLabel(this);
    m_pVersion = new QLabel(this);
    m_pDate = new QLabel(this);
    m_pModules = new QPlainTextEdit(this);
    m_pCopyright->setObjectName(QString::number(res::IDC_ABOUT_COPYRIGHT));
    m_pVersion->setObjectName(QString::number(res::IDC_ABOUT_VERSION));
    m_pDate->setObjectName(QString::number(res::IDC_ABOUT_DATE));
    m_pModules->setObjectName(QString::number(res::IDC_ABOUT_MODULES));
    for (QLabel* label : {m_pCopyright, m_pVersion, m_pDate})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pModules->setReadOnly(true);
    m_pModules->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pModules->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(IDOK));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(name, 0, 1, 1, 2);
    grid->addWidget(m_pCopyright, 1, 1, 1, 2);
    grid->addWidget(m_pVersion, 2, 1);
    grid->addWidget(m_pDate, 2, 2);
    grid->addWidget(ok, 0, 3, Qt::AlignTop);
    grid->addWidget(m_pModules, 3, 0, 1, 4);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(3, 1);
    grid->setHorizontalSpacing(12);

    // The program's facts, then the libraries loaded at this moment.
    m_pCopyright->setText(QStringLiteral("Copyright (C) 2026 %1").arg(res::LoadString(res::IDS_COMPANY)));
    m_pVersion->setText(QString::fromStdString(ProgramVersion()));
    m_pDate->setText(QString::fromStdString(
        FileDateText(QCoreApplication::applicationFilePath().toStdString()).value_or(std::string())));
    const QString list = QString::fromStdString(ModuleList(LoadedLibraryPaths()));
    m_pModules->setPlainText(QString(list).replace(QLatin1String("\r\n"), QLatin1String("\n")));

    // Tab stops wide enough for the longest library name: names and
    // versions line up in one column, copyrights and dates after them.
    const QFontMetrics metrics = m_pModules->fontMetrics();
    const int column = metrics.horizontalAdvance(QStringLiteral("libQt6Widgets.so.6")) + metrics.averageCharWidth() * 2;
    m_pModules->setTabStopDistance(column);
    const int width = 2 * column + metrics.horizontalAdvance(QStringLiteral("Wed Jan 02 02:03:55 1980")) + 48;
    m_pModules->setMinimumSize(width, metrics.lineSpacing() * 9);
}

QString CAboutDlg::Version() const
{
    return m_pVersion->text();
}

QString CAboutDlg::Date() const
{
    return m_pDate->text();
}

QString CAboutDlg::Copyright() const
{
    return m_pCopyright->text();
}

QString CAboutDlg::Modules() const
{
    return m_pModules->toPlainText();
}

} // namespace zorv
