#pragma once
// Included once by each program's main() (the zorv executable, the test
// programs): the suppressions ThreadSanitizer asks the program for.
//
// Qt is not built with ThreadSanitizer: the locks inside its posted-event
// queue (QMutex on futexes) are invisible to it, so every hand-over of an
// event from a worker to the UI thread would show up as a race. Reports whose
// stacks run through Qt's core library are dropped; races between our own
// threads in our own code are still reported.
//
// The same holds for a D-Bus call: the caller hands the message to QtDBus's
// connection thread, which runs libdbus under a GLib event loop, all
// uninstrumented, and their stacks are often cut short before any Qt core
// frame. libdbus also takes its own locks in an order ThreadSanitizer reports
// as a possible deadlock when it registers with a bus.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6Core.so\n"
           "race:libQt6DBus.so\n"
           "race:libdbus-1.so\n"
           "race:libglib-2.0.so\n"
           "race:libcpp-httplib.so\n"
           "deadlock:libdbus-1.so\n";
}
#endif
