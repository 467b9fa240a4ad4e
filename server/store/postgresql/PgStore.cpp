#include "store/postgresql/PgStore.h"

#include "store/Pool.h"
#include "store/postgresql/PgConnection.h"

#include <random>
#include <thread>

namespace tarvo::server::store {

namespace {

constexpr std::chrono::milliseconds kPoolWait{10000};
// Attempts of a batch that keeps colliding with concurrent ones before it is refused.
constexpr int kAttempts = 5;

} // namespace

struct PgStore::Private
{
    Private(std::string address, const StoreOptions &given)
        : uri(std::move(address)), shown(shownLocation(uri)), options(given),
          pool(
              options.connections, kPoolWait,
              [this] { return std::make_unique<PgConnection>(uri, false, options); },
              [](PgConnection &connection) { return connection.usable(); })
    {}

    // Runs `body` on a leased connection. A connection that broke is closed together with
    // every idle one, which went down with it, so that the next request connects afresh.
    template <typename Body> auto leased(Body &&body)
    {
        auto connection = pool.acquire();
        try {
            return body(*connection);
        } catch (const StoreError &) {
            connection->rollbackQuietly();
            if (connection->broken()) {
                connection.discard();
                pool.dropIdle();
            }
            throw;
        }
    }

    std::string uri;
    std::string shown;
    StoreOptions options;
    Pool<PgConnection> pool;
};

PgStore::PgStore(std::string uri, const StoreOptions &options)
    : d(std::make_unique<Private>(std::move(uri), options))
{
    // The first connection creates the schema; it then serves like any other.
    PgConnection first(d->uri, true, d->options);
}

PgStore::~PgStore() = default;

StoreResult PgStore::read(const std::function<void(StoreReader &)> &reads)
{
    return guarded<StoreResult>([&] {
        return d->leased([&](PgConnection &db) {
            db.execute("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY");
            reads(db);
            db.execute("COMMIT");
            return StoreResult{};
        });
    });
}

BatchResult PgStore::apply(const std::vector<statement::Statement> &statements,
                           const BatchContext &context)
{
    return guarded<BatchResult>([&] {
        thread_local std::minstd_rand jitter(std::random_device{}());
        for (int attempt = 1;; ++attempt) {
            try {
                BatchResult result;
                result.outcome =
                    d->leased([&](PgConnection &db) { return db.applyBatch(statements, context); });
                return result;
            } catch (const SerializationFailure &collision) {
                if (attempt == kAttempts) {
                    BatchResult result;
                    result.outcome.status = BatchOutcome::Status::Conflict;
                    result.outcome.failedStatement = collision.statement();
                    result.outcome.message = "other saves kept changing the same assignments "
                                             "at the same time";
                    return result;
                }
                // Colliding batches retried in step would collide again.
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(1 + jitter() % (5u << attempt)));
            }
        }
    });
}

FillResult PgStore::fill(const Records &records, FillMode mode)
{
    return guarded<FillResult>([&] {
        return d->leased([&](PgConnection &db) {
            FillResult result;
            db.execute("BEGIN");
            db.lockForFill();
            if (mode == FillMode::OnlyWhenEmpty && !db.isEmpty()) {
                db.execute("ROLLBACK");
                return result;
            }
            db.addRecords(records);
            db.execute("COMMIT");
            // Fresh statistics, so that the first queries are not planned for empty tables.
            db.execute("ANALYZE Centers, Vendors, VendorCenterCrossReference");
            result.filled = true;
            return result;
        });
    });
}

StoreResult PgStore::enableVersionTriggers(bool on)
{
    return guarded<StoreResult>([&] {
        return d->leased([on](PgConnection &db) {
            db.setVersionTriggers(on);
            return StoreResult{};
        });
    });
}

StoreResult PgStore::ping()
{
    return guarded<StoreResult>([&] {
        return d->leased([](PgConnection &db) {
            db.execute("SELECT 1");
            return StoreResult{};
        });
    });
}

StoreFigures PgStore::figures() const
{
    return d->pool.figures();
}

std::string PgStore::location() const
{
    return d->shown;
}

} // namespace tarvo::server::store
