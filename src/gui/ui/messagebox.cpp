#include "ui/messagebox.h"

#include "res/strings.h"

#include <QMessageBox>

namespace zorv {

int AskUser(QWidget* parent, const CPrompt& prompt)
{
    const bool withCancel = prompt.buttons == PromptButtons::YesNoCancel;
    QMessageBox box(prompt.icon == PromptIcon::Error ? QMessageBox::Critical : QMessageBox::Question,
                    res::LoadString(prompt.captionId),
                    res::LoadString(prompt.textId).replace(QLatin1String("%s"), QString::fromStdString(prompt.arg)),
                    QMessageBox::Yes | QMessageBox::No | (withCancel ? QMessageBox::Cancel : QMessageBox::NoButton),
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(withCancel ? QMessageBox::Cancel : QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return withCancel ? IDCANCEL : IDNO;
    }
}

} // namespace zorv
