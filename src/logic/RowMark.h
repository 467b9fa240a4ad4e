// The pending change of a row and how moving the row or storing a fee changes it. Pure logic.
#pragma once

#include "logic/Row.h"

#include <optional>

namespace tarvo::logic {

enum class Move {
    Add,       // lstVendors -> lstVendorCenter
    Remove,    // lstVendorCenter -> lstVendors
    FeeUpdate, // a stored fee on a row of lstVendorCenter
};

// The duty column of the row a move makes from a typed source. Surprise: a change that loaded
// data cannot produce (adding a row already new, removing one already deleted) leaves the
// column unwritten, and with it the row counts as removed in lstVendors and writes nothing in
// lstVendorCenter.
DutyMark transition(Move move, bool duty, Pending pending);

// The same over any duty column: unwritten stays unwritten, and a text without typed form moves
// by the rule over texts (logic/RowText).
DutyMark transition(Move move, const DutyMark &source);

// Whether the column is a plain duty value: nothing for the commit to write. An unwritten
// column is not.
bool isUnmarked(const DutyMark &column);

// The pending change the column stands for (a text is classified by its last letters).
Pending pendingOf(const DutyMark &column);

} // namespace tarvo::logic
