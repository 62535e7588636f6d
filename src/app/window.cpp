#include "window.h"

#include "cli/headless.h"

#include <QString>

#ifdef ZORV_WINDOW_MODULE
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#endif

namespace zorv {

#ifdef ZORV_WINDOW_MODULE

namespace {

// The module's entry point (src/gui/app/window_main.cpp).
using WindowMain = int (*)(int, char**);
constexpr const char kWindowEntry[] = "ZorvWindowMain";

// Loads the module by its file name: beside the executable on Windows, on
// the executable's run path elsewhere (its build folder, or the package's
// private library folder). Null, with the cause in *error, when it fails.
WindowMain LoadWindow(QString* error)
{
#ifdef _WIN32
    HMODULE module = LoadLibraryW(L"" ZORV_WINDOW_MODULE);
    if (!module) {
        *error = QStringLiteral("error %1").arg(GetLastError());
        return nullptr;
    }
    const FARPROC entry = GetProcAddress(module, kWindowEntry);
    if (!entry) {
        *error = QStringLiteral("no %1 (error %2)").arg(QLatin1String(kWindowEntry)).arg(GetLastError());
        return nullptr;
    }
    return reinterpret_cast<WindowMain>(reinterpret_cast<void*>(entry));
#else
    // Every symbol bound now: a module that does not fit fails here, with a
    // message, rather than in the middle of the window.
    void* module = dlopen(ZORV_WINDOW_MODULE, RTLD_NOW | RTLD_LOCAL);
    void* entry = module ? dlsym(module, kWindowEntry) : nullptr;
    if (!entry) {
        *error = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    return reinterpret_cast<WindowMain>(entry);
#endif
    // The module stays loaded until the process ends: the window's objects
    // and Qt's own live in it.
}

} // namespace

int RunWindow(int argc, char** argv)
{
    QString error;
    const WindowMain windowMain = LoadWindow(&error);
    if (!windowMain) {
        Print(stderr, QStringLiteral("zorv: cannot load the window (%1): %2\n")
                          .arg(QLatin1String(ZORV_WINDOW_MODULE), error));
        return EXIT_USAGE;
    }
    return windowMain(argc, argv);
}

#else

int RunWindow(int, char**)
{
    Print(stderr, QStringLiteral("zorv: this zorv was built without the window; it runs the headless "
                                 "commands only\n"));
    PrintUsage(stderr);
    return EXIT_USAGE;
}

#endif

} // namespace zorv
