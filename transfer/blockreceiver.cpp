#include "transfer/blockreceiver.h"

namespace kirt {

using namespace xmodem;
using Event = BlockParser::Event;

BlockReceiver::BlockReceiver(TransferProtocol protocol, ReceiveTarget& target, const Timing& timing)
    : TransferMachine(protocol, TransferDirection::Receive, timing), m_target(target)
{
    m_expect = ymodem() ? 0 : 1;
}

void BlockReceiver::start(Ms now)
{
    m_started = now;
    m_startBy = now + m_timing.noPeer;
    m_asks = 1;
    m_out.append(char(AskCrc));
    m_answerBy = now + m_timing.startRetry;
    setWake();
}

void BlockReceiver::setWake()
{
    if (m_purging || m_parser.inBlock())
        wakeAt(m_lastByte + m_timing.gap);
    else if (m_phase == Phase::First)
        wakeAt(std::min(m_answerBy, m_startBy));
    else
        wakeAt(m_answerBy);
}

void BlockReceiver::received(const std::uint8_t* bytes, std::size_t count, Ms now)
{
    if (finished())
        return;
    m_lastByte = now;
    while (count > 0 && !m_purging && !finished()) {
        std::optional<Event> event;
        const std::size_t taken = m_parser.feed(bytes, count, event);
        bytes += taken;
        count -= taken;
        if (event)
            onEvent(*event, now);
    }
    if (!finished())
        setWake();
}

void BlockReceiver::onEvent(const Event& event, Ms now)
{
    switch (event.kind) {
    case Event::Kind::Cancel:
        finish(TransferResult::End::Failed, QStringLiteral("the sender cancelled"), now, false);
        return;
    case Event::Kind::BadHeader:
        // Where the block ends is unsure: wait for the line to go quiet, then refuse it.
        m_purging = true;
        m_parser.reset();
        return;
    case Event::Kind::Eot:
        onEot(now);
        return;
    case Event::Kind::Block:
        onBlock(event, now);
        return;
    }
}

void BlockReceiver::onBlock(const Event& event, Ms now)
{
    if (!event.intact) {
        refuse(QStringLiteral("block %1 failed its check %2 times")
                   .arg(m_blockIndex + 1)
                   .arg(m_timing.tries),
               now);
        return;
    }
    if (ymodem() && m_phase != Phase::Data)
        onHeader(event, now);
    else
        onData(event, now);
}

void BlockReceiver::onHeader(const Event& event, Ms now)
{
    if (event.number != 0) {
        finish(TransferResult::End::Failed,
               QStringLiteral("block %1 came where a file name was expected: is the sender "
                              "using XMODEM?")
                   .arg(event.number),
               now, true);
        return;
    }
    QString error;
    const std::optional<FileHeader> header = parseFileHeader(event.data, event.size, error);
    if (!header) {
        finish(TransferResult::End::Failed, error, now, true);
        return;
    }
    if (header->name.isEmpty()) {
        answer(QByteArray(1, char(ACK)), now);
        finish(TransferResult::End::Done, {}, now, false);
        return;
    }
    m_size = header->size;
    m_sentName = header->name;
    if (!beginFile(header->name, header->mtime, now))
        return;
    m_phase = Phase::Data;
    m_expect = 1;
    m_blockIndex = 0;
    m_failures = 0;
    m_eotSeen = false;
    answer(QByteArray(1, char(ACK)) + askByte(), now);
}

void BlockReceiver::onData(const Event& event, Ms now)
{
    if (event.number == m_expect) {
        if (!m_fileOpen && !beginFile({}, std::nullopt, now))
            return;
        m_phase = Phase::Data;
        std::size_t count = event.size;
        if (m_size)
            count = static_cast<std::size_t>(std::clamp<std::int64_t>(
                *m_size - m_progress.fileDone, 0, static_cast<std::int64_t>(count)));
        QString error;
        if (count > 0 && !m_target.write(reinterpret_cast<const char*>(event.data), count, error)) {
            finish(TransferResult::End::Failed, error, now, true);
            return;
        }
        m_progress.fileDone += static_cast<std::int64_t>(count);
        m_progress.done += static_cast<std::int64_t>(count);
        m_result.bytes += count;
        ++m_expect;
        ++m_blockIndex;
        m_failures = 0;
        m_eotSeen = false;
        answer(QByteArray(1, char(ACK)), now);
        return;
    }
    if (!ymodem() && m_phase == Phase::First && event.number == 0) {
        finish(TransferResult::End::Failed,
               QStringLiteral("the sender sent a file name: is it using YMODEM?"), now, true);
        return;
    }
    if (event.number == static_cast<std::uint8_t>(m_expect - 1)) {
        // The sender missed the ACK: it gets another; a YMODEM block 0 also its ask for data.
        retried();
        answer(ymodem() && event.number == 0 ? QByteArray(1, char(ACK)) + askByte()
                                             : QByteArray(1, char(ACK)),
               now);
        return;
    }
    finish(TransferResult::End::Failed,
           QStringLiteral("out of step: block number %1 came where %2 was expected")
               .arg(event.number)
               .arg(m_expect),
           now, true);
}

void BlockReceiver::onEot(Ms now)
{
    if (m_phase == Phase::Header) {
        // The sender missed the ACK of its EOT.
        answer(QByteArray(1, char(ACK)) + askByte(), now);
        return;
    }
    if (m_phase == Phase::First && ymodem())
        return;
    if (!m_eotSeen) {
        m_eotSeen = true;
        answer(QByteArray(1, char(NAK)), now);
        return;
    }
    m_out.append(char(ACK));
    endFile(now);
}

bool BlockReceiver::beginFile(const QString& sentName, std::optional<std::int64_t> mtime, Ms now)
{
    QString error;
    if (!m_target.begin(sentName, mtime, error)) {
        finish(TransferResult::End::Failed, error, now, true);
        return false;
    }
    m_fileOpen = true;
    m_progress.file = m_target.name();
    m_progress.fileDone = 0;
    m_progress.fileSize = m_size.value_or(-1);
    return true;
}

void BlockReceiver::endFile(Ms now)
{
    if (!m_fileOpen && !beginFile(m_sentName, std::nullopt, now))
        return;
    m_fileOpen = false;
    QString error;
    if (!m_target.finish(error)) {
        finish(TransferResult::End::Failed, error, now, ymodem());
        return;
    }
    const QString written = m_target.name();
    m_result.files << TransferFile{written, m_sentName == written ? QString() : m_sentName,
                                   m_progress.fileDone};
    if (!ymodem()) {
        finish(TransferResult::End::Done, {}, now, false);
        return;
    }
    m_phase = Phase::Header;
    m_expect = 0;
    m_failures = 0;
    m_size.reset();
    m_sentName.clear();
    answer(QByteArray(1, askByte()), now);
}

void BlockReceiver::answer(QByteArray bytes, Ms now)
{
    m_out.append(bytes);
    m_answerBy = now + m_timing.answer;
}

void BlockReceiver::refuse(const QString& why, Ms now, bool ask)
{
    if (++m_failures >= m_timing.tries) {
        finish(TransferResult::End::Failed, why, now, true);
        return;
    }
    retried();
    answer(QByteArray(1, ask ? askByte() : char(NAK)), now);
}

void BlockReceiver::timedOut(Ms now)
{
    if (m_purging || m_parser.inBlock()) {
        const bool broken = m_purging;
        m_purging = false;
        m_parser.reset();
        refuse(broken ? QStringLiteral("blocks broken in their header %1 times").arg(m_timing.tries)
                      : QStringLiteral("block %1 cut short %2 times")
                            .arg(m_blockIndex + 1)
                            .arg(m_timing.tries),
               now);
    } else if (m_phase == Phase::First) {
        if (now >= m_startBy) {
            finish(TransferResult::End::Failed,
                   QStringLiteral("no sender: nothing within %1 s")
                       .arg(static_cast<double>(m_timing.noPeer) / 1000.0),
                   now, false);
            return;
        }
        // The sum after three unanswered asks for the CRC.
        if (m_asks >= 3)
            m_parser.setCrc(false);
        ++m_asks;
        m_out.append(askByte());
        m_answerBy = now + m_timing.startRetry;
    } else {
        // Waiting for block 0 or for the first block of a file, the sender waits to be asked.
        const bool ask = m_phase == Phase::Header || m_blockIndex == 0;
        refuse(QStringLiteral("no block within %1 s, %2 times")
                   .arg(static_cast<double>(m_timing.answer) / 1000.0)
                   .arg(m_timing.tries),
               now, ask);
    }
    if (!finished())
        setWake();
}

void BlockReceiver::endedEarly()
{
    if (m_fileOpen)
        m_target.abort();
    m_fileOpen = false;
}

} // namespace kirt
