// The three statement shapes of the save batch, against the one table: the control writes them
// with these functions and the server's parser reads them with these names. Parsers compare the
// names ignoring letter case; the writers keep the batch's historical spelling byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::protocol::statement {

inline constexpr std::string_view kTable = "VendorCenterCrossReference";
inline constexpr std::string_view kCenterId = "CenterID";
inline constexpr std::string_view kVendorId = "VendorID";
inline constexpr std::string_view kFee = "CenterHandlingFee"; // a fraction
inline constexpr std::string_view kDuty = "DutyBrokerageFee"; // 0 or 1
inline constexpr std::string_view kUpdated = "RecordLastUpdated";
// The server's clock, called without arguments: GETDATE().
inline constexpr std::string_view kNow = "GETDATE";

// Each from values already written out (whole-number ids, the fee as a fraction, duty 0 or 1).
// Checks nothing: the batch has. Surprise: the insert ends in a blank.
std::string insertText(std::string_view center, std::string_view vendor, std::string_view fee,
                       std::string_view duty);
std::string updateText(std::string_view center, std::string_view vendor, std::string_view fee,
                       std::string_view duty);
// ids: comma-separated, no blanks. Surprise: table and columns in capitals.
std::string deleteText(std::string_view center, std::string_view ids);

} // namespace tarvo::protocol::statement
