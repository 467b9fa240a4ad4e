// The plain-text reason of a commit refused because its center changed since it was loaded,
// from the center's newest audit rows.
#pragma once

#include "store/Records.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::server::page {

// The changes named at most, one line each.
inline constexpr std::size_t kChangesNamed = 3;

// "Nothing was saved: center 12 changed since it was loaded." and a line for each of the
// changes in `newestFirst` made after version `since` (at most kChangesNamed; "...and earlier
// changes." when `newestFirst` holds more of them), or a line saying that no record names
// who changed it. Names and users have line breaks and control characters replaced.
std::string changedSinceText(std::int64_t centerId, std::int64_t since,
                             const std::vector<store::AssignmentChange> &newestFirst);

} // namespace tarvo::server::page
