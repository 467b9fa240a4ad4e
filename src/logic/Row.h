// One vendor row with typed values: what both lists hold per row. Pure logic.
//
// Ids, names, country ids and dates stay text (an id like "007" is kept as written). The fee is
// a whole number of hundredths of a percent, the duty a flag, the pending change an enum, and
// the id's sort key a number where the id is plain digits. Every field can be unwritten: a load
// that fails half-way leaves half-written rows. Loaded data can also put into the fee, duty and
// key columns a text that has no typed form; such a cell keeps that text, so that every cell
// reads as the list always showed it (logic/RowText reads and writes the cell texts).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::logic {

// What the next commit must write for a row.
enum class Pending : std::uint8_t {
    None,           // nothing: a stored assignment, or a vendor not assigned
    New,            // an insert (the row stands in lstVendorCenter)
    Updated,        // an update of the fees (lstVendorCenter)
    Deleted,        // a delete (lstVendors)
    DeletedUpdated, // a delete of an assignment whose fee had changed (lstVendors)
    Unknown,        // the duty column is unwritten or holds a text without a mark
};

// The handling fee: hundredths of a percent (8.00 % is 800), or a text, or nothing.
struct Fee
{
    std::optional<std::int64_t> hundredths;
    std::string text; // only when hundredths is empty: a value without typed form

    bool written() const { return hundredths.has_value() || !text.empty(); }
    bool operator==(const Fee &) const = default;
};

// The duty flag with the row's pending change, or a text, or nothing.
struct DutyMark
{
    std::optional<bool> duty; // with it, pending is None..DeletedUpdated
    Pending pending = Pending::Unknown;
    std::string text; // only when duty is empty: a value without typed form

    bool written() const { return duty.has_value() || !text.empty(); }
    bool operator==(const DutyMark &) const = default;
};

// The id's sort key: the id as a number where it is plain digits, else a text, or nothing.
struct IdKey
{
    std::optional<std::uint64_t> number;
    std::string text;

    bool written() const { return number.has_value() || !text.empty(); }
    bool operator==(const IdKey &) const = default;
};

// One vendor's assignment to the center as the lists were loaded.
struct Assignment
{
    std::int64_t feeHundredths = 0;
    bool duty = false;

    bool operator==(const Assignment &) const = default;
};

struct Row
{
    std::string id; // exactly as loaded
    std::string name;
    std::string countryId; // active vendors only
    Fee fee;
    DutyMark duty;
    std::string date; // when the row last moved, as text
    IdKey key;
    // The vendor's assignment as the lists were loaded (empty: not assigned then). Travels with
    // the row from list to list, so a replay knows what the user started from.
    std::optional<Assignment> loaded;

    bool operator==(const Row &) const = default;
};

// A row as a load reads it: the texts point into the answer being read (and end with it), the
// values are typed as in Row. A list copies it in without each text first being copied into a
// Row.
struct LoadedRow
{
    std::string_view id;
    std::string_view name;
    std::string_view countryId;
    std::string_view date;
    Fee fee;
    DutyMark duty;
    IdKey key;
    std::optional<Assignment> loaded;
};

} // namespace tarvo::logic
