#include "store/PgConnection.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <poll.h>
#include <string_view>
#include <type_traits>
#include <unordered_set>

namespace tarvo::server {

namespace {

// Raised whenever the tables change, with the steps that bring an older database up to date.
constexpr int kSchemaVersion = 1;
// Any constant of our own: servers starting together create the tables one after another.
constexpr const char *kSchemaLock = "SELECT pg_advisory_xact_lock(7346212011)";

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
    CenterID bigint NOT NULL CONSTRAINT CrossReferenceCenter REFERENCES Centers (CenterID),
    VendorID bigint NOT NULL CONSTRAINT CrossReferenceVendor REFERENCES Vendors (VendorID),
    CenterHandlingFee double precision NOT NULL,
    DutyBrokerageFee smallint NOT NULL CHECK (DutyBrokerageFee IN (0, 1)),
    RecordLastUpdated timestamp(0) NOT NULL,
    PRIMARY KEY (CenterID, VendorID)
);
CREATE INDEX IF NOT EXISTS VendorCenterCrossReferenceByVendor
    ON VendorCenterCrossReference (VendorID);
INSERT INTO SchemaVersion (Version) SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM SchemaVersion);
)sql";

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
    Prepared{"update", "UPDATE VendorCenterCrossReference SET CenterHandlingFee = $3, "
                       "DutyBrokerageFee = $4, RecordLastUpdated = $5 "
                       "WHERE CenterID = $1 AND VendorID = $2"},
    Prepared{"delete",
             "DELETE FROM VendorCenterCrossReference WHERE CenterID = $1 AND VendorID = $2"},
    Prepared{"addCenter",
             "INSERT INTO Centers (CenterID, CenterName, CenterCode) VALUES ($1, $2, $3)"},
    Prepared{"addVendor", "INSERT INTO Vendors (VendorID, VendorName, CountryID, Active, "
                          "RecordLastUpdated) VALUES ($1, $2, $3, $4, $5)"},
};

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string text(std::int64_t value)
{
    std::array<char, 24> buffer{};
    return std::string(buffer.data(), std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                                    value)
                                          .ptr);
}

// The shortest text that reads back as the same double.
std::string text(double value)
{
    std::array<char, 32> buffer{};
    return std::string(buffer.data(), std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                                    value)
                                          .ptr);
}

template <typename Number> Number number(const PGresult *result, int row, int column)
{
    const char *value = PQgetvalue(result, row, column);
    Number parsed{};
    std::from_chars(value, value + PQgetlength(result, row, column), parsed);
    return parsed;
}

void assign(std::string &into, const PGresult *result, int row, int column)
{
    into.assign(PQgetvalue(result, row, column),
                static_cast<std::size_t>(PQgetlength(result, row, column)));
}

std::string_view sqlState(const PGresult *result)
{
    const char *state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr ? state : "";
}

bool isSerializationFailure(std::string_view state)
{
    return state == "40001" || state == "40P01";
}

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

std::string trimmed(const char *message)
{
    std::string out = message != nullptr ? message : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

} // namespace

// One command of a pipeline: constant text, a statement to prepare, or a prepared
// statement with its parameters.
struct PgConnection::Op
{
    enum class Kind { Text, Prepare, Insert, Update, Delete, Record };
    Kind kind = Kind::Text;
    const char *name = nullptr; // the text, or the prepared statement's name
    std::array<std::string, 5> params;
    int count = 0;
    std::size_t source = 0; // the batch statement it comes from
    std::int64_t centerId = 0;
    std::int64_t vendorId = 0;

    static Op text(const char *sql)
    {
        Op op;
        op.name = sql;
        return op;
    }
};

PgConnection::PgConnection(const std::string &uri, bool createSchema) : m_shown(shownLocation(uri))
{
    // The URI comes last, so that its own settings win over these defaults.
    const char *keywords[] = {"fallback_application_name", "connect_timeout", "dbname", nullptr};
    const char *values[] = {"centervendor-server", "10", uri.c_str(), nullptr};
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (m_conn == nullptr || PQstatus(m_conn) != CONNECTION_OK) {
        const std::string detail =
            m_conn != nullptr ? trimmed(PQerrorMessage(m_conn)) : "out of memory";
        PQfinish(m_conn);
        m_conn = nullptr;
        throw StoreError(StoreStatus::Unavailable, "cannot connect to " + m_shown + ": " + detail);
    }
    try {
        // Waiting for another writer's row longer than this answers "busy" instead.
        execute("SET lock_timeout = '5s'; SET client_encoding = 'UTF8'; "
                "SET client_min_messages = warning");
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
        return StoreError(StoreStatus::Unavailable, what + ": the connection to the database was lost");
    }
    const char *primary =
        result != nullptr ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return StoreError(statusOf(sqlState(result)),
                      what + ": " + trimmed(primary != nullptr ? primary : PQerrorMessage(m_conn)));
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
        execute(kSchema);
        const Result version(PQexec(m_conn, "SELECT MAX(Version) FROM SchemaVersion"), PQclear);
        check(version.get(), "cannot read the schema version");
        const int found = number<int>(version.get(), 0, 0);
        if (found > kSchemaVersion) {
            throw StoreError(StoreStatus::Failed,
                             "the database has schema version " + std::to_string(found) +
                                 ", newer than this server's " + std::to_string(kSchemaVersion));
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
                          std::string(what) + ": " + trimmed(PQerrorMessage(m_conn)));
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
            std::array<const char *, 5> values{};
            for (std::size_t i = 0; i < static_cast<std::size_t>(op.count); ++i) {
                values[i] = op.params[i].c_str();
            }
            sent = PQsendQueryPrepared(m_conn, op.name, op.count, values.data(), nullptr,
                                       nullptr, 0);
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

PgConnection::Rows PgConnection::query(const char *name, std::int64_t centerId)
{
    const std::string id = text(centerId);
    const char *values[] = {id.c_str()};
    Rows result(PQexecPrepared(m_conn, name, 1, values, nullptr, nullptr, 0), PQclear);
    check(result.get(), "query failed");
    return result;
}

bool PgConnection::centerExists(std::int64_t centerId)
{
    return PQntuples(query("exists", centerId).get()) > 0;
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
        Op op{Op::Kind::Record, "addCenter", {text(center.id), center.name, text(std::int64_t{center.code})}, 3};
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

BatchOutcome PgConnection::applyBatch(const std::vector<Statement> &statements,
                                      const std::string &now)
{
    std::vector<Op> ops;
    ops.reserve(statements.size() + 1);
    ops.push_back(Op::text("BEGIN ISOLATION LEVEL REPEATABLE READ"));
    for (std::size_t i = 0; i < statements.size(); ++i) {
        std::visit(
            [&](const auto &s) {
                using T = std::decay_t<decltype(s)>;
                auto write = [&](Op::Kind kind, const char *name, std::int64_t vendorId) {
                    Op op{kind, name, {text(s.centerId), text(vendorId)}, 2, i, s.centerId, vendorId};
                    if constexpr (!std::is_same_v<T, DeleteAssignments>) {
                        op.params[2] = text(s.fee);
                        op.params[3] = s.duty ? "1" : "0";
                        op.params[4] = now;
                        op.count = 5;
                    }
                    ops.push_back(std::move(op));
                };
                if constexpr (std::is_same_v<T, InsertAssignment>) {
                    write(Op::Kind::Insert, "insert", s.vendorId);
                } else if constexpr (std::is_same_v<T, UpdateAssignment>) {
                    write(Op::Kind::Update, "update", s.vendorId);
                } else {
                    // A repeated id removes one assignment, as the same SQL text would.
                    std::unordered_set<std::int64_t> seen;
                    for (const std::int64_t vendorId : s.vendorIds) {
                        if (seen.insert(vendorId).second) {
                            write(Op::Kind::Delete, "delete", vendorId);
                        }
                    }
                }
            },
            statements[i]);
    }

    BatchOutcome outcome;
    std::optional<StoreError> failed;
    std::optional<SerializationFailure> collided;
    const Op *refused = nullptr;
    bool unknownKey = false;
    pipeline(ops, [&](std::size_t index, PGresult *result) {
        const Op &op = ops[index];
        if (failed || collided || refused != nullptr || result == nullptr) {
            return; // the first problem decides; later commands were skipped or do not matter
        }
        if (PQresultStatus(result) == PGRES_COMMAND_OK) {
            const bool matched = std::string_view(PQcmdTuples(result)) != "0";
            if (op.kind == Op::Kind::Insert) {
                ++outcome.added;
            } else if (op.kind != Op::Kind::Text && !matched) {
                refused = &op;
            } else if (op.kind == Op::Kind::Update) {
                ++outcome.updated;
            } else if (op.kind == Op::Kind::Delete) {
                ++outcome.removed;
            }
            return;
        }
        const std::string_view state = sqlState(result);
        if (isSerializationFailure(state)) {
            collided.emplace(trimmed(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)),
                             op.source);
        } else if (op.kind == Op::Kind::Insert && state.substr(0, 2) == "23") {
            refused = &op; // an integrity rule: duplicate key or unknown center or vendor
            unknownKey = state == "23503";
        } else {
            failed = failure(result, "statement failed");
        }
    });
    if (!failed && !collided && refused == nullptr) {
        execute("COMMIT");
        return outcome;
    }
    rollbackQuietly();
    if (collided) {
        throw *collided;
    }
    if (failed) {
        throw *failed;
    }
    BatchOutcome conflict;
    conflict.status = BatchOutcome::Status::Conflict;
    conflict.failedStatement = refused->source;
    if (refused->kind != Op::Kind::Insert) {
        conflict.message = notAssigned(refused->centerId, refused->vendorId);
    } else if (!unknownKey) {
        conflict.message = alreadyAssigned(refused->centerId, refused->vendorId);
    } else {
        // Which key was unknown is looked up after the rollback, center first as on SQLite.
        conflict.message = centerExists(refused->centerId) ? unknownVendor(refused->vendorId)
                                                           : unknownCenter(refused->centerId);
    }
    return conflict;
}

} // namespace tarvo::server
