// An online copy of a SQLite database that a server may be using at the same time.
#pragma once

#include "store/Store.h"

#include <cstdint>
#include <string>

namespace tarvo::server::store {

struct BackupResult : StoreResult
{
    std::int64_t schemaVersion = 0; // the copy's, when Ok
    std::uintmax_t bytes = 0;       // the copy's size, when Ok
};

// Copies `database` into the new file `out` in one read transaction, so that the copy is one
// consistent state while writers go on committing (WAL). Only reads `database`: never
// creates or upgrades it (being the last to close it, it may checkpoint its WAL). Refuses an `out`
// that already exists. Ok only once the copy is synced and passes PRAGMA integrity_check; on any
// failure `out` is removed again.
BackupResult backupSqlite(const std::string &database, const std::string &out);

} // namespace tarvo::server::store
