// The POST of a save batch over HTTP: applying, conflicts, limits.
#include "ServerFixture.h"
#include "store/sqlite/SqliteConnection.h"

#include <algorithm>
#include <barrier>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::server::testing {
namespace {

class ServerSave : public ServerTest
{
protected:
    // Vendors first..last, active, so that large batches have something to assign.
    void addVendors(std::int64_t first, std::int64_t last)
    {
        store::Records vendors;
        for (std::int64_t id = first; id <= last; ++id) {
            vendors.vendors.push_back(
                {id, "Vendor " + std::to_string(id), 1, true, "2024-01-01 00:00:00"});
        }
        m_db->add(vendors);
    }
};

TEST_F(ServerSave, AppliesInsertUpdateAndDeleteAndSummarises)
{
    const auto res =
        post({insertSql(12, 7, "0.05", 1), updateSql(12, 9, "0.025", 0), deleteSql(12, {3, 8})});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(res->body, "Saved: 1 added, 1 updated, 2 removed.");

    const auto added = m_db->assignment(12, 7);
    ASSERT_TRUE(added);
    EXPECT_DOUBLE_EQ(added->fee, 0.05);
    EXPECT_TRUE(added->duty);
    EXPECT_TRUE(
        std::regex_match(added->lastUpdated, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << added->lastUpdated;
    EXPECT_GT(added->lastUpdated, "2024-01-01");

    const auto updated = m_db->assignment(12, 9);
    ASSERT_TRUE(updated);
    EXPECT_DOUBLE_EQ(updated->fee, 0.025);
    EXPECT_FALSE(updated->duty);
    EXPECT_EQ(updated->lastUpdated, added->lastUpdated) << "one time for the whole batch";

    EXPECT_FALSE(m_db->assignment(12, 3));
    EXPECT_FALSE(m_db->assignment(12, 8));
    EXPECT_TRUE(m_db->assignment(13, 4)) << "another center is untouched";
}

TEST_F(ServerSave, TheNextLoadShowsWhatWasSaved)
{
    ASSERT_EQ(post({insertSql(12, 5, "0.125", 0), deleteSql(12, {9})})->status, 200);
    const auto selected = get("/CenterVendor.asp?selected=1&centerID=12");
    ASSERT_TRUE(selected);
    EXPECT_EQ(answerRecords(selected->body, 2),
              (std::vector<std::vector<std::string>>{{"3", "Atlas Freight", "0.05", "1"},
                                                     {"5", "O'Neill <Tool> Co.", "0.125", "0"},
                                                     {"8", "Murphy's Steel", "0.03", "1"}}));
    const auto count = get("/CenterVendor.asp?count=1&centerID=12");
    ASSERT_TRUE(count);
    EXPECT_EQ(answerRecords(count->body, 0),
              (std::vector<std::vector<std::string>>{{"2", "3", "3"}}));
}

TEST_F(ServerSave, StatementsApplyInOrderWithinTheBatch)
{
    const auto res = post({deleteSql(12, {9}), insertSql(12, 9, "0.1", 1), deleteSql(12, {3, 3})});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(res->body, "Saved: 1 added, 0 updated, 2 removed.");
    const auto readded = m_db->assignment(12, 9);
    ASSERT_TRUE(readded);
    EXPECT_DOUBLE_EQ(readded->fee, 0.1);
    EXPECT_FALSE(m_db->assignment(12, 3));
}

struct ConflictCase
{
    const char *name;
    std::vector<std::string> statements;
    const char *text; // a part of the answer
};

void PrintTo(const ConflictCase &c, std::ostream *os)
{
    *os << c.name;
}

class ServerConflict : public ServerTest, public ::testing::WithParamInterface<ConflictCase>
{
};

TEST_P(ServerConflict, AnswersConflictAndAppliesNothing)
{
    const Snapshot before = snapshot(*m_db);
    const auto res = post(GetParam().statements);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 409);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(res->body.rfind("Nothing was saved", 0), 0u) << res->body;
    EXPECT_NE(res->body.find(GetParam().text), std::string::npos) << res->body;
    EXPECT_EQ(snapshot(*m_db), before);
}

INSTANTIATE_TEST_SUITE_P(
    Batches, ServerConflict,
    ::testing::Values(
        ConflictCase{"InsertOfExistingAssignment",
                     {insertSql(12, 8, "0.05", 1)},
                     "statement 1 conflicts with the database: vendor 8 at center 12 is already "
                     "assigned"},
        ConflictCase{
            "InsertOfUnknownVendor", {insertSql(12, 99, "0.05", 1)}, "vendor 99 does not exist"},
        ConflictCase{
            "InsertAtUnknownCenter", {insertSql(77, 7, "0.05", 1)}, "center 77 does not exist"},
        ConflictCase{"UpdateOfUnassignedVendor",
                     {updateSql(12, 7, "0.05", 1)},
                     "vendor 7 at center 12 is not assigned"},
        ConflictCase{"UpdateAtUnknownCenter",
                     {updateSql(77, 8, "0.05", 1)},
                     "vendor 8 at center 77 is not assigned"},
        ConflictCase{"DeleteOfUnassignedVendor",
                     {deleteSql(12, {7})},
                     "vendor 7 at center 12 is not assigned"},
        ConflictCase{"DeleteWhereOneOfSeveralIdsMatchesNothing",
                     {deleteSql(12, {3, 7, 8})},
                     "vendor 7 at center 12 is not assigned"},
        ConflictCase{
            "LastStatementOfABatchConflicts",
            {insertSql(12, 7, "0.05", 1), updateSql(12, 9, "0.1", 1), deleteSql(12, {3, 5})},
            "statement 3 conflicts"},
        ConflictCase{"SameInsertTwice",
                     {insertSql(12, 7, "0.05", 1), insertSql(12, 7, "0.05", 1)},
                     "statement 2 conflicts"},
        ConflictCase{"UpdateAfterDeleteInTheSameBatch",
                     {deleteSql(12, {9}), updateSql(12, 9, "0.1", 0)},
                     "statement 2 conflicts"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServerSave, BodiesLargerThan8KiBAreRead)
{
    addVendors(100, 399);
    std::vector<std::string> statements;
    for (std::int64_t id = 100; id <= 399; ++id) {
        statements.push_back(insertSql(13, id, "0.08", static_cast<int>(id % 2)));
    }
    const std::string body = formBody(statements);
    ASSERT_GT(body.size(), 8u * 1024u);
    const auto res = postBody(body);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(res->body, "Saved: 300 added, 0 updated, 0 removed.");
    EXPECT_EQ(m_db->assignments().size(), 4u + 300u);
}

TEST_F(ServerSave, TheStatementLimitIs32767)
{
    std::string atLimit;
    for (int i = 0; i < 32767; ++i) {
        atLimit += "SQL=x&";
    }
    const auto refused = postBody(atLimit);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << "at the limit the statements are read, and refused";

    const auto tooMany = postBody(atLimit + "SQL=x&");
    ASSERT_TRUE(tooMany);
    EXPECT_EQ(tooMany->status, 413);
    EXPECT_NE(tooMany->body.find("more than 32767 statements"), std::string::npos) << tooMany->body;
}

struct BadBodyCase
{
    const char *name;
    std::string body;
    const char *contentType;
    int status;
    const char *text;
};

void PrintTo(const BadBodyCase &c, std::ostream *os)
{
    *os << c.name;
}

class ServerBadBody : public ServerTest, public ::testing::WithParamInterface<BadBodyCase>
{
};

TEST_P(ServerBadBody, IsRefusedWithAReason)
{
    const Snapshot before = snapshot(*m_db);
    const auto res = client().Post("/CenterVendor.asp", GetParam().body, GetParam().contentType);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, GetParam().status);
    EXPECT_NE(res->body.find(GetParam().text), std::string::npos) << res->body;
    EXPECT_EQ(snapshot(*m_db), before);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ServerBadBody,
    ::testing::Values(
        BadBodyCase{"Empty", "", "application/x-www-form-urlencoded", 400, "no SQL field"},
        BadBodyCase{"OtherFieldsOnly", "name=value&x=1", "application/x-www-form-urlencoded", 400,
                    "no SQL field"},
        BadBodyCase{"EmptyStatement", "SQL=&", "application/x-www-form-urlencoded", 400,
                    "statement 1 was refused"},
        BadBodyCase{"BrokenEscape", "SQL=DELETE%2", "application/x-www-form-urlencoded", 400,
                    "not form-URL-encoded"},
        BadBodyCase{"Json", "{\"SQL\":\"x\"}", "application/json", 415,
                    "application/x-www-form-urlencoded"},
        BadBodyCase{"Multipart",
                    "--b\r\nContent-Disposition: form-data; name=\"SQL\"\r\n\r\nx\r\n--b--\r\n",
                    "multipart/form-data; boundary=b", 415, "application/x-www-form-urlencoded"}),
    [](const auto &info) { return std::string(info.param.name); });

// Every byte as an escape, so that a body written byte by byte cuts escapes everywhere.
std::string escapeEveryByte(const std::string &text)
{
    static const char *const kHex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    return out;
}

struct TrickledBodyCase
{
    const char *name;
    std::string body;
    int status;
    const char *text;
};

void PrintTo(const TrickledBodyCase &c, std::ostream *os)
{
    *os << c.name;
}

class ServerTrickledBody : public ServerTest, public ::testing::WithParamInterface<TrickledBodyCase>
{
};

// One byte per write with Nagle off: the server reads the body in pieces that end inside
// escapes and between fields.
TEST_P(ServerTrickledBody, IsReadAsIfItCameWhole)
{
    const Snapshot before = snapshot(*m_db);
    RawConnection connection(m_port);
    ASSERT_TRUE(connection.connected());
    const std::string &body = GetParam().body;
    ASSERT_TRUE(connection.send("POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n"));
    for (const char c : body) {
        ASSERT_TRUE(connection.send(std::string_view(&c, 1)));
    }
    const std::string answer = connection.receive(std::chrono::seconds(10));
    EXPECT_EQ(RawConnection::status(answer), GetParam().status) << answer;
    EXPECT_NE(answer.find(GetParam().text), std::string::npos) << answer;
    if (GetParam().status != 200) {
        EXPECT_EQ(snapshot(*m_db), before);
        return;
    }
    const auto added = m_db->assignment(12, 7);
    ASSERT_TRUE(added);
    EXPECT_DOUBLE_EQ(added->fee, 0.05);
    const auto updated = m_db->assignment(12, 9);
    ASSERT_TRUE(updated);
    EXPECT_DOUBLE_EQ(updated->fee, 0.025);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ServerTrickledBody,
    ::testing::Values(TrickledBodyCase{"EveryByteEscaped",
                                       "SQL=" + escapeEveryByte(insertSql(12, 7, "0.05", 1)) +
                                           "&SQL=" + escapeEveryByte(updateSql(12, 9, "0.025", 0)),
                                       200, "Saved: 1 added, 1 updated, 0 removed."},
                      TrickledBodyCase{"EmptyFieldBeforeAnEscape",
                                       "SQL=&SQL=" + escapeEveryByte(insertSql(12, 7, "0.05", 1)),
                                       400, "statement 1 was refused"},
                      TrickledBodyCase{"EscapeCutByTheEnd",
                                       "SQL=" + formEncode(insertSql(12, 7, "0.05", 1)) + "%2", 400,
                                       "not form-URL-encoded"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServerSave, EveryCommitIsSyncedToDisk)
{
    if (m_db->engine() != Engine::Sqlite) {
        GTEST_SKIP() << "PostgreSQL syncs every commit unless told otherwise";
    }
    // Set per connection: the server's own connections are opened like this one.
    store::SqliteConnection connection(m_db->location());
    store::SqliteStatement mode(connection.handle(), "PRAGMA synchronous");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.int64(0), 2) << "FULL: a batch answered 200 survives a power loss";
    mode.reset();
}

TEST_F(ServerSave, ConcurrentCommitsWaitForEachOtherInsteadOfFailing)
{
    addVendors(1000, 1799);
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 200;
    std::vector<int> statuses(kWriters, 0);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([this, w, &statuses] {
            std::vector<std::string> statements;
            for (int i = 0; i < kPerWriter; ++i) {
                statements.push_back(insertSql(12, 1000 + w * kPerWriter + i, "0.05", 0));
            }
            const auto res = post(statements);
            statuses[static_cast<std::size_t>(w)] = res ? res->status : -1;
        });
    }
    for (std::thread &writer : writers) {
        writer.join();
    }
    EXPECT_EQ(statuses, std::vector<int>(kWriters, 200));
    EXPECT_EQ(m_db->assignments().size(), 4u + kWriters * kPerWriter);
}

TEST_F(ServerSave, BatchesRacingForOneRowEachApplyWholeOrNotAtAll)
{
    addVendors(100, 107);
    constexpr int kWriters = 8;
    std::barrier start(kWriters);
    std::vector<int> statuses(kWriters, 0);
    std::vector<std::string> answers(kWriters);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            // The same row gets a different fee from each writer, beside a row of its own.
            const auto body = formBody({updateSql(12, 8, "0.0" + std::to_string(w + 1), 0),
                                        insertSql(12, 100 + w, "0.05", 0)});
            httplib::Client cli = client();
            start.arrive_and_wait();
            const auto res =
                cli.Post("/CenterVendor.asp", body, "application/x-www-form-urlencoded");
            statuses[static_cast<std::size_t>(w)] = res ? res->status : -1;
            answers[static_cast<std::size_t>(w)] = res ? res->body : "";
        });
    }
    for (std::thread &writer : writers) {
        writer.join();
    }
    std::vector<double> savedFees;
    for (int w = 0; w < kWriters; ++w) {
        const auto i = static_cast<std::size_t>(w);
        ASSERT_TRUE(statuses[i] == 200 || statuses[i] == 409) << statuses[i] << answers[i];
        EXPECT_EQ(m_db->assignment(12, 100 + w).has_value(), statuses[i] == 200) << answers[i];
        if (statuses[i] == 200) {
            savedFees.push_back((w + 1) / 100.0);
        } else {
            EXPECT_NE(answers[i].find("statement 1 conflicts"), std::string::npos) << answers[i];
        }
    }
    ASSERT_FALSE(savedFees.empty());
    const auto row = m_db->assignment(12, 8);
    ASSERT_TRUE(row);
    EXPECT_NE(std::find(savedFees.begin(), savedFees.end(), row->fee), savedFees.end())
        << "the fee is one that a saved batch wrote: " << row->fee;
}

} // namespace
} // namespace tarvo::server::testing
