// The save batch: the SQL statements that the row marks of both lists stand for, and the
// form body that carries them. Pure logic.
#pragma once

#include "logic/Row.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::logic {

// A row of lstVendorCenter as the batch reads it.
struct SelectedRow
{
    std::string id; // exactly as held
    Fee fee;
    DutyMark duty;
};

// A row of lstVendors as the batch reads it.
struct NonSelectedRow
{
    std::string id;
    DutyMark duty;
};

// Why a batch could not be built; nothing may be sent.
class BatchError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// INSERT per new row and UPDATE per updated row of the selected list in list order, then one
// DELETE for every non-selected row that is not plainly unmarked (an unwritten duty column
// included). Surprise: a selected row marked deleted-updated writes an UPDATE, as its mark ends
// in "U". Throws BatchError on a fee of a marked row that is unwritten or no number, a vendor id
// that is not a whole number, or more than 32767 statements.
std::vector<std::string> buildStatements(std::int32_t centerId,
                                         const std::vector<SelectedRow> &selected,
                                         const std::vector<NonSelectedRow> &nonSelected);

// "SQL=" + urlEncode(statement) + "&" for each statement; empty for no statement.
std::string buildBody(const std::vector<std::string> &statements);

} // namespace tarvo::logic
