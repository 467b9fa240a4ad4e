// Strangers flooding the server with logins it has never seen, and requests framed so that a
// proxy could read them otherwise: a verified user and /healthz keep being served, failures
// stay within their limits, and ambiguous framing is refused and its connection closed.
// The answer times under these floods are measured in bench/server.
#include "ServerFixture.h"
#include "auth/Users.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sodium.h>
#include <string>
#include <vector>

namespace tarvo::server::testing {
namespace {

using namespace std::chrono_literals;

std::string basic(const std::string &user, const std::string &password)
{
    const std::string plain = user + ":" + password;
    std::string encoded(sodium_base64_ENCODED_LEN(plain.size(), sodium_base64_VARIANT_ORIGINAL),
                        '\0');
    sodium_bin2base64(encoded.data(), encoded.size(),
                      reinterpret_cast<const unsigned char *>(plain.data()), plain.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    encoded.resize(encoded.find('\0'));
    return "Basic " + encoded;
}

// The n-th of many loopback addresses, `perAddress` connections each.
std::string source(int n, int perAddress)
{
    const int a = 2 + n / perAddress;
    return "127.0." + std::to_string(1 + a / 250) + "." + std::to_string(a % 250 + 1);
}

class ServerUnderLoginFlood : public ServerTest
{
protected:
    static void SetUpTestSuite() { s_hash = auth::hashPassword("alice-pw"); }

    void configure(ReferenceServer &server) override
    {
        m_users = m_dir.path() / "users";
        writeUsers("alice:" + s_hash + ":12\n");
        AccessOptions access;
        access.usersFile = m_users.string();
        server.setAccess(access);
    }

    void writeUsers(const std::string &text) { std::ofstream(m_users) << text; }

    int aliceGets(const std::string &target, const std::string &password = "alice-pw") const
    {
        httplib::Client cli = client();
        cli.set_basic_auth("alice", password);
        const auto res = cli.Get(target);
        return res ? res->status : 0;
    }

    // Sends `count` requests with credentials nobody has, `perAddress` from each address,
    // without waiting for their answers.
    std::vector<std::unique_ptr<RawConnection>> flood(int count, int perAddress,
                                                      const std::string &extraHead = {})
    {
        std::vector<std::unique_ptr<RawConnection>> strangers;
        for (int i = 0; i < count; ++i) {
            strangers.push_back(
                std::make_unique<RawConnection>(m_port, source(i, perAddress).c_str()));
            EXPECT_TRUE(strangers.back()->connected()) << i;
            strangers.back()->send(
                extraHead.empty()
                    ? "GET /CenterVendor.asp?centers=1 HTTP/1.1\r\nHost: x\r\nAuthorization: " +
                          basic("stranger" + std::to_string(i), "x") + "\r\n\r\n"
                    : extraHead);
        }
        return strangers;
    }

    static std::string s_hash;
    TempDir m_dir;
    std::filesystem::path m_users;
};

std::string ServerUnderLoginFlood::s_hash;

TEST_F(ServerUnderLoginFlood, UnknownUsersUploadsNeverTakeTheBodyBudgetOfAVerifiedCommit)
{
    ASSERT_EQ(aliceGets("/CenterVendor.asp?count=1&centerID=12"), 200);
    const std::string upload =
        "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nAuthorization: Basic eDp4\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 16777216\r\n\r\nS";
    auto strangers = flood(16, 1, upload);
    httplib::Client cli = client();
    cli.set_basic_auth("alice", "alice-pw");
    for (int round = 0; round < 3; ++round) {
        const auto saved =
            cli.Post("/CenterVendor.asp",
                     formBody({round % 2 == 0 ? deleteSql(12, {3}) : insertSql(12, 3, "0.05", 1)}),
                     "application/x-www-form-urlencoded");
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->status, 200) << saved->body;
        EXPECT_EQ(aliceGets("/healthz"), 200);
        for (auto &stranger : strangers) {
            stranger->send("Q");
        }
    }
    for (auto &stranger : strangers) {
        const int status = RawConnection::status(stranger->receive(10s));
        EXPECT_TRUE(status == 401 || status == 429 || status == 503) << status;
    }
}

TEST_F(ServerUnderLoginFlood, UnknownUserNamesFromManyAddressesNeverStarveAVerifiedUser)
{
    ASSERT_EQ(aliceGets("/CenterVendor.asp?count=1&centerID=12"), 200);
    auto strangers = flood(300, 9);
    for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(aliceGets("/CenterVendor.asp?centers=1"), 200) << round;
        EXPECT_EQ(aliceGets("/healthz"), 200) << round;
    }
    int checked = 0;
    for (auto &stranger : strangers) {
        const int status = RawConnection::status(stranger->receive(30s));
        EXPECT_TRUE(status == 401 || status == 429 || status == 503) << status;
        checked += status == 401;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(ServerUnderLoginFlood, FailuresAtOnceFromOneAddressAreCheckedTenTimesAtMost)
{
    auto strangers = flood(48, 48);
    int checked = 0;
    for (auto &stranger : strangers) {
        checked += RawConnection::status(stranger->receive(30s)) == 401;
    }
    EXPECT_GE(checked, 1);
    EXPECT_LE(checked, 10);
}

TEST_F(ServerUnderLoginFlood, ItsOwnerSignsInFromHomeWhileStrangersLockTheName)
{
    ASSERT_EQ(aliceGets("/CenterVendor.asp?count=1&centerID=12"), 200);
    for (int i = 0; i < 12; ++i) {
        RawConnection guess(m_port, source(i, 1).c_str());
        guess.send("GET /CenterVendor.asp?centers=1 HTTP/1.1\r\nHost: x\r\nAuthorization: " +
                   basic("alice", "guess" + std::to_string(i)) + "\r\n\r\n");
        guess.receive(10s);
    }
    // A new password, so that nothing remembered lets it through.
    writeUsers("alice:" + auth::hashPassword("alice-new") + ":12\n");
    RawConnection elsewhere(m_port, "127.0.9.9");
    elsewhere.send("GET /CenterVendor.asp?centers=1 HTTP/1.1\r\nHost: x\r\nAuthorization: " +
                   basic("alice", "alice-new") + "\r\n\r\n");
    EXPECT_EQ(RawConnection::status(elsewhere.receive(10s)), 429);
    EXPECT_EQ(aliceGets("/CenterVendor.asp?centers=1", "alice-new"), 200);
}

TEST_F(ServerUnderLoginFlood, WhileAnAddressOrANameIsThrottledTheAnswerNeverDependsOnThePassword)
{
    const std::string target = "/CenterVendor.asp?count=1&centerID=12";
    // Signed in once from 127.0.0.1: remembered, and a home of the name.
    ASSERT_EQ(aliceGets(target), 200);
    const auto from = [&](const char *address, const std::string &password) {
        RawConnection raw(m_port, address);
        raw.send("GET " + target +
                 " HTTP/1.1\r\nHost: x\r\nAuthorization: " + basic("alice", password) + "\r\n\r\n");
        return RawConnection::status(raw.receive(10s));
    };
    // Strangers guess the name from addresses of their own until it is locked.
    for (int i = 0; i < 12; ++i) {
        from(source(i, 1).c_str(), "guess" + std::to_string(i));
    }
    // Ten malformed headers lock the owner's own address too.
    for (int i = 0; i < 10; ++i) {
        httplib::Client cli = client();
        const auto res = cli.Get(target, {{"Authorization", "Basic not-base64"}});
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 401);
    }
    struct Case
    {
        const char *address;
        const char *lock;
    };
    // A locked address, and a locked name at an address that is no home of it: the right
    // (remembered) password and a wrong one get the same answer.
    for (const Case c : {Case{"127.0.0.1", "address"}, Case{"127.0.9.9", "name"}}) {
        EXPECT_EQ(from(c.address, "alice-pw"), 429) << c.lock;
        EXPECT_EQ(from(c.address, "wrong"), 429) << c.lock;
    }
    // A reload forgets every failure: how an operator lifts a lock.
    m_server->reloadUsers();
    EXPECT_EQ(from("127.0.0.1", "alice-pw"), 200);
    EXPECT_EQ(from("127.0.9.9", "alice-pw"), 200);
}

// A short check queue, so that a few strangers fill it.
class ServerWithAShortCheckQueue : public ServerUnderLoginFlood
{
protected:
    http::HttpLimits limits() const override
    {
        http::HttpLimits l;
        l.pendingVerifications = 8;
        return l;
    }
};

TEST_F(ServerWithAShortCheckQueue, AnOwnerSigningInFromHomeIsCheckedWhileStrangersFillTheQueue)
{
    const std::string target = "/CenterVendor.asp?count=1&centerID=12";
    ASSERT_EQ(aliceGets(target), 200);
    for (int round = 0; round < 2; ++round) {
        // A new hash of the same password, so that nothing remembered lets it through.
        writeUsers("alice:" + auth::hashPassword("alice-pw") + ":12\n");
        auto strangers = flood(24, 1);
        EXPECT_EQ(aliceGets(target), 200) << round;
        for (auto &stranger : strangers) {
            const int status = RawConnection::status(stranger->receive(30s));
            EXPECT_TRUE(status == 401 || status == 503) << status;
        }
    }
}

struct FramingCase
{
    const char *name;
    std::string head;
};

void PrintTo(const FramingCase &c, std::ostream *os)
{
    *os << c.name;
}

class HttpLayerFraming : public ServerTest, public ::testing::WithParamInterface<FramingCase>
{
};

TEST_P(HttpLayerFraming, AmbiguousFramingIsRefusedAndTheConnectionClosed)
{
    RawConnection raw(m_port);
    ASSERT_TRUE(raw.send(GetParam().head + "\r\n"));
    const std::string answer = raw.receive(5s);
    EXPECT_EQ(RawConnection::status(answer), 400) << answer;
    EXPECT_TRUE(raw.closedWithin(5s));
}

const std::string kPost = "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\n";

INSTANTIATE_TEST_SUITE_P(
    Heads, HttpLayerFraming,
    ::testing::Values(
        FramingCase{"LengthWithChunked",
                    kPost + "Content-Length: 4\r\nTransfer-Encoding: chunked\r\n"},
        FramingCase{"TwoDifferingLengths", kPost + "Content-Length: 4\r\nContent-Length: 9\r\n"},
        FramingCase{"TwoEqualLengths", kPost + "Content-Length: 4\r\nContent-Length: 4\r\n"},
        FramingCase{"UnknownCoding", kPost + "Transfer-Encoding: gzip\r\n"},
        FramingCase{"CodingList", kPost + "Transfer-Encoding: gzip, chunked\r\n"},
        FramingCase{"BlankBeforeColon", kPost + "Content-Length : 4\r\n"},
        FramingCase{"NoHost", "GET /healthz HTTP/1.1\r\n"},
        FramingCase{"TwoHosts", "GET /healthz HTTP/1.1\r\nHost: x\r\nHost: y\r\n"},
        FramingCase{"BlankInTarget", "GET /healthz x HTTP/1.1\r\nHost: x\r\n"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace tarvo::server::testing
