// The reference server at the control's limit of 32767 rows: the three query answers for a
// center whose lists hold 32767 vendors together, and save batches of 32767 statements.
// Goals: the three GETs under 150 ms together, a POST under 1 s.
#include "Database.h"
#include "ReferenceServer.h"
#include "save/Statements.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <httplib.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using tarvo::server::Database;
using tarvo::server::ReferenceServer;
using tarvo::server::Transaction;

constexpr std::int64_t kRows = 32767;
constexpr std::int64_t kSelected = 8767; // the rest, 24000, are active and not selected

// Center 1: the query center (8767 selected, 24000 not). Center 2: no assignment, target of
// the insert batch. Center 3: every vendor assigned, target of the update batch.
constexpr std::int64_t kQueryCenter = 1;
constexpr std::int64_t kInsertCenter = 2;
constexpr std::int64_t kUpdateCenter = 3;

// The body the control itself would post for these rows of its selected list.
std::string controlBody(std::int64_t center, const char *fee, const char *column4)
{
    std::vector<tarvo::save::SelectedRow> rows;
    rows.reserve(static_cast<std::size_t>(kRows));
    for (std::int64_t id = 1; id <= kRows; ++id) {
        rows.push_back({std::to_string(id), fee, column4});
    }
    return tarvo::save::buildBody(
        tarvo::save::buildStatements(static_cast<std::int32_t>(center), rows, {}));
}

class BenchServer
{
public:
    BenchServer()
    {
        std::string dir = (std::filesystem::temp_directory_path() / "tarvo-bench-XXXXXX").string();
        if (mkdtemp(dir.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        m_dir = dir;
        const std::string dbPath = (m_dir / "bench.db").string();
        m_db = std::make_unique<Database>(dbPath);
        fill();
        m_server = std::make_unique<ReferenceServer>(dbPath);
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
        m_server.reset();
        m_db.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    static BenchServer &instance()
    {
        static BenchServer server;
        return server;
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

    Database &db() { return *m_db; }

private:
    void fill()
    {
        Transaction transaction(*m_db);
        m_db->addCenter({kQueryCenter, "Query center", 2});
        m_db->addCenter({kInsertCenter, "Insert center", 1});
        m_db->addCenter({kUpdateCenter, "Update center", 3});
        for (std::int64_t id = 1; id <= kRows; ++id) {
            m_db->addVendor({id, "Vendor & Sons No. " + std::to_string(id), id % 3 == 0 ? 1 : 44,
                             true, "2024-03-15 10:00:00"});
            if (id <= kSelected) {
                m_db->addAssignment({kQueryCenter, id, 0.08, id % 2 == 0, "2024-03-15 10:00:00"});
            }
            m_db->addAssignment({kUpdateCenter, id, 0.05, false, "2024-03-15 10:00:00"});
        }
        transaction.commit();
    }

    std::filesystem::path m_dir;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<ReferenceServer> m_server;
    std::thread m_serving;
    int m_port = -1;
};

void expectOk(benchmark::State &state, const httplib::Result &res)
{
    if (!res || res->status != 200) {
        state.SkipWithError(
            res ? ("status " + std::to_string(res->status) + ": " + res->body.substr(0, 200))
                      .c_str()
                : "no answer");
    }
}

void BM_ThreeQueriesFor32767Rows(benchmark::State &state)
{
    BenchServer &server = BenchServer::instance();
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
BENCHMARK(BM_ThreeQueriesFor32767Rows)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CountQuery(benchmark::State &state)
{
    BenchServer &server = BenchServer::instance();
    for (auto _ : state) {
        expectOk(state, server.get("/CenterVendor.asp?count=1&centerID=1"));
    }
}
BENCHMARK(BM_CountQuery)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ActiveQuery24000Rows(benchmark::State &state)
{
    BenchServer &server = BenchServer::instance();
    for (auto _ : state) {
        expectOk(state, server.get("/CenterVendor.asp?active=1&centerID=1"));
    }
}
BENCHMARK(BM_ActiveQuery24000Rows)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SelectedQuery8767Rows(benchmark::State &state)
{
    BenchServer &server = BenchServer::instance();
    for (auto _ : state) {
        expectOk(state, server.get("/CenterVendor.asp?selected=1&centerID=1"));
    }
}
BENCHMARK(BM_SelectedQuery8767Rows)->Unit(benchmark::kMillisecond)->UseRealTime();

// 32767 INSERT statements as the control writes them; the rows go again between runs.
void BM_Post32767Inserts(benchmark::State &state)
{
    BenchServer &server = BenchServer::instance();
    const std::string body = controlBody(kInsertCenter, "5.00", "1N");
    for (auto _ : state) {
        expectOk(state, server.post(body));
        state.PauseTiming();
        server.db().execute("DELETE FROM VendorCenterCrossReference WHERE CenterID = 2");
        state.ResumeTiming();
    }
    state.counters["body_bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_Post32767Inserts)->Unit(benchmark::kMillisecond)->UseRealTime();

// 32767 UPDATE statements; each run leaves the rows ready for the next.
void BM_Post32767Updates(benchmark::State &state)
{
    BenchServer &server = BenchServer::instance();
    const std::string body = controlBody(kUpdateCenter, "12.50", "1U");
    for (auto _ : state) {
        expectOk(state, server.post(body));
    }
    state.counters["body_bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_Post32767Updates)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
