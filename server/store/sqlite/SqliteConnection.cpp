#include "store/sqlite/SqliteConnection.h"

#include <sqlite3.h>

namespace tarvo::server::store {

namespace {

constexpr int kBusyTimeoutMs = 5000;

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

SqliteStatement &SqliteStatement::bindNull(int index)
{
    const int rc = sqlite3_bind_null(m_stmt, index);
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

SqliteConnection::SqliteConnection(const std::string &path, bool auditTrail)
    : m_auditTrail(auditTrail)
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
        runTriggers(false);

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
                  "HandlingFee, DutyBrokerageFee, CenterVersion) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        // The time and the user are the batch's, bound once for all of its rows.
        std::string many = "INSERT INTO AssignmentAudit (ChangedAt, UserName, CenterID, VendorID, "
                           "Action, HandlingFee, DutyBrokerageFee, CenterVersion) VALUES ";
        for (int row = 0; row < kAuditRowsPerInsert; ++row) {
            const int first = 3 + 6 * row;
            many += row == 0 ? "(?1, ?2" : ", (?1, ?2";
            for (int column = 0; column < 6; ++column) {
                many += ", ?" + std::to_string(first + column);
            }
            many += ')';
        }
        m_auditMany = std::make_unique<SqliteStatement>(m_db, many);
        m_storedVersion = std::make_unique<SqliteStatement>(
            m_db, "SELECT Version FROM CenterVersion WHERE CenterID = ?1");
        m_moveVersion = std::make_unique<SqliteStatement>(
            m_db, "INSERT INTO CenterVersion (CenterID, Version) VALUES (?1, ?2) "
                  "ON CONFLICT (CenterID) DO UPDATE SET Version = max(Version, excluded.Version)");
        m_triggers = std::make_unique<SqliteStatement>(
            m_db, "SELECT name FROM sqlite_master WHERE type = 'trigger' "
                  "AND tbl_name = 'VendorCenterCrossReference'");
        m_centerExists =
            std::make_unique<SqliteStatement>(m_db, "SELECT 1 FROM Centers WHERE CenterID = ?1");
        m_vendorExists =
            std::make_unique<SqliteStatement>(m_db, "SELECT 1 FROM Vendors WHERE VendorID = ?1");
        m_version = std::make_unique<SqliteStatement>(
            m_db, "SELECT COALESCE((SELECT Version FROM CenterVersion WHERE CenterID = ?1), 0) "
                  "FROM Centers WHERE CenterID = ?1");
        m_changes = std::make_unique<SqliteStatement>(
            m_db, "SELECT a.VendorID, v.VendorName, a.ChangedAt, a.UserName, a.Action, "
                  "a.HandlingFee, a.DutyBrokerageFee, a.CenterVersion FROM AssignmentAudit a "
                  "LEFT JOIN Vendors v ON v.VendorID = a.VendorID WHERE a.CenterID = ?1 "
                  "ORDER BY a.AuditID DESC LIMIT ?2");
    } catch (...) {
        finalizeAll();
        throw;
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
          &m_insert, &m_update, &m_delete, &m_audit, &m_auditMany, &m_storedVersion, &m_moveVersion,
          &m_triggers, &m_centerExists, &m_vendorExists, &m_version, &m_changes}) {
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

std::optional<std::int64_t> SqliteConnection::centerVersion(std::int64_t centerId)
{
    m_version->reset();
    std::optional<std::int64_t> version;
    if (m_version->bind(1, centerId).step()) {
        version = m_version->int64(0);
    }
    m_version->reset();
    return version;
}

void SqliteConnection::forEachChange(std::int64_t centerId, std::size_t limit,
                                     const std::function<void(const AssignmentChange &)> &visit)
{
    SqliteStatement &query = *m_changes;
    query.reset();
    query.bind(1, centerId).bind(2, static_cast<std::int64_t>(limit));
    AssignmentChange change;
    while (query.step()) {
        change.vendorId = query.int64(0);
        query.text(1, change.vendorName);
        query.text(2, change.changedAt);
        query.text(3, change.user);
        query.text(4, change.action);
        change.fee = query.real(5);
        change.duty = query.int64(6) != 0;
        change.version = query.int64(7); // NULL reads as 0
        visit(change);
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

} // namespace tarvo::server::store
