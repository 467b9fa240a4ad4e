// Deterministic sample data for demonstrations and manual testing: the same centers, vendors
// and assignments on every run and every machine.
#pragma once

#include "store/Records.h"

namespace tarvo::server {

// Four centers with the center codes 1, 2, 3 and 5 (center 4 has no assignment), 300
// vendors with generated company names (some holding & and '), about one in eight inactive,
// country 1 for a little under half, and assignments with fees such as 0.05, 0.08 and 0.125.
store::Records makeSampleData();

} // namespace tarvo::server
