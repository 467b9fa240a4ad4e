// A center's audit trail as the server page gives it (`?history=1`): who changed which
// assignment when, newest first. Read by element names, so wrappers and field order may vary.
#pragma once

#include "net/QueryDocument.h"

#include <optional>
#include <string>
#include <vector>

namespace tarvo::merge {

struct HistoryEntry
{
    std::string vendorId;
    std::string user;
    std::string when;                 // as the server wrote it
    std::string action;               // "add", "update" or "remove"
    std::optional<double> feePercent; // the fee written, in percent; empty for a removal
    std::optional<bool> duty;
};

struct HistoryResult
{
    bool ok = false;
    std::string message; // why there is no history; empty when ok
    std::vector<HistoryEntry> entries;
};

// Every element with a VendorID child is an entry (names compared ignoring letter case; fee
// from Fee or HandlingFee, user from User or UserName, time from ChangedAt or When).
// Surprise: a fee that is no number is left empty rather than refusing the whole history.
HistoryResult historyOf(const net::QueryDocument &doc);

// Blocking GET of `<server>/CenterVendor.asp?history=1&centerID=N&limit=K`.
HistoryResult fetchHistory(const std::string &serverName, int centerId, int limit);

// The newest entry for the vendor, or null.
const HistoryEntry *latestFor(const HistoryResult &history, const std::string &vendorId);

} // namespace tarvo::merge
