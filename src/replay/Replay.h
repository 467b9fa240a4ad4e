// Replaying pending changes onto a center that someone else changed since it was loaded.
//
// For each assignment the user touched there are three states: L as loaded, M as the user
// changed it, T as the server holds it now. If T equals M the change is already there (done);
// else if T equals L nobody else touched it and M is written again (replay); else both sides
// touched it and the user must choose (collision). Nothing here drops a change the user made:
// a collision keeps it pending until a choice says otherwise. Pure logic over logic's
// assignment and marks: no Qt, no rows.
#pragma once

#include "logic/Row.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::replay {

// A vendor's assignment or its absence (the vendor is not assigned to the center).
using State = std::optional<logic::Assignment>;

// A change the user made to one vendor's assignment and has not committed yet.
struct Pending
{
    std::string vendorId; // compared as exact text, as the lists compare ids
    State loaded;         // L
    State mine;           // M
};

// The center as the fresh load reads it.
struct Fresh
{
    std::map<std::string, logic::Assignment> assigned; // T: every assignment the center has now
    // The active vendors the fresh load lists as not assigned, with their country ids (the
    // input of the duty rule for an add).
    std::map<std::string, double> activeCountry;
    int centerCode = 0; // the count answer's center code, the other input of the duty rule
};

// How a pending change, or a whole center's pending changes, came out of the replay. A center's
// outcome is the furthest any of its changes reached: one collision makes it Collision.
enum class Outcome {
    Done,      // the server already holds M: the pending change is dropped
    Replay,    // nobody else touched it: M is written again
    Collision, // both sides touched it: the user chooses
    Failed,    // a center only: it could not be read again, and its rows are as they were
};

enum class Conflict {
    None,
    ChangedByOther, // T differs from both L and M
    NoLongerActive, // a pending add of a vendor the fresh load no longer lists as active
};

// The decision for one assignment.
struct Decision
{
    Outcome outcome = Outcome::Done;
    logic::Pending mark = logic::Pending::None; // Replay: the mark from T to `write`; else None
    State write; // Replay: the state the commit writes; otherwise empty
    Conflict why = Conflict::None;

    bool operator==(const Decision &) const = default;
};

// The mark a row must carry so that the next commit turns `from` into `to`: None, New, Updated
// or Deleted. Surprise: a change of the duty flag alone is Updated, because the update writes
// both fees.
logic::Pending markFor(const State &from, const State &to);

// Decides one assignment. `addDuty` is the duty rule applied to the vendor's fresh row of
// active vendors, empty when the fresh load lists no such row. Surprises: an add writes M's fee
// with `addDuty`, not M's duty; a pending add whose vendor has no fresh row collides even
// though nobody else touched the assignment; a pending change whose M equals L still collides
// when someone else changed T.
Decision decide(const State &loaded, const State &mine, const State &theirs,
                std::optional<bool> addDuty);

// A change to put on a fresh row: its mark and the state the commit then writes.
struct Change
{
    std::string vendorId;
    logic::Pending mark = logic::Pending::None;
    State write;

    bool operator==(const Change &) const = default;
};

// An assignment both sides touched, with what the collision view shows.
struct Collision
{
    std::string vendorId;
    State loaded; // L
    State mine;   // M
    State theirs; // T
    Conflict why = Conflict::ChangedByOther;
    std::optional<bool> addDuty; // as passed to decide, for keeping mine as an add
};

// Everything the replay found, each list in the order of the pending changes.
struct Plan
{
    std::vector<Change> replays;
    std::vector<std::string> done; // vendor ids whose pending change the server already holds
    std::vector<Collision> collisions;
};

enum class Status {
    Ok,
    BadInput, // a vendor id empty or given twice, or a collision without a choice
};

struct PlanResult
{
    Status status = Status::Ok;
    std::string message; // what is wrong; empty when Ok
    Plan plan;           // empty unless Ok

    bool ok() const { return status == Status::Ok; }
};

// The whole-center merge: decides every pending change against the fresh center. Surprise: a
// vendor id that is empty or occurs twice refuses the whole plan, so no change can be counted
// twice or lost between two entries.
PlanResult plan(const std::vector<Pending> &pending, const Fresh &fresh);

// The center's outcome: Collision when any change collides, else Replay when any is replayed,
// else Done. Surprise: never Failed, which only the reading of the center can give.
Outcome outcomeOf(const Plan &plan);

enum class Choice { KeepMine, TakeTheirs };

// Vendor ids in exact text order, found without a copy of the id. Being a type of our own, it
// also keeps the map's code inside the shared library, which exports a map over an enum alone.
struct ById : std::less<>
{
};
// The user's choice per colliding vendor id.
using Choices = std::map<std::string, Choice, ById>;

struct ChangesResult
{
    Status status = Status::Ok;
    std::string message; // what is wrong; empty when Ok
    std::vector<Change> changes;

    bool ok() const { return status == Status::Ok; }
};

// Every change to commit once the user chose for each collision: the replays, then each
// collision kept as mine. Keeping mine re-derives the mark from T to M (an add again takes the
// duty rule's flag when the vendor has a fresh row), so the commit does not meet the same
// refusal again; taking theirs drops the pending change. Surprise: a collision without an entry
// in `choices` refuses the whole result rather than guess, so no change is dropped that the
// user did not choose to drop.
ChangesResult afterChoices(const Plan &plan, const Choices &choices);

} // namespace tarvo::replay
