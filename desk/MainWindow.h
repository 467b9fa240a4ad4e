// The desktop window around the control: a server and a center chosen in the window, Reload,
// the question before pending changes would be thrown away, and a status bar with the
// lists' counts, the pending changes and the last commit's answer.
#pragma once

#include "ServerAccess.h"

#include <QMainWindow>
#include <optional>

class CenterVendor;
class QAction;
class QLabel;
class QSettings;

namespace tarvo::desk {

class CenterBox;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Geometry, recent servers, the last center and remembered user names go to `settings`;
    // remembered passwords to `passwords`.
    MainWindow(QSettings &settings, PasswordStore &passwords, QWidget *parent = nullptr);
    ~MainWindow() override;

    CenterVendor *control() const { return m_control; }
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
    // The shown center again, from the server (F5).
    void reload();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildActions();
    void buildStatusBar();
    // The Save first / Discard / Cancel question when changes are pending; true to go on.
    bool settlePendingChanges(const QString &question);
    // Runs the control's "Commit to Database"; true when the server took every change.
    bool commitNow();
    void reached(const QString &server, qint32 center, const CenterList &list);
    void loaded(bool ok);
    void centerChosen();
    void setBusy(bool busy);
    void updateStatus();
    void updateTitle();

    QSettings &m_settings;
    ServerAccess m_access;
    CenterVendor *m_control;
    CenterBox *m_centerBox;
    QAction *m_connect = nullptr;
    QAction *m_reload = nullptr;
    QLabel *m_counts;
    QLabel *m_pending;
    QLabel *m_commit;
    QString m_server;
    qint32 m_center = 0;
    bool m_shown = false;                                // a center has been loaded at least once
    std::optional<std::pair<QString, qint32>> m_opening; // while a server is being reached
};

// Writes the window to `file` (PNG) once the first load has ended, then quits the
// application with 0, or 1 when the file could not be written or nothing loaded in time.
void screenshotAfterFirstLoad(MainWindow &window, const QString &file);

} // namespace tarvo::desk
