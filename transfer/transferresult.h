#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

namespace kirt {

enum class TransferProtocol { Xmodem, Ymodem, Zmodem };
enum class TransferDirection { Send, Receive };

// "XMODEM", "YMODEM", "ZMODEM".
QString protocolName(TransferProtocol protocol);

// Where a transfer stands, for a progress dialog.
struct TransferProgress
{
    QString file;               // the file under way
    std::int64_t fileDone = 0;  // its bytes so far
    std::int64_t fileSize = -1; // -1 while not known (an XMODEM receive)
    std::int64_t done = 0;      // every file's bytes so far
    std::int64_t total = -1;    // -1 while not known
    int retries = 0;
    std::int64_t ms = 0;
};

struct TransferFile
{
    QString name;   // as sent, or as written for a receive
    QString sentAs; // a receive: the sender's name, when the one written differs
    std::int64_t size = 0;
};

struct TransferResult
{
    enum class End { Done, Failed, Cancelled };
    TransferProtocol protocol = TransferProtocol::Xmodem;
    TransferDirection direction = TransferDirection::Send;
    End end = End::Done;
    QString reason;          // a failure's; empty when done
    std::uint64_t bytes = 0; // the files' bytes that arrived, never the blocks' padding
    int retries = 0;
    std::int64_t ms = 0;
    QList<TransferFile> files; // a send: those asked for; a receive: those written

    bool ok() const { return end == End::Done; }
};

// One line for the display and a script's output, for every end:
// "YMODEM: sent fw.bin, 412,672 bytes in 37.4 s, 11,034 B/s, 0 retries";
// "XMODEM: sending fw.bin failed, 1,024 bytes in 3.0 s, 341 B/s, 10 retries: block 9 refused
// 10 times".
QString summaryLine(const TransferResult& result);

} // namespace kirt

Q_DECLARE_METATYPE(kirt::TransferProgress)
Q_DECLARE_METATYPE(kirt::TransferResult)
