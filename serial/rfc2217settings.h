#pragma once

#include "base/comsettings.h"
#include "serial/rfc2217codec.h"

#include <QString>

#include <array>
#include <optional>

// The line settings as serial port control commands, and the judgement of the server's
// replies to them.
namespace kirt::telnet {

// The latest reply to each command, by the client's command code.
using ComReplies = std::array<std::optional<std::uint32_t>, 13>;

struct SettingsRequest
{
    Bytes bytes;     // empty when a choice has no wire code
    QString refusal; // why, then
};

// Rate, data size, parity, stop size and flow control, each answered by the server; then DTR
// and RTS off (the local port leaves them cleared too) and every modem line reported, which
// no server need answer.
SettingsRequest settingsRequest(const ComSettings& settings);

// Whether every command of the request that gets an answer has one.
bool settingsAnswered(const ComReplies& replies);

// Why the replies do not show the settings taken, naming the first setting missing or
// different; empty when they do.
QString settingsRefusal(const ComSettings& settings, const ComReplies& replies);

// Records a reply. A SET-CONTROL reply counts only when it is about flow control, since the
// line and break commands share its code.
void recordReply(ComReplies& replies, const ComReply& reply);

// A reply to a DTR or RTS command or to the modem-state mask: the far port has modem lines.
// ser2net over a pseudo-terminal answers none of these, though it reports a modem state.
bool showsModemLines(const ComReply& reply);

} // namespace kirt::telnet
