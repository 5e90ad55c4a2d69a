#include "transfer/blocksender.h"

#include "transfer/blockcodec.h"

namespace kirt {

using namespace xmodem;

BlockSender::BlockSender(TransferProtocol protocol, std::vector<SendFile> files, bool longBlocks,
                         const Timing& timing)
    : TransferMachine(protocol, TransferDirection::Send, timing), m_files(std::move(files)),
      m_longBlocks(longBlocks || protocol == TransferProtocol::Ymodem)
{
    // XMODEM has no batch: one file.
    if (protocol == TransferProtocol::Xmodem && m_files.size() > 1)
        m_files.resize(1);
    m_progress.total = 0;
    for (const SendFile& file : m_files) {
        m_result.files << TransferFile{file.name, {}, file.size};
        m_progress.total += file.size;
    }
}

void BlockSender::start(Ms now)
{
    m_started = now;
    m_state = State::WaitStart;
    if (!m_files.empty()) {
        m_progress.file = m_files.front().name;
        m_progress.fileSize = m_files.front().size;
    }
    wakeAt(now + m_timing.noPeer);
}

void BlockSender::received(const std::uint8_t* bytes, std::size_t count, Ms now)
{
    for (std::size_t i = 0; i < count && !finished(); ++i)
        if (!answer(bytes[i], now))
            return;
}

bool BlockSender::answer(std::uint8_t byte, Ms now)
{
    if (byte == CAN) {
        if (m_cancelSeen) {
            finish(TransferResult::End::Failed, QStringLiteral("the receiver cancelled"), now,
                   false);
            return false;
        }
        m_cancelSeen = true;
        return true;
    }
    m_cancelSeen = false;
    // After each reaction the rest of the bytes received with the answer are dropped: they
    // came before what was just sent, so none of them answers it.
    switch (m_state) {
    case State::WaitStart:
        if (byte != NAK && byte != AskCrc)
            return true;
        m_crc = byte == AskCrc;
        if (m_result.protocol == TransferProtocol::Ymodem)
            sendHeader(now);
        else
            sendNextBlock(now);
        return false;
    case State::WaitHeaderAck:
        if (byte == ACK) {
            // The receiver asks for the data with 'C', often in the same read as the ACK.
            m_state = State::WaitDataStart;
            wakeAt(now + m_timing.answer);
            return true;
        }
        if (byte == NAK)
            sendAgain(now, QStringLiteral("block 0 refused %1 times").arg(m_timing.tries));
        return byte != NAK;
    case State::WaitDataStart:
        if (byte != NAK && byte != AskCrc)
            return true;
        m_number = 1;
        m_blockIndex = 0;
        sendNextBlock(now);
        return false;
    case State::WaitBlockAck:
        if (byte == ACK) {
            m_progress.fileDone += static_cast<std::int64_t>(m_lastData);
            m_progress.done += static_cast<std::int64_t>(m_lastData);
            m_result.bytes += m_lastData;
            ++m_number;
            sendNextBlock(now);
            return false;
        }
        // 'C' again before the first block's answer: the receiver did not see it.
        if (byte == NAK || (byte == AskCrc && m_blockIndex == 1)) {
            sendAgain(
                now,
                QStringLiteral("block %1 refused %2 times").arg(m_blockIndex).arg(m_timing.tries));
            return false;
        }
        return true;
    case State::WaitEotAck:
        if (byte == ACK) {
            fileDone(now);
            return false;
        }
        if (byte != NAK)
            return true;
        // A YMODEM receiver refuses the first EOT by design, to be sure of it.
        if (m_eotNaks++ == 0) {
            m_out.append(m_last);
            wakeAt(now + m_timing.answer);
        } else {
            sendAgain(now, QStringLiteral("EOT refused %1 times").arg(m_timing.tries));
        }
        return false;
    case State::WaitNextStart:
        if (byte != NAK && byte != AskCrc)
            return true;
        sendHeader(now);
        return false;
    case State::WaitEndAck:
        if (byte == ACK) {
            finish(TransferResult::End::Done, {}, now, false);
            return false;
        }
        if (byte == NAK)
            sendAgain(now, QStringLiteral("the last block 0 refused %1 times").arg(m_timing.tries));
        return byte != NAK;
    }
    return true;
}

std::size_t BlockSender::blockSize(std::int64_t left) const
{
    // 1K blocks only with the CRC; a short rest goes in a short block, with less padding.
    if (!m_crc || !m_longBlocks || left <= static_cast<std::int64_t>(ShortBlock))
        return ShortBlock;
    return LongBlock;
}

void BlockSender::sendHeader(Ms now)
{
    m_last.clear();
    m_blockIndex = 0;
    m_sends = 1;
    if (m_file >= m_files.size()) {
        appendBlock(m_last, 0, nullptr, 0, ShortBlock, m_crc, '\0');
        put(m_last, State::WaitEndAck, now);
        return;
    }
    const SendFile& file = m_files[m_file];
    m_progress.file = file.name;
    m_progress.fileDone = 0;
    m_progress.fileSize = file.size;
    const QByteArray header = fileHeader(file.name, file.size, file.mtime);
    const std::size_t size = header.size() < qsizetype(ShortBlock) ? ShortBlock : LongBlock;
    appendBlock(m_last, 0, header.constData(),
                std::min(static_cast<std::size_t>(header.size()), size), size, m_crc, '\0');
    m_lastData = 0;
    put(m_last, State::WaitHeaderAck, now);
}

void BlockSender::sendNextBlock(Ms now)
{
    if (m_files.empty()) {
        finish(TransferResult::End::Failed, QStringLiteral("no file to send"), now, true);
        return;
    }
    SendFile& file = m_files[m_file];
    const std::int64_t left = file.size - m_progress.fileDone;
    if (left <= 0) {
        sendEot(now);
        return;
    }
    const std::size_t size = blockSize(left);
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(left, std::int64_t(size)));
    m_buffer.resize(static_cast<qsizetype>(count));
    qint64 got = 0;
    qint64 part = 0;
    while (got < qint64(count)) {
        part = file.data->read(m_buffer.data() + got, qint64(count) - got);
        if (part <= 0)
            break;
        got += part;
    }
    if (got < qint64(count)) {
        const QString why =
            part < 0 ? file.data->errorString() : QStringLiteral("it is shorter than it was");
        finish(TransferResult::End::Failed,
               QStringLiteral("cannot read %1: %2").arg(file.name, why), now, true);
        return;
    }
    m_last.clear();
    appendBlock(m_last, m_number, m_buffer.constData(), count, size, m_crc);
    m_lastData = count;
    ++m_blockIndex;
    m_sends = 1;
    put(m_last, State::WaitBlockAck, now);
}

void BlockSender::sendEot(Ms now)
{
    m_last = QByteArray(1, char(EOT));
    m_lastData = 0;
    m_eotNaks = 0;
    m_sends = 1;
    put(m_last, State::WaitEotAck, now);
}

void BlockSender::fileDone(Ms now)
{
    if (m_result.protocol == TransferProtocol::Xmodem) {
        finish(TransferResult::End::Done, {}, now, false);
        return;
    }
    ++m_file;
    m_sends = 0;
    m_state = State::WaitNextStart;
    wakeAt(now + m_timing.answer);
}

void BlockSender::sendAgain(Ms now, const QString& why)
{
    if (m_sends >= m_timing.tries) {
        finish(TransferResult::End::Failed, why, now, true);
        return;
    }
    ++m_sends;
    retried();
    m_out.append(m_last);
    wakeAt(now + m_timing.answer);
}

void BlockSender::put(const QByteArray& bytes, State next, Ms now)
{
    m_out.append(bytes);
    m_state = next;
    wakeAt(now + m_timing.answer);
}

void BlockSender::timedOut(Ms now)
{
    const QString silent = QStringLiteral("no answer to %1 in %2 tries");
    switch (m_state) {
    case State::WaitStart:
        finish(TransferResult::End::Failed,
               QStringLiteral("no receiver: no NAK or 'C' within %1 s")
                   .arg(static_cast<double>(m_timing.noPeer) / 1000.0),
               now, false);
        return;
    case State::WaitDataStart:
        // The ACK came, the ask for the data did not: block 0 once more brings both again.
        m_state = State::WaitHeaderAck;
        [[fallthrough]];
    case State::WaitHeaderAck:
        sendAgain(now, silent.arg(QStringLiteral("block 0")).arg(m_timing.tries));
        return;
    case State::WaitBlockAck:
        sendAgain(now,
                  silent.arg(QStringLiteral("block %1").arg(m_blockIndex)).arg(m_timing.tries));
        return;
    case State::WaitEotAck:
        sendAgain(now, silent.arg(QStringLiteral("EOT")).arg(m_timing.tries));
        return;
    case State::WaitEndAck:
        sendAgain(now, silent.arg(QStringLiteral("the last block 0")).arg(m_timing.tries));
        return;
    case State::WaitNextStart:
        if (++m_sends >= m_timing.tries) {
            finish(TransferResult::End::Failed,
                   QStringLiteral("the receiver did not ask for the next file"), now, true);
            return;
        }
        retried();
        wakeAt(now + m_timing.answer);
        return;
    }
}

} // namespace kirt
