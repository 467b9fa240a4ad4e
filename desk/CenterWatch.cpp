#include "CenterWatch.h"

#include <QNetworkReply>
#include <QXmlStreamReader>
#include <vector>

namespace tarvo::desk {

namespace {

// Between the 5 and 10 s the staff may wait to hear of another's commit.
constexpr int kPollMs = 7'000;
constexpr int kTimeoutMs = 5'000;

QString percent(const QString &fraction)
{
    bool ok = false;
    const double value = fraction.trimmed().toDouble(&ok);
    return ok ? QString::number(value * 100, 'f', 2) : QString();
}

} // namespace

std::optional<QList<HistoryRow>> readHistory(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    // Each open element collects its leaf children by lower-case name.
    std::vector<QHash<QString, QString>> open;
    QString text;
    QList<HistoryRow> rows;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            open.emplace_back();
            text.clear();
            break;
        case QXmlStreamReader::Characters:
            text += reader.text();
            break;
        case QXmlStreamReader::EndElement: {
            const QHash<QString, QString> fields = open.back();
            open.pop_back();
            if (fields.isEmpty()) {
                if (!open.empty()) {
                    open.back().insert(reader.name().toString().toLower(), text.trimmed());
                }
            } else if (fields.contains(QStringLiteral("vendorid"))) {
                HistoryRow row;
                row.vendorId = fields.value(QStringLiteral("vendorid"));
                row.user = fields.value(QStringLiteral("username"), fields.value("user"));
                row.when = fields.value(QStringLiteral("changedat"), fields.value("when"));
                row.action = fields.value(QStringLiteral("action"));
                if (row.action != QStringLiteral("remove")) {
                    row.fee =
                        percent(fields.value(QStringLiteral("fee"), fields.value("handlingfee")));
                }
                rows << row;
            }
            text.clear();
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError()) {
        return std::nullopt;
    }
    for (int i = 0; i < rows.size(); ++i) {
        for (int older = i + 1; older < rows.size(); ++older) {
            if (rows[older].vendorId == rows[i].vendorId) {
                rows[i].oldFee = rows[older].fee;
                break;
            }
        }
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
    QNetworkRequest request = m_make(QStringLiteral("count=1&centerID=%1").arg(m_center));
    request.setTransferTimeout(kTimeoutMs);
    request.setRawHeader("If-None-Match", m_version.toUtf8());
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
        const QString tag = QString::fromUtf8(reply->rawHeader("ETag"));
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
        m_make(QStringLiteral("history=1&centerID=%1&limit=%2").arg(center).arg(limit));
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
