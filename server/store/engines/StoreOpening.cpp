// Choosing the engine by the location. Apart from the interface so that what reads and writes
// through a store (the page, its fuzzers) links neither engine.
#include "store/Store.h"
#include "store/postgresql/PgStore.h"
#include "store/sqlite/SqliteStore.h"

namespace tarvo::server::store {

std::unique_ptr<Store> Store::open(const std::string &location, const StoreOptions &options)
{
    if (isPostgresLocation(location)) {
        return std::make_unique<PgStore>(location, options);
    }
    return std::make_unique<SqliteStore>(location, options);
}

} // namespace tarvo::server::store
