#include "serial/rfc2217settings.h"

#include <algorithm>

namespace kirt::telnet {

namespace {

std::size_t slot(ComCommand command)
{
    return static_cast<std::size_t>(command);
}

constexpr ComCommand Answered[] = {ComCommand::SetBaudRate, ComCommand::SetDataSize,
                                   ComCommand::SetParity, ComCommand::SetStopSize,
                                   ComCommand::SetControl};

// A serial port rounds an odd rate to its divisor: a few percent off is what a receiver
// tolerates, as for the local port.
bool closeRate(std::uint32_t actual, std::uint32_t wanted)
{
    if (wanted == 0)
        return actual == 0;
    const double ratio = static_cast<double>(actual) / wanted;
    return ratio > 0.97 && ratio < 1.03;
}

} // namespace

SettingsRequest settingsRequest(const ComSettings& settings)
{
    SettingsRequest request;
    const std::optional<std::uint8_t> parity = parityCode(settings.parity);
    const std::optional<std::uint8_t> stopSize = stopSizeCode(settings.stopBits);
    if (!parity || !stopSize) {
        request.refusal = QStringLiteral("unknown parity or stop bits setting");
        return request;
    }
    for (const Bytes& command :
         {setBaudRate(settings.baudRate), setDataSize(settings.dataBits), setParity(*parity),
          setStopSize(*stopSize), setControl(flowControlCode(settings.flowControl)),
          setControl(ComControl::DtrOff), setControl(ComControl::RtsOff), setModemStateMask(0xFF)})
        request.bytes.insert(request.bytes.end(), command.begin(), command.end());
    return request;
}

bool settingsAnswered(const ComReplies& replies)
{
    return std::all_of(std::begin(Answered), std::end(Answered), [&replies](ComCommand command) {
        return replies[slot(command)].has_value();
    });
}

QString settingsRefusal(const ComSettings& settings, const ComReplies& replies)
{
    const auto refused = [](const QString& what) {
        return QStringLiteral("the server did not take %1").arg(what);
    };
    const auto& rate = replies[slot(ComCommand::SetBaudRate)];
    if (!rate || !closeRate(*rate, settings.baudRate))
        return refused(QStringLiteral("%1 baud").arg(settings.baudRate));
    if (replies[slot(ComCommand::SetDataSize)] != settings.dataBits)
        return refused(QStringLiteral("%1 data bits").arg(int{settings.dataBits}));
    if (replies[slot(ComCommand::SetParity)] != parityCode(settings.parity))
        return refused(choiceWords(settings.parity));
    if (replies[slot(ComCommand::SetStopSize)] != stopSizeCode(settings.stopBits))
        return refused(choiceWords(settings.stopBits));
    if (replies[slot(ComCommand::SetControl)] !=
        static_cast<std::uint32_t>(flowControlCode(settings.flowControl)))
        return refused(QStringLiteral("the flow control"));
    return {};
}

void recordReply(ComReplies& replies, const ComReply& reply)
{
    const bool flow = reply.value >= static_cast<std::uint32_t>(ComControl::FlowNone) &&
                      reply.value <= static_cast<std::uint32_t>(ComControl::FlowHardware);
    if (reply.command != ComCommand::SetControl || flow)
        replies[slot(reply.command)] = reply.value;
}

bool showsModemLines(const ComReply& reply)
{
    if (reply.command == ComCommand::SetModemStateMask)
        return true;
    return reply.command == ComCommand::SetControl &&
           reply.value >= static_cast<std::uint32_t>(ComControl::DtrOn) &&
           reply.value <= static_cast<std::uint32_t>(ComControl::RtsOff);
}

} // namespace kirt::telnet
