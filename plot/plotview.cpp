#include "plot/plotview.h"

#include "plot/plotstore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kirt {

void viewPoints(const PlotStore& store, int series, std::size_t from, std::size_t to, int columns,
                bool time, std::vector<PlotPoint>& out)
{
    out.clear();
    to = std::min(to, store.size());
    if (from >= to || !store.hasSeries(series))
        return;
    const std::size_t count = to - from;
    const auto width = static_cast<std::size_t>(std::max(columns, 1));
    if (count <= 2 * width) {
        for (std::size_t i = from; i < to; ++i)
            out.push_back({store.x(i, time), store.value(series, i)});
        return;
    }
    const double first = store.x(from, time);
    const double span = store.x(to - 1, time) - first;
    std::size_t begin = from;
    for (std::size_t c = 1; c <= width && begin < to; ++c) {
        // The column's samples: by number, or by time when the rate varies.
        std::size_t end = to;
        if (c < width)
            end =
                time ? store.firstAtOrAfter(
                           first + span * static_cast<double>(c) / static_cast<double>(width), true)
                     : from + count * c / width;
        end = std::clamp(end, begin, to);
        if (end == begin)
            continue;
        const PlotExtent extent = store.extent(series, begin, end);
        const double x = store.x(begin, time);
        if (extent.empty()) {
            out.push_back({x, std::numeric_limits<double>::quiet_NaN()});
        } else {
            out.push_back({x, extent.low});
            if (extent.high > extent.low)
                out.push_back({x, extent.high});
        }
        begin = end;
    }
}

PlotYRange yRangeFor(double low, double high, bool margin)
{
    if (low > high)
        std::swap(low, high);
    const double largest = std::max(std::abs(low), std::abs(high));
    double scale = 1;
    if (largest > 1e100 || (largest > 0 && largest < 1e-100)) {
        // 1e-307 at the least: a smaller power of ten is no normal double, or none at all.
        scale = std::pow(10.0, std::max(std::floor(std::log10(largest)), -307.0));
    }
    // Scaled, both are below ten (or below 1e100): their difference is finite.
    const double lower = low / scale;
    const double upper = high / scale;
    if (upper > lower) {
        const double pad = margin ? (upper - lower) / 20 : 0;
        return {lower - pad, upper + pad, scale};
    }
    const double pad = std::max(std::abs(lower) / 20, 0.5);
    return {lower - pad, upper + pad, scale};
}

} // namespace kirt
