#pragma once
// The window of the zorv executable. It lives in a module of its own (the
// window module, built from src/gui) that is loaded only here, so that the
// headless commands start without Qt Widgets, Qt Gui and the font libraries.

namespace zorv {

// Loads the window module and runs the window with the command line (Qt's
// own options and at most one list file, already checked); returns the exit
// status. Without the module (a build without the window, or a module that
// cannot be loaded) says so on stderr and returns EXIT_USAGE.
int RunWindow(int argc, char** argv);

} // namespace zorv
