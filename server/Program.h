// What centervendor-server does once its options are read; each returns the exit status.
#pragma once

#include "CommandLine.h"

#include <string>

namespace tarvo::server {

// Reads a password line from standard input (not echoed on a terminal) and adds or replaces
// the user in the users file. 0 when done, 1 otherwise; the outcome is printed either way.
int addUserFromInput(const std::string &program, const AccessOptions &access);

// Writes the backup of the SQLite database `options.db` to `options.backup`: 0 once the copy
// is complete and passes PRAGMA integrity_check, 1 when it failed (no copy is left), 2 for a
// PostgreSQL URI, which pg_dump backs up. Never creates or changes the database.
int writeBackup(const std::string &program, const ServerOptions &options);

// Serves until SIGINT or SIGTERM, then drains for the options' shutdown grace; SIGHUP reads
// the users file again. 1 when the store, an address or a file cannot serve. When the grace
// runs out with requests still at work, the process exits at once with 0 (their connections
// close and the database rolls back what they had not committed): this call never returns
// then. Blocks SIGINT, SIGTERM and SIGHUP for the whole process: call before any other
// thread starts.
int serve(const std::string &program, const ServerOptions &options);

} // namespace tarvo::server
