#include "RowMark.h"

#include "logic/ValueForms.h"

#include <algorithm>

namespace tarvo::logic {

namespace {

// The duty value of a text (its leading number) written back in plain decimal: no blanks, no
// exponent, no "+" and no trailing zeros after the point. Worked on the text itself so that the
// result is always numeric, however many digits the value has.
std::string rewriteDutyValue(std::string_view text)
{
    std::string_view rest = text.substr(std::min(text.find_first_not_of(' '), text.size()));
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    const auto leadingDigits = [](std::string_view s) {
        return s.substr(0, std::min(s.find_first_not_of("0123456789"), s.size()));
    };
    std::string_view whole = leadingDigits(rest);
    std::string_view fraction;
    if (whole.size() < rest.size() && rest[whole.size()] == '.') {
        fraction = leadingDigits(rest.substr(whole.size() + 1));
    }
    while (!whole.empty() && whole.front() == '0') {
        whole.remove_prefix(1);
    }
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.remove_suffix(1);
    }

    std::string result;
    if (negative && (!whole.empty() || !fraction.empty())) {
        result += '-';
    }
    if (whole.empty()) {
        result += '0';
    } else {
        result += whole;
    }
    if (!fraction.empty()) {
        result += '.';
        result += fraction;
    }
    return result;
}

} // namespace

bool isUnmarked(std::string_view column4)
{
    return logic::isNumeric(column4);
}

char markChar(std::string_view column4)
{
    const std::string_view core = logic::trimBlanks(column4);
    return core.empty() ? '\0' : core.back();
}

std::string transition(Move move, std::string_view source)
{
    const bool numeric = isUnmarked(source);
    const char mark = markChar(source);
    switch (move) {
    case Move::Add:
        if (numeric) {
            return std::string(source) + "N";
        }
        if (mark == 'D') {
            return rewriteDutyValue(source);
        }
        if (mark == 'U') {
            return rewriteDutyValue(source) + "U";
        }
        return {};
    case Move::Remove:
        if (numeric) {
            return std::string(source) + "D";
        }
        if (mark == 'N') {
            return rewriteDutyValue(source);
        }
        if (mark == 'U') {
            return rewriteDutyValue(source) + "DU";
        }
        return {};
    case Move::FeeUpdate:
        return numeric ? std::string(source) + "U" : std::string(source);
    }
    return {};
}

Mark markOf(std::string_view column4)
{
    if (isUnmarked(column4)) {
        return Mark::None;
    }
    const std::string_view core = logic::trimBlanks(column4);
    switch (markChar(column4)) {
    case 'N':
        return Mark::New;
    case 'D':
        return Mark::Deleted;
    case 'U':
        return core.size() >= 2 && core[core.size() - 2] == 'D' ? Mark::DeletedUpdated
                                                                : Mark::Updated;
    default:
        return Mark::Unknown;
    }
}

} // namespace tarvo::logic
