// A verified user's requests while 200 clients from 200 addresses flood the server with
// sign-ins: unknown user names, or guesses of the one real user's password. The user "alice"
// signed in once from her own address before the flood, so the server may remember her
// credentials. Reports her answer times (p50, p99, max) and the statuses she and the flood
// got; and, after a restart of the server, what her first sign-in from an address where she
// signed in before the restart gets under the flood.
// Run by hand: build/bench/server/bench_signins
#include "LoopbackCrowd.h"

#include <string>
#include <vector>

namespace {

using namespace tarvo::bench;

constexpr int kFlooders = 200;
constexpr auto kCap = std::chrono::seconds(10);
const std::string kPassword = "alice-pw-7Qx";
const std::string kAlice = "127.0.3.1";

enum Flood { UnknownNames, Guesses };

std::string request(const std::string &target, const std::string &authorization)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           (authorization.empty() ? "" : "Authorization: " + authorization + "\r\n") +
           "Connection: close\r\n\r\n";
}

Exchange aliceGet(int port, const std::string &source)
{
    return exchangeFrom(
        source, port, request("/CenterVendor.asp?centers=1", basicAuth("alice", kPassword)), kCap);
}

Crowd::Options flood(int port, Flood kind)
{
    std::vector<std::string> sources;
    for (int i = 1; i <= kFlooders; ++i) {
        sources.push_back("127.0.4." + std::to_string(i));
    }
    return {port,
            sources,
            kFlooders,
            [kind](int, long round) {
                const std::string n = std::to_string(round);
                return request("/CenterVendor.asp?centers=1",
                               kind == UnknownNames ? basicAuth("stranger" + n, "x")
                                                    : basicAuth("alice", "guess" + n));
            },
            std::chrono::milliseconds(0),
            std::chrono::milliseconds(0)};
}

// Iterations ask `target` as alice (or without credentials for /healthz) from her address.
void underFlood(benchmark::State &state, Flood kind, const std::string &target)
{
    LoopbackServer server(kPassword);
    const Exchange first = aliceGet(server.port(), kAlice);
    state.counters["first_signin_status"] = first.status;
    Crowd crowd(flood(server.port(), kind));
    waitUntil([&] { return crowd.allConnectedOnce(); }, std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the throttles have come into play
    const std::string authorization =
        target == "/healthz" ? std::string() : basicAuth("alice", kPassword);
    std::vector<double> times;
    std::array<int, 600> statuses{};
    int timeouts = 0;
    for (auto _ : state) {
        const Exchange e =
            exchangeFrom(kAlice, server.port(), request(target, authorization), kCap);
        ++statuses[static_cast<std::size_t>(e.status)];
        timeouts += e.timedOut ? 1 : 0;
        times.push_back(e.ms);
        state.SetIterationTime(e.ms / 1000);
    }
    reportSpread(state, times);
    state.counters["timeouts"] = timeouts;
    for (int status = 0; status < 600; ++status) {
        if (statuses[static_cast<std::size_t>(status)] > 0) {
            state.counters["s" + std::to_string(status)] =
                statuses[static_cast<std::size_t>(status)];
        }
    }
    reportAnswers(state, crowd, "flood_");
}

void BM_VerifiedGetUnderUnknownNames(benchmark::State &state)
{
    underFlood(state, UnknownNames, "/CenterVendor.asp?centers=1");
}
void BM_HealthzUnderUnknownNames(benchmark::State &state)
{
    underFlood(state, UnknownNames, "/healthz");
}
void BM_VerifiedGetUnderGuesses(benchmark::State &state)
{
    underFlood(state, Guesses, "/CenterVendor.asp?centers=1");
}

// Alice signs in from 127.0.3.2, the server restarts, the unknown-name flood begins, and she
// signs in from 127.0.3.2 again: the status and time of that first answer.
void BM_SignInAfterRestartUnderUnknownNames(benchmark::State &state)
{
    const std::string source = "127.0.3.2";
    LoopbackServer server(kPassword);
    state.counters["before_restart_status"] = aliceGet(server.port(), source).status;
    server.restart();
    Crowd crowd(flood(server.port(), UnknownNames));
    waitUntil([&] { return crowd.allConnectedOnce(); }, std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    for (auto _ : state) {
        const Exchange e = aliceGet(server.port(), source);
        state.counters["after_restart_status"] = e.status;
        state.counters["timeouts"] = e.timedOut ? 1 : 0;
        state.SetIterationTime(e.ms / 1000);
    }
    reportAnswers(state, crowd, "flood_");
}

BENCHMARK(BM_VerifiedGetUnderUnknownNames)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HealthzUnderUnknownNames)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SignInAfterRestartUnderUnknownNames)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifiedGetUnderGuesses)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
