#include "store/postgresql/PgConnection.h"

#include "store/postgresql/PgSupport.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <libpq-fe.h>
#include <memory>
#include <poll.h>
#include <string_view>

namespace tarvo::server::store {

using namespace pg;

namespace {

// Raised whenever the schema changes (2 added AssignmentAudit; 3 the centers' versions, their
// triggers and the version on each audit row). Every table, column and index is created only
// where missing, so that the schema text itself brings an older database up to date.
constexpr int kSchemaVersion = 3;
// Any constant of our own: servers starting together create the tables one after another.
constexpr const char *kSchemaLock = "SELECT pg_advisory_xact_lock(7346212011)";

// Every query reaches assignments by center, so the primary key is their only index; the
// free fifth of each page lets a fee change rewrite its row in place instead of adding index
// entries.
constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS SchemaVersion (
    Version integer NOT NULL
);
CREATE TABLE IF NOT EXISTS Centers (
    CenterID bigint PRIMARY KEY,
    CenterName text NOT NULL,
    CenterCode integer NOT NULL
);
CREATE TABLE IF NOT EXISTS Vendors (
    VendorID bigint PRIMARY KEY,
    VendorName text NOT NULL,
    CountryID bigint NOT NULL,
    Active smallint NOT NULL DEFAULT 1 CHECK (Active IN (0, 1)),
    RecordLastUpdated timestamp(0) NOT NULL
);
CREATE TABLE IF NOT EXISTS VendorCenterCrossReference (
    CenterID bigint NOT NULL,
    VendorID bigint NOT NULL,
    CenterHandlingFee double precision NOT NULL,
    DutyBrokerageFee smallint NOT NULL CHECK (DutyBrokerageFee IN (0, 1)),
    RecordLastUpdated timestamp(0) NOT NULL,
    PRIMARY KEY (CenterID, VendorID)
) WITH (fillfactor = 80);
CREATE TABLE IF NOT EXISTS AssignmentAudit (
    AuditID bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    ChangedAt timestamp(0) NOT NULL,
    UserName text NOT NULL,
    CenterID bigint NOT NULL,
    VendorID bigint NOT NULL,
    Action text NOT NULL CHECK (Action IN ('add', 'update', 'remove')),
    HandlingFee double precision NOT NULL,
    DutyBrokerageFee smallint NOT NULL
);
ALTER TABLE AssignmentAudit ADD COLUMN IF NOT EXISTS CenterVersion bigint;
CREATE INDEX IF NOT EXISTS AssignmentAuditByCenter ON AssignmentAudit (CenterID, AuditID);
CREATE TABLE IF NOT EXISTS CenterVersion (
    CenterID bigint PRIMARY KEY,
    Version bigint NOT NULL
);
)sql";

// Every statement writing assignments moves the version of each center it wrote to the
// microseconds of the statement's time, or one past the version the center had when that is
// later: so a version never comes back, not even after a backup was restored, and never
// moves another center's. Triggers, so that another program writing the table moves it too;
// per statement, so that a batch's run of 32767 rows moves it once. The audit rows of the
// server's batches compute the same value (kMovedVersion) in the same statement.
constexpr const char *kTriggers = R"sql(
CREATE OR REPLACE FUNCTION MoveCenterVersions() RETURNS trigger LANGUAGE plpgsql AS $fn$
DECLARE
    moved bigint := (extract(epoch FROM statement_timestamp()) * 1000000)::bigint;
BEGIN
    IF TG_OP = 'INSERT' THEN
        INSERT INTO CenterVersion AS v (CenterID, Version)
        SELECT DISTINCT CenterID, moved FROM NewRows
        ON CONFLICT (CenterID) DO UPDATE SET Version = greatest(v.Version + 1, EXCLUDED.Version);
    ELSIF TG_OP = 'UPDATE' THEN
        INSERT INTO CenterVersion AS v (CenterID, Version)
        SELECT CenterID, moved FROM (SELECT CenterID FROM NewRows
                                     UNION SELECT CenterID FROM OldRows) AS c
        ON CONFLICT (CenterID) DO UPDATE SET Version = greatest(v.Version + 1, EXCLUDED.Version);
    ELSIF TG_OP = 'DELETE' THEN
        INSERT INTO CenterVersion AS v (CenterID, Version)
        SELECT DISTINCT CenterID, moved FROM OldRows
        ON CONFLICT (CenterID) DO UPDATE SET Version = greatest(v.Version + 1, EXCLUDED.Version);
    ELSE
        -- TRUNCATE names no rows: every center may have lost assignments.
        UPDATE CenterVersion SET Version = greatest(Version + 1, moved);
        INSERT INTO CenterVersion (CenterID, Version) SELECT CenterID, moved FROM Centers
        ON CONFLICT (CenterID) DO NOTHING;
    END IF;
    RETURN NULL;
END
$fn$;
DROP TRIGGER IF EXISTS AssignmentAddMovesVersion ON VendorCenterCrossReference;
CREATE TRIGGER AssignmentAddMovesVersion AFTER INSERT ON VendorCenterCrossReference
    REFERENCING NEW TABLE AS NewRows
    FOR EACH STATEMENT EXECUTE FUNCTION MoveCenterVersions();
DROP TRIGGER IF EXISTS AssignmentUpdateMovesVersion ON VendorCenterCrossReference;
CREATE TRIGGER AssignmentUpdateMovesVersion AFTER UPDATE ON VendorCenterCrossReference
    REFERENCING OLD TABLE AS OldRows NEW TABLE AS NewRows
    FOR EACH STATEMENT EXECUTE FUNCTION MoveCenterVersions();
DROP TRIGGER IF EXISTS AssignmentRemoveMovesVersion ON VendorCenterCrossReference;
CREATE TRIGGER AssignmentRemoveMovesVersion AFTER DELETE ON VendorCenterCrossReference
    REFERENCING OLD TABLE AS OldRows
    FOR EACH STATEMENT EXECUTE FUNCTION MoveCenterVersions();
DROP TRIGGER IF EXISTS AssignmentsEmptiedMoveVersions ON VendorCenterCrossReference;
CREATE TRIGGER AssignmentsEmptiedMoveVersions AFTER TRUNCATE ON VendorCenterCrossReference
    FOR EACH STATEMENT EXECUTE FUNCTION MoveCenterVersions();
)sql";

constexpr const char *kTriggerNames[] = {
    "AssignmentAddMovesVersion", "AssignmentUpdateMovesVersion", "AssignmentRemoveMovesVersion",
    "AssignmentsEmptiedMoveVersions"};

// The version a run's trigger gives its center (v the center's row before the run), for the
// run's audit rows.
constexpr const char *kMovedVersion =
    "greatest(COALESCE(v.Version, 0) + 1, "
    "(extract(epoch FROM statement_timestamp()) * 1000000)::bigint)";

struct Prepared
{
    const char *name;
    const char *sql;
};

constexpr std::array kStatements = {
    Prepared{"exists", "SELECT 1 FROM Centers WHERE CenterID = $1"},
    // All active vendors less the active ones assigned, as on SQLite.
    Prepared{"count", "SELECT c.CenterCode, "
                      "(SELECT COUNT(*) FROM Vendors WHERE Active = 1) - "
                      "(SELECT COUNT(*) FROM VendorCenterCrossReference x "
                      "JOIN Vendors v ON v.VendorID = x.VendorID "
                      "WHERE x.CenterID = $1 AND v.Active = 1), "
                      "(SELECT COUNT(*) FROM VendorCenterCrossReference WHERE CenterID = $1) "
                      "FROM Centers c WHERE c.CenterID = $1"},
    Prepared{"active", "SELECT v.VendorID, v.VendorName, v.CountryID, "
                       "to_char(v.RecordLastUpdated, 'MM/DD/YYYY') FROM Vendors v "
                       "WHERE v.Active = 1 AND NOT EXISTS (SELECT 1 FROM "
                       "VendorCenterCrossReference x WHERE x.CenterID = $1 "
                       "AND x.VendorID = v.VendorID) ORDER BY v.VendorID"},
    Prepared{"selected",
             "SELECT v.VendorID, v.VendorName, x.CenterHandlingFee, x.DutyBrokerageFee "
             "FROM VendorCenterCrossReference x JOIN Vendors v ON v.VendorID = x.VendorID "
             "WHERE x.CenterID = $1 ORDER BY x.VendorID"},
    Prepared{"insert", "INSERT INTO VendorCenterCrossReference (CenterID, VendorID, "
                       "CenterHandlingFee, DutyBrokerageFee, RecordLastUpdated) "
                       "VALUES ($1, $2, $3, $4, $5)"},
    Prepared{"vendorExists", "SELECT 1 FROM Vendors WHERE VendorID = $1"},
    Prepared{"addCenter",
             "INSERT INTO Centers (CenterID, CenterName, CenterCode) VALUES ($1, $2, $3)"},
    Prepared{"addVendor", "INSERT INTO Vendors (VendorID, VendorName, CountryID, Active, "
                          "RecordLastUpdated) VALUES ($1, $2, $3, $4, $5)"},
    Prepared{"version", "SELECT COALESCE((SELECT Version FROM CenterVersion WHERE CenterID = $1), "
                        "0) FROM Centers WHERE CenterID = $1"},
    Prepared{"changes", "SELECT a.VendorID, COALESCE(v.VendorName, ''), "
                        "to_char(a.ChangedAt, 'YYYY-MM-DD HH24:MI:SS'), a.UserName, a.Action, "
                        "a.HandlingFee, a.DutyBrokerageFee, COALESCE(a.CenterVersion, 0) "
                        "FROM AssignmentAudit a LEFT JOIN Vendors v ON v.VendorID = a.VendorID "
                        "WHERE a.CenterID = $1 ORDER BY a.AuditID DESC LIMIT $2"},
};

// A run of batch rows in one statement that returns the rows it wrote, with their fees, and
// writes one audit row for each in the same statement. Instead of foreign keys, whose
// per-row checks would cost twice the insert, the insert joins the center and the vendor and
// locks them against deletion as a foreign key would.
struct Run
{
    const char *name;    // answers the rows it wrote
    const char *checked; // answers their count, failing unless it is `count`
    const char *write;   // the statement, returning center, vendor, fee and duty
    const char *changedAt;
    const char *userName;
    const char *action;
    const char *count; // the parameter with the number of rows
};

constexpr std::array kRuns = {
    Run{"insertMany", "insertChecked",
        "INSERT INTO VendorCenterCrossReference (CenterID, VendorID, CenterHandlingFee, "
        "DutyBrokerageFee, RecordLastUpdated) SELECT u.c, u.v, u.f, u.d, $5::timestamp "
        "FROM (SELECT u.* FROM unnest($1::bigint[], $2::bigint[], $3::float8[], "
        "$4::smallint[]) AS u(c, v, f, d) JOIN Centers c ON c.CenterID = u.c "
        "JOIN Vendors v ON v.VendorID = u.v FOR KEY SHARE OF c, v) AS u "
        "ON CONFLICT (CenterID, VendorID) DO NOTHING "
        "RETURNING CenterID, VendorID, CenterHandlingFee, DutyBrokerageFee",
        "$5", "$6", "add", "$7"},
    Run{"updateMany", "updateChecked",
        "UPDATE VendorCenterCrossReference x SET CenterHandlingFee = u.f, "
        "DutyBrokerageFee = u.d, RecordLastUpdated = $5::timestamp "
        "FROM unnest($1::bigint[], $2::bigint[], $3::float8[], $4::smallint[]) "
        "AS u(c, v, f, d) WHERE x.CenterID = u.c AND x.VendorID = u.v "
        "RETURNING x.CenterID, x.VendorID, x.CenterHandlingFee, x.DutyBrokerageFee",
        "$5", "$6", "update", "$7"},
    Run{"deleteMany", "deleteChecked",
        "DELETE FROM VendorCenterCrossReference x "
        "USING unnest($1::bigint[], $2::bigint[]) AS u(c, v) "
        "WHERE x.CenterID = u.c AND x.VendorID = u.v "
        "RETURNING x.CenterID, x.VendorID, x.CenterHandlingFee, x.DutyBrokerageFee",
        "$3", "$4", "remove", "$5"},
};

// `run` with its audit rows (unless the trail is off), then `answer` over the rows written (w).
std::string withAudit(const Run &run, const std::string &answer, bool auditTrail)
{
    if (!auditTrail) {
        // The time and the user still typed, as the statement keeps its parameters.
        return std::string("WITH w AS (") + run.write + "), a AS (SELECT " + run.changedAt +
               "::timestamp, " + run.userName + "::text) " + answer;
    }
    // The moved versions once per center (m), joined to the rows by hash rather than looked
    // up per row.
    return std::string("WITH w AS (") + run.write + "), m AS MATERIALIZED (SELECT c.CenterID, " +
           kMovedVersion +
           " AS Moved FROM (SELECT DISTINCT CenterID FROM w) c "
           "LEFT JOIN CenterVersion v ON v.CenterID = c.CenterID), "
           "a AS (INSERT INTO AssignmentAudit (ChangedAt, UserName, CenterID, VendorID, "
           "Action, HandlingFee, DutyBrokerageFee, CenterVersion) SELECT " +
           run.changedAt + "::timestamp, " + run.userName + "::text, w.CenterID, w.VendorID, '" +
           run.action + "', w.CenterHandlingFee, w.DutyBrokerageFee, m.Moved " +
           "FROM w JOIN m ON m.CenterID = w.CenterID) " + answer;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

StoreStatus statusOf(std::string_view state)
{
    if (state.substr(0, 2) == "08" || state == "57P01" || state == "57P02" || state == "57P03") {
        return StoreStatus::Unavailable; // connection lost, server shutting down or starting
    }
    if (isSerializationFailure(state) || state == "55P03" || state == "57014" ||
        state.substr(0, 2) == "53") {
        return StoreStatus::Busy; // lock time-out, cancelled statement, out of connections
    }
    return StoreStatus::Failed;
}

} // namespace

namespace {

// The passwords libpq may use besides the URI's own.
std::vector<std::string> passwordsApart(const StoreOptions &options)
{
    std::vector<std::string> given{options.password};
    if (const char *environment = std::getenv("PGPASSWORD")) {
        given.emplace_back(environment);
    }
    return given;
}

} // namespace

PgConnection::PgConnection(const std::string &uri, bool createSchema, const StoreOptions &options)
    : m_auditTrail(options.auditTrail), m_shown(shownLocation(uri)),
      m_mask(uri, passwordsApart(options)), m_notice(options.notice)
{
    // The URI comes after these defaults, so that its own settings win over them; a password
    // given apart comes after the URI, so that it wins over one there.
    const char *keywords[] = {"fallback_application_name", "connect_timeout", "dbname", nullptr,
                              nullptr};
    const char *values[] = {"centervendor-server", "10", uri.c_str(), nullptr, nullptr};
    if (!options.password.empty()) {
        keywords[3] = "password";
        values[3] = options.password.c_str();
    }
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (m_conn == nullptr || PQstatus(m_conn) != CONNECTION_OK) {
        const std::string detail =
            m_conn != nullptr ? libpqText(PQerrorMessage(m_conn)) : "out of memory";
        PQfinish(m_conn);
        m_conn = nullptr;
        throw StoreError(StoreStatus::Unavailable, "cannot connect to " + m_shown + ": " + detail);
    }
    // Without a receiver, to stderr as libpq would write them, but masked as well.
    PQsetNoticeProcessor(
        m_conn,
        [](void *self, const char *message) {
            const auto *connection = static_cast<PgConnection *>(self);
            const std::string text = connection->libpqText(message);
            if (connection->m_notice) {
                connection->m_notice(text);
            } else {
                std::fprintf(stderr, "%s\n", text.c_str());
            }
        },
        this);
    try {
        // Waiting for another writer's row longer than this answers "busy" instead. Every
        // statement reaches rows by key, so one plan per statement serves all parameters and
        // spares planning on each request.
        execute("SET lock_timeout = '5s'; SET client_encoding = 'UTF8'; "
                "SET client_min_messages = warning; SET plan_cache_mode = force_generic_plan");
        if (createSchema) {
            this->createSchema();
        }
        prepareAll();
    } catch (...) {
        PQfinish(m_conn);
        throw;
    }
}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

bool PgConnection::broken() const
{
    return m_poisoned || PQstatus(m_conn) != CONNECTION_OK;
}

bool PgConnection::usable()
{
    if (broken()) {
        return false;
    }
    // An idle connection hears from the server only when it is being closed (or for a
    // notice): look without waiting.
    pollfd p{PQsocket(m_conn), POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
        if ((p.revents & (POLLHUP | POLLERR)) != 0 || PQconsumeInput(m_conn) == 0) {
            return false;
        }
    }
    return !broken() && PQtransactionStatus(m_conn) == PQTRANS_IDLE;
}

StoreError PgConnection::failure(const PGresult *result, const std::string &what) const
{
    if (PQstatus(m_conn) != CONNECTION_OK) {
        return StoreError(StoreStatus::Unavailable,
                          what + ": the connection to the database was lost");
    }
    const char *primary =
        result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return StoreError(statusOf(sqlState(result)),
                      what + ": " +
                          libpqText(primary != nullptr ? primary : PQerrorMessage(m_conn)));
}

std::string PgConnection::libpqText(const char *message) const
{
    return m_mask(trimmed(message));
}

void PgConnection::check(const PGresult *result, const char *what) const
{
    const ExecStatusType status = PQresultStatus(result);
    if (result == nullptr || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)) {
        throw failure(result, what);
    }
}

void PgConnection::execute(const char *sql)
{
    const Result result(PQexec(m_conn, sql), PQclear);
    check(result.get(), "database command failed");
}

void PgConnection::rollbackQuietly()
{
    if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) != PQTRANS_IDLE) {
        PQclear(PQexec(m_conn, "ROLLBACK"));
    }
}

void PgConnection::createSchema()
{
    execute("BEGIN");
    try {
        execute(kSchemaLock);
        // Only a database without the tables, or of an older schema, is written to, so that a
        // role allowed to read and write rows, but not to create tables, can serve one that
        // is set up.
        const Result present(PQexec(m_conn, "SELECT to_regclass('SchemaVersion') IS NOT NULL"),
                             PQclear);
        check(present.get(), "cannot look for the tables");
        int found = 0;
        if (PQgetvalue(present.get(), 0, 0)[0] == 't') {
            const Result version(PQexec(m_conn, "SELECT MAX(Version) FROM SchemaVersion"), PQclear);
            check(version.get(), "cannot read the schema version");
            found = number<int>(version.get(), 0, 0);
        }
        if (found > kSchemaVersion) {
            throw StoreError(StoreStatus::Failed,
                             "the database has schema version " + std::to_string(found) +
                                 ", newer than this server's " + std::to_string(kSchemaVersion));
        }
        if (found < kSchemaVersion) {
            execute(kSchema);
            execute(kTriggers);
            execute("DELETE FROM SchemaVersion");
            execute(("INSERT INTO SchemaVersion (Version) VALUES (" +
                     std::to_string(kSchemaVersion) + ")")
                        .c_str());
        }
        execute("COMMIT");
    } catch (...) {
        rollbackQuietly();
        throw;
    }
}

void PgConnection::prepareAll()
{
    std::vector<Op> ops;
    for (const Prepared &statement : kStatements) {
        Op op;
        op.kind = Op::Kind::Prepare;
        op.name = statement.name;
        op.params[0] = statement.sql;
        ops.push_back(std::move(op));
    }
    // Each run twice: answering the rows it wrote, and failing with a division by zero when
    // it writes fewer rows than the count passed last, so that a batch can be sent together
    // with its COMMIT.
    for (const Run &run : kRuns) {
        Op traced;
        traced.kind = Op::Kind::Prepare;
        traced.name = run.name;
        traced.params[0] = withAudit(run, "SELECT w.CenterID, w.VendorID FROM w", m_auditTrail);
        ops.push_back(std::move(traced));
        Op checked;
        checked.kind = Op::Kind::Prepare;
        checked.name = run.checked;
        checked.params[0] = withAudit(run,
                                      std::string("SELECT CASE WHEN count(*) = ") + run.count +
                                          " THEN count(*) ELSE count(*) / 0 END FROM w",
                                      m_auditTrail);
        ops.push_back(std::move(checked));
    }
    std::optional<StoreError> failed;
    pipeline(ops, [&](std::size_t, PGresult *result) {
        if (!failed && PQresultStatus(result) != PGRES_COMMAND_OK) {
            failed = failure(result, "cannot prepare a statement");
        }
    });
    if (failed) {
        throw *failed;
    }
}

void PgConnection::pipeline(const std::vector<Op> &ops,
                            const std::function<void(std::size_t, PGresult *)> &receive)
{
    // A connection left in the middle of a pipeline is worth nothing; it is closed.
    m_poisoned = true;
    auto lost = [this](const char *what) {
        return StoreError(StoreStatus::Unavailable,
                          std::string(what) + ": " + libpqText(PQerrorMessage(m_conn)));
    };
    // Without non-blocking sends, a long pipeline would stall once both sides' socket
    // buffers are full: the server waits for its answers to be read, the client for its
    // commands to be taken.
    if (PQenterPipelineMode(m_conn) != 1 || PQsetnonblocking(m_conn, 1) != 0) {
        throw lost("cannot start a pipeline");
    }
    for (const Op &op : ops) {
        int sent = 0;
        if (op.kind == Op::Kind::Text) {
            sent = PQsendQueryParams(m_conn, op.name, 0, nullptr, nullptr, nullptr, nullptr, 0);
        } else if (op.kind == Op::Kind::Prepare) {
            sent = PQsendPrepare(m_conn, op.name, op.params[0].c_str(), 0, nullptr);
        } else {
            std::array<const char *, 7> values{};
            for (std::size_t i = 0; i < static_cast<std::size_t>(op.count); ++i) {
                values[i] = op.params[i].c_str();
            }
            sent =
                PQsendQueryPrepared(m_conn, op.name, op.count, values.data(), nullptr, nullptr, 0);
        }
        if (sent != 1) {
            throw lost("cannot send a statement");
        }
    }
    if (PQpipelineSync(m_conn) != 1) {
        throw lost("cannot send a statement");
    }

    std::size_t index = 0; // of the command whose results come next
    bool flushed = false;
    for (;;) {
        if (!flushed) {
            const int left = PQflush(m_conn);
            if (left < 0) {
                throw lost("cannot send a statement");
            }
            flushed = left == 0;
        }
        while (PQisBusy(m_conn) == 0) {
            PGresult *result = PQgetResult(m_conn);
            if (result == nullptr) {
                ++index; // the end of one command's results
                continue;
            }
            const ExecStatusType status = PQresultStatus(result);
            if (status == PGRES_PIPELINE_SYNC) {
                PQclear(result);
                if (PQsetnonblocking(m_conn, 0) != 0 || PQexitPipelineMode(m_conn) != 1) {
                    throw lost("cannot end a pipeline");
                }
                m_poisoned = false;
                return;
            }
            if (index < ops.size()) {
                receive(index, status == PGRES_PIPELINE_ABORTED ? nullptr : result);
            }
            PQclear(result);
        }
        pollfd p{PQsocket(m_conn), static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)), 0};
        if (poll(&p, 1, -1) < 0 && errno != EINTR) {
            throw lost("cannot wait for the database");
        }
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0 && PQconsumeInput(m_conn) == 0) {
            throw lost("the connection to the database was lost");
        }
    }
}

PgConnection::Rows PgConnection::query(const char *name, std::int64_t key)
{
    const std::string id = text(key);
    const char *values[] = {id.c_str()};
    Rows result(PQexecPrepared(m_conn, name, 1, values, nullptr, nullptr, 0), PQclear);
    check(result.get(), "query failed");
    return result;
}

bool PgConnection::centerExists(std::int64_t centerId)
{
    return PQntuples(query("exists", centerId).get()) > 0;
}

bool PgConnection::vendorExists(std::int64_t vendorId)
{
    return PQntuples(query("vendorExists", vendorId).get()) > 0;
}

std::optional<CenterCounts> PgConnection::centerCounts(std::int64_t centerId)
{
    const Rows rows = query("count", centerId);
    if (PQntuples(rows.get()) == 0) {
        return std::nullopt;
    }
    return CenterCounts{number<std::int64_t>(rows.get(), 0, 0),
                        number<std::int64_t>(rows.get(), 0, 1),
                        number<std::int64_t>(rows.get(), 0, 2)};
}

void PgConnection::forEachActiveNotSelected(
    std::int64_t centerId, const std::function<void(const ActiveVendorRow &)> &visit)
{
    const Rows rows = query("active", centerId);
    const PGresult *r = rows.get();
    ActiveVendorRow row;
    for (int i = 0, n = PQntuples(r); i < n; ++i) {
        row.id = number<std::int64_t>(r, i, 0);
        assign(row.name, r, i, 1);
        row.countryId = number<std::int64_t>(r, i, 2);
        assign(row.lastUpdated, r, i, 3);
        visit(row);
    }
}

void PgConnection::forEachSelected(std::int64_t centerId,
                                   const std::function<void(const SelectedVendorRow &)> &visit)
{
    const Rows rows = query("selected", centerId);
    const PGresult *r = rows.get();
    SelectedVendorRow row;
    for (int i = 0, n = PQntuples(r); i < n; ++i) {
        row.id = number<std::int64_t>(r, i, 0);
        assign(row.name, r, i, 1);
        row.fee = number<double>(r, i, 2);
        row.duty = number<int>(r, i, 3) != 0;
        visit(row);
    }
}

void PgConnection::forEachCenter(const std::function<void(const Center &)> &visit)
{
    const Rows rows(
        PQexec(m_conn, "SELECT CenterID, CenterName, CenterCode FROM Centers ORDER BY CenterID"),
        PQclear);
    check(rows.get(), "query failed");
    const PGresult *r = rows.get();
    Center center;
    for (int i = 0, n = PQntuples(r); i < n; ++i) {
        center.id = number<std::int64_t>(r, i, 0);
        assign(center.name, r, i, 1);
        center.code = number<int>(r, i, 2);
        visit(center);
    }
}

std::optional<std::int64_t> PgConnection::centerVersion(std::int64_t centerId)
{
    const Rows rows = query("version", centerId);
    if (PQntuples(rows.get()) == 0) {
        return std::nullopt;
    }
    return number<std::int64_t>(rows.get(), 0, 0);
}

void PgConnection::forEachChange(std::int64_t centerId, std::size_t limit,
                                 const std::function<void(const AssignmentChange &)> &visit)
{
    const std::string id = text(centerId);
    const std::string most = text(static_cast<std::int64_t>(limit));
    const char *values[] = {id.c_str(), most.c_str()};
    const Rows rows(PQexecPrepared(m_conn, "changes", 2, values, nullptr, nullptr, 0), PQclear);
    check(rows.get(), "query failed");
    const PGresult *r = rows.get();
    AssignmentChange change;
    for (int i = 0, n = PQntuples(r); i < n; ++i) {
        change.vendorId = number<std::int64_t>(r, i, 0);
        assign(change.vendorName, r, i, 1);
        assign(change.changedAt, r, i, 2);
        assign(change.user, r, i, 3);
        assign(change.action, r, i, 4);
        change.fee = number<double>(r, i, 5);
        change.duty = number<int>(r, i, 6) != 0;
        change.version = number<std::int64_t>(r, i, 7);
        visit(change);
    }
}

void PgConnection::setVersionTriggers(bool on)
{
    std::string sql = "ALTER TABLE VendorCenterCrossReference";
    const char *separator = " ";
    for (const char *name : kTriggerNames) {
        sql += separator;
        sql += on ? "ENABLE TRIGGER " : "DISABLE TRIGGER ";
        sql += name;
        separator = ", ";
    }
    execute(sql.c_str());
}

bool PgConnection::isEmpty()
{
    const Rows rows(PQexec(m_conn, "SELECT EXISTS (SELECT 1 FROM Centers) OR "
                                   "EXISTS (SELECT 1 FROM Vendors)"),
                    PQclear);
    check(rows.get(), "query failed");
    return PQgetvalue(rows.get(), 0, 0)[0] == 'f';
}

namespace {

// Two servers filling one empty database together: the second waits, then finds it full.
constexpr const char *kFillLock = "SELECT pg_advisory_xact_lock(7346212012)";

} // namespace

void PgConnection::lockForFill()
{
    execute(kFillLock);
}

void PgConnection::addRecords(const Records &records)
{
    std::vector<Op> ops;
    ops.reserve(records.centers.size() + records.vendors.size() + records.assignments.size());
    for (const Center &center : records.centers) {
        Op op{Op::Kind::Record,
              "addCenter",
              {text(center.id), center.name, text(std::int64_t{center.code})},
              3};
        ops.push_back(std::move(op));
    }
    for (const Vendor &vendor : records.vendors) {
        Op op{Op::Kind::Record,
              "addVendor",
              {text(vendor.id), vendor.name, text(vendor.countryId), vendor.active ? "1" : "0",
               vendor.lastUpdated},
              5};
        ops.push_back(std::move(op));
    }
    for (const Assignment &a : records.assignments) {
        Op op{Op::Kind::Record,
              "insert",
              {text(a.centerId), text(a.vendorId), text(a.fee), a.duty ? "1" : "0", a.lastUpdated},
              5};
        ops.push_back(std::move(op));
    }
    std::optional<StoreError> failed;
    pipeline(ops, [&](std::size_t, PGresult *result) {
        if (!failed && result != nullptr && PQresultStatus(result) != PGRES_COMMAND_OK) {
            failed = failure(result, "cannot add a record");
        }
    });
    if (failed) {
        throw *failed;
    }
}

} // namespace tarvo::server::store
