// Who may do what, without HTTP: the users file, credentials, rights per center, the Host and
// Origin checks and the failure throttle.
#include "auth/Access.h"

#include "ServerFixture.h"
#include "auth/Authenticator.h"
#include "http/HttpServer.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sodium.h>
#include <sstream>

namespace tarvo::server::testing {
namespace {

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::filesystem::path &path, const std::string &text)
{
    std::ofstream(path) << text;
}

std::string basic(const std::string &userAndPassword)
{
    std::string out(
        sodium_base64_encoded_len(userAndPassword.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(),
                      reinterpret_cast<const unsigned char *>(userAndPassword.data()),
                      userAndPassword.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1);
    return "Basic " + out;
}

// A hash that parses; no password matches it.
const std::string kHash = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdHNhbHQ$aGFzaGhhc2g";

TEST(UsersFile, ReadsUsersBetweenCommentsAndBlankLines)
{
    const auth::UsersParse parsed = auth::parseUsers(
        "# staff\n\n  alice:" + kHash + ":* # all\r\n" + "bob : " + kHash + " : 3, 1 ,3\n");
    ASSERT_TRUE(parsed.ok) << parsed.message;
    ASSERT_EQ(parsed.users.size(), 2u);
    EXPECT_EQ(parsed.users[0].name, "alice");
    EXPECT_EQ(parsed.users[0].centers, auth::CenterRights::all());
    EXPECT_EQ(parsed.users[1].name, "bob");
    EXPECT_EQ(parsed.users[1].hash, kHash);
    EXPECT_EQ(parsed.users[1].centers.text(), "1,3");
    EXPECT_TRUE(parsed.users[1].centers.allows(3));
    EXPECT_FALSE(parsed.users[1].centers.allows(2));
}

TEST(UsersFile, OneMalformedLineFailsTheWholeFileNamingTheLine)
{
    const std::string good = "alice:" + kHash + ":*\n";
    const std::pair<std::string, std::string> cases[] = {
        {good + "bob:" + kHash, "line 2: expected name:hash:centers"},
        {good + "bob:plain:*", "line 2: the hash of bob is not an argon2 string"},
        {good + "bob:" + kHash + ":1,,2", "line 2: the centers of bob"},
        {good + "bob:" + kHash + ":", "line 2: the centers of bob"},
        {good + "bob:" + kHash + ":x", "line 2: the centers of bob"},
        {good + "b ob:" + kHash + ":*", "line 2: the user name"},
        {good + ":" + kHash + ":*", "line 2: the user name"},
        {good + good, "line 2: alice is listed twice"},
    };
    for (const auto &[text, message] : cases) {
        const auth::UsersParse parsed = auth::parseUsers(text);
        EXPECT_FALSE(parsed.ok) << text;
        EXPECT_TRUE(parsed.users.empty());
        EXPECT_EQ(parsed.message.rfind(message, 0), 0u) << parsed.message;
    }
}

TEST(UsersFile, AUserLineIsReplacedInPlaceOrAppended)
{
    const std::string text = "# staff\nalice:" + kHash + ":* # boss\nbob:" + kHash + ":2";
    const auth::UserEntry carol{"carol", kHash, auth::CenterRights::only({5})};
    EXPECT_EQ(auth::withUser(text, {"alice", "$argon2id$new", auth::CenterRights::only({1})}),
              "# staff\nalice:$argon2id$new:1\nbob:" + kHash + ":2\n");
    EXPECT_EQ(auth::withUser(text, carol), text + "\ncarol:" + kHash + ":5\n");
    EXPECT_EQ(auth::withUser("", carol), "carol:" + kHash + ":5\n");
}

TEST(UsersFile, AddUserWritesAHashThatVerifiesAndKeepsTheOtherLines)
{
    TempDir dir;
    const auto path = dir.path() / "users";
    writeFile(path, "# staff\nbob:" + kHash + ":2\n");
    using std::filesystem::perms;
    std::filesystem::permissions(path, perms::owner_read | perms::owner_write | perms::group_read);
    const auth::AddUserResult added =
        auth::addUser(path, "alice", "pa:ss word", auth::CenterRights::only({1}));
    ASSERT_TRUE(added.ok) << added.message;
    const auth::UsersParse parsed = auth::parseUsers(readFile(path));
    ASSERT_TRUE(parsed.ok) << parsed.message;
    ASSERT_EQ(parsed.users.size(), 2u);
    EXPECT_EQ(parsed.users[0].hash, kHash);
    EXPECT_EQ(parsed.users[1].centers, auth::CenterRights::only({1}));
    EXPECT_TRUE(auth::verifyPassword(parsed.users[1].hash, "pa:ss word"));
    EXPECT_FALSE(auth::verifyPassword(parsed.users[1].hash, "pa:ss wor"));
    EXPECT_EQ(std::filesystem::status(path).permissions(),
              perms::owner_read | perms::owner_write | perms::group_read);

    const std::string broken = "bob:" + kHash + "\n";
    writeFile(path, broken);
    const std::pair<std::string, std::string> refusals[] = {
        {"alice", ""}, {"al ice", "x"}, {"alice", "x"}};
    for (const auto &[name, password] : refusals) {
        EXPECT_FALSE(auth::addUser(path, name, password, auth::CenterRights::all()).ok) << name;
    }
    EXPECT_EQ(readFile(path), broken);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Credentials, BasicHeadersAreDecodedAndAnythingElseIsNot)
{
    const auto alice = auth::parseBasicCredentials(basic("alice:pa:ss"));
    ASSERT_TRUE(alice);
    EXPECT_EQ(alice->user, "alice");
    EXPECT_EQ(alice->password, "pa:ss");
    EXPECT_TRUE(auth::parseBasicCredentials("bAsIc " + basic("a:").substr(6)));
    for (const std::string &bad :
         {std::string("Bearer abc"), basic("nocolon"), std::string("Basic !!!!"),
          std::string("Basic"), basic("a:b") + "x"}) {
        EXPECT_FALSE(auth::parseBasicCredentials(bad)) << bad;
    }
}

class UsersOnDisk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_path = m_dir.path() / "users";
        writeFile(m_path, "alice:" + auth::hashPassword("right") + ":12\n");
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_write);
        m_auth = std::make_unique<auth::Authenticator>(
            m_path, [this](const std::string &line) { m_log.push_back(line); });
    }

    TempDir m_dir;
    std::filesystem::path m_path;
    std::vector<std::string> m_log;
    std::unique_ptr<auth::Authenticator> m_auth;
};

TEST_F(UsersOnDisk, OnlyAListedUserWithTheRightPasswordIsAccepted)
{
    using Status = auth::AuthCheck::Status;
    EXPECT_EQ(m_auth->check(std::nullopt).status, Status::Missing);
    EXPECT_EQ(m_auth->check(basic("alice:wrong")).status, Status::Refused);
    EXPECT_EQ(m_auth->check(basic("mallory:right")).status, Status::Refused);
    EXPECT_EQ(m_auth->check("Basic ***").status, Status::Refused);
    // Only credentials accepted before are answered without a password check.
    EXPECT_FALSE(m_auth->quickCheck(basic("alice:right")));
    const auth::AuthCheck accepted = m_auth->check(basic("alice:right"));
    EXPECT_EQ(accepted.status, Status::Accepted);
    EXPECT_EQ(accepted.user, "alice");
    EXPECT_EQ(accepted.centers, auth::CenterRights::only({12}));
    const auto quick = m_auth->quickCheck(basic("alice:right"));
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->status, Status::Accepted);
    EXPECT_FALSE(m_auth->quickCheck(basic("alice:wrong")));
}

TEST_F(UsersOnDisk, AChangedFileIsReadAgainAndABrokenOneKeepsTheUsersBefore)
{
    ASSERT_EQ(m_auth->check(basic("alice:right")).status, auth::AuthCheck::Status::Accepted);
    ASSERT_TRUE(auth::addUser(m_path, "alice", "new", auth::CenterRights::all()).ok);
    EXPECT_EQ(m_auth->check(basic("alice:right")).status, auth::AuthCheck::Status::Refused);
    EXPECT_EQ(m_auth->check(basic("alice:new")).centers, auth::CenterRights::all());

    // Rewritten with the same size and time stamp, only a reload request notices.
    const std::string text = readFile(m_path);
    const auto written = std::filesystem::last_write_time(m_path);
    writeFile(m_path, text.substr(0, text.size() - 2) + "1\n");
    std::filesystem::last_write_time(m_path, written);
    EXPECT_EQ(m_auth->check(basic("alice:new")).centers, auth::CenterRights::all());
    m_auth->reloadSoon();
    EXPECT_EQ(m_auth->check(basic("alice:new")).centers, auth::CenterRights::only({1}));

    writeFile(m_path, "alice:broken\n");
    EXPECT_EQ(m_auth->check(basic("alice:new")).status, auth::AuthCheck::Status::Accepted);
    ASSERT_FALSE(m_log.empty());
    EXPECT_NE(m_log.back().find("line 1"), std::string::npos) << m_log.back();
    EXPECT_NE(m_log.back().find("keeping the 1 users"), std::string::npos) << m_log.back();
}

TEST(RequestChecks, HostNamesTheListenAddressOrAServerName)
{
    const std::vector<std::string> names{"desk.example.com", "other.example.com:8443"};
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {std::nullopt, true},
        {"127.0.0.1:8080", true},
        {"DESK.example.com", true},
        {"desk.example.com.:443", true},
        {"other.example.com", true},
        {"evil.example.com", false},
        {"desk.example.com.evil.com", false},
        {"127.0.0.2", false},
        {"", false},
    };
    for (const auto &[host, allowed] : cases) {
        EXPECT_EQ(auth::hostAllowed(host, "127.0.0.1", names), allowed) << host.value_or("(none)");
    }
    EXPECT_TRUE(auth::hostAllowed("anything", "127.0.0.1", {}));
    EXPECT_TRUE(auth::hostAllowed("[::1]:8080", "::1", names));
}

TEST(RequestChecks, OriginIsAbsentOrListed)
{
    const std::vector<std::string> allowed{"https://desk.example.com"};
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {std::nullopt, true},
        {"https://desk.example.com", true},
        {"HTTPS://Desk.Example.com/", true},
        {"http://desk.example.com", false},
        {"https://desk.example.com:8443", false},
        {"https://evil.example.com", false},
        {"null", false},
    };
    for (const auto &[origin, expected] : cases) {
        EXPECT_EQ(auth::originAllowed(origin, allowed), expected) << origin.value_or("(none)");
    }
    EXPECT_FALSE(auth::originAllowed("https://desk.example.com", {}));
}

TEST(RequestChecks, TheFirstForbiddenCenterOfABatchIsNamed)
{
    const auth::CenterRights rights = auth::CenterRights::only({1, 2});
    EXPECT_EQ(auth::forbiddenCenter({statement::InsertAssignment{1, 5, 0.1, false},
                                     statement::DeleteAssignments{2, {3}}},
                                    rights),
              std::nullopt);
    EXPECT_EQ(auth::forbiddenCenter({statement::InsertAssignment{1, 5, 0.1, false},
                                     statement::UpdateAssignment{7, 5, 0, false},
                                     statement::DeleteAssignments{9, {3}}},
                                    rights),
              7);
    EXPECT_EQ(
        auth::forbiddenCenter({statement::DeleteAssignments{-1, {3}}}, auth::CenterRights::all()),
        std::nullopt);
}

TEST(FailureThrottle, TenFailuresInAMinuteRefuseTheAddressUntilTheMinuteEnds)
{
    using namespace std::chrono_literals;
    auth::FailureThrottle throttle(10, 60s, 2);
    const auto t0 = auth::FailureThrottle::Clock::time_point{} + 1000s;
    for (int i = 0; i < 9; ++i) {
        throttle.recordFailure("10.0.0.1", t0 + std::chrono::seconds(i));
    }
    EXPECT_EQ(throttle.retryAfter("10.0.0.1", t0 + 9s), 0s);
    throttle.recordFailure("10.0.0.1", t0 + 9s);
    EXPECT_EQ(throttle.retryAfter("10.0.0.1", t0 + 9s), 51s);
    EXPECT_EQ(throttle.retryAfter("10.0.0.2", t0 + 9s), 0s);
    EXPECT_EQ(throttle.retryAfter("10.0.0.1", t0 + 59s + 500ms), 1s);
    EXPECT_EQ(throttle.retryAfter("10.0.0.1", t0 + 60s), 0s);
    // A new window starts with the next failure.
    throttle.recordFailure("10.0.0.1", t0 + 61s);
    EXPECT_EQ(throttle.retryAfter("10.0.0.1", t0 + 61s), 0s);

    // At its bound of two addresses, the oldest window makes room.
    for (int i = 0; i < 10; ++i) {
        throttle.recordFailure("10.0.0.2", t0 + 62s);
    }
    throttle.recordFailure("10.0.0.3", t0 + 63s);
    EXPECT_EQ(throttle.retryAfter("10.0.0.2", t0 + 63s), 59s);
}

TEST(FailureThrottle, ChargesBeforeTheCheckSoThatChecksAtOnceStayWithinTheLimit)
{
    using namespace std::chrono_literals;
    auth::FailureThrottle throttle(10, 60s);
    const auto t0 = auth::FailureThrottle::Clock::time_point{} + 1000s;
    int charged = 0;
    for (int i = 0; i < 48; ++i) {
        charged += throttle.charge("alice", t0) ? 1 : 0;
    }
    EXPECT_EQ(charged, 10);
    throttle.refund("alice", t0 + 1s); // one of them succeeded
    EXPECT_TRUE(throttle.charge("alice", t0 + 1s));
    EXPECT_FALSE(throttle.charge("alice", t0 + 1s));
    EXPECT_TRUE(throttle.charge("alice", t0 + 60s)) << "a new window";
}

TEST(RequestChecks, TheClientBehindTrustedProxiesIsTheRightmostUntrustedForwardedEntry)
{
    const std::vector<std::string> proxies = {"10.0.0.1", "10.0.0.2"};
    struct Case
    {
        std::string peer;
        std::vector<std::string> forwarded;
        std::string client;
    };
    const Case cases[] = {
        {"192.0.2.9", {"203.0.113.5"}, "192.0.2.9"}, // not a proxy: its header is ignored
        {"10.0.0.1", {}, "10.0.0.1"},
        {"10.0.0.1", {"203.0.113.5"}, "203.0.113.5"},
        {"10.0.0.1", {"6.6.6.6, 203.0.113.5"}, "203.0.113.5"}, // a forged entry on the left
        {"10.0.0.1", {"6.6.6.6", "203.0.113.5 , 10.0.0.2"}, "203.0.113.5"},
        {"10.0.0.1", {"10.0.0.2"}, "10.0.0.1"},
        {"10.0.0.1", {"2001:db8::7"}, "2001:db8::7"},
        {"10.0.0.1", {"x" + std::string(100, 'y')}, "x" + std::string(63, 'y')},
        // A proxy reaching a server that listens on [::] connects IPv4-mapped.
        {"::ffff:10.0.0.1", {"203.0.113.5"}, "203.0.113.5"},
        {"::FFFF:10.0.0.1", {"::ffff:203.0.113.5"}, "203.0.113.5"},
        {"::ffff:192.0.2.9", {"203.0.113.5"}, "192.0.2.9"},
        {"10.0.0.1", {"203.0.113.5, ::ffff:10.0.0.2"}, "203.0.113.5"},
        {"10.0.0.1", {"2001:DB8:0:0::7"}, "2001:db8::7"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(http::forwardedClient(c.peer, c.forwarded, proxies), c.client) << c.peer;
    }
}

TEST(RequestChecks, EveryAddressRuleComparesOneSpellingAndCountsIpv6ByItsSlash64)
{
    struct Case
    {
        std::string text;
        std::string canonical;
        std::string connectionKey;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"::ffff:127.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"0:0:0:0:0:ffff:7f00:1", "127.0.0.1", "127.0.0.1"},
        {"2001:DB8:0:0:1::5", "2001:db8::1:0:0:5", "2001:db8::/64"},
        {"2001:db8::ffff:1:2:3", "2001:db8::ffff:1:2:3", "2001:db8::/64"},
        {"2001:db8:0:7::1", "2001:db8:0:7::1", "2001:db8:0:7::/64"},
        {"::1", "::1", "::/64"},
        {"not an address", "not an address", "not an address"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(http::canonicalAddress(c.text), c.canonical) << c.text;
        EXPECT_EQ(http::connectionKey(http::canonicalAddress(c.text)), c.connectionKey) << c.text;
    }
}

} // namespace
} // namespace tarvo::server::testing
