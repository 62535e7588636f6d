#pragma once
// Controls of the window's dialogs, named by their control ids (tests and
// tools find them by id). Only the default button takes Enter.
#include <initializer_list>

class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QString;
class QWidget;

namespace zorv {

QLineEdit* DialogEdit(QWidget* parent, int id);
// Lets only digits be typed (or pasted) into the edit; the range is checked
// when the dialog takes the value.
void AcceptDigitsOnly(QLineEdit* edit);
QPushButton* DialogButton(QWidget* parent, const QString& text, int id, bool isDefault = false);
// A row of buttons at the right-hand side.
QHBoxLayout* ButtonRow(std::initializer_list<QPushButton*> buttons);

} // namespace zorv
