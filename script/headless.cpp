#include "script/headless.h"

#include "base/savefile.h"
#include "script/junit.h"
#include "script/scriptfile.h"
#include "script/scriptreport.h"
#include "script/scriptrunner.h"
#include "script/sessionport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace kirt {

namespace {

int g_interruptPipe[2] = {-1, -1};

extern "C" void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_interruptPipe[1], &byte, 1);
}

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int runScriptWithoutWindow(const StartOptions& options)
{
    // The time limit is the whole run's: it counts from here, not from when the script is read.
    const QDeadlineTimer deadline = options.timeoutSeconds > 0
                                        ? QDeadlineTimer(options.timeoutSeconds * 1000LL)
                                        : QDeadlineTimer(QDeadlineTimer::Forever);
    const ScriptFile file = readScriptFile(options.script);
    if (!file.error.isEmpty()) {
        print(stderr, QStringLiteral("kirt: cannot read %1: %2").arg(options.script, file.error));
        return 2;
    }

    SessionScriptPort port(options, [](const QString& text) { print(stdout, text); });
    ScriptRunner runner(port);
    port.controller().addReceiver(&runner);

    QObject::connect(&runner, &ScriptRunner::resultsShown, &runner, [](const QStringList& lines) {
        for (const QString& line : lines)
            print(stdout, line);
    });
    int exitCode = 1;
    QObject::connect(&runner, &ScriptRunner::finished, &runner, [&](const ScriptOutcome& outcome) {
        exitCode = outcome.exitCode();
        if (outcome.end == ScriptOutcome::End::NotLoaded) {
            print(stderr, outcome.error);
        } else {
            const QString problem = outcomeProblem(outcome);
            if (!problem.isEmpty())
                print(stdout, problemLine(options.script, problem));
            print(stdout, summaryLine(outcome));
        }
        if (!options.junit.isEmpty()) {
            const FileResult report = saveFile(options.junit, junitReport(options.script, outcome));
            if (!report.ok()) {
                print(
                    stderr,
                    QStringLiteral("kirt: cannot write %1: %2").arg(options.junit, report.reason));
                exitCode = std::max(exitCode, 1);
            }
        }
        QCoreApplication::exit(exitCode);
    });

    // Ctrl+C (and a polite kill) stops the script through the event loop, not in the handler.
    if (::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, &runner);
        QObject::connect(notifier, &QSocketNotifier::activated, &runner, [&runner] {
            char drained[16];
            while (::read(g_interruptPipe[0], drained, sizeof drained) > 0) {
            }
            runner.stop(ScriptOutcome::End::Stopped);
        });
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
    }
    QTimer limit;
    if (options.timeoutSeconds > 0) {
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &runner,
                         [&runner] { runner.stop(ScriptOutcome::End::TimedOut); });
        limit.start(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
    }

    runner.start(options.script, file.source);
    QCoreApplication::exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return exitCode;
}

} // namespace kirt
