// The two ends of the wire against each other: what the control writes the server's parser reads
// as the same change, and what the server answers the history reader reads as the same records.
#include "page/Answers.h"
#include "page/Protocol.h"
#include "page/StatementParser.h"
#include "protocol/History.h"
#include "protocol/Statements.h"
#include "protocol/Wire.h"

#include <gtest/gtest.h>

namespace tarvo::protocol {
namespace {

using server::page::StatementParser;
using server::statement::DeleteAssignments;
using server::statement::InsertAssignment;
using server::statement::UpdateAssignment;

TEST(StatementShapes, WrittenByteForByteAndParsedBackAsTheSameChange)
{
    struct Case
    {
        std::string text;
        const char *bytes;
        server::statement::Statement change;
    };
    using namespace statement;
    for (const Case &c : {
             Case{insertText("12", "7", "0.05", "1"),
                  "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
                  "DutyBrokerageFee,RecordLastUpdated) VALUES (12,7,0.05,1,GETDATE() ) ",
                  tarvo::server::statement::InsertAssignment{12, 7, 0.05, true}},
             Case{updateText("12", "9", "0.025", "0"),
                  "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.025, "
                  "DutyBrokerageFee= 0, RecordLastUpdated = GETDATE() WHERE vendorID = 9 AND "
                  "CenterID = 12",
                  tarvo::server::statement::UpdateAssignment{12, 9, 0.025, false}},
             Case{deleteText("12", "3,4"),
                  "DELETE FROM VENDORCENTERCROSSREFERENCE WHERE CENTERID=12 AND VENDORID IN(3,4)",
                  tarvo::server::statement::DeleteAssignments{12, {3, 4}}},
             Case{insertText("-1", "9223372036854775807", "1E-05", "0"), nullptr,
                  tarvo::server::statement::InsertAssignment{-1, INT64_MAX, 0.00001, false}},
             Case{updateText("0", "-5", "0", "1"), nullptr,
                  tarvo::server::statement::UpdateAssignment{0, -5, 0.0, true}},
             Case{deleteText("7", "1"), nullptr,
                  tarvo::server::statement::DeleteAssignments{7, {1}}},
         }) {
        if (c.bytes != nullptr) {
            EXPECT_EQ(c.text, c.bytes);
        }
        const server::page::ParseResult parsed =
            tarvo::server::page::StatementParser::parse(c.text);
        ASSERT_TRUE(parsed.ok) << c.text << ": " << parsed.message;
        EXPECT_EQ(parsed.statement, c.change) << c.text;
    }
}

TEST(QueryNames, TheServerReadsEveryQueryTheClientsWrite)
{
    struct Case
    {
        std::string query;
        server::page::Section section;
        std::size_t limit;
    };
    for (const Case &c : {Case{queryText(Query::Count, 4), server::page::Section::Count, 50},
                          Case{queryText(Query::Active, 4), server::page::Section::Active, 50},
                          Case{queryText(Query::Selected, 4), server::page::Section::Selected, 50},
                          Case{historyQueryText(4, 7), server::page::Section::History, 7}}) {
        std::vector<std::pair<std::string, std::string>> params;
        ASSERT_TRUE(server::page::parseQueryString(c.query, params));
        const server::page::QueryParse parsed = server::page::parseQuery(params);
        ASSERT_TRUE(parsed.ok) << c.query << ": " << parsed.message;
        EXPECT_EQ(parsed.request.section, c.section);
        EXPECT_EQ(parsed.request.centerId, 4);
        EXPECT_EQ(parsed.request.limit, c.limit);
    }
    std::vector<std::pair<std::string, std::string>> params;
    ASSERT_TRUE(server::page::parseQueryString(centersQueryText(), params));
    EXPECT_TRUE(server::page::asksForCenters(params));
}

TEST(HistoryReader, ReadsTheServersAnswerWithBeforeAndTheCommitOfEachChange)
{
    // Newest first, as the server answers: 26 added, changed, removed; 36 changed with no
    // older row in the answer; one change older than versions.
    const std::vector<server::store::AssignmentChange> changes = {
        {26, "Zulu", "2026-12-07 09:13:00", "carol", "remove", 0.11, true, 40},
        {36, "", "2026-12-07 09:12:00", "", "update", 0.07, false, 30},
        {26, "Zulu", "2026-12-07 09:11:00", "bob", "update", 0.11, true, 20},
        {26, "Zulu & <Co>", "2026-12-07 09:10:00", "amy", "add", 0.125, false, 0},
    };
    const HistoryReading reading = readHistory(server::page::historyAnswer(3, changes));
    ASSERT_TRUE(reading.ok()) << reading.detail;
    const HistoryValue added{1250, false};
    const HistoryValue changed{1100, true};
    const std::vector<HistoryRecord> expected = {
        {"2026-12-07 09:13:00", "carol", HistoryAction::Remove, "26", "Zulu", std::nullopt, changed,
         true, entityTag(3, 40)},
        {"2026-12-07 09:12:00", "", HistoryAction::Update, "36", "", HistoryValue{700, false},
         std::nullopt, false, entityTag(3, 30)},
        {"2026-12-07 09:11:00", "bob", HistoryAction::Update, "26", "Zulu", changed, added, true,
         entityTag(3, 20)},
        {"2026-12-07 09:10:00", "amy", HistoryAction::Add, "26", "Zulu & <Co>", added, std::nullopt,
         true, ""},
    };
    EXPECT_EQ(reading.records, expected);
    EXPECT_TRUE(readHistory(server::page::historyAnswer(3, {})).ok());
}

} // namespace
} // namespace tarvo::protocol
