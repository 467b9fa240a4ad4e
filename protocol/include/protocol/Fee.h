// The fee scale: the wire and the store carry a handling fee as a fraction (0.08), people and
// the lists see a percent (8.00), and the control counts hundredths of a percent (800).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::protocol {

inline constexpr int kPercentPerUnit = 100;
inline constexpr int kHundredthsPerPercent = 100;

inline double percentOfFraction(double fraction)
{
    return fraction * kPercentPerUnit;
}

inline double fractionOfPercent(double percent)
{
    return percent / kPercentPerUnit;
}

// Two divisions, as the "0.00" text reads: hundredths to percent, then to a fraction.
inline double fractionOfHundredths(std::int64_t hundredths)
{
    return static_cast<double>(hundredths) / kHundredthsPerPercent / kPercentPerUnit;
}

// Hundredths of a percent of a plain decimal fraction (digits with at most one point and four
// places, as the server writes fees), exactly; nullopt for any other text or for a percent of
// 1e12 or more.
std::optional<std::int64_t> hundredthsOfFractionText(std::string_view fraction);

// Hundredths of a percent nearest to `fraction`; nullopt when it is not finite or out of range.
// Surprise: a half hundredth rounds away from zero, where percentText rounds the double.
std::optional<std::int64_t> hundredthsOfFraction(double fraction);

// The percent of a fraction in "0.00" form (0.125 gives "12.50"), as the user typed it.
std::string percentText(double fraction);
// The same from hundredths: 1250 gives "12.50".
std::string percentText(std::int64_t hundredths);

} // namespace tarvo::protocol
