#include "store/sqlite/SqliteConnection.h"

#include <sqlite3.h>

namespace tarvo::server {

namespace {

constexpr int kBusyTimeoutMs = 5000;

// Raised whenever the tables change; every table is created only where missing, so that the
// schema text itself brings an older file up to date (2 added AssignmentAudit).
constexpr std::int64_t kSchemaVersion = 2;

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS SchemaVersion (
    Version INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS Centers (
    CenterID INTEGER PRIMARY KEY,
    CenterName TEXT NOT NULL,
    CenterCode INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS Vendors (
    VendorID INTEGER PRIMARY KEY,
    VendorName TEXT NOT NULL,
    CountryID INTEGER NOT NULL,
    Active INTEGER NOT NULL DEFAULT 1 CHECK (Active IN (0, 1)),
    RecordLastUpdated TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS VendorCenterCrossReference (
    CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
    VendorID INTEGER NOT NULL REFERENCES Vendors (VendorID),
    CenterHandlingFee REAL NOT NULL,
    DutyBrokerageFee INTEGER NOT NULL CHECK (DutyBrokerageFee IN (0, 1)),
    RecordLastUpdated TEXT NOT NULL,
    PRIMARY KEY (CenterID, VendorID)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS VendorCenterCrossReferenceByVendor
    ON VendorCenterCrossReference (VendorID);
CREATE TABLE IF NOT EXISTS AssignmentAudit (
    AuditID INTEGER PRIMARY KEY,
    ChangedAt TEXT NOT NULL,
    UserName TEXT NOT NULL,
    CenterID INTEGER NOT NULL,
    VendorID INTEGER NOT NULL,
    Action TEXT NOT NULL CHECK (Action IN ('add', 'update', 'remove')),
    HandlingFee REAL NOT NULL,
    DutyBrokerageFee INTEGER NOT NULL
);
)sql";

[[noreturn]] void fail(sqlite3 *db, int rc, const std::string &what)
{
    const char *detail = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw SqliteError(what + ": " + detail, rc & 0xFF);
}

} // namespace

SqliteError::SqliteError(const std::string &message, int code)
    : StoreError((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED
                     ? StoreStatus::Busy
                     : StoreStatus::Failed,
                 message),
      m_code(code)
{}

bool SqliteError::isBusy() const
{
    return m_code == SQLITE_BUSY || m_code == SQLITE_LOCKED;
}

SqliteStatement::SqliteStatement(sqlite3 *db, std::string_view sql) : m_db(db)
{
    const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        fail(db, rc, "cannot prepare a statement");
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

SqliteStatement &SqliteStatement::bind(int index, std::int64_t value)
{
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK) {
        fail(m_db, rc, "cannot bind a value");
    }
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, double value)
{
    const int rc = sqlite3_bind_double(m_stmt, index, value);
    if (rc != SQLITE_OK) {
        fail(m_db, rc, "cannot bind a value");
    }
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, std::string_view value)
{
    const int rc = sqlite3_bind_text64(m_stmt, index, value.data(), value.size(), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
    if (rc != SQLITE_OK) {
        fail(m_db, rc, "cannot bind a value");
    }
    return *this;
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    sqlite3_reset(m_stmt);
    if (rc != SQLITE_DONE) {
        fail(m_db, rc, "query failed");
    }
    return false;
}

int SqliteStatement::run()
{
    const int rc = sqlite3_step(m_stmt);
    sqlite3_reset(m_stmt);
    if (rc == SQLITE_DONE || (rc & 0xFF) == SQLITE_CONSTRAINT) {
        return rc;
    }
    if (rc == SQLITE_ROW) {
        return SQLITE_DONE;
    }
    fail(m_db, rc, "statement failed");
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
}

std::int64_t SqliteStatement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

void SqliteStatement::text(int column, std::string &into) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    into.assign(data != nullptr ? data : "", data != nullptr ? static_cast<std::size_t>(size) : 0);
}

std::string SqliteStatement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data != nullptr ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

SqliteConnection::SqliteConnection(const std::string &path)
{
    const int rc =
        sqlite3_open_v2(path.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string detail = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqliteError("cannot open " + path + ": " + detail, rc & 0xFF);
    }
    try {
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        execute("PRAGMA journal_mode = WAL");
        // A batch answered 200 must survive a power loss, which NORMAL does not promise in WAL.
        execute("PRAGMA synchronous = FULL");
        execute("PRAGMA foreign_keys = ON");
        createSchema();

        m_centerCode = std::make_unique<SqliteStatement>(
            m_db, "SELECT CenterCode FROM Centers WHERE CenterID = ?1");
        // All active vendors less the active ones assigned: a quarter of the time of an
        // anti-join over tens of thousands of vendors.
        m_nonSelectedCount = std::make_unique<SqliteStatement>(
            m_db, "SELECT (SELECT COUNT(*) FROM Vendors WHERE Active = 1) - "
                  "(SELECT COUNT(*) FROM VendorCenterCrossReference x "
                  "JOIN Vendors v ON v.VendorID = x.VendorID "
                  "WHERE x.CenterID = ?1 AND v.Active = 1)");
        m_selectedCount = std::make_unique<SqliteStatement>(
            m_db, "SELECT COUNT(*) FROM VendorCenterCrossReference WHERE CenterID = ?1");
        m_activeNotSelected = std::make_unique<SqliteStatement>(
            m_db, "SELECT v.VendorID, v.VendorName, v.CountryID, v.RecordLastUpdated "
                  "FROM Vendors v LEFT JOIN VendorCenterCrossReference x "
                  "ON x.CenterID = ?1 AND x.VendorID = v.VendorID "
                  "WHERE v.Active = 1 AND x.VendorID IS NULL ORDER BY v.VendorID");
        m_selected = std::make_unique<SqliteStatement>(
            m_db, "SELECT v.VendorID, v.VendorName, x.CenterHandlingFee, x.DutyBrokerageFee "
                  "FROM VendorCenterCrossReference x JOIN Vendors v ON v.VendorID = x.VendorID "
                  "WHERE x.CenterID = ?1 ORDER BY x.VendorID");
        m_insert = std::make_unique<SqliteStatement>(
            m_db, "INSERT INTO VendorCenterCrossReference (CenterID, VendorID, "
                  "CenterHandlingFee, DutyBrokerageFee, RecordLastUpdated) "
                  "VALUES (?1, ?2, ?3, ?4, ?5)");
        m_update = std::make_unique<SqliteStatement>(
            m_db, "UPDATE VendorCenterCrossReference SET CenterHandlingFee = ?3, "
                  "DutyBrokerageFee = ?4, RecordLastUpdated = ?5 "
                  "WHERE CenterID = ?1 AND VendorID = ?2");
        m_delete = std::make_unique<SqliteStatement>(
            m_db, "DELETE FROM VendorCenterCrossReference WHERE CenterID = ?1 AND VendorID = ?2 "
                  "RETURNING CenterHandlingFee, DutyBrokerageFee");
        m_audit = std::make_unique<SqliteStatement>(
            m_db, "INSERT INTO AssignmentAudit (ChangedAt, UserName, CenterID, VendorID, Action, "
                  "HandlingFee, DutyBrokerageFee) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        m_centerExists =
            std::make_unique<SqliteStatement>(m_db, "SELECT 1 FROM Centers WHERE CenterID = ?1");
        m_vendorExists =
            std::make_unique<SqliteStatement>(m_db, "SELECT 1 FROM Vendors WHERE VendorID = ?1");
    } catch (...) {
        finalizeAll();
        throw;
    }
}

// Only a file without the tables, or of an older schema, is written to, so that opening a
// connection of a busy server takes no write lock.
void SqliteConnection::createSchema()
{
    auto storedVersion = [this]() -> std::int64_t {
        SqliteStatement versionTable(m_db,
                                     "SELECT 1 FROM sqlite_master WHERE name = 'SchemaVersion'");
        if (!versionTable.step()) {
            return 0;
        }
        versionTable.reset();
        SqliteStatement version(m_db, "SELECT MAX(Version) FROM SchemaVersion");
        version.step();
        const std::int64_t found = version.int64(0);
        version.reset();
        return found;
    };
    std::int64_t found = storedVersion();
    if (found < kSchemaVersion) {
        SqliteTransaction transaction(*this);
        // Another server may have brought the file up to date while this one waited.
        found = storedVersion();
        if (found < kSchemaVersion) {
            execute(kSchema);
            execute("DELETE FROM SchemaVersion");
            SqliteStatement version(m_db, "INSERT INTO SchemaVersion (Version) VALUES (?1)");
            version.bind(1, kSchemaVersion).run();
            found = kSchemaVersion;
        }
        transaction.commit();
    }
    if (found > kSchemaVersion) {
        throw SqliteError("the database has schema version " + std::to_string(found) +
                              ", newer than this server's " + std::to_string(kSchemaVersion),
                          SQLITE_MISMATCH);
    }
}

SqliteConnection::~SqliteConnection()
{
    finalizeAll();
}

// The prepared statements must be finalized before the connection they belong to is closed.
void SqliteConnection::finalizeAll()
{
    for (auto *prepared :
         {&m_centerCode, &m_nonSelectedCount, &m_selectedCount, &m_activeNotSelected, &m_selected,
          &m_insert, &m_update, &m_delete, &m_audit, &m_centerExists, &m_vendorExists}) {
        prepared->reset();
    }
    sqlite3_close(m_db);
    m_db = nullptr;
}

void SqliteConnection::execute(const char *sql)
{
    char *error = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string detail = error != nullptr ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        throw SqliteError(detail, rc & 0xFF);
    }
}

bool SqliteConnection::centerExists(std::int64_t centerId)
{
    m_centerExists->reset();
    const bool exists = m_centerExists->bind(1, centerId).step();
    m_centerExists->reset();
    return exists;
}

std::optional<CenterCounts> SqliteConnection::centerCounts(std::int64_t centerId)
{
    CenterCounts counts;
    m_centerCode->reset();
    if (!m_centerCode->bind(1, centerId).step()) {
        return std::nullopt;
    }
    counts.centerCode = m_centerCode->int64(0);
    m_centerCode->reset();

    m_nonSelectedCount->reset();
    m_nonSelectedCount->bind(1, centerId).step();
    counts.nonSelected = m_nonSelectedCount->int64(0);
    m_nonSelectedCount->reset();

    m_selectedCount->reset();
    m_selectedCount->bind(1, centerId).step();
    counts.selected = m_selectedCount->int64(0);
    m_selectedCount->reset();
    return counts;
}

void SqliteConnection::forEachActiveNotSelected(
    std::int64_t centerId, const std::function<void(const ActiveVendorRow &)> &visit)
{
    SqliteStatement &query = *m_activeNotSelected;
    query.reset();
    query.bind(1, centerId);
    ActiveVendorRow row;
    std::string stored;
    while (query.step()) {
        row.id = query.int64(0);
        query.text(1, row.name);
        row.countryId = query.int64(2);
        query.text(3, stored);
        usDate(stored, row.lastUpdated);
        visit(row);
    }
}

void SqliteConnection::forEachSelected(std::int64_t centerId,
                                       const std::function<void(const SelectedVendorRow &)> &visit)
{
    SqliteStatement &query = *m_selected;
    query.reset();
    query.bind(1, centerId);
    SelectedVendorRow row;
    while (query.step()) {
        row.id = query.int64(0);
        query.text(1, row.name);
        row.fee = query.real(2);
        row.duty = query.int64(3) != 0;
        visit(row);
    }
}

void SqliteConnection::forEachCenter(const std::function<void(const Center &)> &visit)
{
    SqliteStatement query(m_db,
                          "SELECT CenterID, CenterName, CenterCode FROM Centers ORDER BY CenterID");
    Center center;
    while (query.step()) {
        center.id = query.int64(0);
        query.text(1, center.name);
        center.code = static_cast<int>(query.int64(2));
        visit(center);
    }
}

bool SqliteConnection::isEmpty()
{
    SqliteStatement query(
        m_db, "SELECT EXISTS (SELECT 1 FROM Centers) OR EXISTS (SELECT 1 FROM Vendors)");
    query.step();
    const bool empty = query.int64(0) == 0;
    query.reset();
    return empty;
}

void SqliteConnection::addCenter(const Center &center)
{
    SqliteStatement insert(m_db, "INSERT INTO Centers (CenterID, CenterName, CenterCode) "
                                 "VALUES (?1, ?2, ?3)");
    insert.bind(1, center.id).bind(2, center.name).bind(3, std::int64_t{center.code});
    if (insert.run() != SQLITE_DONE) {
        fail(m_db, SQLITE_CONSTRAINT, "cannot add center " + std::to_string(center.id));
    }
}

void SqliteConnection::addVendor(const Vendor &vendor)
{
    SqliteStatement insert(m_db, "INSERT INTO Vendors (VendorID, VendorName, CountryID, Active, "
                                 "RecordLastUpdated) VALUES (?1, ?2, ?3, ?4, ?5)");
    insert.bind(1, vendor.id)
        .bind(2, vendor.name)
        .bind(3, vendor.countryId)
        .bind(4, std::int64_t{vendor.active ? 1 : 0})
        .bind(5, vendor.lastUpdated);
    if (insert.run() != SQLITE_DONE) {
        fail(m_db, SQLITE_CONSTRAINT, "cannot add vendor " + std::to_string(vendor.id));
    }
}

void SqliteConnection::addAssignment(const Assignment &assignment)
{
    m_insert->bind(1, assignment.centerId)
        .bind(2, assignment.vendorId)
        .bind(3, assignment.fee)
        .bind(4, std::int64_t{assignment.duty ? 1 : 0})
        .bind(5, assignment.lastUpdated);
    if (m_insert->run() != SQLITE_DONE) {
        fail(m_db, SQLITE_CONSTRAINT,
             "cannot assign vendor " + std::to_string(assignment.vendorId) + " to center " +
                 std::to_string(assignment.centerId));
    }
}

std::optional<Assignment> SqliteConnection::assignment(std::int64_t centerId, std::int64_t vendorId)
{
    SqliteStatement query(m_db,
                          "SELECT CenterHandlingFee, DutyBrokerageFee, RecordLastUpdated "
                          "FROM VendorCenterCrossReference WHERE CenterID = ?1 AND VendorID = ?2");
    query.bind(1, centerId).bind(2, vendorId);
    if (!query.step()) {
        return std::nullopt;
    }
    Assignment found{centerId, vendorId, query.real(0), query.int64(1) != 0, query.text(2)};
    query.reset();
    return found;
}

std::vector<Assignment> SqliteConnection::assignments()
{
    SqliteStatement query(m_db, "SELECT CenterID, VendorID, CenterHandlingFee, DutyBrokerageFee, "
                                "RecordLastUpdated FROM VendorCenterCrossReference "
                                "ORDER BY CenterID, VendorID");
    std::vector<Assignment> rows;
    while (query.step()) {
        rows.push_back(
            {query.int64(0), query.int64(1), query.real(2), query.int64(3) != 0, query.text(4)});
    }
    return rows;
}

SqliteTransaction::SqliteTransaction(SqliteConnection &db) : m_db(db)
{
    m_db.execute("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction()
{
    if (m_open) {
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void SqliteTransaction::commit()
{
    m_db.execute("COMMIT");
    m_open = false;
}

} // namespace tarvo::server
