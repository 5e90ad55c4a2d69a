#pragma once

#include "transfer/transfer.h"

#include <QStringList>

#include <memory>

namespace kirt {

// What a user or a script asks for.
struct TransferRequest
{
    TransferProtocol protocol = TransferProtocol::Xmodem;
    TransferDirection direction = TransferDirection::Send;
    // A send: the files (XMODEM takes one). A receive: the file to write (XMODEM) or the
    // folder to write into (YMODEM, ZMODEM).
    QStringList paths;
    bool longBlocks = false; // XMODEM send: 1024-byte blocks when the receiver asks for the CRC
    TransferMachine::Timing timing;
};

// The transfer, not started. One that cannot run (a file that cannot be read, a folder that is
// not one) fails with the reason when started, like any other end, so every transfer ends
// with its line.
std::unique_ptr<Transfer> makeTransfer(PortController& port, const TransferRequest& request,
                                       QObject* parent = nullptr);

} // namespace kirt
