// A center's audit trail as the server answers `?history=1`: one record per change, newest
// first, read by the one reader every client uses.
#pragma once

#include "protocol/Wire.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::protocol {

enum class HistoryAction { Add, Update, Remove };

// "add", "update" or "remove", as the answer writes it.
std::string_view actionName(HistoryAction action);

// An assignment as a history record states it.
struct HistoryValue
{
    std::optional<std::int64_t> feeHundredths; // empty when the answer's fee is no number
    bool duty = false;
    bool operator==(const HistoryValue &) const = default;
};

struct HistoryRecord
{
    std::string when; // as the server wrote it
    std::string user; // "" when the server has no users
    HistoryAction action = HistoryAction::Update;
    std::string vendorId;
    std::string vendorName; // "" when the vendor no longer exists
    // What the change wrote; empty for a removal.
    std::optional<HistoryValue> after;
    // The assignment before the change: empty for an add, the removed one for a removal, and
    // for an update the next older record's of the same vendor in the same answer.
    std::optional<HistoryValue> before;
    // False for an update whose vendor has no older record in the answer: before is unknown.
    bool beforeKnown = false;
    // The center's entity tag right after the change, so the commit that made it; "" for a
    // change older than versions.
    std::string tag;
    bool operator==(const HistoryRecord &) const = default;
};

enum class HistoryError {
    None,
    NotXml,    // the body is no well-formed XML
    NoHistory, // the document is not a CenterVendor answer with a History section
    BadRecord, // a Change without a VendorID or with an action no server writes
};

struct HistoryReading
{
    HistoryError error = HistoryError::None;
    std::string detail; // for a log; empty when read
    std::vector<HistoryRecord> records;
    bool ok() const { return error == HistoryError::None; }
};

// Reads a history answer's bytes. Element names are compared exactly; elements a server does
// not write are ignored. Surprise: a fee that is no number leaves feeHundredths empty rather
// than refusing the whole history.
HistoryReading readHistory(std::string_view xml);

namespace detail {
using Fields = std::vector<std::pair<std::string, std::string>>; // name, text; first wins
// One Change record's fields; false (and `why`) when it is malformed.
bool recordOf(const Fields &fields, HistoryRecord &record, std::string &why);
// Fills before and beforeKnown of the updates from the older records.
void linkOlderRecords(std::vector<HistoryRecord> &records);
} // namespace detail

// The same reader over a tree another parser built. Node needs name() (empty for text nodes),
// text() (the element's whole text) and forEachChild(visit(const Node &, std::size_t)).
template <typename Node> HistoryReading readHistoryTree(const Node &root)
{
    HistoryReading reading;
    if (root.name() != element::kRoot) {
        reading.error = HistoryError::NoHistory;
        reading.detail = "the answer is no CenterVendor document";
        return reading;
    }
    bool found = false;
    root.forEachChild([&](const Node &section, std::size_t) {
        if (found || section.name() != element::kHistory) {
            return;
        }
        found = true;
        section.forEachChild([&](const Node &change, std::size_t) {
            if (!reading.ok() || change.name() != element::kChange) {
                return;
            }
            detail::Fields fields;
            change.forEachChild([&](const Node &field, std::size_t) {
                if (!field.name().empty()) {
                    fields.emplace_back(std::string(field.name()), field.text());
                }
            });
            HistoryRecord record;
            if (!detail::recordOf(fields, record, reading.detail)) {
                reading.error = HistoryError::BadRecord;
                return;
            }
            reading.records.push_back(std::move(record));
        });
    });
    if (!found) {
        reading.error = HistoryError::NoHistory;
        reading.detail = "the answer has no History section";
    }
    if (!reading.ok()) {
        reading.records.clear();
        return reading;
    }
    detail::linkOlderRecords(reading.records);
    return reading;
}

} // namespace tarvo::protocol
