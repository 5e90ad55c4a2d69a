#pragma once

#include <array>
#include <cstdint>

namespace kirt {

// Rows the display may hold, by the index of the line-limit box; "Default" is 27.
inline constexpr std::array<std::uint32_t, 16> LineLimitTable{
    27, 50, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 2000, 3000, 4000, 5000};

// The line limit that follows the display's height while it has no scroll bar.
inline std::uint32_t LineLimitForHeight(int heightPx)
{
    const int rows = heightPx * 28 / 456 - 1;
    return static_cast<std::uint32_t>(rows < 1 ? 1 : rows);
}

} // namespace kirt
