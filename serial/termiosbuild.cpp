#include "serial/termiosbuild.h"

#include "serial/setspeed.h"

#include <array>

namespace kirt {

namespace {

struct SpeedCode
{
    std::uint32_t rate;
    speed_t code;
};

constexpr std::array<SpeedCode, 29> SpeedCodes{{
    {50, B50},           {75, B75},           {110, B110},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},
    {1800, B1800},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
    {4000000, B4000000},
}};

bool speedCode(std::uint32_t rate, speed_t& code)
{
    for (const SpeedCode& entry : SpeedCodes) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

} // namespace

bool baudRateSupported(std::uint32_t baudRate)
{
    speed_t code = 0;
    if (speedCode(baudRate, code))
        return true;
    return baudRate != 0 && arbitrarySpeedAvailable();
}

namespace {

// Each helper below owns one concern of the line state: it clears its own bits, sets what
// the settings ask for, and says why when it cannot.

bool setDataBits(termios& state, std::uint8_t dataBits, QString& refusal)
{
    tcflag_t size = 0;
    switch (dataBits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        refusal =
            QStringLiteral("%1 data bits are not available on this system").arg(int{dataBits});
        return false;
    }
    state.c_cflag &= ~tcflag_t{CSIZE};
    state.c_cflag |= size;
    return true;
}

bool setStopBits(termios& state, StopBits stopBits, QString& refusal)
{
    switch (stopBits) {
    case StopBits::One:
        state.c_cflag &= ~tcflag_t{CSTOPB};
        return true;
    case StopBits::Two:
        state.c_cflag |= CSTOPB;
        return true;
    case StopBits::OneAndHalf:
        refusal = choiceWords(stopBits) + QStringLiteral(" are not available on this system");
        return false;
    }
    refusal = QStringLiteral("unknown stop bits setting %1").arg(choiceIndex(stopBits));
    return false;
}

bool setParity(termios& state, Parity choice, QString& refusal)
{
    const auto set = [&state](tcflag_t parity) {
        state.c_cflag &= ~tcflag_t{PARENB | PARODD | CMSPAR};
        state.c_cflag |= parity;
        return true;
    };
    switch (choice) {
    case Parity::None:
        return set(0);
    case Parity::Odd:
        return set(PARENB | PARODD);
    case Parity::Even:
        return set(PARENB);
    case Parity::Mark: // stick parity, always 1
        return set(PARENB | CMSPAR | PARODD);
    case Parity::Space: // stick parity, always 0
        return set(PARENB | CMSPAR);
    }
    refusal = QStringLiteral("unknown parity setting %1").arg(choiceIndex(choice));
    return false;
}

bool setFlowControl(termios& state, FlowControl flow, QString& refusal)
{
    state.c_cflag &= ~CRTSCTS;
    state.c_iflag &= ~tcflag_t{IXON};
    switch (flow) {
    case FlowControl::None:
        // Input flow control stays as the device had it.
        return true;
    case FlowControl::Hardware:
        state.c_cflag |= CRTSCTS;
        state.c_iflag &= ~tcflag_t{IXOFF};
        return true;
    case FlowControl::Software:
        state.c_iflag |= IXON | IXOFF;
        state.c_iflag &= ~tcflag_t{IXANY};
        state.c_cc[VSTART] = 0x11; // DC1
        state.c_cc[VSTOP] = 0x13;  // DC3
        return true;
    }
    refusal = QStringLiteral("unknown flow control setting %1").arg(choiceIndex(flow));
    return false;
}

// True when the rate has a speed constant; otherwise the speed bits stay as they were and
// the rate is set afterwards.
bool setSpeedCode(termios& state, std::uint32_t baudRate)
{
    speed_t code = 0;
    if (!speedCode(baudRate, code))
        return false;
    ::cfsetispeed(&state, code);
    ::cfsetospeed(&state, code);
    return true;
}

} // namespace

TermiosBuild buildTermios(const termios& current, const ComSettings& settings)
{
    TermiosBuild build;
    build.baudRate = settings.baudRate;

    termios state = current;
    ::cfmakeraw(&state);
    state.c_cflag |= CLOCAL | CREAD;
    state.c_cc[VMIN] = 1;
    state.c_cc[VTIME] = 0;
    if (!setDataBits(state, settings.dataBits, build.refusal) ||
        !setStopBits(state, settings.stopBits, build.refusal) ||
        !setParity(state, settings.parity, build.refusal) ||
        !setFlowControl(state, settings.flowControl, build.refusal))
        return build;

    if (!baudRateSupported(settings.baudRate)) {
        build.refusal =
            QStringLiteral("%1 baud is not available on this system").arg(settings.baudRate);
        return build;
    }
    build.customBaud = !setSpeedCode(state, settings.baudRate);

    build.state = state;
    build.ok = true;
    return build;
}

} // namespace kirt
