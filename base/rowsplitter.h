#pragma once

#include <QChar>
#include <QtGlobal>

#include <algorithm>
#include <cstring>

namespace kirt {

// The display's rows. CR, LF and CR LF each end a row, so an empty line is a row; a line
// longer than `columns` goes on in a further row, and the row it leaves is marked as wrapped.
// Rows wrap as a text edit's word wrap does: at a blank, the word that does not fit moving to
// the next row, and anywhere only inside a word longer than a row; blanks at the edge stay at
// the end of their row. A full row wraps only when a character follows it: a break right
// after it ends that row and adds no empty one. Text comes in pieces of any size (a CR at the end
// of one piece and an LF at the start of the next are one break), so the same rule serves the
// display as data arrive and a file read a chunk at a time.
class RowSplitter
{
public:
    enum class End {
        Open, // the row goes on with the next text
        Line, // a line break ended the row
        Wrap, // the row was full and text follows: a new row starts, the full one wrapped
    };

    struct Piece
    {
        qsizetype length = 0;   // characters of the row, from the start of the text given
        qsizetype consumed = 0; // those and the line break that ended the row
        End end = End::Open;
        // With Wrap: how many characters at the end of the full row move to the new one (the
        // start of a word that did not fit).
        qsizetype carried = 0;
    };

    explicit RowSplitter(int columns = 80) { setColumns(columns); }

    void setColumns(int columns) { m_columns = std::max(columns, 1); }
    // Off: rows are cut at the row width whatever the characters (pieces of a line on a wire).
    void setWordWrap(bool on) { m_wordWrap = on; }
    int columns() const { return static_cast<int>(m_columns); }

    // Characters already in the row being filled (a row carried on from earlier text).
    qsizetype rowLength() const { return m_used; }
    // A CR ended the last row: an LF that comes next belongs to it.
    bool afterCr() const { return m_pendingCr; }
    // Carries on a row of this many characters, read as one word.
    void setRowLength(qsizetype length) { m_used = m_word = std::max<qsizetype>(length, 0); }
    // Carries on the row that holds this text.
    template <typename Char> void resumeRow(const Char* row, qsizetype size)
    {
        m_used = std::max<qsizetype>(size, 0);
        m_word = 0;
        while (m_word < m_used && !isBlank(unit(row[m_used - m_word - 1])))
            ++m_word;
    }

    // Ends the row where it stands; an LF that follows is a break of its own.
    void endRow()
    {
        m_used = m_word = 0;
        m_pendingCr = false;
    }

    // The next piece of a text of `size` > 0 characters (char or QChar).
    template <typename Char> Piece next(const Char* text, qsizetype size);

    static bool isBreak(char16_t c) { return c == u'\r' || c == u'\n'; }
    static bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

    // The rows a line of `length` characters without blanks takes, its line break aside.
    static qint64 rowsOfLine(qint64 length, int columns)
    {
        const qint64 width = std::max(columns, 1);
        return std::max<qint64>(1, (length + width - 1) / width);
    }

private:
    static char16_t unit(char c) { return static_cast<unsigned char>(c); }
    static char16_t unit(QChar c) { return c.unicode(); }

    // The first CR or LF among the first `size` characters, or -1.
    static qsizetype findBreak(const char* text, qsizetype size)
    {
        const auto n = static_cast<std::size_t>(size);
        const void* lf = std::memchr(text, '\n', n);
        const void* cr = std::memchr(text, '\r', n);
        const char* hit = static_cast<const char*>(lf);
        if (!hit || (cr && static_cast<const char*>(cr) < hit))
            hit = static_cast<const char*>(cr);
        return hit ? hit - text : -1;
    }
    static qsizetype findBreak(const QChar* text, qsizetype size)
    {
        for (qsizetype i = 0; i < size; ++i)
            if (isBreak(text[i].unicode()))
                return i;
        return -1;
    }

    qsizetype m_columns = 80;
    qsizetype m_used = 0;
    qsizetype m_word = 0; // the characters of the row after its last blank
    bool m_wordWrap = true;
    bool m_pendingCr = false; // a CR ended the last row; an LF right after it belongs to it
};

template <typename Char> RowSplitter::Piece RowSplitter::next(const Char* text, qsizetype size)
{
    if (m_pendingCr) {
        m_pendingCr = false;
        if (unit(text[0]) == u'\n')
            return {0, 1, End::Open, 0};
    }
    const qsizetype span = std::min(std::max<qsizetype>(m_columns - m_used, 0), size);
    qsizetype at = findBreak(text, span);
    if (at < 0 && span < size && isBreak(unit(text[span])))
        at = span;
    if (at >= 0) {
        m_pendingCr = unit(text[at]) == u'\r';
        m_used = m_word = 0;
        return {at, at + 1, End::Line, 0};
    }
    if (m_wordWrap) {
        qsizetype word = 0;
        while (word < span && !isBlank(unit(text[span - word - 1])))
            ++word;
        m_word = word < span ? word : m_word + span;
    }
    m_used += span;
    if (m_wordWrap && span < size && isBlank(unit(text[span]))) {
        // Blanks at the edge stay in the row they end, as a text edit lets them hang.
        qsizetype taken = span;
        while (taken < size && isBlank(unit(text[taken])))
            ++taken;
        m_used += taken - span;
        m_word = 0;
        return {taken, taken, End::Open, 0};
    }
    if (span > 0)
        return {span, span, End::Open, 0};
    // The row is full and a character of a word follows: the word's start moves down, unless
    // the word fills the row itself.
    const qsizetype carried = m_wordWrap && m_word < m_used ? m_word : 0;
    m_used = m_word = carried;
    return {0, 0, End::Wrap, carried};
}

} // namespace kirt
