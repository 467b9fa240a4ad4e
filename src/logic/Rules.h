// The business rules of a row's values that do not depend on the screen. Pure logic.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::logic {

// A vendor not yet selected for the center is offered at this handling fee: 8 percent.
inline constexpr double DefaultFeePercent = 8;

// The default fee as the list holds it: "8.00".
std::string defaultFeeText();

// Whether duty brokerage applies to an active vendor: its country id is 1 and the center's code
// is 2. Throws ValueError when the country id is not numeric, whatever the center's code.
bool dutyApplies(std::string_view countryId, std::int16_t centerCode);

// The duty value a row holds while nothing is pending: "1" or "0".
std::string_view dutyText(bool duty);

// Whether the duty box shows ticked for a row: the leading number of its duty column is 1
// ("1", "1N", "1DU"); a text without one counts as 0.
bool dutyShown(std::string_view dutyColumn);

// The handling fee as the server gives it (a fraction, 0.08) in the list's percent form
// ("8.00"). Throws ValueError when the text is not numeric.
std::string feePercentText(std::string_view fraction);

} // namespace tarvo::logic
