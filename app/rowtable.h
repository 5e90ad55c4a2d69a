#pragma once

#include <array>
#include <cstddef>

namespace kirt {

// Rows that repeat on the window's boards, numbered from 1 as the controls are.
template <typename Row, int Count> class RowTable
{
public:
    Row& row(int n) { return m_rows.at(static_cast<std::size_t>(n - 1)); }
    const Row& row(int n) const { return m_rows.at(static_cast<std::size_t>(n - 1)); }
    auto begin() { return m_rows.begin(); }
    auto end() { return m_rows.end(); }

private:
    std::array<Row, Count> m_rows{};
};

} // namespace kirt
