// Hostile statements posted straight to the server: every one refused with 400, nothing of
// the batch applied, and the database as it was, tables included.
#include "ServerFixture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarvo::server::testing {
namespace {

struct HostileCase
{
    const char *name;
    std::string statement;
};

void PrintTo(const HostileCase &c, std::ostream *os)
{
    *os << c.name;
}

class ServerRefusesHostileStatement : public ServerTest,
                                      public ::testing::WithParamInterface<HostileCase>
{
protected:
    void expectRefused(const std::vector<std::string> &statements, std::size_t hostileNumber)
    {
        const Snapshot before = snapshot(*m_db);
        const auto res = post(statements);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400);
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
        EXPECT_NE(res->body.find("Nothing was saved: statement " + std::to_string(hostileNumber) +
                                 " was refused: "),
                  std::string::npos)
            << res->body;
        EXPECT_EQ(snapshot(*m_db), before);
    }
};

TEST_P(ServerRefusesHostileStatement, Alone)
{
    expectRefused({GetParam().statement}, 1);
}

TEST_P(ServerRefusesHostileStatement, AsTheLastOfAnOtherwiseValidBatch)
{
    expectRefused({insertSql(12, 7, "0.05", 1), updateSql(12, 9, "0.1", 1), deleteSql(12, {3}),
                   GetParam().statement},
                  4);
}

const std::string kInsertHead =
    "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
    "DutyBrokerageFee,RecordLastUpdated) VALUES ";

INSTANTIATE_TEST_SUITE_P(
    Statements, ServerRefusesHostileStatement,
    ::testing::Values(
        HostileCase{"DropTable", "DROP TABLE VendorCenterCrossReference"},
        HostileCase{"DeleteFromAnotherTable",
                    "DELETE FROM Vendors WHERE CenterID=12 AND VendorID IN(3)"},
        HostileCase{"UpdateOfAnotherTable",
                    "UPDATE Vendors SET CenterHandlingFee= 0, DutyBrokerageFee= 0, "
                    "RecordLastUpdated = GETDATE() WHERE vendorID = 9 AND CenterID = 12"},
        HostileCase{"InsertIntoAnotherTable",
                    "INSERT INTO Centers (CenterID,VendorID,CenterHandlingFee,DutyBrokerageFee,"
                    "RecordLastUpdated) VALUES (99,1,0,0,GETDATE())"},
        HostileCase{"SecondStatementAfterSemicolon", deleteSql(12, {3}) + "; DROP TABLE Vendors"},
        HostileCase{"InsertFollowedByAnotherInsert",
                    kInsertHead + "(12,7,0.05,1,GETDATE()); INSERT INTO Vendors VALUES "
                                  "(1000,'x',1,1,'')"},
        HostileCase{"CommentCuttingTheCondition",
                    "DELETE FROM VendorCenterCrossReference WHERE CenterID=12 -- AND VendorID "
                    "IN(3)"},
        HostileCase{"BlockComment",
                    "DELETE FROM VendorCenterCrossReference WHERE CenterID=12 /* AND VendorID "
                    "IN(3) */"},
        HostileCase{"SubSelectInTheIdList",
                    "DELETE FROM VendorCenterCrossReference WHERE CenterID=12 AND VendorID IN "
                    "(SELECT VendorID FROM Vendors)"},
        HostileCase{"SubSelectAsValue",
                    kInsertHead + "(12,(SELECT MAX(VendorID) FROM Vendors),0.05,1,GETDATE())"},
        HostileCase{"QuotedText", kInsertHead + "(12,'7',0.05,1,GETDATE())"},
        HostileCase{"QuoteBreakout",
                    "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.1, "
                    "DutyBrokerageFee= 0, RecordLastUpdated = GETDATE() WHERE vendorID = 9' OR "
                    "'1'='1 AND CenterID = 12"},
        HostileCase{"NonNumericValue", kInsertHead + "(12,seven,0.05,1,GETDATE())"},
        HostileCase{"ColumnNameAsValue", kInsertHead + "(12,VendorID,0.05,1,GETDATE())"},
        HostileCase{"HugeId", kInsertHead + "(12,99999999999999999999999,0.05,1,GETDATE())"},
        HostileCase{"HugeFee", updateSql(12, 9, "1" + std::string(400, '0'), 0)},
        HostileCase{"Tautology",
                    "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0, "
                    "DutyBrokerageFee= 0, RecordLastUpdated = GETDATE() WHERE vendorID = 9 OR "
                    "1=1"},
        HostileCase{"DeleteWithoutCondition", "DELETE FROM VendorCenterCrossReference"},
        HostileCase{"Attach", "ATTACH DATABASE 'other.db' AS other"},
        HostileCase{"Pragma", "PRAGMA foreign_keys = OFF"},
        HostileCase{"NulByteBeforeSecondStatement",
                    deleteSql(12, {3}) + std::string(1, '\0') + "; DROP TABLE Vendors"},
        HostileCase{"LineBreakBeforeSecondStatement", deleteSql(12, {3}) + "\nDROP TABLE Vendors"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace tarvo::server::testing
