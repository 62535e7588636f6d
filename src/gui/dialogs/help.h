#pragma once
// Help for the window and its dialogs: HTML pages in the resources, shown in
// one help window of the application.
#include <QString>

class QWidget;

namespace zorv {

// Opens the help window at `topic` (a page name such as "OptLocal.html"), or
// at the contents when `topic` is empty. The window is made once and reused.
void ShowHelpTopic(const QString& topic = {});

} // namespace zorv
