#pragma once

#include "base/codec.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace kirt {

// One auto-response rule: the receive packet and the matcher's state. Whether the rule is
// switched on and its response text stay with the window's controls; the window calls
// match() only for rules that are on.
class ProtocolRule
{
public:
    // Room for the longest packet text, so HEX digits can be decoded where they were copied.
    static constexpr std::size_t PacketCapacity = HexFieldLimit;

    // Rebuilds the packet from the receive-packet text in the rule's format: ASC takes the
    // text's own bytes, HEX one byte per digit pair (an odd last digit is ignored). Text past
    // the capacity is cut. A progress that the new packet no longer exceeds returns to 0, so
    // the matcher never looks past the packet's end. Returns the new length.
    std::uint32_t parse(const QString& text);

    // Feeds one received byte. A mismatch drops a partial match without trying the byte as a
    // new start. Returns true when the byte completes the packet: progress is then back at 0
    // and responseCount already counts this match, so the caller sends the response and then
    // shows responseCountCaption(). A rule without a packet never completes.
    bool match(std::uint8_t byte);

    // Records the format picked in the rule's format box; true when it differs from the one
    // in force, in which case the caller empties both packet edits.
    bool setFormat(DataFormat format);

    // Picking either item of the enable box starts the count afresh; progress is kept.
    void resetResponseCount() { m_responseCount = 0; }

    DataFormat format() const { return m_format; }
    std::uint32_t length() const { return m_length; }
    std::uint32_t progress() const { return m_progress; }
    std::uint32_t responseCount() const { return m_responseCount; }
    QByteArrayView packet() const;

private:
    std::array<std::uint8_t, PacketCapacity> m_packet{};
    std::uint32_t m_length = 0;
    std::uint32_t m_progress = 0;
    std::uint32_t m_responseCount = 0;
    DataFormat m_format = DataFormat::Hex;
};

// "Protocol No.<rule> Response Count : <count>"
QString responseCountCaption(int ruleNumber, std::uint32_t count);

} // namespace kirt
