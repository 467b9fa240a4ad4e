#include "net/Transfer.h"

#include "support/CaseName.h"
#include "support/Environment.h"
#include "support/TestHttpServer.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <cctype>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

using tarvo::net::FailureKind;
using tarvo::net::Transfer;
using tarvo::test::Answer;
using tarvo::test::basicAuthorization;
using tarvo::test::caseName;
using tarvo::test::RefusingPort;
using tarvo::test::ScopedEnv;
using tarvo::test::TemporaryFile;
using tarvo::test::TestHttpServer;
using namespace std::chrono_literals;

namespace {

const QString kFormHeader = QStringLiteral("Content-Type: application/x-www-form-urlencoded");
constexpr int kWaitMs = 10'000;

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

// Runs the event loop until the transfer reports it has stopped; false when it never does.
bool waitStopped(Transfer &transfer)
{
    return QTest::qWaitFor([&] { return !transfer.StillExecuting(); }, kWaitMs);
}

// The whole answer, collected the way the commit collects it.
QString readAll(Transfer &transfer, int *pieces = nullptr)
{
    QString all;
    int count = 0;
    for (QString piece = transfer.GetChunk(1024); !piece.isEmpty();
         piece = transfer.GetChunk(1024)) {
        EXPECT_LE(piece.size(), 1024);
        all += piece;
        ++count;
    }
    if (pieces != nullptr)
        *pieces = count;
    return all;
}

TEST(TransferRequest, PostBodyAndHeaderArriveExactly)
{
    TestHttpServer server;
    server.answerPost("/CenterVendor.asp", TestHttpServer::text("ok"));
    // Over 8 KiB and not only ASCII: the body must arrive whole, as UTF-8.
    const QString body = QStringLiteral("SQL=DELETE+FROM+T+WHERE+ID+IN%283%2C4%29&SQL=") +
                         QString(9000, QLatin1Char('x')) +
                         QStringLiteral("&note=K\u00f6ln \u20ac&");

    Transfer transfer;
    transfer.Execute(qs(server.url() + "/CenterVendor.asp"), QStringLiteral("Post"), body,
                     kFormHeader);
    ASSERT_TRUE(waitStopped(transfer));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/CenterVendor.asp");
    EXPECT_EQ(requests[0].body, body.toUtf8().toStdString());
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(body.toUtf8().size()));
    for (const char *header : {"Accept-Encoding", "Authorization", "Expect"})
        EXPECT_FALSE(requests[0].hasHeader(header)) << header;
}

TEST(TransferRequest, EveryHeaderLineArrivesAndNoneCanBeSmuggled)
{
    TestHttpServer server;
    server.answerPost("/p", TestHttpServer::text("ok"));
    Transfer transfer;
    transfer.Execute(qs(server.url() + "/p"), QStringLiteral("POST"), QStringLiteral("a=1"),
                     kFormHeader + QStringLiteral("\r\nX-Batch: 7\nX-Other: two words"));
    ASSERT_TRUE(waitStopped(transfer));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].header("X-Batch"), "7");
    EXPECT_EQ(requests[0].header("X-Other"), "two words");
}

TEST(TransferRequest, GetSendsNoBody)
{
    TestHttpServer server;
    server.answerGet("/g", TestHttpServer::text("fetched"));
    Transfer transfer;
    transfer.Execute(qs(server.url() + "/g"), QStringLiteral("get"), QStringLiteral("ignored"),
                     QString());
    ASSERT_TRUE(waitStopped(transfer));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(readAll(transfer), QStringLiteral("fetched"));
}

TEST(TransferRequest, UnknownOperationThrowsAndSendsNothing)
{
    TestHttpServer server;
    Transfer transfer;
    EXPECT_THROW(transfer.Execute(qs(server.url()), QStringLiteral("Put"), QString(), QString()),
                 std::runtime_error);
    EXPECT_FALSE(transfer.StillExecuting());
    EXPECT_EQ(server.requestCount(), 0u);
}

// The test server must answer plainly even when a client asks for compression.
TEST(TransferRequest, AnswerIsNeverCompressed)
{
    TestHttpServer server;
    const std::string text(5000, 'z');
    server.answerPost("/p", TestHttpServer::xml("<r>" + text + "</r>"));
    Transfer transfer;
    transfer.Execute(qs(server.url() + "/p"), QStringLiteral("Post"), QStringLiteral("a=1"),
                     QStringLiteral("Accept-Encoding: br, gzip, deflate"));
    ASSERT_TRUE(waitStopped(transfer));
    EXPECT_EQ(readAll(transfer), qs("<r>" + text + "</r>"));
}

// ---------------------------------------------------------------------------------------------
// How a transfer ends.

struct OutcomeCase
{
    const char *name;
    std::function<std::string(TestHttpServer &, const RefusingPort &)> setup;
    int state;
    int status;
    std::string error; // part of errorString(), "" for none at all
    QString answer;
    FailureKind kind = FailureKind::None; // failure().kind, the value code reads
};

void PrintTo(const OutcomeCase &c, std::ostream *os)
{
    *os << c.name;
}

class TransferOutcome : public ::testing::TestWithParam<OutcomeCase>
{
};

TEST_P(TransferOutcome, EndsInOneStateEvent)
{
    TestHttpServer server;
    RefusingPort refusing;
    const OutcomeCase &c = GetParam();
    Transfer transfer;
    transfer.setTimeouts(2000, 0);
    QSignalSpy states(&transfer, &Transfer::StateChanged);
    QSignalSpy stopped(&transfer, &Transfer::stopped);

    transfer.Execute(qs(c.setup(server, refusing)), QStringLiteral("Post"), QStringLiteral("x=1"),
                     kFormHeader);
    EXPECT_TRUE(transfer.StillExecuting());
    ASSERT_TRUE(stopped.wait(kWaitMs));

    ASSERT_EQ(states.count(), 1);
    EXPECT_EQ(states.at(0).at(0).toInt(), c.state);
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_EQ(transfer.httpStatus(), c.status);
    if (c.error.empty()) {
        EXPECT_EQ(transfer.errorString(), QString());
    } else {
        EXPECT_TRUE(transfer.errorString().contains(qs(c.error)))
            << transfer.errorString().toStdString();
    }
    EXPECT_EQ(readAll(transfer), c.answer);
    EXPECT_EQ(transfer.failure().kind, c.kind);
    EXPECT_EQ(transfer.failure().httpStatus, c.kind == FailureKind::None ? 0 : c.status);
    if (c.kind != FailureKind::None && c.kind != FailureKind::HttpStatus) {
        EXPECT_FALSE(transfer.failure().requestSent) << "no connection, nothing sent";
    }
}

std::string postAnswer(TestHttpServer &server, Answer answer)
{
    server.answerPost("/CenterVendor.asp", std::move(answer));
    return server.url() + "/CenterVendor.asp";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, TransferOutcome,
    ::testing::Values(
        OutcomeCase{
            "saved",
            [](auto &s, auto &) { return postAnswer(s, TestHttpServer::text("Saved 3 rows")); },
            Transfer::icResponseCompleted, 200, "", QStringLiteral("Saved 3 rows")},
        OutcomeCase{"empty answer",
                    [](auto &s, auto &) { return postAnswer(s, TestHttpServer::text("", 204)); },
                    Transfer::icResponseCompleted, 204, "", QString()},
        OutcomeCase{"server error keeps its text",
                    [](auto &s, auto &) {
                        return postAnswer(s, TestHttpServer::text("conflict in row 3", 500));
                    },
                    Transfer::icError, 500, "HTTP 500 from http://127.0.0.1:",
                    QStringLiteral("conflict in row 3"), FailureKind::HttpStatus},
        OutcomeCase{"bad request",
                    [](auto &s, auto &) { return postAnswer(s, TestHttpServer::text("no", 400)); },
                    Transfer::icError, 400, "HTTP 400", QStringLiteral("no"),
                    FailureKind::HttpStatus},
        OutcomeCase{"no such page", [](auto &s, auto &) { return s.url() + "/nothing.asp"; },
                    Transfer::icError, 404, "HTTP 404",
                    QStringLiteral("no handler for POST /nothing.asp"), FailureKind::HttpStatus},
        OutcomeCase{"connection refused",
                    [](auto &, auto &r) { return r.url() + "/CenterVendor.asp"; },
                    Transfer::icError, 0, "could not connect to http://127.0.0.1:", QString(),
                    FailureKind::Unreachable},
        OutcomeCase{"not a url", [](auto &, auto &) { return std::string("no scheme here"); },
                    Transfer::icError, 0, "could not", QString(), FailureKind::ConnectionFailed}),
    caseName);

TEST(TransferEnd, LongAnswerComesBackWholeInPieces)
{
    TestHttpServer server;
    std::string expected;
    while (expected.size() < 5000)
        expected += "row " + std::to_string(expected.size()) +
                    ": K\xC3\xB6ln \xE2\x82\xAC \xF0\x9D\x84\x9E\n";
    server.answerPost("/p", TestHttpServer::text(expected));
    Transfer transfer;
    transfer.Execute(qs(server.url() + "/p"), QStringLiteral("Post"), QString(), kFormHeader);
    ASSERT_TRUE(waitStopped(transfer));

    const QString whole = qs(expected);
    int pieces = 0;
    EXPECT_EQ(readAll(transfer, &pieces), whole);
    EXPECT_EQ(pieces, (whole.size() + 1023) / 1024);
    EXPECT_EQ(transfer.GetChunk(1024), QString());
}

TEST(TransferEnd, StillExecutingUntilTheStateHandlerHasReturned)
{
    TestHttpServer server;
    server.answerPost("/p", TestHttpServer::text("done"));
    Transfer transfer;
    std::vector<std::string> events;
    QObject::connect(&transfer, &Transfer::StateChanged, [&](int state) {
        EXPECT_EQ(QThread::currentThread(), transfer.thread());
        events.push_back("state " + std::to_string(state) +
                         (transfer.StillExecuting() ? " executing" : " stopped"));
        // The handler reads the answer itself and may not start another request yet.
        events.push_back("answer " + transfer.GetChunk(1024).toStdString());
        EXPECT_THROW(
            transfer.Execute(qs(server.url() + "/p"), QStringLiteral("Post"), QString(), QString()),
            std::runtime_error);
    });
    QObject::connect(&transfer, &Transfer::stopped, [&] {
        events.push_back(transfer.StillExecuting() ? "stopped executing" : "stopped stopped");
    });
    transfer.Execute(qs(server.url() + "/p"), QStringLiteral("Post"), QString(), kFormHeader);
    ASSERT_TRUE(waitStopped(transfer));
    EXPECT_EQ(events,
              (std::vector<std::string>{"state 12 executing", "answer done", "stopped stopped"}));
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST(TransferEnd, ExecuteWhileExecutingThrowsThenWorksAgain)
{
    TestHttpServer server;
    server.stallPost("/slow", TestHttpServer::text("first"));
    server.answerPost("/fast", TestHttpServer::text("second"));
    Transfer transfer;
    transfer.Execute(qs(server.url() + "/slow"), QStringLiteral("Post"), QString(), kFormHeader);
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_THROW(transfer.Execute(qs(server.url() + "/fast"), QStringLiteral("Post"), QString(),
                                  kFormHeader),
                 std::runtime_error);
    EXPECT_TRUE(transfer.StillExecuting());

    server.releaseStalled();
    ASSERT_TRUE(waitStopped(transfer));
    EXPECT_EQ(readAll(transfer), QStringLiteral("first"));

    transfer.Execute(qs(server.url() + "/fast"), QStringLiteral("Post"), QString(), kFormHeader);
    EXPECT_EQ(transfer.GetChunk(1024), QString()); // the old answer is gone
    ASSERT_TRUE(waitStopped(transfer));
    EXPECT_EQ(readAll(transfer), QStringLiteral("second"));
    EXPECT_EQ(server.requestsTo("/fast").size(), 1u);
}

TEST(TransferEnd, TotalTimeOutEndsInError)
{
    TestHttpServer server;
    server.stallPost("/slow");
    Transfer transfer;
    transfer.setTimeouts(2000, 300);
    QSignalSpy states(&transfer, &Transfer::StateChanged);
    transfer.Execute(qs(server.url() + "/slow"), QStringLiteral("Post"), QString(), kFormHeader);
    ASSERT_TRUE(waitStopped(transfer));
    ASSERT_EQ(states.count(), 1);
    EXPECT_EQ(states.at(0).at(0).toInt(), Transfer::icError);
    EXPECT_TRUE(transfer.errorString().startsWith(QStringLiteral("timed out")))
        << transfer.errorString().toStdString();
    EXPECT_EQ(transfer.failure().kind, FailureKind::TimedOut);
    EXPECT_TRUE(transfer.failure().requestSent) << "the server had the request when time ran out";
}

TEST(TransferEnd, DestroyingARunningTransferDoesNotWait)
{
    TestHttpServer server;
    server.stallPost("/slow");
    auto transfer = std::make_unique<Transfer>();
    QSignalSpy states(transfer.get(), &Transfer::StateChanged);
    transfer->Execute(qs(server.url() + "/slow"), QStringLiteral("Post"), QString(), kFormHeader);
    ASSERT_TRUE(server.waitForRequests(1));

    const auto started = std::chrono::steady_clock::now();
    transfer.reset();
    // A hang guard, not a speed goal: the stalled request alone would never end.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(states.count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Over TLS, with credentials; and a server that stops answering.

TEST(TransferSecure, PostsWithTheCredentialsOfTheServerNameOrTheNetrcFile)
{
    TestHttpServer server{TestHttpServer::Scheme::Https};
    ScopedEnv trust("CURL_CA_BUNDLE", server.caFile());
    server.requireAuthorization(basicAuthorization("alice", "pa:ss"),
                                TestHttpServer::text("who are you?", 401));
    server.answerPost("/CenterVendor.asp", TestHttpServer::text("Saved."));
    const std::string host = server.url().substr(std::string("https://").size());
    TemporaryFile netrc("machine 127.0.0.1 login alice password pa:ss\n");
    for (const auto &[serverName, netrcFile] :
         {std::pair{"https://alice:pa%3Ass@" + host, std::string()},
          std::pair{server.url(), netrc.path()}}) {
        ScopedEnv netrcVariable("NETRC", netrcFile);
        Transfer transfer;
        QSignalSpy states(&transfer, &Transfer::StateChanged);
        transfer.Execute(qs(serverName + "/CenterVendor.asp"), QStringLiteral("Post"),
                         QStringLiteral("SQL=x"), kFormHeader);
        ASSERT_TRUE(waitStopped(transfer));
        ASSERT_EQ(states.count(), 1);
        EXPECT_EQ(states.at(0).at(0).toInt(), Transfer::icResponseCompleted) << serverName;
        EXPECT_EQ(readAll(transfer), QStringLiteral("Saved."));
    }
    EXPECT_EQ(server.requestsTo("/CenterVendor.asp").size(), 2u);
}

TEST(TransferSecure, ARefusedLoginEndsInErrorWithoutShowingTheCredentials)
{
    TestHttpServer server{TestHttpServer::Scheme::Https};
    ScopedEnv trust("CURL_CA_BUNDLE", server.caFile());
    server.requireAuthorization(basicAuthorization("alice", "right"),
                                TestHttpServer::text("wrong user or password", 401));
    const std::string host = server.url().substr(std::string("https://").size());
    Transfer transfer;
    QSignalSpy states(&transfer, &Transfer::StateChanged);
    transfer.Execute(qs("https://alice:Zq9secret@" + host + "/CenterVendor.asp"),
                     QStringLiteral("Post"), QStringLiteral("SQL=x"), kFormHeader);
    ASSERT_TRUE(waitStopped(transfer));
    ASSERT_EQ(states.count(), 1);
    EXPECT_EQ(states.at(0).at(0).toInt(), Transfer::icError);
    EXPECT_EQ(transfer.httpStatus(), 401);
    EXPECT_EQ(readAll(transfer), QStringLiteral("wrong user or password"));
    EXPECT_TRUE(transfer.errorString().startsWith(qs("HTTP 401 from https://" + host)))
        << transfer.errorString().toStdString();
    for (const char *secret : {"alice", "Zq9secret"})
        EXPECT_FALSE(transfer.errorString().contains(QLatin1String(secret)));
}

struct StallCase
{
    const char *name;
    std::function<void(TestHttpServer &)> setup; // serves POST /slow
    int limitMs;
    int state;
    std::string error; // start of errorString()
    QString answer;
};

void PrintTo(const StallCase &c, std::ostream *os)
{
    *os << c.name;
}

class StallLimit : public ::testing::TestWithParam<StallCase>
{
};

TEST_P(StallLimit, CountsOnlyTheTimeNoByteMoves)
{
    const StallCase &c = GetParam();
    TestHttpServer server;
    c.setup(server);
    Transfer transfer;
    transfer.setStallLimit(c.limitMs);
    QSignalSpy states(&transfer, &Transfer::StateChanged);
    transfer.Execute(qs(server.url() + "/slow"), QStringLiteral("Post"), QStringLiteral("SQL=x"),
                     kFormHeader);
    ASSERT_TRUE(waitStopped(transfer));
    ASSERT_EQ(states.count(), 1);
    EXPECT_EQ(states.at(0).at(0).toInt(), c.state);
    EXPECT_EQ(transfer.errorString().left(static_cast<qsizetype>(c.error.size())), qs(c.error));
    EXPECT_EQ(readAll(transfer), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StallLimit,
    ::testing::Values(StallCase{"server says nothing", [](auto &s) { s.stallPost("/slow"); }, 250,
                                Transfer::icError,
                                "no answer for 0.25 s from http://127.0.0.1:", QString()},
                      // Longer in all than the limit, but never silent for that long.
                      StallCase{"answer keeps moving",
                                [](auto &s) {
                                    Answer trickle = TestHttpServer::text("12345678");
                                    trickle.byteGap = 80ms;
                                    s.answerPost("/slow", trickle);
                                },
                                500, Transfer::icResponseCompleted, "",
                                QStringLiteral("12345678")}),
    caseName);

} // namespace
