#pragma once

#include "transfer/transfermachine.h"

#include <QIODevice>
#include <QString>

#include <memory>
#include <vector>

namespace kirt {

// A file to send: what the receiver is told of it and where its bytes come from.
struct SendFile
{
    QString name; // without a folder
    std::int64_t size = 0;
    std::int64_t mtime = 0; // seconds since 1970
    std::unique_ptr<QIODevice> data;
};

// XMODEM and YMODEM, sending. The receiver's first ask chooses the check: NAK the sum, 'C' the
// CRC. XMODEM sends one file in 128-byte blocks, or 1024-byte ones when asked for and the
// receiver asked for the CRC; the last block is padded with 1Ah; EOT until it is acknowledged.
// YMODEM sends a batch: for each file a block 0 with name, size and time, then the data in
// 1024-byte blocks, EOT; an empty block 0 ends the batch. A block goes again on NAK or
// silence, up to Timing::tries sends; the block number moves on only with ACK.
class BlockSender final : public TransferMachine
{
public:
    // longBlocks: XMODEM's 1K setting (YMODEM always uses them).
    BlockSender(TransferProtocol protocol, std::vector<SendFile> files, bool longBlocks,
                const Timing& timing = {});

    void start(Ms now) override;
    void received(const std::uint8_t* bytes, std::size_t count, Ms now) override;

private:
    enum class State {
        WaitStart,     // for the receiver's first NAK or 'C'
        WaitHeaderAck, // block 0 sent
        WaitDataStart, // block 0 acknowledged; the receiver asks for the data with 'C'
        WaitBlockAck,
        WaitEotAck,
        WaitNextStart, // a file done; the receiver asks for the next block 0
        WaitEndAck,    // the empty block 0 sent
    };

    void timedOut(Ms now) override;
    // Reacts to one answer byte; false when the rest of what came is stale.
    bool answer(std::uint8_t byte, Ms now);
    void sendHeader(Ms now);
    void sendNextBlock(Ms now);
    void sendEot(Ms now);
    void sendAgain(Ms now, const QString& why);
    void put(const QByteArray& bytes, State next, Ms now);
    void fileDone(Ms now);
    std::size_t blockSize(std::int64_t left) const;

    std::vector<SendFile> m_files;
    std::size_t m_file = 0;
    bool m_longBlocks;
    bool m_crc = true;
    State m_state = State::WaitStart;
    QByteArray m_last;          // the bytes last sent, for a resend
    std::size_t m_lastData = 0; // the file's bytes in it
    std::uint8_t m_number = 1;
    std::uint32_t m_blockIndex = 0; // of the file, from 1, for messages
    int m_sends = 0;                // of the block under way
    int m_eotNaks = 0;
    bool m_cancelSeen = false;
    QByteArray m_buffer;
};

} // namespace kirt
