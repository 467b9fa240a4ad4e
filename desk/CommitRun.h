// The life of one commit as the window shows it: under way in the status bar from
// commitStarted, said in the message bar when the server keeps it waiting, and its end (the
// server's answer, or why nothing was saved in the staff's words) once commitFinished comes.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class CenterVendor;
class QAction;

namespace tarvo::desk {

class ChangeWatch;
class MessageBar;
class StatusFields;

class CommitRun : public QObject
{
    Q_OBJECT
public:
    // `server` names the shown server; `commitAction` is offered again after a failure. None of
    // the arguments is owned.
    CommitRun(CenterVendor &control, MessageBar &bar, StatusFields &status, ChangeWatch &watch,
              QAction &commitAction, std::function<QString()> server, QObject *parent = nullptr);

    bool running() const { return m_running; }

    // Runs the control's commit to its end, reload included; true when the server took every
    // change. When the commit is not offered, says so in the message bar and returns false.
    bool commitNow();

Q_SIGNALS:
    // A commit began (true) or ended (false).
    void runningChanged(bool running);

private:
    void started();
    void finished(bool ok, const QString &answer);

    CenterVendor &m_control;
    MessageBar &m_bar;
    StatusFields &m_status;
    ChangeWatch &m_watch;
    QAction &m_commitAction;
    std::function<QString()> m_server;
    bool m_running = false;
    QTimer m_slow;     // until the server is said to keep the commit waiting
    QString m_waiting; // what is said then
};

} // namespace tarvo::desk
