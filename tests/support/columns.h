#pragma once

#include <QTest>

#include <array>
#include <cstddef>

namespace kirt::test {

// A data-driven test's columns in one statement: columns<QString, int>({"text", "count"}).
template <typename... T> void columns(const std::array<const char*, sizeof...(T)>& names)
{
    std::size_t i = 0;
    (QTest::addColumn<T>(names[i++]), ...);
}

} // namespace kirt::test
