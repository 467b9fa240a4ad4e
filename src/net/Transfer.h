// The transfer component: one HTTP request at a time on a worker thread, its end reported as
// a state event on the thread that owns the component.
#pragma once

#include "net/Failure.h"

#include <QObject>
#include <QString>
#include <memory>

namespace tarvo::net {

class Transfer : public QObject
{
    Q_OBJECT
public:
    // State numbers of StateChanged; only the last two are ever sent.
    enum State {
        icError = 11,             // transfer failed or the server answered 400 or more
        icResponseCompleted = 12, // the whole answer has arrived
    };
    enum DataType { icString = 0 };

    explicit Transfer(QObject *parent = nullptr);
    // Cancels a running request and waits for its thread.
    ~Transfer() override;

    // Starts the request and returns at once. operation is "Post" or "Get" (any letter case);
    // data is the POST body, sent as UTF-8 (a Get sends no body); headers is one "Name: value"
    // line or several separated by CR LF. Credentials come from the URL's user information or
    // ~/.netrc, and errorString() never shows them. Throws
    // std::runtime_error when a request is still executing or the operation is unknown.
    void Execute(const QString &url, const QString &operation, const QString &data,
                 const QString &headers);

    // True from Execute until the final StateChanged has been handled by every receiver.
    bool StillExecuting() const;

    // The next at most `size` characters of the answer (decoded as UTF-8); "" when none is left.
    QString GetChunk(int size, DataType type = icString);

    // HTTP status of the last answer, 0 when none arrived.
    int httpStatus() const;

    // Why the last transfer failed (transport error or status), "" after a success; for people
    // and logs only: code reads failure().
    QString errorString() const;

    // Why the last transfer failed, as values; kind None after a success. Surprise: a stalled
    // request counts as TimedOut with libcurl's code CURLE_OPERATION_TIMEDOUT.
    const Failure &failure() const;

    // Connect and whole-request time-outs in milliseconds, for the next Execute. Defaults: 10 s to
    // connect, no limit on the whole request; 0 keeps libcurl's default (300 s to connect, none).
    void setTimeouts(int connectMs, int totalMs);

    // Ends the next request in error when no byte has moved either way for this long; 60 s by
    // default, 0 for no limit.
    void setStallLimit(int ms);

Q_SIGNALS:
    void StateChanged(int state);
    // Emitted after the final StateChanged has returned, when StillExecuting turns false.
    void stopped();

private:
    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::net
