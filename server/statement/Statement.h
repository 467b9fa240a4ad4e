// The three changes a save batch may make, as values: what the statement parser makes of the
// text the control posts, and what the store binds into its own prepared statements.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

namespace tarvo::server::statement {

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

} // namespace tarvo::server::statement
