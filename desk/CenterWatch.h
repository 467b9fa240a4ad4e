// Watching the open center for other people's commits: one conditional GET (If-None-Match with
// the version the control loaded) every few seconds, answered 304 while nothing changed; and
// the center's audit trail, read for who changed what.
#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <optional>

class QNetworkReply;

namespace tarvo::desk {

// One row of a center's audit trail.
struct HistoryRow
{
    QString when;
    QString user;
    QString vendorId;
    QString action; // "add", "update" or "remove"
    QString fee;    // the fee written, in percent ("8.00"); "" for a removal
    QString oldFee; // the fee before, where an older row in the same answer says it
    bool operator==(const HistoryRow &) const = default;
};

// The rows of a history answer, newest first, as the protocol's reader reads them; empty when
// it is no history answer. Surprise: an update's oldFee comes from the next older row of the
// same vendor, so the oldest update of each vendor in the answer has none; a removal's is the
// fee removed.
std::optional<QList<HistoryRow>> readHistory(const QByteArray &xml);

// How many rows lie above `since` (the newest row of an earlier answer), and who wrote them;
// all rows when `since` is not among them.
struct ChangesSince
{
    int count = 0;
    QStringList users; // in order of first appearance, newest first
};
ChangesSince changesSince(const QList<HistoryRow> &rows, const std::optional<HistoryRow> &since);

class CenterWatch : public QObject
{
    Q_OBJECT
public:
    // Builds the request for a query of the page ("count=1&centerID=3"), credentials included.
    using MakeRequest = std::function<QNetworkRequest(const QString &query)>;

    explicit CenterWatch(MakeRequest make, QObject *parent = nullptr);

    // Polls `center` against `version` from now on; an empty version stops (a server without
    // versions cannot be watched). Surprise: an answer to a poll sent before this call is
    // ignored, so the control's own commit, which moves the version it loaded, is never taken
    // for someone else's.
    void watch(qint32 center, const QString &version);
    // No poll goes out while paused (a commit under way); resuming polls at the next tick.
    void setPaused(bool paused);
    void setInterval(int ms);

    // Reads the center's audit trail (at most `limit` rows); `done` runs later, once, with
    // nothing when it could not be read.
    void readHistory(qint32 center, int limit,
                     std::function<void(const std::optional<QList<HistoryRow>> &)> done);

Q_SIGNALS:
    // The center's version is no longer the one watched; told once per new version.
    void changed(const QString &version);

private:
    void poll();

    MakeRequest m_make;
    QNetworkAccessManager m_network;
    QTimer m_timer;
    QPointer<QNetworkReply> m_reply;
    qint32 m_center = 0;
    QString m_version;
    QString m_told; // the last version reported
    int m_generation = 0;
    bool m_paused = false;
};

} // namespace tarvo::desk
