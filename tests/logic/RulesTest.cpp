#include "logic/Rules.h"

#include "logic/RowText.h"
#include "logic/ValueForms.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace tarvo::logic;

namespace {

TEST(DefaultFee, IsEightPercentInTheListsForm)
{
    EXPECT_EQ(defaultFee(), (Fee{800, {}}));
    EXPECT_EQ(feeText(defaultFee()), "8.00");
}

struct DutyCase
{
    const char *countryId;
    std::int16_t centerCode;
    std::optional<bool> applies; // nothing: the country id is refused
};

TEST(DutyRule, AppliesToCountryOneAtCentersOfCodeTwoOnly)
{
    const DutyCase cases[] = {
        {"1", 2, true},
        {" 1.0 ", 2, true},
        {"1", 1, false},
        {"1", 0, false},
        {"2", 2, false},
        {"0", 2, false},
        {"-1", 2, false},
        {"1.5", 2, false},
        {"01", 2, true},
        {"0000000000000000000001", 2, true},
        {"10", 2, false},
        {"11", 2, false},
        {"000", 2, false},
        {"100000000000000000001", 2, false},
        {"", 2, std::nullopt},
        {"US", 2, std::nullopt},
        // The country id is read even where the center's code alone decides.
        {"US", 1, std::nullopt},
    };
    for (const DutyCase &c : cases) {
        SCOPED_TRACE(std::string("country \"") + c.countryId + "\" center code " +
                     std::to_string(c.centerCode));
        if (c.applies) {
            EXPECT_EQ(dutyApplies(c.countryId, c.centerCode), *c.applies);
        } else {
            EXPECT_THROW(dutyApplies(c.countryId, c.centerCode), ValueError);
        }
    }
}

TEST(DutyRule, ShowsTheBoxTickedForADutyOfOneWhateverIsPending)
{
    const std::pair<const char *, bool> cases[] = {
        {"1", true},   {"1N", true}, {"1DU", true}, {" 1U", true}, {"1.0", true}, {"0", false},
        {"0N", false}, {"", false},  {"N", false},  {"10", false}, {"-1", false},
    };
    for (const auto &[column, shown] : cases) {
        EXPECT_EQ(dutyShown(dutyMarkFromText(column)), shown) << '"' << column << '"';
    }
    for (const bool duty : {false, true}) {
        EXPECT_EQ(dutyShown(loadedDuty(duty)), duty);
        EXPECT_EQ(dutyMarkText(loadedDuty(duty)), duty ? "1" : "0");
    }
}

TEST(LoadedFee, IsWrittenInPercentWithTwoDecimals)
{
    const std::pair<const char *, const char *> cases[] = {
        {"0.08", "8.00"}, {"0", "0.00"},      {"0.125", "12.50"},
        {"1", "100.00"},  {"-0.05", "-5.00"}, {" 0.5 ", "50.00"},
    };
    for (const auto &[fraction, percent] : cases) {
        const Fee fee = feeFromFraction(fraction);
        EXPECT_TRUE(fee.hundredths.has_value()) << fraction;
        EXPECT_EQ(feeText(fee), percent) << fraction;
    }
    EXPECT_THROW(feeFromFraction("8%"), ValueError);
    EXPECT_THROW(feeFromFraction(""), ValueError);
    // Too large for hundredths: the text the list always showed, kept as text.
    const Fee huge = feeFromFraction("1" + std::string(30, '0'));
    EXPECT_FALSE(huge.hundredths.has_value());
    EXPECT_EQ(feeText(huge), format0_00(1e32));
}

// Plain decimals are read on a shorter path; every form must give exactly what reading the number
// and writing its percent gives.
TEST(LoadedFee, PlainDecimalsGiveTheFeeOfTheGeneralReading)
{
    std::vector<std::string> fractions = {"0.08",
                                          "0.1234",
                                          "0",
                                          "0.0",
                                          ".5",
                                          "5.",
                                          "0.0001",
                                          "0.9999",
                                          "1",
                                          "00.0800",
                                          "0.12345",
                                          "0.00005",
                                          "0.00015",
                                          "123456789.1234",
                                          "9999999999.9999",
                                          "10000000000",
                                          "99999999999",
                                          "1e-2",
                                          "-0.05",
                                          " 0.5",
                                          "0.5 ",
                                          "1.2.3",
                                          "12345678901234567",
                                          "0.333333333333333"};
    for (int i = 0; i <= 20000; i += 7) {
        char text[16];
        std::snprintf(text, sizeof text, "0.%04d", i % 10000);
        fractions.emplace_back(text);
        std::snprintf(text, sizeof text, "%d.%d", i / 10000, i % 10000);
        fractions.emplace_back(text);
    }
    for (const auto &fraction : fractions) {
        SCOPED_TRACE(fraction);
        if (!isNumeric(fraction)) {
            EXPECT_THROW(feeFromFraction(fraction), ValueError);
            continue;
        }
        const Fee fee = feeFromFraction(fraction);
        const Fee general = feeFromPercent(toNumber(fraction) * 100);
        EXPECT_EQ(fee, general);
        EXPECT_EQ(feeText(fee), feeText(general));
    }
}

} // namespace
