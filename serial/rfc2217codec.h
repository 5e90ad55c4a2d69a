#pragma once

#include "base/comsettings.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The telnet framing of a remote serial port, without sockets: what the server sends is split
// into data and commands, and what we send is built here byte for byte.
namespace kirt::telnet {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t Iac = 255;
inline constexpr std::uint8_t Dont = 254;
inline constexpr std::uint8_t Do = 253;
inline constexpr std::uint8_t Wont = 252;
inline constexpr std::uint8_t Will = 251;
inline constexpr std::uint8_t Sb = 250;
inline constexpr std::uint8_t Nop = 241;
inline constexpr std::uint8_t Se = 240;

inline constexpr std::uint8_t OptionBinary = 0;
inline constexpr std::uint8_t OptionEcho = 1;
inline constexpr std::uint8_t OptionSuppressGoAhead = 3;
inline constexpr std::uint8_t OptionComPort = 44;

// The client's command codes of the serial port control option; the server answers each with
// the same code plus ServerOffset.
enum class ComCommand : std::uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t ServerOffset = 100;

// SET-CONTROL values.
enum class ComControl : std::uint8_t {
    FlowNone = 1,
    FlowXonXoff = 2,
    FlowHardware = 3,
    BreakOn = 5,
    BreakOff = 6,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
};

enum class ComPurge : std::uint8_t { Receive = 1, Transmit = 2, Both = 3 };

// NOTIFY-MODEMSTATE bits.
inline constexpr std::uint8_t ModemCd = 0x80;
inline constexpr std::uint8_t ModemRi = 0x40;
inline constexpr std::uint8_t ModemDsr = 0x20;
inline constexpr std::uint8_t ModemCts = 0x10;

struct Event
{
    enum class Kind : std::uint8_t { Negotiation, Subnegotiation, Command };
    Kind kind = Kind::Command;
    std::uint8_t verb = 0; // WILL, WONT, DO or DONT for a negotiation
    // The option for a negotiation or a subnegotiation, the command byte otherwise.
    std::uint8_t code = 0;
    // A subnegotiation's bytes after the option, with doubled IACs made single again.
    Bytes payload;

    bool operator==(const Event&) const = default;
};

// Splits the server's byte stream into data and commands. Anything may be cut between two
// reads at any byte; the decoder carries the unfinished part over.
class Decoder
{
public:
    // Decodes count bytes. The data goes to data, which may be in itself: it never receives
    // more bytes than came in. Returns how many data bytes were written.
    std::size_t decode(const std::uint8_t* in, std::size_t count, std::uint8_t* data,
                       std::vector<Event>& events);
    void reset();

    // A subnegotiation longer than this is cut; no serial port command comes near it.
    static constexpr std::size_t MaxPayload = 512;

private:
    enum class State : std::uint8_t { Data, Command, Option, SubOption, SubData, SubCommand };
    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    Event m_sub;
};

// A reply of the server to a serial port command, by the client's command code.
struct ComReply
{
    ComCommand command = ComCommand::Signature;
    std::uint32_t value = 0; // the rate for SET-BAUDRATE, the one value byte otherwise
    Bytes text;              // the signature's text
};

// The server's reply or notification in a subnegotiation, or nothing when it is not one.
std::optional<ComReply> comReply(const Event& event);

// Data with every IAC doubled, appended to out.
void appendEscaped(Bytes& out, const std::uint8_t* data, std::size_t count);

Bytes negotiation(std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION command payload IAC SE, the payload's IACs doubled.
Bytes comCommand(ComCommand command, const Bytes& payload);
// 0 asks for the rate the port runs at.
Bytes setBaudRate(std::uint32_t rate);
Bytes setDataSize(std::uint8_t bits);
Bytes setParity(std::uint8_t code);
Bytes setStopSize(std::uint8_t code);
Bytes setControl(ComControl control);
Bytes setModemStateMask(std::uint8_t mask);
Bytes purgeData(ComPurge what);

// The wire codes of the line settings: parity none .. space gives 1..5; stop bits one, one and
// a half, two give 1, 3, 2. Nothing for a value outside the choices.
std::optional<std::uint8_t> parityCode(Parity parity);
std::optional<std::uint8_t> stopSizeCode(StopBits stopBits);
ComControl flowControlCode(FlowControl flow);

// The option negotiation of one connection, after RFC 1143: both sides use BINARY and
// SUPPRESS-GO-AHEAD, we use COM-PORT-OPTION, every other option is refused, once for the
// connection. Only a change of state is answered, so two sides that disagree cannot talk in
// circles.
class Negotiation
{
public:
    // What we ask for when the connection opens.
    Bytes start();
    // The answer to the server's WILL, WONT, DO or DONT; empty when none is due.
    Bytes receive(std::uint8_t verb, std::uint8_t option);

    // Whether we do the option (DO received) or the server does (WILL received).
    bool local(std::uint8_t option) const;
    bool remote(std::uint8_t option) const;
    // Whether our request for the option has been answered, either way.
    bool localSettled(std::uint8_t option) const;

private:
    // We never withdraw an option, so the states of withdrawing are not needed.
    enum class Q : std::uint8_t { No, Yes, WantYes };
    struct Side
    {
        std::array<Q, 256> state{};
        // Options refused on this connection: a repeated offer is not answered again.
        std::array<bool, 256> refused{};
    };
    static bool wantedLocally(std::uint8_t option);
    static bool wantedRemotely(std::uint8_t option);
    // One side's step: agree is true for WILL/DO. Returns the verb to answer with, or 0.
    static std::uint8_t step(Side& side, std::uint8_t option, bool agree, bool wanted,
                             std::uint8_t yes, std::uint8_t no);

    Side m_local;  // what we do: the server's DO and DONT
    Side m_remote; // what the server does: its WILL and WONT
};

} // namespace kirt::telnet
