#pragma once
// The signals that ask a running zorv to end (Ctrl+C, kill, a closed
// terminal, the end of the desktop session): while a CStopSignals exists
// they no longer end the process at once. The handler only records the
// signal and writes a byte to a pipe; the object's thread learns of it from
// Stopped() (its event loop watches the pipe) or by asking Caught(), and
// ends the run the way it must (saving the list first). SIGPIPE is ignored
// for good, so that a closed output ends the printing rather than the run.
// One object at a time; the previous handlers come back when it goes.
#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace zorv {

class CStopSignals : public QObject {
    Q_OBJECT
public:
    explicit CStopSignals(QObject* parent = nullptr);
    ~CStopSignals() override;
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // The first stop signal received since construction; 0 while none has.
    int Caught() const;

signals:
    // Emitted once, from the event loop, after the first stop signal.
    void Stopped(int signal);

private:
    void OnPipe();

    QSocketNotifier* m_pNotifier = nullptr;
    bool m_bEmitted = false;
};

} // namespace zorv
