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

// A data-driven test's row in one statement: row("empty", "", 0) names it and gives its values
// in the order of the columns.
template <typename... T> void row(const char* name, const T&... values)
{
    (QTest::newRow(name) << ... << values);
}

} // namespace kirt::test
