#include "transmit/workbench.h"

#include "base/savefile.h"
#include "transmit/autotransmit.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include <cmath>

namespace kirt {

namespace {

const QString Section = QStringLiteral("Workbench");
const QString PortSection = QStringLiteral("Port");
const QString PlotSection = QStringLiteral("Plot");

bool isAsciiHexDigit(char16_t ch)
{
    return (ch >= u'0' && ch <= u'9') || (ch >= u'A' && ch <= u'F') || (ch >= u'a' && ch <= u'f');
}

// A value that QSettings read as a list (it had a comma) is no single value.
bool isSingle(const QVariant& value)
{
    return value.isValid() && value.typeId() != QMetaType::QStringList;
}

// Texts are kept as the hex digits of their UTF-8 form, so that every byte of an ASC field,
// control characters and line breaks included, comes back exactly and the file stays text.
QString encodeText(const QString& text)
{
    return QString::fromLatin1(text.toUtf8().toHex().toUpper());
}

std::optional<QString> decodeText(const QString& stored)
{
    if (stored.size() % 2 != 0)
        return std::nullopt;
    for (const QChar ch : stored)
        if (!isAsciiHexDigit(ch.unicode()))
            return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(stored.toLatin1());
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes)
        return std::nullopt;
    return text;
}

// Reads the values of one workbench; the first fault gives its reason.
class Reader
{
public:
    explicit Reader(QSettings& settings) : m_settings(settings) {}

    QString fault() const { return m_fault; }

    int integer(const QString& group, const QString& key, int min, int max)
    {
        const std::optional<QVariant> value = fetch(group, key);
        bool ok = false;
        const int v = value && isSingle(*value) ? value->toString().toInt(&ok) : 0;
        if (value && (!ok || v < min || v > max))
            fail(group, key, QStringLiteral("is out of range (%1 to %2).").arg(min).arg(max));
        return ok ? v : min;
    }

    // A line setting stored as its box index.
    template <typename Choice> void choice(const QString& group, const QString& key, Choice& out)
    {
        choiceFromIndex(integer(group, key, 0, lastChoice<Choice>()), out);
    }

    QString portName(const QString& group, const QString& key)
    {
        const std::optional<QVariant> value = fetch(group, key);
        const QString text = value && isSingle(*value) ? value->toString() : QString();
        if (value && comPortNumber(text) == 0)
            fail(group, key,
                 QStringLiteral("is not a port of the list (COM%1 to COM%2).")
                     .arg(FirstPort)
                     .arg(LastPort));
        return text;
    }

    std::uint32_t baudRate(const QString& group, const QString& key)
    {
        const int rate =
            integer(group, key, static_cast<int>(MinCustomBaud), static_cast<int>(MaxCustomBaud));
        return static_cast<std::uint32_t>(rate);
    }

    QString text(const QString& group, const QString& key, DataFormat format)
    {
        const QString text = hexText(group, key);
        if (m_fault.isEmpty() && text.size() > fieldLimit(format))
            fail(group, key,
                 QStringLiteral("is longer than %1 characters.").arg(fieldLimit(format)));
        return text;
    }

    double number(const QString& group, const QString& key)
    {
        const std::optional<QVariant> value = fetch(group, key);
        bool ok = false;
        const double v = value && isSingle(*value) ? value->toString().toDouble(&ok) : 0;
        if (value && (!ok || !std::isfinite(v)))
            fail(group, key, QStringLiteral("is not a number."));
        return ok ? v : 0;
    }

    // A list of names, one per line of the decoded text.
    QStringList names(const QString& group, const QString& key)
    {
        const QString text = hexText(group, key);
        return text.isEmpty() ? QStringList() : text.split(u'\n');
    }

private:
    // The stored value; nothing once a fault stands, or when it is missing (that is the fault).
    std::optional<QVariant> fetch(const QString& group, const QString& key)
    {
        if (!m_fault.isEmpty())
            return std::nullopt;
        const QVariant value = m_settings.value(group + u'/' + key);
        if (!value.isValid()) {
            fail(group, key, QStringLiteral("is missing."));
            return std::nullopt;
        }
        return value;
    }

    void fail(const QString& group, const QString& key, const QString& why)
    {
        m_fault = group + u'/' + key + u' ' + why;
    }

    QString hexText(const QString& group, const QString& key)
    {
        const std::optional<QVariant> value = fetch(group, key);
        std::optional<QString> text;
        if (value && isSingle(*value))
            text = decodeText(value->toString());
        if (value && !text)
            fail(group, key, QStringLiteral("is not hex-encoded text."));
        return text.value_or(QString());
    }

    QSettings& m_settings;
    QString m_fault;
};

QString lineGroup(int n)
{
    return QStringLiteral("Line%1").arg(n);
}

QString ruleGroup(int n)
{
    return QStringLiteral("Rule%1").arg(n);
}

} // namespace

WorkbenchRead readWorkbench(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return {std::nullopt, QStringLiteral("The file cannot be read.")};
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return {std::nullopt, QStringLiteral("The file is not a workbench.")};
    const QVariant version = settings.value(Section + QStringLiteral("/Version"));
    bool ok = false;
    const int v = isSingle(version) ? version.toString().toInt(&ok) : 0;
    if (!ok || v < 1)
        return {std::nullopt, QStringLiteral("The file is not a workbench.")};
    if (v > Workbench::Version)
        return {std::nullopt,
                QStringLiteral("The file was written by a newer version (workbench version %1).")
                    .arg(v)};

    Workbench bench;
    Reader read(settings);
    const int lastPosition = static_cast<int>(AutoIntervalTable.size()) - 1;
    bench.autoIntervalPosition =
        read.integer(Section, QStringLiteral("AutoIntervalTime"), 0, lastPosition);
    for (int n = 1; n <= Workbench::Lines; ++n) {
        Workbench::Line& line = bench.lines[static_cast<std::size_t>(n - 1)];
        const QString group = lineGroup(n);
        line.format = dataFormatFromIndex(read.integer(group, QStringLiteral("Format"), 0, 1));
        line.text = read.text(group, QStringLiteral("Text"), line.format);
        line.autoSend = read.integer(group, QStringLiteral("Auto"), 0, 1) == 1;
        line.crlf = read.integer(group, QStringLiteral("CRLF"), 0, 1) == 1;
    }
    for (int n = 1; n <= Workbench::Rules; ++n) {
        Workbench::Rule& rule = bench.rules[static_cast<std::size_t>(n - 1)];
        const QString group = ruleGroup(n);
        rule.format = dataFormatFromIndex(read.integer(group, QStringLiteral("Format"), 0, 1));
        rule.receivePacket = read.text(group, QStringLiteral("ReceivePacket"), rule.format);
        rule.response = read.text(group, QStringLiteral("Response"), rule.format);
        rule.enabled = read.integer(group, QStringLiteral("Enable"), 0, 1) == 1;
    }
    if (settings.childGroups().contains(PortSection)) {
        Workbench::Port port;
        port.name = read.portName(PortSection, QStringLiteral("Name"));
        port.baudRate = read.baudRate(PortSection, QStringLiteral("BaudRate"));
        port.dataBits = static_cast<std::uint8_t>(
            read.integer(PortSection, QStringLiteral("DataBits"), MinDataBits, MaxDataBits));
        read.choice(PortSection, QStringLiteral("StopBits"), port.stopBits);
        read.choice(PortSection, QStringLiteral("Parity"), port.parity);
        read.choice(PortSection, QStringLiteral("FlowControl"), port.flowControl);
        port.dtr = read.integer(PortSection, QStringLiteral("DTR"), 0, 1) == 1;
        port.rts = read.integer(PortSection, QStringLiteral("RTS"), 0, 1) == 1;
        bench.port = port;
    }
    if (settings.childGroups().contains(PlotSection)) {
        Workbench::Plot plot;
        plot.hidden = read.names(PlotSection, QStringLiteral("Hidden"));
        plot.xTime = read.integer(PlotSection, QStringLiteral("XTime"), 0, 1) == 1;
        plot.window = read.integer(PlotSection, QStringLiteral("Window"), 0, 3);
        plot.yFixed = read.integer(PlotSection, QStringLiteral("YFixed"), 0, 1) == 1;
        plot.yMin = read.number(PlotSection, QStringLiteral("YMin"));
        plot.yMax = read.number(PlotSection, QStringLiteral("YMax"));
        bench.plot = plot;
    }
    if (!read.fault().isEmpty())
        return {std::nullopt, read.fault()};
    return {bench, {}};
}

bool writeWorkbench(const QString& path, const Workbench& bench, QString* reason)
{
    // Composed in a scratch file, then saved over the file in one step: a file written over
    // keeps nothing of what it held, and a failed save leaves it whole.
    QTemporaryFile scratch;
    if (!scratch.open()) {
        if (reason)
            *reason = QStringLiteral("The file cannot be written.");
        return false;
    }
    scratch.close();
    QSettings settings(scratch.fileName(), QSettings::IniFormat);
    settings.setValue(Section + QStringLiteral("/Version"), Workbench::Version);
    settings.setValue(Section + QStringLiteral("/AutoIntervalTime"), bench.autoIntervalPosition);
    for (int n = 1; n <= Workbench::Lines; ++n) {
        const Workbench::Line& line = bench.lines[static_cast<std::size_t>(n - 1)];
        settings.beginGroup(lineGroup(n));
        settings.setValue(QStringLiteral("Text"), encodeText(line.text));
        settings.setValue(QStringLiteral("Format"), static_cast<int>(line.format));
        settings.setValue(QStringLiteral("Auto"), line.autoSend ? 1 : 0);
        settings.setValue(QStringLiteral("CRLF"), line.crlf ? 1 : 0);
        settings.endGroup();
    }
    for (int n = 1; n <= Workbench::Rules; ++n) {
        const Workbench::Rule& rule = bench.rules[static_cast<std::size_t>(n - 1)];
        settings.beginGroup(ruleGroup(n));
        settings.setValue(QStringLiteral("ReceivePacket"), encodeText(rule.receivePacket));
        settings.setValue(QStringLiteral("Response"), encodeText(rule.response));
        settings.setValue(QStringLiteral("Format"), static_cast<int>(rule.format));
        settings.setValue(QStringLiteral("Enable"), rule.enabled ? 1 : 0);
        settings.endGroup();
    }
    if (bench.port) {
        // Plain values: a reader sees the line settings at a glance.
        const Workbench::Port& port = *bench.port;
        settings.beginGroup(PortSection);
        settings.setValue(QStringLiteral("Name"), port.name);
        settings.setValue(QStringLiteral("BaudRate"), static_cast<int>(port.baudRate));
        settings.setValue(QStringLiteral("DataBits"), port.dataBits);
        settings.setValue(QStringLiteral("StopBits"), choiceIndex(port.stopBits));
        settings.setValue(QStringLiteral("Parity"), choiceIndex(port.parity));
        settings.setValue(QStringLiteral("FlowControl"), choiceIndex(port.flowControl));
        settings.setValue(QStringLiteral("DTR"), port.dtr ? 1 : 0);
        settings.setValue(QStringLiteral("RTS"), port.rts ? 1 : 0);
        settings.endGroup();
    }
    if (bench.plot) {
        const Workbench::Plot& plot = *bench.plot;
        settings.beginGroup(PlotSection);
        // Names from a board's names line may hold any character but a line break.
        settings.setValue(QStringLiteral("Hidden"), encodeText(plot.hidden.join(u'\n')));
        settings.setValue(QStringLiteral("XTime"), plot.xTime ? 1 : 0);
        settings.setValue(QStringLiteral("Window"), plot.window);
        settings.setValue(QStringLiteral("YFixed"), plot.yFixed ? 1 : 0);
        settings.setValue(QStringLiteral("YMin"), QString::number(plot.yMin, 'g', 17));
        settings.setValue(QStringLiteral("YMax"), QString::number(plot.yMax, 'g', 17));
        settings.endGroup();
    }
    settings.sync();
    QFile composed(scratch.fileName());
    if (settings.status() != QSettings::NoError || !composed.open(QIODevice::ReadOnly)) {
        if (reason)
            *reason = QStringLiteral("The file cannot be written.");
        return false;
    }
    const FileResult saved = saveFile(path, composed.readAll());
    if (!saved.ok() && reason)
        *reason = saved.reason;
    return saved.ok();
}

} // namespace kirt
