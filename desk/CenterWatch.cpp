#include "CenterWatch.h"

#include "protocol/Fee.h"
#include "protocol/History.h"
#include "protocol/Wire.h"

#include <QNetworkReply>

namespace tarvo::desk {

namespace {

// Between the 5 and 10 s the staff may wait to hear of another's commit.
constexpr int kPollMs = 7'000;
constexpr int kTimeoutMs = 5'000;

QString percentOf(const std::optional<protocol::HistoryValue> &value)
{
    if (!value || !value->feeHundredths) {
        return {};
    }
    return QString::fromStdString(protocol::percentText(*value->feeHundredths));
}

QByteArray latin1(std::string_view name)
{
    return QByteArray(name.data(), static_cast<qsizetype>(name.size()));
}

} // namespace

std::optional<QList<HistoryRow>> readHistory(const QByteArray &xml)
{
    const protocol::HistoryReading reading =
        protocol::readHistory(std::string_view(xml.constData(), std::size_t(xml.size())));
    if (!reading.ok()) {
        return std::nullopt;
    }
    QList<HistoryRow> rows;
    rows.reserve(qsizetype(reading.records.size()));
    for (const protocol::HistoryRecord &record : reading.records) {
        HistoryRow row;
        row.when = QString::fromStdString(record.when);
        row.user = QString::fromStdString(record.user);
        row.vendorId = QString::fromStdString(record.vendorId);
        row.action = QString::fromLatin1(latin1(protocol::actionName(record.action)));
        row.fee = percentOf(record.after);
        row.oldFee = percentOf(record.before);
        rows << row;
    }
    return rows;
}

ChangesSince changesSince(const QList<HistoryRow> &rows, const std::optional<HistoryRow> &since)
{
    ChangesSince changes;
    for (const HistoryRow &row : rows) {
        if (since && row == *since) {
            break;
        }
        ++changes.count;
        if (!changes.users.contains(row.user)) {
            changes.users << row.user;
        }
    }
    return changes;
}

CenterWatch::CenterWatch(MakeRequest make, QObject *parent)
    : QObject(parent), m_make(std::move(make))
{
    m_timer.setInterval(kPollMs);
    connect(&m_timer, &QTimer::timeout, this, &CenterWatch::poll);
}

void CenterWatch::watch(qint32 center, const QString &version)
{
    ++m_generation;
    if (m_reply) {
        m_reply->abort();
    }
    m_center = center;
    m_version = version;
    m_told.clear();
    if (version.isEmpty()) {
        m_timer.stop();
    } else {
        m_timer.start();
    }
}

void CenterWatch::setPaused(bool paused)
{
    m_paused = paused;
    if (paused) {
        ++m_generation;
        if (m_reply) {
            m_reply->abort();
        }
    }
}

void CenterWatch::setInterval(int ms)
{
    m_timer.setInterval(ms);
}

void CenterWatch::poll()
{
    if (m_paused || m_reply || m_version.isEmpty()) {
        return;
    }
    QNetworkRequest request =
        m_make(QString::fromStdString(protocol::queryText(protocol::Query::Count, m_center)));
    request.setTransferTimeout(kTimeoutMs);
    request.setRawHeader(latin1(protocol::header::kIfNoneMatch), m_version.toUtf8());
    // A cache between would answer for the server; the question is what the server holds now.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    QNetworkReply *reply = m_network.get(request);
    m_reply = reply;
    const int generation = m_generation;
    connect(reply, &QNetworkReply::finished, this, [this, reply, generation] {
        reply->deleteLater();
        if (m_reply == reply) {
            m_reply = nullptr;
        }
        if (generation != m_generation) {
            return;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QString tag = QString::fromUtf8(reply->rawHeader(latin1(protocol::header::kETag)));
        // A failed poll says nothing; the next one asks again.
        if (status == 200 && !tag.isEmpty() && tag != m_version && tag != m_told) {
            m_told = tag;
            Q_EMIT changed(tag);
        }
    });
}

void CenterWatch::readHistory(qint32 center, int limit,
                              std::function<void(const std::optional<QList<HistoryRow>> &)> done)
{
    QNetworkRequest request =
        m_make(QString::fromStdString(protocol::historyQueryText(center, limit)));
    request.setTransferTimeout(kTimeoutMs);
    QNetworkReply *reply = m_network.get(request);
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError || status != 200) {
            done(std::nullopt);
            return;
        }
        done(tarvo::desk::readHistory(reply->readAll()));
    });
}

} // namespace tarvo::desk
