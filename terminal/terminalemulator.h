#pragma once

#include "terminal/terminalguard.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

struct VTerm;
struct VTermScreen;
struct VTermState;

namespace kirt {

// One character cell as it is drawn.
struct TerminalCell
{
    // A colour that is the terminal's default foreground or background, not a value of its own.
    static constexpr std::uint32_t DefaultColour = 0xff000000u;

    char32_t ch = 0;                  // 0: blank; a wide character's right half is WideTail
    std::uint32_t fg = DefaultColour; // 0xRRGGBB or DefaultColour
    std::uint32_t bg = DefaultColour;
    std::uint8_t width = 1;
    bool bold = false;
    bool underline = false;
    bool italic = false;
    bool reverse = false;

    static constexpr char32_t WideTail = 0xffffffffu;

    bool sameLook(const TerminalCell& o) const
    {
        return fg == o.fg && bg == o.bg && bold == o.bold && underline == o.underline &&
               italic == o.italic && reverse == o.reverse;
    }
};

// A place in scroll-back + screen. Lines are numbered from the first line the terminal ever
// kept, so a place stays the same while new lines push the oldest out.
struct TerminalPos
{
    std::int64_t line = 0;
    int col = 0;

    friend auto operator<=>(const TerminalPos&, const TerminalPos&) = default;
};

// The settings of the terminal that the window stores.
struct TerminalOptions
{
    enum class Encoding { Utf8, EightBit };
    enum class Enter { Cr, Lf, CrLf };
    enum class Backspace { Del, Bs };

    static constexpr int DefaultScrollback = 10000;

    Encoding encoding = Encoding::Utf8;
    Enter enter = Enter::Cr;
    Backspace backspace = Backspace::Del;
    bool localEcho = false;
    int scrollbackLines = DefaultScrollback;

    friend bool operator==(const TerminalOptions&, const TerminalOptions&) = default;
};

// The text of scroll-back + screen, lines joined where they only wrapped, with the place of
// every character, for copying and finding.
struct TerminalText
{
    QString text;
    std::vector<TerminalPos> places; // one per character of text; a line break has its line's end

    // The first character at or after a place (text.size() past the end).
    qsizetype offsetOf(TerminalPos pos) const;
};

// A terminal on libvterm: bytes in, a screen of cells, a scroll-back and the bytes its keys
// and answers send. The bytes pass a guard first (see TerminalGuard). libvterm 0.1.4 keeps no
// mark of a line that wrapped, so the marks are kept here: a glyph written at the left edge by
// plain text right after one that filled the right edge is a wrap.
class TerminalEmulator
{
public:
    static constexpr int DefaultRows = 24;
    static constexpr int DefaultCols = 80;

    TerminalEmulator(int rows = DefaultRows, int cols = DefaultCols);
    ~TerminalEmulator();
    TerminalEmulator(const TerminalEmulator&) = delete;
    TerminalEmulator& operator=(const TerminalEmulator&) = delete;

    void feed(const std::uint8_t* bytes, std::size_t count);
    void feed(const QByteArray& bytes);
    // What the terminal answered to the board (status reports, identification) since the last
    // call; the window sends it.
    QByteArray takeAnswers();

    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    void resize(int rows, int cols);

    bool utf8() const { return m_utf8; }
    void setUtf8(bool utf8);
    void setDefaultColours(std::uint32_t fg, std::uint32_t bg);
    std::uint32_t defaultForeground() const { return m_defaultFg; }
    std::uint32_t defaultBackground() const { return m_defaultBg; }

    int scrollbackLimit() const { return m_scrollbackLimit; }
    void setScrollbackLimit(int lines);
    // Drops scroll-back and screen, as a fresh terminal.
    void clear();

    // Changes with everything that alters what is shown.
    std::uint64_t generation() const { return m_generation; }

    // Lines: firstLine() .. endLine()-1; the last rows() of them are the screen.
    std::int64_t firstLine() const { return m_dropped; }
    std::int64_t endLine() const { return screenTop() + m_rows; }
    std::int64_t screenTop() const
    {
        return m_dropped + static_cast<std::int64_t>(m_scrollback.size());
    }
    int scrollbackCount() const { return static_cast<int>(m_scrollback.size()); }
    // Cells of a line, exactly cols() of them on the screen and up to the width it had in the
    // scroll-back (trailing blanks dropped). Empty for a line not kept.
    void lineCells(std::int64_t line, std::vector<TerminalCell>& out) const;
    TerminalCell cell(int row, int col) const;
    // The line goes on in the next one: it only wrapped.
    bool lineWraps(std::int64_t line) const;

    // Cursor on the screen (row, col) and whether the board shows it.
    int cursorRow() const;
    int cursorCol() const;
    bool cursorVisible() const { return m_cursorVisible; }
    bool altScreen() const { return m_altScreen; }

    // The text from..to (to excluded), wrapped lines joined, trailing blanks dropped.
    QString text(TerminalPos from, TerminalPos to) const;
    QString allText() const { return text({firstLine(), 0}, {endLine(), 0}); }
    TerminalText searchableText() const { return linesText(firstLine(), endLine()); }
    // The same for the lines first..end-1 alone.
    TerminalText linesText(std::int64_t first, std::int64_t end) const;
    // The next match of query at or after from, or the one before from (backward), round the
    // end; the match's start and end places.
    std::optional<std::pair<TerminalPos, TerminalPos>>
    find(const QString& query, Qt::CaseSensitivity cs, TerminalPos from, bool backward) const;

    // The bytes a key sends with the board's modes and the options. key is a Qt::Key;
    // modifiers a Qt::KeyboardModifiers. Empty for a key that sends nothing.
    QByteArray keyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                        const TerminalOptions& options);
    // Pasted text: line breaks as Enter sends them, bracketed when the board asked for it.
    QByteArray pasteBytes(const QString& text, const TerminalOptions& options);

    // libvterm's callbacks.
    struct Callbacks;

private:
    struct Line
    {
        std::vector<TerminalCell> cells;
        bool wraps = false;
    };

    void toCell(const void* vtermCell, TerminalCell& out) const;
    void fillVtermCell(const TerminalCell& in, void* vtermCell) const;
    void pushLine(int cols, const void* cells);
    int popLine(int cols, void* cells);
    void damaged(int startRow, int endRow, int startCol, int endCol);
    void moved(int destRow, int srcRow, int rowCount, bool fullWidth);
    void trimScrollback();
    QByteArray encoded(const QString& text) const;
    QByteArray enterBytes(const TerminalOptions& options) const;
    std::vector<bool>& marks() { return m_altScreen ? m_altMarks : m_marks; }
    const std::vector<bool>& marks() const { return m_altScreen ? m_altMarks : m_marks; }

    VTerm* m_vt = nullptr;
    VTermScreen* m_screen = nullptr;
    VTermState* m_state = nullptr;
    TerminalGuard m_guard;
    int m_rows;
    int m_cols;
    bool m_utf8 = true;
    std::uint32_t m_defaultFg = 0x000000;
    std::uint32_t m_defaultBg = 0xffffff;
    std::deque<Line> m_scrollback;
    std::int64_t m_dropped = 0;
    int m_scrollbackLimit = TerminalOptions::DefaultScrollback;
    std::vector<bool> m_marks;    // per screen row: the row wraps into the next
    std::vector<bool> m_altMarks; // the same for the alternate screen
    bool m_inText = false;        // the bytes going in are plain text
    bool m_atEdge = false;        // the last glyph of plain text filled the right edge
    bool m_cursorVisible = true;
    bool m_altScreen = false;
    // While resizing, lines pushed and pulled at the top move the marks.
    bool m_resizing = false;
    int m_resizePushed = 0;
    std::vector<bool> m_resizePopped;
    std::uint64_t m_generation = 0;
    QByteArray m_output;
};

} // namespace kirt
