#include "script/headless.h"

#include "app/logic/settingsstore.h"
#include "base/comsettings.h"
#include "script/junit.h"
#include "script/scriptrunner.h"
#include "session/portengine.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QThread>
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

// The line settings the window would open with, from the stored settings.
ComSettings storedSettings(QString& port)
{
    ComSettings settings;
    SettingsStore store;
    if (!store.openForRead())
        return settings;
    int value = 0;
    const auto read = [&](const char* name) {
        return store.readInt(QLatin1String(name), value) == SettingsStore::ReadStatus::Ok;
    };
    if (read("SerialPort") && value >= 0 && value < LastPort)
        port = QStringLiteral("COM%1").arg(value + 1);
    int custom = 0;
    if (read("CustomBaudRate"))
        custom = value;
    if (read("BaudRate")) {
        if (value == CustomBaudIndex && customBaudAllowed(static_cast<std::uint32_t>(custom)))
            settings.baudRate = static_cast<std::uint32_t>(custom);
        else
            tableEntry(BaudRateTable, value, settings.baudRate);
    }
    if (read("DataBit") && value >= 0 && value <= 4)
        settings.dataBits = static_cast<std::uint8_t>(value + 4);
    if (read("StopBit") && value >= 0 && value <= 2)
        settings.stopBits = static_cast<std::uint8_t>(value);
    if (read("ParityBit") && value >= 0 && value <= 4)
        settings.parity = static_cast<std::uint8_t>(value);
    if (read("FlowControl") && value >= 0 && value <= 2)
        settings.flowControl = static_cast<FlowControl>(value);
    return settings;
}

QString openFailure(const QString& port, const OpenResult& result)
{
    switch (result.failed) {
    case OpenResult::Step::Open:
        return QStringLiteral("Error Opening %1: %2").arg(port, result.status.reason);
    case OpenResult::Step::ReadState:
        return QStringLiteral("Get ComPort Status ERROR! %1").arg(result.status.reason);
    case OpenResult::Step::ApplyState:
        return QStringLiteral("Set ComPort Status ERROR! %1").arg(result.status.reason);
    case OpenResult::Step::None:
        break;
    }
    return {};
}

// The port as a script without a window has it: the session alone, opened only when the
// script asks.
class HeadlessPort final : public ScriptPort
{
public:
    HeadlessPort(const StartOptions& options, std::function<void(const QString&)> say)
        : m_say(std::move(say))
    {
        m_settings = storedSettings(m_defaultPort);
        if (!options.port.isEmpty())
            m_defaultPort = options.port;
        if (!options.device.isEmpty())
            m_defaultPort = devicePort(options);
        if (options.baudIndex >= 0)
            tableEntry(BaudRateTable, options.baudIndex, m_settings.baudRate);
        else if (options.customBaud != 0)
            m_settings.baudRate = options.customBaud;
    }

    PortSession& session() { return m_engine.session(); }

    QString open(const QString& port, const OpenOptions& options) override
    {
        QString name = port.isEmpty() ? m_defaultPort : port.toUpper();
        if (comPortNumber(name) == 0) {
            // A device path or an address: this run's mapping of the default port.
            name = m_defaultPort;
            qputenv(qPrintable(QStringLiteral("KIRT_") + name), QFile::encodeName(port));
        }
        OpenRequest request;
        request.portName = name;
        request.settings = m_settings;
        request.settings.portName = name;
        if (options.baud)
            request.settings.baudRate = *options.baud;
        if (options.dataBits)
            request.settings.dataBits = *options.dataBits;
        if (options.parity)
            request.settings.parity = *options.parity;
        if (options.stopBits)
            request.settings.stopBits = *options.stopBits;
        if (options.flow)
            request.settings.flowControl = static_cast<FlowControl>(*options.flow);
        const OpenResult result = session().open(request);
        if (!result.ok())
            return openFailure(name, result);
        session().setRxEnabled(true);
        return {};
    }
    QString close() override
    {
        session().close();
        return {};
    }
    QString send(const QByteArray& bytes) override
    {
        if (!session().isOpen())
            return QStringLiteral("send: the port is not open");
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        session().write(data, static_cast<std::size_t>(bytes.size()));
        return {};
    }
    QString sendLine(int) override
    {
        return QStringLiteral("sendLine: there are no transmit lines without the window");
    }
    QString setModemLine(ModemLine line, bool on) override
    {
        const SerialStatus status = session().setModemLine(line, on);
        return status.ok() ? QString() : status.reason;
    }
    QString sendBreak(int ms) override
    {
        if (!session().isOpen())
            return QStringLiteral("sendBreak: the port is not open");
        SerialStatus status = session().setBreak(true);
        if (!status.ok())
            return status.reason;
        // A short wait on this thread: the script waits for the call anyway.
        QThread::msleep(static_cast<unsigned long>(std::clamp(ms, 0, 10000)));
        status = session().setBreak(false);
        return status.ok() ? QString() : status.reason;
    }
    std::optional<ModemStatus> modem() override
    {
        session().pollModemStatus();
        const ModemStatus lines = session().modemStatus();
        if (!lines.available)
            return std::nullopt;
        return lines;
    }
    void log(const QString& text) override { m_say(text); }

private:
    std::function<void(const QString&)> m_say;
    PortEngine m_engine;
    ComSettings m_settings;
    QString m_defaultPort = QStringLiteral("COM1");
};

} // namespace

int runScriptWithoutWindow(const StartOptions& options)
{
    QFile file(options.script);
    if (!file.open(QIODevice::ReadOnly)) {
        print(stderr, QStringLiteral("kirt: cannot read %1: %2")
                          .arg(options.script, file.errorString()));
        return 2;
    }
    const QString source = QString::fromUtf8(file.readAll());

    HeadlessPort port(options, [](const QString& text) { print(stdout, text); });
    ScriptRunner runner(port);
    port.session().setReceiveTap(
        [&runner](const std::uint8_t* bytes, std::size_t count) { runner.received(bytes, count); });

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
            QSaveFile report(options.junit);
            if (!report.open(QIODevice::WriteOnly) ||
                report.write(junitReport(options.script, outcome)) < 0 || !report.commit()) {
                print(stderr, QStringLiteral("kirt: cannot write %1: %2")
                                  .arg(options.junit, report.errorString()));
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
