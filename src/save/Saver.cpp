#include "save/Saver.h"

#include "list/VendorList.h"
#include "logic/Statements.h"
#include "logic/UrlEncode.h"
#include "net/Transfer.h"
#include "protocol/Wire.h"
#include "screen/ControlState.h"
#include "screen/Messages.h"
#include "screen/Screen.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QPushButton>

namespace tarvo::save {

using namespace tarvo::list;
using namespace tarvo::screen;

namespace {

// A transfer that ended in error, for the host.
Failure transferFailure(const net::Failure &failure, const QString &serverText,
                        const QString &detail)
{
    using Kind = net::FailureKind;
    FailureReason reason = FailureReason::ConnectionFailed;
    if (failure.kind == Kind::HttpStatus) {
        reason = failure.httpStatus == 401   ? FailureReason::NotSignedIn
                 : failure.httpStatus == 403 ? FailureReason::NoRights
                                             : FailureReason::Refused;
    } else if (failure.requestSent) {
        // The batch had left: the server may have applied it before the answer was lost.
        reason = FailureReason::OutcomeUnknown;
    } else if (failure.kind == Kind::Unreachable) {
        reason = FailureReason::Unreachable;
    } else if (failure.kind == Kind::TimedOut) {
        reason = FailureReason::TimedOut;
    }
    return {reason, failure.httpStatus, serverText, detail};
}

bool blankOnly(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == u' '; });
}

std::vector<logic::SelectedRow> selectedRows(const VendorList &list)
{
    std::vector<logic::SelectedRow> rows;
    rows.reserve(static_cast<std::size_t>(list.Count()));
    for (int i = 1; i <= list.Count(); ++i) {
        rows.push_back({std::string(list.id(i)), list.fee(i), list.dutyMark(i)});
    }
    return rows;
}

std::vector<logic::NonSelectedRow> nonSelectedRows(const VendorList &list)
{
    std::vector<logic::NonSelectedRow> rows;
    rows.reserve(static_cast<std::size_t>(list.Count()));
    for (int i = 1; i <= list.Count(); ++i) {
        rows.push_back({std::string(list.id(i)), list.dutyMark(i)});
    }
    return rows;
}

} // namespace

QString urlEncoded(const QString &text)
{
    const std::u16string_view units(reinterpret_cast<const char16_t *>(text.utf16()),
                                    static_cast<std::size_t>(text.size()));
    return QString::fromStdString(logic::urlEncode(units));
}

Saver::Saver(const ListArea &lists, const Commands &commands, const Feedback &feedback,
             ControlFields &fields, Transfer &inet, std::function<void()> reload, Replay replay)
    : lists(lists), commands(commands), feedback(feedback), fields(fields), Inet1(inet),
      reload(std::move(reload)), replay(std::move(replay))
{}

Saver::Outcome Saver::SaveToDatabase(bool quietWhenStale)
{
    m_answer.clear();
    m_failure = {};
    m_stale = false;
    m_quietWhenStale = quietWhenStale;
    try {
        feedback.surface->setCursor(Qt::WaitCursor);
        const auto statements =
            logic::buildStatements(fields.mlCenterID, selectedRows(*lists.lstVendorCenter),
                                   nonSelectedRows(*lists.lstVendors));
        const auto body = logic::buildBody(statements);
        if (body.empty()) {
            feedback.surface->unsetCursor();
            return Outcome::NothingToSend;
        }
        m_transferFailed = false;
        m_answer.clear();
        QString headers = QStringLiteral("Content-Type: application/x-www-form-urlencoded");
        if (!fields.loadedVersion.isEmpty()) {
            // Applied only while the center still is as loaded; the transfer splits header
            // lines at any CR or LF, so a tag cannot add a header of its own.
            headers += QStringLiteral("\r\n") +
                       QString::fromUtf8(protocol::header::kIfMatch.data(),
                                         protocol::header::kIfMatch.size()) +
                       QStringLiteral(": ") + fields.loadedVersion;
        }
        Inet1.Execute(fields.mtServerName +
                          QString::fromUtf8(protocol::kPage.data(), protocol::kPage.size()),
                      QStringLiteral("Post"), QString::fromStdString(body), headers);
        if (Inet1.StillExecuting()) {
            // Events, repaints and the transfer's own state event are served meanwhile.
            QEventLoop wait;
            QObject::connect(&Inet1, &Transfer::stopped, &wait, &QEventLoop::quit);
            wait.exec();
        }
        feedback.surface->unsetCursor();
        if (m_stale) {
            return Outcome::Stale;
        }
        return m_transferFailed ? Outcome::TransferFailed : Outcome::Sent;
    } catch (const std::exception &error) {
        feedback.surface->unsetCursor();
        flushLists(lists);
        m_answer = QStringLiteral("Error Occoured");
        m_failure = {FailureReason::BatchNotBuilt, 0, {}, QString::fromUtf8(error.what())};
        showMessage(feedback.surface, m_answer, vbCritical, QStringLiteral("Information"),
                    QString::fromUtf8(error.what()));
        return Outcome::NotSent;
    }
}

Saver::Commit Saver::cmdCommit_Click()
{
    for (auto *button : {commands.cmdAdd, commands.cmdAddAll, commands.cmdDelete,
                         commands.cmdRemoveAll, commands.cmdCommit}) {
        button->setEnabled(false);
    }
    fields.committing = true;
    const auto stop = [this](bool ok, const QString &answer) {
        fields.committing = false;
        if (!ok) {
            commands.cmdCommit->setEnabled(true);
        }
        return Commit{ok, answer, m_failure};
    };
    for (int round = 0;; ++round) {
        const Outcome outcome = SaveToDatabase(true);
        feedback.prbLoad->setValue(0);
        if (outcome == Outcome::TransferFailed || outcome == Outcome::NotSent) {
            // Reloading now would throw away every change the server did not take.
            return stop(false, m_answer);
        }
        if (outcome != Outcome::Stale) {
            break;
        }
        const QString reason = m_answer;
        const auto refused = [&](FailureReason why, const QString &detail) {
            m_failure = {why, 412, reason, detail};
        };
        switch (replay(reason)) {
        case replay::Outcome::Done:
            refused(FailureReason::AlreadySaved,
                    QStringLiteral("The server already holds every pending change."));
            reload();
            return stop(true, QString());
        case replay::Outcome::Collision:
            refused(FailureReason::Collisions, QStringLiteral("Someone else changed the same "
                                                              "vendors; nothing was saved and "
                                                              "your changes are kept. ") +
                                                   reason);
            return stop(false, QStringLiteral("Someone else changed the same vendors; nothing "
                                              "was saved and your changes are kept. ") +
                                   reason);
        case replay::Outcome::Failed: {
            const QString detail =
                QStringLiteral("The center changed since it was loaded and could not be read "
                               "again; your changes are kept.");
            refused(FailureReason::NotReadAgain, detail);
            showMessage(feedback.surface, QStringLiteral("Error During saving to Database"),
                        vbOKOnly, {}, detail);
            return stop(false, detail);
        }
        case replay::Outcome::Replay:
            break;
        }
        if (round >= MaxReplayRounds) {
            const QString detail =
                QStringLiteral("The center kept changing while your changes were sent; nothing "
                               "was saved and your changes are kept on the fresh lists. Commit "
                               "again.");
            refused(FailureReason::KeptChanging, detail);
            showMessage(feedback.surface, QStringLiteral("Error During saving to Database"),
                        vbOKOnly, {}, detail);
            return stop(false, detail);
        }
    }
    reload();
    return stop(true, m_answer);
}

QString Saver::fetchAnswer()
{
    QString answer;
    QString piece = Inet1.GetChunk(1024, Transfer::icString);
    QCoreApplication::processEvents();
    for (;;) {
        answer += piece;
        piece = Inet1.GetChunk(1024, Transfer::icString);
        QCoreApplication::processEvents();
        if (piece.isEmpty()) {
            break;
        }
    }
    return answer;
}

void Saver::Inet1_StateChanged(int state)
{
    if (state == Transfer::icError && m_quietWhenStale && Inet1.httpStatus() == 412) {
        // The commit reads the center again and replays; the user sees the outcome of that.
        m_stale = true;
        m_answer = fetchAnswer().trimmed();
        m_failure = {FailureReason::KeptChanging, 412, m_answer, m_answer};
        return;
    }
    if (state == Transfer::icError) {
        m_transferFailed = true;
        const QString said = Inet1.httpStatus() >= 400 ? fetchAnswer().trimmed() : QString();
        const QString detail = said.isEmpty() ? Inet1.errorString() : said;
        m_answer = detail;
        m_failure = transferFailure(Inet1.failure(), said, detail);
        showMessage(feedback.surface, QStringLiteral("Error During saving to Database"), vbOKOnly,
                    {}, detail);
        return;
    }
    if (state == Transfer::icResponseCompleted) {
        const QString answer = fetchAnswer();
        m_answer = answer;
        if (!blankOnly(answer)) {
            showMessage(feedback.surface, answer, vbInformation,
                        QStringLiteral("Center Vendor Cross Reference"));
        }
    }
}

} // namespace tarvo::save
