// Query fetches over TLS, with credentials from the server name or a netrc file, that never
// show those credentials when they fail.
#include "net/QueryDocument.h"
#include "support/CaseName.h"
#include "support/Environment.h"
#include "support/TestHttpServer.h"

#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

using tarvo::net::QueryDocument;
using tarvo::test::basicAuthorization;
using tarvo::test::caseName;
using tarvo::test::RefusingPort;
using tarvo::test::ScopedEnv;
using tarvo::test::TemporaryFile;
using tarvo::test::TestHttpServer;

namespace {

// The server's URL with user information put in front of the host.
std::string withUserInfo(const std::string &url, const std::string &userInfo)
{
    const std::size_t host = url.find("://") + 3;
    return userInfo.empty() ? url : url.substr(0, host) + userInfo + "@" + url.substr(host);
}

struct CredentialCase
{
    const char *name;
    std::string userInfo;      // in the server name, "" for none
    std::string netrc;         // the file NETRC names
    std::string authorization; // expected header, "" for none
};

void PrintTo(const CredentialCase &c, std::ostream *os)
{
    *os << c.name;
}

class SecureFetch : public ::testing::TestWithParam<CredentialCase>
{
protected:
    TestHttpServer server{TestHttpServer::Scheme::Https};
    ScopedEnv trust{"CURL_CA_BUNDLE", server.caFile()};
};

TEST_P(SecureFetch, SendsTheCredentialsOfTheServerNameElseOfTheNetrcFile)
{
    const CredentialCase &c = GetParam();
    TemporaryFile netrc(c.netrc);
    ScopedEnv netrcFile("NETRC", netrc.path());
    server.answerGet("/CenterVendor.asp", TestHttpServer::xml("<r><s/></r>"));

    const QueryDocument doc = QueryDocument::fetch(withUserInfo(server.url(), c.userInfo) +
                                                   "/CenterVendor.asp?count=1&centerID=3");
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/CenterVendor.asp?count=1&centerID=3");
    EXPECT_EQ(requests[0].header("Authorization"), c.authorization);
}

const std::string bobsNetrc = "machine 127.0.0.1 login bob password s3cret\n";

INSTANTIATE_TEST_SUITE_P(
    Sources, SecureFetch,
    ::testing::Values(CredentialCase{"percent-encoded in the server name", "alice:pa%3Ass", "",
                                     basicAuthorization("alice", "pa:ss")},
                      CredentialCase{"unencoded at sign in the password", "alice:p@ss", "",
                                     basicAuthorization("alice", "p@ss")},
                      CredentialCase{"percent-encoded user, UTF-8 and a stray percent sign",
                                     "al%69ce:%C3%A9t%25%zz%4", "",
                                     basicAuthorization("alice", "\xC3\xA9t%%zz%4")},
                      CredentialCase{"encoded control character sent as written", "alice:a%0Ab", "",
                                     basicAuthorization("alice", "a%0Ab")},
                      CredentialCase{"netrc file", "", bobsNetrc,
                                     basicAuthorization("bob", "s3cret")},
                      CredentialCase{"server name before netrc", "alice:pw", bobsNetrc,
                                     basicAuthorization("alice", "pw")},
                      CredentialCase{"user in the server name, password in netrc", "bob", bobsNetrc,
                                     basicAuthorization("bob", "s3cret")},
                      CredentialCase{"netrc of another host", "",
                                     "machine example.org login bob password s3cret\n", ""},
                      CredentialCase{"none", "", "", ""}),
    caseName);

TEST(SecureFetchTrust, RefusesAServerThatNoTrustedAuthorityVouchesFor)
{
    TestHttpServer server{TestHttpServer::Scheme::Https};
    TestHttpServer other{TestHttpServer::Scheme::Https};
    server.answerGet("/CenterVendor.asp", TestHttpServer::xml("<r/>"));
    for (const std::optional<std::string> &bundle :
         {std::optional(other.caFile()), std::optional<std::string>()}) {
        ScopedEnv trust("CURL_CA_BUNDLE", bundle);
        const QueryDocument doc = QueryDocument::fetch(server.url() + "/CenterVendor.asp");
        EXPECT_FALSE(doc.hasDocumentElement()) << bundle.value_or("system store");
        EXPECT_NE(doc.error().find("could not fetch https://127.0.0.1:"), std::string::npos)
            << doc.error();
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

struct HiddenCase
{
    const char *name;
    // Returns the URL to fetch, with the credentials alice / Zq9/secret in it.
    std::function<std::string(TestHttpServer &, const RefusingPort &)> setup;
    std::string expectedError;
};

void PrintTo(const HiddenCase &c, std::ostream *os)
{
    *os << c.name;
}

class CredentialsOfAFailedFetch : public ::testing::TestWithParam<HiddenCase>
{
};

TEST_P(CredentialsOfAFailedFetch, NeverShowInItsError)
{
    TestHttpServer server{TestHttpServer::Scheme::Https};
    ScopedEnv trust("CURL_CA_BUNDLE", server.caFile());
    RefusingPort refusing;
    const QueryDocument doc = QueryDocument::fetch(GetParam().setup(server, refusing));
    EXPECT_FALSE(doc.hasDocumentElement());
    EXPECT_NE(doc.error().find(GetParam().expectedError), std::string::npos) << doc.error();
    for (const char *secret : {"alice", "Zq9", "secret"})
        EXPECT_EQ(doc.error().find(secret), std::string::npos) << doc.error();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CredentialsOfAFailedFetch,
    ::testing::Values(
        HiddenCase{"refused login",
                   [](auto &s, auto &) {
                       s.requireAuthorization(basicAuthorization("alice", "other"),
                                              TestHttpServer::text("wrong password", 401));
                       return withUserInfo(s.url(), "alice:Zq9%2Fsecret") + "/CenterVendor.asp";
                   },
                   "HTTP 401 from https://127.0.0.1:"},
        HiddenCase{"refused connection",
                   [](auto &, auto &r) {
                       return withUserInfo(r.url(), "alice:Zq9%2Fsecret") + "/CenterVendor.asp";
                   },
                   "could not connect to http://127.0.0.1:"},
        HiddenCase{"unencoded slash in the password",
                   [](auto &s, auto &) {
                       return withUserInfo(s.url(), "alice:Zq9/secret") + "/CenterVendor.asp";
                   },
                   "could not fetch https://127.0.0.1:"}),
    caseName);

} // namespace
