// The protocol's own forms: fee scale, tag form, query texts and the history reader's refusals.
#include "protocol/Wire.h"

#include "protocol/Fee.h"
#include "protocol/History.h"

#include <gtest/gtest.h>

namespace tarvo::protocol {
namespace {

TEST(FeeScale, FractionTextsReadAsExactHundredthsAndPrintAsPercent)
{
    struct Case
    {
        std::string_view fraction;
        std::optional<std::int64_t> hundredths;
        const char *percent; // of the same fraction read as a double
    };
    for (const Case &c :
         {Case{"0.08", 800, "8.00"}, Case{"0.125", 1250, "12.50"}, Case{"0", 0, "0.00"},
          Case{"1", 10000, "100.00"}, Case{"0.0001", 1, "0.01"}, Case{".5", 5000, "50.00"},
          Case{"0.00001", std::nullopt, "0.00"}, // a fifth place
          Case{"-0.08", std::nullopt, "-8.00"},  // no sign on the plain path
          Case{"1e-2", std::nullopt, "1.00"}}) {
        EXPECT_EQ(hundredthsOfFractionText(c.fraction), c.hundredths) << c.fraction;
        EXPECT_EQ(percentText(std::stod(std::string(c.fraction))), c.percent) << c.fraction;
        if (c.hundredths) {
            EXPECT_EQ(percentText(*c.hundredths), c.percent) << c.fraction;
            EXPECT_EQ(fractionOfHundredths(*c.hundredths), std::stod(std::string(c.fraction)));
        }
    }
    EXPECT_EQ(hundredthsOfFractionText("."), std::nullopt);
    EXPECT_EQ(hundredthsOfFractionText("10000000000"), std::nullopt) << "a percent of 1e12";
    EXPECT_EQ(hundredthsOfFraction(-0.0805), -805);
    EXPECT_EQ(hundredthsOfFraction(1e300), std::nullopt);
    EXPECT_EQ(percentText(std::int64_t{-5}), "-0.05");
}

TEST(TagForm, ReadsBackOnlyWhatItWrites)
{
    EXPECT_EQ(entityTag(12, 1733580000000000), "\"c12-v1733580000000000\"");
    EXPECT_EQ(versionOfTag(entityTag(-3, 7), -3), 7);
    for (const char *tag : {"\"c12-v7\"", "W/\"c12-v7\"", "\"c012-v7\"", "\"c12-v07\"", "\"c12v7\"",
                            "\"c12-v-7\"", "c12-v7", "\"c12-v\""}) {
        EXPECT_EQ(versionOfTag(tag, tag == std::string_view("\"c12-v7\"") ? 13 : 12), std::nullopt)
            << tag;
    }
}

TEST(QueryTexts, NameTheQueryAndTheCenter)
{
    EXPECT_EQ(queryText(Query::Count, 42), "count=1&centerID=42");
    EXPECT_EQ(queryText(Query::Active, -1), "active=1&centerID=-1");
    EXPECT_EQ(queryText(Query::Selected, 0), "selected=1&centerID=0");
    EXPECT_EQ(historyQueryText(3, 50), "history=1&centerID=3&limit=50");
    EXPECT_EQ(centersQueryText(), "centers=1");
}

TEST(HistoryReader, RefusesWhatNoServerWrites)
{
    const auto change = [](const std::string &fields) {
        return "<CenterVendor><History><Change>" + fields + "</Change></History></CenterVendor>";
    };
    struct Case
    {
        std::string xml;
        HistoryError error;
    };
    for (const Case &c : {
             Case{"", HistoryError::NotXml},
             Case{"<CenterVendor><History>", HistoryError::NotXml},
             Case{"<History><Change/></History>", HistoryError::NoHistory},
             Case{"<CenterVendor><Count/></CenterVendor>", HistoryError::NoHistory},
             Case{"<centervendor><History/></centervendor>", HistoryError::NoHistory},
             Case{change("<Action>add</Action>"), HistoryError::BadRecord},
             Case{change("<VendorID></VendorID><Action>add</Action>"), HistoryError::BadRecord},
             Case{change("<VendorID>5</VendorID><Action>Add</Action>"), HistoryError::BadRecord},
             Case{change("<vendorid>5</vendorid><Action>add</Action>"), HistoryError::BadRecord},
             Case{"<CenterVendor><History/></CenterVendor>", HistoryError::None},
         }) {
        const HistoryReading reading = readHistory(c.xml);
        EXPECT_EQ(reading.error, c.error) << c.xml;
        EXPECT_EQ(reading.detail.empty(), c.error == HistoryError::None) << c.xml;
        EXPECT_TRUE(reading.records.empty()) << c.xml;
    }
    // Former spellings of fields are no fields: the record keeps no user and no fee.
    const HistoryReading old = readHistory(change(
        "<VendorID>5</VendorID><Action>update</Action><UserName>amy</UserName><HandlingFee>0.1"
        "</HandlingFee><Fee>x</Fee>"));
    ASSERT_TRUE(old.ok()) << old.detail;
    EXPECT_EQ(old.records[0].user, "");
    EXPECT_EQ(old.records[0].after, (HistoryValue{std::nullopt, false}));
}

} // namespace
} // namespace tarvo::protocol
