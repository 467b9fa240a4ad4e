// A SQLite connection of the reference server: the schema, the three queries the page answers
// and the batch writer. Every value reaches SQLite through a bound parameter of a statement
// prepared from constant text.
#pragma once

#include "store/Store.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarvo::server::store {

// A failure of SQLite itself (cannot open, disk full, busy beyond the time-out).
class SqliteError : public StoreError
{
public:
    SqliteError(const std::string &message, int code);
    // SQLite's primary result code.
    int code() const { return m_code; }
    // True when another connection held the write lock for longer than the busy time-out.
    bool isBusy() const;

private:
    int m_code;
};

// One prepared statement, reset for reuse after every run.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3 *db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // Binds by 1-based position; throws SqliteError.
    SqliteStatement &bind(int index, std::int64_t value);
    SqliteStatement &bind(int index, double value);
    SqliteStatement &bind(int index, std::string_view value);
    SqliteStatement &bindNull(int index);
    // True while a row is available; false once done. Throws SqliteError on failure,
    // leaving the statement reset.
    bool step();
    // Runs a statement that returns no rows and resets it; returns SQLite's result code so
    // that constraint failures can be told apart. Throws SqliteError for other failures.
    int run();
    void reset();
    std::int64_t int64(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    void text(int column, std::string &into) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

class SqliteConnection final : public StoreReader
{
public:
    // Opens or creates the file and its schema; WAL journal synced at every commit, foreign
    // keys on, a busy time-out of 5 s. Without `auditTrail` batches write no audit rows (only
    // to measure what they cost). The file's triggers do not run on this connection: its
    // batches move the versions themselves, and fill() turns them on for its writes. Throws
    // SqliteError.
    explicit SqliteConnection(const std::string &path, bool auditTrail = true);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    bool centerExists(std::int64_t centerId) override;
    std::optional<CenterCounts> centerCounts(std::int64_t centerId) override;
    void
    forEachActiveNotSelected(std::int64_t centerId,
                             const std::function<void(const ActiveVendorRow &)> &visit) override;
    void forEachSelected(std::int64_t centerId,
                         const std::function<void(const SelectedVendorRow &)> &visit) override;
    void forEachCenter(const std::function<void(const Center &)> &visit) override;
    std::optional<std::int64_t> centerVersion(std::int64_t centerId) override;
    void forEachChange(std::int64_t centerId, std::size_t limit,
                       const std::function<void(const AssignmentChange &)> &visit) override;

    // Creates or drops the triggers that move the versions, in a write transaction of its
    // own. Throws SqliteError.
    void setVersionTriggers(bool on);
    // Lets the file's triggers run for this connection's writes, or not (the default).
    // Expires the prepared statements, which prepare again at their next use.
    void runTriggers(bool on);

    // Applies every statement in order inside one write transaction, with the context's
    // time as GETDATE() and one AssignmentAudit row per assignment written. All or nothing:
    // on a conflict nothing is kept and the outcome says which statement and why; a version
    // condition that does not hold makes it Stale before any statement runs. Throws
    // SqliteError (nothing kept either).
    BatchOutcome applyBatch(const std::vector<statement::Statement> &statements,
                            const BatchContext &context);

    // True when the file holds neither centers nor vendors.
    bool isEmpty();
    // Each throws SqliteError, for example on a duplicate id.
    void addCenter(const Center &center);
    void addVendor(const Vendor &vendor);
    void addAssignment(const Assignment &assignment);

    std::optional<Assignment> assignment(std::int64_t centerId, std::int64_t vendorId);
    // Every assignment ordered by center, then vendor.
    std::vector<Assignment> assignments();

    // Runs constant SQL text without parameters (transactions, maintenance).
    void execute(const char *sql);

    sqlite3 *handle() const { return m_db; }

private:
    void createSchema();
    void finalizeAll();
    struct Bookkeeping;
    // The audit rows one statement writes at once; the rest of a batch's go one by one.
    static constexpr int kAuditRowsPerInsert = 256;
    // Which of add, update and remove move a version: those whose trigger the file holds.
    std::array<bool, 3> versionTriggers();
    std::optional<std::string> conflictOf(const statement::Statement &statement, Bookkeeping &book,
                                          BatchOutcome &outcome);
    // Writes the versions the batch moved and its audit rows.
    void finish(const Bookkeeping &book, const BatchContext &context);

    sqlite3 *m_db = nullptr;
    bool m_auditTrail = true;
    std::unique_ptr<SqliteStatement> m_centerCode;
    std::unique_ptr<SqliteStatement> m_nonSelectedCount;
    std::unique_ptr<SqliteStatement> m_selectedCount;
    std::unique_ptr<SqliteStatement> m_activeNotSelected;
    std::unique_ptr<SqliteStatement> m_selected;
    std::unique_ptr<SqliteStatement> m_insert;
    std::unique_ptr<SqliteStatement> m_update;
    std::unique_ptr<SqliteStatement> m_delete;
    std::unique_ptr<SqliteStatement> m_audit;
    std::unique_ptr<SqliteStatement> m_auditMany;
    std::unique_ptr<SqliteStatement> m_storedVersion;
    std::unique_ptr<SqliteStatement> m_moveVersion;
    std::unique_ptr<SqliteStatement> m_triggers;
    std::unique_ptr<SqliteStatement> m_centerExists;
    std::unique_ptr<SqliteStatement> m_vendorExists;
    std::unique_ptr<SqliteStatement> m_version;
    std::unique_ptr<SqliteStatement> m_changes;
};

// Rolls back unless committed; BEGIN IMMEDIATE so that a second writer waits for the lock
// at the start instead of failing halfway.
class SqliteTransaction
{
public:
    explicit SqliteTransaction(SqliteConnection &db);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction &) = delete;
    SqliteTransaction &operator=(const SqliteTransaction &) = delete;
    void commit();

private:
    SqliteConnection &m_db;
    bool m_open = true;
};

} // namespace tarvo::server::store
