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
const std::string kChanged = "Nothing was saved: center 12 changed since it was loaded.";

std::string target(const char *kind, std::int64_t center)
{
    return std::string("/CenterVendor.asp?") + kind + "=1&centerID=" + std::to_string(center);
}

class ServerVersions : public ServerTest
{
protected:
    // The ETag that the center's four answers agree on, checked to be strong and quoted.
    std::string tag(std::int64_t center) const
    {
        std::string agreed;
        for (const char *kind : kKinds) {
            const auto res = reader().Get(target(kind, center));
            EXPECT_TRUE(res && res->status == 200) << kind << " " << center;
            const std::string etag = res ? res->get_header_value("ETag") : "";
            EXPECT_TRUE(agreed.empty() || etag == agreed) << kind << " " << center;
            EXPECT_EQ(res ? res->get_header_value("Cache-Control") : "", "no-cache");
            agreed = etag;
        }
        EXPECT_TRUE(std::regex_match(agreed, std::regex(R"("[^"]+")"))) << agreed;
        return agreed;
    }

    virtual httplib::Client reader() const { return client(); }

    static httplib::Result postIf(httplib::Client &cli, const std::vector<std::string> &statements,
                                  const std::string &ifMatch)
    {
        return cli.Post("/CenterVendor.asp", {{"If-Match", ifMatch}}, formBody(statements), kForm);
    }
    httplib::Result postIf(const std::vector<std::string> &statements,
                           const std::string &ifMatch) const
    {
        httplib::Client cli = client();
        return postIf(cli, statements, ifMatch);
    }

    std::size_t auditCount() const
    {
        return std::stoul(m_db->rows("SELECT COUNT(*) FROM AssignmentAudit").at(0).at(0));
    }
};

TEST_F(ServerVersions, EachWriteOfAnAssignmentGivesOnlyItsCenterANewTag)
{
    m_db->addCenter({14, "Empty", 1});
    const auto unknown = get(target("count", 77));
    EXPECT_EQ(unknown->status, 404);
    EXPECT_FALSE(unknown->has_header("ETag"));
    struct Write
    {
        bool commit; // else written directly, as another program would
        std::string sql;
        std::set<std::int64_t> moved;
    };
    const std::string table = "VendorCenterCrossReference ";
    const Write writes[] = {
        {true, insertSql(12, 7, "0.05", 1), {12}},
        {true, updateSql(12, 8, "0.2", 1), {12}},
        {true, updateSql(12, 8, "0.03", 1), {12}}, // the fee back as it was
        {true, deleteSql(12, {9}), {12}},
        {false, "INSERT INTO " + table + "VALUES (12, 5, 0.1, 0, '2024-01-01')", {12}},
        {false, "UPDATE " + table + "SET DutyBrokerageFee = 1 WHERE VendorID = 5", {12}},
        {false, "DELETE FROM " + table + "WHERE VendorID = 5", {12}},
        {false, "UPDATE " + table + "SET CenterID = 13 WHERE VendorID = 3", {12, 13}},
        {false, "UPDATE Vendors SET VendorName = 'X' WHERE VendorID = 8", {}},
    };
    std::map<std::int64_t, std::string> tags{{12, tag(12)}, {13, tag(13)}, {14, tag(14)}};
    std::set<std::string> seen;
    for (const auto &[center, first] : tags) {
        EXPECT_TRUE(seen.insert(first).second) << "center " << center << " shares a tag";
    }
    for (const Write &write : writes) {
        if (write.commit) {
            EXPECT_EQ(post({write.sql})->status, 200) << write.sql;
        } else {
            m_db->execute(write.sql);
        }
        for (auto &[center, before] : tags) {
            const std::string now = tag(center);
            if (write.moved.count(center) != 0) {
                EXPECT_TRUE(seen.insert(now).second) << write.sql << ": center " << center;
            } else {
                EXPECT_EQ(now, before) << write.sql << ": center " << center;
            }
            before = now;
        }
    }
}

TEST_F(ServerVersions, IfNoneMatchAnswers304WithTheTagAndNoBodyWhileUnchanged)
{
    const std::string older = tag(12);
    const std::string other = tag(13);
    m_db->execute("DELETE FROM VendorCenterCrossReference WHERE VendorID = 9");
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

TEST_F(ServerVersions, OfCommitsSentAtOnceOnlyOneWithTheSameTagAppliesAndAllWithoutOne)
{
    constexpr int kWriters = 8;
    store::Records vendors;
    for (std::int64_t id = 100; id < 100 + 2 * kWriters; ++id) {
        vendors.vendors.push_back({id, "V", 1, true, "2024-01-01 00:00:00"});
    }
    m_db->add(vendors);
    // Disjoint batches, so that only the tag can refuse them.
    auto atOnce = [&](int firstVendor, const std::string &ifMatch) {
        std::barrier start(kWriters);
        std::vector<int> statuses(kWriters, 0);
        std::vector<std::thread> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.emplace_back([&, w] {
                httplib::Client cli = client();
                const std::vector<std::string> batch = {insertSql(12, firstVendor + w, "0.05", 0)};
                start.arrive_and_wait();
                const auto res = ifMatch.empty()
                                     ? cli.Post("/CenterVendor.asp", formBody(batch), kForm)
                                     : postIf(cli, batch, ifMatch);
                statuses[static_cast<std::size_t>(w)] = res ? res->status : -1;
            });
        }
        for (std::thread &writer : writers) {
            writer.join();
        }
        std::sort(statuses.begin(), statuses.end());
        return statuses;
    };
    std::vector<int> oneApplied(kWriters, 412);
    oneApplied.front() = 200;
    EXPECT_EQ(atOnce(100, tag(12)), oneApplied);
    EXPECT_EQ(auditCount(), 1u);
    EXPECT_EQ(atOnce(100 + kWriters, ""), std::vector<int>(kWriters, 200));
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
        ASSERT_TRUE(lost.send("POST /CenterVendor.asp HTTP/1.1\r\nHost: x\r\nContent-Type: " +
                              kForm + "\r\nIf-Match: " + loaded + "\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // One answer at a time: the four of tag() may straddle the commit.
    while (get(target("count", 12))->get_header_value("ETag") == loaded &&
           std::chrono::steady_clock::now() < deadline) {
    }
    ASSERT_EQ(auditCount(), 2u) << "the first try was not applied";
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

TEST_F(ServerVersions, HistoryListsTheCentersChangesNewestFirst)
{
    for (const std::string &sql : {insertSql(12, 7, "0.05", 1), updateSql(12, 7, "0.1", 0),
                                   deleteSql(13, {4}), deleteSql(12, {7})}) {
        ASSERT_EQ(post({sql})->status, 200);
    }
    const auto all = get(target("history", 12));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->get_header_value("Content-Type"), "text/xml; charset=utf-8");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(all->body.c_str())) << all->body;
    std::vector<std::string> rows;
    std::vector<std::string> tags;
    for (pugi::xml_node change : doc.child("CenterVendor").child("History").children()) {
        std::string row;
        for (pugi::xml_node field : change.children()) {
            if (std::string(field.name()) == "ETag") {
                tags.emplace_back(field.text().get());
            } else {
                row += std::string(field.name()) + "=" + field.text().get() + " ";
            }
        }
        rows.push_back(
            std::regex_replace(row, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "T"));
    }
    const std::string vendor = "VendorID=7 VendorName=Zenith Paper ";
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "ChangedAt=T User= Action=remove " + vendor + "Fee=0.1 Duty=0 ",
                        "ChangedAt=T User= Action=update " + vendor + "Fee=0.1 Duty=0 ",
                        "ChangedAt=T User= Action=add " + vendor + "Fee=0.05 Duty=1 "}));
    ASSERT_FALSE(tags.empty());
    EXPECT_EQ(tags.front(), all->get_header_value("ETag")) << "the newest carries the tag";
    const std::string two = get("/CenterVendor.asp?history=1&centerID=12&limit=2")->body;
    std::size_t shown = 0;
    for (auto at = two.find("<Change>"); at != std::string::npos;
         at = two.find("<Change>", at + 1)) {
        ++shown;
    }
    EXPECT_EQ(shown, 2u);
    EXPECT_EQ(get("/CenterVendor.asp?history=1&centerID=12&limit=0")->status, 404);
}

// Alice may change center 12, Bob centers 12 and 13.
class ServerVersionsWithUsers : public ServerVersions
{
protected:
    static void SetUpTestSuite()
    {
        s_hashes = {auth::hashPassword("alice-pw"), auth::hashPassword("bob-pw")};
    }
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
    httplib::Client reader() const override { return as("alice"); }

    static std::vector<std::string> s_hashes;
    TempDir m_dir;
};

std::vector<std::string> ServerVersionsWithUsers::s_hashes;

// Bob commits after Alice's load. A refusal changes nothing, not even the tag or the trail.
TEST_F(ServerVersionsWithUsers, IfMatchAppliesOnlyOnItsTagAndRefusesIn401_400_403_412_409Order)
{
    httplib::Client alice = as("alice");
    httplib::Client bob = as("bob");
    httplib::Client nobody = client();
    const std::string stale = tag(12);
    ASSERT_EQ(postIf(bob, {updateSql(12, 8, "0.2", 0), deleteSql(12, {9})}, stale)->status, 200);
    const std::string current = tag(12);
    const std::string conflicting = insertSql(12, 8, "0.1", 0);
    const std::vector<
        std::tuple<httplib::Client *, std::string, std::vector<std::string>, int, std::string>>
        refusals = {
            {&nobody, stale, {"DROP TABLE Vendors", deleteSql(13, {4})}, 401, ""},
            {&alice,
             stale,
             {deleteSql(12, {3}), "DROP TABLE"},
             400,
             "Nothing was saved: statement 2"},
            {&alice,
             stale,
             {deleteSql(12, {3}), deleteSql(13, {4})},
             400,
             "Nothing was saved: a commit with If-Match must change exactly one center."},
            {&alice,
             "c12",
             {deleteSql(12, {3})},
             400,
             "Nothing was saved: If-Match must be * or a list of entity tags."},
            {&alice, "\"c13-v1\"", {insertSql(13, 8, "0.1", 0)}, 403, "Nothing was saved: alice"},
            {&alice, stale, {conflicting}, 412, kChanged + "\nbob removed vendor 9"},
            {&alice, "W/" + current, {deleteSql(12, {3})}, 412, kChanged},
            {&alice, "\"c13-v0\"", {deleteSql(12, {3})}, 412, kChanged},
            {&alice, current, {conflicting}, 409, "Nothing was saved: statement 1 conflicts"},
        };
    const Snapshot before = snapshot(*m_db);
    for (const auto &[who, ifMatch, statements, status, text] : refusals) {
        const auto res = postIf(*who, statements, ifMatch);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, status) << res->body;
        EXPECT_EQ(res->body.rfind(text, 0), 0u) << res->body;
    }
    EXPECT_EQ(snapshot(*m_db), before);
    EXPECT_EQ(auditCount(), 2u);
    EXPECT_EQ(tag(12), current);
    const std::string at = R"( at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.)";
    EXPECT_TRUE(std::regex_match(
        postIf(alice, {conflicting}, stale)->body,
        std::regex(kChanged + "\nbob removed vendor 9 \\(Granite Glass\\)" + at +
                   "\nbob changed vendor 8 \\(Murphy's Steel\\) to fee 20.00%, duty 0" + at)));
    EXPECT_EQ(alice.Get(target("history", 13))->status, 403) << "the center's read rights";

    // Applied while the center has a tag sent, which moves it.
    for (const auto &sent : std::vector<std::function<std::string(const std::string &)>>{
             [](const std::string &now) { return now; },
             [&](const std::string &now) { return stale + ", " + now; },
             [](const std::string &) { return std::string("*"); }}) {
        const std::string now = tag(12);
        const auto res = postIf(alice, {updateSql(12, 3, "0.01", 0)}, sent(now));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
        EXPECT_NE(tag(12), now);
    }
}

} // namespace
} // namespace tarvo::server::testing
