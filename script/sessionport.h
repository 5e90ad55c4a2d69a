#pragma once

#include "app/logic/commandline.h"
#include "base/comsettings.h"
#include "script/scriptchannel.h"
#include "session/portengine.h"

#include <functional>

namespace kirt {

// The port as a script without a window has it: the port session alone, opened only when
// the script asks, with the stored line settings and those of the command line.
class SessionScriptPort final : public ScriptPort
{
public:
    SessionScriptPort(const StartOptions& options, std::function<void(const QString&)> say,
                      PortFactory factory = systemPortFactory());

    PortSession& session() { return m_engine.session(); }

    QString open(const QString& port, const OpenOptions& options) override;
    QString close() override;
    QString send(const QByteArray& bytes) override;
    QString sendLine(int line) override;
    QString setModemLine(ModemLine line, bool on) override;
    QString sendBreak(int ms) override;
    std::optional<ModemStatus> modem() override;
    void log(const QString& text) override { m_say(text); }

private:
    std::function<void(const QString&)> m_say;
    PortEngine m_engine;
    ComSettings m_settings;
    QString m_defaultPort = QStringLiteral("COM1");
};

// The settings the window would open with, from the stored settings; port gets the stored port.
ComSettings storedLineSettings(QString& port);

// "Error Opening COM1: reason" and the like, as the window's boxes say it.
QString openFailureText(const QString& port, const OpenResult& result);

// A script's sendBreak on an open port: the break is set and ended by a timer after ms, so the
// session goes on serving the port meanwhile. The reason when it could not be set.
QString timedBreak(PortSession& session, int ms);

// The options of a script's open() applied to the line settings.
ComSettings withOpenOptions(ComSettings settings, const ScriptPort::OpenOptions& options);

} // namespace kirt
