#include "cli/fetch_command.h"

#include "cli/headless.h"
#include "cli/progress.h"
#include "cli/stopsignals.h"
#include "engine/controller.h"
#include "engine/pool.h"
#include "engine/ratelimit.h"
#include "engine/trust.h"
#include "model/listowner.h"
#include "model/listrequest.h"
#include "model/progresstext.h"
#include "model/text.h"
#include "settings/options.h"
#include "settings/optionsedit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <optional>
#include <map>
#include <string>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace zorv {

namespace {

int TerminalWidth(std::FILE* f)
{
#ifndef _WIN32
    winsize ws{};
    if (ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
#endif
    (void)f;
    return 80;
}

// Once a write to `to` has failed (a closed pipe, a full disk), nothing more
// is printed there; the run goes on.
void Write(std::FILE* to, const std::string& s)
{
    if (!std::ferror(to))
        std::fwrite(s.data(), 1, s.size(), to);
}

// The run of one fetch command: the workers, the event handling, the display.
class CFetchRun {
public:
    CFetchRun(CZorvDoc& doc, int connections, std::FILE* out, const CStopSignals& stop)
        : m_doc(doc), m_pool(doc), m_controller(doc), m_signals(stop), m_connections(connections), m_out(out),
          m_live(isatty(fileno(out)) != 0)
    {
        QObject::connect(&m_controller, &CFetchController::ItemFinished, &m_controller,
                         [this](const ItemPtr& item, int state, bool retried, qint64 waitMs) {
                             OnFinished(item, state, retried, std::chrono::milliseconds(waitMs));
                         });
        QObject::connect(&m_controller, &CFetchController::TrafficAdded, &m_controller,
                         [this](quint64 bytes) { m_totalBytes += bytes; });
    }

    int Run()
    {
        m_clock.start();
        m_pool.SetWorkerCount(m_connections);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [this] { OnTick(); });
        tick.start(m_live ? 250 : 100);
        QCoreApplication::exec();
        ClearLive();
        m_pool.Shutdown();
        // Handle the results the workers posted while stopping.
        QCoreApplication::sendPostedEvents();
        if (m_interrupted)
            return 128 + m_interrupted;
        return m_failed.empty() ? EXIT_OK : EXIT_PARTIAL;
    }

private:
    bool Idle() const { return m_doc.GetItemCount(true) == 0 && m_pool.HoldingWorkers() == 0; }

    void OnTick()
    {
        if (m_signals.Caught() && !m_interrupted) {
            m_interrupted = m_signals.Caught();
            m_pool.SetWorkerCount(0);
            m_pool.CancelAllFetches();
            QCoreApplication::quit();
            return;
        }
        if (m_live && std::ferror(m_out))
            m_live = false; // the terminal went away: no more progress lines
        if (m_live)
            DrawLive();
        QuitWhenIdle();
    }

    void QuitWhenIdle()
    {
        if (!Idle() || m_quitCheckPosted)
            return;
        // Results the workers posted before going idle are handled before
        // this check runs; a retry queues its item again.
        m_quitCheckPosted = true;
        // Tied to the run: a check still waiting when the run ends (after an
        // interrupt) is dropped with it rather than run on a later one.
        QTimer::singleShot(0, &m_controller, [this] {
            m_quitCheckPosted = false;
            if (Idle())
                QCoreApplication::quit();
        });
    }

    void OnFinished(const ItemPtr& item, int state, bool retried, std::chrono::milliseconds wait)
    {
        const std::string what = state == STATE_FETCHED ? "fetched" : (retried ? "retrying" : "failed");
        if (state == STATE_FAILED && !retried)
            m_failed[item->Serial()] = true;
        else
            m_failed.erase(item->Serial());
        ClearLive();
        // The URL and the note may come from anywhere (a server's reason
        // phrase): control characters are escaped and a password hidden,
        // since this output ends up on terminals and in logs.
        // A retry that waits says how long, ahead of why it failed.
        const std::string note = wait.count() > 0 ? WaitingNote(item->GetNote(), wait) : item->GetNote();
        Write(m_out, what + "\t" + EscapeText(MaskUrlPassword(item->m_strUrl)) + "\t" + EscapeText(note) + "\n");
        std::fflush(m_out);
        if (m_live)
            DrawLive();
        QuitWhenIdle();
    }

    void ClearLive()
    {
        if (m_liveLines == 0)
            return;
        std::string s;
        for (int i = 0; i < m_liveLines; ++i)
            s += "\x1b[1A\x1b[2K";
        Write(m_out, s);
        m_liveLines = 0;
    }

    void DrawLive()
    {
        ClearLive();
        const int width = TerminalWidth(m_out) - 1;
        const double now = static_cast<double>(m_clock.elapsed()) / 1000.0;
        std::string s;
        for (const ItemPtr& item : m_pool.ActiveItems()) {
            s += FormatProgressRow(ProgressRowOf(*item), width) + "\n";
            ++m_liveLines;
        }
        const double speed = now > 0 ? double(m_totalBytes) / now : 0;
        s += std::to_string(m_doc.GetItemCount(true)) + " waiting, " + std::to_string(m_pool.ActiveFetches())
            + " running, " + FormatSize(m_totalBytes) + " at " + FormatSize(static_cast<std::uint64_t>(speed)) + "/s\n";
        ++m_liveLines;
        Write(m_out, s);
        std::fflush(m_out);
    }

    CZorvDoc& m_doc;
    CWorkerPool m_pool;
    CFetchController m_controller;
    const CStopSignals& m_signals;
    int m_connections;
    std::FILE* m_out;
    bool m_live;
    int m_liveLines = 0;
    int m_interrupted = 0; // the signal that stopped the run
    bool m_quitCheckPosted = false;
    quint64 m_totalBytes = 0;
    QElapsedTimer m_clock;
    std::map<std::uint64_t, bool> m_failed; // items whose last result is a failure
};

// Items of older lists have no file name: derived from the URL as the
// destination check does, rather than failing each of them.
void FillMissingFileNames(CZorvDoc& doc)
{
    bool filled = false;
    for (int i = 0; i < doc.GetCount(); ++i) {
        CItem* item = doc.GetItem(i);
        if (item->m_strFileName.empty() && item->FillFileName() && !item->m_strFileName.empty())
            filled = true;
    }
    if (filled)
        doc.SetModifiedFlag(true);
}

} // namespace

int RunFetch(const QStringList& args, std::FILE* out, std::FILE* err)
{
    COptions& options = Options();
    int connections = options.Connections;
    int maxSegments = options.MaxSegments;
    int speedLimit = options.SpeedLimit;
    int existing = options.ExistingFile;
    int maxPerServer = options.MaxConnectionsPerServer;
    std::string caCertificates = options.CaCertificates;
    // The number flags, the field each stands for and what its value means.
    const struct {
        const char* flag;
        const CUnsignedField field;
        int& value;
        const char* meaning;
    } numbers[] = {
        {"--connections", PageField("Connections"), connections, ""},
        {"--max-segments", PageField("MaxSegments"), maxSegments, ""},
        {"--limit-rate", PageField("SpeedLimit"), speedLimit, " (KiB/s, 0: no limit)"},
        {"--max-per-server", PageField("MaxConnectionsPerServer"), maxPerServer, " (0: no limit)"},
    };
    QString listPath;
    for (int i = 0; i < args.size(); ++i) {
        const auto number = std::find_if(std::begin(numbers), std::end(numbers),
                                         [&](const auto& n) { return args[i] == QLatin1String(n.flag); });
        if (number != std::end(numbers)) {
            const std::optional<unsigned> value =
                i + 1 < args.size() ? ParseField(args[++i].toStdString(), number->field) : std::nullopt;
            if (!value)
                return UsageError(err, QStringLiteral("%1 needs a number from %2 to %3%4")
                                           .arg(QLatin1String(number->flag))
                                           .arg(number->field.min)
                                           .arg(number->field.max)
                                           .arg(QLatin1String(number->meaning)));
            number->value = static_cast<int>(*value);
        } else if (args[i] == QLatin1String("--cacert")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                return UsageError(err, QStringLiteral("--cacert needs a PEM file of certificate authorities"));
            // Checked now rather than at each HTTPS item: a wrong file is
            // the caller's mistake, not the server's.
            caCertificates = QFileInfo(args[++i]).absoluteFilePath().toStdString();
            if (const std::string problem = CaCertificatesProblem(caCertificates); !problem.empty())
                return UsageError(err, QStringLiteral("--cacert: %1").arg(QString::fromStdString(problem)));
        } else if (args[i] == QLatin1String("--existing")) {
            const QString value = i + 1 < args.size() ? args[++i] : QString();
            const QStringList actions{QStringLiteral("rename"), QStringLiteral("replace"), QStringLiteral("skip")};
            existing = static_cast<int>(actions.indexOf(value)); // EXISTING_RENAME, _REPLACE, _SKIP
            if (existing < 0)
                return UsageError(err, QStringLiteral("--existing needs rename, replace or skip"));
        } else if (args[i].startsWith(QLatin1String("--")) || !listPath.isEmpty()) {
            return UsageError(err, QStringLiteral("unexpected argument %1").arg(args[i]));
        } else {
            listPath = args[i];
        }
    }
    if (listPath.isEmpty())
        return UsageError(err, QStringLiteral("--fetch needs a list file"));
    connections = std::max(connections, 1);
    // Results are saved as they come (at most four times a second) and at the end:
    // after a kill, the next run fetches only what was not fetched, and an
    // item that was running goes on from its partial file.
    options.AutoSave = 1;
    {
        const auto lock = options.LockNetwork();
        options.MaxSegments = std::max(maxSegments, 1);
        options.ExistingFile = existing;
        options.MaxConnectionsPerServer = maxPerServer;
        options.CaCertificates = caCertificates;
    }
    ApplySpeedLimit(speedLimit);

    int status;
    {
        CZorvDoc doc;
        // While it runs, this command holds the list: a `zorv --add` of the
        // same list hands its URLs over, and they are fetched too.
        CListOwner owner([&doc](const QJsonObject& request) {
            if (request.value(QStringLiteral("command")).toString() == QLatin1String("raise"))
                return QJsonObject{{QStringLiteral("ok"), false},
                                   {QStringLiteral("error"), QStringLiteral("別の zorv (zorv --fetch) がこのリストを取得中です。")}};
            return AnswerListRequest(doc, request);
        });
        QString error;
        switch (owner.Own(listPath, &error, [&] { return OpenList(doc, listPath, false, err); })) {
        case CListOwner::OwnResult::Owned:
            break;
        case CListOwner::OwnResult::Taken:
            Print(err, QStringLiteral("zorv: %1 is open in another zorv; fetch it there\n").arg(listPath));
            return EXIT_USAGE;
        case CListOwner::OwnResult::Failed:
            if (!error.isEmpty())
                Print(err, QStringLiteral("zorv: %1\n").arg(error));
            return EXIT_USAGE;
        }
        FillMissingFileNames(doc);
        doc.SetInProgressSaveState(STATE_NOT_FETCHED);
        doc.AutoSave().SetInterval(std::chrono::milliseconds(250));
        // Ctrl+C, SIGTERM and SIGHUP cancel the transfers and save the list;
        // the exit status is 128 + the signal. Held until the list is saved:
        // a signal during the save waits for it.
        CStopSignals stopSignals;
        {
            CFetchRun run(doc, connections, out, stopSignals);
            status = run.Run();
        }
        // Saved only when something changed (a result, an added URL).
        if (!owner.Release([&] { return !doc.IsModified() || SaveList(doc, listPath, err); }))
            return EXIT_USAGE;
    }
    return status;
}

} // namespace zorv
