// zorv: the window, or a headless command when the first argument asks for one.
#include "app/app.h"
#include "cli/headless.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (zorv::IsHeadlessCommand(args)) {
        // The plain event dispatcher wakes once per batch of posted events
        // where the GLib one wakes once per event: the workers post many.
        if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
            qputenv("QT_NO_GLIB", "1");
        QCoreApplication app(argc, argv);
        return zorv::RunHeadless(args);
    }

    QApplication app(argc, argv);
    // Qt has taken its own options (-platform, ...); what is left is ours.
    args = QCoreApplication::arguments().mid(1);
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
    const int rc = app.exec();
    const int exitRc = theApp.ExitInstance();
    return rc != 0 ? rc : exitRc;
}
