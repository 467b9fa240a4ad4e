// The XML answers of the three queries. The control reads them by position only: the
// document element holds the sections (0 count, 1 active vendors not selected, 2 selected
// vendors), a section its records, a record its fields. The sections in front of the one
// answered are present and empty; nothing else stands between the counted nodes.
#pragma once

#include "page/Protocol.h"
#include "store/Records.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server::page {

// Section 0: one record of center code, active vendors not selected, vendors selected.
std::string countAnswer(const store::CenterCounts &counts);

// An answer built one record at a time, so that tens of thousands of rows go from the
// database into the document without a copy in between.
class ListAnswer
{
public:
    // Section::Active or Section::Selected.
    explicit ListAnswer(Section section);
    ~ListAnswer();
    ListAnswer(const ListAnswer &) = delete;
    ListAnswer &operator=(const ListAnswer &) = delete;

    // Section 1 record: id, name, country id, two empty fields and the date updated.
    void add(const store::ActiveVendorRow &row);
    // Section 2 record: id, name, fee fraction and duty flag (1 or 0).
    void add(const store::SelectedVendorRow &row);

    std::string text() const;

private:
    struct Document;
    std::unique_ptr<Document> m_doc;
};

// Every center for a host to choose from: one Center record per center with its ID, Name
// and CenterCode, in the order given.
std::string centersAnswer(const std::vector<store::Center> &centers);

// A center's audit rows in the order given: one Change record per row with its ChangedAt,
// User, Action, VendorID, VendorName, Fee (a fraction), Duty (1 or 0) and ETag, the center's
// tag right after the change (empty for a change older than versions).
std::string historyAnswer(std::int64_t centerId,
                          const std::vector<store::AssignmentChange> &changes);

std::string activeAnswer(const std::vector<store::ActiveVendorRow> &rows);
std::string selectedAnswer(const std::vector<store::SelectedVendorRow> &rows);

// `text` made fit for an XML 1.0 document whatever bytes it holds: every invalid UTF-8
// sequence, encoded surrogate and non-character becomes U+FFFD; the control characters XML
// forbids (all below U+0020 but tab, line feed and carriage return) are dropped.
std::string xmlText(std::string_view text);

// The shortest decimal text that reads back as the same double, never in exponent form
// (0.08, 0.00001, 0.125, 0).
std::string fractionText(double value);

} // namespace tarvo::server::page
