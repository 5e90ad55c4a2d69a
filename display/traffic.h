#pragma once

#include <QString>

#include <cstdint>

namespace kirt {

// " Display Traffic : n%": the share of the bytes stored since the buffer last ran empty
// that still wait to be displayed; a backlog of nine or fewer shows 0%.
QString TrafficCaption(std::uint32_t written, std::uint32_t backlog);

} // namespace kirt
