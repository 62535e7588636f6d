#include "dialogs/help.h"

namespace zorv {

void ShowHelpTopic(const QString& /*topic*/)
{
    // The help window comes with the help pages.
}

} // namespace zorv
