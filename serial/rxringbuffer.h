#pragma once

#include <array>
#include <cstdint>

namespace kirt {

// The receive ring buffer. Received chunks are stored by the main thread; the display takes
// the bytes out one at a time. When it holds 40960 unread bytes it is full, and it stays
// full, dropping everything that arrives, until the display has taken every stored byte.
class RxRingBuffer
{
public:
    static constexpr std::uint32_t Size = 40960;

    struct StoreResult
    {
        std::uint32_t stored = 0;   // bytes of the chunk that went into the buffer
        bool showFullPanel = false; // a chunk arrived while full: show " Rx Memory Full"
    };

    struct TakeResult
    {
        std::uint8_t byte = 0;
        bool taken = false;         // false when nothing was pending (byte is then 0)
        bool pause = false;         // taken while full: the caller waits 1 ms
        bool hideFullPanel = false; // the buffer was read empty: hide " Rx Memory Full"
    };

    struct SpanResult
    {
        const std::uint8_t* bytes = nullptr; // valid until the next store or clear
        std::uint32_t count = 0;
        bool hideFullPanel = false; // the buffer was read empty
    };

    StoreResult StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count);
    TakeResult TakeRxByte();
    // Takes up to max unread bytes that lie one after another in the buffer, leaving it as that
    // many TakeRxByte calls would. Nothing while the buffer is full: a full buffer is read a
    // byte at a time, with its pause.
    SpanResult TakeRxSpan(std::uint32_t max);

    bool pending() const { return m_full || m_writeIndex != m_readIndex; }
    // Bytes written in the current round: the write index, plus a whole buffer once wrapped.
    std::uint32_t written() const { return m_writeIndex + (m_wrapped ? Size : 0); }
    std::uint32_t backlog() const { return written() - m_readIndex; }

    // Both indices to 0, both flags cleared.
    void clear();

    std::uint32_t RxWriteIndex() const { return m_writeIndex; }
    std::uint32_t RxReadIndex() const { return m_readIndex; }
    bool RxWrapped() const { return m_wrapped; }
    bool RxFull() const { return m_full; }
    std::uint8_t slot(std::uint32_t index) const { return m_memory[index]; }

private:
    std::array<std::uint8_t, Size> m_memory{};
    std::uint32_t m_writeIndex = 0;
    std::uint32_t m_readIndex = 0;
    bool m_wrapped = false;
    bool m_full = false;
};

} // namespace kirt
