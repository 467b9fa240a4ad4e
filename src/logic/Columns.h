// The seven columns every vendor list holds, in the order its model shows them. Only the id
// and the name are visible; the others carry the row's values for editing and saving.
#pragma once

namespace tarvo::logic {

enum class Column : int {
    Id = 0,          // the vendor id exactly as loaded ("007" stays "007")
    Name = 1,        // the vendor name
    CountryId = 2,   // the vendor's country id (active vendors only)
    HandlingFee = 3, // the handling fee in percent, "0.00" form
    DutyMark = 4,    // the duty value ("0" or "1") and the pending mark after it
    DateUpdated = 5, // when the row last moved
    IdKey = 6,       // the id in "0000" form, the sort key of the id header
};

inline constexpr int ColumnCount = 7;

// The column's index as the list counts columns (0..6).
constexpr int index(Column column)
{
    return static_cast<int>(column);
}

} // namespace tarvo::logic
