// zorv: the window, or a headless command when the first argument asks for one.
#include "cli/headless.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (zorv::IsHeadlessCommand(args)) {
        QCoreApplication app(argc, argv);
        return zorv::RunHeadless(args);
    }
    // The window is not built yet.
    zorv::PrintUsage(stderr);
    return zorv::EXIT_USAGE;
}
