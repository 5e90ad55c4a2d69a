#pragma once

#include "base/comsettings.h"
#include "config/commandline.h"
#include "script/scriptchannel.h"
#include "session/portcontroller.h"

#include <functional>

namespace kirt {

// The port as a script without a window has it: the port session alone, opened only when
// the script asks, with the stored line settings and those of the command line.
class SessionScriptPort final : public ScriptPort
{
public:
    SessionScriptPort(const StartOptions& options, std::function<void(const QString&)> say,
                      PortFactory factory = systemPortFactory());

    PortController& controller() { return m_port; }
    PortSession& session() { return m_port.session(); }

    QString open(const QString& port, const OpenOptions& options) override;
    QString close() override;
    QString send(const QByteArray& bytes) override;
    QString sendLine(int line) override;
    QString setModemLine(ModemLine line, bool on) override;
    QString sendBreak(int ms) override;
    std::optional<ModemStatus> modem() override;
    void log(const QString& text) override { m_say(text); }
    PortController* transferPort() override { return &m_port; }
    ComSettings lineSettings() const override { return m_settings; }

private:
    std::function<void(const QString&)> m_say;
    PortController m_port;
    ComSettings m_settings;
    QString m_defaultPort = QStringLiteral("COM1");
};

// The settings the window would open with, from the stored settings; port gets the stored port.
ComSettings storedLineSettings(QString& port);

// The words of a failed open: a box's text and its detail in the window, one line for a
// script. port: the name the user or the script asked for.
struct OpenFailureWords
{
    QString title;  // "Error Opening COM1", "Get ComPort Status ERROR!", "Set ComPort ..."
    QString reason; // the system's
    QString hint;   // what may help, for a device that could not be opened

    // "Error Opening COM1: reason", "Get ComPort Status ERROR! reason".
    QString line() const;
    // The reason, and on a line of its own the hint.
    QString detail() const;
};
OpenFailureWords openFailureWords(const QString& port, const OpenResult& result);

// The options of a script's open() applied to the line settings.
ComSettings withOpenOptions(ComSettings settings, const ScriptPort::OpenOptions& options);

} // namespace kirt
