#include "ServerAccess.h"

#include <QPointer>
#include <QSettings>
#include <QUrl>

namespace tarvo::desk {

namespace {

QString account(const QString &user, const QString &server)
{
    return user + u'@' + server;
}

} // namespace

ServerAccess::ServerAccess(QSettings &settings, PasswordStore &passwords, AskCredentials ask,
                           QObject *parent)
    : QObject(parent), m_settings(settings), m_passwords(passwords), m_ask(std::move(ask))
{
    connect(&m_directory, &CenterDirectory::fetched, this, &ServerAccess::fetched);
}

QString ServerAccess::settingsKey(const QString &server) const
{
    // A server name holds "/" and ":", which QSettings would read as groups.
    return QStringLiteral("servers/") + QString::fromLatin1(QUrl::toPercentEncoding(server)) +
           QStringLiteral("/user");
}

QString ServerAccess::controlServerName(const QString &server) const
{
    return serverNameWith(server, m_known.value(plainServerName(server)));
}

Credentials ServerAccess::credentials(const QString &server) const
{
    return m_known.value(plainServerName(server));
}

void ServerAccess::reach(const QString &server, std::function<void(const CenterList &)> done)
{
    const QString plain = plainServerName(server);
    if (const Credentials given = credentialsIn(server); !given.isEmpty()) {
        m_known.insert(plain, given);
    }
    const int generation = ++m_generation;
    m_reach = Reach{plain, std::move(done)};
    const QString user = m_settings.value(settingsKey(plain)).toString();
    if (m_known.contains(plain) || user.isEmpty()) {
        m_directory.fetch(plain, m_known.value(plain));
        return;
    }
    m_passwords.read(account(user, plain), [this, self = QPointer(this), generation, plain,
                                            user](const StoreResult &stored) {
        if (!self || generation != m_generation) {
            return;
        }
        if (stored.status == StoreResult::Status::Ok) {
            m_known.insert(plain, {user, stored.password});
        } else {
            // Sending the user name with an empty password would only be refused, and the
            // user then told that what they typed was wrong: ask instead, saying why.
            m_userHint.insert(plain, user);
            m_note.insert(plain, stored.status == StoreResult::Status::Failed
                                     ? tr("The password remembered for %1 could not be read "
                                          "from the keyring (%2).")
                                           .arg(user, stored.message)
                                     : tr("No password is remembered for %1.").arg(user));
        }
        m_directory.fetch(plain, m_known.value(plain));
    });
}

void ServerAccess::fetched(const CenterList &list)
{
    if (!m_reach) {
        return;
    }
    const QString server = m_reach->server;
    if (list.status == CenterList::Status::NeedsCredentials) {
        const Credentials sent = m_known.value(server);
        const int generation = m_generation;
        const QString user = sent.isEmpty() ? m_userHint.value(server) : sent.user;
        const auto answer =
            m_ask(server, user, !sent.isEmpty(), sent.isEmpty() ? m_note.take(server) : QString());
        if (generation != m_generation) {
            return; // another reach began while the user was asked
        }
        if (answer) {
            m_known.insert(server, answer->credentials);
            m_remember.insert(server, answer->remember);
            m_directory.fetch(server, answer->credentials);
            return;
        }
    } else if (list.status == CenterList::Status::Ok) {
        keepOrForget(server);
    }
    const Reach reach = *std::exchange(m_reach, std::nullopt);
    reach.done(list);
}

void ServerAccess::keepOrForget(const QString &server)
{
    if (!m_remember.contains(server)) {
        return;
    }
    const bool remember = m_remember.take(server);
    m_userHint.remove(server);
    const Credentials credentials = m_known.value(server);
    const QString key = settingsKey(server);
    const QString stored = m_settings.value(key).toString();
    if (!stored.isEmpty() && (!remember || stored != credentials.user)) {
        m_passwords.remove(account(stored, server));
        m_settings.remove(key);
    }
    if (!remember) {
        return;
    }
    // The user name is kept only once its password is: a name without one would make the
    // next start ask as if the password had been wrong.
    m_passwords.write(account(credentials.user, server), credentials.password,
                      [this, self = QPointer(this), server, key,
                       user = credentials.user](const StoreResult &written) {
                          if (!self) {
                              return;
                          }
                          if (written.status == StoreResult::Status::Ok) {
                              m_settings.setValue(key, user);
                          } else {
                              m_settings.remove(key);
                              Q_EMIT passwordNotKept(server, written.message);
                          }
                      });
}

} // namespace tarvo::desk
