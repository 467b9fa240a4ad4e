// The batch writer: one request's statements in one write transaction. A statement that
// would silently do nothing (an UPDATE or DELETE matching no assignment) is a conflict, as is
// an INSERT of an existing assignment or of an unknown vendor or center: the user's lists no
// longer match the database, and saving part of the batch would mislead them.
//
// The connection runs without the file's triggers: the batch moves each center's version as
// the trigger of every written row would (one past the last, or 'now' when that is later),
// keeps the audit rows aside with the version each row gave, and writes the versions and the
// audit rows once the statements are through, many rows to an insert. A row then costs its
// own statement alone, not a trigger program, an upsert and an audit statement besides.
#include "store/sqlite/SqliteConnection.h"

#include <algorithm>
#include <chrono>
#include <sqlite3.h>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>

namespace tarvo::server::store {

namespace {

enum Action : std::size_t { Add, Update, Remove };
constexpr const char *kActionNames[] = {"add", "update", "remove"};

// The triggers' 'now': milliseconds since 1970 as SQLite's clock gives them, times 1000.
std::int64_t triggerNow()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(since).count() * 1000;
}

} // namespace

struct SqliteConnection::Bookkeeping
{
    struct Center
    {
        std::optional<std::int64_t> version; // as stored, then as moved by the batch
        bool moved = false;
    };
    struct AuditRow
    {
        std::int64_t centerId;
        std::int64_t vendorId;
        Action action;
        double fee;
        bool duty;
        std::optional<std::int64_t> version;
    };

    std::array<bool, 3> moves{}; // by Action
    std::int64_t now = 0;        // the triggers' 'now'
    std::string_view changedAt;  // the time GETDATE() stands for
    bool audit = true;
    std::unordered_map<std::int64_t, Center> centers;
    std::vector<AuditRow> rows;
};

BatchOutcome SqliteConnection::applyBatch(const std::vector<statement::Statement> &statements,
                                          const BatchContext &context)
{
    BatchOutcome outcome;
    SqliteTransaction transaction(*this);
    // Under the write lock, so that no other writer can move the version after the check.
    if (context.ifVersion &&
        !versionHolds(*context.ifVersion, centerVersion(context.ifVersion->centerId))) {
        outcome.status = BatchOutcome::Status::Stale;
        return outcome;
    }
    Bookkeeping book;
    book.moves = versionTriggers();
    book.now = triggerNow();
    book.changedAt = context.now;
    book.audit = m_auditTrail;
    if (book.audit) {
        book.rows.reserve(statements.size());
    }
    for (std::size_t i = 0; i < statements.size(); ++i) {
        if (auto conflict = conflictOf(statements[i], book, outcome)) {
            BatchOutcome refused;
            refused.status = BatchOutcome::Status::Conflict;
            refused.failedStatement = i;
            refused.message = std::move(*conflict);
            return refused;
        }
    }
    finish(book, context);
    requireCommitAllowed(context); // a refusal rolls the transaction back
    transaction.commit();
    return outcome;
}

void SqliteConnection::finish(const Bookkeeping &book, const BatchContext &context)
{
    for (const auto &[centerId, center] : book.centers) {
        if (center.moved) {
            m_moveVersion->bind(1, centerId).bind(2, *center.version);
            if (m_moveVersion->run() != SQLITE_DONE) {
                throw SqliteError("cannot move the version of center " + std::to_string(centerId),
                                  SQLITE_CONSTRAINT);
            }
        }
    }
    auto bindRow = [](SqliteStatement &insert, int first, const Bookkeeping::AuditRow &row) {
        insert.bind(first, row.centerId)
            .bind(first + 1, row.vendorId)
            .bind(first + 2, std::string_view(kActionNames[row.action]))
            .bind(first + 3, row.fee)
            .bind(first + 4, std::int64_t{row.duty ? 1 : 0});
        if (row.version) {
            insert.bind(first + 5, *row.version);
        } else {
            insert.bindNull(first + 5);
        }
    };
    const std::size_t many = kAuditRowsPerInsert;
    std::size_t next = 0;
    if (book.rows.size() >= many) {
        m_auditMany->bind(1, context.now).bind(2, context.user);
    }
    for (; next + many <= book.rows.size(); next += many) {
        for (std::size_t r = 0; r < many; ++r) {
            bindRow(*m_auditMany, 3 + 6 * static_cast<int>(r), book.rows[next + r]);
        }
        if (m_auditMany->run() != SQLITE_DONE) {
            throw SqliteError("cannot write the audit rows", SQLITE_CONSTRAINT);
        }
    }
    for (; next < book.rows.size(); ++next) {
        m_audit->bind(1, context.now).bind(2, context.user);
        bindRow(*m_audit, 3, book.rows[next]);
        if (m_audit->run() != SQLITE_DONE) {
            throw SqliteError("cannot write the audit rows", SQLITE_CONSTRAINT);
        }
    }
}

std::optional<std::string> SqliteConnection::conflictOf(const statement::Statement &statement,
                                                        Bookkeeping &book, BatchOutcome &outcome)
{
    // The version a written row leaves its center at, kept for its audit row.
    auto written = [&](std::int64_t centerId, std::int64_t vendorId, Action action, double fee,
                       bool duty) {
        auto found = book.centers.find(centerId);
        if (found == book.centers.end()) {
            Bookkeeping::Center center;
            if (m_storedVersion->bind(1, centerId).step()) {
                center.version = m_storedVersion->int64(0);
            }
            m_storedVersion->reset();
            found = book.centers.emplace(centerId, center).first;
        }
        Bookkeeping::Center &center = found->second;
        if (book.moves[action]) {
            center.version = center.version ? std::max(*center.version + 1, book.now) : book.now;
            center.moved = true;
        }
        if (book.audit) {
            book.rows.push_back({centerId, vendorId, action, fee, duty, center.version});
        }
    };
    const std::string_view now = book.changedAt;
    return std::visit(
        [&](const auto &s) -> std::optional<std::string> {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, statement::InsertAssignment>) {
                m_insert->bind(1, s.centerId)
                    .bind(2, s.vendorId)
                    .bind(3, s.fee)
                    .bind(4, std::int64_t{s.duty ? 1 : 0})
                    .bind(5, now);
                const int rc = m_insert->run();
                if (rc == SQLITE_DONE) {
                    written(s.centerId, s.vendorId, Add, s.fee, s.duty);
                    ++outcome.added;
                    return std::nullopt;
                }
                if (rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
                    return alreadyAssigned(s.centerId, s.vendorId);
                }
                if (!centerExists(s.centerId)) {
                    return unknownCenter(s.centerId);
                }
                m_vendorExists->reset();
                const bool vendorFound = m_vendorExists->bind(1, s.vendorId).step();
                m_vendorExists->reset();
                if (!vendorFound) {
                    return unknownVendor(s.vendorId);
                }
                return cannotAdd(s.centerId, s.vendorId);
            } else if constexpr (std::is_same_v<T, statement::UpdateAssignment>) {
                m_update->bind(1, s.centerId)
                    .bind(2, s.vendorId)
                    .bind(3, s.fee)
                    .bind(4, std::int64_t{s.duty ? 1 : 0})
                    .bind(5, now);
                if (m_update->run() != SQLITE_DONE || sqlite3_changes(m_db) == 0) {
                    return notAssigned(s.centerId, s.vendorId);
                }
                written(s.centerId, s.vendorId, Update, s.fee, s.duty);
                ++outcome.updated;
                return std::nullopt;
            } else {
                // A repeated id removes one assignment, as the same SQL text would.
                std::unordered_set<std::int64_t> seen;
                for (const std::int64_t vendorId : s.vendorIds) {
                    if (!seen.insert(vendorId).second) {
                        continue;
                    }
                    // The audit row keeps the fees the assignment had.
                    if (!m_delete->bind(1, s.centerId).bind(2, vendorId).step()) {
                        return notAssigned(s.centerId, vendorId);
                    }
                    const double fee = m_delete->real(0);
                    const bool duty = m_delete->int64(1) != 0;
                    m_delete->reset();
                    written(s.centerId, vendorId, Remove, fee, duty);
                    ++outcome.removed;
                }
                return std::nullopt;
            }
        },
        statement);
}

} // namespace tarvo::server::store
