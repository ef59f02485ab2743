#pragma once

#include <cctype>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <string_view>

// The rows of GoogleTest tables: printed and named by their `name` text.
namespace testsupport {

// A row of a test table; tables derive their rows from it, or give their own `name` field.
struct Row
{
    const char *name;
};

inline std::ostream &operator<<(std::ostream &out, const Row &row)
{
    return out << row.name;
}

// Names a table row by its `name` text: "nameless: reserve, disk full" becomes
// "nameless_reserve_disk_full".
struct RowName
{
    template <typename Row> std::string operator()(const ::testing::TestParamInfo<Row> &info) const
    {
        std::string name;
        for (const char c : std::string_view(info.param.name)) {
            if (std::isalnum(static_cast<unsigned char>(c))) {
                name += c;
            } else if (!name.empty() && name.back() != '_') {
                name += '_';
            }
        }
        while (!name.empty() && name.back() == '_') {
            name.pop_back();
        }
        return name;
    }
};

} // namespace testsupport
