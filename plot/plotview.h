#pragma once

#include <cstddef>
#include <vector>

namespace kirt {

class PlotStore;

struct PlotPoint
{
    double x;
    double y; // NaN: a gap, the line breaks there
};

// What one series draws of the kept samples [from, to) across `columns` pixel columns, in x
// order: every sample while there are few; otherwise each column's lowest and highest value, so
// a spike is never lost from the picture however many samples share a column, and a column of
// gaps a gap. x is the sample number, or seconds since the first sample with time.
void viewPoints(const PlotStore& store, int series, std::size_t from, std::size_t to, int columns,
                bool time, std::vector<PlotPoint>& out);

// A y axis showing the values from low to high, in units of scale: the values are divided by
// it before they are drawn, and a tick at t stands for t * scale. A plotting axis holds no span
// near the limits of a double (a span of 1e308 is refused, max - min may even overflow), so
// values beyond 1e100 or under 1e-100 are drawn in units of a power of ten. With margin, the
// range reaches a twentieth beyond the values; a single value gets a range around it.
struct PlotYRange
{
    double lower;
    double upper;
    double scale;
};
PlotYRange yRangeFor(double low, double high, bool margin);

} // namespace kirt
