#include "store/Store.h"

#include <algorithm>

namespace tarvo::server {

bool isPostgresLocation(std::string_view location)
{
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

namespace {

// A query key as libpq reads it: percent-decoded ("pass%77ord" is "password").
std::string decodedKey(std::string_view key)
{
    std::string decoded;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (key[i] == '%' && i + 2 < key.size() && hex(key[i + 1]) >= 0 && hex(key[i + 2]) >= 0) {
            decoded += static_cast<char>(hex(key[i + 1]) * 16 + hex(key[i + 2]));
            i += 2;
        } else {
            decoded += key[i];
        }
    }
    return decoded;
}

} // namespace

std::string shownLocation(const std::string &location)
{
    const std::size_t scheme = location.find("://");
    if (scheme == std::string::npos) {
        return location;
    }
    std::string shown = location;
    // user:password@ in the authority: libpq ends the user information at the first "@"
    // before any "/", so a "?" or "#" in the password belongs to it.
    const std::size_t authority = scheme + 3;
    const std::size_t at = shown.find_first_of("@/", authority);
    if (at != std::string::npos && shown[at] == '@') {
        const std::size_t colon = shown.find(':', authority);
        if (colon != std::string::npos && colon < at) {
            shown.replace(colon + 1, at - colon - 1, "***");
        }
    }
    // password=... among the query parameters, the key in any spelling libpq decodes
    const std::size_t userEnd = shown.find_first_of("@/", authority);
    std::size_t query = shown.find('?', userEnd == std::string::npos ? authority : userEnd);
    while (query != std::string::npos) {
        const std::size_t key = query + 1;
        const std::size_t next = shown.find('&', key);
        const std::size_t equals = shown.find('=', key);
        if (equals != std::string::npos && (next == std::string::npos || equals < next) &&
            decodedKey(std::string_view(shown).substr(key, equals - key)) == "password") {
            const std::size_t value = equals + 1;
            shown.replace(value, (next == std::string::npos ? shown.size() : next) - value, "***");
        }
        query = shown.find('&', key);
    }
    return shown;
}

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

} // namespace tarvo::server
