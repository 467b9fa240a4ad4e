#include "page/Answers.h"

#include "SampleData.h"
#include "ServerFixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <vector>

namespace tarvo::server {
namespace {

std::vector<std::vector<std::string>> records(const std::string &xml, int section)
{
    return testing::answerRecords(xml, section);
}

TEST(Answers, CountIsOneRecordOfThreeNumbersInSectionZero)
{
    const auto rows = records(page::countAnswer({2, 24000, 8767}), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"2", "24000", "8767"}));
}

TEST(Answers, ActiveRecordsHaveTwoEmptyFieldsBeforeTheDate)
{
    const auto rows = records(
        page::activeAnswer({{3, "Atlas", 1, "03/04/2021"}, {10, "Baker & Sons", 44, "12/31/2020"}}),
        1);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"3", "Atlas", "1", "<none>", "<none>", "03/04/2021"}));
    EXPECT_EQ(rows[1][1], "Baker & Sons");
}

TEST(Answers, SelectedRecordsCarryFractionAndDutyFlag)
{
    const auto rows = records(
        page::selectedAnswer({{8, "Murphy's Steel", 0.08, true}, {9, "Glass", 0.125, false}}), 2);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"8", "Murphy's Steel", "0.08", "1"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"9", "Glass", "0.125", "0"}));
}

TEST(Answers, EmptySectionsAreValidAnswers)
{
    EXPECT_TRUE(records(page::activeAnswer({}), 1).empty());
    EXPECT_TRUE(records(page::selectedAnswer({}), 2).empty());
}

TEST(Answers, MarkupInNamesIsEscapedAndReadsBackUnchanged)
{
    const std::string name = "<b>A & B</b> \"quoted\" 'apostrophe' ]]>";
    const std::string xml = page::selectedAnswer({{1, name, 0.05, false}});
    EXPECT_EQ(xml.find("<b>"), std::string::npos);
    EXPECT_EQ(records(xml, 2).at(0).at(1), name);
}

struct XmlTextCase
{
    const char *name;
    std::string stored;
    std::string written;
};

void PrintTo(const XmlTextCase &c, std::ostream *os)
{
    *os << c.name;
}

class XmlText : public ::testing::TestWithParam<XmlTextCase>
{
};

TEST_P(XmlText, MakesAnyStoredTextFitForXml)
{
    EXPECT_EQ(page::xmlText(GetParam().stored), GetParam().written);
}

const std::string kReplacement = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Texts, XmlText,
    ::testing::Values(
        XmlTextCase{"PlainTextStays", "Baker & Sons\t<1>\r\n", "Baker & Sons\t<1>\r\n"},
        XmlTextCase{"ValidUtf8Stays", "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x9A\x9A",
                    "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x9A\x9A"},
        XmlTextCase{"ControlCharactersAreDropped",
                    std::string("A\x01"
                                "B\x1F"
                                "C\0D",
                                7),
                    "ABCD"},
        XmlTextCase{"Latin1ByteIsReplaced", "Caf\xE9", "Caf" + kReplacement},
        XmlTextCase{"TruncatedSequenceIsReplaced", "A\xE2\x82", "A" + kReplacement},
        XmlTextCase{"LoneContinuationIsReplaced",
                    "\x80"
                    "A",
                    kReplacement + "A"},
        XmlTextCase{"OverlongFormIsReplaced", "\xC0\xAF", kReplacement},
        XmlTextCase{"SurrogateIsReplaced",
                    "a\xED\xA0\x80"
                    "b",
                    "a" + kReplacement + "b"},
        XmlTextCase{"NonCharacterIsReplaced", "\xEF\xBF\xBE|\xEF\xB7\x90|\xF4\x8F\xBF\xBF",
                    kReplacement + "|" + kReplacement + "|" + kReplacement},
        XmlTextCase{"BeyondUnicodeIsReplaced", "\xF4\x90\x80\x80", kReplacement}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Answers, DeclareUtf8AndStayOnOneLine)
{
    const std::string xml = page::countAnswer({1, 2, 3});
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << xml;
    EXPECT_EQ(xml.find('\n'), std::string::npos) << xml;
}

struct FractionCase
{
    double value;
    const char *text;
};

class FractionText : public ::testing::TestWithParam<FractionCase>
{
};

TEST_P(FractionText, IsShortestWithoutExponent)
{
    EXPECT_EQ(page::fractionText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, FractionText,
                         ::testing::Values(FractionCase{0.08, "0.08"}, FractionCase{0.125, "0.125"},
                                           FractionCase{0.0, "0"}, FractionCase{-0.0, "0"},
                                           FractionCase{1e-05, "0.00001"},
                                           FractionCase{-0.05, "-0.05"}, FractionCase{1.0, "1"},
                                           FractionCase{0.1 + 0.2, "0.30000000000000004"}));

struct DateCase
{
    const char *stored;
    const char *shown;
};

class UsDate : public ::testing::TestWithParam<DateCase>
{
};

TEST_P(UsDate, ShowsStoredDatesAsMonthDayYearAndKeepsOtherText)
{
    EXPECT_EQ(store::usDate(GetParam().stored), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Texts, UsDate,
                         ::testing::Values(DateCase{"2020-12-31 23:59:59", "12/31/2020"},
                                           DateCase{"2019-07-15", "07/15/2019"},
                                           DateCase{"2019-7-15", "2019-7-15"},
                                           DateCase{"15.07.2019", "15.07.2019"}, DateCase{"", ""}));

TEST(SampleData, IsTheSameOnEveryRun)
{
    const store::Records first = makeSampleData();
    const store::Records second = makeSampleData();
    ASSERT_EQ(first.vendors.size(), second.vendors.size());
    for (std::size_t i = 0; i < first.vendors.size(); ++i) {
        EXPECT_EQ(first.vendors[i].name, second.vendors[i].name);
        EXPECT_EQ(first.vendors[i].lastUpdated, second.vendors[i].lastUpdated);
    }
    ASSERT_EQ(first.assignments.size(), second.assignments.size());
    for (std::size_t i = 0; i < first.assignments.size(); ++i) {
        EXPECT_EQ(first.assignments[i].vendorId, second.assignments[i].vendorId);
        EXPECT_EQ(first.assignments[i].fee, second.assignments[i].fee);
    }
}

TEST(SampleData, CoversTheCasesTheControlTreatsDifferently)
{
    const store::Records data = makeSampleData();
    std::set<int> codes;
    for (const store::Center &center : data.centers) {
        codes.insert(center.code);
    }
    EXPECT_EQ(codes.size(), data.centers.size()) << "center codes must differ";
    EXPECT_TRUE(codes.count(2)) << "the default duty rule needs center code 2";

    EXPECT_GE(data.vendors.size(), 200u);
    std::set<std::string> names;
    for (const store::Vendor &vendor : data.vendors) {
        names.insert(vendor.name);
    }
    EXPECT_EQ(names.size(), data.vendors.size()) << "names must be unique";
    auto any = [&](auto predicate) {
        return std::any_of(data.vendors.begin(), data.vendors.end(), predicate);
    };
    EXPECT_TRUE(any([](const store::Vendor &v) { return v.name.find('&') != std::string::npos; }));
    EXPECT_TRUE(any([](const store::Vendor &v) { return v.name.find('\'') != std::string::npos; }));
    EXPECT_TRUE(any([](const store::Vendor &v) { return !v.active; }));
    EXPECT_TRUE(any([](const store::Vendor &v) { return v.countryId == 1; }));
    EXPECT_TRUE(any([](const store::Vendor &v) { return v.countryId != 1; }));

    std::set<double> fees;
    for (const store::Assignment &a : data.assignments) {
        fees.insert(a.fee);
    }
    EXPECT_TRUE(fees.count(0.05) && fees.count(0.08) && fees.count(0.125));
}

} // namespace
} // namespace tarvo::server
