// The three GET answers over HTTP against the small data set of the fixture.
#include "ServerFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarvo::server::testing {
namespace {

using Records = std::vector<std::vector<std::string>>;

class ServerQuery : public ServerTest
{
};

TEST_F(ServerQuery, CountGivesCenterCodeAndBothListSizes)
{
    const auto res = get("/CenterVendor.asp?count=1&centerID=12");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/xml; charset=utf-8");
    EXPECT_EQ(answerRecords(res->body, 0), (Records{{"2", "3", "3"}}));

    const auto other = get("/CenterVendor.asp?count=1&centerID=13");
    ASSERT_TRUE(other);
    EXPECT_EQ(answerRecords(other->body, 0), (Records{{"1", "5", "1"}}));
}

TEST_F(ServerQuery, ActiveListsUnassignedActiveVendorsByIdWithTheirDate)
{
    const auto res = get("/CenterVendor.asp?active=1&centerID=12");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/xml; charset=utf-8");
    EXPECT_EQ(answerRecords(res->body, 1),
              (Records{{"4", "Baker & Sons", "44", "<none>", "<none>", "12/31/2020"},
                       {"5", "O'Neill <Tool> Co.", "1", "<none>", "<none>", "07/15/2019"},
                       {"7", "Zenith Paper", "2", "<none>", "<none>", "02/02/2022"}}));
}

TEST_F(ServerQuery, SelectedListsAssignmentsByIdWithFractionAndFlag)
{
    const auto res = get("/CenterVendor.asp?selected=1&centerID=12");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(answerRecords(res->body, 2), (Records{{"3", "Atlas Freight", "0.05", "1"},
                                                    {"8", "Murphy's Steel", "0.03", "1"},
                                                    {"9", "Granite Glass", "0.08", "0"}}));
}

TEST_F(ServerQuery, CentersListsEveryCenterWithNameAndCodeWithoutACenterId)
{
    for (const char *target :
         {"/CenterVendor.asp?centers=1", "/CenterVendor.asp?CENTERS=1&count=1"}) {
        const auto res = get(target);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << target;
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/xml; charset=utf-8");
        EXPECT_EQ(answerRecords(res->body, 0),
                  (Records{{"12", "Buffalo", "2"}, {"13", "Toronto", "1"}}))
            << target;
    }
    const auto other = get("/CenterVendor.asp?centers=2");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);
}

TEST_F(ServerQuery, NamesAreEscapedInTheRawAnswer)
{
    const auto res = get("/CenterVendor.asp?active=1&centerID=12");
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("Baker &amp; Sons"), std::string::npos) << res->body;
    EXPECT_NE(res->body.find("&lt;Tool&gt;"), std::string::npos) << res->body;
    EXPECT_EQ(res->body.find("<Tool>"), std::string::npos);
}

struct StoredTextCase
{
    const char *name;
    std::string storedName;
    std::string storedDate;
    std::string shownName;
    std::string shownDate;
    bool sqliteOnly; // PostgreSQL refuses such text, or a date that is none, when stored
};

void PrintTo(const StoredTextCase &c, std::ostream *os)
{
    *os << c.name;
}

class StoredText : public ServerTest, public ::testing::WithParamInterface<StoredTextCase>
{
};

TEST_P(StoredText, IsWrittenAsWellFormedXmlInEveryAnswer)
{
    const StoredTextCase &c = GetParam();
    if (c.sqliteOnly && m_db->engine() != Engine::Sqlite) {
        GTEST_SKIP() << "this engine never holds such text";
    }
    m_db->addVendor({20, c.storedName, 1, true, c.storedDate});
    m_db->addAssignment({13, 20, 0.1, false, "2024-01-01 00:00:00"});
    const auto active = get("/CenterVendor.asp?active=1&centerID=12");
    ASSERT_TRUE(active);
    EXPECT_EQ(answerRecords(active->body, 1).back(),
              (std::vector<std::string>{"20", c.shownName, "1", "<none>", "<none>", c.shownDate}));
    const auto selected = get("/CenterVendor.asp?selected=1&centerID=13");
    ASSERT_TRUE(selected);
    EXPECT_EQ(answerRecords(selected->body, 2).back(),
              (std::vector<std::string>{"20", c.shownName, "0.1", "0"}));
}

const std::string kFffd = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Texts, StoredText,
    ::testing::Values(StoredTextCase{"Latin1Byte", "Caf\xE9", "2021-03-04 10:00:00", "Caf" + kFffd,
                                     "03/04/2021", true},
                      StoredTextCase{"Surrogate",
                                     "A\xED\xA0\x80"
                                     "B",
                                     "2021-03-04 10:00:00", "A" + kFffd + "B", "03/04/2021", true},
                      StoredTextCase{"NonCharacterAndControlCharacter",
                                     "A\xEF\xBF\xBE\x01"
                                     "B",
                                     "2021-03-04 10:00:00", "A" + kFffd + "B", "03/04/2021", false},
                      StoredTextCase{"ControlCharacterInADateThatIsNone", "Plain", "2021\x01 soon",
                                     "Plain", "2021 soon", true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServerQuery, AnInactiveVendorStaysSelectedButNeverAppearsAsActive)
{
    m_db->addAssignment({13, 6, 0.1, false, "2024-01-01 00:00:00"});
    const auto selected = get("/CenterVendor.asp?selected=1&centerID=13");
    ASSERT_TRUE(selected);
    EXPECT_EQ(answerRecords(selected->body, 2),
              (Records{{"4", "Baker & Sons", "0.125", "0"}, {"6", "Dormant Supply", "0.1", "0"}}));
    const auto count = get("/CenterVendor.asp?count=1&centerID=13");
    ASSERT_TRUE(count);
    EXPECT_EQ(answerRecords(count->body, 0), (Records{{"1", "5", "2"}}));
    const auto active = get("/CenterVendor.asp?active=1&centerID=13");
    ASSERT_TRUE(active);
    for (const auto &record : answerRecords(active->body, 1)) {
        EXPECT_NE(record.at(0), "6");
    }
}

TEST_F(ServerQuery, CenterWithoutAssignmentsAnswersEmptySelectedSection)
{
    m_db->addCenter({14, "Empty", 3});
    const auto res = get("/CenterVendor.asp?selected=1&centerID=14");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_TRUE(answerRecords(res->body, 2).empty());
    const auto active = get("/CenterVendor.asp?active=1&centerID=14");
    ASSERT_TRUE(active);
    EXPECT_EQ(answerRecords(active->body, 1).size(), 6u);
}

TEST_F(ServerQuery, AnswersAreNeverCompressedEvenWhenTheClientOffersIt)
{
    httplib::Client cli = client();
    for (const char *target : {"/CenterVendor.asp?active=1&centerID=12",
                               "/CenterVendor.asp?count=1&centerID=99", "/nothing"}) {
        const auto res = cli.Get(target, {{"Accept-Encoding", "br, gzip, deflate"}});
        ASSERT_TRUE(res) << target;
        EXPECT_FALSE(res->has_header("Content-Encoding")) << target;
        EXPECT_FALSE(res->body.empty()) << target;
        EXPECT_EQ(res->body.find('\0'), std::string::npos) << target;
    }
    const auto posted = cli.Post("/CenterVendor.asp", {{"Accept-Encoding", "br, gzip"}},
                                 "SQL=nonsense&", "application/x-www-form-urlencoded");
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 400);
    EXPECT_FALSE(posted->has_header("Content-Encoding"));
    EXPECT_EQ(posted->body.rfind("Nothing was saved", 0), 0u) << posted->body;
}

struct NotFoundCase
{
    const char *name;
    const char *method;
    std::string target;
    const char *text; // a part of the answer text
};

void PrintTo(const NotFoundCase &c, std::ostream *os)
{
    *os << c.name;
}

class ServerNotFound : public ServerTest, public ::testing::WithParamInterface<NotFoundCase>
{
};

TEST_P(ServerNotFound, AnswersAShortText)
{
    const NotFoundCase &c = GetParam();
    httplib::Client cli = client();
    const auto res = std::string(c.method) == "GET"   ? cli.Get(c.target)
                     : std::string(c.method) == "PUT" ? cli.Put(c.target, "x", "text/plain")
                                                      : cli.Delete(c.target);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_NE(res->body.find(c.text), std::string::npos) << res->body;
    EXPECT_LT(res->body.size(), 200u);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ServerNotFound,
    ::testing::Values(
        NotFoundCase{"UnknownCenterCount", "GET", "/CenterVendor.asp?count=1&centerID=99",
                     "Unknown center 99"},
        NotFoundCase{"UnknownCenterActive", "GET", "/CenterVendor.asp?active=1&centerID=99",
                     "Unknown center 99"},
        NotFoundCase{"UnknownCenterSelected", "GET", "/CenterVendor.asp?selected=1&centerID=-12",
                     "Unknown center -12"},
        NotFoundCase{"NoQuery", "GET", "/CenterVendor.asp", "Malformed query"},
        NotFoundCase{"NoCenter", "GET", "/CenterVendor.asp?count=1", "Malformed query"},
        NotFoundCase{"TextCenter", "GET", "/CenterVendor.asp?count=1&centerID=12%20OR%201=1",
                     "Malformed query"},
        NotFoundCase{"TwoKinds", "GET", "/CenterVendor.asp?count=1&active=1&centerID=12",
                     "Malformed query"},
        NotFoundCase{"Root", "GET", "/", "Not found"},
        NotFoundCase{"OtherPage", "GET", "/Default.asp?count=1&centerID=12", "Not found"},
        NotFoundCase{"PageInOtherCase", "GET", "/centervendor.asp?count=1&centerID=12",
                     "Not found"},
        NotFoundCase{"PathBehindThePage", "GET", "/CenterVendor.asp/x?count=1&centerID=12",
                     "Not found"},
        NotFoundCase{"Put", "PUT", "/CenterVendor.asp", "Not found"},
        NotFoundCase{"Delete", "DELETE", "/CenterVendor.asp", "Not found"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ServerQuery, EveryRequestIsLoggedOnOneLine)
{
    ASSERT_TRUE(get("/CenterVendor.asp?count=1&centerID=12"));
    ASSERT_TRUE(get("/elsewhere%0Aforged"));
    ASSERT_TRUE(post({"DELETE FROM VendorCenterCrossReference WHERE CenterID=12 AND VendorID "
                      "IN(3)"}));
    const std::vector<std::string> lines = waitForLogLines(3);
    ASSERT_EQ(lines.size(), 3u);
    // Each worker thread logs its own request, so the order of the lines may vary.
    for (const char *expected : {"GET /CenterVendor.asp center=12 statements=0 status=200 ",
                                 "GET /elsewhere%0Aforged center=- statements=0 status=404 ",
                                 "POST /CenterVendor.asp center=12 statements=1 status=200 "}) {
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [&](const std::string &line) { return line.rfind(expected, 0) == 0; }),
            1)
            << expected;
    }
    for (const std::string &line : lines) {
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_NE(line.find(" ms id="), std::string::npos) << line;
        EXPECT_NE(line.find(" from=127.0.0.1"), std::string::npos) << line;
    }
}

} // namespace
} // namespace tarvo::server::testing
