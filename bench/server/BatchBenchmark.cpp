// What the audit trail and the version triggers cost a batch of 32767 statements: every
// iteration saves the batch once with both and once without them (the triggers switched off
// and a store that writes no audit rows), taking turns at going first, and the counters give
// the median of each and their ratio. Through the page, as the control posts it, and
// straight to the store, where nothing else hides their cost. Goal: a ratio under 1.5.
#include "BatchBenchmark.h"

#include "BenchServer.h"
#include "store/Store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace tarvo::bench {

namespace {

enum class Kind { Inserts, Updates };
enum class Path { Post, Store };

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Updates alternate between two fees, so that each run writes every row anew.
std::vector<server::statement::Statement> statementsFor(Kind kind, double fee)
{
    std::vector<server::statement::Statement> statements;
    statements.reserve(static_cast<std::size_t>(kRows));
    for (std::int64_t id = 1; id <= kRows; ++id) {
        if (kind == Kind::Inserts) {
            statements.emplace_back(
                server::statement::InsertAssignment{kInsertCenter, id, fee, true});
        } else {
            statements.emplace_back(
                server::statement::UpdateAssignment{kUpdateCenter, id, fee, true});
        }
    }
    return statements;
}

std::unique_ptr<server::store::Store> storeFor(const std::string &location, bool auditTrail)
{
    server::store::StoreOptions options;
    options.connections = 1;
    options.auditTrail = auditTrail;
    return server::store::Store::open(location, options);
}

void bookkeepingCost(benchmark::State &state, Engine engine, Kind kind, Path path,
                     const std::string &name)
{
    BenchServer &server = BenchServer::instance(engine);
    const std::string bodies[2] = {
        kind == Kind::Inserts ? controlBody(kInsertCenter, kRows, "5.00", "1N")
                              : controlBody(kUpdateCenter, kRows, "12.50", "1U"),
        kind == Kind::Inserts ? controlBody(kInsertCenter, kRows, "5.00", "1N")
                              : controlBody(kUpdateCenter, kRows, "13.50", "1U")};
    const std::vector<server::statement::Statement> statements[2] = {statementsFor(kind, 0.125),
                                                                     statementsFor(kind, 0.135)};
    std::size_t run = 0;
    std::unique_ptr<server::store::Store> stores[2];
    if (path == Path::Store) {
        stores[0] = storeFor(server.db().location(), true);
        stores[1] = storeFor(server.db().location(), false);
    }
    std::vector<double> times[2]; // with, without
    bool withFirst = true;
    for (auto _ : state) {
        double spent = 0.0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool with = (turn == 0) == withFirst;
            server.versionTriggers(with);
            const std::size_t variant = run++ % 2;
            const auto start = std::chrono::steady_clock::now();
            if (path == Path::Post) {
                if (!expectOk(state, server.post(bodies[variant], !with))) {
                    break;
                }
            } else {
                const server::store::BatchResult result = stores[with ? 0 : 1]->apply(
                    statements[variant], {"2026-12-07 18:00:00", "bench"});
                if (!result.ok() ||
                    result.outcome.status != server::store::BatchOutcome::Status::Applied) {
                    state.SkipWithError((result.message + result.outcome.message).c_str());
                    break;
                }
            }
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            times[with ? 0 : 1].push_back(took.count());
            spent += took.count();
            if (kind == Kind::Inserts) {
                server.db().execute("DELETE FROM VendorCenterCrossReference WHERE CenterID = " +
                                    std::to_string(kInsertCenter));
            }
        }
        withFirst = !withFirst;
        state.SetIterationTime(spent / 1000.0);
    }
    server.versionTriggers(true);
    const double with = median(times[0]);
    const double without = median(times[1]);
    state.counters["with_ms"] = with;
    state.counters["without_ms"] = without;
    state.counters["body_bytes"] = static_cast<double>(bodies[0].size());
    state.counters["ratio"] = without > 0.0 ? with / without : 0.0;
    char line[200];
    std::snprintf(line, sizeof line, "%-50s with %7.1f ms  without %7.1f ms  ratio %.2f",
                  name.c_str(), with, without, without > 0.0 ? with / without : 0.0);
    addSummaryLine(line);
}

} // namespace

void registerBatchBenchmarks(Engine engine, const std::string &name)
{
    struct Variant
    {
        const char *label;
        Kind kind;
        Path path;
    };
    for (const Variant &v : {Variant{"Post32767Inserts", Kind::Inserts, Path::Post},
                             Variant{"Post32767Updates", Kind::Updates, Path::Post},
                             Variant{"Store32767Inserts", Kind::Inserts, Path::Store},
                             Variant{"Store32767Updates", Kind::Updates, Path::Store}}) {
        const std::string full = std::string(v.label) + "WithAndWithoutAudit/" + name;
        benchmark::RegisterBenchmark(full.c_str(), bookkeepingCost, engine, v.kind, v.path, full)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(7);
    }
}

} // namespace tarvo::bench
