// The window's entry point. The zorv executable (src/app) loads the window
// module and looks ZorvWindowMain up by name only when a window is to be
// opened, so that the headless commands never load Qt Widgets, Qt Gui or the
// font libraries.
#include "app/app.h"
#include "cli/headless.h"

#include <QApplication>

// Creates the QApplication from the command line (Qt's own options and at
// most one list file, already checked by the executable), opens the window
// and runs it; returns the exit status.
extern "C" Q_DECL_EXPORT int ZorvWindowMain(int argc, char** argv);

int ZorvWindowMain(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Qt has taken its own options (-platform, ...); what is left is ours.
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() > 1 || (!args.isEmpty() && args.first().startsWith(QLatin1Char('-')))) {
        zorv::PrintUsage(stderr);
        return zorv::EXIT_USAGE;
    }
    zorv::CZorvApp theApp;
    if (!theApp.InitInstance(args)) {
        theApp.ExitInstance();
        // A list already open in another window: that window came forward.
        return theApp.HandedOff() ? zorv::EXIT_OK : zorv::EXIT_USAGE;
    }
    theApp.EndOnSignals();
    const int rc = app.exec();
    const int exitRc = theApp.ExitInstance();
    return rc != 0 ? rc : exitRc;
}
