#include "store/sqlite/SqliteStore.h"

#include "store/Pool.h"
#include "store/sqlite/SqliteConnection.h"

#include <sqlite3.h>

namespace tarvo::server::store {

namespace {

// Longer than SQLite's own busy time-out, so that a writer waiting for the file's lock
// reports that rather than an empty pool.
constexpr std::chrono::milliseconds kPoolWait{10000};

} // namespace

struct SqliteStore::Private
{
    explicit Private(std::string file, const StoreOptions &options)
        : path(std::move(file)), auditTrail(options.auditTrail),
          pool(options.connections, kPoolWait,
               [this] { return std::make_unique<SqliteConnection>(path, auditTrail); })
    {}

    std::string path;
    bool auditTrail;
    Pool<SqliteConnection> pool;
};

SqliteStore::SqliteStore(std::string path, const StoreOptions &options)
    : d(std::make_unique<Private>(std::move(path), options))
{
    // The first connection opens at once, so that a bad path fails here.
    d->pool.acquire();
}

SqliteStore::~SqliteStore() = default;

StoreResult SqliteStore::read(const std::function<void(StoreReader &)> &reads)
{
    return guarded<StoreResult>([&] {
        auto db = d->pool.acquire();
        // A deferred transaction reads one snapshot of the write-ahead log throughout.
        db->execute("BEGIN");
        try {
            reads(*db);
        } catch (...) {
            db->execute("ROLLBACK");
            throw;
        }
        db->execute("COMMIT");
        return StoreResult{};
    });
}

BatchResult SqliteStore::apply(const std::vector<statement::Statement> &statements,
                               const BatchContext &context)
{
    return guarded<BatchResult>([&] {
        auto db = d->pool.acquire();
        BatchResult result;
        result.outcome = db->applyBatch(statements, context);
        return result;
    });
}

FillResult SqliteStore::fill(const Records &records, FillMode mode)
{
    return guarded<FillResult>([&] {
        auto db = d->pool.acquire();
        // Filled assignments move their centers' versions through the triggers, as those of
        // any other writer do.
        db->runTriggers(true);
        struct TriggersOff
        {
            SqliteConnection &db;
            // Cannot fail but for a misuse of SQLite's interface.
            ~TriggersOff()
            {
                sqlite3_db_config(db.handle(), SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
            }
        } triggersOff{*db};
        FillResult result;
        SqliteTransaction transaction(*db);
        if (mode == FillMode::OnlyWhenEmpty && !db->isEmpty()) {
            return result;
        }
        for (const Center &center : records.centers) {
            db->addCenter(center);
        }
        for (const Vendor &vendor : records.vendors) {
            db->addVendor(vendor);
        }
        for (const Assignment &assignment : records.assignments) {
            db->addAssignment(assignment);
        }
        transaction.commit();
        result.filled = true;
        return result;
    });
}

StoreResult SqliteStore::enableVersionTriggers(bool on)
{
    return guarded<StoreResult>([&] {
        d->pool.acquire()->setVersionTriggers(on);
        return StoreResult{};
    });
}

StoreResult SqliteStore::ping()
{
    return guarded<StoreResult>([&] {
        auto db = d->pool.acquire();
        db->execute("SELECT Version FROM SchemaVersion");
        return StoreResult{};
    });
}

StoreFigures SqliteStore::figures() const
{
    return d->pool.figures();
}

std::string SqliteStore::location() const
{
    return d->path;
}

} // namespace tarvo::server::store
