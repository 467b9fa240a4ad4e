#include "merge/History.h"

#include "logic/ValueForms.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

namespace tarvo::merge {

namespace {

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<std::string> field(const net::AnswerNode &record,
                                 std::initializer_list<std::string_view> names)
{
    std::optional<std::string> found;
    record.forEachChild([&](const net::AnswerNode &child, std::size_t) {
        if (found) {
            return;
        }
        for (const auto name : names) {
            if (sameName(child.name(), name)) {
                found = child.text();
                return;
            }
        }
    });
    return found;
}

std::optional<double> number(const std::optional<std::string> &text)
{
    if (!text) {
        return std::nullopt;
    }
    try {
        return logic::toNumber(*text);
    } catch (const logic::ValueError &) {
        return std::nullopt;
    }
}

void collect(const net::AnswerNode &node, std::vector<HistoryEntry> &entries)
{
    if (auto vendor = field(node, {"VendorID"})) {
        HistoryEntry entry;
        entry.vendorId = *vendor;
        entry.user = field(node, {"UserName", "User"}).value_or(std::string());
        entry.when = field(node, {"ChangedAt", "When"}).value_or(std::string());
        entry.action = field(node, {"Action"}).value_or(std::string());
        if (entry.action != "remove") {
            // The audit keeps the fee as stored: a fraction (0.08 is 8 %).
            if (auto fee = number(field(node, {"Fee", "HandlingFee"}))) {
                entry.feePercent = *fee * 100;
            }
            if (auto duty = number(field(node, {"DutyBrokerageFee", "Duty"}))) {
                entry.duty = *duty != 0;
            }
        }
        entries.push_back(std::move(entry));
        return;
    }
    node.forEachChild([&](const net::AnswerNode &child, std::size_t) {
        if (!child.name().empty()) {
            collect(child, entries);
        }
    });
}

} // namespace

HistoryResult historyOf(const net::QueryDocument &doc)
{
    if (!doc.hasDocumentElement()) {
        return {false, doc.error(), {}};
    }
    HistoryResult result;
    result.ok = true;
    collect(doc.documentElement(), result.entries);
    return result;
}

HistoryResult fetchHistory(const std::string &serverName, int centerId, int limit)
{
    const std::string url = serverName +
                            "/CenterVendor.asp?history=1&centerID=" + std::to_string(centerId) +
                            "&limit=" + std::to_string(limit);
    return historyOf(net::QueryDocument::fetch(url));
}

const HistoryEntry *latestFor(const HistoryResult &history, const std::string &vendorId)
{
    const auto it = std::find_if(history.entries.begin(), history.entries.end(),
                                 [&](const HistoryEntry &e) { return e.vendorId == vendorId; });
    return it == history.entries.end() ? nullptr : &*it;
}

} // namespace tarvo::merge
