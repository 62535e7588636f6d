#pragma once
// The string table: the window's texts by id, exactly as the resources give
// them. A command's string is "prompt\ntooltip": the status-bar prompt before
// the line break, the short name after it.
#include <QString>

namespace zorv::res {

// The text of `id`; a null QString when the table has no such string.
QString LoadString(int id);
bool HasString(int id);

// The status-bar prompt of a command (text before "\n"); empty when none.
QString Prompt(int id);
// The short name of a command (text after "\n"); empty when none.
QString ToolTip(int id);

// printf-style formatting of a table string with two numbers, in the order
// the argument-order flag asks for (flag 0: as given; else swapped).
QString FormatCount(int id, long first, long second);
// printf-style formatting of a table string with one number.
QString FormatNumber(int id, long n);

// A file dialog filter of the table's form ("name|*.a;*.b|name|*.*||") in
// Qt's form ("name (*.a *.b);;name (*)"): the patterns a name carries in
// parentheses are replaced by the pair's own, "*.*" becomes "*".
QString FileDialogFilter(const QString& filter);

// The argument-order flag: the first character of string 140 minus '0'.
int ArgumentOrderFlag();

} // namespace zorv::res
