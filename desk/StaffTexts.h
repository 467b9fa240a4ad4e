// What a failed load or commit means for the person at the desk, in their words; the
// technical text stays available as the details.
#pragma once

#include <QString>
#include <TarvoCenterVendor/CenterVendor.h>

namespace tarvo::desk {

// Why center `center` of `server` is not shown, as one or two sentences.
QString loadFailureText(const CenterVendor::LoadFailure &failure, qint32 center,
                        const QString &server);

struct CommitText
{
    QString summary; // short, for the status bar
    QString text;    // what happened and what to do, for the message bar
};

// A failed commit's `answer` (the control's commitFinished text) for staff.
CommitText commitFailureText(const QString &answer, const QString &server);

} // namespace tarvo::desk
