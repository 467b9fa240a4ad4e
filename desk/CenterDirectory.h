// The list of centers a server offers (GET <server>/CenterVendor.asp?centers=1), read with
// Qt's network access so that the window stays responsive while it arrives.
#pragma once

#include "Credentials.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <optional>

class QNetworkReply;

namespace tarvo::desk {

struct CenterEntry
{
    qint32 id = 0;
    QString name;
    int code = 0;
    bool operator==(const CenterEntry &) const = default;
};

struct CenterList
{
    enum class Status {
        Ok,
        NeedsCredentials, // the server answered 401
        Failed,           // no answer, another error status, or an answer that is no list
    };
    Status status = Status::Failed;
    QList<CenterEntry> centers;
    QString message; // why it failed; empty when Ok
};

// Reads the answer: under the document element one list element holding one element per
// center, whose first three child elements are the id, the name and the center code.
// Empty when the answer is not such a list.
std::optional<QList<CenterEntry>> readCenters(const QByteArray &xml);

// A GET of the server page with `query`, trusting what the control trusts and carrying the
// credentials when there are any. Surprise: a server name's user information is dropped; only
// `credentials` are sent.
QNetworkRequest pageRequest(const QString &server, const QString &query,
                            const Credentials &credentials);

class CenterDirectory : public QObject
{
    Q_OBJECT
public:
    explicit CenterDirectory(QObject *parent = nullptr);
    ~CenterDirectory() override;

    // Asks `server` for its centers; fetched() follows exactly once, later. A fetch still
    // running is abandoned without an answer.
    void fetch(const QString &server, const Credentials &credentials);

Q_SIGNALS:
    void fetched(const tarvo::desk::CenterList &list);

private:
    void finish(QNetworkReply *reply);

    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_reply;
};

} // namespace tarvo::desk
