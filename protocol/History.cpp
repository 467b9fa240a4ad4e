#include "protocol/History.h"

#include "protocol/Fee.h"

#include <charconv>
#include <pugixml.hpp>
#include <system_error>

namespace tarvo::protocol {

namespace {

// A pugixml node as readHistoryTree walks it; text nodes have no name.
class TreeNode
{
public:
    explicit TreeNode(pugi::xml_node node) : m_node(node) {}
    std::string_view name() const
    {
        return m_node.type() == pugi::node_element ? m_node.name() : std::string_view();
    }
    std::string text() const { return m_node.child_value(); }
    template <typename Visit> void forEachChild(Visit &&visit) const
    {
        std::size_t position = 0;
        for (pugi::xml_node child : m_node.children()) {
            visit(TreeNode(child), position++);
        }
    }

private:
    pugi::xml_node m_node;
};

const std::string *fieldOf(const detail::Fields &fields, std::string_view name)
{
    for (const auto &[fieldName, text] : fields) {
        if (fieldName == name) {
            return &text;
        }
    }
    return nullptr;
}

std::optional<std::int64_t> feeOf(const std::string &text)
{
    if (auto exact = hundredthsOfFractionText(text)) {
        return exact;
    }
    double fraction = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), fraction);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return hundredthsOfFraction(fraction);
}

} // namespace

std::string_view actionName(HistoryAction action)
{
    switch (action) {
    case HistoryAction::Add:
        return "add";
    case HistoryAction::Update:
        return "update";
    case HistoryAction::Remove:
        return "remove";
    }
    return "update";
}

namespace detail {

bool recordOf(const Fields &fields, HistoryRecord &record, std::string &why)
{
    const std::string *vendor = fieldOf(fields, element::kVendorId);
    if (vendor == nullptr || vendor->empty()) {
        why = "a change names no vendor";
        return false;
    }
    const std::string *action = fieldOf(fields, element::kAction);
    bool known = false;
    for (const HistoryAction a :
         {HistoryAction::Add, HistoryAction::Update, HistoryAction::Remove}) {
        if (action != nullptr && *action == actionName(a)) {
            record.action = a;
            known = true;
        }
    }
    if (!known) {
        why = "the change of vendor " + *vendor + " has no action a server writes";
        return false;
    }
    const auto text = [&](std::string_view name) {
        const std::string *found = fieldOf(fields, name);
        return found != nullptr ? *found : std::string();
    };
    record.vendorId = *vendor;
    record.vendorName = text(element::kVendorName);
    record.when = text(element::kChangedAt);
    record.user = text(element::kUser);
    record.tag = text(element::kETag);
    // The fee of a removal is the one removed.
    const HistoryValue value{feeOf(text(element::kFee)), text(element::kDuty) == "1"};
    if (record.action == HistoryAction::Remove) {
        record.before = value;
        record.beforeKnown = true;
    } else {
        record.after = value;
        record.beforeKnown = record.action == HistoryAction::Add;
    }
    return true;
}

void linkOlderRecords(std::vector<HistoryRecord> &records)
{
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].beforeKnown) {
            continue;
        }
        for (std::size_t older = i + 1; older < records.size(); ++older) {
            if (records[older].vendorId == records[i].vendorId) {
                records[i].before = records[older].after;
                records[i].beforeKnown = true;
                break;
            }
        }
    }
}

} // namespace detail

HistoryReading readHistory(std::string_view xml)
{
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        HistoryReading reading;
        reading.error = HistoryError::NotXml;
        reading.detail = parsed.description();
        return reading;
    }
    return readHistoryTree(TreeNode(doc.document_element()));
}

} // namespace tarvo::protocol
