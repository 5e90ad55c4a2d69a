#include "config/commandline.h"

#include "base/comsettings.h"
#include "config/profile.h"

#include <QCommandLineParser>
#include <QFile>

namespace kirt {

namespace {

const char Usage[] = R"(Usage: kirt [options]
Serial-port terminal for testing devices on a COM port.

  --port COMn        select the port COM1..COM30
  --device PATH      use the device PATH for that port (or COM1) in this run only;
                     PATH may be rfc2217://HOST:PORT or tcp://HOST:PORT
  --baud N           select the baud rate N: %1
  --open             open the port at start
  --workbench FILE   open a workbench file (.kirt) at start
  --profile NAME     keep the settings and kept lines of profile NAME, apart from the others
  --script FILE      run a test script without a window (the port opens when it calls open)
  --junit OUT.xml    with --script: write the results as JUnit XML
  --timeout SECONDS  with --script: fail the run when it takes longer
  -h, --help         print this help and exit
  -v, --version      print the version and exit
)";

// The rates the baud box offers, from the same table: its list and its custom range.
QString baudRanges()
{
    return QStringLiteral("a rate of the list (%1 .. %2) or a custom rate from %3 to %4")
        .arg(BaudRateTable.front())
        .arg(BaudRateTable.back())
        .arg(MinCustomBaud)
        .arg(MaxCustomBaud);
}

// Control characters are shown as escapes, never sent to the user's terminal.
QString visible(const QString& text)
{
    QString shown;
    for (const QChar c : text)
        shown += c.category() == QChar::Other_Control
                     ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                     : QString(c);
    return shown;
}

ParsedCommandLine mistake(const QString& text)
{
    return {std::nullopt, QStringLiteral("kirt: %1\n").arg(text) + commandLineUsage(), 2};
}

} // namespace

QString commandLineUsage()
{
    return QString::fromLatin1(Usage).arg(baudRanges());
}

QString devicePort(const StartOptions& options)
{
    return options.port.isEmpty() ? QStringLiteral("COM1") : options.port;
}

void mapDeviceForThisRun(const StartOptions& options)
{
    if (!options.device.isEmpty())
        qputenv(qPrintable(QStringLiteral("KIRT_") + devicePort(options)),
                QFile::encodeName(options.device));
}

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("COMn"));
    const QCommandLineOption device(QStringLiteral("device"), {}, QStringLiteral("PATH"));
    const QCommandLineOption baud(QStringLiteral("baud"), {}, QStringLiteral("N"));
    const QCommandLineOption open(QStringLiteral("open"), {});
    const QCommandLineOption workbench(QStringLiteral("workbench"), {}, QStringLiteral("FILE"));
    const QCommandLineOption profile(QStringLiteral("profile"), {}, QStringLiteral("NAME"));
    const QCommandLineOption script(QStringLiteral("script"), {}, QStringLiteral("FILE"));
    const QCommandLineOption junit(QStringLiteral("junit"), {}, QStringLiteral("OUT.xml"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), {}, QStringLiteral("SECONDS"));
    parser.addOptions({port, device, baud, open, workbench, profile, script, junit, timeout});
    if (auto ended = CommonArguments().parse<StartOptions>(
            parser, arguments, commandLineUsage(),
            QStringLiteral("kirt %1\n").arg(QLatin1String(KIRT_VERSION)), mistake))
        return *ended;

    StartOptions options;
    if (parser.isSet(port)) {
        QString refusal;
        options.port = portArgument(parser.value(port), refusal);
        if (options.port.isEmpty())
            return mistake(refusal);
    }
    if (parser.isSet(device)) {
        options.device = parser.value(device);
        if (options.device.isEmpty())
            return mistake(QStringLiteral("--device takes a device path"));
    }
    if (parser.isSet(baud)) {
        bool ok = false;
        const uint rate = parser.value(baud).toUInt(&ok);
        for (std::size_t i = 0; ok && i < BaudRateTable.size(); ++i)
            if (BaudRateTable[i] == rate)
                options.baudIndex = static_cast<int>(i);
        if (options.baudIndex < 0 && ok && customBaudAllowed(rate))
            options.customBaud = rate;
        if (options.baudIndex < 0 && options.customBaud == 0)
            return mistake(
                QStringLiteral("--baud takes %1, not '%2'").arg(baudRanges(), parser.value(baud)));
    }
    options.open = parser.isSet(open);
    if (parser.isSet(workbench)) {
        options.workbench = parser.value(workbench);
        if (options.workbench.isEmpty())
            return mistake(QStringLiteral("--workbench takes a file name"));
    }
    if (parser.isSet(profile)) {
        options.profile = parser.value(profile);
        const QString refusal = profileNameRefusal(options.profile);
        if (!refusal.isEmpty())
            return mistake(
                QStringLiteral("--profile '%1': %2").arg(visible(options.profile), refusal));
    }
    options.script = parser.value(script);
    options.junit = parser.value(junit);
    if (parser.isSet(script) && options.script.isEmpty())
        return mistake(QStringLiteral("--script takes a file name"));
    if (options.script.isEmpty() && (parser.isSet(junit) || parser.isSet(timeout)))
        return mistake(QStringLiteral("--junit and --timeout go with --script"));
    if (parser.isSet(junit) && options.junit.isEmpty())
        return mistake(QStringLiteral("--junit takes a file name"));
    if (parser.isSet(timeout)) {
        bool ok = false;
        options.timeoutSeconds = parser.value(timeout).toInt(&ok);
        if (!ok || options.timeoutSeconds <= 0)
            return mistake(QStringLiteral("--timeout takes a number of seconds, not '%1'")
                               .arg(parser.value(timeout)));
    }
    if (!options.script.isEmpty() && (options.open || !options.workbench.isEmpty()))
        return mistake(QStringLiteral("--script runs without a window: no --open or --workbench"));
    return {options, {}, 0};
}

} // namespace kirt
