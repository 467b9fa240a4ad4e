#include "store/Store.h"

#include <algorithm>

namespace tarvo::server::store {

// Formatting here rather than with strftime() in the query saves a third of its time.
void usDate(const std::string &stored, std::string &into)
{
    auto digits = [&stored](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i) {
            if (stored[i] < '0' || stored[i] > '9') {
                return false;
            }
        }
        return true;
    };
    if (stored.size() < 10 || !digits(0, 4) || stored[4] != '-' || !digits(5, 2) ||
        stored[7] != '-' || !digits(8, 2)) {
        into = stored;
        return;
    }
    into.assign(stored, 5, 2);
    into += '/';
    into.append(stored, 8, 2);
    into += '/';
    into.append(stored, 0, 4);
}

std::string usDate(const std::string &stored)
{
    std::string shown;
    usDate(stored, shown);
    return shown;
}

namespace {

std::string assignmentName(std::int64_t centerId, std::int64_t vendorId)
{
    return "vendor " + std::to_string(vendorId) + " at center " + std::to_string(centerId);
}

} // namespace

void requireCommitAllowed(const BatchContext &context)
{
    if (context.mayCommit && !context.mayCommit()) {
        throw StoreError(StoreStatus::Unavailable, "the server is stopping");
    }
}

bool versionHolds(const VersionCondition &condition, std::optional<std::int64_t> current)
{
    return std::find(condition.versions.begin(), condition.versions.end(), current.value_or(0)) !=
           condition.versions.end();
}

std::string alreadyAssigned(std::int64_t centerId, std::int64_t vendorId)
{
    return assignmentName(centerId, vendorId) + " is already assigned";
}

std::string notAssigned(std::int64_t centerId, std::int64_t vendorId)
{
    return assignmentName(centerId, vendorId) + " is not assigned";
}

std::string unknownCenter(std::int64_t centerId)
{
    return "center " + std::to_string(centerId) + " does not exist";
}

std::string unknownVendor(std::int64_t vendorId)
{
    return "vendor " + std::to_string(vendorId) + " does not exist";
}

std::string cannotAdd(std::int64_t centerId, std::int64_t vendorId)
{
    return assignmentName(centerId, vendorId) + " cannot be added";
}

} // namespace tarvo::server::store
