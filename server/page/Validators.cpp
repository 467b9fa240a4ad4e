#include "page/Validators.h"

#include <algorithm>
#include <charconv>

namespace tarvo::server::page {

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

bool anyTagMatches(const EntityTags &list, std::string_view current)
{
    const std::string_view wanted = withoutWeakPrefix(current);
    return list.any || std::any_of(list.tags.begin(), list.tags.end(), [&](const std::string &tag) {
               return withoutWeakPrefix(tag) == wanted;
           });
}

} // namespace tarvo::server::page
