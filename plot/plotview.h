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

} // namespace kirt
