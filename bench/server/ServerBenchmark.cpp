// The reference server at the control's limit of 32767 rows, on each store engine: the three
// query answers for a center whose lists hold 32767 vendors together, save batches of 32767
// statements with and without the audit trail and the version triggers (BatchBenchmark.cpp),
// and 8 clients committing 100-statement batches to centers of their own.
// Goals: the three GETs under 150 ms together and a POST under 1 s on SQLite; PostgreSQL
// within twice SQLite's single-client times and ahead of it with 8 clients.
// PostgreSQL runs when TARVO_TEST_PG names a cluster (./scripts/bench-server starts one).
#include "BatchBenchmark.h"
#include "BenchServer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tarvo::bench;

void threeQueries(benchmark::State &state, Engine engine)
{
    BenchServer &server = BenchServer::instance(engine);
    const std::string center = std::to_string(kQueryCenter);
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const char *kind : {"count", "active", "selected"}) {
            const auto res =
                server.get(std::string("/CenterVendor.asp?") + kind + "=1&centerID=" + center);
            expectOk(state, res);
            bytes += res ? res->body.size() : 0;
        }
    }
    state.counters["answer_bytes"] = static_cast<double>(bytes);
}

void oneQuery(benchmark::State &state, Engine engine, const char *kind)
{
    BenchServer &server = BenchServer::instance(engine);
    for (auto _ : state) {
        expectOk(state, server.get(std::string("/CenterVendor.asp?") + kind + "=1&centerID=1"));
    }
}

// 8 clients, each committing batches of 100 fee updates to its own center for 10 s.
void eightClientsCommitting(benchmark::State &state, Engine engine)
{
    BenchServer &server = BenchServer::instance(engine);
    std::vector<std::string> bodies;
    for (int client = 0; client < kClients; ++client) {
        bodies.push_back(controlBody(kFirstClientCenter + client, kBatchRows, "7.50", "0U"));
    }
    for (auto _ : state) {
        std::atomic<long> batches{0};
        std::atomic<long> failures{0};
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<std::thread> clients;
        for (int client = 0; client < kClients; ++client) {
            clients.emplace_back([&, client] {
                while (std::chrono::steady_clock::now() < end) {
                    const auto res = server.post(bodies[static_cast<std::size_t>(client)]);
                    ++(res && res->status == 200 ? batches : failures);
                }
            });
        }
        for (std::thread &client : clients) {
            client.join();
        }
        state.counters["batches_per_second"] = static_cast<double>(batches) / 10.0;
        state.counters["failed_batches"] = static_cast<double>(failures);
    }
}

void registerFor(Engine engine, const std::string &name)
{
    const auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark(("ThreeQueriesFor32767Rows/" + name).c_str(), threeQueries, engine)
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("CountQuery/" + name).c_str(), oneQuery, engine, "count")
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("ActiveQuery24000Rows/" + name).c_str(), oneQuery, engine,
                                 "active")
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("SelectedQuery8767Rows/" + name).c_str(), oneQuery, engine,
                                 "selected")
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("EightClients100StatementBatches10s/" + name).c_str(),
                                 eightClientsCommitting, engine)
        ->Unit(ms)
        ->UseRealTime()
        ->Iterations(1);
    registerBatchBenchmarks(engine, name);
    registerCommitComparison(engine, name);
}

} // namespace

int main(int argc, char **argv)
{
    registerFor(Engine::Sqlite, "sqlite");
    if (std::getenv("TARVO_TEST_PG") != nullptr) {
        registerFor(Engine::Postgres, "postgresql");
    } else {
        std::fprintf(stderr, "TARVO_TEST_PG is not set: PostgreSQL is left out "
                             "(./scripts/bench-server starts a cluster)\n");
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (!summaryLines().empty()) {
        std::printf("\nMedians: 32767-statement batches with the audit trail and the version "
                    "triggers against without them (goal: ratio under 1.5); commits per second "
                    "of two builds\n");
        for (const std::string &line : summaryLines()) {
            std::printf("  %s\n", line.c_str());
        }
    }
    benchmark::Shutdown();
    return 0;
}
