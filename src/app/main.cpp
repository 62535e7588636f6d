// zorv: a headless command when the first argument asks for one, else the
// window. The executable links only zorv_core; the window comes from its own
// module (window.h), loaded only when a window is opened.
#include "window.h"

#include "cli/headless.h"
#include "tsan_suppressions.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Qt's own command-line options, taken by QApplication for the window
// (with one dash or two): those that take the next argument as their value,
// those that take it after "=", and plain flags.
const char* const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "display", "style", "stylesheet", "session", "name",
};
const char* const kQtOptionsWithEquals[] = {"style", "stylesheet", "qmljsdebugger"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

// What is wrong with the window's command line (Qt's options and at most
// one list file); empty when nothing is. Decided before QApplication exists,
// so that a mistyped option is a usage error even where no display can be
// opened.
QString WindowCommandLineError(int argc, char** argv)
{
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-') {
            if (++files > 1)
                return QStringLiteral("more than one list file: %1").arg(QString::fromLocal8Bit(arg));
            continue;
        }
        const char* name = arg + (arg[1] == '-' ? 2 : 1);
        const char* eq = std::strchr(name, '=');
        const size_t length = eq ? size_t(eq - name) : std::strlen(name);
        const auto is = [&](const char* option) {
            return std::strlen(option) == length && std::strncmp(option, name, length) == 0;
        };
        bool known = false;
        if (eq) {
            for (const char* option : kQtOptionsWithEquals)
                known = known || is(option);
        } else {
            for (const char* flag : kQtFlags)
                known = known || is(flag);
            for (const char* option : kQtOptionsWithValue) {
                if (!known && is(option)) {
                    known = true;
                    ++i; // the value is the next argument
                }
            }
        }
        if (!known || length == 0)
            return QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(arg));
        if (i >= argc)
            return QStringLiteral("%1 needs a value").arg(QString::fromLocal8Bit(arg));
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (zorv::IsHeadlessCommand(args)) {
        // --help and --version print fixed texts: no application object.
        const QString& command = args.first();
        if (command == QLatin1String("--version") || command == QLatin1String("--help")
            || command == QLatin1String("-h"))
            return zorv::RunHeadless(args);
#ifdef __GLIBC__
        // A headless command makes and drops a whole list at once (100,000
        // items: some 400,000 small blocks). One heap for every thread: a
        // long list is read on a thread of its own (CZorvDoc::OnOpenDocument),
        // and a second heap grows page by page, one mprotect call each. No
        // fast bins: freeing the list would otherwise sort them all again
        // at the next large block (the saved list).
        mallopt(M_ARENA_MAX, 1);
        mallopt(M_MXFAST, 0);
        mallopt(M_TOP_PAD, 16 << 20);
#endif
        // The plain event dispatcher wakes once per batch of posted events
        // where the GLib one wakes once per event: the workers post many.
        if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
            qputenv("QT_NO_GLIB", "1");
        QCoreApplication app(argc, argv);
        return zorv::RunHeadless(args);
    }
    if (const QString error = WindowCommandLineError(argc, argv); !error.isEmpty()) {
        zorv::Print(stderr, QStringLiteral("zorv: %1\n").arg(error));
        zorv::PrintUsage(stderr);
        return zorv::EXIT_USAGE;
    }
    return zorv::RunWindow(argc, argv);
}
