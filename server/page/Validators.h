// The page's HTTP validators: the entity tag of a center's version, and the If-Match and
// If-None-Match lists that requests compare with it. Pure text handling.
#pragma once

#include "protocol/Wire.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server::page {

// The conditional headers of one request, each the values of all its header lines joined.
struct Conditions
{
    std::optional<std::string> ifMatch;
    std::optional<std::string> ifNoneMatch;
};

// An If-Match or If-None-Match value: "*" or entity tags.
struct EntityTags
{
    bool any = false;              // "*"
    std::vector<std::string> tags; // each as sent: quotes included, a weak one with its W/
};

// The tag's form is the protocol's, shared with every client.
using protocol::entityTag;
using protocol::versionOfTag;

// "*", or a comma-separated list of entity tags (empty elements allowed); nullopt for
// anything else. Never throws.
std::optional<EntityTags> parseEntityTags(std::string_view value);

// If-None-Match's weak comparison: true when the list is "*" or names `current` with or
// without W/.
bool anyTagMatches(const EntityTags &list, std::string_view current);

} // namespace tarvo::server::page
