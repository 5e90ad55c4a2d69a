#include "serial/setspeed.h"
#include "serial/termiosport.h"
#include "tests/support/ptydevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

using kirt::ComSettings;
using kirt::PtyDevice;
using kirt::SerialError;
using kirt::TermiosPort;

Q_DECLARE_METATYPE(kirt::SerialError)
Q_DECLARE_METATYPE(kirt::FlowControl)

namespace {

// A terminal as a device might report it: cooked, 7E2 at 1200 baud, hardware flow control.
termios cookedState()
{
    termios state{};
    state.c_iflag = ICRNL | IXON | IXOFF | INPCK | ISTRIP;
    state.c_oflag = OPOST | ONLCR;
    state.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    state.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    state.c_cc[VMIN] = 0;
    state.c_cc[VTIME] = 5;
    state.c_cc[VINTR] = 3;
    ::cfsetispeed(&state, B1200);
    ::cfsetospeed(&state, B1200);
    return state;
}

ComSettings settings8N1(std::uint32_t readTimeoutMs = 2)
{
    ComSettings settings;
    settings.baudRate = 9600;
    settings.readTimeoutMs = readTimeoutMs;
    return settings;
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

class TestTermiosPort : public QObject
{
    Q_OBJECT

private slots:
    // The pure termios step.
    void lineFlags_data();
    void lineFlags();
    void refusedSettings_data();
    void refusedSettings();
    void rawModeKeepsUnrelatedFlags();
    void baudRates_data();
    void baudRates();
    void flowControlFlags_data();
    void flowControlFlags();
    void flowControlReachesTheDevice_data();
    void flowControlReachesTheDevice();
    void customRateReadBack();
    void noModemLinesOnAPty();

    // Over a pseudo-terminal.
    void readReturnsWhenBytesAreThere();
    void readReturnsWhenBytesArriveDuringTheWait();
    void readTakesAtMostCapacity();
    void emptyReadReturnsZeroAfterTimeout();
    void bytesPassUnchangedBothWays();
    void writeLargerThanTheDeviceHolds();
    void purgeWakesABlockedRead();
    void purgeDiscardsInput();
    void closeWhileAReaderIsBlocked();
    void openFailures_data();
    void openFailures();
    void secondOpenIsBusy();
    void exclusiveAgainstPlainOpen();
    void applyRefusals_data();
    void applyRefusals();
    void rateWithoutSpeedConstantOverPty();
    void closeRestoresTheLineState();
    void reopenAfterClose();
};

void TestTermiosPort::lineFlags_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<uint>("flags"); // expected within CSIZE | CSTOPB | PARENB | PARODD | CMSPAR

    QTest::newRow("5N1") << 5 << 0 << 0 << uint{CS5};
    QTest::newRow("6N1") << 6 << 0 << 0 << uint{CS6};
    QTest::newRow("7N1") << 7 << 0 << 0 << uint{CS7};
    QTest::newRow("8N1") << 8 << 0 << 0 << uint{CS8};
    QTest::newRow("8N2") << 8 << 2 << 0 << uint{CS8 | CSTOPB};
    QTest::newRow("8O1") << 8 << 0 << 1 << uint{CS8 | PARENB | PARODD};
    QTest::newRow("7E1") << 7 << 0 << 2 << uint{CS7 | PARENB};
    QTest::newRow("8M1 (stick 1)") << 8 << 0 << 3 << uint{CS8 | PARENB | PARODD | CMSPAR};
    QTest::newRow("8S1 (stick 0)") << 8 << 0 << 4 << uint{CS8 | PARENB | CMSPAR};
    QTest::newRow("5E2") << 5 << 2 << 2 << uint{CS5 | CSTOPB | PARENB};
}

void TestTermiosPort::lineFlags()
{
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(uint, flags);
    ComSettings settings = settings8N1();
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    settings.stopBits = static_cast<std::uint8_t>(stopBits);
    settings.parity = static_cast<std::uint8_t>(parity);

    // From a state with every line flag set, so a flag left over shows.
    termios current = cookedState();
    current.c_cflag |= CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    const kirt::TermiosBuild build = kirt::buildTermios(current, settings);
    QVERIFY(build.ok);
    QCOMPARE(uint{build.state.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR)}, flags);
}

void TestTermiosPort::refusedSettings_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<uint>("baudRate");
    QTest::newRow("4 data bits") << 4 << 0 << 0 << 9600u;
    QTest::newRow("1.5 stop bits") << 8 << 1 << 0 << 9600u;
    QTest::newRow("4 data bits with 1.5 stop bits") << 4 << 1 << 0 << 9600u;
    QTest::newRow("9 data bits") << 9 << 0 << 0 << 9600u;
    QTest::newRow("unknown stop bits") << 8 << 3 << 0 << 9600u;
    QTest::newRow("unknown parity") << 8 << 0 << 5 << 9600u;
    QTest::newRow("no rate") << 8 << 0 << 0 << 0u;
}

void TestTermiosPort::refusedSettings()
{
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(uint, baudRate);
    ComSettings settings;
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    settings.stopBits = static_cast<std::uint8_t>(stopBits);
    settings.parity = static_cast<std::uint8_t>(parity);
    settings.baudRate = baudRate;
    const kirt::TermiosBuild build = kirt::buildTermios(cookedState(), settings);
    QVERIFY(!build.ok);
    QVERIFY(!build.refusal.isEmpty());
}

void TestTermiosPort::rawModeKeepsUnrelatedFlags()
{
    const kirt::TermiosBuild build = kirt::buildTermios(cookedState(), settings8N1());
    QVERIFY(build.ok);
    const termios& state = build.state;

    // Nothing between the line and the program: every byte value passes as it is.
    QCOMPARE(state.c_iflag & (ICRNL | IXON | ISTRIP | INLCR | IGNCR | PARMRK), tcflag_t{0});
    QCOMPARE(state.c_oflag & OPOST, tcflag_t{0});
    QCOMPARE(state.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t{0});
    QCOMPARE(state.c_cflag & (CRTSCTS | PARENB | CSTOPB), tcflag_t{0});
    QCOMPARE(state.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
    QCOMPARE(state.c_cc[VMIN], cc_t{1});
    QCOMPARE(state.c_cc[VTIME], cc_t{0});

    // What raw mode does not need stays as the device had it.
    QCOMPARE(state.c_iflag & (IXOFF | INPCK), tcflag_t{IXOFF | INPCK});
    QCOMPARE(state.c_cflag & HUPCL, tcflag_t{HUPCL});
    QCOMPARE(state.c_cc[VINTR], cc_t{3});
}

void TestTermiosPort::baudRates_data()
{
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("code"); // 0: no speed constant, set as an arbitrary rate

    const std::pair<std::uint32_t, speed_t> constants[] = {
        {75, B75},           {150, B150},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000}};
    for (const std::uint32_t rate : kirt::BaudRateTable) {
        uint code = 0;
        for (const auto& [known, constant] : constants)
            if (known == rate)
                code = constant;
        QTest::addRow("%u", rate) << uint{rate} << code;
    }
}

void TestTermiosPort::baudRates()
{
    QFETCH(uint, rate);
    QFETCH(uint, code);
    ComSettings settings = settings8N1();
    settings.baudRate = rate;
    const termios current = cookedState();
    const kirt::TermiosBuild build = kirt::buildTermios(current, settings);
    QVERIFY(build.ok);
    QCOMPARE(build.baudRate, rate);
    QCOMPARE(build.customBaud, code == 0);
    // An arbitrary rate leaves the speed bits alone until the rate itself is set.
    const speed_t expected = code != 0 ? code : ::cfgetospeed(&current);
    QCOMPARE(uint{::cfgetospeed(&build.state)}, uint{expected});
    QCOMPARE(uint{::cfgetispeed(&build.state)}, uint{expected});
}

void TestTermiosPort::flowControlFlags_data()
{
    QTest::addColumn<kirt::FlowControl>("flow");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<uint>("input"); // expected within IXON | IXOFF

    // The device reported IXOFF: with no flow control of ours it stays as the device had it.
    QTest::newRow("none") << kirt::FlowControl::None << false << uint{IXOFF};
    QTest::newRow("rts/cts") << kirt::FlowControl::Hardware << true << 0u;
    QTest::newRow("xon/xoff") << kirt::FlowControl::Software << false << uint{IXON | IXOFF};
}

void TestTermiosPort::flowControlFlags()
{
    QFETCH(kirt::FlowControl, flow);
    QFETCH(bool, rtsCts);
    QFETCH(uint, input);
    ComSettings settings = settings8N1();
    settings.flowControl = flow;
    termios current = cookedState(); // CRTSCTS, IXON and IXOFF all set
    current.c_iflag |= IXANY;
    current.c_cc[VSTART] = 0;
    current.c_cc[VSTOP] = 0;
    const kirt::TermiosBuild build = kirt::buildTermios(current, settings);
    QVERIFY(build.ok);
    QCOMPARE((build.state.c_cflag & CRTSCTS) != 0, rtsCts);
    QCOMPARE(uint{build.state.c_iflag & (IXON | IXOFF)}, input);
    if (flow == kirt::FlowControl::Software) {
        QCOMPARE(build.state.c_cc[VSTART], cc_t{0x11});
        QCOMPARE(build.state.c_cc[VSTOP], cc_t{0x13});
        QCOMPARE(build.state.c_iflag & IXANY, tcflag_t{0});
    }
}

void TestTermiosPort::flowControlReachesTheDevice_data()
{
    flowControlFlags_data();
}

void TestTermiosPort::flowControlReachesTheDevice()
{
    QFETCH(kirt::FlowControl, flow);
    QFETCH(bool, rtsCts);
    PtyDevice device;
    TermiosPort port;
    ComSettings settings = settings8N1();
    settings.flowControl = flow;
    QVERIFY(port.open(device.slavePath()).ok());
    QVERIFY(port.readState().ok());
    const kirt::SerialStatus status = port.applyState(settings);
    QVERIFY2(status.ok(), qPrintable(status.reason));
    termios actual{};
    QVERIFY(::tcgetattr(device.masterFd(), &actual) == 0);
    QCOMPARE((actual.c_cflag & CRTSCTS) != 0, rtsCts);
    QCOMPARE((actual.c_iflag & IXON) != 0, flow == kirt::FlowControl::Software);
    if (flow == kirt::FlowControl::Software) {
        QVERIFY((actual.c_iflag & IXOFF) != 0);
        QCOMPARE(actual.c_cc[VSTART], cc_t{0x11});
        QCOMPARE(actual.c_cc[VSTOP], cc_t{0x13});
    }
}

void TestTermiosPort::customRateReadBack()
{
    if (!kirt::arbitrarySpeedAvailable())
        QSKIP("no arbitrary rates on this platform");
    PtyDevice device;
    for (const std::uint32_t rate : {250000u, 12000000u, 50u}) {
        TermiosPort port;
        ComSettings settings = settings8N1();
        settings.baudRate = rate;
        QVERIFY(port.open(device.slavePath()).ok());
        QVERIFY(port.readState().ok());
        const kirt::SerialStatus status = port.applyState(settings);
        QVERIFY2(status.ok(), qPrintable(status.reason));
        std::uint32_t actual = 0;
        QVERIFY(kirt::readArbitrarySpeed(device.masterFd(), actual));
        QCOMPARE(actual, rate);
        port.close();
    }
}

void TestTermiosPort::noModemLinesOnAPty()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(!port.modemStatus().available);
    QCOMPARE(port.setModemLine(kirt::ModemLine::Dtr, true).error, SerialError::NotOpen);
    QCOMPARE(port.setBreak(true).error, SerialError::NotOpen);

    QVERIFY(port.open(device.slavePath()).ok());
    QVERIFY(port.readState().ok());
    QVERIFY(port.applyState(settings8N1()).ok());
    QCOMPARE(port.modemStatus(), kirt::ModemStatus{});
    // Lines a device does not have are no error; a break works on a pty as on a port.
    QVERIFY(port.setModemLine(kirt::ModemLine::Dtr, true).ok());
    QVERIFY(port.setModemLine(kirt::ModemLine::Rts, false).ok());
    QVERIFY(port.setBreak(true).ok());
    QVERIFY(port.setBreak(false).ok());
    port.close();
}

namespace {

// Opens the pty's slave with the steps the window uses.
bool openOver(TermiosPort& port, const PtyDevice& device, const ComSettings& settings)
{
    return port.open(device.slavePath()).ok() && port.readState().ok() &&
           port.applyState(settings).ok();
}

} // namespace

void TestTermiosPort::readReturnsWhenBytesAreThere()
{
    PtyDevice device;
    QVERIFY(device.isValid());
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    QVERIFY(device.send("ab"));
    QVERIFY(PtyDevice::waitUntil([&] { return device.pendingForProgram() == 2; }));
    std::uint8_t buffer[4] = {};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(port.readChunk(buffer, 4), 2);
    // Not held back until the time-out: the read ends well before its 504 ms budget.
    QVERIFY2(clock.elapsed() < 504, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(buffer[0], std::uint8_t{'a'});
    QCOMPARE(buffer[1], std::uint8_t{'b'});
}

void TestTermiosPort::readReturnsWhenBytesArriveDuringTheWait()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    const int master = device.masterFd();
    std::thread sender([master] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        [[maybe_unused]] const ssize_t sent = ::write(master, "z", 1);
    });
    std::uint8_t buffer[4] = {};
    QElapsedTimer clock;
    clock.start();
    const int got = port.readChunk(buffer, 4);
    const qint64 elapsed = clock.elapsed();
    sender.join();
    QCOMPARE(got, 1);
    QCOMPARE(buffer[0], std::uint8_t{'z'});
    QVERIFY2(elapsed < 504, qPrintable(QString::number(elapsed)));
}

void TestTermiosPort::readTakesAtMostCapacity()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(50)));

    const QByteArray sent = "0123456789";
    QVERIFY(device.send(sent));
    QVERIFY(PtyDevice::waitUntil([&] { return device.pendingForProgram() == 10; }));
    QByteArray received;
    for (int reads = 0; reads < 3; ++reads) {
        std::uint8_t buffer[8] = {};
        const int got = port.readChunk(buffer, 4);
        QVERIFY(got >= 1 && got <= 4);
        received.append(reinterpret_cast<const char*>(buffer), got);
    }
    QCOMPARE(received, sent);
}

void TestTermiosPort::emptyReadReturnsZeroAfterTimeout()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(20)));
    QCOMPARE(port.readTimeoutMs(), 20u);

    std::uint8_t buffer[4] = {};
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(port.readChunk(buffer, 4), 0);
    QVERIFY2(clock.elapsed() >= 20, qPrintable(QString::number(clock.elapsed())));
}

void TestTermiosPort::bytesPassUnchangedBothWays()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));

    // Every value, including CR, LF, XON, XOFF and the control characters.
    QByteArray all;
    for (int value = 0; value < 256; ++value)
        all.append(static_cast<char>(value));

    for (const char byte : all)
        QVERIFY(port.writeByte(static_cast<std::uint8_t>(byte)));
    QCOMPARE(device.receive(256), all);

    QVERIFY(device.send(all));
    QByteArray received;
    for (int reads = 0; reads < 1000 && received.size() < all.size(); ++reads) {
        std::uint8_t buffer[4] = {};
        const int got = port.readChunk(buffer, 4);
        QVERIFY(got >= 0);
        received.append(reinterpret_cast<const char*>(buffer), got);
    }
    QCOMPARE(received, all);
}

void TestTermiosPort::purgeWakesABlockedRead()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    std::atomic<int> result{-2};
    std::atomic<qint64> elapsed{0};
    std::thread reader([&] {
        QElapsedTimer clock;
        clock.start();
        std::uint8_t buffer[4];
        result = port.readChunk(buffer, 4);
        elapsed = clock.elapsed();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port.purge();
    reader.join();
    QCOMPARE(result.load(), 0);
    QVERIFY2(elapsed.load() < 504, qPrintable(QString::number(elapsed.load())));
    QVERIFY(port.isOpen());
}

void TestTermiosPort::purgeDiscardsInput()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(10)));

    QVERIFY(device.send("stale"));
    QVERIFY(PtyDevice::waitUntil([&] { return device.pendingForProgram() == 5; }));
    port.purge();
    QCOMPARE(device.pendingForProgram(), 0);
    std::uint8_t buffer[4];
    QCOMPARE(port.readChunk(buffer, 4), 0);
    QCOMPARE(port.readChunk(buffer, 4), 0);

    // The port goes on working after a purge.
    QVERIFY(device.send("x"));
    int got = 0;
    for (int reads = 0; reads < 100 && got == 0; ++reads)
        got = port.readChunk(buffer, 4);
    QCOMPARE(got, 1);
    QCOMPARE(buffer[0], std::uint8_t{'x'});
}

void TestTermiosPort::closeWhileAReaderIsBlocked()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1(500)));

    std::atomic<int> last{-2};
    std::atomic<bool> started{false};
    std::thread reader([&] {
        std::uint8_t buffer[4];
        // Reads on as the receive thread would, until the port is gone.
        for (int reads = 0; reads < 50; ++reads) {
            started = true;
            last = port.readChunk(buffer, 4);
            if (last < 0)
                break;
        }
    });
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.close();
    reader.join();
    QCOMPARE(last.load(), -1);
    QVERIFY(!port.isOpen());

    std::uint8_t buffer[4];
    QCOMPARE(port.readChunk(buffer, 4), -1);
    QVERIFY(!port.writeByte(0x41));
    port.purge(); // harmless once closed
}

void TestTermiosPort::openFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("atOpen"); // fails at open, else at readState
    QTest::addColumn<SerialError>("error");
    QTest::addColumn<int>("osError");

    QTest::newRow("missing") << "/nonexistent/ttyKIRT" << true << SerialError::NotFound << ENOENT;
    QTest::newRow("empty path") << "" << true << SerialError::NotFound << ENOENT;
    QTest::newRow("directory") << "/" << true << SerialError::Other << EISDIR;
    QTest::newRow("not a terminal")
        << "/dev/null" << false << SerialError::GetStateFailed << ENOTTY;
    QTest::newRow("no permission") << "@private" << true << SerialError::PermissionDenied << EACCES;
}

void TestTermiosPort::openFailures()
{
    QFETCH(QString, path);
    QFETCH(bool, atOpen);
    QFETCH(SerialError, error);
    QFETCH(int, osError);

    QTemporaryDir folder;
    if (path == QLatin1String("@private")) {
        if (::geteuid() == 0)
            QSKIP("root opens any file");
        path = folder.path() + QStringLiteral("/ttyPrivate");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
    }

    TermiosPort port;
    kirt::SerialStatus status = port.open(path);
    QCOMPARE(status.ok(), !atOpen);
    if (!atOpen) {
        QVERIFY(port.isOpen());
        status = port.readState();
        port.close();
    } else {
        QVERIFY(!port.isOpen());
    }
    QCOMPARE(status.error, error);
    QCOMPARE(status.osError, osError);
    QCOMPARE(status.reason, systemText(osError));
    if (error != SerialError::Other)
        QVERIFY(!status.hint.isEmpty());
    if (error == SerialError::PermissionDenied)
        QVERIFY(status.hint.contains(QLatin1String("group")));
}

void TestTermiosPort::secondOpenIsBusy()
{
    PtyDevice device;
    TermiosPort first;
    QVERIFY(openOver(first, device, settings8N1()));

    TermiosPort second;
    const kirt::SerialStatus status = second.open(device.slavePath());
    QCOMPARE(status.error, SerialError::Busy);
    QVERIFY(!status.reason.isEmpty());
    QVERIFY(!status.hint.isEmpty());
    QVERIFY(!second.isOpen());

    // Released on close.
    first.close();
    QVERIFY(second.open(device.slavePath()).ok());
}

void TestTermiosPort::exclusiveAgainstPlainOpen()
{
    if (::geteuid() == 0)
        QSKIP("the kernel ignores the exclusive flag for root");
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));

    const QByteArray path = QFile::encodeName(device.slavePath());
    const int other = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int error = errno;
    if (other >= 0)
        ::close(other);
    QCOMPARE(other, -1);
    QCOMPARE(error, EBUSY);

    // The flag does not outlive the port.
    port.close();
    const int after = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(after >= 0);
    ::close(after);
}

void TestTermiosPort::applyRefusals_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("4 data bits") << 4 << 0 << 0 << "4 data bits";
    QTest::newRow("1.5 stop bits") << 8 << 1 << 0 << "1.5 stop bits";
    // A pseudo-terminal keeps 8 data bits whatever is asked: the read-back catches it.
    QTest::newRow("7 data bits on a pty") << 7 << 0 << 2 << "did not take";
}

void TestTermiosPort::applyRefusals()
{
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(QString, reasonPart);

    PtyDevice device;
    TermiosPort port;
    QVERIFY(port.open(device.slavePath()).ok());
    QVERIFY(port.readState().ok());
    ComSettings settings = settings8N1();
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    settings.stopBits = static_cast<std::uint8_t>(stopBits);
    settings.parity = static_cast<std::uint8_t>(parity);
    const kirt::SerialStatus status = port.applyState(settings);
    QCOMPARE(status.error, SerialError::SetStateFailed);
    QVERIFY2(status.reason.contains(reasonPart), qPrintable(status.reason));
    // The caller decides: the port is still open until it closes it.
    QVERIFY(port.isOpen());
    port.close();
}

void TestTermiosPort::rateWithoutSpeedConstantOverPty()
{
    if (!kirt::baudRateSupported(56000))
        QSKIP("no arbitrary rates on this platform");
    PtyDevice device;
    TermiosPort port;
    ComSettings settings = settings8N1();
    settings.baudRate = 56000;
    QVERIFY(port.open(device.slavePath()).ok());
    QVERIFY(port.readState().ok());
    const kirt::SerialStatus status = port.applyState(settings);
    QVERIFY2(status.ok(), qPrintable(status.reason));
    QVERIFY(port.writeByte(0x55));
    QCOMPARE(device.receive(1), QByteArray("\x55"));
}

void TestTermiosPort::writeLargerThanTheDeviceHolds()
{
    PtyDevice device;
    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));
    // Far more than the pseudo-terminal buffers: the write goes out in pieces, waiting for
    // room while the device has not read yet.
    std::vector<std::uint8_t> sent(256 * 1024);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(i * 31 + i / 253);
    QByteArray got;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        char buffer[4096];
        while (got.size() < static_cast<qsizetype>(sent.size())) {
            pollfd ready{device.masterFd(), POLLIN, 0};
            if (::poll(&ready, 1, 2000) <= 0)
                break;
            const ssize_t n = ::read(device.masterFd(), buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
    });
    const std::size_t written = port.writeBytes(sent.data(), sent.size());
    reader.join();
    QCOMPARE(written, sent.size());
    QCOMPARE(got, QByteArray(reinterpret_cast<const char*>(sent.data()),
                             static_cast<qsizetype>(sent.size())));
}

void TestTermiosPort::closeRestoresTheLineState()
{
    PtyDevice device;
    termios before{};
    QVERIFY(::tcgetattr(device.masterFd(), &before) == 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_oflag |= OPOST;
    QVERIFY(::tcsetattr(device.masterFd(), TCSANOW, &before) == 0);

    TermiosPort port;
    QVERIFY(openOver(port, device, settings8N1()));
    termios during{};
    QVERIFY(::tcgetattr(device.masterFd(), &during) == 0);
    QCOMPARE(during.c_lflag & (ICANON | ECHO), tcflag_t{0});

    port.close();
    termios after{};
    QVERIFY(::tcgetattr(device.masterFd(), &after) == 0);
    QCOMPARE(after.c_lflag & (ICANON | ECHO), tcflag_t{ICANON | ECHO});
    QCOMPARE(after.c_oflag & OPOST, tcflag_t{OPOST});
}

void TestTermiosPort::reopenAfterClose()
{
    PtyDevice device;
    TermiosPort port;
    for (int round = 0; round < 3; ++round) {
        QVERIFY(openOver(port, device, settings8N1()));
        const auto byte = static_cast<std::uint8_t>('a' + round);
        QVERIFY(port.writeByte(byte));
        QCOMPARE(device.receive(1), QByteArray(1, static_cast<char>(byte)));
        QVERIFY(device.send("k"));
        std::uint8_t buffer[4] = {};
        int got = 0;
        for (int reads = 0; reads < 100 && got == 0; ++reads)
            got = port.readChunk(buffer, 4);
        QCOMPARE(got, 1);
        QCOMPARE(buffer[0], std::uint8_t{'k'});
        port.close();
        QVERIFY(!port.isOpen());
    }
}

QTEST_GUILESS_MAIN(TestTermiosPort)
#include "tst_termiosport.moc"
