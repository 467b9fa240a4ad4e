// The names the control, the desk and the server share on the wire: the page and its query
// parameters, the headers of versions, the element names of the answers and the form of an
// entity tag. Nothing here does input or output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::protocol {

inline constexpr std::string_view kPage = "/CenterVendor.asp";

// Query parameter names; a query asks with the value "1" ("count=1").
namespace param {
inline constexpr std::string_view kCount = "count";
inline constexpr std::string_view kActive = "active";
inline constexpr std::string_view kSelected = "selected";
inline constexpr std::string_view kHistory = "history";
inline constexpr std::string_view kCenters = "centers";
inline constexpr std::string_view kCenterId = "centerID";
inline constexpr std::string_view kLimit = "limit";
// The form field of the save batch, once per statement.
inline constexpr std::string_view kStatement = "SQL";
} // namespace param

namespace header {
inline constexpr std::string_view kETag = "ETag";
inline constexpr std::string_view kIfMatch = "If-Match";
inline constexpr std::string_view kIfNoneMatch = "If-None-Match";
} // namespace header

// The queries of one center; for the first three also the position of the answer's section.
enum class Query { Count = 0, Active = 1, Selected = 2, History = 3 };

std::string_view queryName(Query query);

// "count=1&centerID=42": the text after "?". Surprise: ends with the id, so the control can
// append it itself where the described URL form needs that.
std::string queryText(Query query, std::int64_t centerId);
// "history=1&centerID=42&limit=50".
std::string historyQueryText(std::int64_t centerId, std::int64_t limit);
// "centers=1".
std::string centersQueryText();

// Element names of the answers. The control reads the three query answers by position only,
// so these names bind the server and the readers of the centers and history answers.
namespace element {
inline constexpr std::string_view kRoot = "CenterVendor";
// Sections in the order of their positions: Query::Count, Active, Selected.
inline constexpr std::string_view kSections[] = {"Count", "ActiveVendors", "SelectedVendors"};
inline constexpr std::string_view kCountRecord = "Record";
inline constexpr std::string_view kCenterCode = "CenterCode";
inline constexpr std::string_view kNonSelected = "NonSelected";
inline constexpr std::string_view kSelected = "Selected";
inline constexpr std::string_view kVendor = "Vendor";
inline constexpr std::string_view kId = "ID";
inline constexpr std::string_view kName = "Name";
inline constexpr std::string_view kCountryId = "CountryID";
inline constexpr std::string_view kFee = "Fee";   // a fraction: 0.08 is 8 %
inline constexpr std::string_view kDuty = "Duty"; // 1 or 0
inline constexpr std::string_view kUpdated = "Updated";
inline constexpr std::string_view kCenters = "Centers";
inline constexpr std::string_view kCenter = "Center";
inline constexpr std::string_view kHistory = "History";
inline constexpr std::string_view kChange = "Change";
inline constexpr std::string_view kChangedAt = "ChangedAt";
inline constexpr std::string_view kUser = "User";
inline constexpr std::string_view kAction = "Action";
inline constexpr std::string_view kVendorId = "VendorID";
inline constexpr std::string_view kVendorName = "VendorName";
inline constexpr std::string_view kETag = "ETag";
} // namespace element

// The strong tag of center `centerId` at `version`, quotes included: "c12-v1733580000000000".
// Distinct centers never share a tag.
std::string entityTag(std::int64_t centerId, std::int64_t version);

// The version `tag` names for center `centerId`; nullopt for a weak tag, another center's or
// any text entityTag never writes (leading zeros included).
std::optional<std::int64_t> versionOfTag(std::string_view tag, std::int64_t centerId);

} // namespace tarvo::protocol
