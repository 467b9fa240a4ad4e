// The desktop window around the control: a server and a center chosen in the window, Reload,
// Commit (Ctrl+S), the question before pending changes would be thrown away, a message bar
// that says why a load or commit failed, and a status bar with the lists' counts, the pending
// changes and the last commit's answer.
#pragma once

#include "CenterWatch.h"
#include "ServerAccess.h"

#include <QMainWindow>
#include <functional>
#include <optional>

class CenterVendor;
class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QSettings;
class QTableWidget;

namespace tarvo::desk {

class CenterBox;
class CenterWatch;
class ElidedLabel;
class MessageBar;

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
    // Follows the enabled state of "Commit to Database" for the Commit action.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildActions();
    void buildStatusBar();
    enum class Settled { Proceed, KeepChanges, Cancel };
    // The Save first / Discard / Cancel question when changes are pending, asking
    // `questionOne` or `questionMany` by their number; with `offerKeep` (a reload of the same
    // center) also "Reload and keep my changes".
    Settled settle(const QString &questionOne, const QString &questionMany, bool offerKeep);
    bool settlePendingChanges(const QString &questionOne, const QString &questionMany)
    {
        return settle(questionOne, questionMany, false) == Settled::Proceed;
    }
    void buildHistory();
    // Watches the loaded version and reads the history it starts from.
    void watchLoadedVersion();
    void centerChanged();
    void showHistory(const QList<HistoryRow> &rows);
    // Runs the control's "Commit to Database"; true when the server took every change.
    bool commitNow();
    void reached(const QString &server, qint32 center, const CenterList &list);
    void loaded(bool ok);
    // Grows the window by what the message bar would take from the control, so that a message
    // never hides part of the lists; gives the room back when the bar goes.
    void makeRoomForBar(bool shown);
    void centerChosen();
    void setBusy(bool busy);
    // A commit is under way from the press of its button until commitFinished.
    void commitStarting();
    void commitEnded(bool ok, const QString &answer);
    void updateActions();
    // The lists' row counts.
    void updateStatus();
    void showPending(int count);
    void updateTitle();
    // The list the keyboard works in after a load or commit: the one that had the focus, else
    // "Selected Vendors".
    void focusList();
    QPushButton *commitButton() const;

    QSettings &m_settings;
    ServerAccess m_access;
    CenterVendor *m_control;
    CenterBox *m_centerBox;
    QAction *m_connect = nullptr;
    QAction *m_reload = nullptr;
    QAction *m_commitAction = nullptr;
    QAction *m_retry = nullptr;
    QAction *m_reloadKeeping = nullptr;
    QTableWidget *m_history = nullptr;
    std::optional<HistoryRow> m_historyTop; // the newest history row at the load
    MessageBar *m_bar;
    QLabel *m_counts;
    QLabel *m_pending;
    ElidedLabel *m_commit;
    QProgressBar *m_commitBusy;
    CenterWatch *m_watch;
    QString m_server;
    qint32 m_center = 0;
    int m_roomForBar = 0;      // what the window grew by for the message bar
    bool m_shown = false;      // a center has been loaded at least once
    bool m_loadFailed = false; // the last load stopped early: what the lists show is not the center
    bool m_busy = false;       // a server is being reached
    bool m_committing = false;
    QWidget *m_focusBeforeLoad = nullptr;
    std::optional<std::pair<QString, qint32>> m_failed;  // the center whose load failed, for Retry
    std::optional<std::pair<QString, qint32>> m_opening; // while a server is being reached
};

// Runs `run` once the window manager has placed `window` (its first exposure, or after two
// seconds without one), so that dialogs it opens can be centred on it.
void whenPlaced(QWidget &window, std::function<void()> run);

// Writes the window to `file` (PNG) once the first load has ended, then quits the
// application with 0, or 1 when the file could not be written or nothing loaded in time.
void screenshotAfterFirstLoad(MainWindow &window, const QString &file);

} // namespace tarvo::desk
