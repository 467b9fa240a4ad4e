// The batch writer: one request's statements in one write transaction. A statement that
// would silently do nothing (an UPDATE or DELETE matching no assignment) is a conflict, as is
// an INSERT of an existing assignment or of an unknown vendor or center: the user's lists no
// longer match the database, and saving part of the batch would mislead them.
#include "store/sqlite/SqliteConnection.h"

#include <sqlite3.h>
#include <type_traits>
#include <unordered_set>

namespace tarvo::server {

BatchOutcome SqliteConnection::applyBatch(const std::vector<Statement> &statements,
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
    for (std::size_t i = 0; i < statements.size(); ++i) {
        if (auto conflict = conflictOf(statements[i], context, outcome)) {
            BatchOutcome refused;
            refused.status = BatchOutcome::Status::Conflict;
            refused.failedStatement = i;
            refused.message = std::move(*conflict);
            return refused;
        }
    }
    requireCommitAllowed(context); // a refusal rolls the transaction back
    transaction.commit();
    return outcome;
}

void SqliteConnection::audit(const BatchContext &context, std::int64_t centerId,
                             std::int64_t vendorId, const char *action, double fee, bool duty)
{
    if (!m_auditTrail) {
        return;
    }
    m_audit->bind(1, context.now)
        .bind(2, context.user)
        .bind(3, centerId)
        .bind(4, vendorId)
        .bind(5, std::string_view(action))
        .bind(6, fee)
        .bind(7, std::int64_t{duty ? 1 : 0});
    if (m_audit->run() != SQLITE_DONE) {
        throw SqliteError("cannot write the audit row", SQLITE_CONSTRAINT);
    }
}

std::optional<std::string> SqliteConnection::conflictOf(const Statement &statement,
                                                        const BatchContext &context,
                                                        BatchOutcome &outcome)
{
    const std::string &now = context.now;
    return std::visit(
        [&](const auto &s) -> std::optional<std::string> {
            using T = std::decay_t<decltype(s)>;
            if constexpr (std::is_same_v<T, InsertAssignment>) {
                m_insert->bind(1, s.centerId)
                    .bind(2, s.vendorId)
                    .bind(3, s.fee)
                    .bind(4, std::int64_t{s.duty ? 1 : 0})
                    .bind(5, now);
                const int rc = m_insert->run();
                if (rc == SQLITE_DONE) {
                    audit(context, s.centerId, s.vendorId, "add", s.fee, s.duty);
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
            } else if constexpr (std::is_same_v<T, UpdateAssignment>) {
                m_update->bind(1, s.centerId)
                    .bind(2, s.vendorId)
                    .bind(3, s.fee)
                    .bind(4, std::int64_t{s.duty ? 1 : 0})
                    .bind(5, now);
                if (m_update->run() != SQLITE_DONE || sqlite3_changes(m_db) == 0) {
                    return notAssigned(s.centerId, s.vendorId);
                }
                audit(context, s.centerId, s.vendorId, "update", s.fee, s.duty);
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
                    audit(context, s.centerId, vendorId, "remove", fee, duty);
                    ++outcome.removed;
                }
                return std::nullopt;
            }
        },
        statement);
}

} // namespace tarvo::server
