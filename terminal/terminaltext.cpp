// Reading the terminal as text: copying, selecting all and finding.
#include "terminal/terminalemulator.h"

#include <algorithm>

namespace kirt {

namespace {

// Appends the lines from..to (to excluded) as text, wrapped lines joined and trailing blanks
// of a line dropped; places, when given, gets the place of each character.
void appendText(const TerminalEmulator& t, TerminalPos from, TerminalPos to, QString& text,
                std::vector<TerminalPos>* places)
{
    from.line = std::max(from.line, t.firstLine());
    if (to.line >= t.endLine())
        to = {t.endLine(), 0};
    std::vector<TerminalCell> cells;
    for (std::int64_t line = from.line; line <= to.line && line < t.endLine(); ++line) {
        t.lineCells(line, cells);
        const int first = line == from.line ? from.col : 0;
        const int last = line == to.line ? std::min<int>(to.col, static_cast<int>(cells.size()))
                                         : static_cast<int>(cells.size());
        const qsizetype lineStart = text.size();
        qsizetype kept = text.size(); // the text up to the last character that is not blank
        for (int col = std::max(first, 0); col < last; ++col) {
            const char32_t ch = cells[static_cast<std::size_t>(col)].ch;
            if (ch == TerminalCell::WideTail)
                continue;
            const char32_t shown = ch == 0 ? U' ' : ch;
            const qsizetype before = text.size();
            text += QString::fromUcs4(&shown, 1);
            if (places) {
                for (qsizetype i = before; i < text.size(); ++i)
                    places->push_back({line, col});
            }
            if (shown != U' ')
                kept = text.size();
        }
        const bool wraps = t.lineWraps(line);
        const bool more = line < to.line && (line + 1 < to.line || to.col > 0);
        if (!wraps || line == to.line) {
            text.truncate(std::max(kept, lineStart));
            if (places)
                places->resize(static_cast<std::size_t>(text.size()));
        }
        if (more && !wraps) {
            text += u'\n';
            if (places)
                places->push_back({line, std::max(last, 0)});
        }
    }
}

} // namespace

qsizetype TerminalText::offsetOf(TerminalPos pos) const
{
    return std::lower_bound(places.begin(), places.end(), pos) - places.begin();
}

QString TerminalEmulator::text(TerminalPos from, TerminalPos to) const
{
    QString out;
    if (to <= from)
        return out;
    appendText(*this, from, to, out, nullptr);
    // The blank rows of the screen below the last output are not part of it.
    while (out.endsWith(u'\n'))
        out.chop(1);
    return out;
}

TerminalText TerminalEmulator::linesText(std::int64_t first, std::int64_t end) const
{
    TerminalText out;
    appendText(*this, {first, 0}, {end, 0}, out.text, &out.places);
    return out;
}

std::optional<std::pair<TerminalPos, TerminalPos>> TerminalEmulator::find(const QString& query,
                                                                          Qt::CaseSensitivity cs,
                                                                          TerminalPos from,
                                                                          bool backward) const
{
    if (query.isEmpty())
        return std::nullopt;
    const TerminalText all = searchableText();
    const qsizetype at = all.offsetOf(from);
    qsizetype found = -1;
    if (!backward) {
        found = all.text.indexOf(query, at, cs);
        if (found < 0)
            found = all.text.indexOf(query, 0, cs);
    } else {
        found = at > 0 ? all.text.lastIndexOf(query, at - 1, cs) : -1;
        if (found < 0)
            found = all.text.lastIndexOf(query, -1, cs);
    }
    if (found < 0)
        return std::nullopt;
    const auto index = [](qsizetype i) { return static_cast<std::size_t>(i); };
    TerminalPos end = all.places[index(found + query.size() - 1)];
    ++end.col;
    return std::make_pair(all.places[index(found)], end);
}

} // namespace kirt
