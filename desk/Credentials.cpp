#include "Credentials.h"

#include <QUrl>
#include <optional>

namespace tarvo::desk {

namespace {

// A server name QUrl can take apart; the name as typed otherwise, so that what the user sees in
// a message is what they typed.
std::optional<QUrl> serverUrl(const QString &server)
{
    QUrl url(server.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

} // namespace

QString plainServerName(const QString &server)
{
    auto url = serverUrl(server);
    if (!url) {
        QString name = server.trimmed();
        while (name.endsWith(u'/')) {
            name.chop(1);
        }
        return name;
    }
    url->setUserInfo({});
    return url->toString(QUrl::StripTrailingSlash);
}

Credentials credentialsIn(const QString &server)
{
    const QUrl url(server.trimmed());
    return {url.userName(QUrl::FullyDecoded), url.password(QUrl::FullyDecoded)};
}

QString serverNameWith(const QString &server, const Credentials &credentials)
{
    const QString plain = plainServerName(server);
    auto url = serverUrl(plain);
    if (credentials.isEmpty() || !url) {
        return plain;
    }
    // Everything outside the unreserved characters is escaped, so that a ":" or "@" in a
    // password can never be read as the end of the user information; QUrl keeps escaped
    // delimiters as they are given.
    url->setUserInfo(QString::fromLatin1(QUrl::toPercentEncoding(credentials.user) + ':' +
                                         QUrl::toPercentEncoding(credentials.password)),
                     QUrl::TolerantMode);
    return url->toString(QUrl::StripTrailingSlash | QUrl::FullyEncoded);
}

QByteArray basicAuthorization(const Credentials &credentials)
{
    return "Basic " + (credentials.user + u':' + credentials.password).toUtf8().toBase64();
}

} // namespace tarvo::desk
