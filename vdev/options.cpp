#include "vdev/options.h"

#include "serial/portmap.h"

#include <QCommandLineParser>

namespace kirt::vdev {

namespace {

constexpr int DefaultStatusMs = 1000;
constexpr qint64 MinStatusMs = 10;
constexpr qint64 MaxStatusMs = 24LL * 3600 * 1000;
constexpr qint64 MaxRate = 10'000'000;
constexpr double MinPlugSeconds = 0.1;
constexpr double MaxPlugSeconds = 24.0 * 3600;

const char* const Usage = R"(Usage: kirt-vdev [options]

A virtual serial device for Kirt. It makes a pseudo-terminal pair, maps a COM port of
Kirt to it with the link $XDG_CONFIG_HOME/kirt/ports/COMn (~/.config/kirt/ports/COMn
by default) and plays a device there until Ctrl+C or SIGTERM stops it. It prints one
line naming the port it serves; on exit it removes the link and prints how many bytes
it sent and received. Like a real device nobody listens to, it sends nothing while
no program has the port open.

Port:
  -p, --port COMn     the port to serve, COM1..COM30 (default COM1)
  -f, --force         replace a link that points at another device, for this run only:
                      it is put back on exit (a link left by a virtual device that is
                      gone is replaced without asking)

Behaviours, in any combination (with none: --echo --at --status 1000):
  -e, --echo          send back every byte received
  -a, --at            answer "AT" CR with "OK" CR LF and any other command starting
                      with "AT" with "ERROR" CR LF; letters in either case, blanks
                      and LF ignored, backspace takes back a character
  -s, --status MS     every MS milliseconds (10 or more) send a status line
                      "STATUS 00012 UP 00:00:12 OK" CR LF: the number of the period
                      and the uptime, so a missing line shows at once
  -m, --modbus ADDR   answer Modbus RTU "read holding registers" (function 03h) as
                      slave ADDR (1..247) with a CRC-16/MODBUS: 256 registers
                      0000h..00FFh, register n holding 1000h + n. A count outside
                      1..125 answers exception 03h, a range past 00FFh exception 02h,
                      another function exception 01h; a frame with a bad CRC or for
                      another slave gets no answer
      --stream KIND   send bytes without being asked, paced at --rate: "text" for
                      numbered lines "000001 THE QUICK BROWN FOX JUMPS OVER THE LAZY
                      DOG" CR LF, "random" for pseudo-random bytes, "plot" for lines
                      "sine:0.707,ramp:12,noise:-0.13,count:4711" CR LF to plot; the
                      count sent is printed on exit
  -r, --rate BYTES    stream rate in bytes per second, 1..10000000 (default 960, what
                      9600 baud carries)
      --seed N        seed of the random stream (default 1): same seed, same bytes

A board's console:
      --shell [COMMAND]
                      run COMMAND with /bin/sh -c (without one, the interactive shell
                      of $SHELL, or /bin/sh) on a terminal of its own, TERM=xterm-256color
                      and 80x24, as the console of a board running Linux: what the port
                      receives is typed there, what it prints is sent. The device stops
                      when the shell ends. Output waiting while no program has the port
                      open is kept (up to 1 MB) and sent when it is opened. It takes no
                      other behaviour and no unplugging

Unplugging:
      --unplug-after SECONDS
                      after SECONDS (0.1 or more, fractions allowed) close the
                      pseudo-terminal, as a cable pulled out: a program that has
                      the port open sees a hang-up, and the link is left leading
                      nowhere, as a by-id link of a real adapter does
      --replug-after SECONDS
                      SECONDS after an unplug make a new pseudo-terminal and point
                      the same link at it; unplug and replug then take turns until
                      the device is stopped

Other:
  -h, --help          show this help
  -v, --version       show the version

Examples:
  kirt-vdev                           COM1: echo, AT and a status line every second
  kirt-vdev --port COM2 --modbus 1    COM2: a Modbus slave at address 1
  kirt-vdev --stream text --rate 11520
  kirt-vdev --echo --unplug-after 5 --replug-after 3
  kirt-vdev --shell 'top'             COM1: a console running top
)";

ParsedOptions mistake(const QString& text)
{
    return {std::nullopt, QStringLiteral("kirt-vdev: %1\nTry 'kirt-vdev --help'.\n").arg(text), 2};
}

std::optional<qint64> integerValue(const QString& text, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

QString helpText()
{
    return QString::fromLatin1(Usage);
}

ParsedOptions parseOptions(const QStringList& given)
{
    // --shell takes the next argument as its command when it is not an option, which the
    // parser cannot say of an option: it is taken out here.
    QStringList arguments = given;
    std::optional<QString> shellCommand;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--"))
            break;
        if (argument.startsWith(QLatin1String("--shell="))) {
            shellCommand = argument.mid(8);
            arguments.removeAt(i);
            break;
        }
        if (argument != QLatin1String("--shell"))
            continue;
        shellCommand = QString();
        if (i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(QLatin1Char('-'))) {
            shellCommand = arguments.at(i + 1);
            arguments.removeAt(i + 1);
        }
        arguments.removeAt(i);
        break;
    }

    QCommandLineParser parser;
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")}, {},
                                  QStringLiteral("COMn"));
    const QCommandLineOption force({QStringLiteral("f"), QStringLiteral("force")}, {});
    const QCommandLineOption echo({QStringLiteral("e"), QStringLiteral("echo")}, {});
    const QCommandLineOption at({QStringLiteral("a"), QStringLiteral("at")}, {});
    const QCommandLineOption status({QStringLiteral("s"), QStringLiteral("status")}, {},
                                    QStringLiteral("MS"));
    const QCommandLineOption modbus({QStringLiteral("m"), QStringLiteral("modbus")}, {},
                                    QStringLiteral("ADDR"));
    const QCommandLineOption stream(QStringLiteral("stream"), {}, QStringLiteral("KIND"));
    const QCommandLineOption rate({QStringLiteral("r"), QStringLiteral("rate")}, {},
                                  QStringLiteral("BYTES"));
    const QCommandLineOption seed(QStringLiteral("seed"), {}, QStringLiteral("N"));
    const QCommandLineOption unplug(QStringLiteral("unplug-after"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption replug(QStringLiteral("replug-after"), {}, QStringLiteral("SECONDS"));
    parser.addOptions({port, force, echo, at, status, modbus, stream, rate, seed, unplug, replug});
    if (auto ended = CommonArguments().parse<Options>(
            parser, arguments, helpText(),
            QStringLiteral("kirt-vdev %1\n").arg(QLatin1String(KIRT_VERSION)), mistake))
        return *ended;

    Options options;
    if (parser.isSet(port)) {
        QString refusal;
        options.port = portArgument(parser.value(port), refusal);
        if (options.port.isEmpty())
            return mistake(refusal);
    }
    options.force = parser.isSet(force);
    for (const auto& [option, target] :
         {std::pair{&unplug, &options.unplugAfter}, std::pair{&replug, &options.replugAfter}}) {
        if (!parser.isSet(*option))
            continue;
        bool ok = false;
        const double seconds = parser.value(*option).toDouble(&ok);
        if (!ok || seconds < MinPlugSeconds || seconds > MaxPlugSeconds)
            return mistake(QStringLiteral("--%1 takes seconds from %2 to %3, not '%4'")
                               .arg(option->names().constFirst())
                               .arg(MinPlugSeconds)
                               .arg(MaxPlugSeconds)
                               .arg(parser.value(*option)));
        *target = std::chrono::duration_cast<Nanos>(std::chrono::duration<double>(seconds));
    }
    if (options.replugAfter && !options.unplugAfter)
        return mistake(QStringLiteral("--replug-after follows an unplug: add --unplug-after"));

    DeviceConfig& device = options.device;
    device.echo = parser.isSet(echo);
    device.at = parser.isSet(at);
    if (parser.isSet(status)) {
        const auto ms = integerValue(parser.value(status), MinStatusMs, MaxStatusMs);
        if (!ms)
            return mistake(QStringLiteral("--status takes milliseconds from %1 to %2, not '%3'")
                               .arg(MinStatusMs)
                               .arg(MaxStatusMs)
                               .arg(parser.value(status)));
        device.statusPeriod = std::chrono::milliseconds(*ms);
    }
    if (parser.isSet(modbus)) {
        const auto address = integerValue(parser.value(modbus), 1, 247);
        if (!address)
            return mistake(QStringLiteral("--modbus takes a slave address from 1 to 247, not "
                                          "'%1'")
                               .arg(parser.value(modbus)));
        device.modbusAddress = static_cast<std::uint8_t>(*address);
    }
    if (parser.isSet(stream)) {
        const QString kind = parser.value(stream);
        if (kind == QLatin1String("text"))
            device.stream = StreamKind::Text;
        else if (kind == QLatin1String("random"))
            device.stream = StreamKind::Random;
        else if (kind == QLatin1String("plot"))
            device.stream = StreamKind::Plot;
        else
            return mistake(
                QStringLiteral("--stream takes 'text', 'random' or 'plot', not '%1'").arg(kind));
    }
    if (parser.isSet(rate)) {
        if (device.stream == StreamKind::None)
            return mistake(
                QStringLiteral("--rate paces a stream: add --stream text, random or plot"));
        const auto value = integerValue(parser.value(rate), 1, MaxRate);
        if (!value)
            return mistake(QStringLiteral("--rate takes bytes per second from 1 to %1, not '%2'")
                               .arg(MaxRate)
                               .arg(parser.value(rate)));
        device.rate = *value;
    }
    if (parser.isSet(seed)) {
        if (device.stream != StreamKind::Random)
            return mistake(QStringLiteral("--seed is for --stream random"));
        bool ok = false;
        device.seed = parser.value(seed).toULongLong(&ok);
        if (!ok)
            return mistake(
                QStringLiteral("--seed takes a number, not '%1'").arg(parser.value(seed)));
    }

    if (shellCommand) {
        if (device.echo || device.at || device.statusPeriod || device.modbusAddress ||
            device.stream != StreamKind::None || options.unplugAfter)
            return mistake(QStringLiteral("--shell serves the console alone: leave out --echo, "
                                          "--at, --status, --modbus, --stream and unplugging"));
        options.shell = true;
        options.shellCommand = *shellCommand;
        return {options, {}, 0};
    }
    if (!device.echo && !device.at && !device.statusPeriod && !device.modbusAddress &&
        device.stream == StreamKind::None) {
        device.echo = true;
        device.at = true;
        device.statusPeriod = std::chrono::milliseconds(DefaultStatusMs);
    }
    return {options, {}, 0};
}

QString describeBehaviour(const DeviceConfig& config)
{
    QStringList parts;
    if (config.echo)
        parts << QStringLiteral("echo");
    if (config.at)
        parts << QStringLiteral("AT");
    if (config.statusPeriod)
        parts << QStringLiteral("status every %1 ms")
                     .arg(
                         std::chrono::duration_cast<std::chrono::milliseconds>(*config.statusPeriod)
                             .count());
    if (config.modbusAddress)
        parts << QStringLiteral("Modbus slave %1").arg(*config.modbusAddress);
    if (config.stream != StreamKind::None)
        parts << QStringLiteral("%1 stream at %2 bytes/s")
                     .arg(config.stream == StreamKind::Text   ? QStringLiteral("text")
                          : config.stream == StreamKind::Plot ? QStringLiteral("plot")
                                                              : QStringLiteral("random"))
                     .arg(config.rate);
    return parts.join(QStringLiteral(", "));
}

} // namespace kirt::vdev
