// The save batch: the SQL statements that the row marks of both lists stand for, and the
// form body that carries them. Pure logic.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::logic {

// A row of lstVendorCenter as the batch reads it.
struct SelectedRow
{
    std::string id;      // column 0, exactly as held
    std::string fee;     // column 3, percent
    std::string column4; // duty value and mark
};

// A row of lstVendors as the batch reads it.
struct NonSelectedRow
{
    std::string id;      // column 0
    std::string column4; // duty value and mark
};

// Why a batch could not be built; nothing may be sent.
class BatchError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// INSERT per "N" row and UPDATE per "U" row of the selected list in list order, then one
// DELETE for every non-selected row whose column 4 is not numeric. Throws BatchError on a
// non-numeric fee of a marked row, a vendor id that is not a whole number, or more than
// 32767 statements.
std::vector<std::string> buildStatements(std::int32_t centerId,
                                         const std::vector<SelectedRow> &selected,
                                         const std::vector<NonSelectedRow> &nonSelected);

// One statement in the batch's own form, from values already written out (whole-number ids, the
// fee as a fraction, duty 0 or 1). Checks nothing: the callers above have.
std::string insertText(std::string_view center, std::string_view vendor, std::string_view fee,
                       std::string_view duty);
std::string updateText(std::string_view center, std::string_view vendor, std::string_view fee,
                       std::string_view duty);
// ids: comma-separated, no blanks.
std::string deleteText(std::string_view center, std::string_view ids);

// "SQL=" + urlEncode(statement) + "&" for each statement; empty for no statement.
std::string buildBody(const std::vector<std::string> &statements);

} // namespace tarvo::logic
