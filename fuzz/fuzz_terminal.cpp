// A board's output, arbitrary, on the terminal: nothing crashes or grows without bound, the
// cursor stays on the screen, the scroll-back within its limit, and the text read back fits
// the lines kept. The first bytes choose the encoding, the size and how the reads are cut.
#include "terminal/terminalemulator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The failing line is printed, since the checks are inlined out of the stack trace.
void check(bool condition, int line = __builtin_LINE())
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_terminal: check on line %d failed\n", line);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::uint8_t mode = data[0];
    const std::uint8_t cut = data[1];
    const int rows = 1 + data[2] % 30;
    const int cols = 1 + (data[2] * 7) % 100;
    data += 3;
    size -= 3;

    kirt::TerminalEmulator t(rows, cols);
    t.setScrollbackLimit(64);
    t.setUtf8((mode & 1) == 0);
    std::size_t at = 0;
    for (int read = 0; at < size; ++read) {
        const std::size_t count =
            cut == 0 ? size - at
                     : std::min<std::size_t>(size - at,
                                             static_cast<std::size_t>((cut * (read + 1)) % 97 + 1));
        t.feed(data + at, count);
        at += count;
        // Now and then the window changes the size, as Fit does.
        if ((mode & 2) && read % 64 == 7)
            t.resize(1 + (rows + read) % 30, 1 + (cols * 3 + read) % 100);
        check(t.takeAnswers().size() < 1 << 20);
    }
    check(t.cursorRow() >= 0 && t.cursorRow() < t.rows());
    check(t.cursorCol() >= 0 && t.cursorCol() < t.cols());
    check(t.scrollbackCount() <= 64);
    const kirt::TerminalText all = t.searchableText();
    check(static_cast<std::size_t>(all.text.size()) == all.places.size());
    check(all.text.size() <= 2 * (t.endLine() - t.firstLine()) * (std::max(t.cols(), 100) + 1));
    check(std::is_sorted(all.places.begin(), all.places.end()));
    if (mode & 4) {
        t.clear();
        check(t.allText().isEmpty() || t.allText().trimmed().isEmpty());
    }
    return 0;
}
