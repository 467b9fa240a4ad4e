// The business rules of a row's values that do not depend on the screen. Pure logic.
#pragma once

#include "logic/Row.h"

#include <cstdint>
#include <string_view>

namespace tarvo::logic {

// A vendor not yet selected for the center is offered at this handling fee: 8.00 percent.
inline constexpr std::int64_t DefaultFeeHundredths = 800;

// The fee a row of active vendors carries until it is stored.
Fee defaultFee();

// Whether duty brokerage applies to an active vendor: its country id is 1 and the center's code
// is 2. Surprise: the country id is compared as a number, so 1.0 counts as 1.
bool dutyApplies(double countryId, int centerCode);

// The same over the country id as loaded. Throws ValueError when it is not numeric, whatever
// the center's code.
bool dutyApplies(std::string_view countryId, std::int16_t centerCode);

// The duty column of a loaded row: the flag, nothing pending.
DutyMark loadedDuty(bool duty);

// Whether the duty box shows ticked for a row: its duty is 1, whatever is pending; a column held
// as text counts by its leading number, an unwritten one as 0.
bool dutyShown(const DutyMark &column);

} // namespace tarvo::logic
