#include "store/sqlite/SqliteBackup.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvo::server::store {

namespace {

constexpr int kBusyTimeoutMs = 5000;
// Problems of a damaged copy named in the message; integrity_check may list thousands.
constexpr int kProblemsShown = 5;

class Connection
{
public:
    Connection() = default;
    ~Connection() { close(); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // SQLite's message for a failed open; empty when open.
    std::string open(const std::string &path, int flags)
    {
        const int rc = sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            std::string message = m_db != nullptr ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
            close();
            return message.empty() ? "cannot open" : message;
        }
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        return {};
    }
    // False, with SQLite's message, when closing fails (the copy may then be incomplete).
    bool close(std::string *message = nullptr)
    {
        const int rc = sqlite3_close(m_db);
        if (rc != SQLITE_OK && message != nullptr) {
            *message = sqlite3_errmsg(m_db);
        }
        m_db = nullptr;
        return rc == SQLITE_OK;
    }
    sqlite3 *get() const { return m_db; }
    std::string error() const { return sqlite3_errmsg(m_db); }

    // Every row's first column as text; false, with the message, on failure.
    bool column(const char *sql, std::vector<std::string> &values, std::string &message)
    {
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr);
        if (rc == SQLITE_OK) {
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
                values.emplace_back(text != nullptr ? text : "");
            }
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            message = error();
            return false;
        }
        return true;
    }

private:
    sqlite3 *m_db = nullptr;
};

BackupResult failure(std::string message)
{
    BackupResult result;
    result.status = StoreStatus::Failed;
    result.message = std::move(message);
    return result;
}

// The schema version a file of this server holds; the message when it holds none.
std::optional<std::int64_t> schemaVersion(Connection &db, std::string &message)
{
    std::vector<std::string> values;
    if (!db.column("SELECT MAX(Version) FROM SchemaVersion", values, message)) {
        return std::nullopt;
    }
    if (values.empty() || values.front().empty()) {
        message = "its SchemaVersion table is empty";
        return std::nullopt;
    }
    return std::stoll(values.front());
}

// Makes the new directory entry of `path` durable, not only its content.
void syncDirectoryOf(const std::string &path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const int fd =
        ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

BackupResult copy(const std::string &database, const std::string &out)
{
    Connection source;
    // Without SQLITE_OPEN_CREATE, a wrong path is an error, never a new file; and query_only
    // refuses every write, so the schema is never brought up to date here. Not read-only:
    // a read-only connection to a database in WAL mode creates its -wal and -shm files and
    // cannot remove them, so that run by another user (root) it would leave files the
    // server cannot open. Like any SQLite client, the last to close removes them.
    if (std::string problem = source.open(database, SQLITE_OPEN_READWRITE); !problem.empty()) {
        return failure("cannot open " + database + ": " + problem);
    }
    std::string problem;
    std::vector<std::string> unused;
    if (!source.column("PRAGMA query_only = 1", unused, problem)) {
        return failure("cannot open " + database + " for reading only: " + problem);
    }
    if (!schemaVersion(source, problem)) {
        return failure(database + " is not a CenterVendor database (" + problem + ")");
    }

    Connection target;
    if (std::string opened = target.open(out, SQLITE_OPEN_READWRITE); !opened.empty()) {
        return failure("cannot open " + out + ": " + opened);
    }
    // One step: every page in one read transaction of the source, so the copy is one
    // consistent state. Writers in WAL mode go on committing beside it.
    sqlite3_backup *backup = sqlite3_backup_init(target.get(), "main", source.get(), "main");
    if (backup == nullptr) {
        return failure("cannot start the copy: " + target.error());
    }
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
        return failure("the copy failed: " +
                       std::string(sqlite3_errstr(stepped != SQLITE_DONE ? stepped : finished)));
    }
    source.close();

    std::vector<std::string> problems;
    const std::string check = "PRAGMA integrity_check(" + std::to_string(kProblemsShown) + ")";
    if (!target.column(check.c_str(), problems, problem)) {
        return failure("PRAGMA integrity_check of the copy failed: " + problem);
    }
    if (problems.size() != 1 || problems.front() != "ok") {
        std::string listed;
        for (const std::string &line : problems) {
            listed += (listed.empty() ? "" : "; ") + line;
        }
        return failure("the copy fails PRAGMA integrity_check: " + listed);
    }
    BackupResult result;
    const auto version = schemaVersion(target, problem);
    if (!version) {
        return failure("the copy holds no schema version: " + problem);
    }
    result.schemaVersion = *version;
    if (!target.close(&problem)) {
        return failure("cannot close the copy: " + problem);
    }
    syncDirectoryOf(out);
    std::error_code ignored;
    result.bytes = std::filesystem::file_size(out, ignored);
    return result;
}

void removeCopy(const std::string &out)
{
    for (const char *suffix : {"", "-journal", "-wal", "-shm"}) {
        ::unlink((out + suffix).c_str());
    }
}

} // namespace

BackupResult backupSqlite(const std::string &database, const std::string &out)
{
    struct stat found
    {
    };
    if (::stat(database.c_str(), &found) != 0) {
        return failure("there is no database at " + database + ": " + std::strerror(errno));
    }
    // Created here, exclusively, so that an existing file is never replaced; SQLite takes an
    // empty file as an empty database.
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0) {
        const int error = errno;
        return failure(error == EEXIST ? out + " already exists; a backup never replaces a file"
                                       : "cannot create " + out + ": " + std::strerror(error));
    }
    ::close(fd);
    BackupResult result = copy(database, out);
    if (!result.ok()) {
        removeCopy(out);
    }
    return result;
}

} // namespace tarvo::server::store
