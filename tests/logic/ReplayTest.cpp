#include "replay/Replay.h"

#include <gtest/gtest.h>
#include <random>
#include <set>

using namespace tarvo::replay;

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
        {"add, untouched", none, A, none, false, replay(Mark::Add, A)},
        {"add takes the fresh row's duty", none, A, none, true, replay(Mark::Add, Aduty)},
        {"add of a vendor no longer active", none, A, none, inactive, gone},
        {"add, the other side added the same", none, A, A, inactive, done},
        {"add, the other side added another fee", none, A, B, inactive, collides},
        {"add, the other side added another duty", none, A, Aduty, inactive, collides},
        {"fee change, untouched", A, B, A, inactive, replay(Mark::FeeChange, B)},
        {"fee change keeps its duty", Aduty, Bduty, Aduty, false, replay(Mark::FeeChange, Bduty)},
        {"fee change, the other side set the same", A, B, B, inactive, done},
        {"fee change, the other side set another", A, B, C, inactive, collides},
        {"fee change, the other side removed it", A, B, none, false, collides},
        {"fee change, the other side changed the duty", A, B, Aduty, inactive, collides},
        {"removal, untouched", A, none, A, inactive, replay(Mark::Remove, none)},
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

TEST(ReplayDecision, KeepingMineRederivesTheMarkFromTheirsAndTakingTheirsDropsIt)
{
    struct Case
    {
        const char *name;
        Collision collision;
        Choice choice;
        std::optional<Change> expected;
    };
    const Case cases[] = {
        {"added by both",
         {"7", none, A, B, Conflict::ChangedByOther, inactive},
         Choice::KeepMine,
         Change{"7", Mark::FeeChange, A}},
        {"removed by the other, vendor active",
         {"7", A, B, none, Conflict::ChangedByOther, true},
         Choice::KeepMine,
         Change{"7", Mark::Add, Bduty}},
        {"removed by the other, vendor gone",
         {"7", A, B, none, Conflict::ChangedByOther, inactive},
         Choice::KeepMine,
         Change{"7", Mark::Add, B}},
        {"my removal over their fee",
         {"7", A, none, C, Conflict::ChangedByOther, inactive},
         Choice::KeepMine,
         Change{"7", Mark::Remove, none}},
        {"add of a vendor gone",
         {"7", none, A, none, Conflict::NoLongerActive, inactive},
         Choice::KeepMine,
         Change{"7", Mark::Add, A}},
        {"take theirs",
         {"7", A, B, C, Conflict::ChangedByOther, inactive},
         Choice::TakeTheirs,
         std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(resolve(c.collision, c.choice), c.expected);
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

// Applies changes to a center's assignments the way the commit's statements would, failing
// where a statement would be refused (an insert over an assignment, an update or delete of none).
void apply(std::map<std::string, Assignment> &center, const std::vector<Change> &changes)
{
    for (const Change &c : changes) {
        const bool present = center.count(c.vendorId) != 0;
        EXPECT_EQ(present, c.mark != Mark::Add) << "vendor " << c.vendorId;
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
        // The world at the load: vendors with country and activity, the center's assignments.
        int code = chance(50) ? 2 : 1;
        std::map<std::string, double> country;
        std::set<std::string> active;
        std::map<std::string, Assignment> loaded;
        for (int v = 1; v <= 12; ++v) {
            const std::string id = std::to_string(v);
            country[id] = chance(50) ? 1.0 : 2.0;
            if (chance(80)) {
                active.insert(id);
            }
            if (chance(50)) {
                loaded[id] = Assignment{fee(), chance(50)};
            }
        }
        auto ruleDuty = [&](const std::string &id) { return dutyByRule(country[id], code); };
        // The user's pending changes.
        std::vector<Pending> pending;
        for (const auto &vendor : country) {
            const std::string &id = vendor.first;
            const State L = stateIn(loaded, id);
            if (!chance(50) || (!L && !active.count(id))) {
                continue;
            }
            State M = L ? (chance(30) ? none : State{Assignment{fee(), L->duty}})
                        : State{Assignment{fee(), ruleDuty(id)}};
            pending.push_back({id, L, M});
        }
        // Someone else's commits, and vendor and center changes that show at the next load.
        std::map<std::string, Assignment> theirs = loaded;
        for (auto &vendor : country) {
            const std::string &id = vendor.first;
            const bool assigned = theirs.count(id) != 0;
            if (chance(40)) {
                if (assigned && chance(30)) {
                    theirs.erase(id);
                } else if (assigned) {
                    theirs[id].feeHundredths = fee();
                } else if (active.count(id)) {
                    theirs[id] = Assignment{fee(), ruleDuty(id)};
                }
            }
            if (chance(10)) {
                active.erase(id);
            }
            if (chance(10)) {
                vendor.second = 3.0 - vendor.second;
            }
        }
        if (chance(10)) {
            code = 3 - code;
        }
        Fresh fresh{theirs, {}, code};
        for (const std::string &id : active) {
            if (!theirs.count(id)) {
                fresh.activeCountry[id] = country[id];
            }
        }

        const PlanResult result = plan(pending, fresh);
        ASSERT_TRUE(result.ok()) << result.message;
        const Plan &p = result.plan;
        std::multiset<std::string> seen(p.done.begin(), p.done.end());
        for (const Change &c : p.replays) {
            seen.insert(c.vendorId);
        }
        std::set<std::string> collided;
        for (const Collision &c : p.collisions) {
            seen.insert(c.vendorId);
            collided.insert(c.vendorId);
        }
        std::map<std::string, Choice> choices;
        for (const std::string &id : collided) {
            choices[id] = chance(50) ? Choice::KeepMine : Choice::TakeTheirs;
        }
        std::map<std::string, Assignment> replayed = theirs, chosen = theirs;
        apply(replayed, p.replays);
        const ChangesResult after = afterChoices(p, choices);
        ASSERT_TRUE(after.ok()) << after.message;
        apply(chosen, after.changes);

        EXPECT_EQ(seen.size(), pending.size());
        for (const Pending &c : pending) {
            SCOPED_TRACE("vendor " + c.vendorId);
            EXPECT_EQ(seen.count(c.vendorId), 1u);
            const State T = stateIn(theirs, c.vendorId);
            const bool freshRow = fresh.activeCountry.count(c.vendorId) != 0;
            const bool otherTouched = T != c.loaded;
            EXPECT_EQ(collided.count(c.vendorId) != 0,
                      (otherTouched && T != c.mine) ||
                          (!otherTouched && !c.loaded && c.mine && !freshRow));
            // An add onto a fresh row carries that row's duty; everything else is M as made.
            State expected = c.mine;
            if (!T && expected && freshRow) {
                expected->duty = dutyByRule(fresh.activeCountry[c.vendorId], code);
            }
            const bool tookTheirs =
                collided.count(c.vendorId) && choices[c.vendorId] == Choice::TakeTheirs;
            EXPECT_EQ(stateIn(chosen, c.vendorId), tookTheirs ? T : expected);
            if (!collided.count(c.vendorId)) {
                EXPECT_EQ(stateIn(replayed, c.vendorId), expected);
            }
        }
    }
}

} // namespace
