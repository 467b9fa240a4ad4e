#include "ChangeWatch.h"

#include "HistoryPanel.h"
#include "MessageBar.h"

#include <QLocale>
#include <TarvoCenterVendor/CenterVendor.h>

namespace tarvo::desk {

namespace {

// History rows read for the panel and for counting others' changes since the load.
constexpr int kHistoryRows = 50;

} // namespace

ChangeWatch::ChangeWatch(CenterWatch &watch, CenterVendor &control, MessageBar &bar,
                         HistoryPanel &history, QAction &reloadKeeping, QObject *parent)
    : QObject(parent), m_watch(watch), m_control(control), m_bar(bar), m_history(history),
      m_reloadKeeping(reloadKeeping)
{
    // The control's own commits move the version it loaded: they are not someone else's.
    connect(&m_control, &CenterVendor::loadedVersionChanged, this,
            &ChangeWatch::watchLoadedVersion);
    connect(&m_watch, &CenterWatch::changed, this, &ChangeWatch::centerChanged);
    connect(&m_history, &HistoryPanel::opened, this, &ChangeWatch::readHistory);
}

void ChangeWatch::follow(qint32 center)
{
    m_center = center;
}

void ChangeWatch::loaded(bool ok)
{
    m_shown = true;
    m_loadFailed = !ok;
    watchLoadedVersion();
}

void ChangeWatch::setPaused(bool paused)
{
    m_paused = paused;
    m_watch.setPaused(paused);
}

void ChangeWatch::readHistory()
{
    if (!m_shown) {
        return;
    }
    m_watch.readHistory(m_center, kHistoryRows, [this](const auto &rows) {
        if (rows) {
            m_history.showRows(*rows);
        }
    });
}

void ChangeWatch::watchLoadedVersion()
{
    m_bar.clear(MessageBar::Topic::Changed);
    m_watch.watch(m_center, m_loadFailed ? QString() : m_control.loadedVersion());
    m_historyTop.reset();
    if (m_control.loadedVersion().isEmpty()) {
        return;
    }
    const qint32 center = m_center;
    m_watch.readHistory(center, kHistoryRows, [this, center](const auto &rows) {
        if (rows && center == m_center) {
            m_historyTop = rows->isEmpty() ? std::nullopt : std::optional(rows->front());
            m_history.showRows(*rows);
        }
    });
}

void ChangeWatch::centerChanged()
{
    const qint32 center = m_center;
    m_watch.readHistory(center, kHistoryRows, [this, center](const auto &rows) {
        if (center != m_center || m_paused) {
            return;
        }
        QString text = tr("Someone else changed center %1 since you loaded it.").arg(center);
        if (rows) {
            m_history.showRows(*rows);
            const ChangesSince changes = changesSince(*rows, m_historyTop);
            if (!changes.users.isEmpty()) {
                text = (changes.count == 1
                            ? tr("%1 changed center %2 since you loaded it (1 change).")
                            : tr("%1 changed center %2 since you loaded it (%3 changes)."))
                           .arg(QLocale().createSeparatedList(changes.users))
                           .arg(center)
                           .arg(changes.count);
            }
        }
        if (m_control.hasPendingChanges()) {
            text += u' ' + tr("Your changes are kept when you reload this way.");
        }
        m_bar.showMessage(MessageBar::Topic::Changed, MessageBar::Kind::Information, text,
                          {&m_reloadKeeping});
    });
}

} // namespace tarvo::desk
