#include "merge/History.h"

#include "protocol/Wire.h"

#include <algorithm>

namespace tarvo::merge {

HistoryResult historyOf(const net::QueryDocument &doc)
{
    if (!doc.hasDocumentElement()) {
        return {false, doc.error(), {}};
    }
    protocol::HistoryReading reading = protocol::readHistoryTree(doc.documentElement());
    if (!reading.ok()) {
        return {false, std::move(reading.detail), {}};
    }
    return {true, {}, std::move(reading.records)};
}

HistoryResult fetchHistory(const std::string &serverName, int centerId, int limit)
{
    const std::string url = serverName + std::string(protocol::kPage) + "?" +
                            protocol::historyQueryText(centerId, limit);
    return historyOf(net::QueryDocument::fetch(url));
}

const HistoryEntry *latestFor(const HistoryResult &history, const std::string &vendorId)
{
    const auto it = std::find_if(history.entries.begin(), history.entries.end(),
                                 [&](const HistoryEntry &e) { return e.vendorId == vendorId; });
    return it == history.entries.end() ? nullptr : &*it;
}

} // namespace tarvo::merge
