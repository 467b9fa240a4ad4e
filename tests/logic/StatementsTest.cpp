#include "logic/Statements.h"

#include "logic/RowText.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace tarvo::logic;

namespace {

using Statements = std::vector<std::string>;

// Rows as the lists show them: each cell is read as the list reads its text, so these cases
// pin the statements to the cell texts byte for byte.
struct Sel
{
    std::string id, fee, column4;
};
struct Non
{
    std::string id, column4;
};

Statements build(std::int32_t center, const std::vector<Sel> &selected,
                 const std::vector<Non> &nonSelected)
{
    std::vector<SelectedRow> typedSelected;
    for (const Sel &row : selected) {
        typedSelected.push_back({row.id, feeFromText(row.fee), dutyMarkFromText(row.column4)});
    }
    std::vector<NonSelectedRow> typedNonSelected;
    for (const Non &row : nonSelected) {
        typedNonSelected.push_back({row.id, dutyMarkFromText(row.column4)});
    }
    return buildStatements(center, typedSelected, typedNonSelected);
}

const std::string kInsert12_7 =
    "INSERT INTO VendorCenterCrossReference "
    "(CenterID,VendorID,CenterHandlingFee,DutyBrokerageFee,RecordLastUpdated) "
    "VALUES (12,7,0.05,1,GETDATE() ) ";
const std::string kUpdate12_9 =
    "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.025, DutyBrokerageFee= 0, "
    "RecordLastUpdated = GETDATE() WHERE vendorID = 9 AND CenterID = 12";
const std::string kDelete12_3_4 =
    "DELETE FROM VENDORCENTERCROSSREFERENCE WHERE CENTERID=12 AND VENDORID IN(3,4)";

TEST(SaveBatch, WorkedExample)
{
    const std::vector<Sel> selected = {
        {"7", "5.00", "1N"}, {"8", "3.00", "1"}, {"9", "2.50", "0U"}};
    const std::vector<Non> nonSelected = {{"3", "1D"}, {"5", "0"}, {"4", "1DU"}};

    const Statements statements = build(12, selected, nonSelected);
    EXPECT_EQ(statements, (Statements{kInsert12_7, kUpdate12_9, kDelete12_3_4}));

    EXPECT_EQ(buildBody(statements),
              "SQL=INSERT+INTO+VendorCenterCrossReference+%28CenterID%2CVendorID%2C"
              "CenterHandlingFee%2CDutyBrokerageFee%2CRecordLastUpdated%29+VALUES+"
              "%2812%2C7%2C0.05%2C1%2CGETDATE%28%29+%29+"
              "&SQL=UPDATE+VendorCenterCrossReference+SET+CenterHandlingFee%3D+0.025%2C+"
              "DutyBrokerageFee%3D+0%2C+RecordLastUpdated+%3D+GETDATE%28%29+WHERE+vendorID+"
              "%3D+9+AND+CenterID+%3D+12"
              "&SQL=DELETE+FROM+VENDORCENTERCROSSREFERENCE+WHERE+CENTERID%3D12+AND+VENDORID+"
              "IN%283%2C4%29&");
}

TEST(SaveBatch, OnlyRemovalsGiveOneDeleteInListOrder)
{
    const Statements statements =
        build(-3, {{"8", "3.00", "1"}},
              {{"30", "1D"}, {"5", "0"}, {"4", "1DU"}, {"-6", ""}, {"007", " 0D "}});
    EXPECT_EQ(statements,
              (Statements{"DELETE FROM VENDORCENTERCROSSREFERENCE WHERE CENTERID=-3 AND "
                          "VENDORID IN(30,4,-6,007)"}));
}

TEST(SaveBatch, NothingMarkedGivesNoStatementAndNoBody)
{
    const Statements statements =
        build(12, {{"8", "3.00", "1"}, {"9", "", " 0 "}}, {{"5", "0"}, {"x", "1"}});
    EXPECT_TRUE(statements.empty());
    EXPECT_EQ(buildBody(statements), "");
    EXPECT_TRUE(build(12, {}, {}).empty());
}

// Column 4 of a selected row decides the statement by its last character as held.
TEST(SaveBatch, SelectedRowsWriteOnlyForNOrU)
{
    const struct
    {
        const char *column4;
        char kind; // 'I' insert, 'U' update, '-' nothing
    } cases[] = {{"1N", 'I'},  {"0N", 'I'}, {" 1N", 'I'}, {"1U", 'U'},  {"0U", 'U'},
                 {"1DU", 'U'}, {"N", 'I'},  {"1", '-'},   {" 1 ", '-'}, {"", '-'},
                 {"1D", '-'},  {"1X", '-'}, {"1n", '-'},  {"1N ", '-'}, {"1U ", '-'}};
    for (const auto &c : cases) {
        const Statements statements = build(12, {{"7", "5.00", c.column4}}, {});
        const std::string first = statements.empty() ? "" : statements.front();
        const char kind = statements.empty() ? '-' : first.front();
        EXPECT_EQ(kind, c.kind) << '"' << c.column4 << '"';
        EXPECT_LE(statements.size(), 1u);
    }
}

TEST(SaveBatch, FeeAndDutyValuesInGeneralNumberForm)
{
    const struct
    {
        const char *fee;
        const char *column4;
        const char *values; // center, vendor, fee, duty
    } cases[] = {{"5.00", "1N", "12,7,0.05,1"},       {"12.50", "1N", "12,7,0.125,1"},
                 {"0.00", "0N", "12,7,0,0"},          {" 7 ", "0N", "12,7,0.07,0"},
                 {"-5.00", "1N", "12,7,-0.05,1"},     {"0.001", "1N", "12,7,1E-05,1"},
                 {"99.90", " 1N", "12,7,0.999,1"},    {"8.00", "N", "12,7,0.08,0"},
                 {"33.33", "1.5N", "12,7,0.3333,1.5"}};
    for (const auto &c : cases) {
        const Statements statements = build(12, {{"7", c.fee, c.column4}}, {});
        ASSERT_EQ(statements.size(), 1u);
        EXPECT_EQ(statements[0], "INSERT INTO VendorCenterCrossReference "
                                 "(CenterID,VendorID,CenterHandlingFee,DutyBrokerageFee,"
                                 "RecordLastUpdated) VALUES (" +
                                     std::string(c.values) + ",GETDATE() ) ")
            << c.fee << ' ' << c.column4;
    }
}

TEST(SaveBatch, NonNumericFeeOfAMarkedRowFailsTheWholeBatch)
{
    for (const char *fee : {"", " ", "abc", "5,00", "5%", "1e2"}) {
        for (const char *column4 : {"1N", "0U"}) {
            EXPECT_THROW(build(12, {{"7", "5.00", "1N"}, {"9", fee, column4}}, {{"3", "1D"}}),
                         BatchError)
                << '"' << fee << "\" " << column4;
        }
    }
    const std::string hugeFee = "1" + std::string(400, '0');
    EXPECT_THROW(build(12, {{"7", hugeFee, "1N"}}, {}), BatchError);
    // An unmarked row's fee is never read.
    EXPECT_NO_THROW(build(12, {{"7", "abc", "1"}, {"8", "", "1D"}}, {}));
}

TEST(SaveBatch, VendorIdMustBeAWholeNumber)
{
    for (const char *id :
         {"7);DROP TABLE x;--", "", " 7", "7 ", "+7", "7.0", "-", "0x7", "7,8", "١"}) {
        EXPECT_THROW(build(12, {{id, "5.00", "1N"}}, {}), BatchError) << id;
        EXPECT_THROW(build(12, {{id, "5.00", "1U"}}, {}), BatchError) << id;
        EXPECT_THROW(build(12, {}, {{"3", "1D"}, {id, "1D"}}), BatchError) << id;
    }
    // Ids that no statement carries are not checked.
    EXPECT_NO_THROW(build(12, {{"x y", "5.00", "1"}}, {{"x y", "0"}}));
    EXPECT_NE(build(1, {{"-7", "5.00", "0N"}}, {})[0].find("VALUES (1,-7,0.05,0,"),
              std::string::npos);
}

TEST(SaveBatch, AtMost32767Statements)
{
    std::vector<Sel> selected(32766, Sel{"7", "5.00", "1N"});
    const std::vector<Non> removed = {{"3", "1D"}};
    EXPECT_EQ(build(12, selected, removed).size(), 32767u);

    selected.push_back({"8", "1.00", "0U"});
    EXPECT_EQ(build(12, selected, {}).size(), 32767u);
    EXPECT_THROW(build(12, selected, removed), BatchError);
    selected.push_back({"9", "1.00", "0N"});
    EXPECT_THROW(build(12, selected, {}), BatchError);
}

TEST(SaveBody, OneFieldPerStatementEachEndingInAmpersand)
{
    EXPECT_EQ(buildBody({}), "");
    EXPECT_EQ(buildBody({""}), "SQL=&");
    EXPECT_EQ(buildBody({"a b", "c=d"}), "SQL=a+b&SQL=c%3Dd&");
}

TEST(SaveBody, StatementsAreReadAsUtf8)
{
    const struct
    {
        const char *statement;
        const char *encoded;
    } cases[] = {{"\xC3\xA9", "%E9"},
                 {"\xE2\x82\xAC", "%80"},
                 {"\xE4\xB8\xAD", "%3F"},
                 {"\xF0\x9F\x98\x80", "%3F"},
                 {"a\xFF"
                  "b",
                  "a%3Fb"},
                 {"\xC3", "%3F"},
                 {"\xE2\x82", "%3F%3F"},
                 {"\xC0\xAF", "%3F%3F"},
                 {"\xED\xA0\x80", "%3F%3F%3F"}};
    for (const auto &c : cases) {
        EXPECT_EQ(buildBody({c.statement}), std::string("SQL=") + c.encoded + "&") << c.statement;
    }
}

} // namespace
