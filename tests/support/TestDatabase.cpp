#include "support/TestDatabase.h"

#include "store/Store.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdexcept>
#include <unistd.h>

namespace tarvo::server::testing {

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string postgresBase()
{
    std::string uri = environment("TARVO_TEST_PG");
    if (uri.empty()) {
        throw std::runtime_error(
            "TARVO_TEST_PG is not set, so the PostgreSQL tests cannot run: ./scripts/test "
            "starts a cluster for them (or run ctest -LE postgresql to leave them out)");
    }
    return uri;
}

std::string uniqueName(const char *prefix)
{
    static std::atomic<int> counter{0};
    return std::string(prefix) + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

struct PgConn
{
    explicit PgConn(const std::string &uri) : conn(PQconnectdb(uri.c_str()))
    {
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string detail = PQerrorMessage(conn);
            PQfinish(conn);
            throw std::runtime_error("cannot connect to the test cluster: " + detail);
        }
        PQclear(PQexec(conn, "SET client_min_messages = warning"));
    }
    ~PgConn() { PQfinish(conn); }
    PgConn(const PgConn &) = delete;
    PgConn &operator=(const PgConn &) = delete;

    std::vector<std::vector<std::string>> run(const std::string &sql)
    {
        PGresult *result = PQexec(conn, sql.c_str());
        ExecStatusType status = PQresultStatus(result);
        // A test that restarts the cluster leaves this connection broken: once more.
        if (PQstatus(conn) != CONNECTION_OK) {
            PQclear(result);
            PQreset(conn);
            result = PQexec(conn, sql.c_str());
            status = PQresultStatus(result);
        }
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const std::string detail = PQerrorMessage(conn);
            PQclear(result);
            throw std::runtime_error(sql + ": " + detail);
        }
        std::vector<std::vector<std::string>> out;
        for (int r = 0; r < PQntuples(result); ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < PQnfields(result); ++c) {
                row.emplace_back(PQgetvalue(result, r, c));
            }
            out.push_back(std::move(row));
        }
        PQclear(result);
        return out;
    }

    PGconn *conn;
};

} // namespace

Engine engineUnderTest()
{
    return environment("TARVO_TEST_ENGINE") == "postgresql" ? Engine::Postgres : Engine::Sqlite;
}

struct TestDatabase::Private
{
    Engine engine = Engine::Sqlite;
    std::string location;
    std::filesystem::path dir;           // SQLite
    std::string schema;                  // PostgreSQL
    std::unique_ptr<PgConn> admin;       // PostgreSQL, on the cluster's own database
    std::unique_ptr<PgConn> pg;          // PostgreSQL, in the test's schema
    sqlite3 *lite = nullptr;             // SQLite
    std::unique_ptr<store::Store> store; // opened on first use
};

TestDatabase::TestDatabase(Engine engine) : d(std::make_unique<Private>())
{
    d->engine = engine;
    if (engine == Engine::Sqlite) {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-db-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        d->dir = pattern;
        d->location = (d->dir / "centervendor.db").string();
        return;
    }
    const std::string base = postgresBase();
    d->admin = std::make_unique<PgConn>(base);
    d->schema = uniqueName("test_");
    d->admin->run("CREATE SCHEMA " + d->schema);
    d->location = base + (base.find('?') == std::string::npos ? "?" : "&") +
                  "options=-csearch_path%3D" + d->schema;
}

TestDatabase::~TestDatabase()
{
    d->store.reset();
    d->pg.reset();
    sqlite3_close(d->lite);
    if (d->engine == Engine::Sqlite) {
        std::error_code ignored;
        std::filesystem::remove_all(d->dir, ignored);
        return;
    }
    try {
        d->admin->run("DROP SCHEMA " + d->schema + " CASCADE");
    } catch (const std::exception &) {
        // The cluster went away with the run; nothing is left to clean.
    }
}

Engine TestDatabase::engine() const
{
    return d->engine;
}

const std::string &TestDatabase::location() const
{
    return d->location;
}

void TestDatabase::add(const store::Records &records)
{
    if (!d->store) {
        store::StoreOptions options;
        options.connections = 1;
        d->store = store::Store::open(d->location, options);
    }
    const store::FillResult result = d->store->fill(records, store::Store::FillMode::Always);
    if (!result.ok()) {
        throw std::runtime_error("cannot add records: " + result.message);
    }
}

void TestDatabase::execute(const std::string &sql)
{
    rows(sql);
}

std::vector<std::vector<std::string>> TestDatabase::rows(const std::string &sql)
{
    if (d->engine == Engine::Postgres) {
        if (!d->pg) {
            d->pg = std::make_unique<PgConn>(d->location);
        }
        return d->pg->run(sql);
    }
    if (d->lite == nullptr && sqlite3_open(d->location.c_str(), &d->lite) != SQLITE_OK) {
        throw std::runtime_error("cannot open " + d->location);
    }
    sqlite3_busy_timeout(d->lite, 5000);
    std::vector<std::vector<std::string>> out;
    const char *rest = sql.c_str();
    while (*rest != '\0') {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(d->lite, rest, -1, &stmt, &rest) != SQLITE_OK) {
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(d->lite));
        }
        int rc = SQLITE_ROW;
        while (stmt != nullptr && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
                row.emplace_back(text != nullptr ? text : "");
            }
            out.push_back(std::move(row));
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(d->lite));
        }
    }
    return out;
}

namespace {

store::Assignment assignmentOf(const std::vector<std::string> &row)
{
    return {std::stoll(row.at(0)), std::stoll(row.at(1)), std::stod(row.at(2)), row.at(3) != "0",
            row.at(4)};
}

constexpr const char *kAssignments =
    "SELECT CenterID, VendorID, CenterHandlingFee, DutyBrokerageFee, RecordLastUpdated "
    "FROM VendorCenterCrossReference";

} // namespace

std::optional<store::Assignment> TestDatabase::assignment(std::int64_t centerId,
                                                          std::int64_t vendorId)
{
    const auto found =
        rows(std::string(kAssignments) + " WHERE CenterID = " + std::to_string(centerId) +
             " AND VendorID = " + std::to_string(vendorId));
    if (found.empty()) {
        return std::nullopt;
    }
    return assignmentOf(found.front());
}

std::vector<store::Assignment> TestDatabase::assignments()
{
    std::vector<store::Assignment> out;
    for (const auto &row : rows(std::string(kAssignments) + " ORDER BY CenterID, VendorID")) {
        out.push_back(assignmentOf(row));
    }
    return out;
}

std::vector<std::string> TestDatabase::tables()
{
    const auto found =
        rows(d->engine == Engine::Postgres
                 ? "SELECT table_name FROM information_schema.tables "
                   "WHERE table_schema = current_schema() ORDER BY 1"
                 : "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    std::vector<std::string> out;
    for (const auto &row : found) {
        out.push_back(row.at(0));
    }
    return out;
}

} // namespace tarvo::server::testing
