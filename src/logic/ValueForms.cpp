#include "ValueForms.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tarvo::logic {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The span of a number at the start of a text: optional sign, then digits with at most one
// point. `end` is one past the last character taken; `digits` counts the digits taken.
struct NumberSpan
{
    std::size_t end = 0;
    std::size_t digits = 0;
    bool negative = false;
};

NumberSpan scanNumber(std::string_view text)
{
    NumberSpan span;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        span.negative = text[i] == '-';
        ++i;
    }
    bool point = false;
    for (; i < text.size(); ++i) {
        if (isDigit(text[i])) {
            ++span.digits;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    span.end = i;
    return span;
}

// Reads digits with at most one point (no sign, at least one digit) as a double, independent
// of the C locale. A magnitude beyond the double range gives infinity, one below it zero, as
// a decimal text that merely has too many digits is still a number.
// Up to 15 digits are exact in a double, and so is every power of ten they can be divided by:
// one division rounds once, correctly, giving the double nearest the decimal, as from_chars
// does. Loaded columns (ids, country ids, fees, duty flags) are all this short.
constexpr std::size_t ExactDigits = 15;
constexpr std::array<double, ExactDigits + 1> PowersOfTen = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

double parseUnsigned(std::string_view body)
{
    if (body.size() <= ExactDigits) {
        std::uint64_t digits = 0;
        std::size_t decimals = 0;
        bool point = false;
        for (const char c : body) {
            if (c == '.') {
                point = true;
                continue;
            }
            digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
            decimals += point ? 1 : 0;
        }
        return static_cast<double>(digits) / PowersOfTen[decimals];
    }
    double value = 0.0;
    const auto result =
        std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range) {
        const std::string_view whole = body.substr(0, body.find('.'));
        const bool large = whole.find_first_not_of('0') != std::string_view::npos;
        return large ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

// Reads the span found by scanNumber; a span without digits is 0.
double spanValue(std::string_view text, const NumberSpan &span)
{
    if (span.digits == 0) {
        return 0.0;
    }
    std::string_view body = text.substr(0, span.end);
    if (body.front() == '+' || body.front() == '-') {
        body.remove_prefix(1);
    }
    const double magnitude = parseUnsigned(body);
    return span.negative ? -magnitude : magnitude;
}

// Fixed text of a whole-valued double, without a sign.
std::string wholeDigits(double magnitude)
{
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                      std::chars_format::fixed, 0);
    return {buffer.data(), result.ptr};
}

} // namespace

std::string_view trimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

bool isNumeric(std::string_view text)
{
    const std::string_view core = trimBlanks(text);
    const NumberSpan span = scanNumber(core);
    return span.digits > 0 && span.end == core.size();
}

double leadingNumber(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return 0.0;
    }
    const std::string_view rest = text.substr(first);
    return spanValue(rest, scanNumber(rest));
}

double toNumber(std::string_view text)
{
    const std::string_view core = trimBlanks(text);
    const NumberSpan span = scanNumber(core);
    if (span.digits == 0 || span.end != core.size()) {
        throw ValueError("not a number: \"" + std::string(text) + "\"");
    }
    return spanValue(core, span);
}

std::int16_t toInt16(double value)
{
    if (std::isnan(value)) {
        throw RangeError("not a number cannot become a 16-bit integer");
    }
    // Halves go to the even neighbour, independent of the floating-point rounding mode.
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) {
        rounded += 1.0;
    }
    if (rounded < -32768.0 || rounded > 32767.0) {
        throw RangeError("outside -32768..32767: " + generalNumber(value));
    }
    return static_cast<std::int16_t>(rounded);
}

std::int16_t toInt16(std::string_view text)
{
    return toInt16(toNumber(text));
}

bool toBoolean(std::string_view text)
{
    // The server's own two forms first.
    if (text == "1" || text == "0") {
        return text == "1";
    }
    const std::string_view core = trimBlanks(text);
    auto equalsIgnoringCase = [core](std::string_view word) {
        if (core.size() != word.size()) {
            return false;
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            char c = core[i];
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
            if (c != word[i]) {
                return false;
            }
        }
        return true;
    };
    if (equalsIgnoringCase("true")) {
        return true;
    }
    if (equalsIgnoringCase("false")) {
        return false;
    }
    if (!isNumeric(core)) {
        throw ValueError("not a Boolean: \"" + std::string(text) + "\"");
    }
    return toNumber(core) != 0.0;
}

std::string formatId0000(std::string_view id)
{
    // Plain digits, as every loaded id is, need no detour through a double: fifteen of them
    // are exact in one, so the result is the digits without leading zeros, padded.
    if (!id.empty() && id.size() <= 15 &&
        std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const std::string_view digits = id.substr(std::min(id.find_first_not_of('0'), id.size()));
        std::string padded(digits.size() < 4 ? 4 - digits.size() : 0, '0');
        padded += digits;
        return padded;
    }
    if (!isNumeric(id)) {
        return std::string(id);
    }
    const double value = toNumber(id);
    if (!std::isfinite(value)) {
        return std::string(id);
    }
    // std::round takes halves away from zero, as the id format does.
    const double rounded = std::round(value);
    std::string digits = wholeDigits(std::fabs(rounded));
    if (digits.size() < 4) {
        digits.insert(0, 4 - digits.size(), '0');
    }
    if (rounded < 0.0) {
        digits.insert(0, 1, '-');
    }
    return digits;
}

std::string format0_00(double value)
{
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 2);
    std::string text(buffer.data(), result.ptr);
    // A tiny negative value rounds to zero; zero has no sign here.
    if (text == "-0.00") {
        text.erase(0, 1);
    }
    return text;
}

std::string generalNumber(double value)
{
    if (value == 0.0) {
        return "0";
    }
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    std::string text(buffer.data(), result.ptr);
    for (char &c : text) {
        if (c == 'e') {
            c = 'E';
        }
    }
    return text;
}

} // namespace tarvo::logic
