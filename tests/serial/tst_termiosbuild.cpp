// The line state built from the settings, before any device is involved.
#include "serial/termiosport.h"
#include "tests/support/columns.h"
#include "tests/support/ptyport.h"

#include <QTest>

#include <utility>

using kirt::ComSettings;
using kirt::test::settings8N1;

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

} // namespace

class TestTermiosBuild : public QObject
{
    Q_OBJECT

private slots:
    void lineFlags_data();
    void lineFlags();
    void refusedSettings_data();
    void refusedSettings();
    void rawModeKeepsUnrelatedFlags();
    void baudRates_data();
    void baudRates();
    void flowControlFlags_data();
    void flowControlFlags();
};

void TestTermiosBuild::lineFlags_data()
{
    kirt::test::columns<int, int, int>({"dataBits", "stopBits", "parity"});
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

void TestTermiosBuild::lineFlags()
{
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(uint, flags);
    ComSettings settings = settings8N1();
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    settings.stopBits = static_cast<kirt::StopBits>(stopBits);
    settings.parity = static_cast<kirt::Parity>(parity);

    // From a state with every line flag set, so a flag left over shows.
    termios current = cookedState();
    current.c_cflag |= CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    const kirt::TermiosBuild build = kirt::buildTermios(current, settings);
    QVERIFY(build.ok);
    QCOMPARE(uint{build.state.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD | CMSPAR)}, flags);
}

void TestTermiosBuild::refusedSettings_data()
{
    kirt::test::columns<int, int, int, uint>({"dataBits", "stopBits", "parity", "baudRate"});
    QTest::newRow("4 data bits") << 4 << 0 << 0 << 9600u;
    QTest::newRow("1.5 stop bits") << 8 << 1 << 0 << 9600u;
    QTest::newRow("4 data bits with 1.5 stop bits") << 4 << 1 << 0 << 9600u;
    QTest::newRow("9 data bits") << 9 << 0 << 0 << 9600u;
    QTest::newRow("unknown stop bits") << 8 << 3 << 0 << 9600u;
    QTest::newRow("unknown parity") << 8 << 0 << 5 << 9600u;
    QTest::newRow("no rate") << 8 << 0 << 0 << 0u;
}

void TestTermiosBuild::refusedSettings()
{
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(uint, baudRate);
    ComSettings settings;
    settings.dataBits = static_cast<std::uint8_t>(dataBits);
    settings.stopBits = static_cast<kirt::StopBits>(stopBits);
    settings.parity = static_cast<kirt::Parity>(parity);
    settings.baudRate = baudRate;
    const kirt::TermiosBuild build = kirt::buildTermios(cookedState(), settings);
    QVERIFY(!build.ok);
    QVERIFY(!build.refusal.isEmpty());
}

void TestTermiosBuild::rawModeKeepsUnrelatedFlags()
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

void TestTermiosBuild::baudRates_data()
{
    QTest::addColumn<uint>("rate");
    QTest::addColumn<uint>("code"); // 0: no speed constant, set as an arbitrary rate

    // The rates are the product's own table; which of them have a speed constant is the
    // expected answer, so it is written out here rather than taken from the port's lookup.
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

void TestTermiosBuild::baudRates()
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

void TestTermiosBuild::flowControlFlags_data()
{
    kirt::test::columns<kirt::FlowControl, bool>({"flow", "rtsCts"});
    QTest::addColumn<uint>("input"); // expected within IXON | IXOFF

    // The device reported IXOFF: with no flow control of ours it stays as the device had it.
    QTest::newRow("none") << kirt::FlowControl::None << false << uint{IXOFF};
    QTest::newRow("rts/cts") << kirt::FlowControl::Hardware << true << 0u;
    QTest::newRow("xon/xoff") << kirt::FlowControl::Software << false << uint{IXON | IXOFF};
}

void TestTermiosBuild::flowControlFlags()
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

QTEST_GUILESS_MAIN(TestTermiosBuild)
#include "tst_termiosbuild.moc"
