#include "StaffTexts.h"

#include <QCoreApplication>
#include <QUrl>

namespace tarvo::desk {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("tarvo::desk::StaffTexts", text);
}

bool isSecure(const QString &server)
{
    return QUrl(server).scheme().compare(QStringLiteral("https"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString loadFailureText(const CenterVendor::LoadFailure &failure, qint32 center,
                        const QString &server)
{
    using Reason = CenterVendor::LoadFailureReason;
    QString why;
    switch (failure.reason) {
    case Reason::None:
        return {};
    case Reason::Unreachable:
        why = tr("the server %1 cannot be reached. It may be stopped, or its name or port may be "
                 "wrong.")
                  .arg(server);
        break;
    case Reason::TimedOut:
        why = tr("the server %1 did not answer in time.").arg(server);
        break;
    case Reason::ConnectionFailed:
        why = isSecure(server)
                  ? tr("no secure connection to %1 could be made. This computer may not trust "
                       "its certificate, or the server may not use secure connections (then its "
                       "name begins with http://).")
                        .arg(server)
                  : tr("the server %1 broke off the connection. If it uses secure connections, "
                       "its name must begin with https://.")
                        .arg(server);
        break;
    case Reason::NotSignedIn:
        why = tr("the server did not accept your user name and password.");
        break;
    case Reason::NoRights:
        why = tr("your user name may not see this center. Choose another center, or ask your "
                 "administrator for access.");
        break;
    case Reason::NoSuchPage:
        why = tr("%1 does not offer center vendor lists. Check the server name.").arg(server);
        break;
    case Reason::ServerError:
        why = tr("the server %1 ran into an error (%2). Try again later, or tell your "
                 "administrator.")
                  .arg(server)
                  .arg(failure.httpStatus);
        break;
    case Reason::BadAnswer:
        why = tr("the server's answer could not be read. Tell your administrator.");
        break;
    case Reason::KeptChanging:
        why = tr("others kept changing it while it was read. Reload in a moment.");
        break;
    }
    return tr("Center %1 could not be loaded: %2").arg(center).arg(why);
}

CommitText commitFailureText(const CenterVendor::CommitFailure &failure, const QString &server)
{
    using Reason = CenterVendor::CommitFailureReason;
    const QString kept = tr("Your changes are kept.");
    switch (failure.reason) {
    case Reason::None:
    case Reason::AlreadySaved:
        return {};
    case Reason::BatchNotBuilt:
        return {
            tr("not sent"),
            tr("Nothing was sent: the changes could not be prepared for the server. %1").arg(kept)};
    case Reason::Unreachable:
        return {tr("server not reached"),
                tr("Nothing was saved: the server %1 cannot be reached. %2 Commit again once it "
                   "is back.")
                    .arg(server, kept)};
    case Reason::TimedOut:
        return {tr("no answer"),
                tr("Nothing was saved: the server %1 did not answer in time. %2 Commit again "
                   "once it is back.")
                    .arg(server, kept)};
    case Reason::OutcomeUnknown:
        return {tr("no answer"),
                tr("The server %1 did not answer in time, so it is not known whether the changes "
                   "were saved. %2 Commit again to make sure.")
                    .arg(server, kept)};
    case Reason::ConnectionFailed:
        return {tr("connection failed"),
                tr("Nothing was saved: the connection to %1 failed. %2").arg(server, kept)};
    case Reason::NotSignedIn:
        return {tr("not signed in"),
                tr("Nothing was saved: the server did not accept your user name and password. %1")
                    .arg(kept)};
    case Reason::NoRights:
        return {tr("no rights"),
                tr("Nothing was saved: your user name may not change this center. %1 Ask your "
                   "administrator for access.")
                    .arg(kept)};
    case Reason::Collisions:
        return {tr("changed by someone else"),
                tr("Nothing was saved: someone else changed the same vendors since you loaded "
                   "the center. %1 Commit again to save what you chose to keep.")
                    .arg(kept)};
    case Reason::KeptChanging:
    case Reason::NotReadAgain:
        return {tr("center kept changing"),
                tr("Nothing was saved: others kept changing the center while your changes were "
                   "sent. %1 Commit again.")
                    .arg(kept)};
    case Reason::Refused:
        break;
    }
    // The server's own reason for refusing the batch, its first line.
    const QString reason = failure.serverText.section(u'\n', 0, 0);
    return {tr("refused by the server"),
            tr("The server refused the changes and saved none of them. %1 It says: %2")
                .arg(kept, reason.isEmpty() ? tr("(no reason given)") : reason)};
}

} // namespace tarvo::desk
