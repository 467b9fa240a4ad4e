// The database and in-process servers the server benchmarks share: 32767 vendors, a query
// center, an empty center for insert batches, a full one for update batches and a center of
// 100 assignments per concurrent client.
#pragma once

#include "ReferenceServer.h"
#include "support/TestDatabase.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <httplib.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::bench {

using server::testing::Engine;

inline constexpr std::int64_t kRows = 32767;
inline constexpr std::int64_t kSelected = 8767; // the rest, 24000, are active and not selected
inline constexpr std::int64_t kQueryCenter = 1;
inline constexpr std::int64_t kInsertCenter = 2;
inline constexpr std::int64_t kUpdateCenter = 3;
inline constexpr std::int64_t kFirstClientCenter = 10;
inline constexpr int kClients = 8;
inline constexpr int kBatchRows = 100;

// The body the control itself would post for these rows of its selected list.
std::string controlBody(std::int64_t center, std::int64_t rows, const char *fee,
                        const char *column4);

class BenchServer
{
public:
    // Filled once per engine and kept for the whole run.
    static BenchServer &instance(Engine engine);

    explicit BenchServer(Engine engine);
    ~BenchServer();
    BenchServer(const BenchServer &) = delete;
    BenchServer &operator=(const BenchServer &) = delete;

    // A client per request, as the control makes a new document object per query. `bare`
    // reaches a second server on the same database whose store writes no audit rows.
    httplib::Result get(const std::string &target) const;
    httplib::Result post(const std::string &body, bool bare = false);

    server::testing::TestDatabase &db() { return m_db; }
    // Switches the version triggers of the database on or off, through the store.
    void versionTriggers(bool on);

private:
    struct Serving
    {
        std::unique_ptr<server::ReferenceServer> server;
        std::thread thread;
        int port = -1;
    };
    void fill();
    Serving &serving(bool bare);

    server::testing::TestDatabase m_db;
    std::unique_ptr<server::store::Store> m_store;
    Serving m_servers[2];
};

// Lines printed once every benchmark has run: the comparisons' medians and ratios.
void addSummaryLine(const std::string &line);
const std::vector<std::string> &summaryLines();

// False, and the benchmark failed with the answer, unless `res` is a 200.
bool expectOk(benchmark::State &state, const httplib::Result &res);

} // namespace tarvo::bench
