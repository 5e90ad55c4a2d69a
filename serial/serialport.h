#pragma once

#include "base/comsettings.h"

#include <QString>

#include <utility>

#include <cstddef>
#include <cstdint>

namespace kirt {

enum class SerialError {
    None,
    NotFound,         // no such device, or nothing answers at that path
    PermissionDenied, // typically: the user is not in the group that owns the device
    Busy,             // another program holds the device
    NotASerialDevice, // a file, a FIFO, a folder, a pseudo-terminal master: never used as a port
    GetStateFailed,   // the line state cannot be read
    SetStateFailed,   // the line state cannot be applied as asked
    NotOpen,
    Other
};

enum class ModemLine { Dtr, Rts };

// The input lines of the modem interface. A device without them (a pseudo-terminal) reports
// available = false; that is not an error.
struct ModemStatus
{
    bool available = false;
    bool cts = false;
    bool dsr = false;
    bool dcd = false;
    bool ri = false;

    bool operator==(const ModemStatus&) const = default;
};

// Outcome of a port step: what went wrong, the system's own reason, and what the user can do.
struct SerialStatus
{
    SerialError error = SerialError::None;
    int osError = 0;
    QString reason; // the system's text for osError, or why the settings were refused
    QString hint;   // a suggestion for the user; may be empty

    bool ok() const { return error == SerialError::None; }

    // A failure with the reason as the user reads it.
    static SerialStatus failed(SerialError error, QString reason, int osError = 0,
                               QString hint = {})
    {
        SerialStatus status;
        status.error = error;
        status.osError = osError;
        status.reason = std::move(reason);
        status.hint = std::move(hint);
        return status;
    }
};

// The serial device as the window and the receive thread see it. The steps follow the
// window's open sequence: open, readState, applyState; a failed step leaves the port open
// for the caller to close. Every call but readChunk belongs to the thread that opened the
// port; readChunk may run on one other thread at the same time, and purge and close wake
// it up.
class SerialPort
{
public:
    virtual ~SerialPort() = default;

    virtual SerialStatus open(const QString& devicePath) = 0;
    virtual SerialStatus readState() = 0;
    // Applies the line settings and leaves DTR and RTS cleared.
    virtual SerialStatus applyState(const ComSettings& settings) = 0;

    // Reads up to capacity bytes. Returns as soon as at least one byte is there, or 0 when
    // nothing arrived within 4 + read time-out milliseconds (or purge woke the read); -1
    // when the read failed or the port is closed or being closed.
    int readChunk(std::uint8_t* buffer, std::size_t capacity)
    {
        return readChunkWithin(buffer, capacity, 4 + readTimeoutMs());
    }
    // The same with a wait of its own instead of the read time-out.
    virtual int readChunkWithin(std::uint8_t* buffer, std::size_t capacity,
                                std::uint32_t waitMs) = 0;

    // Writes the bytes in order, in as few system calls as the device allows. Returns how
    // many went out: fewer than count when the port is closed, the write failed, or the
    // device took nothing for a while; the rest of the bytes are then given up.
    virtual std::size_t writeBytes(const std::uint8_t* bytes, std::size_t count) = 0;
    // Writes what the device takes now, in order, without waiting; returns how many went.
    virtual std::size_t writeAvailable(const std::uint8_t* bytes, std::size_t count) = 0;
    // A descriptor that polls writable when the device takes more bytes, so a writer can wait
    // for it rather than try again on a timer; -1 when there is none.
    virtual int writeReadyDescriptor() const { return -1; }
    // The input lines may be reported some time after the open (a network server tells them
    // when it likes), so a modemStatus() without lines is not final.
    virtual bool modemLinesMayAppear() const { return false; }
    // One byte, as the device takes it. False when the byte was not written.
    bool writeByte(std::uint8_t byte) { return writeBytes(&byte, 1) == 1; }

    // Discards both queues of the device and ends a pending read.
    virtual void purge() = 0;

    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Another thread gives up an open under way: it fails soon, and the port stays closed.
    // The port is not opened again afterwards.
    virtual void cancelOpen() { close(); }

    // The read time-out set by the last applyState, in milliseconds.
    virtual std::uint32_t readTimeoutMs() const = 0;

    // Asserts or clears an output line. A device without modem lines takes it as done.
    virtual SerialStatus setModemLine(ModemLine line, bool on) = 0;
    // Starts or ends a break (the line held at space). The caller times it.
    virtual SerialStatus setBreak(bool on) = 0;
    // The input lines as they are now; cheap enough to be asked many times a second.
    virtual ModemStatus modemStatus() = 0;
    // A read found the device gone (hung up or removed): no read on this opening will succeed
    // again. Any thread may ask.
    virtual bool deviceLost() const { return false; }
    // Why the port let the device go itself (a server dropped for not reading what was sent);
    // empty when the device simply went away.
    virtual QString dropReason() const { return {}; }
};

} // namespace kirt
