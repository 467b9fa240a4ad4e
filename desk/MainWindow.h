// The desktop window around the control: a server and a center chosen in the window, Reload,
// Commit (Ctrl+S), the question before pending changes would be thrown away, a message bar
// that says why a load or commit failed, and a status bar with the lists' counts, the pending
// changes and the last commit's answer. The window reaches servers and loads centers; its
// other concerns are parts of their own (StatusFields, CommitRun, ChangeWatch, HistoryPanel,
// PendingQuestion, BarRoom).
#pragma once

#include "CenterWatch.h"
#include "PendingQuestion.h"
#include "ServerAccess.h"

#include <QMainWindow>
#include <TarvoCenterVendor/CenterVendor.h>
#include <memory>
#include <optional>

class QAction;
class QSettings;
class QToolBar;

namespace tarvo::desk {

class BarRoom;
class CenterBox;
class CenterWatch;
class ChangeWatch;
class CommitRun;
class HistoryPanel;
class MessageBar;
class StatusFields;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Geometry, recent servers, the last center and remembered user names go to `settings`;
    // remembered passwords to `passwords`.
    MainWindow(QSettings &settings, PasswordStore &passwords, QWidget *parent = nullptr);
    ~MainWindow() override;

    CenterVendor *control() const { return m_control; }
    // The bar above the control; one message at a time, whoever shows it.
    MessageBar *messageBar() const { return m_bar; }
    QString server() const { return m_server; }
    qint32 center() const { return m_center; }

    // Opens `center` of `server` when both are given; otherwise the connection dialog, filled
    // with what is given or else with the last run's server and center.
    void start(const QString &server, std::optional<qint32> center);

    // Shows `center` of `server` after settling pending changes and reaching the server;
    // returns at once (the control's loadFinished tells when it is shown), false when the
    // user chose Cancel.
    bool openCenter(const QString &server, qint32 center);

    // The connection dialog; opens what it chose.
    void chooseConnection();
    // The shown center again, from the server (F5); after a failed load, the center that failed.
    void reload();
    // The control's "Commit to Database" (Ctrl+S), when it is offered.
    void commit();
    // The shown center again, keeping the pending changes (the control's replaying reload).
    void reloadKeepingChanges();
    // The poll for other people's commits; tests shorten its interval.
    CenterWatch *watch() const { return m_watch; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The menu's actions and the center bar, which it returns.
    QToolBar *buildActions();
    void buildHistory();
    Settled settle(const PendingQuestion &question);
    void reached(const QString &server, qint32 center, const CenterList &list);
    void loaded(bool ok);
    void centerChosen();
    void setBusy(bool busy);
    void commitRunning(bool running);
    void updateActions();
    void updateTitle();
    // The list the keyboard works in after a load or commit: the one that had the focus, else
    // "Selected Vendors".
    void focusList();

    QSettings &m_settings;
    ServerAccess m_access;
    CenterVendor *m_control;
    CenterBox *m_centerBox;
    QAction *m_connect = nullptr;
    QAction *m_reload = nullptr;
    QAction *m_commitAction = nullptr;
    QAction *m_retry = nullptr;
    QAction *m_reloadKeeping = nullptr;
    MessageBar *m_bar;
    CenterWatch *m_watch;
    HistoryPanel *m_history = nullptr;
    std::unique_ptr<StatusFields> m_status;
    ChangeWatch *m_changes = nullptr;
    CommitRun *m_commits = nullptr;
    BarRoom *m_room = nullptr;
    QString m_server;
    qint32 m_center = 0;
    bool m_shown = false;      // a center has been loaded at least once
    bool m_loadFailed = false; // the last load stopped early: what the lists show is not the center
    bool m_busy = false;       // a server is being reached
    // The list that had the keyboard when a load began, when it was "Non Selected".
    std::optional<CenterVendor::List> m_focusBeforeLoad;
    std::optional<std::pair<QString, qint32>> m_failed;  // the center whose load failed, for Retry
    std::optional<std::pair<QString, qint32>> m_opening; // while a server is being reached
};

} // namespace tarvo::desk
