#include "Answers.h"

#include <array>
#include <charconv>
#include <pugixml.hpp>

namespace tarvo::server {

namespace {

constexpr const char *kSectionNames[] = {"Count", "ActiveVendors", "SelectedVendors"};

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

// XML 1.0 cannot carry most control characters even as references; a name holding one
// would make the whole answer unreadable, so it becomes a blank.
std::string xmlSafe(const std::string &text)
{
    std::string safe = text;
    for (char &c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            c = ' ';
        }
    }
    return safe;
}

// A document element with the sections in front of `section` present and empty; returns
// the section to fill.
pugi::xml_node sectionsUpTo(pugi::xml_document &doc, Section section)
{
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "utf-8";
    pugi::xml_node root = doc.append_child("CenterVendor");
    pugi::xml_node last;
    for (int i = 0; i <= static_cast<int>(section); ++i) {
        last = root.append_child(kSectionNames[i]);
    }
    return last;
}

void field(pugi::xml_node record, const char *name, const std::string &value)
{
    record.append_child(name).text().set(value.c_str());
}

void field(pugi::xml_node record, const char *name, std::int64_t value)
{
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    record.append_child(name).text().set(std::string(buffer.data(), result.ptr).c_str());
}

std::string serialize(const pugi::xml_document &doc)
{
    std::string out;
    StringWriter writer(out);
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return out;
}

} // namespace

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

std::string countAnswer(const CenterCounts &counts)
{
    pugi::xml_document doc;
    pugi::xml_node record = sectionsUpTo(doc, Section::Count).append_child("Record");
    field(record, "CenterCode", counts.centerCode);
    field(record, "NonSelectedCount", counts.nonSelected);
    field(record, "SelectedCount", counts.selected);
    return serialize(doc);
}

std::string activeAnswer(const std::vector<ActiveVendorRow> &rows)
{
    pugi::xml_document doc;
    pugi::xml_node section = sectionsUpTo(doc, Section::Active);
    for (const ActiveVendorRow &row : rows) {
        pugi::xml_node record = section.append_child("Vendor");
        field(record, "VendorID", row.id);
        field(record, "VendorName", xmlSafe(row.name));
        field(record, "CountryID", row.countryId);
        // Fields 3 and 4 are placeholders: the control fills those columns itself.
        record.append_child("CenterHandlingFee");
        record.append_child("DutyBrokerageFee");
        field(record, "RecordLastUpdated", row.lastUpdated);
    }
    return serialize(doc);
}

std::string selectedAnswer(const std::vector<SelectedVendorRow> &rows)
{
    pugi::xml_document doc;
    pugi::xml_node section = sectionsUpTo(doc, Section::Selected);
    for (const SelectedVendorRow &row : rows) {
        pugi::xml_node record = section.append_child("Vendor");
        field(record, "VendorID", row.id);
        field(record, "VendorName", xmlSafe(row.name));
        field(record, "CenterHandlingFee", fractionText(row.fee));
        field(record, "DutyBrokerageFee", std::int64_t{row.duty ? 1 : 0});
    }
    return serialize(doc);
}

} // namespace tarvo::server
