#include "logic/RowMark.h"

#include "logic/ValueForms.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace tarvo::logic;

namespace {

struct TransitionCase
{
    Move move;
    const char *source;
    const char *expected;
};

void PrintTo(const TransitionCase &c, std::ostream *os)
{
    static const char *const names[] = {"Add", "Remove", "FeeUpdate"};
    *os << names[static_cast<int>(c.move)] << "(\"" << c.source << "\")";
}

class Transition : public testing::TestWithParam<TransitionCase>
{
};

TEST_P(Transition, GivesTheColumn4OfTheNewRow)
{
    const TransitionCase &c = GetParam();
    EXPECT_EQ(transition(c.move, c.source), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Add, Transition,
    testing::Values(
        // Numeric: the text as held, then "N".
        TransitionCase{Move::Add, "0", "0N"}, TransitionCase{Move::Add, "1", "1N"},
        TransitionCase{Move::Add, " 1 ", " 1 N"}, TransitionCase{Move::Add, "1.0", "1.0N"},
        // A removal is undone.
        TransitionCase{Move::Add, "1D", "1"}, TransitionCase{Move::Add, "0D", "0"},
        TransitionCase{Move::Add, " 1D ", "1"}, TransitionCase{Move::Add, "1.50D", "1.5"},
        TransitionCase{Move::Add, "-1D", "-1"}, TransitionCase{Move::Add, "D", "0"},
        // The pending fee update returns.
        TransitionCase{Move::Add, "1DU", "1U"}, TransitionCase{Move::Add, "0DU", "0U"},
        TransitionCase{Move::Add, "  0.0DU", "0U"}, TransitionCase{Move::Add, "1U", "1U"},
        // Anything else is left empty.
        TransitionCase{Move::Add, "1N", ""}, TransitionCase{Move::Add, "", ""},
        TransitionCase{Move::Add, "   ", ""}, TransitionCase{Move::Add, "1X", ""},
        TransitionCase{Move::Add, "abc", ""}, TransitionCase{Move::Add, "1d", ""}));

INSTANTIATE_TEST_SUITE_P(
    Remove, Transition,
    testing::Values(
        TransitionCase{Move::Remove, "1", "1D"}, TransitionCase{Move::Remove, "0", "0D"},
        TransitionCase{Move::Remove, "+1 ", "+1 D"},
        // A vendor that was never stored: nothing to write.
        TransitionCase{Move::Remove, "1N", "1"}, TransitionCase{Move::Remove, "0N", "0"},
        TransitionCase{Move::Remove, " 1N ", "1"}, TransitionCase{Move::Remove, "N", "0"},
        TransitionCase{Move::Remove, "1U", "1DU"}, TransitionCase{Move::Remove, "0U", "0DU"},
        TransitionCase{Move::Remove, "1DU", "1DU"}, TransitionCase{Move::Remove, "1D", ""},
        TransitionCase{Move::Remove, "", ""}, TransitionCase{Move::Remove, "1X", ""},
        TransitionCase{Move::Remove, "1n", ""}));

INSTANTIATE_TEST_SUITE_P(FeeUpdate, Transition,
                         testing::Values(TransitionCase{Move::FeeUpdate, "1", "1U"},
                                         TransitionCase{Move::FeeUpdate, "0", "0U"},
                                         TransitionCase{Move::FeeUpdate, " 1 ", " 1 U"},
                                         TransitionCase{Move::FeeUpdate, "1N", "1N"},
                                         TransitionCase{Move::FeeUpdate, "1U", "1U"},
                                         TransitionCase{Move::FeeUpdate, "1DU", "1DU"},
                                         TransitionCase{Move::FeeUpdate, "", ""},
                                         TransitionCase{Move::FeeUpdate, "x", "x"}));

TEST(Transition, RoundTripsRestoreTheStoredState)
{
    EXPECT_EQ(transition(Move::Add, transition(Move::Remove, "1")), "1");
    EXPECT_EQ(transition(Move::Remove, transition(Move::Add, "0")), "0");

    const std::string updated = transition(Move::FeeUpdate, "1");
    EXPECT_EQ(updated, "1U");
    const std::string removed = transition(Move::Remove, updated);
    EXPECT_EQ(removed, "1DU");
    EXPECT_EQ(transition(Move::Add, removed), "1U");
}

TEST(Transition, RewrittenDutyValueIsAlwaysUnmarked)
{
    const std::string longDigits(400, '9');
    for (const std::string &number :
         std::vector<std::string>{"00012.500", "+.5", "-0", "-0.000", "1.", ".", "-", "..", "0.10",
                                  longDigits, "1." + longDigits, "   7.25x"}) {
        for (const std::string &text : {number + "D", number + "N"}) {
            const Move move = text.back() == 'D' ? Move::Add : Move::Remove;
            const std::string rewritten = transition(move, text);
            EXPECT_TRUE(isUnmarked(rewritten)) << text << " -> " << rewritten;
            EXPECT_EQ(rewritten.find(' '), std::string::npos) << rewritten;
            EXPECT_DOUBLE_EQ(tarvo::logic::toNumber(rewritten), tarvo::logic::leadingNumber(text));
        }
    }
    EXPECT_EQ(transition(Move::Add, "00012.500D"), "12.5");
    EXPECT_EQ(transition(Move::Add, "-0.000D"), "0");
    EXPECT_EQ(transition(Move::Add, "+.5D"), "0.5");
}

TEST(RowMark, MarkCharIgnoresOuterBlanks)
{
    EXPECT_EQ(markChar("1N"), 'N');
    EXPECT_EQ(markChar(" 1DU  "), 'U');
    EXPECT_EQ(markChar("1"), '1');
    EXPECT_EQ(markChar(""), '\0');
    EXPECT_EQ(markChar("   "), '\0');
}

TEST(RowMark, ClassifiesEveryColumn4Text)
{
    const struct
    {
        const char *text;
        Mark mark;
    } cases[] = {{"1", Mark::None},
                 {" 0 ", Mark::None},
                 {"1N", Mark::New},
                 {"0N ", Mark::New},
                 {"0U", Mark::Updated},
                 {"U", Mark::Updated},
                 {"1NU", Mark::Updated},
                 {"1D", Mark::Deleted},
                 {"1DU", Mark::DeletedUpdated},
                 {" DU ", Mark::DeletedUpdated},
                 {"", Mark::Unknown},
                 {"  ", Mark::Unknown},
                 {"1X", Mark::Unknown},
                 {"1u", Mark::Unknown}};
    for (const auto &c : cases) {
        EXPECT_EQ(markOf(c.text), c.mark) << '"' << c.text << '"';
        EXPECT_EQ(isUnmarked(c.text), c.mark == Mark::None) << '"' << c.text << '"';
    }
}

} // namespace
