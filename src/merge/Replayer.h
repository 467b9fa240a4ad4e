// The replaying reload: reads the center again and puts every pending change back onto the
// fresh rows, deciding each against what the server holds now. Changes nobody else touched are
// replayed, changes the server already holds are dropped as done, and changes that collide with
// another writer's are shown in the collision view for the user to choose.
#pragma once

#include "merge/RowStates.h"
#include "screen/Screen.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace tarvo::screen {
struct ControlFields;
} // namespace tarvo::screen

namespace tarvo::merge {

using screen::ControlFields;

class Replayer
{
public:
    struct Result
    {
        // Replay: every pending change is on the fresh rows, nothing collided. Done: nothing is
        // left pending. Collision: the user chose in the collision view. Failed: the center (or
        // the rows) could not be read again, and the rows are as before.
        replay::Outcome outcome = replay::Outcome::Failed;
        QString message;        // why it failed; empty otherwise
        QStringList keptMine;   // collisions the user kept as theirs would be overwritten
        QStringList tookTheirs; // collisions the user let go
    };

    // load reads the center into the rows and returns whether it completed.
    // collisionsFound is told the colliding vendor ids before the collision view opens.
    Replayer(const screen::ListArea &lists, const screen::Feedback &feedback, ControlFields &fields,
             std::function<bool()> load, std::function<void(const QStringList &)> collisionsFound);

    // The replaying reload. reason is the server's refusal text shown in the collision view
    // ("" when none). Surprise: when the fresh read fails, the lists, fields and version are put
    // back as they were, so no pending change is lost to a half-read center.
    Result reloadKeepingChanges(const QString &reason);

private:
    struct Saved;
    Saved save() const;
    void restore(const Saved &saved);
    replay::Outcome settle(const replay::Plan &plan, const PendingRows &kept, const QString &reason,
                           Result &result);

    screen::ListArea lists;
    screen::Feedback feedback;
    ControlFields &fields;
    std::function<bool()> m_load;
    std::function<void(const QStringList &)> m_collisionsFound;
};

} // namespace tarvo::merge
