// The cost of the audit trail and the version triggers for 32767-statement batches, and the
// commits per second of two builds.
#pragma once

#include "support/TestDatabase.h"

#include <string>

namespace tarvo::bench {

// Registers the with/without comparisons of inserts and updates, posted and applied to the
// store directly, for `engine` under `name`.
void registerBatchBenchmarks(server::testing::Engine engine, const std::string &name);

// Registers the commits per second of an older build of the server beside this one's when
// TARVO_BENCH_BEFORE names its program (CommitsBenchmark.cpp).
void registerCommitComparison(server::testing::Engine engine, const std::string &name);

} // namespace tarvo::bench
