// Batches on PostgreSQL: a batch runs as a few statements over arrays, one per run of rows
// of one kind, which costs PostgreSQL a fraction of a statement per row, all sent at once
// with the COMMIT. A batch that conflicts runs again with each statement returning the rows
// it wrote, so that the first row that wrote nothing is the conflict, as on SQLite.
#include "store/postgresql/PgConnection.h"
#include "store/postgresql/PgSupport.h"

#include <set>
#include <type_traits>
#include <unordered_set>
#include <utility>

namespace tarvo::server::store {

using namespace pg;

namespace {

constexpr const char *kBegin = "BEGIN ISOLATION LEVEL REPEATABLE READ";
// What a checked run raises when it writes fewer rows than it holds: a division by zero.
constexpr std::string_view kShortRun = "22012";

using Key = std::pair<std::int64_t, std::int64_t>; // center, vendor

} // namespace

// One assignment a statement writes; a DELETE of several ids gives several.
struct PgConnection::Row
{
    Op::Kind kind = Op::Kind::Insert;
    std::size_t source = 0;
    std::int64_t centerId = 0;
    std::int64_t vendorId = 0;
    double fee = 0.0;
    bool duty = false;
};

namespace {

template <typename Row> std::vector<Row> rowsOf(const std::vector<statement::Statement> &statements)
{
    std::vector<Row> rows;
    rows.reserve(statements.size());
    for (std::size_t i = 0; i < statements.size(); ++i) {
        std::visit(
            [&](const auto &s) {
                using T = std::decay_t<decltype(s)>;
                using Kind = decltype(Row::kind);
                if constexpr (std::is_same_v<T, statement::InsertAssignment>) {
                    rows.push_back({Kind::Insert, i, s.centerId, s.vendorId, s.fee, s.duty});
                } else if constexpr (std::is_same_v<T, statement::UpdateAssignment>) {
                    rows.push_back({Kind::Update, i, s.centerId, s.vendorId, s.fee, s.duty});
                } else {
                    // A repeated id removes one assignment, as the same SQL text would.
                    std::unordered_set<std::int64_t> seen;
                    for (const std::int64_t vendorId : s.vendorIds) {
                        if (seen.insert(vendorId).second) {
                            rows.push_back({Kind::Delete, i, s.centerId, vendorId, 0.0, false});
                        }
                    }
                }
            },
            statements[i]);
    }
    return rows;
}

// Appends `value` to the text of a PostgreSQL array ("{1,2,3}" once closed).
template <typename Value> void appendElement(std::string &array, Value value)
{
    array.push_back(array.empty() ? '{' : ',');
    array.append(text(value));
}

} // namespace

BatchOutcome PgConnection::applyBatch(const std::vector<statement::Statement> &statements,
                                      const BatchContext &context)
{
    // Asked before the pipeline goes out, as it carries the COMMIT.
    requireCommitAllowed(context);
    const std::vector<Row> rows = rowsOf<Row>(statements);
    const std::vector<Op> runs = runsOf(rows, context);
    if (auto applied = applyChecked(rows, runs, context)) {
        return *applied;
    }
    return applyTraced(rows, runs, context);
}

std::optional<BatchOutcome> PgConnection::begin(const BatchContext &context, std::vector<Op> &ops)
{
    if (!context.ifVersion) {
        ops.push_back(Op::text(kBegin));
        return std::nullopt;
    }
    // A round trip of its own, as the runs must not be sent when the condition fails. A
    // batch that commits a change of the center after this snapshot makes this one's
    // trigger fail to serialize, so that its retry reads the new version.
    execute(kBegin);
    const VersionCondition &condition = *context.ifVersion;
    if (versionHolds(condition, centerVersion(condition.centerId))) {
        return std::nullopt;
    }
    rollbackQuietly();
    BatchOutcome stale;
    stale.status = BatchOutcome::Status::Stale;
    return stale;
}

std::vector<PgConnection::Op> PgConnection::runsOf(const std::vector<Row> &rows,
                                                   const BatchContext &context)
{
    // A run ends where the kind changes or a key comes again: within a run every row must
    // stand alone, as if applied in order.
    std::vector<Op> runs;
    std::set<Key> runKeys;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        Op *run = runs.empty() ? nullptr : &runs.back();
        if (run == nullptr || run->kind != row.kind ||
            !runKeys.insert({row.centerId, row.vendorId}).second) {
            Op op;
            op.kind = row.kind;
            op.name = row.kind == Op::Kind::Insert   ? "insertMany"
                      : row.kind == Op::Kind::Update ? "updateMany"
                                                     : "deleteMany";
            // The arrays come first, then the time and the user for the audit rows.
            const std::size_t arrays = row.kind == Op::Kind::Delete ? 2 : 4;
            op.count = static_cast<int>(arrays) + 2;
            op.source = i;
            op.params[arrays] = context.now;
            op.params[arrays + 1] = context.user;
            runs.push_back(std::move(op));
            run = &runs.back();
            runKeys = {{row.centerId, row.vendorId}};
        }
        appendElement(run->params[0], row.centerId);
        appendElement(run->params[1], row.vendorId);
        if (row.kind != Op::Kind::Delete) {
            appendElement(run->params[2], row.fee);
            appendElement(run->params[3], std::int64_t{row.duty ? 1 : 0});
        }
        ++run->rows;
    }
    for (Op &run : runs) {
        for (std::size_t p = 0; p < (run.kind == Op::Kind::Delete ? 2u : 4u); ++p) {
            run.params[p].push_back('}');
        }
    }
    return runs;
}

// The usual case in one round trip: BEGIN, the runs and COMMIT in one pipeline, each run
// failing when it writes fewer rows than it holds, which leaves nothing committed.
std::optional<BatchOutcome> PgConnection::applyChecked(const std::vector<Row> &rows,
                                                       const std::vector<Op> &runs,
                                                       const BatchContext &context)
{
    std::vector<Op> ops;
    if (auto stale = begin(context, ops)) {
        return stale;
    }
    for (Op run : runs) {
        run.name = run.kind == Op::Kind::Insert   ? "insertChecked"
                   : run.kind == Op::Kind::Update ? "updateChecked"
                                                  : "deleteChecked";
        run.params[static_cast<std::size_t>(run.count++)] = text(std::int64_t(run.rows));
        ops.push_back(std::move(run));
    }
    ops.push_back(Op::text("COMMIT"));

    BatchOutcome outcome;
    std::optional<StoreError> failed;
    std::optional<SerializationFailure> collided;
    bool shortRun = false;
    pipeline(ops, [&](std::size_t index, PGresult *result) {
        const Op &op = ops[index];
        if (failed || collided || shortRun || result == nullptr) {
            return; // the first problem decides; later commands were skipped
        }
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            if (op.kind != Op::Kind::Text) {
                (op.kind == Op::Kind::Insert   ? outcome.added
                 : op.kind == Op::Kind::Update ? outcome.updated
                                               : outcome.removed) += op.rows;
            }
            return;
        }
        const std::string_view state = sqlState(result);
        if (state == kShortRun) {
            shortRun = true;
        } else if (isSerializationFailure(state)) {
            collided.emplace(libpqText(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)),
                             rows[op.source].source);
        } else {
            failed = failure(result, "statement failed");
        }
    });
    if (!failed && !collided && !shortRun) {
        return outcome;
    }
    rollbackQuietly();
    if (collided) {
        throw *collided;
    }
    if (failed) {
        throw *failed;
    }
    return std::nullopt;
}

// Runs the batch again so that each run says which rows it wrote; the first row that wrote
// nothing is the conflict. Commits when none is found: a concurrent batch may have made
// room since the first attempt.
BatchOutcome PgConnection::applyTraced(const std::vector<Row> &rows, const std::vector<Op> &runs,
                                       const BatchContext &context)
{
    // The version is read again: another batch may have moved it since the first attempt.
    std::vector<Op> ops;
    if (auto stale = begin(context, ops)) {
        return *stale;
    }
    ops.insert(ops.end(), runs.begin(), runs.end());

    BatchOutcome outcome;
    std::optional<StoreError> failed;
    std::optional<SerializationFailure> collided;
    const Row *refused = nullptr;
    pipeline(ops, [&](std::size_t index, PGresult *result) {
        const Op &op = ops[index];
        if (failed || collided || refused != nullptr || result == nullptr ||
            op.kind == Op::Kind::Text) {
            return; // the first problem decides; later commands were skipped or do not matter
        }
        const std::string_view state = sqlState(result);
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            if (isSerializationFailure(state)) {
                collided.emplace(libpqText(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)),
                                 rows[op.source].source);
            } else {
                failed = failure(result, "statement failed");
            }
            return;
        }
        std::set<Key> written;
        for (int r = 0, n = PQntuples(result); r < n; ++r) {
            written.insert(
                {number<std::int64_t>(result, r, 0), number<std::int64_t>(result, r, 1)});
        }
        for (std::size_t i = op.source; i < op.source + op.rows; ++i) {
            if (written.count({rows[i].centerId, rows[i].vendorId}) == 0) {
                refused = &rows[i];
                return;
            }
        }
        (op.kind == Op::Kind::Insert   ? outcome.added
         : op.kind == Op::Kind::Update ? outcome.updated
                                       : outcome.removed) += op.rows;
    });
    if (!failed && !collided && refused == nullptr) {
        execute("COMMIT");
        return outcome;
    }
    BatchOutcome conflict;
    if (refused != nullptr && !failed && !collided) {
        conflict.status = BatchOutcome::Status::Conflict;
        conflict.failedStatement = refused->source;
        // An insert writes nothing for an unknown center or vendor, as for an existing
        // assignment; which of them it was is read in the batch's own snapshot.
        conflict.message = refused->kind != Op::Kind::Insert
                               ? notAssigned(refused->centerId, refused->vendorId)
                           : !centerExists(refused->centerId) ? unknownCenter(refused->centerId)
                           : !vendorExists(refused->vendorId)
                               ? unknownVendor(refused->vendorId)
                               : alreadyAssigned(refused->centerId, refused->vendorId);
    }
    rollbackQuietly();
    if (collided) {
        throw *collided;
    }
    if (failed) {
        throw *failed;
    }
    return conflict;
}

} // namespace tarvo::server::store
