#pragma once
// Qt is not built with ThreadSanitizer: the locks inside its posted-event
// queue (QMutex on futexes) are invisible to it, so every hand-over of an
// event from a worker to the UI thread would show up as a race. Reports whose
// stacks run through Qt's core library are dropped; races between our own
// threads in our own code are still reported.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6Core.so\n";
}
#endif
