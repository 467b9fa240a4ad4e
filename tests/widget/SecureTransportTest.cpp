// The control against a server that needs TLS and a login: loads and commits with the
// credentials of the server name or a netrc file, refused logins, and a commit that stalls.
#include "Fixtures.h"
#include "RecordingLog.h"
#include "net/Transfer.h"
#include "support/Environment.h"

#include <QPushButton>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

const std::string kUser = "alice";
const std::string kPassword = "pa:ss";

class SecureControl : public ::testing::Test
{
protected:
    SecureControl() : page(server), input(control)
    {
        serveStandardCenter(page);
        server.answerPost("/CenterVendor.asp", TestHttpServer::text("Saved: 1 added."));
        server.requireAuthorization(
            basicAuthorization(kUser, kPassword),
            TestHttpServer::text("Unauthorized: wrong user or password", 401));
        control.show();
    }
    // The server's URL with user information in front of the host ("" for none).
    QString serverName(const std::string &userInfo = "alice:pa%3Ass") const
    {
        const std::string url = server.url();
        const std::size_t host = url.find("://") + 3;
        return QString::fromStdString(
            userInfo.empty() ? url : url.substr(0, host) + userInfo + "@" + url.substr(host));
    }
    void load(const QString &name) { control.LetDataFromDatabase(12, name); }
    template <typename T> T *child(const char *name)
    {
        return control.findChild<T *>(QString::fromLatin1(name));
    }
    std::size_t count(const char *method) const
    {
        std::size_t n = 0;
        for (const auto &r : server.requestsTo("/CenterVendor.asp"))
            n += r.method == method ? 1 : 0;
        return n;
    }
    void expectNoCredentialsIn(const QString &text) const
    {
        for (const char *secret : {"alice", "pa:ss", "pa%3Ass"})
            EXPECT_FALSE(text.contains(QLatin1String(secret))) << text.toStdString();
    }

    TestHttpServer server{TestHttpServer::Scheme::Https};
    ScopedEnv trust{"CURL_CA_BUNDLE", server.caFile()};
    ServedPage page;
    CenterVendor control;
    UserInput input;
};

class CredentialSource : public SecureControl, public ::testing::WithParamInterface<bool>
{
};

TEST_P(CredentialSource, loadsAndCommitsWithTheServerNameOrNetrcCredentials)
{
    const bool fromNetrc = GetParam();
    TemporaryFile netrc("machine 127.0.0.1 login alice password pa:ss\n");
    ScopedEnv netrcVariable("NETRC", netrc.path());
    load(fromNetrc ? serverName("") : serverName());
    ASSERT_EQ(columnOf(control, Center, 0), (QStringList{"20", "21", "22"}));
    input.doubleClickId(Vendors, "10");
    MessageWatcher messages;
    input.clickButton("cmdCommit");
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Saved: 1 added.");
    EXPECT_EQ(count("POST"), 1u);
    EXPECT_EQ(count("GET"), 6u) << "the commit reloads with the same credentials";
}

INSTANTIATE_TEST_SUITE_P(Sources, CredentialSource, ::testing::Values(false, true),
                         [](const auto &info) {
                             return std::string(info.param ? "netrc" : "serverName");
                         });

TEST_F(SecureControl, aRefusedLoginEndsTheLoadQuietlyAndLogsTheStatus)
{
    RecordingLog log;
    MessageWatcher messages;
    load(serverName("alice:wrong%3Apass"));
    EXPECT_TRUE(rowsOf(control, Vendors).empty());
    EXPECT_TRUE(messages.seen().empty());
    ASSERT_EQ(log.entries.size(), 2) << log.entries.join(u'|').toStdString();
    EXPECT_TRUE(log.entries[1].contains(QStringLiteral("HTTP 401 from https://127.0.0.1:")))
        << log.entries[1].toStdString();
    for (const QString &entry : log.entries)
        EXPECT_FALSE(entry.contains(QLatin1String("alice")) ||
                     entry.contains(QLatin1String("wrong")));
}

struct RefusedCommit
{
    const char *what;
    std::string reason;   // the server's answer body
    std::string expected; // start of the informative text; the reason when empty
};

class CommitRefused : public SecureControl, public ::testing::WithParamInterface<RefusedCommit>
{
};

TEST_P(CommitRefused, showsTheReasonAndKeepsTheMarks)
{
    load(serverName());
    input.doubleClickId(Vendors, "10");
    // The password changed on the server after the load.
    server.requireAuthorization(basicAuthorization(kUser, "changed"),
                                TestHttpServer::text(GetParam().reason, 401));
    MessageWatcher messages;
    const auto gets = count("GET");
    input.clickButton("cmdCommit");
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Error During saving to Database");
    const QString expected = QString::fromStdString(
        GetParam().expected.empty() ? GetParam().reason : GetParam().expected);
    EXPECT_TRUE(messages.seen()[0].informative.startsWith(expected))
        << messages.seen()[0].informative.toStdString();
    expectNoCredentialsIn(messages.seen()[0].informative);
    EXPECT_EQ(count("GET"), gets) << "no reload after a refused commit";
    EXPECT_EQ(input.row(Center, "10").value(4), "1N");
    EXPECT_TRUE(child<QPushButton>("cmdCommit")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommitRefused,
    ::testing::Values(RefusedCommit{"withReason", "Unauthorized: wrong user or password", ""},
                      RefusedCommit{"withoutReason", "", "HTTP 401 from https://127.0.0.1:"}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(SecureControl, aCommitTheServerNeverAnswersFailsAfterTheStallLimit)
{
    load(serverName());
    input.doubleClickId(Vendors, "10");
    server.stallPost("/CenterVendor.asp");
    control.findChild<tarvo::net::Transfer *>(QStringLiteral("Inet1"))->setStallLimit(200);
    MessageWatcher messages;
    const auto gets = count("GET");
    input.clickButton("cmdCommit");
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Error During saving to Database");
    EXPECT_TRUE(messages.seen()[0].informative.startsWith("no answer for 0.2 s from https://"))
        << messages.seen()[0].informative.toStdString();
    expectNoCredentialsIn(messages.seen()[0].informative);
    EXPECT_EQ(count("GET"), gets);
    EXPECT_EQ(input.row(Center, "10").value(4), "1N");
    EXPECT_TRUE(child<QPushButton>("cmdCommit")->isEnabled());
}

} // namespace
