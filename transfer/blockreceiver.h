#pragma once

#include "transfer/blockcodec.h"
#include "transfer/receivetarget.h"
#include "transfer/transfermachine.h"

namespace kirt {

// XMODEM and YMODEM, receiving. Asks for the CRC ('C') first and for the sum (NAK) after three
// unanswered asks. A block that fails its check is refused with NAK, up to Timing::tries
// times; one that comes again (the sender missed the ACK) is acknowledged and dropped; one out
// of order ends the transfer. The first EOT is refused, to be sure of it, the second
// acknowledged. YMODEM reads each file's name, size and time from block 0, cuts the file to
// that size, and ends at the empty block 0.
class BlockReceiver final : public TransferMachine
{
public:
    BlockReceiver(TransferProtocol protocol, ReceiveTarget& target, const Timing& timing = {});

    void start(Ms now) override;
    void received(const std::uint8_t* bytes, std::size_t count, Ms now) override;

private:
    enum class Phase {
        First,  // nothing received yet: asking
        Header, // YMODEM: waiting for block 0
        Data,   // waiting for block m_expect
    };

    void timedOut(Ms now) override;
    void endedEarly() override;
    void onEvent(const xmodem::BlockParser::Event& event, Ms now);
    void onBlock(const xmodem::BlockParser::Event& event, Ms now);
    void onHeader(const xmodem::BlockParser::Event& event, Ms now);
    void onData(const xmodem::BlockParser::Event& event, Ms now);
    void onEot(Ms now);
    bool beginFile(const QString& sentName, std::optional<std::int64_t> mtime, Ms now);
    void endFile(Ms now);
    // The answers: each starts a new wait for the sender.
    void answer(QByteArray bytes, Ms now);
    void refuse(const QString& why, Ms now, bool ask = false);
    char askByte() const { return m_parser.crc() ? char(xmodem::AskCrc) : char(xmodem::NAK); }
    bool ymodem() const { return m_result.protocol == TransferProtocol::Ymodem; }
    void setWake();

    ReceiveTarget& m_target;
    xmodem::BlockParser m_parser;
    Phase m_phase = Phase::First;
    std::uint8_t m_expect = 1;
    std::uint32_t m_blockIndex = 0; // of the file, from 1, for messages
    int m_asks = 0;                 // the first asks sent
    int m_failures = 0;             // of the block awaited
    bool m_eotSeen = false;
    bool m_purging = false; // after a broken header, until the line is quiet
    bool m_fileOpen = false;
    QString m_sentName;
    std::optional<std::int64_t> m_size;
    Ms m_answerBy = 0; // the sender's time to send what was asked for
    Ms m_startBy = 0;  // for the sender to start at all
    Ms m_lastByte = 0;
};

} // namespace kirt
