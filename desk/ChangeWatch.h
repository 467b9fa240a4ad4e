// Others' commits to the shown center: watches the version the control loaded, reads the
// history when it moves, says in the message bar who changed what since the load, and keeps
// the history panel current.
#pragma once

#include "CenterWatch.h"

#include <QObject>
#include <optional>

class CenterVendor;
class QAction;

namespace tarvo::desk {

class HistoryPanel;
class MessageBar;

class ChangeWatch : public QObject
{
    Q_OBJECT
public:
    // `reloadKeeping` is offered with the message; none of the arguments is owned.
    ChangeWatch(CenterWatch &watch, CenterVendor &control, MessageBar &bar, HistoryPanel &history,
                QAction &reloadKeeping, QObject *parent = nullptr);

    // The center the control is loading next; watched from its loaded version on.
    void follow(qint32 center);
    // The load ended: a failed one shows rows that are not the center, so nothing is watched.
    void loaded(bool ok);
    // Holds the poll while the user's own commit moves the version; on again when false.
    void setPaused(bool paused);

private:
    // Watches the loaded version and reads the history it starts from.
    void watchLoadedVersion();
    void centerChanged();
    void readHistory();

    CenterWatch &m_watch;
    CenterVendor &m_control;
    MessageBar &m_bar;
    HistoryPanel &m_history;
    QAction &m_reloadKeeping;
    qint32 m_center = 0;
    bool m_shown = false;      // a load has ended
    bool m_loadFailed = false; // the last one stopped early
    bool m_paused = false;
    std::optional<HistoryRow> m_historyTop; // the newest history row at the load
};

} // namespace tarvo::desk
