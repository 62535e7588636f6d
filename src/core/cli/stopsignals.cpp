#include "cli/stopsignals.h"

#include <QSocketNotifier>

#include <iterator>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zorv {

namespace {

// The signal that asked the run to stop, 0 while none has.
volatile std::sig_atomic_t g_caught = 0;
// The pipe the handler writes to (-1: none); only the handler and the
// owning object touch it.
int g_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal)
{
    if (g_caught == 0)
        g_caught = signal;
#ifndef _WIN32
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        // Nothing to do when it fails: the pipe is full, one byte is enough.
        [[maybe_unused]] const auto written = ::write(g_pipe[1], &byte, 1);
    }
#endif
}

constexpr int kStopSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

using Handler = void (*)(int);
Handler g_previous[std::size(kStopSignals)] = {};

} // namespace

CStopSignals::CStopSignals(QObject* parent) : QObject(parent)
{
    g_caught = 0;
#ifndef _WIN32
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_pNotifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, &CStopSignals::OnPipe);
    } else {
        g_pipe[0] = g_pipe[1] = -1; // Caught() still tells
    }
#endif
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        g_previous[i] = std::signal(kStopSignals[i], OnStopSignal);
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

CStopSignals::~CStopSignals()
{
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        std::signal(kStopSignals[i], g_previous[i]);
#ifndef _WIN32
    delete m_pNotifier;
    m_pNotifier = nullptr;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#endif
}

int CStopSignals::Caught() const
{
    return g_caught;
}

void CStopSignals::OnPipe()
{
#ifndef _WIN32
    char buffer[16];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
#endif
    if (g_caught != 0 && !m_bEmitted) {
        m_bEmitted = true;
        emit Stopped(g_caught);
    }
}

} // namespace zorv
