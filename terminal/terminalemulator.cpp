#include "terminal/terminalemulator.h"

#include <vterm.h>

#include <algorithm>

namespace kirt {

namespace {

constexpr int MaxRows = 500;
constexpr int MaxCols = 1000;
// libvterm 0.1.4 writes outside a one-column screen for a double-width character.
constexpr int MinCols = 2;

VTermColor rgbColour(std::uint32_t rgb)
{
    VTermColor colour;
    vterm_color_rgb(&colour, static_cast<std::uint8_t>(rgb >> 16),
                    static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb));
    return colour;
}

std::uint32_t packed(const VTermColor& c)
{
    return (std::uint32_t{c.rgb.red} << 16) | (std::uint32_t{c.rgb.green} << 8) | c.rgb.blue;
}

bool blank(const TerminalCell& c)
{
    return (c.ch == 0 || c.ch == U' ') && c.bg == TerminalCell::DefaultColour && !c.reverse &&
           !c.underline;
}

} // namespace

struct TerminalEmulator::Callbacks
{
    static TerminalEmulator* self(void* user) { return static_cast<TerminalEmulator*>(user); }

    static int damage(VTermRect r, void* user)
    {
        self(user)->damaged(r.start_row, r.end_row, r.start_col, r.end_col);
        return 1;
    }
    static int moverect(VTermRect dest, VTermRect src, void* user)
    {
        TerminalEmulator* t = self(user);
        t->moved(dest.start_row, src.start_row, dest.end_row - dest.start_row,
                 dest.start_col == 0 && dest.end_col == t->m_cols);
        return 1;
    }
    static int movecursor(VTermPos, VTermPos, int, void* user)
    {
        ++self(user)->m_generation;
        return 1;
    }
    static int settermprop(VTermProp prop, VTermValue* value, void* user)
    {
        TerminalEmulator* t = self(user);
        ++t->m_generation;
        if (prop == VTERM_PROP_CURSORVISIBLE) {
            t->m_cursorVisible = value->boolean != 0;
        } else if (prop == VTERM_PROP_ALTSCREEN) {
            t->m_altScreen = value->boolean != 0;
            if (t->m_altScreen)
                t->m_altMarks.assign(static_cast<std::size_t>(t->m_rows), false);
        }
        return 1;
    }
    static int bell(void*) { return 1; }
    static int resize(int, int, void*) { return 1; }
    static int pushline(int cols, const VTermScreenCell* cells, void* user)
    {
        self(user)->pushLine(cols, cells);
        return 1;
    }
    static int popline(int cols, VTermScreenCell* cells, void* user)
    {
        return self(user)->popLine(cols, cells);
    }
    static void output(const char* bytes, std::size_t count, void* user)
    {
        self(user)->m_output.append(bytes, static_cast<qsizetype>(count));
    }

    static constexpr VTermScreenCallbacks screen{damage, moverect, movecursor, settermprop,
                                                 bell,   resize,   pushline,   popline};
};

TerminalEmulator::TerminalEmulator(int rows, int cols)
    : m_rows(std::clamp(rows, 1, MaxRows)), m_cols(std::clamp(cols, MinCols, MaxCols))
{
    m_marks.assign(static_cast<std::size_t>(m_rows), false);
    m_altMarks = m_marks;
    m_vt = vterm_new(m_rows, m_cols);
    vterm_set_utf8(m_vt, 1);
    vterm_output_set_callback(m_vt, &Callbacks::output, this);
    m_state = vterm_obtain_state(m_vt);
    m_screen = vterm_obtain_screen(m_vt);
    vterm_screen_enable_altscreen(m_screen, 1);
    vterm_screen_set_callbacks(m_screen, &Callbacks::screen, this);
    // Every glyph reported as it is written: the wrap marks are read from their order.
    vterm_screen_set_damage_merge(m_screen, VTERM_DAMAGE_CELL);
    vterm_state_set_bold_highbright(m_state, 1);
    vterm_screen_reset(m_screen, 1);
    // libvterm 0.1.4 repeats the last glyph for CSI b (REP) by its width, which is 0 until one
    // was written: a REP or a combining mark before any text would loop for ever. A blank
    // written and returned over gives it a width, and leaves the screen as it was.
    vterm_input_write(m_vt, " \r", 2);
    setDefaultColours(m_defaultFg, m_defaultBg);
}

TerminalEmulator::~TerminalEmulator()
{
    vterm_free(m_vt);
}

void TerminalEmulator::feed(const QByteArray& bytes)
{
    feed(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
         static_cast<std::size_t>(bytes.size()));
}

void TerminalEmulator::feed(const std::uint8_t* bytes, std::size_t count)
{
    m_guard.feed(bytes, count, [this](const char* run, std::size_t length, bool text) {
        m_inText = text;
        // Anything but text between two glyphs (a CR, a cursor move) means no wrap.
        if (!text)
            m_atEdge = false;
        vterm_input_write(m_vt, run, length);
    });
    m_inText = false;
    vterm_screen_flush_damage(m_screen);
}

QByteArray TerminalEmulator::takeAnswers()
{
    QByteArray answers;
    answers.swap(m_output);
    return answers;
}

void TerminalEmulator::damaged(int startRow, int endRow, int startCol, int endCol)
{
    ++m_generation;
    if (m_resizing)
        return;
    std::vector<bool>& rowMarks = marks();
    if (m_inText && endRow - startRow == 1) {
        if (startCol == 0 && m_atEdge && startRow > 0)
            rowMarks[static_cast<std::size_t>(startRow - 1)] = true;
        m_atEdge = endCol == m_cols;
        return;
    }
    // A row erased across its whole width no longer goes on in the next.
    if (!m_inText && startCol == 0 && endCol == m_cols) {
        for (int row = std::max(startRow, 0); row < std::min(endRow, m_rows); ++row)
            rowMarks[static_cast<std::size_t>(row)] = false;
    }
}

void TerminalEmulator::moved(int destRow, int srcRow, int rowCount, bool fullWidth)
{
    ++m_generation;
    if (!fullWidth || m_resizing || rowCount <= 0)
        return;
    std::vector<bool>& rowMarks = marks();
    const std::vector<bool> before = rowMarks;
    const auto at = [](int row) { return static_cast<std::size_t>(row); };
    for (int i = 0; i < rowCount; ++i)
        rowMarks[at(destRow + i)] = before[at(srcRow + i)];
    // Rows the move left are blank now.
    for (int row = srcRow; row < srcRow + rowCount; ++row) {
        if (row < destRow || row >= destRow + rowCount)
            rowMarks[at(row)] = false;
    }
}

void TerminalEmulator::toCell(const void* vtermCell, TerminalCell& out) const
{
    const auto* c = static_cast<const VTermScreenCell*>(vtermCell);
    out.ch = c->chars[0] == static_cast<std::uint32_t>(-1) ? TerminalCell::WideTail
                                                           : static_cast<char32_t>(c->chars[0]);
    out.width = static_cast<std::uint8_t>(std::max<int>(c->width, 1));
    out.bold = c->attrs.bold;
    out.underline = c->attrs.underline != 0;
    out.italic = c->attrs.italic;
    out.reverse = c->attrs.reverse;
    const auto convert = [this](VTermColor colour, bool isDefault) {
        if (isDefault)
            return TerminalCell::DefaultColour;
        vterm_screen_convert_color_to_rgb(m_screen, &colour);
        return packed(colour);
    };
    out.fg = convert(c->fg, VTERM_COLOR_IS_DEFAULT_FG(&c->fg));
    out.bg = convert(c->bg, VTERM_COLOR_IS_DEFAULT_BG(&c->bg));
}

void TerminalEmulator::fillVtermCell(const TerminalCell& in, void* vtermCell) const
{
    auto* c = static_cast<VTermScreenCell*>(vtermCell);
    *c = VTermScreenCell{};
    c->chars[0] = in.ch == TerminalCell::WideTail ? static_cast<std::uint32_t>(-1)
                                                  : static_cast<std::uint32_t>(in.ch);
    c->width = static_cast<char>(in.width);
    c->attrs.bold = in.bold;
    c->attrs.underline = in.underline ? VTERM_UNDERLINE_SINGLE : VTERM_UNDERLINE_OFF;
    c->attrs.italic = in.italic;
    c->attrs.reverse = in.reverse;
    c->fg = rgbColour(in.fg == TerminalCell::DefaultColour ? m_defaultFg : in.fg);
    if (in.fg == TerminalCell::DefaultColour)
        c->fg.type = static_cast<VTermColorType>(c->fg.type | VTERM_COLOR_DEFAULT_FG);
    c->bg = rgbColour(in.bg == TerminalCell::DefaultColour ? m_defaultBg : in.bg);
    if (in.bg == TerminalCell::DefaultColour)
        c->bg.type = static_cast<VTermColorType>(c->bg.type | VTERM_COLOR_DEFAULT_BG);
}

void TerminalEmulator::pushLine(int cols, const void* cells)
{
    ++m_generation;
    const auto* vcells = static_cast<const VTermScreenCell*>(cells);
    Line line;
    line.cells.resize(static_cast<std::size_t>(std::max(cols, 0)));
    for (std::size_t i = 0; i < line.cells.size(); ++i)
        toCell(&vcells[i], line.cells[i]);
    while (!line.cells.empty() && blank(line.cells.back()))
        line.cells.pop_back();
    line.cells.shrink_to_fit();
    // Only the main screen pushes lines; a resize pushes them from the top down.
    const std::size_t top = m_resizing ? static_cast<std::size_t>(m_resizePushed++) : 0;
    line.wraps = top < m_marks.size() && m_marks[top];
    m_scrollback.push_back(std::move(line));
    trimScrollback();
}

int TerminalEmulator::popLine(int cols, void* cells)
{
    if (m_scrollback.empty())
        return 0;
    ++m_generation;
    auto* vcells = static_cast<VTermScreenCell*>(cells);
    const Line& line = m_scrollback.back();
    for (int i = 0; i < cols; ++i) {
        const auto at = static_cast<std::size_t>(i);
        fillVtermCell(at < line.cells.size() ? line.cells[at] : TerminalCell{}, &vcells[i]);
    }
    // A wide character whose second half a narrower screen cuts off: libvterm 0.1.4 reads past
    // the row for it, so it goes as a blank.
    if (cols > 0 && vcells[cols - 1].width > 1)
        fillVtermCell(TerminalCell{}, &vcells[cols - 1]);
    m_resizePopped.push_back(line.wraps);
    m_scrollback.pop_back();
    return 1;
}

void TerminalEmulator::trimScrollback()
{
    while (static_cast<int>(m_scrollback.size()) > m_scrollbackLimit) {
        m_scrollback.pop_front();
        ++m_dropped;
    }
}

void TerminalEmulator::setScrollbackLimit(int lines)
{
    m_scrollbackLimit = std::max(lines, 0);
    trimScrollback();
    ++m_generation;
}

void TerminalEmulator::resize(int rows, int cols)
{
    rows = std::clamp(rows, 1, MaxRows);
    cols = std::clamp(cols, MinCols, MaxCols);
    if (rows == m_rows && cols == m_cols)
        return;
    m_resizing = true;
    m_resizePushed = 0;
    m_resizePopped.clear();
    vterm_set_size(m_vt, rows, cols);
    m_rows = rows;
    m_cols = cols;
    // Lines pulled back from the scroll-back sit above the rows that stayed, the last pulled
    // on top; lines pushed came off the top.
    std::vector<bool> marks(m_resizePopped.rbegin(), m_resizePopped.rend());
    const auto kept = std::min(static_cast<std::size_t>(m_resizePushed), m_marks.size());
    marks.insert(marks.end(), m_marks.begin() + static_cast<std::ptrdiff_t>(kept), m_marks.end());
    marks.resize(static_cast<std::size_t>(rows), false);
    m_marks = std::move(marks);
    m_altMarks.resize(static_cast<std::size_t>(rows), false);
    m_resizing = false;
    // libvterm 0.1.4 moves the cursor up with the lines a shrink pushes out, even off the
    // screen: it goes back on, at the nearest row. CAN ends a sequence the move would break.
    // Its scroll region stays as it was, past a smaller screen, where a scroll moves a negative
    // length: the region is reset, as xterm does on a resize, and the cursor put back.
    VTermPos cursor;
    vterm_state_get_cursorpos(m_state, &cursor);
    const QByteArray move = QByteArrayLiteral("\x18\x1b[r\x1b[") +
                            QByteArray::number(std::clamp(cursor.row, 0, rows - 1) + 1) + ';' +
                            QByteArray::number(std::clamp(cursor.col, 0, cols - 1) + 1) + 'H';
    m_guard.reset();
    vterm_input_write(m_vt, move.constData(), static_cast<std::size_t>(move.size()));
    vterm_screen_flush_damage(m_screen);
    ++m_generation;
}

void TerminalEmulator::setUtf8(bool utf8)
{
    m_utf8 = utf8;
    m_guard.setUtf8(utf8);
}

void TerminalEmulator::setDefaultColours(std::uint32_t fg, std::uint32_t bg)
{
    m_defaultFg = fg & 0xffffff;
    m_defaultBg = bg & 0xffffff;
    const VTermColor vfg = rgbColour(m_defaultFg);
    const VTermColor vbg = rgbColour(m_defaultBg);
    vterm_state_set_default_colors(m_state, &vfg, &vbg);
    ++m_generation;
}

void TerminalEmulator::clear()
{
    m_dropped += static_cast<std::int64_t>(m_scrollback.size());
    m_scrollback.clear();
    // The board's modes stay: only what is shown goes. CAN ends whatever sequence was open.
    m_guard.reset();
    static constexpr char Erase[] = "\x18\x1b[H\x1b[2J";
    m_inText = false;
    vterm_input_write(m_vt, Erase, sizeof Erase - 1);
    vterm_screen_flush_damage(m_screen);
    std::fill(m_marks.begin(), m_marks.end(), false);
    std::fill(m_altMarks.begin(), m_altMarks.end(), false);
    ++m_generation;
}

int TerminalEmulator::cursorRow() const
{
    VTermPos pos;
    vterm_state_get_cursorpos(m_state, &pos);
    return pos.row;
}

int TerminalEmulator::cursorCol() const
{
    VTermPos pos;
    vterm_state_get_cursorpos(m_state, &pos);
    return std::min(pos.col, m_cols - 1);
}

TerminalCell TerminalEmulator::cell(int row, int col) const
{
    TerminalCell out;
    VTermScreenCell c;
    if (vterm_screen_get_cell(m_screen, VTermPos{row, col}, &c))
        toCell(&c, out);
    return out;
}

void TerminalEmulator::lineCells(std::int64_t line, std::vector<TerminalCell>& out) const
{
    out.clear();
    if (line < m_dropped || line >= endLine())
        return;
    if (line < screenTop()) {
        out = m_scrollback[static_cast<std::size_t>(line - m_dropped)].cells;
        return;
    }
    const int row = static_cast<int>(line - screenTop());
    out.resize(static_cast<std::size_t>(m_cols));
    VTermScreenCell c;
    for (int col = 0; col < m_cols; ++col) {
        if (vterm_screen_get_cell(m_screen, VTermPos{row, col}, &c))
            toCell(&c, out[static_cast<std::size_t>(col)]);
    }
}

bool TerminalEmulator::lineWraps(std::int64_t line) const
{
    if (line < m_dropped || line >= endLine())
        return false;
    if (line < screenTop())
        return m_scrollback[static_cast<std::size_t>(line - m_dropped)].wraps;
    return marks()[static_cast<std::size_t>(line - screenTop())];
}

} // namespace kirt
