// The audit trail a store writes with each batch and the versions it keeps per center, on the
// engine under test.
#include "ServerFixture.h"
#include "store/Store.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tarvo::server::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class AuditTrail : public ::testing::Test
{
protected:
    void SetUp() override
    {
        try {
            m_db = std::make_unique<TestDatabase>();
        } catch (const std::exception &error) {
            FAIL() << error.what();
        }
        seedSmallData(*m_db);
        m_store = store::Store::open(m_db->location());
    }

    store::BatchOutcome apply(const std::vector<statement::Statement> &statements,
                              const std::string &user)
    {
        const store::BatchResult result = m_store->apply(statements, {"2026-03-04 05:06:07", user});
        EXPECT_TRUE(result.ok()) << result.message;
        return result.outcome;
    }

    Rows auditRows()
    {
        return m_db->rows("SELECT ChangedAt, UserName, CenterID, VendorID, Action, HandlingFee, "
                          "DutyBrokerageFee FROM AssignmentAudit "
                          "ORDER BY CenterID, VendorID, Action");
    }

    std::int64_t version(std::int64_t centerId)
    {
        std::int64_t found = -1;
        EXPECT_TRUE(
            m_store->read([&](store::StoreReader &db) { found = *db.centerVersion(centerId); })
                .ok());
        return found;
    }

    // The version column of the audit rows, oldest first.
    std::vector<std::int64_t> auditVersions()
    {
        std::vector<std::int64_t> versions;
        m_store->read([&](store::StoreReader &db) {
            db.forEachChange(12, 100, [&](const store::AssignmentChange &change) {
                versions.insert(versions.begin(), change.version);
            });
        });
        return versions;
    }

    void toolWrites()
    {
        m_db->execute("UPDATE VendorCenterCrossReference SET DutyBrokerageFee = 0");
    }

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<store::Store> m_store;
};

TEST_F(AuditTrail, EveryAssignmentWrittenLeavesOneRowWithItsUserAndFees)
{
    const store::BatchOutcome outcome = apply({statement::InsertAssignment{12, 4, 0.07, false},
                                               statement::UpdateAssignment{12, 8, 0.04, false},
                                               statement::DeleteAssignments{12, {9, 3, 9}}},
                                              "alice");
    ASSERT_EQ(outcome.status, store::BatchOutcome::Status::Applied) << outcome.message;
    // A removal keeps the fees the assignment had; a repeated id removes, and audits, once.
    const std::string at = "2026-03-04 05:06:07";
    EXPECT_EQ(auditRows(), (Rows{{at, "alice", "12", "3", "remove", "0.05", "1"},
                                 {at, "alice", "12", "4", "add", "0.07", "0"},
                                 {at, "alice", "12", "8", "update", "0.04", "0"},
                                 {at, "alice", "12", "9", "remove", "0.08", "0"}}));
}

TEST_F(AuditTrail, ARefusedBatchLeavesNoRow)
{
    // The statements in front of the conflict were written before it was found.
    for (const auto &statements :
         {std::vector<statement::Statement>{statement::InsertAssignment{12, 4, 0.07, false},
                                            statement::DeleteAssignments{12, {5}}},
          std::vector<statement::Statement>{statement::UpdateAssignment{12, 8, 0.04, false},
                                            statement::InsertAssignment{12, 99, 0.01, true}}}) {
        EXPECT_EQ(apply(statements, "alice").status, store::BatchOutcome::Status::Conflict);
    }
    EXPECT_EQ(auditRows(), Rows{});
}

TEST_F(AuditTrail, ADatabaseOfTheFormerSchemaGainsTheTrailWhenOpened)
{
    m_store.reset();
    m_db->execute("DROP TABLE AssignmentAudit");
    m_db->execute("UPDATE SchemaVersion SET Version = 1");
    m_store = store::Store::open(m_db->location());
    EXPECT_EQ(m_db->rows("SELECT Version FROM SchemaVersion"), (Rows{{"3"}}));
    ASSERT_EQ(apply({statement::DeleteAssignments{13, {4}}}, "").status,
              store::BatchOutcome::Status::Applied);
    EXPECT_EQ(auditRows(), (Rows{{"2026-03-04 05:06:07", "", "13", "4", "remove", "0.125", "0"}}));
}

TEST_F(AuditTrail, ADatabaseOfTheFormerSchemaGainsVersionsWhenOpened)
{
    apply({statement::UpdateAssignment{12, 8, 0.04, false}}, "alice");
    m_store.reset();
    const std::vector<std::string> downgrade =
        m_db->engine() == Engine::Sqlite
            ? std::vector<std::string>{"DROP TRIGGER AssignmentAddMovesVersion",
                                       "DROP TRIGGER AssignmentUpdateMovesVersion",
                                       "DROP TRIGGER AssignmentRemoveMovesVersion"}
            : std::vector<std::string>{"DROP FUNCTION MoveCenterVersions() CASCADE"};
    for (const std::string &sql : downgrade) {
        m_db->execute(sql);
    }
    for (const char *sql : {"DROP TABLE CenterVersion", "DROP INDEX AssignmentAuditByCenter",
                            "ALTER TABLE AssignmentAudit DROP COLUMN CenterVersion",
                            "UPDATE SchemaVersion SET Version = 2"}) {
        m_db->execute(sql);
    }

    m_store = store::Store::open(m_db->location());
    EXPECT_EQ(m_db->rows("SELECT Version FROM SchemaVersion"), (Rows{{"3"}}));
    EXPECT_EQ(version(12), 0) << "no write since versions exist";
    toolWrites();
    const std::int64_t moved = version(12);
    EXPECT_GT(moved, 0);
    ASSERT_EQ(apply({statement::DeleteAssignments{12, {9}}}, "bob").status,
              store::BatchOutcome::Status::Applied);
    EXPECT_GT(version(12), moved);
    EXPECT_EQ(auditVersions(), (std::vector<std::int64_t>{0, version(12)}))
        << "the older row has no version; the new one the version its change gave";
}

TEST_F(AuditTrail, VersionTriggersSwitchOffAndOnThroughTheStore)
{
    toolWrites();
    const std::int64_t before = version(12);
    ASSERT_TRUE(m_store->enableVersionTriggers(false).ok());
    toolWrites();
    EXPECT_EQ(version(12), before);
    // The store's own batches keep the versions only while the triggers are there.
    ASSERT_EQ(apply({statement::UpdateAssignment{12, 8, 0.04, false}}, "alice").status,
              store::BatchOutcome::Status::Applied);
    EXPECT_EQ(version(12), before);
    ASSERT_TRUE(m_store->enableVersionTriggers(true).ok());
    toolWrites();
    EXPECT_GT(version(12), before);
}

TEST_F(AuditTrail, WithoutTheTrailABatchLeavesNoRowButMovesItsVersionAsAFillDoes)
{
    const std::int64_t seeded = version(13);
    EXPECT_GT(seeded, 0) << "the seed's assignment moved it";
    m_db->addAssignment({13, 5, 0.01, false, "2024-01-01 00:00:00"});
    const std::int64_t filled = version(13);
    EXPECT_GT(filled, seeded);

    store::StoreOptions options;
    options.auditTrail = false;
    const std::unique_ptr<store::Store> bare = store::Store::open(m_db->location(), options);
    const store::BatchResult result = bare->apply({statement::UpdateAssignment{13, 5, 0.02, true}},
                                                  {"2026-03-04 05:06:07", "alice"});
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(auditRows(), Rows{});
    EXPECT_GT(version(13), filled);
}

// Batches around the number of audit rows one statement writes at once: every row written
// leaves its row with its fees, each at the version its change gave (moved per row on SQLite,
// per run of one kind on PostgreSQL), the last at the center's version.
struct LargeBatch
{
    const char *name;
    int inserts; // of new vendors, then updates of the first half and removal of a quarter
    bool mixed;
};

class AuditTrailOfLargeBatches : public AuditTrail, public ::testing::WithParamInterface<LargeBatch>
{
};

TEST_P(AuditTrailOfLargeBatches, LeaveOneRowPerWriteAtTheVersionItGave)
{
    const LargeBatch &batch = GetParam();
    store::Records vendors;
    for (int i = 0; i < batch.inserts; ++i) {
        vendors.vendors.push_back({1000 + i, "Vendor", 1, true, "2024-01-01 00:00:00"});
    }
    m_db->add(vendors);
    const std::int64_t before = version(13);

    std::vector<statement::Statement> statements;
    Rows expected;
    auto fee = [](int i, int step) { return std::to_string(i % 7 + step) + ".5"; };
    for (int i = 0; i < batch.inserts; ++i) {
        statements.push_back(
            statement::InsertAssignment{13, 1000 + i, std::stod(fee(i, 0)), i % 2 == 0});
        expected.push_back({std::to_string(1000 + i), "add", fee(i, 0), i % 2 == 0 ? "1" : "0"});
    }
    if (batch.mixed) {
        statement::DeleteAssignments removal{13, {}};
        for (int i = 0; i < batch.inserts / 2; ++i) {
            statements.push_back(
                statement::UpdateAssignment{13, 1000 + i, std::stod(fee(i, 1)), true});
            expected.push_back({std::to_string(1000 + i), "update", fee(i, 1), "1"});
        }
        for (int i = 0; i < batch.inserts / 4; ++i) {
            removal.vendorIds.push_back(1000 + i);
            expected.push_back({std::to_string(1000 + i), "remove", fee(i, 1), "1"});
        }
        statements.push_back(removal);
    }
    const store::BatchOutcome outcome = apply(statements, "alice");
    ASSERT_EQ(outcome.status, store::BatchOutcome::Status::Applied) << outcome.message;

    const Rows written = m_db->rows("SELECT VendorID, Action, HandlingFee, DutyBrokerageFee, "
                                    "CenterVersion FROM AssignmentAudit ORDER BY AuditID");
    ASSERT_EQ(written.size(), expected.size());
    Rows contents;
    std::int64_t last = before;
    for (const auto &row : written) {
        contents.push_back({row[0], row[1], row[2], row[3]});
        const std::int64_t at = std::stoll(row[4]);
        if (m_db->engine() == Engine::Sqlite) {
            EXPECT_GT(at, last) << "vendor " << row[0] << " " << row[1];
        } else {
            EXPECT_GE(at, last) << "vendor " << row[0] << " " << row[1];
        }
        last = at;
    }
    EXPECT_GT(last, before);
    EXPECT_EQ(last, version(13));
    if (m_db->engine() == Engine::Sqlite) {
        EXPECT_EQ(contents, expected) << "in the order written";
    } else {
        std::sort(contents.begin(), contents.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(contents, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, AuditTrailOfLargeBatches,
    ::testing::Values(LargeBatch{"OneShortOfAStatementsWorth", 255, false},
                      LargeBatch{"OneStatementsWorth", 256, false},
                      LargeBatch{"OneOverAStatementsWorth", 257, false},
                      LargeBatch{"SeveralStatementsWorthOfEveryKind", 400, true}),
    [](const ::testing::TestParamInfo<LargeBatch> &info) { return info.param.name; });

} // namespace
} // namespace tarvo::server::testing
