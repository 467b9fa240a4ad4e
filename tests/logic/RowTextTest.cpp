#include "logic/RowText.h"

#include "logic/ValueForms.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace tarvo::logic;

namespace {

// A cell text read and written again is the same text, typed or not.
TEST(RowText, EveryCellReadsBackAsItWasWritten)
{
    const struct
    {
        Column column;
        const char *text;
        bool typed;
    } cases[] = {
        {Column::HandlingFee, "8.00", true},
        {Column::HandlingFee, "0.00", true},
        {Column::HandlingFee, "-5.00", true},
        {Column::HandlingFee, "12.50", true},
        {Column::HandlingFee, "9999999999999.99", true},
        {Column::HandlingFee, "99999999999999.99", false},
        {Column::HandlingFee, "-0.00", false},
        {Column::HandlingFee, "08.00", false},
        {Column::HandlingFee, "8.0", false},
        {Column::HandlingFee, "8", false},
        {Column::HandlingFee, " 8.00", false},
        {Column::HandlingFee, "abc", false},
        {Column::HandlingFee, "", false},
        {Column::DutyMark, "1", true},
        {Column::DutyMark, "0N", true},
        {Column::DutyMark, "1DU", true},
        {Column::DutyMark, "0D", true},
        {Column::DutyMark, "1U", true},
        {Column::DutyMark, "1 ", false},
        {Column::DutyMark, "2N", false},
        {Column::DutyMark, "1UD", false},
        {Column::DutyMark, "", false},
        {Column::IdKey, "0007", true},
        {Column::IdKey, "0000", true},
        {Column::IdKey, "12345", true},
        {Column::IdKey, "007", false},
        {Column::IdKey, "00123", false},
        {Column::IdKey, "-0007", false},
        {Column::IdKey, "abc", false},
        {Column::IdKey, "", false},
        {Column::Id, "007", false},
        {Column::Name, "Zoë", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("column ") + std::to_string(index(c.column)) + " \"" + c.text +
                     "\"");
        Row row;
        setCellText(row, c.column, c.text);
        CellBuffer buffer;
        EXPECT_EQ(cellText(row, c.column, buffer), c.text);
        const bool typed = row.fee.hundredths.has_value() || row.duty.duty.has_value() ||
                           row.key.number.has_value();
        EXPECT_EQ(typed, c.typed);
        EXPECT_EQ(row.fee.written() || row.duty.written() || row.key.written() || !row.id.empty() ||
                      !row.name.empty(),
                  std::string(c.text) != "");
    }
}

TEST(RowText, FeesOfPercentsRoundAsTheListsFormDoes)
{
    const std::pair<double, const char *> cases[] = {
        {8, "8.00"},        {12.5, "12.50"}, {0.125, "0.12"}, {-0.001, "0.00"},
        {99.999, "100.00"}, {-5, "-5.00"},   {1e20, nullptr},
    };
    for (const auto &[percent, text] : cases) {
        const Fee fee = feeFromPercent(percent);
        EXPECT_EQ(feeText(fee), text ? text : format0_00(percent)) << percent;
        EXPECT_EQ(fee.hundredths.has_value(), text != nullptr) << percent;
    }
}

TEST(RowText, StatementsWriteTypedFeesAsTheirTextsRead)
{
    for (const char *text : {"5.00", "12.50", "0.00", "-5.00", "0.01", "99.90", "33.33",
                             "1234567890123.45", "9999999999999.99"}) {
        const Fee fee = feeFromText(text);
        ASSERT_TRUE(fee.hundredths.has_value()) << text;
        EXPECT_EQ(feeFractionText(fee), generalNumber(toNumber(text) / 100.0)) << text;
        EXPECT_EQ(feeFractionText(feeFromText(std::string(" ") + text)), feeFractionText(fee));
    }
    EXPECT_THROW(feeFractionText(Fee{}), ValueError);
    EXPECT_EQ(dutyStatementText(dutyMarkFromText("1DU")), "1");
    EXPECT_EQ(dutyStatementText(dutyMarkFromText("0N")), "0");
    EXPECT_EQ(dutyStatementText(dutyMarkFromText("1.50N")), "1.5");
}

TEST(RowText, IdKeysArePaddedNumbersOrTheValueFormsText)
{
    const std::pair<const char *, const char *> cases[] = {
        {"7", "0007"},
        {"007", "0007"},
        {"123", "0123"},
        {"12345", "12345"},
        {"0", "0000"},
        {"-7", "-0007"},
        {"7.5", "0008"},
        {"abc", "abc"},
        {"", ""},
        {"0012345", "12345"},
        {"1234567890123456", "1234567890123456"},
        {"123456789012345", "123456789012345"},
        {"12a", "12a"},
        {"7 ", "0007"},
    };
    for (const auto &[id, key] : cases) {
        EXPECT_EQ(idKeyText(idKeyOf(id)), key) << id;
        EXPECT_EQ(idKeyText(idKeyOf(id)), formatId0000(id)) << id;
    }
}

// Keys order as their texts do: ids up to four digits numerically, longer ones by their text.
TEST(RowText, TypedKeysOrderAsTheirTexts)
{
    const std::vector<std::uint64_t> numbers = {0,
                                                7,
                                                10,
                                                99,
                                                100,
                                                999,
                                                1000,
                                                9999,
                                                10000,
                                                12345,
                                                99999,
                                                100000,
                                                123,
                                                1230,
                                                12300,
                                                123000,
                                                5,
                                                50000,
                                                1001,
                                                10009,
                                                32767,
                                                999'999'999'999'999,
                                                100'000'000'000'000,
                                                99'999'999'999'999};
    for (const std::uint64_t a : numbers) {
        for (const std::uint64_t b : numbers) {
            CellBuffer ba;
            CellBuffer bb;
            const int byText = idKeyText(a, ba).compare(idKeyText(b, bb));
            const int typed = compareIdKeys(a, b);
            EXPECT_EQ((typed > 0) - (typed < 0), (byText > 0) - (byText < 0)) << a << " " << b;
            const int ordered = (idKeyOrder(a) > idKeyOrder(b)) - (idKeyOrder(a) < idKeyOrder(b));
            EXPECT_EQ(ordered, (byText > 0) - (byText < 0)) << a << " " << b;
        }
    }
}

} // namespace
