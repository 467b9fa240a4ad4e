#include "logic/Rules.h"

#include "logic/ValueForms.h"

#include <algorithm>

namespace tarvo::logic {

namespace {
// Whether a country id reads as the number 1. Plain digits, as country ids nearly always are,
// are told in one pass without reading a number; anything else goes through toNumber (which
// throws for a text that is no number).
bool isOne(std::string_view countryId)
{
    if (!countryId.empty() && countryId.find_first_not_of("0123456789") == std::string_view::npos) {
        return countryId.substr(std::min(countryId.find_first_not_of('0'), countryId.size())) ==
               "1";
    }
    return toNumber(countryId) == 1;
}
} // namespace

Fee defaultFee()
{
    return Fee{DefaultFeeHundredths, {}};
}

bool dutyApplies(double countryId, int centerCode)
{
    return countryId == 1.0 && centerCode == 2;
}

bool dutyApplies(std::string_view countryId, std::int16_t centerCode)
{
    // The country id is read first: a text that is no number stops the row even where the
    // center's code alone would decide.
    return dutyApplies(isOne(countryId) ? 1.0 : 0.0, centerCode);
}

DutyMark loadedDuty(bool duty)
{
    return DutyMark{duty, Pending::None, {}};
}

bool dutyShown(const DutyMark &column)
{
    if (column.duty) {
        return *column.duty;
    }
    return leadingNumber(column.text) == 1;
}

} // namespace tarvo::logic
