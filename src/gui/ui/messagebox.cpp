#include "ui/messagebox.h"

#include "res/strings.h"

#include <QMessageBox>
#include <QPushButton>

namespace zorv {

int AskUser(QWidget* parent, const CPrompt& prompt)
{
    const bool withCancel = prompt.buttons == PromptButtons::YesNoCancel;
    const bool okCancel = prompt.buttons == PromptButtons::OkCancel;
    QMessageBox box(prompt.icon == PromptIcon::Error ? QMessageBox::Critical : QMessageBox::Question,
                    res::LoadString(prompt.captionId),
                    res::LoadString(prompt.textId).replace(QLatin1String("%s"), QString::fromStdString(prompt.arg)),
                    QMessageBox::NoButton, parent);
    if (okCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        if (prompt.okTextId)
            box.button(QMessageBox::Ok)->setText(res::LoadString(prompt.okTextId));
        // What cannot be undone is never the default.
        box.setDefaultButton(QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    }
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No
                           | (withCancel ? QMessageBox::Cancel : QMessageBox::NoButton));
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
