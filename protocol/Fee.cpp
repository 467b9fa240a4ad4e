#include "protocol/Fee.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace tarvo::protocol {

namespace {

// Hundredths of a percent of 1e12: the largest percent a fee is counted in.
constexpr std::uint64_t kLimit = 100'000'000'000'000;

} // namespace

std::optional<std::int64_t> hundredthsOfFractionText(std::string_view text)
{
    constexpr std::size_t kMaxDigits = 15;
    constexpr int kPlaces = 4; // of the fraction: two for the percent, two for its hundredths
    if (text.empty() || text.size() > kMaxDigits + 1) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    int places = -1; // -1 before the point
    bool digits = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (places >= kPlaces) {
                return std::nullopt;
            }
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            places += places >= 0 ? 1 : 0;
            digits = true;
        } else if (c == '.' && places < 0) {
            places = 0;
        } else {
            return std::nullopt;
        }
    }
    for (int k = std::max(places, 0); k < kPlaces && value < kLimit; ++k) {
        value *= 10;
    }
    if (!digits || value >= kLimit) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> hundredthsOfFraction(double fraction)
{
    const double hundredths = percentOfFraction(fraction) * kHundredthsPerPercent;
    if (!std::isfinite(hundredths) || std::fabs(hundredths) >= static_cast<double>(kLimit)) {
        return std::nullopt;
    }
    return std::llround(hundredths);
}

std::string percentText(double fraction)
{
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                      percentOfFraction(fraction), std::chars_format::fixed, 2);
    return result.ec == std::errc() ? std::string(buffer.data(), result.ptr) : std::string();
}

std::string percentText(std::int64_t hundredths)
{
    const std::uint64_t magnitude = hundredths < 0 ? 0 - static_cast<std::uint64_t>(hundredths)
                                                   : static_cast<std::uint64_t>(hundredths);
    const auto cents = static_cast<int>(magnitude % kHundredthsPerPercent);
    std::string text = hundredths < 0 ? "-" : "";
    text += std::to_string(magnitude / kHundredthsPerPercent);
    text += '.';
    text += static_cast<char>('0' + cents / 10);
    text += static_cast<char>('0' + cents % 10);
    return text;
}

} // namespace tarvo::protocol
