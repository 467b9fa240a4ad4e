#include "protocol/Wire.h"

#include <charconv>
#include <system_error>

namespace tarvo::protocol {

std::string_view queryName(Query query)
{
    switch (query) {
    case Query::Count:
        return param::kCount;
    case Query::Active:
        return param::kActive;
    case Query::Selected:
        return param::kSelected;
    case Query::History:
        return param::kHistory;
    }
    return param::kCount;
}

std::string queryText(Query query, std::int64_t centerId)
{
    std::string text(queryName(query));
    text += "=1&";
    text += param::kCenterId;
    text += '=';
    text += std::to_string(centerId);
    return text;
}

std::string historyQueryText(std::int64_t centerId, std::int64_t limit)
{
    std::string text = queryText(Query::History, centerId);
    text += '&';
    text += param::kLimit;
    text += '=';
    text += std::to_string(limit);
    return text;
}

std::string centersQueryText()
{
    return std::string(param::kCenters) + "=1";
}

std::string entityTag(std::int64_t centerId, std::int64_t version)
{
    return "\"c" + std::to_string(centerId) + "-v" + std::to_string(version) + "\"";
}

std::optional<std::int64_t> versionOfTag(std::string_view tag, std::int64_t centerId)
{
    // "c<center>-v<version>", quoted
    if (tag.size() < 6 || tag.substr(0, 2) != "\"c" || tag.back() != '"') {
        return std::nullopt;
    }
    const char *end = tag.data() + tag.size() - 1;
    std::int64_t center = 0;
    const auto [afterCenter, centerError] = std::from_chars(tag.data() + 2, end, center);
    if (centerError != std::errc() || center != centerId || end - afterCenter < 3 ||
        afterCenter[0] != '-' || afterCenter[1] != 'v') {
        return std::nullopt;
    }
    std::int64_t version = 0;
    const auto [afterVersion, versionError] = std::from_chars(afterCenter + 2, end, version);
    // Tags compare as exact strings: "c012-v5" is no tag of center 12.
    if (versionError != std::errc() || afterVersion != end || version < 0 ||
        entityTag(centerId, version) != tag) {
        return std::nullopt;
    }
    return version;
}

} // namespace tarvo::protocol
