#include "BenchServer.h"

#include "logic/RowText.h"
#include "logic/Statements.h"
#include "store/Store.h"

#include <map>
#include <stdexcept>
#include <vector>

namespace tarvo::bench {

std::string controlBody(std::int64_t center, std::int64_t rows, const char *fee,
                        const char *column4)
{
    std::vector<logic::SelectedRow> selected;
    selected.reserve(static_cast<std::size_t>(rows));
    for (std::int64_t id = 1; id <= rows; ++id) {
        selected.push_back(
            {std::to_string(id), logic::feeFromText(fee), logic::dutyMarkFromText(column4)});
    }
    return logic::buildBody(
        logic::buildStatements(static_cast<std::int32_t>(center), selected, {}));
}

BenchServer &BenchServer::instance(Engine engine)
{
    static std::map<Engine, std::unique_ptr<BenchServer>> servers;
    auto &server = servers[engine];
    if (!server) {
        server = std::make_unique<BenchServer>(engine);
    }
    return *server;
}

BenchServer::BenchServer(Engine engine) : m_db(engine)
{
    fill();
    serving(false);
}

BenchServer::~BenchServer()
{
    for (Serving &s : m_servers) {
        if (s.server) {
            s.server->stop();
            s.thread.join();
        }
    }
}

BenchServer::Serving &BenchServer::serving(bool bare)
{
    Serving &s = m_servers[bare ? 1 : 0];
    if (s.server) {
        return s;
    }
    server::store::StoreOptions options;
    options.connections = kClients;
    options.auditTrail = !bare;
    s.server = std::make_unique<server::ReferenceServer>(m_db.location(), options);
    s.server->setLogSink([](const std::string &) {});
    s.port = s.server->bindToAnyPort("127.0.0.1");
    if (s.port < 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    s.thread = std::thread([&s] { s.server->listenAfterBind(); });
    return s;
}

httplib::Result BenchServer::get(const std::string &target) const
{
    httplib::Client cli("127.0.0.1", m_servers[0].port);
    cli.set_read_timeout(60);
    return cli.Get(target);
}

httplib::Result BenchServer::post(const std::string &body, bool bare)
{
    httplib::Client cli("127.0.0.1", serving(bare).port);
    cli.set_read_timeout(60);
    return cli.Post("/CenterVendor.asp", body, "application/x-www-form-urlencoded");
}

void BenchServer::versionTriggers(bool on)
{
    if (!m_store) {
        m_store = server::store::Store::open(m_db.location());
    }
    const server::store::StoreResult switched = m_store->enableVersionTriggers(on);
    if (!switched.ok()) {
        throw std::runtime_error("cannot switch the version triggers: " + switched.message);
    }
}

void BenchServer::fill()
{
    server::store::Records records;
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

namespace {

std::vector<std::string> &summary()
{
    static std::vector<std::string> lines;
    return lines;
}

} // namespace

void addSummaryLine(const std::string &line)
{
    summary().push_back(line);
}

const std::vector<std::string> &summaryLines()
{
    return summary();
}

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

} // namespace tarvo::bench
