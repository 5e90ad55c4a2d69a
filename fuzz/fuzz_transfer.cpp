// A sender's byte stream, arbitrary, to the XMODEM and YMODEM receiver, in reads cut as the
// input says and with time passing between them: no name it writes leaves the folder or is
// empty, nothing is written once the end is reached, and the end always comes with a result.
#include "transfer/blockreceiver.h"

#include <cstdlib>

using namespace kirt;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Counts instead of writing; the names are cleaned as a folder's would be.
struct CountingTarget final : ReceiveTarget
{
    QString written;
    bool open = false;
    std::uint64_t bytes = 0;

    bool begin(const QString& sentName, std::optional<std::int64_t>, QString&) override
    {
        check(!open);
        written = cleanReceivedName(sentName);
        check(!written.isEmpty() && !written.contains(u'/') && !written.contains(u'\\'));
        check(written != QLatin1String(".") && written != QLatin1String(".."));
        open = true;
        return true;
    }
    QString name() const override { return written; }
    bool write(const char*, std::size_t count, QString&) override
    {
        check(open);
        bytes += count;
        return true;
    }
    bool finish(QString&) override
    {
        check(open);
        open = false;
        return true;
    }
    void abort() override { open = false; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte: the protocol, and the reads' length and spacing.
    const bool ymodem = (data[0] & 1) != 0;
    const std::size_t chunk = 1 + ((data[0] >> 1) & 63);
    const TransferMachine::Ms step = (data[0] & 0x80) ? 1500 : 5;
    CountingTarget target;
    BlockReceiver machine(ymodem ? TransferProtocol::Ymodem : TransferProtocol::Xmodem, target);
    machine.start(0);
    TransferMachine::Ms now = 0;
    for (std::size_t at = 1; at < size && !machine.finished(); at += chunk) {
        machine.received(data + at, std::min(chunk, size - at), now);
        now += step;
        if (const auto due = machine.deadline(); due && *due <= now)
            machine.tick(now);
        machine.takeOutput();
    }
    const std::uint64_t written = target.bytes;
    machine.cancel(now);
    check(machine.finished() && !target.open);
    check(machine.result().bytes == written);
    return 0;
}
