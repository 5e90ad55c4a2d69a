// A board's output, arbitrary: the parser makes the same samples and names whatever the reads
// cut, each sample has a value, names stay within the series, and no line is counted twice.
#include "plot/plotparser.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Parsed
{
    std::vector<kirt::PlotSample> samples;
    QStringList names;
    std::uint64_t skipped = 0;
};

Parsed parse(const char* bytes, std::size_t size, std::uint8_t cuts)
{
    kirt::PlotParser parser;
    Parsed out;
    const auto keep = [&out](const kirt::PlotSample& sample) { out.samples.push_back(sample); };
    std::size_t at = 0;
    for (unsigned read = 0; at < size; ++read) {
        // 0 feeds everything at once; otherwise reads of up to 63 bytes, empty ones among them
        // but never two in a row.
        const std::size_t count =
            cuts == 0 ? size - at
                      : std::min<std::size_t>(size - at, (cuts * (read + 1) + read) & 63);
        parser.feed(bytes + at, count, keep);
        at += count;
    }
    out.names = parser.names();
    out.skipped = parser.skipped();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    --size;
    const Parsed whole = parse(bytes, size, 0);
    const Parsed pieces = parse(bytes, size, data[0]);
    check(whole.names == pieces.names && whole.skipped == pieces.skipped);
    check(whole.samples.size() == pieces.samples.size());
    for (std::size_t i = 0; i < whole.samples.size(); ++i) {
        check(whole.samples[i].present == pieces.samples[i].present);
        check(whole.samples[i].values == pieces.samples[i].values);
        check(whole.samples[i].present.any());
    }
    check(whole.names.size() <= kirt::PlotSample::MaxSeries);
    const auto lines = static_cast<std::uint64_t>(std::count(bytes, bytes + size, '\n'));
    check(whole.samples.size() + whole.skipped <= lines);
    return 0;
}
