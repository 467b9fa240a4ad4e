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

// A commit's failure (the control's commitFailure) for staff; empty texts for a commit that
// saved (reason None or AlreadySaved).
CommitText commitFailureText(const CenterVendor::CommitFailure &failure, const QString &server);

} // namespace tarvo::desk
