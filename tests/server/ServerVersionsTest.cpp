// The page's validators over HTTP on the engine under test: ETag on a center's answers,
// If-None-Match, If-Match and the history of a center.
#include "ServerFixture.h"
#include "auth/Users.h"

#include <algorithm>
#include <barrier>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <pugixml.hpp>
#include <regex>
#include <set>
#include <thread>

namespace tarvo::server::testing {
namespace {

const std::string kForm = "application/x-www-form-urlencoded";
const char *const kKinds[] = {"count", "active", "selected", "history"};

std::string target(const char *kind, std::int64_t center)
{
    return std::string("/CenterVendor.asp?") + kind + "=1&centerID=" + std::to_string(center);
}

class ServerVersions : public ServerTest
{
protected:
    // The ETag of one of the center's answers, checked to be a strong quoted tag.
    std::string tag(std::int64_t center, const char *kind = "count") const
    {
        const auto res = get(target(kind, center));
        EXPECT_TRUE(res && res->status == 200) << kind << " " << center;
        const std::string etag = res ? res->get_header_value("ETag") : "";
        EXPECT_TRUE(etag.size() > 2 && etag.front() == '"' && etag.back() == '"') << etag;
        return etag;
    }

    static httplib::Result postIf(const std::vector<std::string> &statements,
                                  const std::string &ifMatch, httplib::Client &cli)
    {
        return cli.Post("/CenterVendor.asp", {{"If-Match", ifMatch}}, formBody(statements), kForm);
    }
    httplib::Result postIf(const std::vector<std::string> &statements,
                           const std::string &ifMatch) const
    {
        httplib::Client cli = client();
        return postIf(statements, ifMatch, cli);
    }

    std::size_t auditCount() const
    {
        return std::stoul(m_db->rows("SELECT COUNT(*) FROM AssignmentAudit").at(0).at(0));
    }

    // Active vendors first..last, for batches that do not collide by themselves.
    void addVendors(std::int64_t first, std::int64_t last)
    {
        Records vendors;
        for (std::int64_t id = first; id <= last; ++id) {
            vendors.vendors.push_back(
                {id, "Vendor " + std::to_string(id), 1, true, "2024-01-01 00:00:00"});
        }
        m_db->add(vendors);
    }

    // A direct write, as another program would make it.
    void toolWrites(const std::string &sql) { m_db->execute(sql); }
};

TEST_F(ServerVersions, EveryAnswerOfACenterCarriesOneStrongTagOfItsOwn)
{
    m_db->addCenter({14, "Empty", 1});
    std::set<std::string> distinct;
    for (const std::int64_t center : {12, 13, 14}) {
        const std::string count = tag(center);
        for (const char *kind : kKinds) {
            const auto res = get(target(kind, center));
            ASSERT_TRUE(res);
            EXPECT_EQ(res->get_header_value("ETag"), count) << kind << " " << center;
            EXPECT_EQ(res->get_header_value("Cache-Control"), "no-cache");
        }
        distinct.insert(count);
    }
    EXPECT_EQ(distinct.size(), 3u) << "a center without assignments has a tag of its own";
    const auto unknown = get(target("count", 77));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_FALSE(unknown->has_header("ETag"));
}

TEST_F(ServerVersions, EachWriteOfAnAssignmentGivesItsCenterANewTagAndNoOtherCenterOne)
{
    struct Write
    {
        const char *name;
        std::function<void()> run;
        std::set<std::int64_t> moved;
    };
    auto commit = [this](const std::string &sql) {
        const auto res = post({sql});
        ASSERT_TRUE(res && res->status == 200) << sql;
    };
    const std::string table = "VendorCenterCrossReference";
    const std::vector<Write> writes = {
        {"commit adds", [&] { commit(insertSql(12, 7, "0.05", 1)); }, {12}},
        {"commit changes a fee", [&] { commit(updateSql(12, 8, "0.2", 1)); }, {12}},
        {"commit changes it back", [&] { commit(updateSql(12, 8, "0.03", 1)); }, {12}},
        {"commit removes", [&] { commit(deleteSql(12, {9})); }, {12}},
        {"tool inserts",
         [&] { toolWrites("INSERT INTO " + table + " VALUES (12, 5, 0.1, 0, '2024-01-01')"); },
         {12}},
        {"tool updates",
         [&] { toolWrites("UPDATE " + table + " SET DutyBrokerageFee = 1 WHERE VendorID = 5"); },
         {12}},
        {"tool deletes", [&] { toolWrites("DELETE FROM " + table + " WHERE VendorID = 5"); }, {12}},
        {"tool moves an assignment to another center",
         [&] { toolWrites("UPDATE " + table + " SET CenterID = 13 WHERE VendorID = 3"); },
         {12, 13}},
        {"vendor renamed",
         [&] { toolWrites("UPDATE Vendors SET VendorName = 'Renamed' WHERE VendorID = 8"); },
         {}},
    };
    std::map<std::int64_t, std::string> tags{{12, tag(12)}, {13, tag(13)}};
    std::set<std::string> seen{tags[12], tags[13]};
    for (const Write &write : writes) {
        write.run();
        for (auto &[center, before] : tags) {
            const std::string now = tag(center);
            if (write.moved.count(center) != 0) {
                EXPECT_TRUE(seen.insert(now).second)
                    << write.name << ": center " << center << " has a tag it had before";
            } else {
                EXPECT_EQ(now, before) << write.name << ": center " << center << " moved";
            }
            before = now;
        }
    }
}

TEST_F(ServerVersions, IfNoneMatchAnswers304WithTheTagAndNoBodyWhileUnchanged)
{
    const std::string older = tag(12);
    const std::string other = tag(13);
    toolWrites("DELETE FROM VendorCenterCrossReference WHERE CenterID = 12 AND VendorID = 9");
    const std::string current = tag(12);
    const std::pair<std::string, int> cases[] = {
        {current, 304}, {"W/" + current, 304}, {"\"x\", " + current, 304}, {"*", 304},
        {older, 200},   {other, 200},          {"not a tag list", 200},
    };
    for (const char *kind : kKinds) {
        for (const auto &[ifNoneMatch, status] : cases) {
            const auto res = client().Get(target(kind, 12), {{"If-None-Match", ifNoneMatch}});
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, status) << kind << " " << ifNoneMatch;
            EXPECT_EQ(res->get_header_value("ETag"), current);
            EXPECT_EQ(res->body.empty(), status == 304) << kind << " " << ifNoneMatch;
            EXPECT_EQ(res->has_header("Content-Type"), status == 200);
        }
    }
}

enum class TagSent { Current, Stale, Weak, OtherCenter, StaleAndCurrent, Any, Text, Empty };

struct IfMatchCase
{
    const char *name;
    TagSent sent;
    std::vector<std::string> statements;
    int status;
    const char *text; // the start of the answer
};

void PrintTo(const IfMatchCase &c, std::ostream *os)
{
    *os << c.name;
}

class ServerIfMatch : public ServerVersions, public ::testing::WithParamInterface<IfMatchCase>
{
};

// A tool changes center 12 after the stale tag was read; a refusal changes nothing, not even
// the tag or the audit trail.
TEST_P(ServerIfMatch, AppliesTheBatchOnlyWhileTheCenterHasTheTagSent)
{
    const std::string stale = tag(12);
    toolWrites("UPDATE VendorCenterCrossReference SET CenterHandlingFee = 0.09 WHERE VendorID = 9");
    const std::string current = tag(12);
    const std::map<TagSent, std::string> sent = {
        {TagSent::Current, current},
        {TagSent::Stale, stale},
        {TagSent::Weak, "W/" + current},
        {TagSent::OtherCenter, tag(13)},
        {TagSent::StaleAndCurrent, stale + ", " + current},
        {TagSent::Any, "*"},
        {TagSent::Text, "c12"},
        {TagSent::Empty, ""},
    };
    const Snapshot before = snapshot(*m_db);
    const std::size_t audited = auditCount();
    const auto res = postIf(GetParam().statements, sent.at(GetParam().sent));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, GetParam().status) << res->body;
    EXPECT_EQ(res->body.rfind(GetParam().text, 0), 0u) << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    if (GetParam().status == 200) {
        EXPECT_NE(tag(12), current);
        return;
    }
    EXPECT_EQ(snapshot(*m_db), before);
    EXPECT_EQ(auditCount(), audited);
    EXPECT_EQ(tag(12), current);
}

const std::string kChanged = "Nothing was saved: center 12 changed since it was loaded.";

INSTANTIATE_TEST_SUITE_P(
    Tags, ServerIfMatch,
    ::testing::Values(
        IfMatchCase{"Current", TagSent::Current, {updateSql(12, 8, "0.2", 0)}, 200, "Saved: "},
        IfMatchCase{"OneOfSeveral", TagSent::StaleAndCurrent, {deleteSql(12, {3})}, 200, "Saved"},
        IfMatchCase{"Any", TagSent::Any, {deleteSql(12, {3})}, 200, "Saved: "},
        IfMatchCase{"Stale",
                    TagSent::Stale,
                    {updateSql(12, 8, "0.2", 0)},
                    412,
                    "Nothing was saved: center 12 changed since it was loaded.\nNo audit row "
                    "names the change"},
        IfMatchCase{"StaleWinsOverAConflict",
                    TagSent::Stale,
                    {insertSql(12, 8, "0.1", 0)},
                    412,
                    "Nothing was saved: center 12 changed"},
        IfMatchCase{"CurrentButConflicting",
                    TagSent::Current,
                    {insertSql(12, 8, "0.1", 0)},
                    409,
                    "Nothing was saved: statement 1 conflicts"},
        IfMatchCase{"WeakNeverMatches", TagSent::Weak, {deleteSql(12, {3})}, 412, "Nothing"},
        IfMatchCase{"AnotherCentersTag",
                    TagSent::OtherCenter,
                    {deleteSql(12, {3})},
                    412,
                    "Nothing was saved: center 12 changed"},
        IfMatchCase{"TwoCenters",
                    TagSent::Current,
                    {deleteSql(12, {3}), deleteSql(13, {4})},
                    400,
                    "Nothing was saved: a commit with If-Match must change exactly one center."},
        IfMatchCase{"NotATagList",
                    TagSent::Text,
                    {deleteSql(12, {3})},
                    400,
                    "Nothing was saved: If-Match must be"},
        IfMatchCase{"EmptyHeader",
                    TagSent::Empty,
                    {deleteSql(12, {3})},
                    400,
                    "Nothing was saved: If-Match must be"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServerVersions, OfCommitsSentAtOnceWithTheSameTagExactlyOneIsApplied)
{
    addVendors(100, 107);
    const std::string loaded = tag(12);
    constexpr int kWriters = 8;
    std::barrier start(kWriters);
    std::vector<int> statuses(kWriters, 0);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            // Disjoint batches: only the tag can refuse them.
            httplib::Client cli = client();
            start.arrive_and_wait();
            const auto res = postIf({insertSql(12, 100 + w, "0.05", 0)}, loaded, cli);
            statuses[static_cast<std::size_t>(w)] = res ? res->status : -1;
        });
    }
    for (std::thread &writer : writers) {
        writer.join();
    }
    std::sort(statuses.begin(), statuses.end());
    std::vector<int> expected(kWriters, 412);
    expected.front() = 200;
    EXPECT_EQ(statuses, expected);
    EXPECT_EQ(auditCount(), 1u);
}

TEST_F(ServerVersions, DisjointCommitsWithoutIfMatchAllSucceedSideBySide)
{
    constexpr int kWriters = 8;
    constexpr int kRounds = 3;
    addVendors(100, 100 + kWriters * kRounds - 1);
    for (int round = 0; round < kRounds; ++round) {
        std::barrier start(kWriters);
        std::vector<int> statuses(kWriters, 0);
        std::vector<std::thread> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.emplace_back([&, w] {
                const auto body = formBody({insertSql(12, 100 + round * kWriters + w, "0.05", 0)});
                httplib::Client cli = client();
                start.arrive_and_wait();
                const auto res = cli.Post("/CenterVendor.asp", body, kForm);
                statuses[static_cast<std::size_t>(w)] = res ? res->status : -1;
            });
        }
        for (std::thread &writer : writers) {
            writer.join();
        }
        EXPECT_EQ(statuses, std::vector<int>(kWriters, 200)) << "round " << round;
    }
}

// The control sends a commit again when its answer was lost: here the first try's client
// goes away before the answer, and the server applies it all the same.
TEST_F(ServerVersions, ACommitSentAgainAfterItsAnswerWasLostIsRefusedNotAppliedTwice)
{
    const std::string loaded = tag(12);
    const std::vector<std::string> batch = {insertSql(12, 7, "0.05", 1),
                                            updateSql(12, 8, "0.04", 0)};
    const std::string body = formBody(batch);
    {
        RawConnection lost(m_port);
        ASSERT_TRUE(lost.connected());
        ASSERT_TRUE(lost.send("POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nContent-Type: " +
                              kForm + "\r\nIf-Match: " + loaded + "\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (tag(12) == loaded && std::chrono::steady_clock::now() < deadline) {
    }
    ASSERT_NE(tag(12), loaded) << "the first try was not applied";
    const Snapshot applied = snapshot(*m_db);
    const auto again = postIf(batch, loaded);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 412);
    EXPECT_NE(again->body.find("Someone added vendor 7 (Zenith Paper) with fee 5.00%, duty 1 at "),
              std::string::npos)
        << again->body;
    EXPECT_EQ(snapshot(*m_db), applied);
    EXPECT_EQ(auditCount(), 2u);
}

// The fields of each Change record of a history answer, by name.
std::vector<std::map<std::string, std::string>> changes(const std::string &xml)
{
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(xml.c_str())) << xml;
    std::vector<std::map<std::string, std::string>> out;
    for (pugi::xml_node change : doc.child("CenterVendor").child("History").children("Change")) {
        auto &fields = out.emplace_back();
        for (pugi::xml_node field : change.children()) {
            fields[field.name()] = field.text().get();
        }
    }
    return out;
}

TEST_F(ServerVersions, HistoryListsTheCentersChangesNewestFirst)
{
    for (const std::string &sql : {insertSql(12, 7, "0.05", 1), updateSql(12, 7, "0.1", 0),
                                   deleteSql(13, {4}), deleteSql(12, {7})}) {
        ASSERT_EQ(post({sql})->status, 200);
    }
    const auto all = get(target("history", 12));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->get_header_value("Content-Type"), "text/xml; charset=utf-8");
    const auto rows = changes(all->body);
    ASSERT_EQ(rows.size(), 3u);
    std::vector<std::string> actions;
    for (const auto &row : rows) {
        actions.push_back(row.at("Action") + " " + row.at("VendorID") + " " + row.at("Fee") + " " +
                          row.at("Duty"));
        EXPECT_TRUE(
            std::regex_match(row.at("ChangedAt"), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
        EXPECT_EQ(row.at("User"), "");
        EXPECT_EQ(row.at("VendorName"), "Zenith Paper");
    }
    EXPECT_EQ(actions,
              (std::vector<std::string>{"remove 7 0.1 0", "update 7 0.1 0", "add 7 0.05 1"}));
    EXPECT_EQ(rows.front().at("ETag"), all->get_header_value("ETag"))
        << "the newest change carries the center's tag";
    EXPECT_EQ(changes(get("/CenterVendor.asp?history=1&centerID=12&limit=2")->body).size(), 2u);
    EXPECT_EQ(get("/CenterVendor.asp?history=1&centerID=12&limit=0")->status, 404);
}

// Alice may change center 12, Bob centers 12 and 13.
class ServerVersionsWithUsers : public ServerVersions
{
protected:
    static void SetUpTestSuite() { s_hashes = {hashPassword("alice-pw"), hashPassword("bob-pw")}; }
    void configure(ReferenceServer &server) override
    {
        const auto users = m_dir.path() / "users";
        std::ofstream(users) << "alice:" << s_hashes[0] << ":12\nbob:" << s_hashes[1] << ":12,13\n";
        AccessOptions access;
        access.usersFile = users.string();
        server.setAccess(access);
    }
    httplib::Client as(const std::string &user) const
    {
        httplib::Client cli = client();
        cli.set_basic_auth(user, user + "-pw");
        return cli;
    }
    std::string tagAs(const std::string &user) const
    {
        const auto res = as(user).Get(target("count", 12));
        return res ? res->get_header_value("ETag") : "";
    }

    static std::vector<std::string> s_hashes;
    TempDir m_dir;
};

std::vector<std::string> ServerVersionsWithUsers::s_hashes;

TEST_F(ServerVersionsWithUsers, RefusalsComeIn401_400_403_412_409Order)
{
    const std::string stale = tagAs("alice");
    toolWrites("UPDATE VendorCenterCrossReference SET DutyBrokerageFee = 0 WHERE VendorID = 3");
    const std::string current = tagAs("alice");
    struct Case
    {
        const char *user; // empty: no credentials
        std::string ifMatch;
        std::vector<std::string> statements;
        int status;
    };
    const std::vector<Case> cases = {
        {"", stale, {"DROP TABLE Vendors", deleteSql(13, {4})}, 401},
        {"alice", stale, {deleteSql(12, {9}), "DROP TABLE Vendors"}, 400},
        {"alice", stale, {deleteSql(12, {9}), deleteSql(13, {4})}, 400},
        {"alice", "\"c13-v1\"", {insertSql(13, 8, "0.1", 0)}, 403},
        {"alice", stale, {insertSql(12, 8, "0.1", 0)}, 412},
        {"alice", current, {insertSql(12, 8, "0.1", 0)}, 409},
    };
    const Snapshot before = snapshot(*m_db);
    for (const Case &c : cases) {
        httplib::Client cli = *c.user != '\0' ? as(c.user) : client();
        const auto res = postIf(c.statements, c.ifMatch, cli);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status) << res->body;
    }
    EXPECT_EQ(snapshot(*m_db), before);
    const auto history = as("alice").Get(target("history", 13));
    ASSERT_TRUE(history);
    EXPECT_EQ(history->status, 403) << "the history has the center's read rights";
}

TEST_F(ServerVersionsWithUsers, TheRefusalNamesWhoChangedWhatAndWhen)
{
    const std::string bobsLoad = tagAs("bob");
    httplib::Client alicesDesk = as("alice");
    httplib::Client bobsDesk = as("bob");
    const auto alice =
        postIf({updateSql(12, 8, "0.2", 0), deleteSql(12, {9})}, bobsLoad, alicesDesk);
    ASSERT_TRUE(alice);
    ASSERT_EQ(alice->status, 200) << alice->body;
    const auto bob = postIf({updateSql(12, 8, "0.25", 1)}, bobsLoad, bobsDesk);
    ASSERT_TRUE(bob);
    EXPECT_EQ(bob->status, 412);
    const std::string at = R"( at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.)";
    EXPECT_TRUE(std::regex_match(
        bob->body, std::regex(kChanged + "\nalice removed vendor 9 \\(Granite Glass\\)" + at +
                              "\nalice changed vendor 8 \\(Murphy's Steel\\) to fee 20.00%, "
                              "duty 0" +
                              at)))
        << bob->body;
}

} // namespace
} // namespace tarvo::server::testing
