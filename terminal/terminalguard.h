#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kirt {

// Sits in front of libvterm's parser and follows the same states, so that what reaches the
// parser cannot hurt it: a control sequence keeps at most MaxParameters parameters (libvterm
// 0.1.4 stores 16 and writes past them on the 17th) and each parameter at most MaxDigits
// significant digits. It also splits the bytes into runs of printable text and the rest,
// since the caller needs to know which glyphs were written by plain text (where a line wraps).
//
// libvterm 0.1.4 also reads past its arguments when a status request (DCS $ q) names a
// setting it does not know, so the text of a DCS is held until its end and passed on only when
// it is a request libvterm answers.
//
// libvterm always reads UTF-8 here: its 8-bit mode maps 0xA0..0xFF through a 94-character
// set, not as ISO-8859-1. In the 8-bit set the guard therefore turns a character 0xA0..0xFF
// into its UTF-8 form and a C1 control into its ESC form.
class TerminalGuard
{
public:
    static constexpr int MaxParameters = 16;
    static constexpr int MaxDigits = 5;
    static constexpr std::size_t MaxHeld = 8;

    // Bytes 80h..9Fh are C1 controls only in the 8-bit set; in UTF-8 they are part of text.
    void setUtf8(bool utf8)
    {
        m_utf8 = utf8;
        m_pendingLength = 0;
        m_utf8Left = 0;
    }
    void reset();

    // Rewrites bytes into runs; sink(run, length, isText) is called for each, in order.
    template <typename Sink> void feed(const std::uint8_t* bytes, std::size_t count, Sink&& sink)
    {
        m_run.clear();
        for (std::size_t i = 0; i < count; ++i) {
            m_out[0] = static_cast<char>(bytes[i]);
            m_outLength = 1;
            m_outPrefix = 0;
            const bool text = step(bytes[i]);
            if (m_outLength == 0 && m_outPrefix == 0)
                continue;
            if (text != m_runIsText && !m_run.empty()) {
                sink(m_run.data(), m_run.size(), m_runIsText);
                m_run.clear();
            }
            m_runIsText = text;
            m_run.append(m_prefix, m_outPrefix);
            m_run.append(m_out, m_outLength);
        }
        if (!m_run.empty())
            sink(m_run.data(), m_run.size(), m_runIsText);
    }

    // Sequences rewritten so far (too many parameters or digits), for tests and curiosity.
    std::uint64_t rewritten() const { return m_rewritten; }

private:
    enum class State : std::uint8_t {
        Ground,
        Escape,
        CsiLeader,
        CsiParams,
        CsiIntermediate,
        String
    };

    // Advances the state over one byte; returns whether it is text. What goes to the parser
    // in its place is left in m_out (nothing when it is dropped).
    bool step(std::uint8_t c);
    bool stepEightBit(std::uint8_t c);
    // A character of text going to the parser: whether the glyph it leaves may be of width 0.
    void noteText(std::uint8_t c);
    void noteGlyph(char32_t ch);
    void enterCsi();
    void enterString(bool dcs);
    void drop() { m_outLength = 0; }
    // A DCS's text, held until the string ends.
    void hold(std::uint8_t c);
    // The end of a DCS: what of its text goes before the terminator.
    void releaseHeld();
    void replace(char a, char b)
    {
        m_out[0] = a;
        m_out[1] = b;
        m_outLength = 2;
    }

    State m_state = State::Ground;
    bool m_utf8 = true;
    char m_out[2] = {};
    std::size_t m_outLength = 0;
    char m_prefix[MaxHeld + 1] = {}; // goes before m_out
    std::size_t m_outPrefix = 0;
    bool m_dcs = false; // the string is a DCS, not an OSC
    char m_held[MaxHeld] = {};
    std::size_t m_heldLength = 0;
    bool m_heldOverflow = false;
    bool m_stringEscape = false; // an ESC inside a string: ST or the start of a new sequence
    bool m_overflow = false;     // the current sequence already lost something
    int m_separators = 0;
    int m_digits = 0; // significant digits of the current parameter
    bool m_runIsText = false;
    std::string m_run;
    std::uint64_t m_rewritten = 0;
    // libvterm 0.1.4 repeats the last glyph for CSI b (REP) stepping by its width: after a
    // glyph of width 0 (a mark or a format character) it would loop for ever, so REP is then
    // turned into a sequence it ignores.
    bool m_zeroWidthRisk = false;
    char32_t m_utf8Code = 0;
    int m_utf8Left = 0;
    // A UTF-8 character is held until it is whole, so that the parser's decoder never keeps a
    // part of one: libvterm 0.1.4 keeps it across controls and completes it with what follows,
    // and gives a C1 control written in UTF-8 (C2 80 .. C2 9F) the width -1, which moves the
    // cursor left of the screen. Those are dropped as the unknown controls they are; a
    // character cut short goes on as U+FFFD, as the parser would show it.
    char m_pending[6] = {};
    std::size_t m_pendingLength = 0;
    void flushPending();
    void breakPending();
};

} // namespace kirt
