#pragma once

#include "script/scriptchannel.h"
#include "script/sessionport.h"
#include "session/portcontroller.h"

#include <QObject>

#include <memory>

namespace kirt {

// A port a script opens of its own beside the main one (openPort): a port session of its own,
// never the window's, whose received bytes go to a channel of their own. Lives on the owner's
// thread; its channel's calls run there. A close frees the session, so a script that opens
// and closes in a loop holds little; what is left goes at the script's end.
class OwnScriptPort final : public QObject, public ScriptPort, private PortReceiver
{
public:
    // settings: the line settings the options of open() are applied to.
    explicit OwnScriptPort(ScriptPort& main, const ComSettings& settings);
    ~OwnScriptPort() override;

    ScriptChannel& channel() { return m_channel; }
    // The open port's controller; none once closed.
    const PortController* controller() const;

    // port: "COMn", a device path or an address.
    QString open(const QString& port, const OpenOptions& options) override;
    QString close() override;
    // The port's calls, refused once it is closed.
    QString send(const QByteArray& bytes) override
    {
        return m_port ? m_port->send(bytes) : closed("send: ");
    }
    QString sendLine(int) override
    {
        return QStringLiteral("sendLine: the transmit lines are the main port's");
    }
    QString setModemLine(ModemLine line, bool on) override
    {
        return m_port ? m_port->setModemLine(line, on) : closed("");
    }
    QString sendBreak(int ms) override
    {
        return m_port ? m_port->sendBreak(ms) : closed("sendBreak: ");
    }
    std::optional<ModemStatus> modem() override { return m_port ? m_port->modem() : std::nullopt; }
    void log(const QString& text) override { m_main.log(text); }

private:
    static QString closed(const char* what)
    {
        return QLatin1String(what) + QStringLiteral("the port is closed");
    }
    void received(const std::uint8_t* bytes, std::size_t count, const ReadTime&) override
    {
        m_channel.feed(bytes, count);
    }

    ScriptPort& m_main;
    ComSettings m_settings;
    ScriptChannel m_channel;
    // After the channel: the session stops feeding it before it goes.
    std::unique_ptr<SessionScriptPort> m_port;
};

// Why a port the script asks openPort() for is one it has open already: the main port, or one
// of its own (others); empty when it is not.
QString alreadyOpen(const QString& port, const PortController* main,
                    const std::vector<const PortController*>& others);

} // namespace kirt
