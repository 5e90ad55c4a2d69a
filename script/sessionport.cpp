#include "script/sessionport.h"

#include "config/settingsstore.h"

#include <QFile>

namespace kirt {

ComSettings storedLineSettings(QString& port)
{
    ComSettings settings;
    SettingsStore store;
    if (!store.openForRead())
        return settings;
    const auto read = [&store](const char* name) {
        int value = -1;
        return store.readInt(QLatin1String(name), value) == SettingsStore::ReadStatus::Ok ? value
                                                                                          : -1;
    };
    const int portNumber = read(storedkey::SerialPort) + 1;
    if (portNumber >= FirstPort && portNumber <= LastPort)
        port = QStringLiteral("COM%1").arg(portNumber);
    const int custom = read(storedkey::CustomBaudRate);
    baudRateFromIndex(read(storedkey::BaudRate), static_cast<std::uint32_t>(std::max(custom, 0)),
                      settings.baudRate);
    dataBitsFromIndex(read(storedkey::DataBits), settings.dataBits);
    stopBitsFromIndex(read(storedkey::StopBits), settings.stopBits);
    parityFromIndex(read(storedkey::Parity), settings.parity);
    flowControlFromIndex(read(storedkey::FlowControl), settings.flowControl);
    return settings;
}

OpenFailureWords openFailureWords(const QString& port, const OpenResult& result)
{
    switch (result.failed) {
    case OpenResult::Step::Open:
        return {QStringLiteral("Error Opening ") + port, result.status.reason, result.status.hint};
    case OpenResult::Step::ReadState:
        return {QStringLiteral("Get ComPort Status ERROR!"), result.status.reason, {}};
    case OpenResult::Step::ApplyState:
        return {QStringLiteral("Set ComPort Status ERROR!"), result.status.reason, {}};
    case OpenResult::Step::None:
        break;
    }
    return {};
}

QString OpenFailureWords::line() const
{
    if (title.isEmpty())
        return {};
    // The status texts end in their own mark; a port's name needs one before the reason.
    return title + (title.endsWith(u'!') ? QStringLiteral(" ") : QStringLiteral(": ")) + reason;
}

QString OpenFailureWords::detail() const
{
    if (hint.isEmpty())
        return reason;
    return reason.isEmpty() ? hint : reason + QStringLiteral("\n") + hint;
}

ComSettings withOpenOptions(ComSettings settings, const ScriptPort::OpenOptions& options)
{
    if (options.baud)
        settings.baudRate = *options.baud;
    if (options.dataBits)
        settings.dataBits = *options.dataBits;
    if (options.parity)
        settings.parity = *options.parity;
    if (options.stopBits)
        settings.stopBits = *options.stopBits;
    if (options.flow)
        settings.flowControl = *options.flow;
    return settings;
}

SessionScriptPort::SessionScriptPort(const StartOptions& options,
                                     std::function<void(const QString&)> say, PortFactory factory)
    : m_say(std::move(say)), m_port(std::move(factory))
{
    m_settings = storedLineSettings(m_defaultPort);
    if (!options.port.isEmpty())
        m_defaultPort = options.port;
    if (!options.device.isEmpty())
        m_defaultPort = devicePort(options);
    if (options.baudIndex >= 0)
        tableEntry(BaudRateTable, options.baudIndex, m_settings.baudRate);
    else if (options.customBaud != 0)
        m_settings.baudRate = options.customBaud;
}

QString SessionScriptPort::open(const QString& port, const OpenOptions& options)
{
    QString name = port.isEmpty() ? m_defaultPort : port.toUpper();
    QString shown = name; // a failure names what the script asked for
    if (comPortNumber(name) == 0) {
        // A device path or an address: this run's mapping of the default port.
        shown = port;
        name = m_defaultPort;
        qputenv(qPrintable(QStringLiteral("KIRT_") + name), QFile::encodeName(port));
    }
    OpenRequest request;
    request.portName = name;
    request.settings = withOpenOptions(m_settings, options);
    request.settings.portName = name;
    const OpenResult result = m_port.open(request);
    if (!result.ok())
        return openFailureWords(shown, result).line();
    session().setRxEnabled(true);
    return {};
}

QString SessionScriptPort::close()
{
    m_port.close();
    return {};
}

QString SessionScriptPort::send(const QByteArray& bytes)
{
    if (!session().isOpen())
        return QStringLiteral("send: the port is not open");
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto count = static_cast<std::size_t>(bytes.size());
    // Nobody watches a count of dropped bytes here: the script is told, or its case passes
    // on bytes that never left.
    if (count > 0 && !session().deviceOpen())
        return QStringLiteral("send: %1 bytes dropped; the device is gone").arg(count);
    const std::uint64_t droppedBefore = session().txDropped();
    session().write(data, count);
    if (const std::uint64_t dropped = session().txDropped() - droppedBefore; dropped > 0)
        return QStringLiteral("send: %1 of %2 bytes dropped; the device did not take what was "
                              "queued before them")
            .arg(dropped)
            .arg(count);
    return {};
}

QString SessionScriptPort::sendLine(int)
{
    return QStringLiteral("sendLine: there are no transmit lines without the window");
}

QString SessionScriptPort::setModemLine(ModemLine line, bool on)
{
    if (!session().isOpen())
        return QStringLiteral("the port is not open");
    const SerialStatus status = session().setModemLine(line, on);
    return status.ok() ? QString() : status.reason;
}

QString SessionScriptPort::sendBreak(int ms)
{
    if (!session().isOpen())
        return QStringLiteral("sendBreak: the port is not open");
    return session().holdBreak(ms).reason;
}

std::optional<ModemStatus> SessionScriptPort::modem()
{
    session().pollModemStatus();
    const ModemStatus lines = session().modemStatus();
    if (!lines.available)
        return std::nullopt;
    return lines;
}

} // namespace kirt
