#include "page/Validators.h"

#include <algorithm>
#include <charconv>

namespace tarvo::server {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// etagc: any visible character but the double quote, and bytes from 0x80 on.
bool isTagCharacter(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte == 0x21 || (byte >= 0x23 && byte <= 0x7E) || byte >= 0x80;
}

std::string_view withoutWeakPrefix(std::string_view tag)
{
    return tag.substr(0, 2) == "W/" ? tag.substr(2) : tag;
}

} // namespace

std::string entityTag(std::int64_t centerId, std::int64_t version)
{
    return "\"c" + std::to_string(centerId) + "-v" + std::to_string(version) + "\"";
}

std::optional<EntityTags> parseEntityTags(std::string_view value)
{
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < value.size() && isBlank(value[i])) {
            ++i;
        }
    };
    skipBlanks();
    if (i < value.size() && value[i] == '*') {
        ++i;
        skipBlanks();
        if (i != value.size()) {
            return std::nullopt;
        }
        return EntityTags{true, {}};
    }
    EntityTags list;
    while (i < value.size()) {
        skipBlanks();
        if (i < value.size() && value[i] == ',') {
            ++i;
            continue;
        }
        if (i == value.size()) {
            break;
        }
        const std::size_t start = i;
        if (value.substr(i, 2) == "W/") {
            i += 2;
        }
        if (i >= value.size() || value[i] != '"') {
            return std::nullopt;
        }
        ++i;
        while (i < value.size() && isTagCharacter(value[i])) {
            ++i;
        }
        if (i >= value.size() || value[i] != '"') {
            return std::nullopt;
        }
        ++i;
        list.tags.emplace_back(value.substr(start, i - start));
        skipBlanks();
        if (i < value.size() && value[i] != ',') {
            return std::nullopt;
        }
    }
    if (list.tags.empty()) {
        return std::nullopt;
    }
    return list;
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

bool anyTagMatches(const EntityTags &list, std::string_view current)
{
    const std::string_view wanted = withoutWeakPrefix(current);
    return list.any || std::any_of(list.tags.begin(), list.tags.end(), [&](const std::string &tag) {
               return withoutWeakPrefix(tag) == wanted;
           });
}

} // namespace tarvo::server
