// The rows of both lists read as assignments for the replay, and the replay's changes written
// back onto rows. Each row carries its values as loaded, so what the user started from (L) is
// read from the rows themselves, wherever they moved.
#pragma once

#include "list/VendorList.h"
#include "logic/Row.h"
#include "replay/Replay.h"

#include <QString>
#include <map>
#include <string>
#include <vector>

namespace tarvo::merge {

using list::VendorList;

// Every assignment of the center by vendor id.
using Snapshot = std::map<std::string, logic::Assignment>;

// The assignments the selected list shows, marks ignored; rows whose fee is no number are left
// out. Read right after a load, it is what the server holds (T).
Snapshot assignmentsOf(const VendorList &selected);

struct PendingRows
{
    bool ok = true;
    std::string message; // why the rows cannot be replayed; empty when ok
    std::vector<replay::Pending> pending;
    // Each pending row as the user left it, to write mine back with the user's own values (or
    // to bring back a row the fresh load no longer lists).
    std::map<std::string, logic::Row> rows;
};

// The pending changes of both lists: a marked row of lstVendors is a removal (M absent), a
// selected row marked new or updated (deleted-updated included, as the batch updates it) an add
// or a fee change (M its fee and duty). L is the row's values as loaded. Surprise: a selected
// row with another mark writes nothing, so it is no pending change.
PendingRows pendingOf(const VendorList &vendors, const VendorList &selected);

// The center as a fresh load shows it (T, the active vendors' country ids, the center code).
replay::Fresh freshOf(const Snapshot &assigned, const VendorList &vendors, int centerCode);

// Puts one change on the fresh rows: the row moves to the list the change ends in, carries the
// state it writes and the mark. `kept` gives the user's rows; a row that neither list holds is
// brought back from them (as not assigned when loaded, which the fresh load says it is). Returns
// false when there is no row to change.
bool putChange(VendorList &vendors, VendorList &selected, const replay::Change &change,
               const PendingRows &kept);

// "8.00 %, duty" / "12.50 %" / "not assigned", for the collision view and tooltips.
QString stateText(const replay::State &state);

} // namespace tarvo::merge
