#include "logic/UrlEncode.h"

#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <string>

using namespace tarvo::logic;

namespace {

struct EncodeCase
{
    std::u16string input;
    std::string expected;
};

// Code units in hex, so a failing case names its input readably.
void printUnits(const std::u16string &text, std::ostream *os)
{
    *os << "u\"";
    for (const char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F) {
            *os << static_cast<char>(unit);
        } else {
            *os << "\\x{" << std::hex << static_cast<unsigned>(unit) << std::dec << '}';
        }
    }
    *os << '"';
}

void PrintTo(const EncodeCase &c, std::ostream *os)
{
    printUnits(c.input, os);
}

class UrlEncode : public testing::TestWithParam<EncodeCase>
{
};

TEST_P(UrlEncode, EncodesLikeAFormField)
{
    EXPECT_EQ(urlEncode(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, UrlEncode,
    testing::Values(EncodeCase{u"a b&c", "a+b%26c"}, EncodeCase{u"50%", "50%25"},
                    EncodeCase{u"x=1,y", "x%3D1%2Cy"},
                    EncodeCase{u"GETDATE() )", "GETDATE%28%29+%29"},
                    EncodeCase{u"~_.-*", "%7E_.-*"}, EncodeCase{u"\t", "%09"},
                    EncodeCase{u"\u00e9", "%E9"}, EncodeCase{u"", ""}, EncodeCase{u"   ", "+++"},
                    EncodeCase{std::u16string(1, u'\0'), "%00"},
                    EncodeCase{std::u16string(u"a\0b", 3), "a%00b"}, EncodeCase{u"\u20ac", "%80"},
                    EncodeCase{u"\u4e2d", "%3F"}, EncodeCase{u"\U0001F600", "%3F"},
                    EncodeCase{u"x\U0001F600y", "x%3Fy"}, EncodeCase{u"aZ\u00ff", "aZ%FF"},
                    EncodeCase{u"\r\n", "%0D%0A"}, EncodeCase{u"!'()~+", "%21%27%28%29%7E%2B"},
                    EncodeCase{u"\u0010\u007f\u00a0", "%10%7F%A0"}, EncodeCase{u"AZaz09", "AZaz09"},
                    EncodeCase{u"?", "%3F"}));

TEST(UrlEncode, KeepsExactlyTheUnreservedSet)
{
    std::string kept;
    for (char16_t unit = 0; unit < 256; ++unit) {
        const std::string piece = urlEncode(std::u16string(1, unit));
        if (piece.size() == 1 && piece != "+") {
            kept += piece;
        }
    }
    EXPECT_EQ(kept, "*-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
}

struct Cp1252Case
{
    std::u16string input;
    std::string expected;
};

void PrintTo(const Cp1252Case &c, std::ostream *os)
{
    printUnits(c.input, os);
}

class ToCp1252 : public testing::TestWithParam<Cp1252Case>
{
};

TEST_P(ToCp1252, MapsOrReplaces)
{
    EXPECT_EQ(toCp1252(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, ToCp1252,
    testing::Values(
        Cp1252Case{u"plain", "plain"}, Cp1252Case{u"\u00e9\u00a0\u00ff", "\xE9\xA0\xFF"},
        Cp1252Case{u"\u20ac\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152"
                   u"\u017d",
                   "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E"},
        Cp1252Case{u"\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a"
                   u"\u0153\u017e\u0178",
                   "\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F"},
        // The five undefined bytes come from the C1 controls of the same number.
        Cp1252Case{u"\u0081\u008d\u008f\u0090\u009d", "\x81\x8D\x8F\x90\x9D"},
        // Other C1 controls have no byte: their numbers belong to other characters.
        Cp1252Case{u"\u0080\u0085\u009f", "???"}, Cp1252Case{u"\u0100\u4e2d\uffff", "???"},
        Cp1252Case{u"\U0001F600", "?"}, Cp1252Case{std::u16string(1, char16_t(0xD800)), "?"},
        Cp1252Case{std::u16string(1, char16_t(0xDC00)), "?"},
        Cp1252Case{std::u16string{char16_t(0xD800), u'A'}, "?A"},
        Cp1252Case{std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "??"}));

// Every byte but '?' has exactly one character that maps to it, so a typo in the table
// (a duplicate or a missing entry) shows up here.
TEST(ToCp1252, EveryByteHasExactlyOneSource)
{
    std::map<unsigned char, int> sources;
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) {
            continue;
        }
        const std::string byte = toCp1252(std::u16string(1, static_cast<char16_t>(code)));
        ASSERT_EQ(byte.size(), 1u) << code;
        ++sources[static_cast<unsigned char>(byte[0])];
    }
    ASSERT_EQ(sources.size(), 256u);
    for (const auto &[byte, count] : sources) {
        if (byte != '?') {
            EXPECT_EQ(count, 1) << "byte " << int(byte);
        }
    }
}

} // namespace
