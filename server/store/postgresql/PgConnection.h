// One connection to PostgreSQL through libpq: the schema, the page's queries, and batches
// sent as one pipeline so that 32767 statements cost a few round trips, not 32767. Every
// value travels as a parameter of a statement prepared from constant text.
#pragma once

#include "store/Store.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace tarvo::server::store {

// A batch that collided with a concurrent one (SQLSTATE 40001 or 40P01); worth retrying.
class SerializationFailure : public StoreError
{
public:
    SerializationFailure(const std::string &message, std::size_t statement)
        : StoreError(StoreStatus::Busy, message), m_statement(statement)
    {}
    // 0-based index of the statement that met the collision.
    std::size_t statement() const { return m_statement; }

private:
    std::size_t m_statement;
};

class PgConnection final : public StoreReader
{
public:
    // Connects and prepares the statements; with `createSchema`, creates the tables first
    // when they are missing. Throws StoreError (Unavailable when the server cannot be
    // reached).
    // `options` gives the password and the notices' receiver; its pool size is not read.
    PgConnection(const std::string &uri, bool createSchema, const StoreOptions &options = {});
    ~PgConnection() override;
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // False when the server has closed the connection while it was idle (a restart, an
    // administrator ending it); never blocks.
    bool usable();
    // True once the connection is lost; the connection is then worth nothing.
    bool broken() const;

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

    // Enables or disables the triggers that move the versions; needs the table's owner.
    // Throws StoreError.
    void setVersionTriggers(bool on);

    // Runs constant SQL text without parameters. Throws StoreError.
    void execute(const char *sql);
    // ROLLBACK when a transaction is open and the connection still works; never throws.
    void rollbackQuietly();

    // Applies the statements in one REPEATABLE READ transaction, committed only when none
    // conflicts, and only while the context's version condition holds in its snapshot (else
    // Stale). Throws SerializationFailure when a concurrent batch got in the way, and
    // StoreError otherwise; nothing is kept then.
    // One AssignmentAudit row per assignment written, in the same transaction.
    BatchOutcome applyBatch(const std::vector<statement::Statement> &statements,
                            const BatchContext &context);

    // Makes a second filler of an empty database wait until the first has committed; in
    // the open transaction.
    void lockForFill();
    // Writes the records in the open transaction. Throws StoreError.
    void addRecords(const Records &records);
    bool isEmpty();

private:
    // One command of a pipeline: constant text, a statement to prepare, or a prepared
    // statement with its parameters.
    struct Op
    {
        enum class Kind { Text, Prepare, Insert, Update, Delete, Record };
        Kind kind = Kind::Text;
        const char *name = nullptr; // the text, or the prepared statement's name
        std::array<std::string, 7> params;
        int count = 0;
        std::size_t source = 0; // the first batch row it covers
        std::size_t rows = 0;   // the batch rows it covers

        static Op text(const char *sql)
        {
            Op op;
            op.name = sql;
            return op;
        }
    };
    struct Row;
    using Rows = std::unique_ptr<pg_result, void (*)(pg_result *)>;

    // Sends `ops` as one pipeline and hands each op's result to `receive` (nullptr for an op
    // skipped because an earlier one failed).
    void pipeline(const std::vector<Op> &ops,
                  const std::function<void(std::size_t, pg_result *)> &receive);
    Rows query(const char *name, std::int64_t key);
    StoreError failure(const pg_result *result, const std::string &what) const;
    // A text of libpq's (an error, a notice) as it may leave the store: trimmed, and with
    // every spelling of the passwords masked. Every such text goes through here.
    std::string libpqText(const char *message) const;
    // Throws failure() unless `result` is a success.
    void check(const pg_result *result, const char *what) const;
    void prepareAll();
    void createSchema();
    bool vendorExists(std::int64_t vendorId);
    // The batch rows as statements over arrays, one per run of rows of one kind.
    static std::vector<Op> runsOf(const std::vector<Row> &rows, const BatchContext &context);
    // Starts the batch's transaction: BEGIN put first in `ops`, or with a version condition
    // sent at once with the version read in the transaction's snapshot. A Stale outcome,
    // rolled back, when the condition does not hold.
    std::optional<BatchOutcome> begin(const BatchContext &context, std::vector<Op> &ops);
    // Empty when a run wrote fewer rows than it holds; nothing is kept then.
    std::optional<BatchOutcome> applyChecked(const std::vector<Row> &rows,
                                             const std::vector<Op> &runs,
                                             const BatchContext &context);
    BatchOutcome applyTraced(const std::vector<Row> &rows, const std::vector<Op> &runs,
                             const BatchContext &context);

    pg_conn *m_conn = nullptr;
    bool m_poisoned = false; // left in the middle of a pipeline
    bool m_auditTrail = true;
    std::string m_shown; // the URI without its password, for messages
    PasswordMask m_mask;
    std::function<void(const std::string &)> m_notice; // called back by libpq through this
};

} // namespace tarvo::server::store
