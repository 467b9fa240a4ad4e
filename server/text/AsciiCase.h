// Comparing protocol words (header names, parameter names, SQL keywords), which are ASCII.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarvo::server::text {

// ASCII letters compared without regard to case; every other byte exactly, so that no locale
// and no UTF-8 sequence ever matches a keyword.
inline bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace tarvo::server::text
