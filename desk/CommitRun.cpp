#include "CommitRun.h"

#include "ChangeWatch.h"
#include "MessageBar.h"
#include "StaffTexts.h"
#include "StatusFields.h"

#include <QTimer>
#include <TarvoCenterVendor/CenterVendor.h>
#include <optional>

namespace tarvo::desk {

namespace {

constexpr int kSlowCommitMs = 1000;

} // namespace

CommitRun::CommitRun(CenterVendor &control, MessageBar &bar, StatusFields &status,
                     ChangeWatch &watch, QAction &commitAction, std::function<QString()> server,
                     QObject *parent)
    : QObject(parent), m_control(control), m_bar(bar), m_status(status), m_watch(watch),
      m_commitAction(commitAction), m_server(std::move(server))
{
    m_slow.setSingleShot(true);
    m_slow.setInterval(kSlowCommitMs);
    connect(&m_slow, &QTimer::timeout, this, [this] {
        m_bar.showMessage(MessageBar::Topic::Commit, MessageBar::Kind::Information, m_waiting);
    });
    connect(&m_control, &CenterVendor::commitStarted, this, &CommitRun::started);
    connect(&m_control, &CenterVendor::commitFinished, this, &CommitRun::finished);
}

bool CommitRun::commitNow()
{
    if (!m_control.canCommit()) {
        m_bar.showMessage(MessageBar::Topic::Commit, MessageBar::Kind::Warning,
                          tr("Commit to Database is not available right now: nothing was "
                             "saved, and your changes are kept."));
        return false;
    }
    // The commit runs to its end, reload included, inside commit().
    std::optional<bool> saved;
    const auto connection =
        connect(&m_control, &CenterVendor::commitFinished, this, [&saved](bool ok) { saved = ok; });
    m_control.commit();
    disconnect(connection);
    return saved.value_or(false);
}

void CommitRun::started()
{
    m_running = true;
    m_watch.setPaused(true);
    const int count = m_control.pendingChangeCount();
    const QString server = m_server();
    m_status.showCommit(count == 1 ? tr("Committing 1 change to %1...").arg(server)
                                   : tr("Committing %1 changes to %2...").arg(count).arg(server));
    m_status.showCommitBusy(true);
    // A commit the server answers at once needs no more than the status bar; one it keeps
    // waiting is said where it is seen.
    m_waiting =
        count == 1
            ? tr("Committing 1 change to %1: waiting for the server...").arg(server)
            : tr("Committing %1 changes to %2: waiting for the server...").arg(count).arg(server);
    m_slow.start();
    Q_EMIT runningChanged(true);
}

void CommitRun::finished(bool ok, const QString &answer)
{
    m_running = false;
    m_slow.stop();
    m_watch.setPaused(false);
    m_status.showCommitBusy(false);
    const CenterVendor::CommitFailure failure = m_control.commitFailure();
    if (ok) {
        const QString shown =
            failure.reason == CenterVendor::CommitFailureReason::AlreadySaved
                ? tr("already saved")
                : (answer.trimmed().isEmpty() ? tr("nothing to save") : answer.trimmed());
        m_status.showCommit(tr("Last commit: %1").arg(shown));
        m_bar.clear(MessageBar::Topic::Commit);
    } else {
        const CommitText text = commitFailureText(failure, m_server());
        m_status.showCommit(tr("Last commit failed: %1").arg(text.summary), answer);
        m_bar.showMessage(MessageBar::Topic::Commit, MessageBar::Kind::Error, text.text,
                          {&m_commitAction}, failure.detail);
    }
    Q_EMIT runningChanged(false);
}

} // namespace tarvo::desk
