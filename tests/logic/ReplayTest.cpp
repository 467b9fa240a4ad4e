#include "replay/Replay.h"

#include "logic/Rules.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>

using namespace tarvo::replay;
using tarvo::logic::Assignment;
using Mark = tarvo::logic::Pending;

namespace {

const State none;
const State A = Assignment{800, false};
const State B = Assignment{500, false};
const State C = Assignment{300, false};
const State Aduty = Assignment{800, true};
const State Bduty = Assignment{500, true};
const std::optional<bool> inactive;

struct DecideCase
{
    const char *name;
    State loaded, mine, theirs;
    std::optional<bool> addDuty;
    Decision expected;
};

Decision replay(Mark mark, State write)
{
    return {Outcome::Replay, mark, write, Conflict::None};
}
const Decision done{Outcome::Done, Mark::None, none, Conflict::None};
const Decision collides{Outcome::Collision, Mark::None, none, Conflict::ChangedByOther};
const Decision gone{Outcome::Collision, Mark::None, none, Conflict::NoLongerActive};

TEST(ReplayDecision, FollowsTheLoadedMineTheirsLattice)
{
    const DecideCase cases[] = {
        {"add, untouched", none, A, none, false, replay(Mark::New, A)},
        {"add takes the fresh row's duty", none, A, none, true, replay(Mark::New, Aduty)},
        {"add of a vendor no longer active", none, A, none, inactive, gone},
        {"add, the other side added the same", none, A, A, inactive, done},
        {"add, the other side added another fee", none, A, B, inactive, collides},
        {"add, the other side added another duty", none, A, Aduty, inactive, collides},
        {"fee change, untouched", A, B, A, inactive, replay(Mark::Updated, B)},
        {"fee change keeps its duty", Aduty, Bduty, Aduty, false, replay(Mark::Updated, Bduty)},
        {"fee change, the other side set the same", A, B, B, inactive, done},
        {"fee change, the other side set another", A, B, C, inactive, collides},
        {"fee change, the other side removed it", A, B, none, false, collides},
        {"fee change, the other side changed the duty", A, B, Aduty, inactive, collides},
        {"removal, untouched", A, none, A, inactive, replay(Mark::Deleted, none)},
        {"removal, the other side removed it too", A, none, none, true, done},
        {"removal, the other side changed the fee", A, none, B, inactive, collides},
        {"fee set back to loaded, untouched", A, A, A, inactive, done},
        {"fee set back to loaded, the other side changed it", A, A, B, inactive, collides},
        {"add undone, untouched", none, none, none, true, done},
        {"add undone, the other side added it", none, none, A, inactive, collides},
    };
    for (const DecideCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decide(c.loaded, c.mine, c.theirs, c.addDuty), c.expected);
    }
}

TEST(ReplayPlan, RefusesAmbiguousInputWhole)
{
    const Fresh fresh{{{"1", *A}}, {}, 2};
    EXPECT_EQ(plan({{"1", A, B}, {"1", A, none}}, fresh).status, Status::BadInput);
    EXPECT_EQ(plan({{"", none, A}}, fresh).status, Status::BadInput);

    const Plan p = plan({{"1", A, none}}, Fresh{{{"1", *C}}, {}, 2}).plan;
    ASSERT_EQ(p.collisions.size(), 1u);
    EXPECT_EQ(afterChoices(p, {}).status, Status::BadInput);
    EXPECT_EQ(afterChoices(p, {{"1", Choice::KeepMine}, {"2", Choice::KeepMine}}).status,
              Status::BadInput);
}

// Applies changes the way the commit's statements would, failing where a statement would be
// refused (an insert over an assignment, an update or delete of none) or a vendor comes twice.
void apply(std::map<std::string, Assignment> &center, const std::vector<Change> &changes)
{
    std::set<std::string> applied;
    for (const Change &c : changes) {
        EXPECT_TRUE(applied.insert(c.vendorId).second) << "vendor " << c.vendorId << " twice";
        const bool present = center.count(c.vendorId) != 0;
        EXPECT_EQ(present, c.mark != Mark::New) << "vendor " << c.vendorId;
        if (c.write) {
            center[c.vendorId] = *c.write;
        } else {
            center.erase(c.vendorId);
        }
    }
}

State stateIn(const std::map<std::string, Assignment> &center, const std::string &id)
{
    auto it = center.find(id);
    return it == center.end() ? none : State{it->second};
}

TEST(ReplayPlan, RandomConcurrentEditsLoseNothingAndCollideExactlyWhereBothSidesTouched)
{
    std::mt19937 rng(20261207);
    auto chance = [&](int percent) { return int(rng() % 100) < percent; };
    auto fee = [&] { return int(rng() % 4) * 250; };
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int code = chance(50) ? 2 : 1;
        Fresh fresh{{}, {}, chance(10) ? 3 - code : code};
        std::vector<Pending> pending;
        for (int v = 1; v <= 12; ++v) {
            // As loaded, then the user's change, then someone else's commit and vendor changes.
            const std::string id = std::to_string(v);
            const double country = chance(50) ? 1.0 : 2.0;
            const bool active = chance(80);
            const State L = chance(50) ? State{Assignment{fee(), chance(50)}} : none;
            auto changed = [&] {
                return L ? (chance(30) ? none : State{Assignment{fee(), L->duty}})
                         : State{Assignment{fee(), tarvo::logic::dutyApplies(country, code)}};
            };
            if ((L || active) && chance(50)) {
                pending.push_back({id, L, changed()});
            }
            const State T = (L || active) && chance(40) ? changed() : L;
            if (T) {
                fresh.assigned[id] = *T;
            } else if (active && chance(90)) {
                fresh.activeCountry[id] = chance(10) ? 3.0 - country : country;
            }
        }
        const auto &theirs = fresh.assigned;

        const PlanResult result = plan(pending, fresh);
        ASSERT_TRUE(result.ok()) << result.message;
        const Plan &p = result.plan;
        std::vector<std::string> decided = p.done, expectedIds;
        Choices choices;
        for (const Change &c : p.replays) {
            decided.push_back(c.vendorId);
        }
        for (const Collision &c : p.collisions) {
            decided.push_back(c.vendorId);
            choices[c.vendorId] = chance(50) ? Choice::KeepMine : Choice::TakeTheirs;
        }
        for (const Pending &c : pending) {
            expectedIds.push_back(c.vendorId);
        }
        std::sort(decided.begin(), decided.end());
        std::sort(expectedIds.begin(), expectedIds.end());
        EXPECT_EQ(decided, expectedIds); // each pending change decided exactly once
        EXPECT_EQ(outcomeOf(p) == Outcome::Done, p.done.size() == pending.size());

        // The replays alone, then with every collision chosen: both leave each change once.
        std::map<std::string, Assignment> replayed = theirs, chosen = theirs;
        apply(replayed, p.replays);
        const ChangesResult after = afterChoices(p, choices);
        ASSERT_TRUE(after.ok()) << after.message;
        apply(chosen, after.changes);
        for (const Pending &c : pending) {
            SCOPED_TRACE("vendor " + c.vendorId);
            const State T = stateIn(theirs, c.vendorId);
            const bool freshRow = fresh.activeCountry.count(c.vendorId) != 0;
            const bool otherTouched = T != c.loaded;
            const bool collided = choices.count(c.vendorId) != 0;
            EXPECT_EQ(collided, (otherTouched && T != c.mine) ||
                                    (!otherTouched && !c.loaded && c.mine && !freshRow));
            // An add onto a fresh row carries that row's duty; everything else is M as made.
            State expected = c.mine;
            if (!T && expected && freshRow) {
                expected->duty =
                    tarvo::logic::dutyApplies(fresh.activeCountry[c.vendorId], fresh.centerCode);
            }
            if (!collided) {
                EXPECT_EQ(stateIn(replayed, c.vendorId), expected);
            }
            const bool tookTheirs = collided && choices[c.vendorId] == Choice::TakeTheirs;
            EXPECT_EQ(stateIn(chosen, c.vendorId), tookTheirs ? T : expected);
        }
    }
}

} // namespace
