#include "script/headless.h"

#include "base/savefile.h"
#include "script/junit.h"
#include "script/scriptrunner.h"
#include "script/sessionport.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

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
    QFile file(options.script);
    if (!file.open(QIODevice::ReadOnly)) {
        print(stderr,
              QStringLiteral("kirt: cannot read %1: %2").arg(options.script, file.errorString()));
        return 2;
    }
    const QString source = QString::fromUtf8(file.readAll());

    SessionScriptPort port(options, [](const QString& text) { print(stdout, text); });
    ScriptRunner runner(port);
    port.session().setReceiveTap([&runner](const std::uint8_t* bytes, std::size_t count,
                                           const ReadTime&) { runner.received(bytes, count); });

    // Through the event loop, in order with the script's log lines.
    QObject::connect(&runner, &ScriptRunner::caseFinished, &runner, [](const ScriptCase& c) {
        print(stdout, c.passed ? QStringLiteral("PASS %1 (%2 ms)").arg(c.name).arg(qRound(c.ms))
                               : QStringLiteral("FAIL %1: %2").arg(c.name, c.reason));
    });
    int exitCode = 1;
    QObject::connect(&runner, &ScriptRunner::finished, &runner, [&](const ScriptOutcome& outcome) {
        exitCode = outcome.exitCode();
        if (outcome.end == ScriptOutcome::End::NotLoaded) {
            print(stderr, outcome.error);
        } else {
            const QString problem = outcomeProblem(outcome);
            if (!problem.isEmpty())
                print(stdout, QStringLiteral("FAIL %1: %2").arg(options.script, problem));
            const auto total = outcome.cases.size();
            const int failed = outcome.failedCases();
            print(stdout, QStringLiteral("%1 passed, %2 failed of %3 (%4 ms)")
                              .arg(total - failed)
                              .arg(failed)
                              .arg(total)
                              .arg(qRound(outcome.ms)));
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
        limit.start(options.timeoutSeconds * 1000);
    }

    runner.start(options.script, source);
    QCoreApplication::exec();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return exitCode;
}

} // namespace kirt
