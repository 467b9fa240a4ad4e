// Recognises the three statement shapes that the control posts and nothing else. The server
// never runs received text: a recognised statement becomes one of these values, which the
// database binds into its own prepared statements.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvo::server {

// INSERT INTO VendorCenterCrossReference (...) VALUES (center, vendor, fee, duty, GETDATE())
struct InsertAssignment
{
    std::int64_t centerId = 0;
    std::int64_t vendorId = 0;
    double fee = 0.0; // fraction: 0.08 is 8 %
    bool duty = false;

    bool operator==(const InsertAssignment &) const = default;
};

// UPDATE VendorCenterCrossReference SET fee, duty, GETDATE() WHERE vendor AND center
struct UpdateAssignment
{
    std::int64_t centerId = 0;
    std::int64_t vendorId = 0;
    double fee = 0.0;
    bool duty = false;

    bool operator==(const UpdateAssignment &) const = default;
};

// DELETE FROM VendorCenterCrossReference WHERE center AND vendor IN (ids)
struct DeleteAssignments
{
    std::int64_t centerId = 0;
    std::vector<std::int64_t> vendorIds; // as written, at least one

    bool operator==(const DeleteAssignments &) const = default;
};

using Statement = std::variant<InsertAssignment, UpdateAssignment, DeleteAssignments>;

struct ParseResult
{
    bool ok = false;
    Statement statement;
    std::string message; // why the text was refused; empty when ok
};

class StatementParser
{
public:
    // Never throws. Keywords and column names in any letter case, blanks (space, tab, line
    // breaks) wherever a token ends; ids are whole numbers within 64 bits, the fee a finite
    // decimal number (exponent allowed), the duty flag 0 or 1. Anything else, including a
    // trailing semicolon, a comment or quoted text, is refused with a reason.
    static ParseResult parse(std::string_view text);
};

} // namespace tarvo::server
