// Test scripts in the window: run from the Tools menu on a thread of their own, talking to the
// port the window has open through the same session, write path and display as the user.
#include "app/Umain.h"

#include "app/dialogs.h"
#include "script/scriptfile.h"
#include "script/scriptreport.h"
#include "script/sessionport.h"
#include "serial/portmap.h"
#include "ui/receivedisplay.h"
#include "ui_Umain.h"

#include <QFileInfo>

// The port as a script in the window has it; every call runs on the window's thread.
class TFmain::ScriptPortOfWindow final : public kirt::ScriptPort
{
public:
    explicit ScriptPortOfWindow(TFmain& window) : m_window(window) {}

    QString open(const QString& port, const OpenOptions& options) override
    {
        // The port chosen in the window, and its settings; the script's options hold for this
        // opening only, and the window's controls stay as the user left them.
        kirt::PortController& controller = m_window.port();
        const QString current = controller.settings().portName;
        QString wanted = port.isEmpty() ? current : port.toUpper();
        if (!port.isEmpty() && kirt::comPortNumber(wanted) == 0) {
            // A device path or an address: only as the one the current port leads to.
            const auto resolution = kirt::resolvePort(current);
            if (!resolution || (resolution->devicePath != port && resolution->linkTarget != port))
                return QStringLiteral("open: %1 is not the device of %2; in the window, choose "
                                      "it on the settings page")
                    .arg(port, current);
            wanted = current;
        }
        if (controller.isOpen() || controller.opening()) {
            if (controller.isOpen() && wanted == controller.portName())
                return {}; // the window's port, as it is; the script's close() leaves it open
            return QStringLiteral("open: the window has %1 open; close it first")
                .arg(controller.isOpen() ? controller.portName() : current);
        }
        if (kirt::comPortNumber(wanted) == 0)
            return QStringLiteral("open: %1 is not a port name").arg(port);
        const kirt::OpenResult result =
            m_window.openForScript(wanted, kirt::withOpenOptions(controller.settings(), options));
        m_openedHere = result.ok();
        // Named as the script asked for it: a path is what the script's author knows.
        return kirt::openFailureWords(port.isEmpty() ? current : port, result).line();
    }
    QString close() override
    {
        // Only a port this script opened: one the user had open stays so for the user.
        if (m_openedHere && m_window.portOpen()) {
            m_window.CloseComPort();
            m_window.afterComClick();
        }
        m_openedHere = false;
        return {};
    }
    // A new run owns no port yet.
    void runStarts() { m_openedHere = false; }
    QString send(const QByteArray& bytes) override
    {
        if (!m_window.portOpen())
            return QStringLiteral("send: the port is not open");
        // The user's own path: shown with "Show Sent Data", queued behind what waits.
        m_window.WriteComBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::uint32_t>(bytes.size()));
        return {};
    }
    QString sendLine(int line) override
    {
        if (line < 1 || line > kirt::TransmitLineCount)
            return QStringLiteral("sendLine: there are lines 1 to %1, not %2")
                .arg(kirt::TransmitLineCount)
                .arg(line);
        if (!m_window.portOpen())
            return QStringLiteral("sendLine: the port is not open");
        m_window.SendTransmitLine(line);
        return {};
    }
    QString setModemLine(kirt::ModemLine line, bool on) override
    {
        // Through the switch, so it shows what holds.
        QAbstractButton* button =
            line == kirt::ModemLine::Dtr ? m_window.m_ui->DTRButton : m_window.m_ui->RTSButton;
        button->setChecked(on);
        const kirt::SerialStatus status = m_window.port().session().setModemLine(line, on);
        return status.ok() ? QString() : status.reason;
    }
    QString sendBreak(int ms) override
    {
        if (!m_window.port().session().deviceOpen())
            return QStringLiteral("sendBreak: the port is not open");
        return m_window.port().session().holdBreak(ms).reason;
    }
    std::optional<kirt::ModemStatus> modem() override
    {
        const kirt::ModemStatus lines = m_window.port().session().modemStatus();
        if (!lines.available)
            return std::nullopt;
        return lines;
    }
    void log(const QString& text) override { m_window.showNoteLines({text}); }
    void logLines(const QStringList& lines) override { m_window.showNoteLines(lines); }
    kirt::PortController* transferPort() override { return &m_window.port(); }
    kirt::ComSettings lineSettings() const override { return m_window.port().settings(); }

private:
    TFmain& m_window;
    bool m_openedHere = false;
};

void TFmain::setUpScripts()
{
    m_ui->ScriptStateLabel->hide();
    m_scripts.port = std::make_unique<ScriptPortOfWindow>(*this);
    m_scripts.runner = std::make_unique<kirt::ScriptRunner>(*m_scripts.port);
    // The window stays the user's however much a script says.
    m_scripts.runner->setBoundedOutput(true);
    connect(m_scripts.runner.get(), &kirt::ScriptRunner::resultsShown, this,
            &TFmain::showNoteLines);
    connect(m_scripts.runner.get(), &kirt::ScriptRunner::finished, this,
            &TFmain::showScriptOutcome);
}

bool TFmain::scriptRunning() const
{
    return m_scripts.runner && m_scripts.runner->running();
}

void TFmain::RunScriptActionClick()
{
    if (scriptRunning())
        return;
    const QString path =
        kirt::dialogs().openFile(this,
                                 {{QStringLiteral("Scripts"), QStringLiteral("*.js")},
                                  {QStringLiteral("All files"), QStringLiteral("*")}},
                                 0, nullptr);
    if (path.isEmpty())
        return;
    // A FIFO or a device chosen by mistake would hold the window, or fill its memory.
    const kirt::ScriptFile file = kirt::readScriptFile(path);
    if (!file.error.isEmpty()) {
        kirt::dialogs().error(this, QStringLiteral("Cannot read ") + path, file.error);
        return;
    }
    m_scripts.name = QFileInfo(path).fileName();
    static_cast<ScriptPortOfWindow&>(*m_scripts.port).runStarts();
    m_scripts.runner->start(path, file.source);
    port().addReceiver(m_scripts.runner.get());
    m_ui->RunScriptAction->setEnabled(false);
    m_ui->StopScriptAction->setEnabled(true);
    m_ui->ScriptStateLabel->setText(QStringLiteral(" %1 running").arg(m_scripts.name));
    m_ui->ScriptStateLabel->setToolTip(path);
    m_ui->ScriptStateLabel->show();
}

void TFmain::StopScriptActionClick()
{
    m_scripts.runner->stop();
}

void TFmain::showScriptOutcome(const kirt::ScriptOutcome& outcome)
{
    port().removeReceiver(m_scripts.runner.get());
    m_ui->RunScriptAction->setEnabled(true);
    m_ui->StopScriptAction->setEnabled(false);
    QString state;
    if (outcome.end == kirt::ScriptOutcome::End::Stopped) {
        state = QStringLiteral("stopped");
    } else {
        const kirt::ScriptTally tally = kirt::tallyOf(outcome);
        if (!tally.problem.isEmpty())
            showNoteLines({kirt::problemLine(m_scripts.name, tally.problem)});
        state = tally.failed == 0
                    ? QStringLiteral("passed %1/%1").arg(tally.total)
                    : QStringLiteral("failed %1/%2").arg(tally.failed).arg(tally.total);
    }
    showNoteLines({QStringLiteral("%1 %2").arg(m_scripts.name, state)});
    m_ui->ScriptStateLabel->setText(QStringLiteral(" %1 %2").arg(m_scripts.name, state));
}
