#include "serial/rxringbuffer.h"

#include <algorithm>

namespace kirt {

RxRingBuffer::StoreResult RxRingBuffer::StoreRxChunk(const std::uint8_t* bytes, std::uint32_t count)
{
    StoreResult result;
    // Checked before the count, so that even an empty read reports the full state.
    if (m_full) {
        result.showFullPanel = true;
        return result;
    }

    for (std::uint32_t i = 0; i < count; ++i) {
        if (!m_wrapped && m_writeIndex == Size) {
            if (m_readIndex == 0) {
                // The panel appears with the next chunk that arrives.
                m_full = true;
                return result;
            }
            m_writeIndex = 0;
            m_wrapped = true;
        }

        m_memory[m_writeIndex] = bytes[i];
        ++result.stored;
        if (!m_wrapped || m_writeIndex < m_readIndex)
            ++m_writeIndex;

        if (m_wrapped && m_writeIndex == m_readIndex) {
            m_full = true;
            return result;
        }
    }
    return result;
}

RxRingBuffer::TakeResult RxRingBuffer::TakeRxByte()
{
    TakeResult result;
    if (!pending())
        return result;

    result.byte = m_memory[m_readIndex];
    result.taken = true;
    ++m_readIndex;
    result.pause = m_full;

    if (!m_wrapped && m_writeIndex == m_readIndex) {
        m_writeIndex = 0;
        m_readIndex = 0;
        m_full = false;
        result.hideFullPanel = true;
        return result;
    }
    if (m_wrapped && m_readIndex == Size) {
        m_readIndex = 0;
        m_wrapped = false;
    }
    return result;
}

RxRingBuffer::SpanResult RxRingBuffer::TakeRxSpan(std::uint32_t max)
{
    SpanResult result;
    if (m_full || !pending() || max == 0)
        return result;
    const std::uint32_t end = m_wrapped ? Size : m_writeIndex;
    result.count = std::min(max, end - m_readIndex);
    result.bytes = m_memory.data() + m_readIndex;
    m_readIndex += result.count;
    if (!m_wrapped && m_writeIndex == m_readIndex) {
        m_writeIndex = 0;
        m_readIndex = 0;
        result.hideFullPanel = true;
    } else if (m_wrapped && m_readIndex == Size) {
        m_readIndex = 0;
        m_wrapped = false;
    }
    return result;
}

void RxRingBuffer::clear()
{
    m_writeIndex = 0;
    m_readIndex = 0;
    m_wrapped = false;
    m_full = false;
}

} // namespace kirt
