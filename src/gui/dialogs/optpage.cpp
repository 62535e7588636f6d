#include "dialogs/optpage.h"

#include "res/resource.h"
#include "res/strings.h"
#include "settings/options.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>

namespace zorv {

QString ToQ(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string FromQ(const QString& s)
{
    return s.toStdString();
}

COptPage::COptPage(COptions& options, const QString& caption, int id, QWidget* parent)
    : QWidget(parent), m_options(options)
{
    setWindowTitle(caption);
    setObjectName(QString::number(id));
    m_message = [this](const QString& text) {
        QMessageBox::warning(window(), res::LoadString(res::AFX_IDS_APP_TITLE), text);
    };
}

void COptPage::Activate()
{
    if (m_bInitialized)
        return;
    m_bInitialized = true;
    OnInitPage();
}

bool COptPage::Leave()
{
    return !m_bInitialized || OnKillActive();
}

std::optional<unsigned> COptPage::ReadField(QLineEdit* edit, const CUnsignedField& field)
{
    if (const auto value = ParseField(FromQ(edit->text()), field))
        return value;
    m_message(ToQ(FieldMessage(field)));
    edit->setFocus();
    edit->selectAll();
    return std::nullopt;
}

QLineEdit* COptPage::MakeEdit(int id, int chars)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::number(id));
    if (chars > 0) {
        // Room for `chars` digits and the frame.
        const int width = edit->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0'))) + 16;
        edit->setFixedWidth(width);
    }
    return edit;
}

QCheckBox* COptPage::MakeCheck(int id, const QString& text)
{
    auto* check = new QCheckBox(text, this);
    check->setObjectName(QString::number(id));
    return check;
}

} // namespace zorv
