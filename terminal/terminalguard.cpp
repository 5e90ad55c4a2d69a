#include "terminal/terminalguard.h"

#include <QChar>

#include <string_view>

namespace kirt {

namespace {

// The status requests libvterm 0.1.4 answers: graphic rendition, margins, cursor style and
// protection.
bool knownRequest(std::string_view text)
{
    return text == "$qm" || text == "$qr" || text == "$qs" || text == "$q q" || text == "$q\"q";
}

} // namespace

void TerminalGuard::hold(std::uint8_t c)
{
    if (m_heldLength < MaxHeld)
        m_held[m_heldLength++] = static_cast<char>(c);
    else
        m_heldOverflow = true;
    drop();
}

void TerminalGuard::releaseHeld()
{
    if (m_dcs && !m_heldOverflow && knownRequest({m_held, m_heldLength})) {
        for (std::size_t i = 0; i < m_heldLength; ++i)
            m_prefix[i] = m_held[i];
        m_outPrefix = m_heldLength;
    }
    m_heldLength = 0;
    m_heldOverflow = false;
}

void TerminalGuard::enterString(bool dcs)
{
    m_state = State::String;
    m_stringEscape = false;
    m_dcs = dcs;
    m_heldLength = 0;
    m_heldOverflow = false;
}

void TerminalGuard::flushPending()
{
    for (std::size_t i = 0; i < m_pendingLength; ++i)
        m_prefix[m_outPrefix++] = m_pending[i];
    m_pendingLength = 0;
}

void TerminalGuard::breakPending()
{
    static constexpr char Replacement[] = "\xef\xbf\xbd";
    for (std::size_t i = 0; i < sizeof Replacement - 1; ++i)
        m_prefix[m_outPrefix++] = Replacement[i];
    m_pendingLength = 0;
    m_utf8Left = 0;
    noteGlyph(0xfffd);
}

void TerminalGuard::reset()
{
    m_pendingLength = 0;
    m_utf8Left = 0;
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

void TerminalGuard::noteText(std::uint8_t c)
{
    if (c < 0x80) {
        noteGlyph(c);
    } else if (c >= 0xc0 && c < 0xfe) {
        // The parser's decoder still takes the five- and six-byte forms.
        m_utf8Left = c >= 0xfc ? 5 : c >= 0xf8 ? 4 : c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : 1;
        m_utf8Code = c & (0x3fu >> m_utf8Left);
        m_pending[0] = static_cast<char>(c);
        m_pendingLength = 1;
        drop();
    } else if (m_utf8Left > 0) {
        m_utf8Code = (m_utf8Code << 6) | (c & 0x3fu);
        if (--m_utf8Left > 0) {
            m_pending[m_pendingLength++] = static_cast<char>(c);
            drop();
        } else if (m_pendingLength == 1 && m_utf8Code >= 0x80 && m_utf8Code < 0xa0) {
            m_pendingLength = 0;
            drop();
            ++m_rewritten;
        } else {
            flushPending();
            noteGlyph(m_utf8Code);
        }
    } else {
        m_zeroWidthRisk =
            true; // a stray continuation byte or FE, FF: whatever the parser makes of it
    }
}

void TerminalGuard::noteGlyph(char32_t ch)
{
    // Only plain visible characters are known to leave a glyph with a width.
    const QChar::Category category = QChar::category(ch);
    m_zeroWidthRisk = ch < 0x20 || ch == 0x7f || QChar::isMark(ch) ||
                      category == QChar::Other_Format || category == QChar::Other_NotAssigned ||
                      category == QChar::Other_Control || category == QChar::Other_Surrogate ||
                      category == QChar::Other_PrivateUse || (ch >= 0x1160 && ch <= 0x11ff);
}

bool TerminalGuard::stepEightBit(std::uint8_t c)
{
    // A0h..FFh are characters of the set, 80h..9Fh C1 controls.
    const bool character = c >= 0xa0;
    switch (m_state) {
    case State::String:
        if (!character && c == 0x9c && !m_stringEscape) {
            releaseHeld();
            replace('\x1b', '\\');
            m_state = State::Ground;
        } else if (!character) {
            drop();
        } else if (m_dcs) {
            m_heldOverflow = true;
            drop();
        }
        return false;
    case State::Escape:
        drop(); // the parser ignores it there and goes on waiting
        return false;
    case State::CsiLeader:
    case State::CsiParams:
    case State::CsiIntermediate:
        // Ends the sequence as invalid, for the parser too. A character's raw byte would also
        // end it there and be dropped, and the next one begin a character the guard never saw.
        m_out[0] = '\x18';
        reset();
        return false;
    case State::Ground:
        break;
    }
    if (character) {
        replace(static_cast<char>(0xc0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3f)));
        noteGlyph(c);
        return true;
    }
    replace('\x1b', static_cast<char>(c - 0x40));
    if (c == 0x9b)
        enterCsi();
    else if (c == 0x90 || c == 0x9d)
        enterString(c == 0x90);
    return false;
}

bool TerminalGuard::step(std::uint8_t c)
{
    if (!m_utf8 && c >= 0x80)
        return stepEightBit(c);
    if (m_utf8Left > 0 && (c < 0x80 || c >= 0xc0))
        breakPending();
    // These act the same in every state, as in the parser.
    if (c == 0x00 || c == 0x7f)
        return false;
    if (c == 0x18 || c == 0x1a) {
        reset();
        return false;
    }
    if (c == 0x1b) {
        if (m_state == State::String) {
            // In a DCS the ESC waits too: it may be the terminator, after the held text.
            if (m_dcs && !m_stringEscape)
                drop();
            m_stringEscape = true;
        } else {
            m_state = State::Escape;
        }
        return false;
    }
    if (m_state == State::String) {
        // Carried out inside the string, which goes on (a BEL only ends it outside an escape).
        if (c < 0x20 && (c != 0x07 || m_stringEscape)) {
            if (m_dcs && m_stringEscape) {
                // The held ESC must reach the parser first: the held text is given up.
                m_dcs = false;
                replace('\x1b', static_cast<char>(c));
            }
            return false;
        }
        if (m_stringEscape) {
            m_stringEscape = false;
            if (c == '\\') {
                releaseHeld();
                if (m_dcs)
                    replace('\x1b', '\\');
                m_state = State::Ground;
                return false;
            }
            // Any other byte after ESC ends the string unfinished and is read as an escape's.
            if (m_dcs)
                replace('\x1b', static_cast<char>(c));
            m_state = State::Escape;
        } else if (c == 0x07) {
            releaseHeld();
            m_state = State::Ground;
            return false;
        } else {
            if (m_dcs)
                hold(c);
            return false;
        }
    }
    if (c < 0x20) // C0 controls are carried out inside a sequence without leaving it
        return false;

    switch (m_state) {
    case State::Ground:
        noteText(c);
        return true;
    case State::Escape:
        if (c == '[') {
            enterCsi();
        } else if (c == 'P' || c == ']') {
            enterString(c == 'P');
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
            // Leading zeros do not count: "ESC[0000000004;0001H" is a real board's output.
            if (c != '0' || m_digits > 0)
                ++m_digits;
            if (m_separators >= MaxParameters || m_digits > MaxDigits) {
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
        if (c == 'b' && m_zeroWidthRisk) {
            m_out[0] = '~';
            ++m_rewritten;
        }
        m_state = State::Ground;
        return false;
    case State::String:
        break;
    }
    return false;
}

} // namespace kirt
