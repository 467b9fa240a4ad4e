// GoogleTest names for table cases: the case's `name` with every character that is not a letter
// or a digit made an underscore.
#pragma once

#include <cctype>
#include <string>

namespace tarvo::test {

inline const auto caseName = [](const auto &info) {
    std::string name = info.param.name;
    for (char &ch : name)
        ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
};

} // namespace tarvo::test
