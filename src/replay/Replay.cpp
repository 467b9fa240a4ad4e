#include "replay/Replay.h"

#include "logic/Rules.h"

#include <set>
#include <utility>

namespace tarvo::replay {

namespace {

// The state keeping M writes over T: an add takes the duty the fresh row's rule gives, as
// moving that row into the selected list would.
State mineOver(const State &theirs, const State &mine, std::optional<bool> addDuty)
{
    State write = mine;
    if (!theirs && write && addDuty) {
        write->duty = *addDuty;
    }
    return write;
}

PlanResult refusedPlan(std::string message)
{
    return PlanResult{Status::BadInput, std::move(message), {}};
}

// What a choice leaves pending for a collision: nothing when the user takes theirs.
std::optional<Change> resolve(const Collision &collision, Choice choice)
{
    if (choice == Choice::TakeTheirs) {
        return std::nullopt;
    }
    State write = mineOver(collision.theirs, collision.mine, collision.addDuty);
    const logic::Pending mark = markFor(collision.theirs, write);
    if (mark == logic::Pending::None) {
        return std::nullopt;
    }
    return Change{collision.vendorId, mark, write};
}

} // namespace

logic::Pending markFor(const State &from, const State &to)
{
    if (from == to) {
        return logic::Pending::None;
    }
    if (!from) {
        return logic::Pending::New;
    }
    return to ? logic::Pending::Updated : logic::Pending::Deleted;
}

Decision decide(const State &loaded, const State &mine, const State &theirs,
                std::optional<bool> addDuty)
{
    if (theirs == mine) {
        return Decision{Outcome::Done, logic::Pending::None, std::nullopt, Conflict::None};
    }
    if (theirs != loaded) {
        return Decision{Outcome::Collision, logic::Pending::None, std::nullopt,
                        Conflict::ChangedByOther};
    }
    // Nobody else touched it. An add still needs the vendor to be active: inserting a vendor
    // that left the active list behind the user's back is not what the user saw.
    if (!theirs && mine && !addDuty) {
        return Decision{Outcome::Collision, logic::Pending::None, std::nullopt,
                        Conflict::NoLongerActive};
    }
    State write = mineOver(theirs, mine, addDuty);
    return Decision{Outcome::Replay, markFor(theirs, write), write, Conflict::None};
}

PlanResult plan(const std::vector<Pending> &pending, const Fresh &fresh)
{
    std::set<std::string> seen;
    for (const Pending &p : pending) {
        if (p.vendorId.empty()) {
            return refusedPlan("a pending change has no vendor id");
        }
        if (!seen.insert(p.vendorId).second) {
            return refusedPlan("vendor " + p.vendorId + " has more than one pending change");
        }
    }

    PlanResult result;
    for (const Pending &p : pending) {
        State theirs;
        if (auto it = fresh.assigned.find(p.vendorId); it != fresh.assigned.end()) {
            theirs = it->second;
        }
        std::optional<bool> addDuty;
        if (auto it = fresh.activeCountry.find(p.vendorId); it != fresh.activeCountry.end()) {
            addDuty = logic::dutyApplies(it->second, fresh.centerCode);
        }
        const Decision d = decide(p.loaded, p.mine, theirs, addDuty);
        switch (d.outcome) {
        case Outcome::Done:
            result.plan.done.push_back(p.vendorId);
            break;
        case Outcome::Replay:
            result.plan.replays.push_back(Change{p.vendorId, d.mark, d.write});
            break;
        case Outcome::Collision:
            result.plan.collisions.push_back(
                Collision{p.vendorId, p.loaded, p.mine, theirs, d.why, addDuty});
            break;
        case Outcome::Failed:
            break; // decide never fails: it has the whole center before it
        }
    }
    return result;
}

Outcome outcomeOf(const Plan &plan)
{
    if (!plan.collisions.empty()) {
        return Outcome::Collision;
    }
    return plan.replays.empty() ? Outcome::Done : Outcome::Replay;
}

ChangesResult afterChoices(const Plan &plan, const Choices &choices)
{
    ChangesResult result;
    result.changes = plan.replays;
    std::size_t used = 0;
    for (const Collision &c : plan.collisions) {
        auto it = choices.find(c.vendorId);
        if (it == choices.end()) {
            return ChangesResult{
                Status::BadInput, "no choice for the collision of vendor " + c.vendorId, {}};
        }
        ++used;
        if (auto change = resolve(c, it->second)) {
            result.changes.push_back(std::move(*change));
        }
    }
    // A choice for a vendor without a collision means the choices belong to another plan.
    if (used != choices.size()) {
        return ChangesResult{Status::BadInput, "a choice names a vendor without a collision", {}};
    }
    return result;
}

} // namespace tarvo::replay
