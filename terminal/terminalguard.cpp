#include "terminal/terminalguard.h"

namespace kirt {

void TerminalGuard::reset()
{
    m_state = State::Ground;
    m_stringEscape = false;
    m_overflow = false;
}

void TerminalGuard::enterCsi()
{
    m_state = State::CsiLeader;
    m_separators = 0;
    m_digits = 0;
    m_overflow = false;
}

bool TerminalGuard::stepEightBit(std::uint8_t c)
{
    if (c >= 0xa0) {
        if (m_state != State::Ground)
            return false;
        replace(static_cast<char>(0xc0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3f)));
        return true;
    }
    // A C1 control.
    switch (m_state) {
    case State::String:
        if (c == 0x9c && !m_stringEscape) {
            replace('\x1b', '\\');
            m_state = State::Ground;
        } else {
            drop();
        }
        return false;
    case State::Escape:
        drop(); // the parser ignores it there and goes on waiting
        return false;
    case State::CsiLeader:
    case State::CsiParams:
    case State::CsiIntermediate:
        // Ends the sequence as invalid, for the parser too.
        m_out[0] = '\x18';
        reset();
        return false;
    case State::Ground:
        break;
    }
    replace('\x1b', static_cast<char>(c - 0x40));
    if (c == 0x9b)
        enterCsi();
    else if (c == 0x90 || c == 0x9d)
        m_state = State::String;
    return false;
}

bool TerminalGuard::step(std::uint8_t c)
{
    if (!m_utf8 && c >= 0x80)
        return stepEightBit(c);
    // These act the same in every state, as in the parser.
    if (c == 0x00 || c == 0x7f)
        return false;
    if (c == 0x18 || c == 0x1a) {
        reset();
        return false;
    }
    if (c == 0x1b) {
        if (m_state == State::String)
            m_stringEscape = true;
        else
            m_state = State::Escape;
        return false;
    }
    if (m_state == State::String) {
        if (m_stringEscape) {
            m_stringEscape = false;
            if (c == '\\') {
                m_state = State::Ground;
                return false;
            }
            // Any other byte after ESC leaves the string and is read as an escape's.
            m_state = State::Escape;
        } else {
            if (c == 0x07)
                m_state = State::Ground;
            return false;
        }
    }
    if (c < 0x20) // C0 controls are carried out inside a sequence without leaving it
        return false;

    switch (m_state) {
    case State::Ground:
        return true;
    case State::Escape:
        if (c == '[') {
            enterCsi();
        } else if (c == 'P' || c == ']') {
            m_state = State::String;
            m_stringEscape = false;
        } else if (c >= 0x30 && c < 0x7f) {
            m_state = State::Ground;
        }
        // Intermediates, and bytes the parser does not expect here, leave it waiting.
        return false;
    case State::CsiLeader:
        if (c >= 0x3c && c <= 0x3f)
            return false;
        m_state = State::CsiParams;
        [[fallthrough]];
    case State::CsiParams:
        if (c >= '0' && c <= '9') {
            if (m_separators >= MaxParameters || ++m_digits > MaxDigits) {
                drop();
                if (!m_overflow)
                    ++m_rewritten;
                m_overflow = true;
            }
            return false;
        }
        if (c == ';' || c == ':') {
            m_digits = 0;
            // The parser keeps MaxParameters, that is one separator fewer.
            if (++m_separators >= MaxParameters) {
                drop();
                if (!m_overflow)
                    ++m_rewritten;
                m_overflow = true;
            }
            return false;
        }
        m_state = State::CsiIntermediate;
        [[fallthrough]];
    case State::CsiIntermediate:
        if (c >= 0x20 && c <= 0x2f)
            return false;
        // A final byte ends the sequence; anything else ends it as invalid.
        m_state = State::Ground;
        return false;
    case State::String:
        break;
    }
    return false;
}

} // namespace kirt
