// The rows of both lists read as assignments for the replay, and the replay's changes written
// back onto rows. Rows still hold their values as text (the fee as a percent in column 3, the
// duty and the mark in column 4); this is the one place that turns them into typed states and
// back, so a change of the row form changes only this file.
#pragma once

#include "list/VendorList.h"
#include "replay/Replay.h"

#include <QString>
#include <array>
#include <map>
#include <string>
#include <vector>

namespace tarvo::merge {

using list::VendorList;

// A row's seven column texts, owned.
using RowTexts = std::array<std::string, VendorList::Columns>;

// Every assignment of the center by vendor id, as the lists were loaded (L).
using Snapshot = std::map<std::string, replay::Assignment>;

// The assignments the selected list shows, marks ignored; rows whose fee is no number are left
// out. Read right after a load, it is what the server held.
Snapshot assignmentsOf(const VendorList &selected);

struct PendingRows
{
    bool ok = true;
    std::string message; // why the rows cannot be replayed; empty when ok
    std::vector<replay::Pending> pending;
    // Each pending row's columns as the user left them, to write mine back with the user's
    // own texts (or to bring back a row the fresh load no longer lists).
    std::map<std::string, RowTexts> rows;
};

// The pending changes of both lists: a marked row of lstVendors is a removal (M absent), a
// selected row marked "N" or "U" an add or a fee change (M its fee and duty). L comes from
// loaded. Surprise: a selected row with another mark writes nothing, so it is no pending change.
PendingRows pendingOf(const Snapshot &loaded, const VendorList &vendors,
                      const VendorList &selected);

// The center as a fresh load shows it (T, the active vendors' country ids, the center code).
replay::Fresh freshOf(const Snapshot &assigned, const VendorList &vendors, int centerCode);

// Puts one change on the fresh rows: the row moves to the list the change ends in, carries the
// state it writes and the mark. `kept` (may be null) gives the user's row texts; a row that
// neither list holds is brought back from them. Returns false when there is no row to change.
bool putChange(VendorList &vendors, VendorList &selected, const replay::Change &change,
               const PendingRows &kept);

// "8.00 %, duty" / "12.50 %" / "not assigned", for the collision view and tooltips.
QString stateText(const replay::State &state);

} // namespace tarvo::merge
