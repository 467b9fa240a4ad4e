// Reaching a server: its list of centers, read with the credentials known for it, asking the
// user for them when the server answers 401. Credentials are kept for the run, and in the
// password store when the user asks for that.
#pragma once

#include "CenterDirectory.h"
#include "Credentials.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <optional>

class QSettings;

namespace tarvo::desk {

struct CredentialsAnswer
{
    Credentials credentials;
    bool remember = false;
};

class ServerAccess : public QObject
{
    Q_OBJECT
public:
    // Asks the user; empty when cancelled. `rejected` says that the last ones were refused;
    // `note`, when not empty, why nothing remembered was sent.
    using AskCredentials = std::function<std::optional<CredentialsAnswer>(
        const QString &server, const QString &user, bool rejected, const QString &note)>;

    ServerAccess(QSettings &settings, PasswordStore &passwords, AskCredentials ask,
                 QObject *parent = nullptr);

    // Reads the centers of `server`, asking for credentials as often as the server refuses
    // them; credentials in the server name's user information are tried first. `done` runs
    // once, later: Ok, Failed, or NeedsCredentials when the user cancelled.
    // A reach still running is abandoned without calling its `done`.
    void reach(const QString &server, std::function<void(const CenterList &)> done);

    // The server name to hand to the control, with the credentials known for it.
    QString controlServerName(const QString &server) const;
    // The credentials known for `server` in this run (empty when none).
    Credentials credentials(const QString &server) const;

Q_SIGNALS:
    // "Remember" was asked for but the password store refused it (no keyring, ...): the
    // credentials serve this run only, and nothing of them was kept.
    void passwordNotKept(const QString &server, const QString &why);

private:
    struct Reach
    {
        QString server;
        std::function<void(const CenterList &)> done;
    };

    void fetched(const CenterList &list);
    // After a successful read with credentials the user typed: keeps or forgets them.
    void keepOrForget(const QString &server);
    QString settingsKey(const QString &server) const;

    QSettings &m_settings;
    PasswordStore &m_passwords;
    AskCredentials m_ask;
    CenterDirectory m_directory;
    QHash<QString, Credentials> m_known; // by plain server name, for this run
    QHash<QString, bool> m_remember;     // the user's last answer to "Remember", by server
    QHash<QString, QString> m_userHint;  // a remembered user name whose password was not found
    QHash<QString, QString> m_note;      // why that password was not found
    std::optional<Reach> m_reach;
    int m_generation = 0; // tells an abandoned reach's late answers apart
};

} // namespace tarvo::desk
