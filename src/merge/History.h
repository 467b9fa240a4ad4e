// A center's audit trail as the server page gives it (`?history=1`): who changed which
// assignment when, newest first, read by the protocol's one history reader.
#pragma once

#include "net/QueryDocument.h"
#include "protocol/History.h"

#include <string>
#include <vector>

namespace tarvo::merge {

using HistoryEntry = protocol::HistoryRecord;

struct HistoryResult
{
    bool ok = false;
    std::string message; // why there is no history; empty when ok
    std::vector<HistoryEntry> entries;
};

// The records of a fetched answer. Surprise: an answer that is well-formed XML but no history
// answer is no history either (ok false), never an empty one.
HistoryResult historyOf(const net::QueryDocument &doc);

// Blocking GET of `<server>/CenterVendor.asp?history=1&centerID=N&limit=K`.
HistoryResult fetchHistory(const std::string &serverName, int centerId, int limit);

// The newest entry for the vendor, or null.
const HistoryEntry *latestFor(const HistoryResult &history, const std::string &vendorId);

} // namespace tarvo::merge
