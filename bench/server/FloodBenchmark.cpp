// A verified user's GET and /healthz while strangers flood the server: no flood, 16
// unknown-user uploads trickling (Content-Length 16 MiB), and 300 logins at once with unknown
// user names, at most 9 per address. Reports the median and the worst answer time of each.
// Run by hand: build/bench/server/bench_flood
#include "LoopbackCrowd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum Flood { None, Uploads, Logins };

std::string base64(const std::string &text)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, text.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            v = v << 8 | (k < n ? static_cast<unsigned char>(text[i + k]) : 0U);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? digits[(v >> (18 - 6 * k)) & 63] : '=';
        }
    }
    return out;
}

int connectFrom(int port, const std::string &source)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Strangers who keep `count` requests open, each opened again once answered or closed.
class Strangers
{
public:
    Strangers(int port, Flood flood) : m_port(port), m_flood(flood)
    {
        if (flood != None) {
            m_thread = std::thread([this] { run(); });
        }
    }
    ~Strangers()
    {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::string request(int n) const
    {
        if (m_flood == Uploads) {
            return "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nAuthorization: Basic eDp4\r\n"
                   "Content-Length: 16777216\r\n\r\nS";
        }
        // A name never seen before each time, so that no throttle of a name comes into play.
        return "GET /CenterVendor.asp?centers=1 HTTP/1.1\r\nHost: x\r\nAuthorization: Basic " +
               base64("stranger" + std::to_string(n) + ":x") + "\r\n\r\n";
    }

    void run()
    {
        const int count = m_flood == Uploads ? 16 : 300;
        std::vector<int> fds(static_cast<std::size_t>(count), -1);
        while (!m_stop) {
            for (int i = 0; i < count; ++i) {
                int &fd = fds[static_cast<std::size_t>(i)];
                if (fd < 0) {
                    const int a = 2 + i / 9;
                    fd = connectFrom(m_port, "127.0." + std::to_string(1 + a / 250) + "." +
                                                 std::to_string(a % 250 + 1));
                    const std::string text = request(m_round++);
                    if (fd >= 0 && send(fd, text.data(), text.size(), MSG_NOSIGNAL) < 0) {
                        close(fd);
                        fd = -1;
                    }
                    continue;
                }
                pollfd p{fd, POLLIN, 0};
                char buffer[4096];
                if (poll(&p, 1, 0) > 0 && read(fd, buffer, sizeof buffer) >= 0) {
                    close(fd); // answered or closed: the next one takes its place
                    fd = -1;
                } else if (m_flood == Uploads) {
                    send(fd, "Q", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    int m_port;
    Flood m_flood;
    int m_round = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

void answerTimes(benchmark::State &state, const std::string &target)
{
    // One server for every run, started once: its users file names alice.
    static tarvo::bench::LoopbackServer server("alice-pw");
    httplib::Client alice("127.0.0.1", server.port());
    alice.set_basic_auth("alice", "alice-pw");
    alice.set_read_timeout(30);
    alice.Get("/CenterVendor.asp?centers=1"); // signed in before the flood
    Strangers strangers(server.port(), static_cast<Flood>(state.range(0)));
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the flood under way
    std::vector<double> times;
    int refused = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto res = alice.Get(target);
        const std::chrono::duration<double> took = Clock::now() - start;
        refused += !res || res->status != 200;
        times.push_back(took.count() * 1000);
        state.SetIterationTime(took.count());
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["worst_ms"] = times.back();
    state.counters["not_200"] = refused;
}

void BM_VerifiedGet(benchmark::State &state)
{
    answerTimes(state, "/CenterVendor.asp?centers=1");
}
void BM_Healthz(benchmark::State &state)
{
    answerTimes(state, "/healthz");
}

// Argument: 0 no flood, 1 unknown-user uploads, 2 unknown-user logins.
BENCHMARK(BM_VerifiedGet)
    ->DenseRange(0, 2)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Healthz)
    ->DenseRange(0, 2)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
