// The server against clients that do not play by the rules: slow, oversized, with bodies
// where none belong, or asking for things the page does not offer. Every wait is bounded.
// The HttpLayer suites do not depend on the store and run on one engine only.
#include "ServerFixture.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::server::testing {
namespace {

using namespace std::chrono_literals;

const std::string kCountHead = "GET /CenterVendor.asp?count=1&centerID=12 HTTP/1.1\r\nHost: x\r\n";

class HttpLayer : public ServerTest
{
};

class HostileNetwork : public ServerTest
{
};

TEST_F(HttpLayer, TricklingClientsDoNotDelayOthers)
{
    // 32 connections from each of eight addresses, so that the limit per address stays out
    // of the way; a few of them trickle a POST body instead of header lines.
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 256; ++i) {
        const std::string source = "127.0.0." + std::to_string(2 + i / 32);
        slow.push_back(std::make_unique<RawConnection>(m_port, source.c_str()));
        ASSERT_TRUE(slow.back()->connected());
        const bool posting = i % 32 == 0;
        ASSERT_TRUE(slow.back()->send(
            posting ? "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nContent-Type: "
                      "application/x-www-form-urlencoded\r\nContent-Length: 100\r\n\r\nSQL="
                    : kCountHead));
    }
    httplib::Client cli = client();
    cli.set_connection_timeout(1);
    cli.set_read_timeout(1);
    cli.set_write_timeout(1);
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < slow.size(); ++i) {
            EXPECT_TRUE(slow[i]->send(i % 32 == 0 ? "x" : "X-Slow: 1\r\n")) << i;
        }
        const auto res = cli.Get("/CenterVendor.asp?count=1&centerID=12");
        ASSERT_TRUE(res) << "round " << round;
        EXPECT_EQ(res->status, 200);
    }
}

TEST_F(HttpLayer, OneAddressGetsNoMoreThanItsShareOfConnections)
{
    const unsigned share = http::HttpLimits{}.connectionsPerAddress;
    std::vector<std::unique_ptr<RawConnection>> held;
    for (unsigned i = 0; i < share; ++i) {
        held.push_back(std::make_unique<RawConnection>(m_port, "127.0.0.20"));
        ASSERT_TRUE(held.back()->send(kCountHead));
    }
    RawConnection extra(m_port, "127.0.0.20");
    EXPECT_TRUE(extra.closedWithin(5s));
    const auto res = get("/CenterVendor.asp?count=1&centerID=12");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << "other addresses are still served";
}

class HttpLayerDeadline : public ServerTest
{
protected:
    http::HttpLimits limits() const override
    {
        http::HttpLimits l;
        l.requestDeadline = 1s;
        return l;
    }
};

TEST_F(HttpLayerDeadline, AConnectionThatNeverFinishesItsRequestIsClosed)
{
    RawConnection slow(m_port);
    ASSERT_TRUE(slow.send(kCountHead));
    bool closed = false;
    // A header line every 100 ms keeps it from ever being idle.
    for (int i = 0; i < 50 && !closed; ++i) {
        closed = !slow.send("X-Slow: 1\r\n") || slow.closedWithin(100ms);
    }
    EXPECT_TRUE(closed);
}

struct OversizedCase
{
    const char *name;
    std::string start;  // sent once
    std::string repeat; // then sent again and again, up to 64 MiB
    int status;
};

void PrintTo(const OversizedCase &c, std::ostream *os)
{
    *os << c.name;
}

class HttpLayerOversizedHead : public ServerTest,
                               public ::testing::WithParamInterface<OversizedCase>
{
};

TEST_P(HttpLayerOversizedHead, IsRefusedWithoutBeingBuffered)
{
    const std::size_t before = residentBytes();
    RawConnection raw(m_port);
    ASSERT_TRUE(raw.send(GetParam().start));
    std::string chunk;
    while (chunk.size() < 64 * 1024) {
        chunk += GetParam().repeat;
    }
    std::size_t sent = GetParam().start.size();
    while (sent < 64u * 1024 * 1024 && raw.send(chunk, true)) {
        sent += chunk.size();
    }
    const std::string answer = raw.receive(2s);
    EXPECT_LT(sent, 64u * 1024 * 1024) << "the server read the whole head";
    if (!answer.empty()) {
        EXPECT_EQ(RawConnection::status(answer), GetParam().status) << answer.substr(0, 100);
    }
    EXPECT_LT(residentBytes(), before + 8 * 1024 * 1024);
    const auto res = get("/CenterVendor.asp?count=1&centerID=12");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, HttpLayerOversizedHead,
    ::testing::Values(OversizedCase{"HeaderLine", kCountHead + "X-Big: ", "aaaaaaaa", 431},
                      OversizedCase{"ManySmallHeaders", kCountHead, "X: 1\r\n", 431},
                      OversizedCase{"RequestLine", "GET /CenterVendor.asp?", "a=1&", 414}),
    [](const auto &info) { return std::string(info.param.name); });

struct EarlyRefusalCase
{
    const char *name;
    std::string head; // the whole head; the body it announces is never sent
    int status;
};

void PrintTo(const EarlyRefusalCase &c, std::ostream *os)
{
    *os << c.name;
}

class HttpLayerEarlyRefusal : public ServerTest,
                              public ::testing::WithParamInterface<EarlyRefusalCase>
{
};

TEST_P(HttpLayerEarlyRefusal, AnswersBeforeTheBodyIsSent)
{
    const Snapshot before = snapshot(*m_db);
    RawConnection raw(m_port);
    ASSERT_TRUE(raw.send(GetParam().head));
    const std::string answer = raw.receive(5s);
    EXPECT_EQ(RawConnection::status(answer), GetParam().status) << answer;
    EXPECT_LT(answer.size(), 400u) << answer;
    EXPECT_EQ(snapshot(*m_db), before);
}

const std::string kForm = "Content-Type: application/x-www-form-urlencoded\r\n";

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpLayerEarlyRefusal,
    ::testing::Values(
        EarlyRefusalCase{"ChunkedPutToThePage",
                         "PUT /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: "
                         "chunked\r\n\r\n",
                         404},
        EarlyRefusalCase{"PostToAnotherPath",
                         "POST /Other.asp HTTP/1.1\r\nHost: x\r\n" + kForm +
                             "Content-Length: 209715200\r\n\r\n",
                         404},
        EarlyRefusalCase{"GetWithABody",
                         "GET /CenterVendor.asp?count=1&centerID=12 HTTP/1.1\r\nHost: "
                         "x\r\nContent-Length: 5\r\n\r\n",
                         400},
        EarlyRefusalCase{"CompressedBody",
                         "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\n" + kForm +
                             "Content-Encoding: gzip\r\nContent-Length: 204800\r\n\r\n",
                         415},
        EarlyRefusalCase{"BodyOver16MiB",
                         "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\n" + kForm +
                             "Content-Length: 16777217\r\n\r\n",
                         413},
        EarlyRefusalCase{"HeadOver16KiB",
                         kCountHead + "X-Big: " + std::string(17 * 1024, 'a') + "\r\n\r\n", 431}),
    [](const auto &info) { return std::string(info.param.name); });

class HttpLayerBodyBudget : public ServerTest
{
protected:
    http::HttpLimits limits() const override
    {
        http::HttpLimits l;
        l.bodyBytesInFlight = 1024 * 1024;
        return l;
    }
    static std::string postHead(std::size_t length)
    {
        return "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\n" + kForm +
               "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    }
};

// Slow uploads that each stay under the body limit must not add up to the machine's memory.
TEST_F(HttpLayerBodyBudget, BodiesInFlightTogetherStayWithinTheBudget)
{
    auto held = std::make_unique<RawConnection>(m_port);
    ASSERT_TRUE(held->send(postHead(700 * 1024) + "SQL="));

    RawConnection second(m_port);
    ASSERT_TRUE(second.send(postHead(700 * 1024)));
    const std::string refused = second.receive(5s);
    EXPECT_EQ(RawConnection::status(refused), 503) << refused;
    EXPECT_NE(refused.find("Retry-After: 1"), std::string::npos) << refused;

    const auto small =
        client().Post("/CenterVendor.asp", "SQL=", "application/x-www-form-urlencoded");
    ASSERT_TRUE(small);
    EXPECT_NE(small->status, 503) << "what fits beside the held body is served";

    held.reset();
    int status = 503;
    for (int i = 0; i < 50 && status == 503; ++i) {
        RawConnection again(m_port);
        again.send(postHead(700 * 1024));
        status = RawConnection::status(again.receive(100ms));
    }
    EXPECT_NE(status, 503) << "the budget is given back when a request ends";
}

TEST_F(HttpLayer, OnlyTheExactPageNameIsServed)
{
    for (const char *path : {"/CenterVendor_asp", "/CenterVendor.aspx", "/centervendor.asp",
                             "/CenterVendor%2Easp", "/CenterVendor.asp/"}) {
        const std::string target = std::string(path) + "?count=1&centerID=12";
        const auto got = get(target);
        ASSERT_TRUE(got) << path;
        EXPECT_EQ(got->status, 404) << path;
        const auto posted = client().Post(target, formBody({deleteSql(12, {3})}),
                                          "application/x-www-form-urlencoded");
        ASSERT_TRUE(posted) << path;
        EXPECT_EQ(posted->status, 404) << path;
    }
    EXPECT_TRUE(m_db->assignment(12, 3));
}

TEST_F(HttpLayer, RangeIsIgnored)
{
    const auto whole = get("/CenterVendor.asp?active=1&centerID=12");
    ASSERT_TRUE(whole);
    for (const char *range : {"bytes=0-10", "bytes=0-,0-", "bytes=-5"}) {
        const auto res = client().Get("/CenterVendor.asp?active=1&centerID=12", {{"Range", range}});
        ASSERT_TRUE(res) << range;
        EXPECT_EQ(res->status, 200) << range;
        EXPECT_EQ(res->body, whole->body) << range;
        EXPECT_FALSE(res->has_header("Content-Range")) << range;
    }
}

TEST_F(HttpLayer, HeadAnswersLikeGetWithoutABody)
{
    const auto got = get("/CenterVendor.asp?active=1&centerID=12");
    ASSERT_TRUE(got);
    RawConnection raw(m_port);
    ASSERT_TRUE(raw.send("HEAD /CenterVendor.asp?active=1&centerID=12 HTTP/1.1\r\nHost: x\r\n"
                         "Connection: close\r\n\r\n"));
    const std::string answer = raw.receive(5s);
    EXPECT_EQ(RawConnection::status(answer), 200) << answer;
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(got->body.size()) + "\r\n"),
              std::string::npos)
        << answer;
    EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), "");
}

TEST_F(HostileNetwork, ServerErrorsNameARequestIdAndOnlyTheLogSaysWhy)
{
    m_db->execute("DROP TABLE VendorCenterCrossReference");
    const auto res = get("/CenterVendor.asp?selected=1&centerID=12");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
    const std::string prefix = "Server error (request id ";
    ASSERT_EQ(res->body.rfind(prefix, 0), 0u) << res->body;
    const std::string id = res->body.substr(prefix.size(), res->body.find(')') - prefix.size());
    EXPECT_EQ(id.size(), 8u) << res->body;
    for (const std::string &secret :
         {std::string("SQL"), std::string("table"), std::string("relation"),
          std::string("database"), m_db->location()}) {
        EXPECT_EQ(res->body.find(secret), std::string::npos) << res->body;
    }
    const std::vector<std::string> lines = waitForLogLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" id=" + id), std::string::npos) << lines[0];
    std::string lower = lines[0];
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_NE(lower.find("detail=database%20error:%20"), std::string::npos) << lines[0];
    EXPECT_NE(lower.find("vendorcentercrossreference"), std::string::npos) << lines[0];
}

TEST_F(HostileNetwork, CountsNeverMixTwoStatesOfTheDatabase)
{
    std::atomic<bool> done{false};
    std::thread writer([&] {
        // Each commit moves vendor 7 between the lists: both counts change together.
        for (int i = 0; i < 100 && !done; ++i) {
            post({i % 2 == 0 ? insertSql(12, 7, "0.05", 1) : deleteSql(12, {7})});
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads < 50) {
        const auto res = get("/CenterVendor.asp?count=1&centerID=12");
        ASSERT_TRUE(res);
        const auto numbers = answerRecords(res->body, 0).at(0);
        EXPECT_EQ(std::stoi(numbers.at(1)) + std::stoi(numbers.at(2)), 6)
            << numbers.at(1) << " + " << numbers.at(2);
        ++reads;
    }
    done = true;
    writer.join();
}

// A request whatever path it takes through the HTTP library: answered or closed, logged once,
// its record freed.
struct EndingCase
{
    const char *name;
    std::string sent;
    bool clientLeaves;  // the client closes after sending; otherwise the server must close
    const char *logged; // a word of its log line
};

void PrintTo(const EndingCase &c, std::ostream *os)
{
    *os << c.name;
}

class HttpLayerEnding : public ServerTest, public ::testing::WithParamInterface<EndingCase>
{
protected:
    // A client that leaves in the middle of a head is noticed when the connection times out.
    http::HttpLimits limits() const override
    {
        http::HttpLimits l;
        l.idleTimeout = 1s;
        return l;
    }
};

std::string manyParameters(int count)
{
    std::string target = "/CenterVendor.asp?count=1&centerID=12";
    for (int i = 0; i < count; ++i) {
        target += "&a=" + std::to_string(i);
    }
    return target;
}

TEST_P(HttpLayerEnding, EveryRequestIsLoggedOnceAndItsRecordFreed)
{
    {
        RawConnection raw(m_port);
        ASSERT_TRUE(raw.send(GetParam().sent));
        if (!GetParam().clientLeaves) {
            EXPECT_TRUE(raw.closedWithin(5s));
        }
    }
    const auto lines = waitForLogLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(GetParam().logged), std::string::npos) << lines[0];
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (http::liveRequestRecords() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_EQ(http::liveRequestRecords(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HttpLayerEnding,
    ::testing::Values(
        // The library runs out of the connection's memory for the query's parameters and
        // closes without completing the request.
        EndingCase{"ManyQueryParameters",
                   "GET " + manyParameters(600) + " HTTP/1.1\r\nHost: x\r\n\r\n", false,
                   "query%20parameters"},
        EndingCase{"SomeQueryParametersTooMany",
                   "GET " + manyParameters(70) + " HTTP/1.1\r\nHost: x\r\n\r\n", false,
                   "status=414"},
        EndingCase{"HeadCutShort", kCountHead + "X-Cut: ", true, " end="},
        EndingCase{"BodyCutShort",
                   "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 99\r\n\r\nSQL=",
                   true, " end="},
        EndingCase{"Answered", "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
                   false, "200"}),
    [](const auto &info) { return std::string(info.param.name); });

// A proxy in front may frame a body otherwise than this server does, so nothing after a
// request with a body is read on its connection; only bodiless reads keep it open.
TEST_F(HttpLayer, OnlyABodilessGetOrHeadKeepsItsConnectionOpen)
{
    struct Case
    {
        std::string request;
        int status;
        bool keptOpen;
    };
    const std::string post = "POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\n";
    const std::string batch = formBody({deleteSql(12, {9})});
    const Case cases[] = {
        {kCountHead + "\r\n", 200, true},
        {post + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
             std::to_string(batch.size()) + "\r\n\r\n" + batch,
         200, false},
        {post + "Content-Type: text/plain\r\nContent-Length: 3\r\n\r\nabc", 415, false},
        {kCountHead + "Content-Length: 3\r\n\r\nabc", 400, false},
    };
    for (const Case &c : cases) {
        RawConnection raw(m_port);
        ASSERT_TRUE(raw.send(c.request));
        const std::string answer = raw.receive(5s);
        EXPECT_EQ(RawConnection::status(answer), c.status) << c.request;
        const bool closes = answer.find("Connection: close") != std::string::npos;
        EXPECT_EQ(closes, !c.keptOpen) << answer;
        if (c.keptOpen) {
            ASSERT_TRUE(raw.send("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n"));
            EXPECT_EQ(RawConnection::status(raw.receive(5s)), 200) << c.request;
        } else {
            EXPECT_TRUE(raw.closedWithin(5s)) << c.request;
        }
    }
}

class HttpLayerUnderPressure : public ServerTest
{
protected:
    http::HttpLimits limits() const override
    {
        http::HttpLimits l;
        l.connections = 32;
        l.softConnections = 16;
        l.headDeadlineUnderPressure = 300ms;
        return l;
    }
};

TEST_F(HttpLayerUnderPressure, SlowHeadsCannotKeepAFreshAddressOut)
{
    // From one address or from many: the short deadline of a head under pressure frees their
    // places (the share per address under pressure only makes it sooner: bench_slowheads).
    for (const int addresses : {1, 24}) {
        std::vector<std::unique_ptr<RawConnection>> slow;
        for (int i = 0; i < 48; ++i) {
            const std::string source = "127.0.3." + std::to_string(1 + i % addresses);
            slow.push_back(std::make_unique<RawConnection>(m_port, source.c_str()));
            slow.back()->send(kCountHead);
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (status != 200 && std::chrono::steady_clock::now() < deadline) {
            // Each keeps trickling, so that nothing but the rules under pressure ends it.
            for (auto &connection : slow) {
                connection->send("X-Slow: 1\r\n");
            }
            RawConnection fresh(m_port, "127.0.4.1");
            fresh.send("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
            status = RawConnection::status(fresh.receive(1s));
        }
        EXPECT_EQ(status, 200) << addresses << " addresses";
    }
}

} // namespace
} // namespace tarvo::server::testing
