// Chooses a server (recent ones offered) and a center (from the server's list, or typed).
#pragma once

#include <QDialog>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class QSettings;

namespace tarvo::desk {

class CenterBox;
class ServerAccess;
struct CenterList;

// Places `dialog` over the middle of `over`'s window (the window manager may not, before the
// window has been placed itself); nothing when `over` is null.
void centreOn(QWidget &dialog, const QWidget *over);

// Why `server` cannot name a server ("http://host:port" or "https://..."); empty when it can.
QString serverNameProblem(const QString &server);

class ConnectionDialog : public QDialog
{
    Q_OBJECT
public:
    ConnectionDialog(QSettings &settings, ServerAccess &access, QWidget *parent = nullptr);

    // Fills the server and center boxes; the centers are asked for at once.
    void preset(const QString &server, std::optional<qint32> center);
    QString server() const;
    std::optional<qint32> center() const;

    // The servers most recently connected to, newest first.
    static QStringList recentServers(QSettings &settings);
    static void addRecentServer(QSettings &settings, const QString &server);

private:
    void findCenters();
    void showCenters(const QString &server, const CenterList &list);
    void updateOk();

    ServerAccess &m_access;
    QComboBox *m_server;
    QPushButton *m_find;
    CenterBox *m_center;
    QLabel *m_note;
    QPushButton *m_ok;
    bool m_problemShown = false; // the note says what is wrong with the server name
};

} // namespace tarvo::desk
