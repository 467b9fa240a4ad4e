#include "page/StatementParser.h"

#include <gtest/gtest.h>
#include <string>

namespace tarvo::server {
namespace {

struct Accepted
{
    const char *name;
    std::string text;
    statement::Statement expected;
};

void PrintTo(const Accepted &c, std::ostream *os)
{
    *os << c.name;
}

class StatementParserAccepts : public ::testing::TestWithParam<Accepted>
{
};

TEST_P(StatementParserAccepts, YieldsTheBoundValues)
{
    const page::ParseResult result = page::StatementParser::parse(GetParam().text);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_TRUE(result.message.empty());
    EXPECT_EQ(result.statement, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, StatementParserAccepts,
    ::testing::Values(
        Accepted{"InsertAsTheControlWritesIt",
                 "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
                 "DutyBrokerageFee,RecordLastUpdated) VALUES (12,7,0.05,1,GETDATE() ) ",
                 statement::InsertAssignment{12, 7, 0.05, true}},
        Accepted{"UpdateAsTheControlWritesIt",
                 "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.025, "
                 "DutyBrokerageFee= 0, RecordLastUpdated = GETDATE() WHERE vendorID = 9 AND "
                 "CenterID = 12",
                 statement::UpdateAssignment{12, 9, 0.025, false}},
        Accepted{"DeleteAsTheControlWritesIt",
                 "DELETE FROM VENDORCENTERCROSSREFERENCE WHERE CENTERID=12 AND VENDORID IN(3,4)",
                 statement::DeleteAssignments{12, {3, 4}}},
        Accepted{"DeleteOfOneVendor",
                 "DELETE FROM VendorCenterCrossReference WHERE CenterID=1 AND VendorID IN(77)",
                 statement::DeleteAssignments{1, {77}}},
        Accepted{"KeywordsInLowerCaseAndExtraBlanks",
                 "  insert   into vendorcentercrossreference\t( centerid , vendorid , "
                 "centerhandlingfee , dutybrokeragefee , recordlastupdated )\r\nvalues ( 1 , 2 "
                 ", 0.08 , 0 , getdate ( ) )  ",
                 statement::InsertAssignment{1, 2, 0.08, false}},
        Accepted{"NoBlanksAtAll",
                 "UPDATE VendorCenterCrossReference SET CenterHandlingFee=0.1,DutyBrokerageFee=1,"
                 "RecordLastUpdated=GETDATE()WHERE VendorID=5 AND CenterID=6",
                 statement::UpdateAssignment{6, 5, 0.1, true}},
        Accepted{"UpdateConditionsSwapped",
                 "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0, DutyBrokerageFee= "
                 "0, RecordLastUpdated = GETDATE() WHERE CenterID = 3 AND vendorID = 4",
                 statement::UpdateAssignment{3, 4, 0.0, false}},
        Accepted{"DeleteConditionsSwapped",
                 "DELETE FROM VendorCenterCrossReference WHERE VendorID IN (5, 6) AND CenterID = 2",
                 statement::DeleteAssignments{2, {5, 6}}},
        Accepted{"NegativeCenterAndFee",
                 "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
                 "DutyBrokerageFee,RecordLastUpdated) VALUES (-12,7,-0.05,0,GETDATE() ) ",
                 statement::InsertAssignment{-12, 7, -0.05, false}},
        Accepted{"FeeInExponentForm",
                 "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
                 "DutyBrokerageFee,RecordLastUpdated) VALUES (1,2,1E-05,1,GETDATE() ) ",
                 statement::InsertAssignment{1, 2, 1e-05, true}},
        Accepted{"FeeWithoutLeadingDigit",
                 "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
                 "DutyBrokerageFee,RecordLastUpdated) VALUES (1,2,.5,1,GETDATE() ) ",
                 statement::InsertAssignment{1, 2, 0.5, true}},
        Accepted{"LargestIds",
                 "DELETE FROM VendorCenterCrossReference WHERE CenterID=9223372036854775807 AND "
                 "VendorID IN(-9223372036854775808)",
                 statement::DeleteAssignments{INT64_MAX, {INT64_MIN}}}),
    [](const auto &info) { return std::string(info.param.name); });

struct Refused
{
    const char *name;
    std::string text;
    std::string reason; // a part of the message
};

void PrintTo(const Refused &c, std::ostream *os)
{
    *os << c.name;
}

class StatementParserRefuses : public ::testing::TestWithParam<Refused>
{
};

TEST(StatementParser, QuotesAtMostTheStartOfALongToken)
{
    const page::ParseResult result = page::StatementParser::parse(
        "DELETE FROM VendorCenterCrossReference WHERE CenterID=" + std::string(100'000, '9') +
        " AND VendorID IN(1)");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("out of range"), std::string::npos) << result.message;
    EXPECT_LT(result.message.size(), 120u) << result.message;
}

TEST_P(StatementParserRefuses, WithAReason)
{
    const page::ParseResult result = page::StatementParser::parse(GetParam().text);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(GetParam().reason), std::string::npos) << result.message;
}

const std::string kInsertHead = "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,"
                                "CenterHandlingFee,DutyBrokerageFee,RecordLastUpdated) VALUES ";

INSTANTIATE_TEST_SUITE_P(
    OtherShapes, StatementParserRefuses,
    ::testing::Values(
        Refused{"Empty", "", "only INSERT, UPDATE and DELETE"},
        Refused{"Select", "SELECT * FROM Vendors", "only INSERT, UPDATE and DELETE"},
        Refused{"DropTable", "DROP TABLE VendorCenterCrossReference", "only INSERT"},
        Refused{"OtherTable", "DELETE FROM Vendors WHERE CenterID=1 AND VendorID IN(1)",
                "only the table VendorCenterCrossReference"},
        Refused{"QualifiedTable",
                "DELETE FROM dbo.VendorCenterCrossReference WHERE CenterID=1 AND VendorID IN(1)",
                "only the table"},
        Refused{"SecondStatement",
                "DELETE FROM VendorCenterCrossReference WHERE CenterID=1 AND VendorID IN(1); "
                "DROP TABLE Vendors",
                "semicolon"},
        Refused{"TrailingSemicolon",
                "DELETE FROM VendorCenterCrossReference WHERE CenterID=1 AND VendorID IN(1);",
                "semicolon"},
        Refused{"LineComment",
                "DELETE FROM VendorCenterCrossReference WHERE CenterID=1 -- AND VendorID IN(1)",
                "comments"},
        Refused{"BlockComment",
                "DELETE FROM VendorCenterCrossReference /* x */ WHERE CenterID=1 AND VendorID "
                "IN(1)",
                "comments"},
        Refused{"SubSelect",
                kInsertHead + "(1,(SELECT MAX(VendorID) FROM Vendors),0.05,1,"
                              "GETDATE())",
                "expected a number for VendorID"},
        Refused{"SubSelectInList",
                "DELETE FROM VendorCenterCrossReference WHERE CenterID=1 AND VendorID IN "
                "(SELECT VendorID FROM Vendors)",
                "expected a number for VendorID"},
        Refused{"QuotedText", kInsertHead + "(1,'7',0.05,1,GETDATE())", "quoted text"},
        Refused{"DoubleQuotedName",
                "DELETE FROM \"VendorCenterCrossReference\" WHERE CenterID=1 AND VendorID IN(1)",
                "quoted text"},
        Refused{"BracketedName",
                "DELETE FROM [VendorCenterCrossReference] WHERE CenterID=1 AND VendorID IN(1)",
                "quoted text"},
        Refused{"NonNumericId", kInsertHead + "(1,abc,0.05,1,GETDATE())",
                "expected a number for VendorID"},
        Refused{"FractionalId", kInsertHead + "(1,7.5,0.05,1,GETDATE())",
                "expected a whole number for VendorID"},
        Refused{"HexId", kInsertHead + "(1,0x10,0.05,1,GETDATE())", "expected a whole number"},
        Refused{"HugeId", kInsertHead + "(1,99999999999999999999,0.05,1,GETDATE())",
                "out of range"},
        Refused{"HugeFee", kInsertHead + "(1,7,1e999,1,GETDATE())", "out of range"},
        Refused{"MalformedExponent", kInsertHead + "(1,7,1e,1,GETDATE())",
                "expected a number for CenterHandlingFee"},
        Refused{"DutyOtherThanZeroOrOne", kInsertHead + "(1,7,0.05,2,GETDATE())",
                "DutyBrokerageFee must be 0 or 1"},
        Refused{"ExpressionAsValue", kInsertHead + "(1,7+1,0.05,1,GETDATE())", "'+'"},
        Refused{"OtherFunctionForTheDate", kInsertHead + "(1,7,0.05,1,CURRENT_TIMESTAMP)",
                "expected GETDATE"},
        Refused{"LiteralDate", kInsertHead + "(1,7,0.05,1,20240101)", "expected GETDATE"},
        Refused{"ColumnsInOtherOrder",
                "INSERT INTO VendorCenterCrossReference (VendorID,CenterID,CenterHandlingFee,"
                "DutyBrokerageFee,RecordLastUpdated) VALUES (1,7,0.05,1,GETDATE())",
                "expected CenterID"},
        Refused{"MissingValue", kInsertHead + "(1,7,0.05,GETDATE())",
                "expected a number for DutyBrokerageFee"},
        Refused{"TrailingText", kInsertHead + "(1,7,0.05,1,GETDATE()) OR 1=1",
                "after the end of the statement"},
        Refused{"UpdateWithoutCenter",
                "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.1, DutyBrokerageFee= "
                "0, RecordLastUpdated = GETDATE() WHERE vendorID = 9",
                "expected AND"},
        Refused{"UpdateWithOrCondition",
                "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.1, DutyBrokerageFee= "
                "0, RecordLastUpdated = GETDATE() WHERE vendorID = 9 OR CenterID = 12",
                "expected AND"},
        Refused{"UpdateSameConditionTwice",
                "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.1, DutyBrokerageFee= "
                "0, RecordLastUpdated = GETDATE() WHERE vendorID = 9 AND vendorID = 12",
                "expected CenterID"},
        Refused{"DeleteWithoutCenter",
                "DELETE FROM VendorCenterCrossReference WHERE VendorID IN(3,4)", "expected AND"},
        Refused{"DeleteOfEveryRow", "DELETE FROM VendorCenterCrossReference", "expected WHERE"},
        Refused{"DeleteWithEmptyList",
                "DELETE FROM VendorCenterCrossReference WHERE CenterID=1 AND VendorID IN()",
                "expected a number for VendorID"},
        Refused{"NonAsciiByte",
                "DELETE FROM VendorCenterCrossReference WHERE CenterID=1 AND "
                "VendorID IN(1\xA0)",
                "0xA0"},
        Refused{"NulByte",
                std::string("DELETE FROM VendorCenterCrossReference WHERE CenterID=1") +
                    std::string(1, '\0') + " AND VendorID IN(1)",
                "0x00"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace tarvo::server
