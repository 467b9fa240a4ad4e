#include "page/Answers.h"

#include "page/Validators.h"
#include "protocol/Wire.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <pugixml.hpp>

namespace tarvo::server::page {

namespace {

namespace element = protocol::element;

bool plainAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte >= 0x20 && byte < 0x80) || c == '\t' || c == '\n' || c == '\r';
    });
}

class StringWriter : public pugi::xml_writer
{
public:
    explicit StringWriter(std::string &out) : m_out(out) {}
    void write(const void *data, size_t size) override
    {
        m_out.append(static_cast<const char *>(data), size);
    }

private:
    std::string &m_out;
};

// A document element with the sections in front of `section` present and empty; returns
// the section to fill.
// The declaration and the document element every answer starts with.
pugi::xml_node answerRoot(pugi::xml_document &doc)
{
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "utf-8";
    return doc.append_child(element::kRoot.data());
}

pugi::xml_node sectionsUpTo(pugi::xml_document &doc, Section section)
{
    pugi::xml_node root = answerRoot(doc);
    pugi::xml_node last;
    for (int i = 0; i <= static_cast<int>(section); ++i) {
        last = root.append_child(element::kSections[i].data());
    }
    return last;
}

// Names are the protocol's literals, so data() ends where the name does. Stored text goes
// through xmlText(): one bad byte in one vendor's name would otherwise make
// the whole answer unreadable for every center that lists it.
void field(pugi::xml_node record, std::string_view name, const std::string &value)
{
    pugi::xml_text text = record.append_child(name.data()).text();
    text.set(plainAscii(value) ? value.c_str() : xmlText(value).c_str());
}

void field(pugi::xml_node record, std::string_view name, std::int64_t value)
{
    std::array<char, 24> buffer{};
    *std::to_chars(buffer.data(), buffer.data() + buffer.size() - 1, value).ptr = '\0';
    record.append_child(name.data()).text().set(buffer.data());
}

// `expectedSize` spares the copies of a growing text of several megabytes.
std::string serialize(const pugi::xml_document &doc, std::size_t expectedSize = 0)
{
    std::string out;
    out.reserve(expectedSize);
    StringWriter writer(out);
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return out;
}

} // namespace

namespace {

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool nonCharacter(char32_t cp)
{
    return (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE;
}

} // namespace

std::string xmlText(std::string_view text)
{
    if (plainAscii(text)) {
        return std::string(text);
    }
    constexpr char32_t kReplacement = 0xFFFD;
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if (lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r') {
                out += static_cast<char>(lead);
            }
            ++i;
            continue;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        char32_t cp = length == 4 ? lead & 0x07 : length == 3 ? lead & 0x0F : lead & 0x1F;
        std::size_t taken = 1;
        while (length > 1 && taken < length && i + taken < text.size() &&
               (static_cast<unsigned char>(text[i + taken]) & 0xC0) == 0x80) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + taken]) & 0x3F);
            ++taken;
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        const bool valid = length > 1 && lead < 0xF5 && taken == length &&
                           cp >= kSmallest[length] && cp <= 0x10FFFF &&
                           !(cp >= 0xD800 && cp <= 0xDFFF) && !nonCharacter(cp);
        appendUtf8(out, valid ? cp : kReplacement);
        i += taken;
    }
    return out;
}

std::string fractionText(double value)
{
    if (value == 0.0) {
        return "0";
    }
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed);
    return std::string(buffer.data(), result.ptr);
}

std::string countAnswer(const store::CenterCounts &counts)
{
    pugi::xml_document doc;
    pugi::xml_node record =
        sectionsUpTo(doc, Section::Count).append_child(element::kCountRecord.data());
    field(record, element::kCenterCode, counts.centerCode);
    field(record, element::kNonSelected, counts.nonSelected);
    field(record, element::kSelected, counts.selected);
    return serialize(doc);
}

struct ListAnswer::Document
{
    pugi::xml_document doc;
    pugi::xml_node section;
    std::size_t expectedSize = 256;
};

namespace {

// Markup and numbers of one record, without the name; a little more than they take.
constexpr std::size_t kRecordBytes = 120;

} // namespace

ListAnswer::ListAnswer(Section section) : m_doc(std::make_unique<Document>())
{
    m_doc->section = sectionsUpTo(m_doc->doc, section);
}

ListAnswer::~ListAnswer() = default;

void ListAnswer::add(const store::ActiveVendorRow &row)
{
    m_doc->expectedSize += kRecordBytes + row.name.size() + row.lastUpdated.size();
    pugi::xml_node record = m_doc->section.append_child(element::kVendor.data());
    field(record, element::kId, row.id);
    field(record, element::kName, row.name);
    field(record, element::kCountryId, row.countryId);
    // Fields 3 and 4 are placeholders: the control fills those columns itself.
    record.append_child(element::kFee.data());
    record.append_child(element::kDuty.data());
    field(record, element::kUpdated, row.lastUpdated);
}

void ListAnswer::add(const store::SelectedVendorRow &row)
{
    m_doc->expectedSize += kRecordBytes + row.name.size();
    pugi::xml_node record = m_doc->section.append_child(element::kVendor.data());
    field(record, element::kId, row.id);
    field(record, element::kName, row.name);
    field(record, element::kFee, fractionText(row.fee));
    field(record, element::kDuty, std::int64_t{row.duty ? 1 : 0});
}

std::string ListAnswer::text() const
{
    return serialize(m_doc->doc, m_doc->expectedSize);
}

std::string centersAnswer(const std::vector<store::Center> &centers)
{
    pugi::xml_document doc;
    pugi::xml_node list = answerRoot(doc).append_child(element::kCenters.data());
    for (const store::Center &center : centers) {
        pugi::xml_node record = list.append_child(element::kCenter.data());
        field(record, element::kId, center.id);
        field(record, element::kName, center.name);
        field(record, element::kCenterCode, std::int64_t{center.code});
    }
    return serialize(doc);
}

std::string historyAnswer(std::int64_t centerId,
                          const std::vector<store::AssignmentChange> &changes)
{
    pugi::xml_document doc;
    pugi::xml_node list = answerRoot(doc).append_child(element::kHistory.data());
    for (const store::AssignmentChange &change : changes) {
        pugi::xml_node record = list.append_child(element::kChange.data());
        field(record, element::kChangedAt, change.changedAt);
        field(record, element::kUser, change.user);
        field(record, element::kAction, change.action);
        field(record, element::kVendorId, change.vendorId);
        field(record, element::kVendorName, change.vendorName);
        field(record, element::kFee, fractionText(change.fee));
        field(record, element::kDuty, std::int64_t{change.duty ? 1 : 0});
        field(record, element::kETag,
              change.version != 0 ? protocol::entityTag(centerId, change.version) : "");
    }
    return serialize(doc);
}

std::string activeAnswer(const std::vector<store::ActiveVendorRow> &rows)
{
    ListAnswer answer(Section::Active);
    for (const store::ActiveVendorRow &row : rows) {
        answer.add(row);
    }
    return answer.text();
}

std::string selectedAnswer(const std::vector<store::SelectedVendorRow> &rows)
{
    ListAnswer answer(Section::Selected);
    for (const store::SelectedVendorRow &row : rows) {
        answer.add(row);
    }
    return answer.text();
}

} // namespace tarvo::server::page
