// Commits per second of two builds of centervendor-server, with 8 clients sending batches of
// 100 fee updates to centers of their own: the program named by TARVO_BENCH_BEFORE (an older
// build; ./scripts/bench-server --before REV makes one) and this build's, each started on the
// same database in turns, four rounds of 4 s each, first one then the other going first.
// Only the program's options and HTTP are used, so that any build can be measured.
#include "BenchServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace tarvo::bench {

namespace {

// Even, so that each build goes first as often: the audit rows of each round slow the next.
constexpr int kRounds = 4;
constexpr auto kRoundTime = std::chrono::seconds(4);

// The program serving `db` on a free loopback port until destroyed.
class ServerProcess
{
public:
    ServerProcess(const std::string &program, const std::string &db, const std::string &dir)
        : m_stdout(dir + "/server.out")
    {
        std::vector<std::string> args = {program,
                                         "--db",
                                         db,
                                         "--listen",
                                         "127.0.0.1:0",
                                         "--db-connections",
                                         std::to_string(kClients)};
        std::vector<char *> argv;
        for (std::string &arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, m_stdout.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // The request log, a line per batch, is not what is measured.
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&m_pid, program.c_str(), &files, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&files);
        if (rc != 0) {
            throw std::runtime_error("cannot start " + program);
        }
        const std::string prefix = "listening on http://127.0.0.1:";
        for (int wait = 0; wait < 1000 && m_port == 0; ++wait) {
            std::ifstream out(m_stdout);
            std::string line;
            if (std::getline(out, line) && line.rfind(prefix, 0) == 0) {
                m_port = std::atoi(line.c_str() + prefix.size());
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (m_port == 0) {
            throw std::runtime_error(program + " did not start serving");
        }
    }

    ~ServerProcess()
    {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }

    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    int port() const { return m_port; }

private:
    std::string m_stdout;
    pid_t m_pid = -1;
    int m_port = 0;
};

// Batches answered 200 per second, 8 clients for one round.
double commitsPerSecond(int port, const std::vector<std::string> &bodies, long &failures)
{
    std::atomic<long> batches{0};
    std::atomic<long> failed{0};
    const auto end = std::chrono::steady_clock::now() + kRoundTime;
    std::vector<std::thread> clients;
    for (const std::string &body : bodies) {
        clients.emplace_back([&, port] {
            while (std::chrono::steady_clock::now() < end) {
                httplib::Client cli("127.0.0.1", port);
                cli.set_read_timeout(60);
                const auto res =
                    cli.Post("/CenterVendor.asp", body, "application/x-www-form-urlencoded");
                ++(res && res->status == 200 ? batches : failed);
            }
        });
    }
    for (std::thread &client : clients) {
        client.join();
    }
    failures += failed;
    return static_cast<double>(batches) / std::chrono::duration<double>(kRoundTime).count();
}

void beforeAndAfter(benchmark::State &state, Engine engine, std::string before, std::string after,
                    std::string name)
{
    BenchServer &server = BenchServer::instance(engine);
    std::vector<std::string> bodies;
    for (int client = 0; client < kClients; ++client) {
        bodies.push_back(controlBody(kFirstClientCenter + client, kBatchRows, "7.50", "0U"));
    }
    char pattern[] = "/tmp/tarvo-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    std::vector<double> rates[2]; // before, after
    long failures = 0;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                const int which = (turn + round) % 2;
                const ServerProcess program(which == 0 ? before : after, server.db().location(),
                                            dir);
                rates[which].push_back(commitsPerSecond(program.port(), bodies, failures));
            }
        }
    }
    std::remove((dir + "/server.out").c_str());
    rmdir(dir.c_str());
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n == 0 ? 0.0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    };
    state.counters["before_batches_per_second"] = median(rates[0]);
    state.counters["after_batches_per_second"] = median(rates[1]);
    state.counters["after_over_before"] =
        median(rates[0]) > 0 ? median(rates[1]) / median(rates[0]) : 0.0;
    state.counters["failed_batches"] = static_cast<double>(failures);
    char head[200];
    std::snprintf(head, sizeof head,
                  "%-44s before %5.0f/s  after %5.0f/s  rounds (before, after):", name.c_str(),
                  median(rates[0]), median(rates[1]));
    std::string line = head;
    for (int round = 0; round < static_cast<int>(rates[0].size()); ++round) {
        char figures[64];
        std::snprintf(figures, sizeof figures, " %.0f %.0f", rates[0][round],
                      round < static_cast<int>(rates[1].size()) ? rates[1][round] : 0.0);
        line += figures;
    }
    addSummaryLine(line);
}

} // namespace

void registerCommitComparison(Engine engine, const std::string &name)
{
    const char *before = std::getenv("TARVO_BENCH_BEFORE");
    if (before == nullptr || *before == '\0') {
        return;
    }
    const char *after = std::getenv("TARVO_BENCH_AFTER");
    const std::string full = "EightClientsCommitsBeforeAndAfter/" + name;
    benchmark::RegisterBenchmark(
        full.c_str(), beforeAndAfter, engine, std::string(before),
        std::string(after != nullptr && *after != '\0' ? after : CENTERVENDOR_SERVER_PATH), full)
        ->Unit(benchmark::kSecond)
        ->UseRealTime()
        ->Iterations(1);
}

} // namespace tarvo::bench
