// /healthz from a new address while 1,200 slow request heads from 18 addresses hold the
// server's default limits (1,024 connections, 64 per address): each head sends its first
// part, then one byte every 5 s, and opens again 250 ms after the server closes it, as a
// slowloris does. Each iteration asks from an address not used before and waits at most 10 s;
// a time-out counts as 10 s. Goal: under 1 s at p99.
// Run by hand: build/bench/server/bench_slowheads
#include "LoopbackCrowd.h"

#include <string>
#include <vector>

namespace {

using namespace tarvo::bench;

constexpr int kHeads = 1200;
constexpr int kHeadAddresses = 18;
constexpr auto kCap = std::chrono::seconds(10);

void BM_HealthzUnderSlowHeads(benchmark::State &state)
{
    LoopbackServer server;
    std::vector<std::string> sources;
    for (int i = 1; i <= kHeadAddresses; ++i) {
        sources.push_back("127.0.1." + std::to_string(i));
    }
    Crowd heads({server.port(), sources, kHeads,
                 [](int, long) {
                     return std::string("GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
                 },
                 std::chrono::seconds(5), std::chrono::milliseconds(250)});
    // In place: every head has connected once and as many are open as the server lets in.
    waitUntil([&] { return heads.allConnectedOnce(); }, std::chrono::seconds(30));
    int open = 0;
    waitUntil(
        [&] {
            const int now = heads.open();
            const bool steady = now == open;
            open = now;
            return steady;
        },
        std::chrono::seconds(5));
    std::vector<double> times;
    int timeouts = 0;
    int refused = 0;
    int asker = 0;
    for (auto _ : state) {
        const Exchange e = exchangeFrom("127.0.2." + std::to_string(++asker), server.port(),
                                        "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                        "Connection: close\r\n\r\n",
                                        kCap);
        timeouts += e.timedOut ? 1 : 0;
        refused += !e.timedOut && e.status != 200 ? 1 : 0;
        times.push_back(e.ms);
        state.SetIterationTime(e.ms / 1000);
    }
    reportSpread(state, times);
    state.counters["timeouts"] = timeouts;
    state.counters["not_200"] = refused;
    state.counters["heads_open_before"] = open;
    state.counters["heads_open_after"] = heads.open();
    state.counters["heads_closed"] = static_cast<double>(heads.closedByServer());
}

BENCHMARK(BM_HealthzUnderSlowHeads)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
