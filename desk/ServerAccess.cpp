#include "ServerAccess.h"

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

void ServerAccess::reach(const QString &server, std::function<void(const CenterList &)> done)
{
    const QString plain = plainServerName(server);
    const int generation = ++m_generation;
    m_reach = Reach{plain, std::move(done)};
    const QString user = m_settings.value(settingsKey(plain)).toString();
    if (m_known.contains(plain) || user.isEmpty()) {
        m_directory.fetch(plain, m_known.value(plain));
        return;
    }
    m_passwords.read(account(user, plain),
                     [this, generation, plain, user](const QString &password) {
                         if (generation != m_generation) {
                             return;
                         }
                         m_known.insert(plain, {user, password});
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
        const auto answer = m_ask(server, sent.user, !sent.isEmpty());
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
    const Credentials credentials = m_known.value(server);
    const QString key = settingsKey(server);
    const QString stored = m_settings.value(key).toString();
    if (!stored.isEmpty() && (!remember || stored != credentials.user)) {
        m_passwords.remove(account(stored, server));
        m_settings.remove(key);
    }
    if (remember) {
        m_settings.setValue(key, credentials.user);
        m_passwords.write(account(credentials.user, server), credentials.password);
    }
}

} // namespace tarvo::desk
