#include "Credentials.h"

#include <QUrl>

namespace tarvo::desk {

QString plainServerName(const QString &server)
{
    QString name = server.trimmed();
    while (name.endsWith(u'/')) {
        name.chop(1);
    }
    const qsizetype scheme = name.indexOf(QStringLiteral("://"));
    const qsizetype hostStart = scheme < 0 ? 0 : scheme + 3;
    const qsizetype at = name.indexOf(u'@', hostStart);
    const qsizetype pathStart = name.indexOf(u'/', hostStart);
    if (at >= 0 && (pathStart < 0 || at < pathStart)) {
        name.remove(hostStart, at + 1 - hostStart);
    }
    return name;
}

QString serverNameWith(const QString &server, const Credentials &credentials)
{
    const QString plain = plainServerName(server);
    if (credentials.isEmpty()) {
        return plain;
    }
    const qsizetype scheme = plain.indexOf(QStringLiteral("://"));
    const qsizetype hostStart = scheme < 0 ? 0 : scheme + 3;
    // Everything outside the unreserved characters is escaped, so that a ":" or "@" in a
    // password can never be read as the end of the user information.
    const QString userInfo = QString::fromLatin1(QUrl::toPercentEncoding(credentials.user)) + u':' +
                             QString::fromLatin1(QUrl::toPercentEncoding(credentials.password)) +
                             u'@';
    return QString(plain).insert(hostStart, userInfo);
}

QByteArray basicAuthorization(const Credentials &credentials)
{
    return "Basic " + (credentials.user + u':' + credentials.password).toUtf8().toBase64();
}

} // namespace tarvo::desk
