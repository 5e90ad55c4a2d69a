#include "serial/rfc2217codec.h"

namespace kirt::telnet {

namespace {

Bytes oneByte(std::uint8_t value)
{
    return Bytes{value};
}

} // namespace

std::size_t Decoder::decode(const std::uint8_t* in, std::size_t count, std::uint8_t* data,
                            std::vector<Event>& events)
{
    std::size_t out = 0;
    std::size_t i = 0;
    while (i < count) {
        const std::uint8_t byte = in[i];
        switch (m_state) {
        case State::Data:
            if (byte == Iac)
                m_state = State::Command;
            else
                data[out++] = byte;
            break;
        case State::Command:
            if (byte == Iac) {
                data[out++] = Iac;
                m_state = State::Data;
            } else if (byte >= Will) {
                m_verb = byte;
                m_state = State::Option;
            } else if (byte == Sb) {
                m_state = State::SubOption;
            } else {
                events.push_back({Event::Kind::Command, 0, byte, {}});
                m_state = State::Data;
            }
            break;
        case State::Option:
            events.push_back({Event::Kind::Negotiation, m_verb, byte, {}});
            m_state = State::Data;
            break;
        case State::SubOption:
            m_sub = {Event::Kind::Subnegotiation, 0, byte, {}};
            m_state = State::SubData;
            break;
        case State::SubData:
            if (byte == Iac)
                m_state = State::SubCommand;
            else if (m_sub.payload.size() < MaxPayload)
                m_sub.payload.push_back(byte);
            break;
        case State::SubCommand:
            if (byte == Se) {
                events.push_back(std::move(m_sub));
                m_sub = {};
                m_state = State::Data;
            } else if (byte == Iac) {
                if (m_sub.payload.size() < MaxPayload)
                    m_sub.payload.push_back(Iac);
                m_state = State::SubData;
            } else {
                // A command where only SE or a doubled IAC may stand: the subnegotiation was
                // cut short, and the byte is read again as the command it is.
                m_sub = {};
                m_state = State::Command;
                continue;
            }
            break;
        }
        ++i;
    }
    return out;
}

void Decoder::reset()
{
    m_state = State::Data;
    m_verb = 0;
    m_sub = {};
}

std::optional<ComReply> comReply(const Event& event)
{
    if (event.kind != Event::Kind::Subnegotiation || event.code != OptionComPort ||
        event.payload.empty())
        return std::nullopt;
    const std::uint8_t code = event.payload[0];
    if (code < ServerOffset || code > ServerOffset + static_cast<int>(ComCommand::PurgeData))
        return std::nullopt;
    ComReply reply;
    reply.command = static_cast<ComCommand>(code - ServerOffset);
    switch (reply.command) {
    case ComCommand::Signature:
        reply.text.assign(event.payload.begin() + 1, event.payload.end());
        return reply;
    case ComCommand::SetBaudRate:
        if (event.payload.size() < 5)
            return std::nullopt;
        reply.value = std::uint32_t{event.payload[1]} << 24 |
                      std::uint32_t{event.payload[2]} << 16 | std::uint32_t{event.payload[3]} << 8 |
                      std::uint32_t{event.payload[4]};
        return reply;
    default:
        if (event.payload.size() < 2)
            return std::nullopt;
        reply.value = event.payload[1];
        return reply;
    }
}

void appendEscaped(Bytes& out, const std::uint8_t* data, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == Iac)
            out.push_back(Iac);
    }
}

Bytes negotiation(std::uint8_t verb, std::uint8_t option)
{
    return {Iac, verb, option};
}

Bytes comCommand(ComCommand command, const Bytes& payload)
{
    Bytes out{Iac, Sb, OptionComPort, static_cast<std::uint8_t>(command)};
    appendEscaped(out, payload.data(), payload.size());
    out.push_back(Iac);
    out.push_back(Se);
    return out;
}

Bytes setBaudRate(std::uint32_t rate)
{
    return comCommand(ComCommand::SetBaudRate,
                      {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
                       static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)});
}

Bytes setDataSize(std::uint8_t bits)
{
    return comCommand(ComCommand::SetDataSize, oneByte(bits));
}

Bytes setParity(std::uint8_t code)
{
    return comCommand(ComCommand::SetParity, oneByte(code));
}

Bytes setStopSize(std::uint8_t code)
{
    return comCommand(ComCommand::SetStopSize, oneByte(code));
}

Bytes setControl(ComControl control)
{
    return comCommand(ComCommand::SetControl, oneByte(static_cast<std::uint8_t>(control)));
}

Bytes setModemStateMask(std::uint8_t mask)
{
    return comCommand(ComCommand::SetModemStateMask, oneByte(mask));
}

Bytes purgeData(ComPurge what)
{
    return comCommand(ComCommand::PurgeData, oneByte(static_cast<std::uint8_t>(what)));
}

std::optional<std::uint8_t> parityCode(Parity parity)
{
    if (static_cast<int>(parity) > LastParity)
        return std::nullopt;
    return static_cast<std::uint8_t>(static_cast<int>(parity) + 1);
}

std::optional<std::uint8_t> stopSizeCode(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::One:
        return 1;
    case StopBits::OneAndHalf:
        return 3;
    case StopBits::Two:
        return 2;
    }
    return std::nullopt;
}

ComControl flowControlCode(FlowControl flow)
{
    switch (flow) {
    case FlowControl::Hardware:
        return ComControl::FlowHardware;
    case FlowControl::Software:
        return ComControl::FlowXonXoff;
    case FlowControl::None:
        break;
    }
    return ComControl::FlowNone;
}

bool Negotiation::wantedLocally(std::uint8_t option)
{
    return option == OptionBinary || option == OptionSuppressGoAhead || option == OptionComPort;
}

bool Negotiation::wantedRemotely(std::uint8_t option)
{
    return option == OptionBinary || option == OptionSuppressGoAhead;
}

Bytes Negotiation::start()
{
    Bytes out;
    const auto ask = [&out](Side& side, std::uint8_t option, std::uint8_t verb) {
        if (side.state[option] != Q::No)
            return;
        side.state[option] = Q::WantYes;
        const Bytes request = negotiation(verb, option);
        out.insert(out.end(), request.begin(), request.end());
    };
    for (const std::uint8_t option : {OptionBinary, OptionSuppressGoAhead}) {
        ask(m_remote, option, Do);
        ask(m_local, option, Will);
    }
    ask(m_local, OptionComPort, Will);
    return out;
}

std::uint8_t Negotiation::step(Side& side, std::uint8_t option, bool agree, bool wanted,
                               std::uint8_t yes, std::uint8_t no)
{
    Q& state = side.state[option];
    if (!agree) {
        // A withdrawal of what we refused leaves the refusal standing: the other side knows
        // it, and a new offer is not answered again, so offer and withdrawal in a loop cost
        // one answer in all.
        const bool wasYes = state == Q::Yes;
        state = Q::No;
        return wasYes ? no : 0;
    }
    switch (state) {
    case Q::No:
        if (wanted) {
            state = Q::Yes;
            return yes;
        }
        if (side.refused[option])
            return 0;
        side.refused[option] = true;
        return no;
    case Q::WantYes:
        state = Q::Yes;
        return 0;
    case Q::Yes:
        break;
    }
    return 0;
}

Bytes Negotiation::receive(std::uint8_t verb, std::uint8_t option)
{
    std::uint8_t answer = 0;
    switch (verb) {
    case Will:
    case Wont:
        answer = step(m_remote, option, verb == Will, wantedRemotely(option), Do, Dont);
        break;
    case Do:
    case Dont:
        answer = step(m_local, option, verb == Do, wantedLocally(option), Will, Wont);
        break;
    default:
        break;
    }
    return answer == 0 ? Bytes{} : negotiation(answer, option);
}

bool Negotiation::local(std::uint8_t option) const
{
    return m_local.state[option] == Q::Yes;
}

bool Negotiation::remote(std::uint8_t option) const
{
    return m_remote.state[option] == Q::Yes;
}

bool Negotiation::localSettled(std::uint8_t option) const
{
    const Q state = m_local.state[option];
    return state == Q::Yes || state == Q::No;
}

} // namespace kirt::telnet
