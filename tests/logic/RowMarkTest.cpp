#include "logic/RowMark.h"

#include "logic/RowText.h"
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

class TextTransition : public testing::TestWithParam<TransitionCase>
{
};

TEST_P(TextTransition, GivesTheColumn4OfTheNewRow)
{
    const TransitionCase &c = GetParam();
    EXPECT_EQ(transitionText(c.move, c.source), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Add, TextTransition,
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
    Remove, TextTransition,
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

INSTANTIATE_TEST_SUITE_P(FeeUpdate, TextTransition,
                         testing::Values(TransitionCase{Move::FeeUpdate, "1", "1U"},
                                         TransitionCase{Move::FeeUpdate, "0", "0U"},
                                         TransitionCase{Move::FeeUpdate, " 1 ", " 1 U"},
                                         TransitionCase{Move::FeeUpdate, "1N", "1N"},
                                         TransitionCase{Move::FeeUpdate, "1U", "1U"},
                                         TransitionCase{Move::FeeUpdate, "1DU", "1DU"},
                                         TransitionCase{Move::FeeUpdate, "", ""},
                                         TransitionCase{Move::FeeUpdate, "x", "x"}));

TEST(TextTransition, RoundTripsRestoreTheStoredState)
{
    EXPECT_EQ(transitionText(Move::Add, transitionText(Move::Remove, "1")), "1");
    EXPECT_EQ(transitionText(Move::Remove, transitionText(Move::Add, "0")), "0");

    const std::string updated = transitionText(Move::FeeUpdate, "1");
    EXPECT_EQ(updated, "1U");
    const std::string removed = transitionText(Move::Remove, updated);
    EXPECT_EQ(removed, "1DU");
    EXPECT_EQ(transitionText(Move::Add, removed), "1U");
}

TEST(TextTransition, RewrittenDutyValueIsAlwaysUnmarked)
{
    const std::string longDigits(400, '9');
    for (const std::string &number :
         std::vector<std::string>{"00012.500", "+.5", "-0", "-0.000", "1.", ".", "-", "..", "0.10",
                                  longDigits, "1." + longDigits, "   7.25x"}) {
        for (const std::string &text : {number + "D", number + "N"}) {
            const Move move = text.back() == 'D' ? Move::Add : Move::Remove;
            const std::string rewritten = transitionText(move, text);
            EXPECT_TRUE(isUnmarkedText(rewritten)) << text << " -> " << rewritten;
            EXPECT_EQ(rewritten.find(' '), std::string::npos) << rewritten;
            EXPECT_DOUBLE_EQ(tarvo::logic::toNumber(rewritten), tarvo::logic::leadingNumber(text));
        }
    }
    EXPECT_EQ(transitionText(Move::Add, "00012.500D"), "12.5");
    EXPECT_EQ(transitionText(Move::Add, "-0.000D"), "0");
    EXPECT_EQ(transitionText(Move::Add, "+.5D"), "0.5");
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
        Pending mark;
    } cases[] = {{"1", Pending::None},
                 {" 0 ", Pending::None},
                 {"1N", Pending::New},
                 {"0N ", Pending::New},
                 {"0U", Pending::Updated},
                 {"U", Pending::Updated},
                 {"1NU", Pending::Updated},
                 {"1D", Pending::Deleted},
                 {"1DU", Pending::DeletedUpdated},
                 {" DU ", Pending::DeletedUpdated},
                 {"", Pending::Unknown},
                 {"  ", Pending::Unknown},
                 {"1X", Pending::Unknown},
                 {"1u", Pending::Unknown}};
    for (const auto &c : cases) {
        EXPECT_EQ(pendingOfText(c.text), c.mark) << '"' << c.text << '"';
        EXPECT_EQ(isUnmarkedText(c.text), c.mark == Pending::None) << '"' << c.text << '"';
    }
}

// Every typed state under every move: the typed rule, and the same column as the rule over
// texts gives it, so the two can never drift apart.
TEST(Transition, MovesEveryTypedStateAsTheTextRuleDoes)
{
    constexpr auto U = Pending::Unknown;
    const struct
    {
        Pending from;
        Pending add, remove, feeUpdate; // Unknown: the column is left unwritten
    } cases[] = {
        {Pending::None, Pending::New, Pending::Deleted, Pending::Updated},
        {Pending::New, U, Pending::None, Pending::New},
        {Pending::Updated, Pending::Updated, Pending::DeletedUpdated, Pending::Updated},
        {Pending::Deleted, Pending::None, U, Pending::Deleted},
        {Pending::DeletedUpdated, Pending::Updated, Pending::DeletedUpdated,
         Pending::DeletedUpdated},
    };
    for (const bool duty : {false, true}) {
        for (const auto &c : cases) {
            const std::pair<Move, Pending> moves[] = {
                {Move::Add, c.add}, {Move::Remove, c.remove}, {Move::FeeUpdate, c.feeUpdate}};
            for (const auto &[move, expected] : moves) {
                const DutyMark next = transition(move, duty, c.from);
                const std::string source(dutyMarkText(duty, c.from));
                SCOPED_TRACE(source + " move " + std::to_string(static_cast<int>(move)));
                EXPECT_EQ(pendingOf(next), expected);
                EXPECT_EQ(next.written(), expected != U);
                if (next.duty) {
                    EXPECT_EQ(*next.duty, duty);
                }
                EXPECT_EQ(dutyMarkText(next), transitionText(move, source));
                EXPECT_EQ(isUnmarked(next), expected == Pending::None);
            }
        }
    }
}

TEST(Transition, UnwrittenAndTextColumnsMoveByTheTextRule)
{
    for (const Move move : {Move::Add, Move::Remove, Move::FeeUpdate}) {
        EXPECT_FALSE(transition(move, DutyMark{}).written());
        for (const char *text : {"1.0", " 1D ", "2DU", "x", "1.50D"}) {
            const DutyMark next = transition(move, dutyMarkFromText(text));
            EXPECT_EQ(dutyMarkText(next), transitionText(move, text)) << text;
        }
    }
    // A text that moves into a typed form becomes typed.
    EXPECT_EQ(transition(Move::Add, dutyMarkFromText(" 1D ")), (DutyMark{true, Pending::None, {}}));
    EXPECT_FALSE(isUnmarked(DutyMark{}));
    EXPECT_TRUE(isUnmarked(dutyMarkFromText(" 2 ")));
    EXPECT_EQ(pendingOf(dutyMarkFromText("2DU")), Pending::DeletedUpdated);
}

} // namespace
