// Saving: the save batch posted through the transfer component, and the commit command that
// saves and reloads.
#pragma once

#include "replay/Replay.h"
#include "screen/Screen.h"

#include <QString>
#include <functional>

namespace tarvo::screen {
struct ControlFields;
} // namespace tarvo::screen
namespace tarvo::net {
class Transfer;
}

namespace tarvo::save {

using net::Transfer;
using screen::ControlFields;

// Why a commit did not save; the control's public CommitFailureReason has the same values in
// the same order.
enum class FailureReason {
    None,
    Unreachable,
    TimedOut,
    ConnectionFailed,
    NotSignedIn,
    NoRights,
    Refused,
    Collisions,
    KeptChanging,
    NotReadAgain,
    OutcomeUnknown,
    AlreadySaved,
    BatchNotBuilt,
};

struct Failure
{
    FailureReason reason = FailureReason::None;
    int httpStatus = 0;
    QString serverText; // what the server said, trimmed; "" when it said nothing
    QString detail;     // why, in technical terms; never credentials
};

class Saver
{
public:
    enum class Outcome {
        NothingToSend,
        Sent,           // the server took the batch
        TransferFailed, // no answer, or an answer of 400 or more
        NotSent,        // the batch could not be built or started; "Error Occoured" was shown
        Stale,          // 412: the center changed since the load; nothing applied, nothing shown
    };

    // The replaying reload after a 412; reason: the 412's text. Returns what it left on the
    // rows: Replay sends again, Done reloads, Collision and Failed end the commit with every
    // change kept.
    using Replay = std::function<replay::Outcome(const QString &reason)>;

    // Automatic re-sends after a 412 within one commit; the next 412 ends it with the changes
    // kept.
    static constexpr int MaxReplayRounds = 3;

    // reload runs LetDataFromDatabase with the stored center id and server name.
    // inet posts the batch; the caller connects its StateChanged to Inet1_StateChanged.
    // replay runs the replaying reload after a 412.
    Saver(const screen::ListArea &lists, const screen::Commands &commands,
          const screen::Feedback &feedback, ControlFields &fields, Transfer &inet,
          std::function<void()> reload, Replay replay);

    // Posts every pending change, with If-Match when the load gave a version, and waits inside
    // the event loop until the transfer has stopped; shows "Error Occoured" itself when nothing
    // could be sent. Leaves the rows as they are. Surprise: a 412 shows a message only when
    // quietWhenStale is false (a host's own save), since the commit replays instead.
    Outcome SaveToDatabase(bool quietWhenStale = false);

    struct Commit
    {
        bool ok = false; // the server took the batch, or there was nothing to send
        QString answer;  // the server's text, or why nothing was saved
        Failure failure; // reason None when the server took the batch
    };

    // Saves, then reloads; a failed save keeps the marks and offers the commit again. A 412
    // replays the pending changes onto the fresh rows and sends again, at most MaxReplayRounds
    // times; a collision ends the commit with everything pending.
    Commit cmdCommit_Click();

    // The transfer's end: the server's answer or the failure notice.
    void Inet1_StateChanged(int state);

private:
    QString fetchAnswer();

    screen::ListArea lists;
    screen::Commands commands;
    screen::Feedback feedback;
    ControlFields &fields;
    Transfer &Inet1;
    std::function<void()> reload;
    Replay replay;
    bool m_transferFailed = false;
    bool m_stale = false;
    bool m_quietWhenStale = false;
    QString m_answer;  // of the last save
    Failure m_failure; // of the last save, then of the commit
};

// The form-URL encoding of the text over code page 1252.
QString urlEncoded(const QString &text);

} // namespace tarvo::save
