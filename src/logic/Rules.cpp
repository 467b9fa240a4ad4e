#include "logic/Rules.h"

#include "logic/ValueForms.h"

namespace tarvo::logic {

std::string defaultFeeText()
{
    return format0_00(DefaultFeePercent);
}

bool dutyApplies(std::string_view countryId, std::int16_t centerCode)
{
    // The country id is read first: a text that is no number stops the row even where the
    // center's code alone would decide.
    const bool domestic = toNumber(countryId) == 1;
    return domestic && centerCode == 2;
}

std::string_view dutyText(bool duty)
{
    return duty ? "1" : "0";
}

bool dutyShown(std::string_view dutyColumn)
{
    return leadingNumber(dutyColumn) == 1;
}

std::string feePercentText(std::string_view fraction)
{
    return format0_00(toNumber(fraction) * 100);
}

} // namespace tarvo::logic
