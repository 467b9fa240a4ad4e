// The store behind the page: one interface, one engine per kind of database. The page reads
// and writes only through it, so the statement parser, the answers and the HTTP layer never
// learn which engine runs.
#pragma once

#include "statement/Statement.h"
#include "store/Records.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server::store {

enum class StoreStatus {
    Ok,
    Busy,        // others held what the call needed for longer than it may wait
    Unavailable, // the database cannot be reached, or the connection broke under the call
    Failed,      // anything else: a fault to look into
};

// A failure inside an engine; the store's calls turn it into a result.
class StoreError : public std::runtime_error
{
public:
    StoreError(StoreStatus status, const std::string &message)
        : std::runtime_error(message), m_status(status)
    {}
    StoreStatus status() const { return m_status; }

private:
    StoreStatus m_status;
};

struct StoreResult
{
    StoreStatus status = StoreStatus::Ok;
    std::string message; // what failed; empty when Ok
    bool ok() const { return status == StoreStatus::Ok; }
};

struct BatchResult : StoreResult
{
    BatchOutcome outcome; // meaningful when Ok: applied, or refused as a conflict
};

struct FillResult : StoreResult
{
    bool filled = false; // false when Ok: the store already held data and was kept
};

// A batch applied only while a center's assignments are at one of these versions, the
// check made inside the batch's own transaction.
struct VersionCondition
{
    std::int64_t centerId = 0;
    std::vector<std::int64_t> versions; // empty: never holds
};

// What a batch carries besides its statements.
struct BatchContext
{
    std::string now;  // the time GETDATE() stands for, "YYYY-MM-DD HH:MM:SS"
    std::string user; // who sends the batch, for the audit trail; empty when anyone may
    // Asked before anything of the batch can be committed (again on a retry): false rolls
    // it back and fails it as Unavailable. Empty: always allowed.
    std::function<bool()> mayCommit{};
    // Unset: applied whatever the versions are.
    std::optional<VersionCondition> ifVersion{};
};

// Throws StoreError (Unavailable) when `context` withholds the commit.
void requireCommitAllowed(const BatchContext &context);

// True when `current` is one of the versions the condition names; an unknown center's counts
// as 0.
bool versionHolds(const VersionCondition &condition, std::optional<std::int64_t> current);

// The reads of one request; every call sees the same snapshot of the database.
class StoreReader
{
public:
    virtual ~StoreReader() = default;
    virtual bool centerExists(std::int64_t centerId) = 0;
    // Empty when the center does not exist.
    virtual std::optional<CenterCounts> centerCounts(std::int64_t centerId) = 0;
    // Calls `visit` per row in vendor id order with one row object reused for every call,
    // so that large lists cost no allocation per row.
    virtual void
    forEachActiveNotSelected(std::int64_t centerId,
                             const std::function<void(const ActiveVendorRow &)> &visit) = 0;
    // Likewise; includes inactive vendors that are still assigned.
    virtual void forEachSelected(std::int64_t centerId,
                                 const std::function<void(const SelectedVendorRow &)> &visit) = 0;
    // Calls `visit` per center in id order.
    virtual void forEachCenter(const std::function<void(const Center &)> &visit) = 0;
    // The version of the center's assignments: moved by every insert, update and delete of
    // one of them, whoever writes, and never back to an earlier value. 0 for a center whose
    // assignments were never written since versions exist; empty when the center does not
    // exist (one query answers both, for cheap polling).
    virtual std::optional<std::int64_t> centerVersion(std::int64_t centerId) = 0;
    // Calls `visit` for the center's newest audit rows, newest first, at most `limit`.
    virtual void forEachChange(std::int64_t centerId, std::size_t limit,
                               const std::function<void(const AssignmentChange &)> &visit) = 0;
};

struct StoreOptions
{
    // The connections this process holds at most; a request waits for a free one.
    std::size_t connections = 8;
    // PostgreSQL only: the password, taking the place of one in the URI, PGPASSWORD or the
    // password file; empty: libpq finds it there. Never shown.
    std::string password{};
    // PostgreSQL only: receives the database's notices and warnings, one text each without
    // its line end, on the thread that runs the statement; empty: libpq writes them to stderr.
    std::function<void(const std::string &)> notice{};
    // Off only to measure what the audit trail costs (the benchmarks): batches then leave no
    // AssignmentAudit row, so the history misses their changes. No server option sets it.
    bool auditTrail = true;
};

struct StoreFigures
{
    std::size_t open = 0;  // connections held now
    std::size_t inUse = 0; // of those, leased to a request now
};

class Store
{
public:
    enum class FillMode { OnlyWhenEmpty, Always };

    virtual ~Store() = default;

    // A postgresql:// or postgres:// URI opens PostgreSQL; anything else is a SQLite file,
    // created when missing. Connects once and creates the schema when missing. Throws
    // StoreError, whose text never holds a password. Defined beside the engines
    // (tarvo_server_engines), which the interface itself does not link.
    static std::unique_ptr<Store> open(const std::string &location,
                                       const StoreOptions &options = {});

    // Runs `reads` in one read-only snapshot. A StoreError thrown inside ends the snapshot
    // and becomes the result; any other exception passes through.
    virtual StoreResult read(const std::function<void(StoreReader &)> &reads) = 0;

    // Applies every statement in order in one transaction, all or nothing, with one
    // AssignmentAudit row per assignment written (a DELETE of several vendors gives several);
    // a conflict with what the database holds is an Ok result whose outcome says which
    // statement and why, and leaves no audit row.
    // Collisions with concurrent batches are retried a few times, then reported as a
    // conflict. With `context.ifVersion`, a center at another version makes the outcome
    // Stale before any statement runs, even one that would conflict.
    virtual BatchResult apply(const std::vector<statement::Statement> &statements,
                              const BatchContext &context) = 0;

    // Writes the records in one transaction. OnlyWhenEmpty writes nothing when the store
    // holds centers or vendors (filled is false then).
    virtual FillResult fill(const Records &records, FillMode mode) = 0;

    // Off only to measure what they cost: while the triggers are off no write moves a
    // version, so a stale If-Match goes unseen. Changes the schema for every connection
    // and every server on the database; needs the right to alter the table.
    virtual StoreResult enableVersionTriggers(bool on) = 0;

    // One round trip to the database, for health checks.
    virtual StoreResult ping() = 0;

    virtual StoreFigures figures() const = 0;

    // The location as it may be shown: a password in it is masked.
    virtual std::string location() const = 0;
};

bool isPostgresLocation(std::string_view location);

// A URI with its password replaced by "***"; any other text as it is.
std::string shownLocation(const std::string &location);

// Hides the passwords of a database location in texts that were not written to keep them out:
// libpq's own messages echo a URI, or a token of it, as written.
class PasswordMask
{
public:
    PasswordMask() = default;
    // The passwords written in `location` (a URI, or key=value conninfo), and `given` apart
    // (a password file, PGPASSWORD). Each in every spelling a message may hold: as written,
    // decoded, percent-encoded and escaped for a quoted conninfo value. Empty ones mask nothing.
    explicit PasswordMask(std::string_view location, const std::vector<std::string> &given = {});

    // `text` with each run of bytes covered by a spelling replaced by "***". Every occurrence
    // is masked, even inside another word: a short password blanks more than itself.
    std::string operator()(std::string_view text) const;

    const std::vector<std::string> &spellings() const { return m_spellings; }

private:
    std::vector<std::string> m_spellings;
};

// Runs `body`, turning a StoreError into the failure of the result it returns.
template <typename Result, typename Body> Result guarded(Body &&body)
{
    try {
        return body();
    } catch (const StoreError &error) {
        Result result;
        result.status = error.status();
        result.message = error.what();
        return result;
    }
}

} // namespace tarvo::server::store
