#include "script/headless.h"

#include "base/platform.h"
#include "base/savefile.h"
#include "script/junit.h"
#include "script/scriptfile.h"
#include "script/scriptreport.h"
#include "script/scriptrunner.h"
#include "script/sessionport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace kirt {

namespace {

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
    platform::watchInterrupts(&runner, [&runner] { runner.stop(ScriptOutcome::End::Stopped); });
    QTimer limit;
    if (options.timeoutSeconds > 0) {
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &runner,
                         [&runner] { runner.stop(ScriptOutcome::End::TimedOut); });
        limit.start(static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
    }

    runner.start(options.script, file.source);
    QCoreApplication::exec();
    platform::stopWatchingInterrupts();
    return exitCode;
}

} // namespace kirt
