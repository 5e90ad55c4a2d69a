#pragma once

#include "script/memorywatch.h"
#include "script/scriptchannel.h"
#include "session/portcontroller.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class QJSEngine;
class QThread;
class QTimer;

namespace kirt {

class OwnScriptPort;

struct ScriptCase
{
    QString name;
    bool passed = false;
    QString reason; // why it failed
    double ms = 0;
};

struct ScriptOutcome
{
    enum class End { Done, Failed, NotLoaded, Stopped, TimedOut, OutOfMemory };
    End end = End::Done;
    QString error; // a script that did not load: "file:line: message"; an error outside a case
    QList<ScriptCase> cases;
    QString interruptedCase; // the case under way when a stop, the time limit or the memory bound
                             // ended the run
    double ms = 0;

    int failedCases() const;
    // 0 every case passed, 1 a case or the run failed (stopped, timed out), 2 not loaded.
    int exitCode() const;
};

// Runs one script on a thread of its own, with an engine of its own; the port is reached
// through the channel only. Lives on the owner's thread; its signals arrive there.
class ScriptRunner final : public QObject, public PortReceiver
{
    Q_OBJECT

public:
    ScriptRunner(ScriptPort& port, QObject* parent = nullptr);
    ~ScriptRunner() override;

    // Starts the script; false when one is running.
    bool start(const QString& fileName, const QString& source);
    // Ends the running script soon (an engine interrupt, also inside a busy loop); finished()
    // follows.
    void stop(ScriptOutcome::End why = ScriptOutcome::End::Stopped);
    bool running() const { return m_thread != nullptr; }
    // Waits for the script's thread to end, after a stop.
    void waitForEnd();

    // What the script shows reaches the port's log: whole (the script waits while the owner
    // is behind), or bounded to what one refresh every RefreshMs shows, the rest counted in
    // a line "... 12,345 lines not shown" (a window, which must stay free for the user).
    void setBoundedOutput(bool bounded);
    static constexpr int RefreshMs = 50;
    static constexpr uint ScriptStackBytes = 256u * 1024 * 1024;
    // What a script may add to the program's memory before it is stopped: far more than any
    // test needs, far less than takes a machine down.
    static constexpr std::int64_t ScriptMemoryBytes = 512LL * 1024 * 1024;

    // Bytes received from the session; any thread.
    void received(const std::uint8_t* bytes, std::size_t count) { m_channel.feed(bytes, count); }
    void received(const std::uint8_t* bytes, std::size_t count, const ReadTime&) override
    {
        received(bytes, count);
    }
    ScriptChannel& channel() { return m_channel; }

signals:
    // The PASS/FAIL lines of cases, in order with the log lines given to the port meanwhile.
    void resultsShown(const QStringList& lines);
    void finished(const kirt::ScriptOutcome& outcome);

private:
    void run(const QString& fileName, const QString& source);
    void linesWaiting();
    void showSaid();
    // stop() from any thread: ends the script soon, the first reason given counting.
    void interrupt(ScriptOutcome::End why);
    // Script's thread: opens a port of the script's own on the owner's thread; its channel, or
    // nothing and why.
    ScriptChannel* openOwnPort(const QString& name, const ScriptPort::OpenOptions& options,
                               QString& error);
    // Owner's thread, once the script's has ended: closes and frees the script's own ports.
    void closeOwnPorts();

    ScriptChannel m_channel;
    ScriptPort& m_port;
    QTimer* m_refresh;
    QElapsedTimer m_lastRefresh;
    int m_refreshMs = 0;
    QThread* m_thread = nullptr;
    ScriptOutcome m_outcome; // written by the script's thread, read after it ended
    std::mutex m_engineMutex;
    QJSEngine* m_engine = nullptr;
    std::atomic<int> m_stopReason{-1};
    MemoryWatch m_memory;
    // Made and freed on the owner's thread; the mutex lets a stop from any thread cancel their
    // waits.
    std::mutex m_ownMutex;
    std::vector<std::unique_ptr<OwnScriptPort>> m_ownPorts;
};

} // namespace kirt

Q_DECLARE_METATYPE(kirt::ScriptCase)
Q_DECLARE_METATYPE(kirt::ScriptOutcome)
