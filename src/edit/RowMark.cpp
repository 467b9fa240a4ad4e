#include "RowMark.h"

#include "core/ValueForms.h"

#include <algorithm>

namespace tarvo::marks {

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
    std::string whole;
    std::string fraction;
    bool point = false;
    for (const char c : rest) {
        if (c >= '0' && c <= '9') {
            (point ? fraction : whole).push_back(c);
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    fraction.erase(std::min(fraction.find_last_not_of('0') + 1, fraction.size()));
    if (whole.empty()) {
        whole = "0";
    }
    std::string result;
    if (negative && (whole != "0" || !fraction.empty())) {
        result = "-";
    }
    result += whole;
    if (!fraction.empty()) {
        result += '.';
        result += fraction;
    }
    return result;
}

} // namespace

bool isUnmarked(std::string_view column4)
{
    return forms::isNumeric(column4);
}

char markChar(std::string_view column4)
{
    const std::string_view core = forms::trimBlanks(column4);
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
    const std::string_view core = forms::trimBlanks(column4);
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

} // namespace tarvo::marks
