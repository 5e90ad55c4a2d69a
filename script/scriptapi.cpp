#include "script/scriptapi.h"

#include "base/codec.h"
#include "checksum/checksum.h"
#include "script/scriptrunner.h"

#include <QJSEngine>

namespace kirt {

namespace {

std::optional<CheckKind> checkKindNamed(const QString& name)
{
    static const std::pair<const char*, CheckKind> kinds[] = {
        {"xor", CheckKind::Xor},         {"add", CheckKind::Add},
        {"crc16", CheckKind::Crc16},     {"crc16modbus", CheckKind::Modbus},
        {"crcccitt", CheckKind::XModem}, {"hdlc", CheckKind::Hdlc}};
    for (const auto& [text, kind] : kinds)
        if (name == QLatin1String(text))
            return kind;
    return std::nullopt;
}

} // namespace

ScriptPortApi::ScriptPortApi(ScriptChannel& channel, Clock::time_point start, QString name,
                             QObject* parent)
    : QObject(parent), m_channel(channel), m_start(start), m_name(std::move(name))
{
}

QString ScriptPortApi::usable(const QString& what) const
{
    return m_closed ? QStringLiteral("%1: %2: the port is closed").arg(m_name, what) : QString();
}

QString ScriptPortApi::named(const QString& error) const
{
    // "stopped" stays as it is: the prelude knows a stop by it.
    if (error.isEmpty() || m_name.isEmpty() || m_channel.cancelled())
        return error;
    return m_name + QStringLiteral(": ") + error;
}

QString ScriptPortApi::close()
{
    if (!m_name.isEmpty()) {
        if (m_closed)
            return {}; // closing twice does no harm
        m_closed = true;
    }
    return named(m_channel.onOwner([](ScriptPort& p) { return p.close(); }));
}

QString ScriptPortApi::send(const QString& bytes)
{
    return named(
        m_channel.onOwner([data = bytes.toLatin1()](ScriptPort& p) { return p.send(data); }));
}

QString ScriptPortApi::sendBreak(int ms)
{
    return named(m_channel.onOwner([ms](ScriptPort& p) { return p.sendBreak(ms); }));
}

QString ScriptPortApi::line(ModemLine which, bool on)
{
    return named(
        m_channel.onOwner([which, on](ScriptPort& p) { return p.setModemLine(which, on); }));
}

QVariant ScriptPortApi::modem()
{
    const std::optional<ModemStatus> lines = m_channel.modemOnOwner();
    if (!lines)
        return {};
    return QVariantMap{{QStringLiteral("cts"), lines->cts},
                       {QStringLiteral("dsr"), lines->dsr},
                       {QStringLiteral("dcd"), lines->dcd},
                       {QStringLiteral("ri"), lines->ri}};
}

QString ScriptPortApi::peek()
{
    const QByteArray bytes = m_channel.peek(&m_seen);
    m_peeked = static_cast<std::size_t>(bytes.size());
    return QString::fromLatin1(bytes);
}

void ScriptPortApi::consume(int count)
{
    m_channel.consume(m_seen, m_peeked, static_cast<std::size_t>(count));
}

bool ScriptPortApi::waitMore(double deadlineMs) const
{
    return m_channel.waitForMore(m_seen, at(deadlineMs));
}

bool ScriptPortApi::sleepUntil(double deadlineMs) const
{
    return m_channel.sleepUntil(at(deadlineMs));
}

double ScriptPortApi::lastArrival() const
{
    return std::max(0.0, msSince(m_channel.lastArrival()));
}

QVariantMap ScriptPortApi::hexBytes(const QString& text) const
{
    const QString digits = StripHexDumpSeparators(text);
    for (const QChar c : digits)
        if (!c.isDigit() && !(c.toUpper() >= u'A' && c.toUpper() <= u'F'))
            return {{QStringLiteral("error"),
                     QStringLiteral("sendHex: \"%1\" is not a hex digit").arg(c)}};
    if (digits.size() % 2 != 0)
        return {{QStringLiteral("error"), QStringLiteral("sendHex: an odd number of hex digits")}};
    const QByteArray latin = digits.toLatin1();
    QByteArray bytes(latin.size() / 2, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(DecodeHexPair(latin.constData() + 2 * i));
    return {{QStringLiteral("bytes"), QString::fromLatin1(bytes)}};
}

double ScriptPortApi::msSince(Clock::time_point t) const
{
    return std::chrono::duration<double, std::milli>(t - m_start).count();
}

ScriptPortApi::Clock::time_point ScriptPortApi::at(double ms) const
{
    return m_start + std::chrono::microseconds(static_cast<long long>(ms * 1000.0));
}

QString scriptOpenOptions(const QString& what, const QVariantMap& options,
                          ScriptPort::OpenOptions& open)
{
    // A misspelt option would leave the line as stored and let the case pass on the wrong
    // settings.
    static const QStringList known{QStringLiteral("baud"), QStringLiteral("dataBits"),
                                   QStringLiteral("parity"), QStringLiteral("stopBits"),
                                   QStringLiteral("flow")};
    for (auto it = options.keyBegin(); it != options.keyEnd(); ++it)
        if (!known.contains(*it))
            return QStringLiteral("%1: no option \"%2\" (the options are %3)")
                .arg(what, *it, known.join(QStringLiteral(", ")));
    if (options.contains(QStringLiteral("baud")))
        open.baud = options.value(QStringLiteral("baud")).toUInt();
    if (options.contains(QStringLiteral("dataBits")))
        open.dataBits =
            static_cast<std::uint8_t>(options.value(QStringLiteral("dataBits")).toUInt());
    const auto text = [&options](const char* key) {
        return options.value(QLatin1String(key)).toString();
    };
    // Stop bits are a number to a script, as data bits are; 1.5 is not among them.
    if (options.contains(QStringLiteral("stopBits"))) {
        open.stopBits = choiceFromScriptName<StopBits>(
            QString::number(options.value(QStringLiteral("stopBits")).toInt()));
        if (!open.stopBits)
            return what + QStringLiteral(": stopBits must be ") + scriptChoices<StopBits>();
    }
    if (options.contains(QStringLiteral("parity"))) {
        open.parity = choiceFromScriptName<Parity>(text("parity"));
        if (!open.parity)
            return what + QStringLiteral(": parity must be ") + scriptChoices<Parity>();
    }
    if (options.contains(QStringLiteral("flow"))) {
        open.flow = choiceFromScriptName<FlowControl>(text("flow"));
        if (!open.flow)
            return what + QStringLiteral(": flow must be ") + scriptChoices<FlowControl>();
    }
    return {};
}

ScriptApi::ScriptApi(ScriptChannel& channel, std::function<void(const ScriptCase&)> caseDone,
                     std::function<void(const QString&)> say, OpenOwn openOwn)
    : ScriptPortApi(channel, Clock::now()), m_caseDone(std::move(caseDone)), m_say(std::move(say)),
      m_openOwn(std::move(openOwn))
{
}

double ScriptApi::memoryBound() const
{
    return static_cast<double>(ScriptRunner::ScriptMemoryBytes);
}

QString ScriptApi::open(const QString& port, const QVariantMap& options)
{
    ScriptPort::OpenOptions open;
    if (QString error = scriptOpenOptions(QStringLiteral("open"), options, open); !error.isEmpty())
        return error;
    const QString result =
        m_channel.onOwner([port, open](ScriptPort& p) { return p.open(port, open); });
    if (result.isEmpty())
        m_channel.clearReceived(); // what came before the open is no answer to this script
    return result;
}

QString ScriptApi::sendLine(int line)
{
    return m_channel.onOwner([line](ScriptPort& p) { return p.sendLine(line); });
}

QJSValue ScriptApi::openPort(const QString& name, const QVariantMap& options)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("openPort: give a port (\"COM2\"), a device path or an address");
    ScriptPort::OpenOptions open;
    QString error = scriptOpenOptions(QStringLiteral("openPort"), options, open);
    ScriptChannel* channel = error.isEmpty() ? m_openOwn(name, open, error) : nullptr;
    QJSEngine* engine = qjsEngine(this);
    if (!channel || !engine)
        return error;
    // A child: it goes with this object when the run ends, before the port it reaches.
    auto* port = new ScriptPortApi(*channel, m_start, name, this);
    return engine->newQObject(port);
}

double ScriptApi::checksum(const QString& kind, const QString& data) const
{
    const auto found = checkKindNamed(kind);
    return found ? computeCheck(*found, data.toLatin1()) : -1.0;
}

QVariant ScriptApi::checksumBytes(const QString& kind, const QString& data) const
{
    const auto found = checkKindNamed(kind);
    if (!found)
        return {};
    return QString::fromLatin1(checkWireBytes(*found, computeCheck(*found, data.toLatin1())));
}

void ScriptApi::caseDone(const QString& name, bool passed, const QString& reason, double ms)
{
    if (!m_running.isEmpty())
        m_running.removeLast();
    m_caseDone(ScriptCase{name, passed, reason, ms});
}

} // namespace kirt
