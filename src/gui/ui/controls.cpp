#include "ui/controls.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace zorv {

QLineEdit* DialogEdit(QWidget* parent, int id)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::number(id));
    return edit;
}

void AcceptDigitsOnly(QLineEdit* edit)
{
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
}

QPushButton* DialogButton(QWidget* parent, const QString& text, int id, bool isDefault)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::number(id));
    button->setDefault(isDefault);
    button->setAutoDefault(isDefault);
    return button;
}

QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QPushButton* button : buttons)
        row->addWidget(button);
    return row;
}

} // namespace zorv
