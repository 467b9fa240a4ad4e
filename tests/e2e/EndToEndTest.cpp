// The control against the reference server on a fresh database of the engine under test:
// what the lists show is what the database holds, before and after a commit.
#include "Fixtures.h"
#include "ReferenceServer.h"
#include "auth/Users.h"
#include "support/Environment.h"
#include "support/TestCertificates.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace tarvo::test;
using tarvo::server::ReferenceServer;
using tarvo::server::store::Assignment;
using tarvo::server::testing::TestDatabase;

namespace {

class EndToEnd : public ::testing::Test
{
protected:
    EndToEnd() : EndToEnd({}, QStringLiteral("http://")) {}
    // `origin` is the server name without its address: scheme and user information.
    EndToEnd(const tarvo::server::AccessOptions &access, const QString &origin) : input(control)
    {
        db.add({{{12, "Harbour", 2}, {13, "Inland", 1}},
                {{5, "Acme & Sons", 1, true, "2025-03-04 10:00:00"},
                 {7, "Bolt Works", 2, true, "2025-01-02 09:00:00"},
                 {9, "Cargo Lines", 1, true, "2024-12-24 08:00:00"},
                 {11, "Dormant Ltd", 1, false, "2020-01-01 00:00:00"},
                 {20, "Echo Freight", 3, true, "2025-05-05 05:05:05"}},
                {{12, 9, 0.05, true, "2025-06-01 12:00:00"},
                 {12, 20, 0.125, false, "2025-06-01 12:00:00"}}});
        server = std::make_unique<ReferenceServer>(db.location());
        server->setLogSink([this](const std::string &line) {
            const std::lock_guard lock(logMutex);
            log.push_back(line);
        });
        server->setAccess(access);
        port = server->bindToAnyPort("127.0.0.1");
        serving = std::thread([this] { server->listenAfterBind(); });
        url = origin + QStringLiteral("127.0.0.1:%1").arg(port);
        control.show();
        control.LetDataFromDatabase(12, url);
    }
    ~EndToEnd() override
    {
        server->stop();
        serving.join();
    }
    std::vector<tarvo::server::store::Assignment> assignments()
    {
        auto all = db.assignments();
        std::erase_if(all,
                      [](const tarvo::server::store::Assignment &a) { return a.centerId != 12; });
        return all;
    }

    std::vector<std::string> logLines()
    {
        const std::lock_guard lock(logMutex);
        return log;
    }

    TestDatabase db;
    std::mutex logMutex;
    std::vector<std::string> log;
    std::unique_ptr<ReferenceServer> server;
    std::thread serving;
    int port = 0;
    QString url;
    CenterVendor control;
    UserInput input;
};

TEST_F(EndToEnd, theListsShowWhatTheDatabaseHolds)
{
    EXPECT_EQ(
        rowsOf(control, Vendors),
        (std::vector<QStringList>{{"5", "Acme & Sons", "1", "8.00", "1", "03/04/2025", "0005"},
                                  {"7", "Bolt Works", "2", "8.00", "0", "01/02/2025", "0007"}}));
    EXPECT_EQ(rowsOf(control, Center),
              (std::vector<QStringList>{{"9", "Cargo Lines", "", "5.00", "1", "", "0009"},
                                        {"20", "Echo Freight", "", "12.50", "0", "", "0020"}}));
    EXPECT_EQ(control.findChild<QLabel *>("lblAllVendors")->text(),
              "Non Selected Active Vendors (2):");
}

TEST_F(EndToEnd, aCommitWritesEveryPendingChangeAndTheReloadShowsIt)
{
    input.doubleClickId(Vendors, "5");
    input.clickId(Center, "20");
    input.clickButton("cmdcenterHandFee");
    input.type("txtCntHandFee", "3.5");
    input.clickButton("cmdcenterHandFee");
    input.doubleClickId(Center, "9");
    MessageWatcher messages;
    input.clickButton("cmdCommit");

    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].title, "Center Vendor Cross Reference");
    EXPECT_EQ(messages.seen()[0].text, "Saved: 1 added, 1 updated, 1 removed.");
    const auto rows = assignments();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].vendorId, 5);
    EXPECT_DOUBLE_EQ(rows[0].fee, 0.08);
    EXPECT_TRUE(rows[0].duty);
    EXPECT_EQ(rows[1].vendorId, 20);
    EXPECT_DOUBLE_EQ(rows[1].fee, 0.035);
    EXPECT_EQ(columnOf(control, Center, 0), (QStringList{"5", "20"}));
    EXPECT_EQ(columnOf(control, Center, 4), (QStringList{"1", "0"}));
    EXPECT_EQ(columnOf(control, Vendors, 0), (QStringList{"7", "9"}));
    EXPECT_FALSE(control.findChild<QPushButton *>("cmdCommit")->isEnabled());
}

// The three stories of two staff on one center: disjoint edits both land, a fee both changed
// and an assignment one removed stop the other's commit with nothing lost, and the choice made
// in the collision view is what the database then holds.
TEST_F(EndToEnd, twoStaffOnOneCenterNeitherOverwriteUnseenNorLoseWork)
{
    CenterVendor bobControl;
    UserInput bob(bobControl);
    bobControl.show();
    bobControl.LetDataFromDatabase(12, url);
    ASSERT_FALSE(bobControl.loadedVersion().isEmpty());
    EXPECT_EQ(bobControl.loadedVersion(), control.loadedVersion());
    const auto storeFee = [](UserInput &who, const char *id, const char *fee) {
        who.clickId(Center, id);
        who.clickButton("cmdcenterHandFee");
        who.type("txtCntHandFee", fee);
        who.clickButton("cmdcenterHandFee");
    };
    const auto feeOf = [this](std::int64_t vendor) {
        for (const tarvo::server::store::Assignment &a : assignments()) {
            if (a.vendorId == vendor) {
                return a.fee;
            }
        }
        return -1.0;
    };
    // Answers the collision view with one button for all rows.
    const auto answering = [](const char *button) {
        auto *timer = new QTimer;
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, [button] {
            auto *dialog = QApplication::activeModalWidget();
            if (dialog != nullptr && dialog->objectName() == "CollisionDialog") {
                dialog->findChild<QPushButton *>(button)->click();
            }
        });
        timer->start();
        return std::unique_ptr<QTimer>(timer);
    };
    MessageWatcher messages;

    // Disjoint: Alice's fee of 9, Bob's add of 5; Bob's commit is replayed by itself.
    storeFee(input, "9", "6");
    bob.doubleClickId(Vendors, "5");
    input.clickButton("cmdCommit");
    bob.clickButton("cmdCommit");
    EXPECT_DOUBLE_EQ(feeOf(9), 0.06);
    EXPECT_DOUBLE_EQ(feeOf(5), 0.08);
    EXPECT_FALSE(bobControl.hasPendingChanges());

    // The same fee: Bob sees Alice's 14 % beside his 15 % and keeps his.
    control.LetDataFromDatabase(12, url);
    storeFee(input, "20", "14");
    input.clickButton("cmdCommit");
    storeFee(bob, "20", "15");
    {
        const auto keep = answering("cmdKeepAllMine");
        bob.clickButton("cmdCommit");
    }
    EXPECT_DOUBLE_EQ(feeOf(20), 0.14) << "nothing saved before Bob chose";
    bob.clickButton("cmdCommit");
    EXPECT_DOUBLE_EQ(feeOf(20), 0.15);

    // A removal: Alice removes 9 while Bob changes the fees of 9 and 5; Bob takes hers, and his
    // fee of 5 still lands without being typed again.
    control.LetDataFromDatabase(12, url);
    input.doubleClickId(Center, "9");
    input.clickButton("cmdCommit");
    storeFee(bob, "9", "7");
    storeFee(bob, "5", "9");
    {
        const auto take = answering("cmdTakeAllTheirs");
        bob.clickButton("cmdCommit");
    }
    EXPECT_EQ(bobControl.pendingChangeCount(), 1);
    bob.clickButton("cmdCommit");
    EXPECT_DOUBLE_EQ(feeOf(9), -1.0);
    EXPECT_DOUBLE_EQ(feeOf(5), 0.09);
    EXPECT_FALSE(bobControl.hasPendingChanges());
}

TEST_F(EndToEnd, aRemovalSomeoneElseAlreadyMadeIsDoneAndTheRestIsCommitted)
{
    input.doubleClickId(Vendors, "7");
    input.doubleClickId(Center, "9");
    // Someone else removes the assignment after this user's load, writing the table directly:
    // the center's version moves all the same.
    db.execute("DELETE FROM VendorCenterCrossReference WHERE CenterID = 12 AND VendorID = 9");
    MessageWatcher messages;
    input.clickButton("cmdCommit");
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Saved: 1 added, 0 updated, 0 removed.");
    const auto after = assignments();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].vendorId, 7);
    EXPECT_EQ(after[1].vendorId, 20);
    EXPECT_FALSE(control.hasPendingChanges());
}

// What a deployment runs: HTTPS with a certificate of its own authority, and a user who may
// touch center 12 only.
struct Deployment
{
    Deployment()
        : users(QByteArray("# the desk\nclerk:" +
                           QByteArray::fromStdString(tarvo::server::auth::hashPassword("s:cret")) +
                           ":12\n")
                    .toStdString()),
          trust("CURL_CA_BUNDLE", certificates.caFile())
    {
        access.usersFile = users.path();
        access.tlsCert = certificates.serverCertificateFile();
        access.tlsKey = certificates.serverKeyFile();
    }

    TestCertificates certificates;
    TemporaryFile users;
    ScopedEnv trust;
    tarvo::server::AccessOptions access;
};

class SecuredEndToEnd : private Deployment, public EndToEnd
{
protected:
    SecuredEndToEnd() : EndToEnd(access, QStringLiteral("https://clerk:s%3Acret@")) {}
};

TEST_F(SecuredEndToEnd, aUserLimitedToOneCenterCommitsThereAndIsRefusedOnAnother)
{
    ASSERT_EQ(columnOf(control, Center, 0), (QStringList{"9", "20"}));
    input.doubleClickId(Vendors, "5");
    input.doubleClickId(Center, "9");
    MessageWatcher messages;
    input.clickButton("cmdCommit");
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Saved: 1 added, 0 updated, 1 removed.");
    EXPECT_EQ(db.rows("SELECT UserName, CenterID, VendorID, Action, HandlingFee, "
                      "DutyBrokerageFee FROM AssignmentAudit ORDER BY VendorID"),
              (std::vector<std::vector<std::string>>{{"clerk", "12", "5", "add", "0.08", "1"},
                                                     {"clerk", "12", "9", "remove", "0.05", "1"}}));
    EXPECT_EQ(columnOf(control, Center, 0), (QStringList{"5", "20"}));

    control.LetDataFromDatabase(13, url);
    EXPECT_TRUE(rowsOf(control, Center).empty());
    EXPECT_TRUE(rowsOf(control, Vendors).empty());
    // The server logs a request once its answer has gone out.
    const auto refused = [this] {
        const auto lines = logLines();
        return std::any_of(lines.begin(), lines.end(), [](const std::string &line) {
            return line.find("center=13 statements=0 status=403") != std::string::npos &&
                   line.find("user=clerk") != std::string::npos;
        });
    };
    for (int i = 0; i < 500 && !refused(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(refused());
}

} // namespace
