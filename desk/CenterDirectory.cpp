#include "CenterDirectory.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>
#include <QXmlStreamReader>

namespace tarvo::desk {

namespace {

constexpr int kTimeoutMs = 15'000;

} // namespace

std::optional<QList<CenterEntry>> readCenters(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement()) {
        return std::nullopt;
    }
    QList<CenterEntry> centers;
    if (reader.readNextStartElement()) {
        while (reader.readNextStartElement()) {
            QStringList fields;
            while (reader.readNextStartElement()) {
                fields << reader.readElementText(QXmlStreamReader::IncludeChildElements);
            }
            bool idOk = false;
            bool codeOk = true;
            CenterEntry entry;
            entry.id = fields.value(0).trimmed().toInt(&idOk);
            entry.name = fields.value(1).trimmed();
            if (fields.size() > 2) {
                entry.code = fields.value(2).trimmed().toInt(&codeOk);
            }
            if (!idOk || !codeOk) {
                return std::nullopt;
            }
            centers << entry;
        }
    }
    if (reader.hasError()) {
        return std::nullopt;
    }
    return centers;
}

QNetworkRequest pageRequest(const QString &server, const QString &query,
                            const Credentials &credentials)
{
    QNetworkRequest request(
        QUrl(plainServerName(server) + QStringLiteral("/CenterVendor.asp?") + query));
    request.setTransferTimeout(kTimeoutMs);
    // The control's transport trusts only the authorities of the file CURL_CA_BUNDLE names,
    // when it is set; the window's own requests must reach the same servers.
    if (const QString bundle = qEnvironmentVariable("CURL_CA_BUNDLE"); !bundle.isEmpty()) {
        // Read once per file: a system bundle takes long to parse, and the window polls.
        static QString readPath;
        static QList<QSslCertificate> read;
        if (bundle != readPath) {
            read = QSslCertificate::fromPath(bundle);
            readPath = bundle;
        }
        QSslConfiguration ssl = request.sslConfiguration();
        ssl.setCaCertificates(read);
        request.setSslConfiguration(ssl);
    }
    if (!credentials.isEmpty()) {
        request.setRawHeader("Authorization", basicAuthorization(credentials));
    }
    return request;
}

CenterDirectory::CenterDirectory(QObject *parent) : QObject(parent) {}

CenterDirectory::~CenterDirectory()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void CenterDirectory::fetch(const QString &server, const Credentials &credentials)
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    QNetworkRequest request = pageRequest(server, QStringLiteral("centers=1"), credentials);
    m_reply = m_network.get(request);
    QNetworkReply *reply = m_reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void CenterDirectory::finish(QNetworkReply *reply)
{
    reply->deleteLater();
    m_reply = nullptr;
    CenterList list;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 401) {
        list.status = CenterList::Status::NeedsCredentials;
        list.message = tr("The server asks for a user name and password.");
    } else if (reply->error() != QNetworkReply::NoError) {
        list.message = reply->errorString();
    } else if (auto centers = readCenters(reply->readAll())) {
        list.status = CenterList::Status::Ok;
        list.centers = std::move(*centers);
    } else {
        list.message = tr("The server's list of centers could not be read.");
    }
    Q_EMIT fetched(list);
}

} // namespace tarvo::desk
