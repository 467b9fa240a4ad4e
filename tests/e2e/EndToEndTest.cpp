// The control against the reference server on a fresh database of the engine under test:
// what the lists show is what the database holds, before and after a commit.
#include "Fixtures.h"
#include "ReferenceServer.h"
#include "support/TestDatabase.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvo::test;
using tarvo::server::Assignment;
using tarvo::server::ReferenceServer;
using tarvo::server::testing::TestDatabase;

namespace {

class EndToEnd : public ::testing::Test
{
protected:
    EndToEnd() : input(control)
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
        server->setLogSink([](const std::string &) {});
        port = server->bindToAnyPort("127.0.0.1");
        serving = std::thread([this] { server->listenAfterBind(); });
        url = QStringLiteral("http://127.0.0.1:%1").arg(port);
        control.show();
        control.LetDataFromDatabase(12, url);
    }
    ~EndToEnd() override
    {
        server->stop();
        serving.join();
    }
    std::vector<Assignment> assignments()
    {
        auto all = db.assignments();
        std::erase_if(all, [](const Assignment &a) { return a.centerId != 12; });
        return all;
    }

    TestDatabase db;
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

TEST_F(EndToEnd, aBatchTheDatabaseRefusesChangesNothingAndKeepsTheMarks)
{
    input.doubleClickId(Vendors, "7");
    input.doubleClickId(Center, "9");
    // Someone else removes the assignment after this user's load.
    db.execute("DELETE FROM VendorCenterCrossReference WHERE CenterID = 12 AND VendorID = 9");
    const auto before = assignments();
    MessageWatcher messages;
    input.clickButton("cmdCommit");
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Error During saving to Database");
    EXPECT_TRUE(messages.seen()[0].informative.startsWith("Nothing was saved"))
        << messages.seen()[0].informative.toStdString();
    const auto after = assignments();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[0].vendorId, 20);
    EXPECT_EQ(input.row(Center, "7").value(4), "0N");
    EXPECT_EQ(input.row(Vendors, "9").value(4), "1D");
    EXPECT_TRUE(control.findChild<QPushButton *>("cmdCommit")->isEnabled());
}

} // namespace
