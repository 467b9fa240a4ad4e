// Several servers and clients on one database, and the database going away under a server.
#include "ServerFixture.h"

#include <algorithm>
#include <barrier>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::server::testing {
namespace {

// A second server on the test's database, as a second process behind a load balancer.
class TwoServers : public ServerTest
{
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        m_second = std::make_unique<ReferenceServer>(m_db->location());
        m_second->setLogSink([](const std::string &) {});
        m_secondPort = m_second->bindToAnyPort("127.0.0.1");
        ASSERT_GT(m_secondPort, 0);
        m_secondServing = std::thread([this] { m_second->listenAfterBind(); });
    }
    void TearDown() override
    {
        if (m_second) {
            m_second->stop();
        }
        if (m_secondServing.joinable()) {
            m_secondServing.join();
        }
        m_second.reset();
        ServerTest::TearDown();
    }
    httplib::Client secondClient() const
    {
        httplib::Client cli("127.0.0.1", m_secondPort);
        cli.set_read_timeout(30);
        return cli;
    }

    std::unique_ptr<ReferenceServer> m_second;
    std::thread m_secondServing;
    int m_secondPort = -1;
};

TEST_F(TwoServers, ConflictingBatchesSentAtOnceEndInOneSaveAndOneConflict)
{
    // Each round both servers get a batch removing the same assignment: only one can.
    for (const std::int64_t vendor : {8, 9, 3}) {
        const std::string body = formBody({updateSql(13, 4, "0.1", 1), deleteSql(12, {vendor})});
        std::barrier start(2);
        std::vector<int> statuses(2, 0);
        std::vector<std::thread> senders;
        for (int i = 0; i < 2; ++i) {
            senders.emplace_back([&, i] {
                httplib::Client cli = i == 0 ? client() : secondClient();
                start.arrive_and_wait();
                const auto res =
                    cli.Post("/CenterVendor.asp", body, "application/x-www-form-urlencoded");
                statuses[static_cast<std::size_t>(i)] = res ? res->status : -1;
            });
        }
        for (std::thread &sender : senders) {
            sender.join();
        }
        std::sort(statuses.begin(), statuses.end());
        EXPECT_EQ(statuses, (std::vector<int>{200, 409})) << "vendor " << vendor;
        EXPECT_FALSE(m_db->assignment(12, vendor));
    }
    const auto first = get("/CenterVendor.asp?count=1&centerID=12");
    const auto second = secondClient().Get("/CenterVendor.asp?count=1&centerID=12");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->body, second->body);
    EXPECT_EQ(answerRecords(first->body, 0),
              (std::vector<std::vector<std::string>>{{"2", "6", "0"}}));
}

class StoreSchema : public ServerTest
{
};

TEST_F(StoreSchema, ADatabaseOfANewerSchemaIsRefusedRatherThanMisread)
{
    m_db->execute("UPDATE SchemaVersion SET Version = Version + 1");
    try {
        ReferenceServer newer(m_db->location());
        ADD_FAILURE() << "a server opened a database of a newer schema";
    } catch (const store::StoreError &error) {
        EXPECT_NE(std::string(error.what()).find("newer than this server's"), std::string::npos)
            << error.what();
    }
}

// Stops and starts the cluster the tests share, through the command ./scripts/test gives.
class StoreRestart : public ServerTest
{
protected:
    void control(const std::string &action)
    {
        const char *ctl = std::getenv("TARVO_TEST_PG_CTL");
        ASSERT_NE(ctl, nullptr) << "TARVO_TEST_PG_CTL is not set: ./scripts/test sets it";
        ASSERT_EQ(std::system((std::string(ctl) + " " + action + " >/dev/null").c_str()), 0)
            << action;
    }
    int status(const std::string &target) const
    {
        const auto res = get(target);
        return res ? res->status : -1;
    }
};

TEST_F(StoreRestart, AServerReconnectsAfterTheDatabaseRestarts)
{
    const std::string count = "/CenterVendor.asp?count=1&centerID=12";
    ASSERT_EQ(status(count), 200);
    const auto healthy = get("/healthz");
    ASSERT_TRUE(healthy);
    EXPECT_EQ(healthy->status, 200);
    EXPECT_EQ(healthy->body, "ok");

    // Connections left idle across a restart are replaced before a request uses them.
    control("restart -m fast");
    EXPECT_EQ(status(count), 200);

    control("stop -m fast");
    EXPECT_EQ(status(count), 503);
    EXPECT_EQ(status("/healthz"), 503);
    const auto refused = post({deleteSql(12, {9})});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_NE(refused->body.find("Nothing was saved: the database cannot be reached"),
              std::string::npos)
        << refused->body;

    control("start");
    EXPECT_EQ(status("/healthz"), 200);
    EXPECT_EQ(status(count), 200);
    const auto saved = post({deleteSql(12, {9})});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->status, 200) << saved->body;
}

} // namespace
} // namespace tarvo::server::testing
