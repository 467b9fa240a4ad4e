// What a store holds and answers with, the same for every engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::server::store {

struct Center
{
    std::int64_t id = 0;
    std::string name;
    int code = 0;
};

struct Vendor
{
    std::int64_t id = 0;
    std::string name;
    std::int64_t countryId = 0;
    bool active = true;
    std::string lastUpdated; // "YYYY-MM-DD HH:MM:SS"
};

struct Assignment
{
    std::int64_t centerId = 0;
    std::int64_t vendorId = 0;
    double fee = 0.0; // fraction
    bool duty = false;
    std::string lastUpdated; // "YYYY-MM-DD HH:MM:SS"
};

// Rows written together, in this order: centers, vendors, assignments.
struct Records
{
    std::vector<Center> centers;
    std::vector<Vendor> vendors;
    std::vector<Assignment> assignments;
};

struct CenterCounts
{
    std::int64_t centerCode = 0;
    std::int64_t nonSelected = 0; // active vendors not assigned to the center
    std::int64_t selected = 0;    // vendors assigned to the center, active or not
};

struct ActiveVendorRow
{
    std::int64_t id = 0;
    std::string name;
    std::int64_t countryId = 0;
    std::string lastUpdated; // "mm/dd/yyyy", or the stored text when it is no date
};

struct SelectedVendorRow
{
    std::int64_t id = 0;
    std::string name;
    double fee = 0.0;
    bool duty = false;
};

struct BatchOutcome
{
    // Stale: the batch's version condition did not hold; nothing was tried.
    enum class Status { Applied, Conflict, Stale };
    Status status = Status::Applied;
    std::size_t added = 0;
    std::size_t updated = 0;
    std::size_t removed = 0;
    std::size_t failedStatement = 0; // 0-based; meaningful on Conflict
    std::string message;             // why the batch conflicts; empty when applied
};

// One row of the audit trail as the history of a center shows it.
struct AssignmentChange
{
    std::int64_t vendorId = 0;
    std::string vendorName; // empty when the vendor no longer exists
    std::string changedAt;  // "YYYY-MM-DD HH:MM:SS"
    std::string user;       // empty when the server had no users
    std::string action;     // "add", "update" or "remove"
    double fee = 0.0;       // written by an add or update; the one removed by a remove
    bool duty = false;
    std::int64_t version = 0; // the center's version right after the change; 0 when older
                              // than versions
};

// "YYYY-MM-DD..." as "mm/dd/yyyy"; any other text unchanged.
std::string usDate(const std::string &stored);
void usDate(const std::string &stored, std::string &into);

// The reasons a batch statement conflicts with what the database holds, worded alike by
// every engine.
std::string alreadyAssigned(std::int64_t centerId, std::int64_t vendorId);
std::string notAssigned(std::int64_t centerId, std::int64_t vendorId);
std::string unknownCenter(std::int64_t centerId);
std::string unknownVendor(std::int64_t vendorId);
std::string cannotAdd(std::int64_t centerId, std::int64_t vendorId);

} // namespace tarvo::server::store
