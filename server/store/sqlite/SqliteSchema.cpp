// The SQLite file's schema: the tables, created where missing, an older file brought up to
// date in place, and the triggers that keep a version per center.
#include "store/sqlite/SqliteConnection.h"

#include <sqlite3.h>

namespace tarvo::server::store {

namespace {

// Raised whenever the schema changes (2 added AssignmentAudit; 3 the centers' versions, their
// triggers and the version on each audit row). Every table and index is created only where
// missing, so that the schema text itself brings most of an older file up to date.
constexpr std::int64_t kSchemaVersion = 3;

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS SchemaVersion (
    Version INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS Centers (
    CenterID INTEGER PRIMARY KEY,
    CenterName TEXT NOT NULL,
    CenterCode INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS Vendors (
    VendorID INTEGER PRIMARY KEY,
    VendorName TEXT NOT NULL,
    CountryID INTEGER NOT NULL,
    Active INTEGER NOT NULL DEFAULT 1 CHECK (Active IN (0, 1)),
    RecordLastUpdated TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS VendorCenterCrossReference (
    CenterID INTEGER NOT NULL REFERENCES Centers (CenterID),
    VendorID INTEGER NOT NULL REFERENCES Vendors (VendorID),
    CenterHandlingFee REAL NOT NULL,
    DutyBrokerageFee INTEGER NOT NULL CHECK (DutyBrokerageFee IN (0, 1)),
    RecordLastUpdated TEXT NOT NULL,
    PRIMARY KEY (CenterID, VendorID)
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS VendorCenterCrossReferenceByVendor
    ON VendorCenterCrossReference (VendorID);
CREATE TABLE IF NOT EXISTS AssignmentAudit (
    AuditID INTEGER PRIMARY KEY,
    ChangedAt TEXT NOT NULL,
    UserName TEXT NOT NULL,
    CenterID INTEGER NOT NULL,
    VendorID INTEGER NOT NULL,
    Action TEXT NOT NULL CHECK (Action IN ('add', 'update', 'remove')),
    HandlingFee REAL NOT NULL,
    DutyBrokerageFee INTEGER NOT NULL,
    CenterVersion INTEGER
);
CREATE INDEX IF NOT EXISTS AssignmentAuditByCenter ON AssignmentAudit (CenterID, AuditID);
CREATE TABLE IF NOT EXISTS CenterVersion (
    CenterID INTEGER PRIMARY KEY,
    Version INTEGER NOT NULL
);
)sql";

// Every written assignment moves its center's version to the microseconds of 'now' (SQLite
// knows it to the millisecond), or one past the version it had when that is later: so a
// version never comes back, not even after a backup was restored, and never moves another
// center's. Triggers, so that a tool writing the table directly moves it too; the server's own
// batches move it by the same rule without them (SqliteBatch.cpp), which spares a trigger
// program per row.
constexpr const char *kTriggers = R"sql(
CREATE TRIGGER IF NOT EXISTS AssignmentAddMovesVersion
AFTER INSERT ON VendorCenterCrossReference BEGIN
    INSERT INTO CenterVersion (CenterID, Version)
    VALUES (NEW.CenterID, CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER) * 1000)
    ON CONFLICT (CenterID) DO UPDATE SET Version = max(Version + 1, excluded.Version);
END;
CREATE TRIGGER IF NOT EXISTS AssignmentUpdateMovesVersion
AFTER UPDATE ON VendorCenterCrossReference BEGIN
    INSERT INTO CenterVersion (CenterID, Version)
    VALUES (NEW.CenterID, CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER) * 1000)
    ON CONFLICT (CenterID) DO UPDATE SET Version = max(Version + 1, excluded.Version);
    INSERT INTO CenterVersion (CenterID, Version)
    SELECT OLD.CenterID, CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER) * 1000
    WHERE OLD.CenterID IS NOT NEW.CenterID
    ON CONFLICT (CenterID) DO UPDATE SET Version = max(Version + 1, excluded.Version);
END;
CREATE TRIGGER IF NOT EXISTS AssignmentRemoveMovesVersion
AFTER DELETE ON VendorCenterCrossReference BEGIN
    INSERT INTO CenterVersion (CenterID, Version)
    VALUES (OLD.CenterID, CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER) * 1000)
    ON CONFLICT (CenterID) DO UPDATE SET Version = max(Version + 1, excluded.Version);
END;
)sql";

constexpr const char *kDropTriggers = R"sql(
DROP TRIGGER IF EXISTS AssignmentAddMovesVersion;
DROP TRIGGER IF EXISTS AssignmentUpdateMovesVersion;
DROP TRIGGER IF EXISTS AssignmentRemoveMovesVersion;
)sql";

} // namespace

// Only a file without the tables, or of an older schema, is written to, so that opening a
// connection of a busy server takes no write lock.
void SqliteConnection::createSchema()
{
    auto storedVersion = [this]() -> std::int64_t {
        SqliteStatement versionTable(m_db,
                                     "SELECT 1 FROM sqlite_master WHERE name = 'SchemaVersion'");
        if (!versionTable.step()) {
            return 0;
        }
        versionTable.reset();
        SqliteStatement version(m_db, "SELECT MAX(Version) FROM SchemaVersion");
        version.step();
        const std::int64_t found = version.int64(0);
        version.reset();
        return found;
    };
    std::int64_t found = storedVersion();
    if (found < kSchemaVersion) {
        SqliteTransaction transaction(*this);
        // Another server may have brought the file up to date while this one waited.
        found = storedVersion();
        if (found < kSchemaVersion) {
            execute(kSchema);
            // The audit trail of a file of version 2 lacks the column; its rows keep none.
            SqliteStatement column(m_db, "SELECT 1 FROM pragma_table_info('AssignmentAudit') "
                                         "WHERE name = 'CenterVersion'");
            if (!column.step()) {
                execute("ALTER TABLE AssignmentAudit ADD COLUMN CenterVersion INTEGER");
            }
            column.reset();
            execute(kTriggers);
            execute("DELETE FROM SchemaVersion");
            SqliteStatement version(m_db, "INSERT INTO SchemaVersion (Version) VALUES (?1)");
            version.bind(1, kSchemaVersion).run();
            found = kSchemaVersion;
        }
        transaction.commit();
    }
    if (found > kSchemaVersion) {
        throw SqliteError("the database has schema version " + std::to_string(found) +
                              ", newer than this server's " + std::to_string(kSchemaVersion),
                          SQLITE_MISMATCH);
    }
}

void SqliteConnection::setVersionTriggers(bool on)
{
    SqliteTransaction transaction(*this);
    execute(on ? kTriggers : kDropTriggers);
    transaction.commit();
}

void SqliteConnection::runTriggers(bool on)
{
    const int rc = sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, on ? 1 : 0, nullptr);
    if (rc != SQLITE_OK) {
        throw SqliteError("cannot switch the triggers", rc);
    }
}

std::array<bool, 3> SqliteConnection::versionTriggers()
{
    static constexpr std::string_view kNames[] = {"AssignmentAddMovesVersion",
                                                  "AssignmentUpdateMovesVersion",
                                                  "AssignmentRemoveMovesVersion"};
    std::array<bool, 3> present{};
    m_triggers->reset();
    std::string name;
    while (m_triggers->step()) {
        m_triggers->text(0, name);
        for (std::size_t i = 0; i < present.size(); ++i) {
            present[i] = present[i] || name == kNames[i];
        }
    }
    return present;
}

} // namespace tarvo::server::store
