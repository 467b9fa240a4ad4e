#include "logic/ValueForms.h"

#include <charconv>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>

using namespace tarvo::logic;

namespace {

struct NumericCase
{
    const char *text;
    bool numeric;
    double leading; // leadingNumber of the text
};

class NumericForms : public testing::TestWithParam<NumericCase>
{
};

TEST_P(NumericForms, TestAndLeadingNumberAgree)
{
    const NumericCase &c = GetParam();
    EXPECT_EQ(isNumeric(c.text), c.numeric) << '"' << c.text << '"';
    EXPECT_DOUBLE_EQ(leadingNumber(c.text), c.leading) << '"' << c.text << '"';
    if (c.numeric) {
        EXPECT_DOUBLE_EQ(toNumber(c.text), c.leading) << '"' << c.text << '"';
    } else {
        EXPECT_THROW(toNumber(c.text), ValueError) << '"' << c.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumericForms,
    testing::Values(
        NumericCase{"0", true, 0}, NumericCase{"1", true, 1}, NumericCase{" 12 ", true, 12},
        NumericCase{"+5", true, 5}, NumericCase{"-5", true, -5}, NumericCase{"1.5", true, 1.5},
        NumericCase{".5", true, 0.5}, NumericCase{"5.", true, 5},
        NumericCase{"  -0.25  ", true, -0.25}, NumericCase{"007", true, 7},
        // Not numeric: nothing, marks, a second point, other blanks, exponents.
        NumericCase{"", false, 0}, NumericCase{"   ", false, 0}, NumericCase{".", false, 0},
        NumericCase{"+", false, 0}, NumericCase{"-", false, 0}, NumericCase{"1.2.3", false, 1.2},
        NumericCase{"1N", false, 1}, NumericCase{"1DU", false, 1}, NumericCase{"0U", false, 0},
        NumericCase{" 7.5x", false, 7.5}, NumericCase{"-2D", false, -2},
        NumericCase{".5N", false, 0.5}, NumericCase{"\t1", false, 0}, NumericCase{"1\t", false, 1},
        NumericCase{"1 2", false, 1}, NumericCase{"- 1", false, 0}, NumericCase{"1,5", false, 1},
        NumericCase{"++1", false, 0}, NumericCase{"1e3", false, 1}, NumericCase{"0x10", false, 0},
        NumericCase{"abc", false, 0}, NumericCase{"N", false, 0}));

TEST(NumericForms, ShortTextsReadAsTheNearestDoubleLikeLongOnes)
{
    // Texts of up to 15 characters are read without the general parser; they must give the
    // very double it gives (the nearest to the decimal), wherever the point stands.
    std::mt19937 random(2718);
    for (int round = 0; round < 20000; ++round) {
        const std::size_t length = 1 + random() % 16;
        std::string text;
        for (std::size_t i = 0; i < length; ++i) {
            text += static_cast<char>('0' + random() % 10);
        }
        if (random() % 4 != 0) {
            text[random() % length] = '.';
        }
        if (text == ".") {
            continue;
        }
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected, std::chars_format::fixed);
        EXPECT_EQ(toNumber(text), expected) << '"' << text << '"';
        EXPECT_EQ(toNumber("-" + text), -expected) << '"' << text << '"';
    }
}

TEST(NumericForms, DigitsBeyondTheDoubleRangeStillConvert)
{
    const std::string huge = "1" + std::string(400, '0');
    EXPECT_TRUE(isNumeric(huge));
    EXPECT_EQ(toNumber(huge), std::numeric_limits<double>::infinity());
    EXPECT_EQ(toNumber("-" + huge), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(toNumber("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(toNumber("0.1" + std::string(400, '0')), 0.1);
}

struct Int16Case
{
    double value;
    int expected; // 99999 for a range error
};

class ToInt16 : public testing::TestWithParam<Int16Case>
{
};

TEST_P(ToInt16, HalvesGoToTheEvenNeighbour)
{
    const Int16Case &c = GetParam();
    if (c.expected == 99999) {
        EXPECT_THROW(toInt16(c.value), RangeError) << c.value;
    } else {
        EXPECT_EQ(toInt16(c.value), c.expected) << c.value;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ToInt16,
    testing::Values(Int16Case{2.5, 2}, Int16Case{3.5, 4}, Int16Case{-2.5, -2}, Int16Case{-3.5, -4},
                    Int16Case{0.5, 0}, Int16Case{1.5, 2}, Int16Case{-0.5, 0}, Int16Case{2.4999, 2},
                    Int16Case{2.5000001, 3}, Int16Case{-2.6, -3}, Int16Case{32767, 32767},
                    Int16Case{32767.4, 32767}, Int16Case{32766.5, 32766}, Int16Case{32767.5, 99999},
                    Int16Case{32768, 99999}, Int16Case{-32768, -32768}, Int16Case{-32768.5, -32768},
                    Int16Case{-32768.6, 99999}, Int16Case{-32769, 99999}, Int16Case{1e300, 99999},
                    Int16Case{std::numeric_limits<double>::infinity(), 99999},
                    Int16Case{std::numeric_limits<double>::quiet_NaN(), 99999}));

TEST(ToInt16, TextIsConvertedStrictlyFirst)
{
    EXPECT_EQ(toInt16(std::string_view(" 2.5 ")), 2);
    EXPECT_EQ(toInt16(std::string_view("-7")), -7);
    EXPECT_THROW(toInt16(std::string_view("abc")), ValueError);
    EXPECT_THROW(toInt16(std::string_view("")), ValueError);
    EXPECT_THROW(toInt16(std::string_view("40000")), RangeError);
}

TEST(ToBoolean, WordsInAnyCaseOrNumbers)
{
    const struct
    {
        const char *text;
        bool value;
    } cases[] = {{"true", true},   {"TRUE", true},   {"True", true}, {" true ", true},
                 {"false", false}, {"FaLsE", false}, {"1", true},    {"0", false},
                 {"-1", true},     {"0.0", false},   {"2.5", true},  {" 0 ", false}};
    for (const auto &c : cases) {
        EXPECT_EQ(toBoolean(c.text), c.value) << '"' << c.text << '"';
    }
    for (const char *text : {"", " ", "yes", "tru", "truee", "1N", "on", "t"}) {
        EXPECT_THROW(toBoolean(text), ValueError) << '"' << text << '"';
    }
}

struct TextCase
{
    const char *input;
    const char *expected;
};

class FormatId0000 : public testing::TestWithParam<TextCase>
{
};

TEST_P(FormatId0000, PadsNumericIdsOnly)
{
    EXPECT_EQ(formatId0000(GetParam().input), GetParam().expected) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Ids, FormatId0000,
    testing::Values(TextCase{"7", "0007"}, TextCase{"12", "0012"}, TextCase{"123", "0123"},
                    TextCase{"9999", "9999"}, TextCase{"12345", "12345"}, TextCase{"0", "0000"},
                    TextCase{"-7", "-0007"}, TextCase{" 42 ", "0042"}, TextCase{"007", "0007"},
                    TextCase{"7.5", "0008"}, TextCase{"8.5", "0009"}, TextCase{"7.4", "0007"},
                    TextCase{"-7.5", "-0008"}, TextCase{"-0.4", "0000"}, TextCase{"abc", "abc"},
                    TextCase{"", ""}, TextCase{"A12", "A12"}, TextCase{"7D", "7D"},
                    TextCase{" 7 x", " 7 x"}, TextCase{"000123456", "123456"},
                    TextCase{"00000", "0000"}));

struct NumberCase
{
    double value;
    const char *expected;
};

class Format0_00 : public testing::TestWithParam<NumberCase>
{
};

TEST_P(Format0_00, TwoDecimalsFromTheExactDouble)
{
    EXPECT_EQ(format0_00(GetParam().value), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, Format0_00,
    testing::Values(NumberCase{8, "8.00"}, NumberCase{12.5, "12.50"}, NumberCase{0.5, "0.50"},
                    NumberCase{7, "7.00"}, NumberCase{-5, "-5.00"}, NumberCase{0, "0.00"},
                    NumberCase{-0.0, "0.00"}, NumberCase{-0.001, "0.00"},
                    NumberCase{-0.004999, "0.00"}, NumberCase{-0.005001, "-0.01"},
                    NumberCase{99.9, "99.90"}, NumberCase{0.08 * 100, "8.00"},
                    NumberCase{0.125 * 100, "12.50"}, NumberCase{0.5 * 100, "50.00"},
                    // Binary values just below a half round down.
                    NumberCase{1.005, "1.00"},
                    NumberCase{2.675, "2.67"}, // Exact ties go to the even neighbour.
                    NumberCase{0.125, "0.12"}, NumberCase{0.375, "0.38"},
                    NumberCase{1234567.891, "1234567.89"}));

class GeneralNumber : public testing::TestWithParam<NumberCase>
{
};

TEST_P(GeneralNumber, ShortestWithFifteenDigits)
{
    EXPECT_EQ(generalNumber(GetParam().value), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, GeneralNumber,
    testing::Values(NumberCase{5.00 / 100, "0.05"}, NumberCase{12.50 / 100, "0.125"},
                    NumberCase{2.50 / 100, "0.025"}, NumberCase{0, "0"}, NumberCase{-0.0, "0"},
                    NumberCase{1, "1"}, NumberCase{-2.5, "-2.5"}, NumberCase{0.1 + 0.2, "0.3"},
                    NumberCase{1.0 / 3, "0.333333333333333"}, NumberCase{0.0001, "0.0001"},
                    NumberCase{0.00001, "1E-05"}, NumberCase{0.000012345, "1.2345E-05"},
                    NumberCase{-0.00001, "-1E-05"}, NumberCase{1e-100, "1E-100"},
                    NumberCase{999999999999999, "999999999999999"}, NumberCase{1e15, "1E+15"},
                    NumberCase{123456789012345678.0, "1.23456789012346E+17"},
                    NumberCase{1e100, "1E+100"}, NumberCase{1234567.5, "1234567.5"}));

TEST(TrimBlanks, OnlyCode32IsABlank)
{
    EXPECT_EQ(trimBlanks("  a b  "), "a b");
    EXPECT_EQ(trimBlanks("\t a\n"), "\t a\n");
    EXPECT_EQ(trimBlanks("   "), "");
    EXPECT_EQ(trimBlanks(""), "");
    EXPECT_EQ(trimBlanks("x"), "x");
}

} // namespace
