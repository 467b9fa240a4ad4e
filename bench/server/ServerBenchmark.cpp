// The reference server at the control's limit of 32767 rows, on each store engine: the three
// query answers for a center whose lists hold 32767 vendors together, save batches of 32767
// statements, and 8 clients committing 100-statement batches to centers of their own.
// Goals: the three GETs under 150 ms together and a POST under 1 s on SQLite; PostgreSQL
// within twice SQLite's single-client times and ahead of it with 8 clients. The 32767-statement
// batches run with the triggers that keep the centers' versions and without them (switched
// through the store), which gives their cost.
// PostgreSQL runs when TARVO_TEST_PG names a cluster (./scripts/bench-server starts one).
#include "ReferenceServer.h"
#include "logic/RowText.h"
#include "logic/Statements.h"
#include "store/Store.h"
#include "support/TestDatabase.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <httplib.h>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using tarvo::server::ReferenceServer;
using tarvo::server::testing::Engine;
using tarvo::server::testing::TestDatabase;

constexpr std::int64_t kRows = 32767;
constexpr std::int64_t kSelected = 8767; // the rest, 24000, are active and not selected

// Center 1: the query center (8767 selected, 24000 not). Center 2: no assignment, target of
// the insert batch. Center 3: every vendor assigned, target of the update batch. Centers 10
// to 17: 100 vendors each, one per concurrent client.
constexpr std::int64_t kQueryCenter = 1;
constexpr std::int64_t kInsertCenter = 2;
constexpr std::int64_t kUpdateCenter = 3;
constexpr std::int64_t kFirstClientCenter = 10;
constexpr int kClients = 8;
constexpr int kBatchRows = 100;

// The body the control itself would post for these rows of its selected list.
std::string controlBody(std::int64_t center, std::int64_t rows, const char *fee,
                        const char *column4)
{
    std::vector<tarvo::logic::SelectedRow> selected;
    selected.reserve(static_cast<std::size_t>(rows));
    for (std::int64_t id = 1; id <= rows; ++id) {
        selected.push_back({std::to_string(id), tarvo::logic::feeFromText(fee),
                            tarvo::logic::dutyMarkFromText(column4)});
    }
    return tarvo::logic::buildBody(
        tarvo::logic::buildStatements(static_cast<std::int32_t>(center), selected, {}));
}

class BenchServer
{
public:
    explicit BenchServer(Engine engine) : m_db(engine)
    {
        fill();
        tarvo::server::StoreOptions options;
        options.connections = kClients;
        m_server = std::make_unique<ReferenceServer>(m_db.location(), options);
        m_server->setLogSink([](const std::string &) {});
        m_port = m_server->bindToAnyPort("127.0.0.1");
        if (m_port < 0) {
            throw std::runtime_error("cannot bind a loopback port");
        }
        m_serving = std::thread([this] { m_server->listenAfterBind(); });
    }

    ~BenchServer()
    {
        m_server->stop();
        m_serving.join();
    }

    static BenchServer &instance(Engine engine)
    {
        static std::map<Engine, std::unique_ptr<BenchServer>> servers;
        auto &server = servers[engine];
        if (!server) {
            server = std::make_unique<BenchServer>(engine);
        }
        return *server;
    }

    // A client per request, as the control makes a new document object per query.
    httplib::Result get(const std::string &target) const
    {
        httplib::Client cli("127.0.0.1", m_port);
        cli.set_read_timeout(60);
        return cli.Get(target);
    }

    httplib::Result post(const std::string &body) const
    {
        httplib::Client cli("127.0.0.1", m_port);
        cli.set_read_timeout(60);
        return cli.Post("/CenterVendor.asp", body, "application/x-www-form-urlencoded");
    }

    TestDatabase &db() { return m_db; }

    // Switches the version triggers of the server's database on or off.
    void versionTriggers(bool on)
    {
        if (!m_store) {
            m_store = tarvo::server::Store::open(m_db.location());
        }
        const tarvo::server::StoreResult switched = m_store->enableVersionTriggers(on);
        if (!switched.ok()) {
            throw std::runtime_error("cannot switch the version triggers: " + switched.message);
        }
    }

private:
    void fill()
    {
        tarvo::server::Records records;
        records.centers = {{kQueryCenter, "Query center", 2},
                           {kInsertCenter, "Insert center", 1},
                           {kUpdateCenter, "Update center", 3}};
        for (int client = 0; client < kClients; ++client) {
            records.centers.push_back({kFirstClientCenter + client, "Client center", 1});
        }
        for (std::int64_t id = 1; id <= kRows; ++id) {
            records.vendors.push_back({id, "Vendor & Sons No. " + std::to_string(id),
                                       id % 3 == 0 ? 1 : 44, true, "2024-03-15 10:00:00"});
            if (id <= kSelected) {
                records.assignments.push_back(
                    {kQueryCenter, id, 0.08, id % 2 == 0, "2024-03-15 10:00:00"});
            }
            records.assignments.push_back({kUpdateCenter, id, 0.05, false, "2024-03-15 10:00:00"});
            if (id <= kBatchRows) {
                for (int client = 0; client < kClients; ++client) {
                    records.assignments.push_back(
                        {kFirstClientCenter + client, id, 0.05, false, "2024-03-15 10:00:00"});
                }
            }
        }
        m_db.add(records);
    }

    TestDatabase m_db;
    std::unique_ptr<tarvo::server::Store> m_store;
    std::unique_ptr<ReferenceServer> m_server;
    std::thread m_serving;
    int m_port = -1;
};

bool expectOk(benchmark::State &state, const httplib::Result &res)
{
    if (!res || res->status != 200) {
        state.SkipWithError(
            res ? ("status " + std::to_string(res->status) + ": " + res->body.substr(0, 200))
                      .c_str()
                : "no answer");
        return false;
    }
    return true;
}

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

// 32767 INSERT statements as the control writes them; the rows go again between runs. The
// argument: 1 with the version triggers, 0 without.
void post32767Inserts(benchmark::State &state, Engine engine)
{
    BenchServer &server = BenchServer::instance(engine);
    server.versionTriggers(state.range(0) != 0);
    const std::string body = controlBody(kInsertCenter, kRows, "5.00", "1N");
    for (auto _ : state) {
        expectOk(state, server.post(body));
        state.PauseTiming();
        server.db().execute("DELETE FROM VendorCenterCrossReference WHERE CenterID = 2");
        state.ResumeTiming();
    }
    server.versionTriggers(true);
    state.counters["body_bytes"] = static_cast<double>(body.size());
}

// 32767 UPDATE statements; each run leaves the rows ready for the next. The argument as above.
void post32767Updates(benchmark::State &state, Engine engine)
{
    BenchServer &server = BenchServer::instance(engine);
    server.versionTriggers(state.range(0) != 0);
    const std::string body = controlBody(kUpdateCenter, kRows, "12.50", "1U");
    for (auto _ : state) {
        expectOk(state, server.post(body));
    }
    server.versionTriggers(true);
    state.counters["body_bytes"] = static_cast<double>(body.size());
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
    benchmark::RegisterBenchmark(("Post32767Inserts/" + name).c_str(), post32767Inserts, engine)
        ->ArgName("versions")
        ->Arg(1)
        ->Arg(0)
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("Post32767Updates/" + name).c_str(), post32767Updates, engine)
        ->ArgName("versions")
        ->Arg(1)
        ->Arg(0)
        ->Unit(ms)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("EightClients100StatementBatches10s/" + name).c_str(),
                                 eightClientsCommitting, engine)
        ->Unit(ms)
        ->UseRealTime()
        ->Iterations(1);
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
    benchmark::Shutdown();
    return 0;
}
