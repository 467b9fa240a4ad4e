// Who may do what over HTTP: users and their centers, failed logins, Origin and Host, HTTPS.
#include "ServerFixture.h"
#include "auth/SecretFiles.h"
#include "auth/Users.h"
#include "support/TestCertificates.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvo::server::testing {
namespace {

using Rows = std::vector<std::vector<std::string>>;

const std::string kForm = "application/x-www-form-urlencoded";

void writeFile(const std::filesystem::path &path, const std::string &text)
{
    std::ofstream(path) << text;
}

class ServerWithUsers : public ServerTest
{
protected:
    static void SetUpTestSuite()
    {
        s_aliceHash = auth::hashPassword("alice-pw");
        s_carolHash = auth::hashPassword("carol-pw");
    }

    void configure(ReferenceServer &server) override
    {
        m_users = m_dir.path() / "users";
        writeFile(m_users, "# staff\nalice:" + s_aliceHash + ":12\n");
        AccessOptions access;
        access.usersFile = m_users.string();
        access.allowedOrigins = {"https://desk.example.com"};
        access.serverNames = {"desk.example.com"};
        server.setAccess(access);
    }

    httplib::Result getAs(const std::string &user, const std::string &target,
                          const httplib::Headers &headers = {}) const
    {
        httplib::Client cli = client();
        cli.set_basic_auth(user, user + "-pw");
        return cli.Get(target, headers);
    }

    httplib::Result postAs(const std::string &user, const std::vector<std::string> &statements,
                           const httplib::Headers &headers = {}) const
    {
        httplib::Client cli = client();
        cli.set_basic_auth(user, user + "-pw");
        return cli.Post("/CenterVendor.asp", headers, formBody(statements), kForm);
    }

    Rows auditRows() const
    {
        return m_db->rows("SELECT UserName, CenterID, VendorID, Action FROM AssignmentAudit "
                          "ORDER BY VendorID");
    }

    static std::string s_aliceHash;
    static std::string s_carolHash;
    TempDir m_dir;
    std::filesystem::path m_users;
};

std::string ServerWithUsers::s_aliceHash;
std::string ServerWithUsers::s_carolHash;

const std::string kCount12 = "/CenterVendor.asp?count=1&centerID=12";

TEST_F(ServerWithUsers, EveryRequestNeedsTheCredentialsOfAListedUser)
{
    const auto none = get(kCount12);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(none->get_header_value("WWW-Authenticate"), "Basic realm=\"CenterVendor\"");
    httplib::Client wrong = client();
    wrong.set_basic_auth("alice", "guess");
    for (const auto &res :
         {wrong.Get(kCount12), getAs("mallory", kCount12),
          wrong.Post("/CenterVendor.asp", formBody({deleteSql(12, {9})}), kForm)}) {
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 401) << res->body;
        EXPECT_EQ(res->get_header_value("WWW-Authenticate"), "Basic realm=\"CenterVendor\"");
    }
    EXPECT_TRUE(m_db->assignment(12, 9));
    const auto alice = getAs("alice", kCount12);
    ASSERT_TRUE(alice);
    EXPECT_EQ(alice->status, 200);
    const auto health = get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    for (const std::string &line : waitForLogLines(6)) {
        EXPECT_EQ(line.find("-pw"), std::string::npos) << line;
        EXPECT_EQ(line.find("guess"), std::string::npos) << line;
        EXPECT_EQ(line.find("Basic"), std::string::npos) << line;
    }
}

TEST_F(ServerWithUsers, AUserReadsAndChangesOnlyTheirCentersAndTheTrailNamesThem)
{
    const auto foreign = getAs("alice", "/CenterVendor.asp?selected=1&centerID=13");
    ASSERT_TRUE(foreign);
    EXPECT_EQ(foreign->status, 403);
    EXPECT_EQ(foreign->body, "Refused: alice may not read center 13.");

    const Snapshot before = snapshot(*m_db);
    const auto mixed = postAs("alice", {deleteSql(12, {9}), updateSql(13, 4, "0.2", 1)});
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->status, 403);
    EXPECT_EQ(mixed->body, "Nothing was saved: alice may not change center 13.");
    EXPECT_EQ(snapshot(*m_db), before);
    EXPECT_EQ(auditRows(), Rows{});

    const auto own = postAs("alice", {insertSql(12, 4, "0.07", 0), deleteSql(12, {9})});
    ASSERT_TRUE(own);
    EXPECT_EQ(own->status, 200) << own->body;
    EXPECT_EQ(auditRows(), (Rows{{"alice", "12", "4", "add"}, {"alice", "12", "9", "remove"}}));
}

TEST_F(ServerWithUsers, TenFailedLoginsFromOneAddressAreFollowedBy429)
{
    httplib::Client cli = client();
    for (int i = 0; i < 10; ++i) {
        const auto res = cli.Get(kCount12, {{"Authorization", "Basic not-base64"}});
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 401);
    }
    // Even the right password waits now.
    const auto throttled = getAs("alice", kCount12);
    ASSERT_TRUE(throttled);
    EXPECT_EQ(throttled->status, 429);
    EXPECT_GE(std::atoi(throttled->get_header_value("Retry-After").c_str()), 50);
    // Another address is not slowed down.
    RawConnection other(m_port, "127.0.0.2");
    ASSERT_TRUE(other.connected());
    ASSERT_TRUE(other.send("GET " + kCount12 + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    EXPECT_EQ(RawConnection::status(other.receive(std::chrono::seconds(5))), 401);
}

TEST_F(ServerWithUsers, APostFromAnotherSiteOrForAnotherHostIsRefused)
{
    struct Case
    {
        httplib::Headers headers;
        int status;
    };
    const Case cases[] = {
        {{{"Origin", "https://evil.example.com"}}, 403},
        {{{"Origin", "null"}}, 403},
        {{{"Host", "evil.example.com"}}, 421},
        {{{"Host", "desk.example.com:8443"}, {"Origin", "https://desk.example.com"}}, 200},
    };
    for (const Case &c : cases) {
        const auto res = postAs("alice", {updateSql(12, 8, "0.04", 0)}, c.headers);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status) << res->body;
    }
    EXPECT_EQ(auditRows().size(), 1u);
    // Reading is not a cross-site danger; only the Host matters there.
    const auto read = getAs("alice", kCount12, {{"Origin", "https://evil.example.com"}});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, 200);
    EXPECT_EQ(getAs("alice", kCount12, {{"Host", "evil.example.com"}})->status, 421);
}

TEST_F(ServerWithUsers, AUserAddedToTheFileIsAcceptedWithoutARestart)
{
    EXPECT_EQ(getAs("carol", kCount12)->status, 401);
    writeFile(m_users, "alice:" + s_aliceHash + ":12\ncarol:" + s_carolHash + ":*\n");
    EXPECT_EQ(getAs("carol", "/CenterVendor.asp?count=1&centerID=13")->status, 200);
}

// Reloaded (on a change or SIGHUP), a file every user could have appended a line to is not
// read: the users read before keep working until the file is made safe again.
TEST_F(ServerWithUsers, AFileOpenedToEveryoneWhileServingIsNotReadAgain)
{
    ASSERT_EQ(getAs("alice", kCount12)->status, 200);
    std::ofstream(m_users, std::ios::app) << "carol:" << s_carolHash << ":*\n";
    ASSERT_EQ(chmod(m_users.c_str(), 0666), 0);
    m_server->reloadUsers();
    EXPECT_EQ(getAs("carol", kCount12)->status, 401);
    EXPECT_EQ(getAs("alice", kCount12)->status, 200);
    const auto said = [this](const std::string &words) {
        const std::vector<std::string> lines = logLines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
            return line.find(words) != std::string::npos;
        });
    };
    EXPECT_TRUE(said(m_users.string() + " may be changed by every user of this machine"));
    EXPECT_TRUE(said("keeping the 1 users read before"));
    // Made safe again, it is read on the next reload.
    ASSERT_EQ(chmod(m_users.c_str(), 0640), 0);
    m_server->reloadUsers();
    EXPECT_EQ(getAs("carol", kCount12)->status, 200);
}

TEST(ServerAddUser, TheProgramWritesAHashOfThePasswordOnItsStandardInput)
{
    TempDir dir;
    const std::string users = (dir.path() / "users").string();
    FILE *program = popen((std::string(CENTERVENDOR_SERVER_PATH) + " --users " + users +
                           " --add-user alice --centers 12,13 >/dev/null")
                              .c_str(),
                          "w");
    ASSERT_NE(program, nullptr);
    std::fputs("pa ss:word\n", program);
    const int status = pclose(program);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(users);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auth::UsersParse parsed = auth::parseUsers(text);
    ASSERT_TRUE(parsed.ok) << parsed.message;
    ASSERT_EQ(parsed.users.size(), 1u);
    EXPECT_EQ(parsed.users[0].centers, auth::CenterRights::only({12, 13}));
    EXPECT_TRUE(auth::verifyPassword(parsed.users[0].hash, "pa ss:word"));
}

TEST(ServerAddUser, OverlappingRunsAllLandAndKeepTheFilesOwnerGroupAndMode)
{
    TempDir dir;
    const std::string users = (dir.path() / "users").string();
    writeFile(users, "# staff\n");
    ASSERT_EQ(chown(users.c_str(), getuid(), 65534), 0) << "the group nogroup";
    ASSERT_EQ(chmod(users.c_str(), 0640), 0);
    std::vector<FILE *> runs;
    for (int i = 0; i < 4; ++i) {
        runs.push_back(popen((std::string(CENTERVENDOR_SERVER_PATH) + " --users " + users +
                              " --add-user user" + std::to_string(i) + " >/dev/null")
                                 .c_str(),
                             "w"));
        ASSERT_NE(runs.back(), nullptr);
    }
    for (FILE *run : runs) {
        std::fputs("secret\n", run);
    }
    for (FILE *run : runs) {
        const int status = pclose(run);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::ifstream in(users);
    const auth::UsersParse parsed =
        auth::parseUsers(std::string((std::istreambuf_iterator<char>(in)), {}));
    ASSERT_TRUE(parsed.ok) << parsed.message;
    EXPECT_EQ(parsed.users.size(), 4u);
    struct stat info
    {
    };
    ASSERT_EQ(stat(users.c_str(), &info), 0);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(ServerAddUser, RefusesASymbolicLinkOrAFileEveryoneMayRead)
{
    TempDir dir;
    const std::string target = (dir.path() / "target").string();
    const std::string link = (dir.path() / "link").string();
    const std::string open = (dir.path() / "open").string();
    writeFile(target, "");
    writeFile(open, "");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(chmod(open.c_str(), 0644), 0);
    for (const std::string &path : {link, open}) {
        const auth::AddUserResult result =
            auth::addUser(path, "alice", "pw", auth::CenterRights::all());
        EXPECT_FALSE(result.ok) << path;
        std::ifstream in(path);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "") << path;
    }
}

TEST(ServerSecretFiles, AreReadWithABoundAndJudgedByWhoElseMayReadOrChangeThem)
{
    TempDir dir;
    EXPECT_FALSE(auth::readSecretFile("/dev/zero", "users file").ok());
    const std::string big = (dir.path() / "big").string();
    writeFile(big, std::string(2000, 'x'));
    auth::SecretRules rules;
    rules.maxBytes = 1000;
    EXPECT_FALSE(auth::readSecretFile(big, "users file", rules).ok());
    rules.maxBytes = 2000;
    EXPECT_TRUE(auth::readSecretFile(big, "users file", rules).ok());
    const std::pair<mode_t, int> cases[] = {{0600, 0}, {0640, 0}, {0644, 1}, {0662, 2}};
    for (const auto &[mode, verdict] : cases) {
        ASSERT_EQ(chmod(big.c_str(), mode), 0);
        const auth::SecretRead read = auth::readSecretFile(big, "users file", rules);
        EXPECT_EQ(read.warning.has_value(), verdict == 1) << mode;
        EXPECT_EQ(read.status == auth::SecretStatus::Refused, verdict == 2) << mode;
    }
}

class ServerWithTls : public ServerTest
{
protected:
    void configure(ReferenceServer &server) override
    {
        AccessOptions access;
        access.tlsCert = m_certificates.serverCertificateFile();
        access.tlsKey = m_certificates.serverKeyFile();
        server.setAccess(access);
    }

    httplib::Result getTrusting(const std::string &caFile) const
    {
        httplib::SSLClient cli("127.0.0.1", m_port);
        cli.set_ca_cert_path(caFile.c_str());
        cli.enable_server_certificate_verification(true);
        cli.set_connection_timeout(5);
        cli.set_read_timeout(10);
        return cli.Get(kCount12);
    }

    test::TestCertificates m_certificates;
};

TEST_F(ServerWithTls, ServesHttpsOnlyToClientsThatTrustItsCertificate)
{
    const auto trusted = getTrusting(m_certificates.caFile());
    ASSERT_TRUE(trusted) << httplib::to_string(trusted.error());
    EXPECT_EQ(trusted->status, 200);
    const test::TestCertificates otherAuthority;
    EXPECT_FALSE(getTrusting(otherAuthority.caFile()));
    httplib::Client plain = client();
    plain.set_read_timeout(5);
    EXPECT_FALSE(plain.Get(kCount12));
}

// testssl.sh, where installed: only TLS 1.2 and 1.3, only forward-secret AEAD suites.
TEST_F(ServerWithTls, TestsslFindsNoProtocolOrCipherItFlags)
{
    if (!std::filesystem::exists("/usr/bin/testssl")) {
        GTEST_SKIP() << "testssl.sh is not installed";
    }
    const std::string command = "timeout 300 testssl --quiet --color 0 --warnings off -p -s -f "
                                "127.0.0.1:" +
                                std::to_string(m_port) + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string report;
    char buffer[4096];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) {
        report.append(buffer, n);
    }
    pclose(pipe);
    ASSERT_NE(report.find("TLS 1.3    offered (OK)"), std::string::npos) << report;
    for (const char *flagged :
         {"NOT ok", "deprecated", "TLS 1      offered", "TLS 1.1    offered",
          "Obsolete CBC ciphers (AES, ARIA etc.)         offered", "PFS is not offered"}) {
        EXPECT_EQ(report.find(flagged), std::string::npos) << flagged << "\n" << report;
    }
}

TEST(ServerTlsFiles, AServerWithFilesThatCannotServeDoesNotStart)
{
    TempDir dir;
    const test::TestCertificates one;
    const test::TestCertificates two;
    const std::string junk = (dir.path() / "junk.pem").string();
    const std::string missing = (dir.path() / "missing.pem").string();
    writeFile(junk, "not a certificate\n");
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {one.serverCertificateFile(), two.serverKeyFile(), "does not belong to the certificate"},
        {missing, one.serverKeyFile(), "TLS certificate " + missing + " cannot be read"},
        {one.serverCertificateFile(), missing, "TLS key " + missing + " cannot be read"},
        {junk, one.serverKeyFile(), "no PEM certificate and key"},
    };
    ReferenceServer server((dir.path() / "a.db").string());
    for (const auto &[certificate, key, message] : cases) {
        AccessOptions access;
        access.tlsCert = certificate;
        access.tlsKey = key;
        try {
            server.setAccess(access);
            ADD_FAILURE() << certificate << " and " << key << " were accepted";
        } catch (const std::runtime_error &error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
}

} // namespace
} // namespace tarvo::server::testing
