// Saving: the save batch posted through the transfer component, and the commit command that
// saves and reloads.
#pragma once

#include <QString>
#include <functional>

namespace tarvo::screen {
struct ControlFields;
struct Screen;
} // namespace tarvo::screen
namespace tarvo::net {
class Transfer;
}

namespace tarvo::save {

using net::Transfer;
using screen::ControlFields;
using screen::Screen;

class Saver
{
public:
    enum class Outcome {
        NothingToSend,
        Sent,           // the server took the batch
        TransferFailed, // no answer, or an answer of 400 or more
        NotSent,        // the batch could not be built or started; "Error Occoured" was shown
    };

    // reload runs LetDataFromDatabase with the stored center id and server name.
    // inet posts the batch; the caller connects its StateChanged to Inet1_StateChanged.
    Saver(Screen &ui, ControlFields &fields, Transfer &inet, std::function<void()> reload);

    // Posts every pending change and waits inside the event loop until the transfer has
    // stopped; shows "Error Occoured" itself when nothing could be sent. Leaves the rows as
    // they are.
    Outcome SaveToDatabase();

    struct Commit
    {
        bool ok = false; // the server took the batch, or there was nothing to send
        QString answer;  // the server's text, or why nothing was saved
    };

    // Saves, then reloads; a failed save keeps the marks and offers the commit again.
    Commit cmdCommit_Click();

    // The transfer's end: the server's answer or the failure notice.
    void Inet1_StateChanged(int state);

private:
    QString fetchAnswer();

    Screen &ui;
    ControlFields &fields;
    Transfer &Inet1;
    std::function<void()> reload;
    bool m_transferFailed = false;
    QString m_answer; // of the last save
};

// The form-URL encoding of the text over code page 1252.
QString urlEncoded(const QString &text);

} // namespace tarvo::save
