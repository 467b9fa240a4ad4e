#include "logic/Rules.h"

#include "logic/ValueForms.h"

namespace tarvo::logic {

Fee defaultFee()
{
    return Fee{DefaultFeeHundredths, {}};
}

bool dutyApplies(std::string_view countryId, std::int16_t centerCode)
{
    // The country id is read first: a text that is no number stops the row even where the
    // center's code alone would decide.
    const bool domestic = toNumber(countryId) == 1;
    return domestic && centerCode == 2;
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
