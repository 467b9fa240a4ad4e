#include "net/Transfer.h"

#include "net/Curl.h"

#include <QByteArray>
#include <QMetaObject>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <curl/curl.h>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace tarvo::net {

namespace {

// Without a limit a dead server would keep the commit waiting until the operating system gives
// up on the connection; the whole request has no limit because a large batch may take long.
constexpr int kDefaultConnectMs = 10'000;
constexpr int kDefaultTotalMs = 0;
// A server that takes the request and then says nothing would otherwise hold the commit for ever.
constexpr int kDefaultStallMs = 60'000;
constexpr int kPollMs = 1000;

// What the worker hands back to the owner thread.
struct Outcome
{
    CURLcode code = CURLE_OK;
    std::string detail;
    long status = 0;
    bool stalled = false;
    bool sent = false; // the request line, headers and body had all left
};

// Every byte counts, headers included, in either direction.
curl_off_t bytesMoved(CURL *easy)
{
    curl_off_t up = 0;
    curl_off_t down = 0;
    long headers = 0;
    long request = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headers);
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &request);
    return up + down + headers + request;
}

// Whether the whole request left: a server may then have acted on it, whatever came back.
bool wholeRequestSent(CURL *easy, curl_off_t bodySize)
{
    long request = 0;
    curl_off_t up = 0;
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &request);
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
    return request > 0 && up >= bodySize;
}

// How long a request may still go without moving a byte.
class StallWatch
{
public:
    explicit StallWatch(int limitMs) : m_limitMs(limitMs) {}

    // 0 once the limit has passed since the last byte moved; INT_MAX without a limit.
    int msLeft(CURL *easy)
    {
        if (m_limitMs <= 0)
            return std::numeric_limits<int>::max();
        const Clock::time_point now = Clock::now();
        if (const curl_off_t total = bytesMoved(easy); total != m_moved) {
            m_moved = total;
            m_lastMove = now;
        }
        const auto quiet =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_lastMove).count();
        return quiet >= m_limitMs ? 0 : static_cast<int>(m_limitMs - quiet);
    }

private:
    using Clock = std::chrono::steady_clock;
    int m_limitMs;
    curl_off_t m_moved = 0;
    Clock::time_point m_lastMove = Clock::now();
};

QString describeFailure(const Outcome &outcome, const QString &url, int connectMs, int totalMs,
                        int stallMs)
{
    if (outcome.stalled) {
        return QStringLiteral("no answer for %1 s from %2")
            .arg(QString::number(stallMs / 1000.0, 'g', 6), url);
    }
    const QString why = QString::fromStdString(
        outcome.detail.empty() ? std::string(curl_easy_strerror(outcome.code)) : outcome.detail);
    switch (outcome.code) {
    case CURLE_OK:
        return QStringLiteral("HTTP %1 from %2").arg(outcome.status).arg(url);
    case CURLE_OPERATION_TIMEDOUT:
        return QStringLiteral(
                   "timed out sending to %1 (connect limit %2 ms, total limit %3 ms): %4")
            .arg(url)
            .arg(connectMs)
            .arg(totalMs)
            .arg(why);
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return QStringLiteral("could not connect to %1: %2").arg(url, why);
    default:
        return QStringLiteral("could not send to %1: %2").arg(url, why);
    }
}

} // namespace

struct Transfer::Private
{
    explicit Private(Transfer *owner) : q(owner) {}

    Transfer *const q;
    int connectMs = kDefaultConnectMs;
    int totalMs = kDefaultTotalMs;
    int stallMs = kDefaultStallMs;
    // The limit of the request in flight, read by the worker.
    int runStallMs = kDefaultStallMs;

    // Request in flight; the handles are made and freed on the owner thread, used by the worker.
    bool executing = false;
    QString url;
    CURL *easy = nullptr;
    CURLM *multi = nullptr;
    curl_slist *headerList = nullptr;
    std::string received;
    curl_off_t bodySize = 0;
    char detail[CURL_ERROR_SIZE] = {};
    std::atomic<bool> cancel{false};
    std::thread worker;

    // Last answer, read through GetChunk.
    QString answer;
    qsizetype readPos = 0;
    int status = 0;
    QString error;
    Failure failure;

    void run();
    void finish(const Outcome &outcome);
    void stopWorker();
    void freeHandles();
};

// Worker thread: a multi handle instead of curl_easy_perform, so that the destructor can wake
// the wait at once with curl_multi_wakeup instead of waiting for the next progress tick.
void Transfer::Private::run()
{
    Outcome outcome;
    int running = 1;
    StallWatch watch(runStallMs);
    while (!cancel.load()) {
        CURLMcode mc = curl_multi_perform(multi, &running);
        if (mc == CURLM_OK && running != 0) {
            const int left = watch.msLeft(easy);
            if (left == 0) {
                outcome.code = CURLE_OPERATION_TIMEDOUT;
                outcome.stalled = true;
                break;
            }
            mc = curl_multi_poll(multi, nullptr, 0, std::min(left, kPollMs), nullptr);
        }
        if (mc != CURLM_OK) {
            outcome.code = CURLE_FAILED_INIT;
            outcome.detail = curl_multi_strerror(mc);
            break;
        }
        if (running == 0)
            break;
    }
    if (cancel.load())
        return; // The destructor is joining; nobody is left to tell.
    outcome.sent = wholeRequestSent(easy, bodySize);
    if (!outcome.stalled && outcome.detail.empty()) {
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE)
                outcome.code = msg->data.result;
        }
        outcome.detail = detail;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &outcome.status);
    }
    QMetaObject::invokeMethod(
        q, [this, outcome] { finish(outcome); }, Qt::QueuedConnection);
}

// Owner thread, after the worker has posted its outcome.
void Transfer::Private::finish(const Outcome &outcome)
{
    stopWorker();
    status = static_cast<int>(outcome.status);
    const bool ok = outcome.code == CURLE_OK && outcome.status < 400;
    // A broken transfer's partial body means nothing; an error status's body explains it.
    answer = outcome.code == CURLE_OK
                 ? QString::fromUtf8(received.data(), static_cast<qsizetype>(received.size()))
                 : QString();
    readPos = 0;
    error = ok ? QString() : describeFailure(outcome, url, connectMs, totalMs, runStallMs);
    failure = {};
    if (!ok) {
        const FailureKind kind =
            outcome.stalled ? FailureKind::TimedOut : net::kindOf(outcome.code);
        failure = kind == FailureKind::None
                      ? Failure{FailureKind::HttpStatus, CURLE_OK, status, outcome.sent}
                      : Failure{kind, outcome.code, 0, outcome.sent};
    }
    received.clear();
    freeHandles();

    Q_EMIT q->StateChanged(ok ? icResponseCompleted : icError);
    executing = false;
    Q_EMIT q->stopped();
}

void Transfer::Private::stopWorker()
{
    if (!worker.joinable())
        return;
    if (cancel.load() && multi != nullptr)
        curl_multi_wakeup(multi);
    worker.join();
}

void Transfer::Private::freeHandles()
{
    if (multi != nullptr && easy != nullptr)
        curl_multi_remove_handle(multi, easy);
    if (easy != nullptr)
        curl_easy_cleanup(easy);
    if (multi != nullptr)
        curl_multi_cleanup(multi);
    curl_slist_free_all(headerList);
    easy = nullptr;
    multi = nullptr;
    headerList = nullptr;
}

Transfer::Transfer(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

Transfer::~Transfer()
{
    d->cancel.store(true);
    d->stopWorker();
    d->freeHandles();
}

void Transfer::Execute(const QString &url, const QString &operation, const QString &data,
                       const QString &headers)
{
    if (d->executing)
        throw std::runtime_error("a transfer is still executing");
    const bool post = operation.compare(QLatin1String("Post"), Qt::CaseInsensitive) == 0;
    const bool get = operation.compare(QLatin1String("Get"), Qt::CaseInsensitive) == 0;
    if (!post && !get)
        throw std::runtime_error("unknown transfer operation \"" + operation.toStdString() + "\"");

    net::initOnce();
    d->stopWorker();
    d->freeHandles();
    d->easy = curl_easy_init();
    d->multi = curl_multi_init();
    if (d->easy == nullptr || d->multi == nullptr) {
        d->freeHandles();
        throw std::runtime_error("libcurl could not start a request");
    }

    CURL *h = d->easy;
    const std::string urlText = url.toStdString();
    net::applyAddress(h, net::splitAddress(urlText));
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    if (post) {
        const QByteArray body = data.toUtf8();
        d->bodySize = body.size();
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, body.constData());
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        d->bodySize = 0;
    }
    // Any lone CR or LF also ends a line, so no text can smuggle a header of its own.
    const QStringList lines =
        headers.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    for (const QString &line : lines)
        d->headerList = curl_slist_append(d->headerList, line.toUtf8().constData());
    // Some servers never answer "Expect: 100-continue", which would cost a second per large body.
    d->headerList = curl_slist_append(d->headerList, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, d->headerList);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(d->connectMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(d->totalMs));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &net::appendToString);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &d->received);
    d->detail[0] = '\0';
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, d->detail);
    curl_multi_add_handle(d->multi, h);

    d->url = QString::fromStdString(net::shownUrl(urlText));
    d->runStallMs = d->stallMs;
    d->received.clear();
    d->answer.clear();
    d->readPos = 0;
    d->status = 0;
    d->error.clear();
    d->failure = {};
    d->cancel.store(false);
    d->executing = true;
    d->worker = std::thread([p = d.get()] { p->run(); });
}

bool Transfer::StillExecuting() const
{
    return d->executing;
}

QString Transfer::GetChunk(int size, DataType)
{
    if (size <= 0 || d->readPos >= d->answer.size())
        return {};
    const QString piece = d->answer.mid(d->readPos, size);
    d->readPos += piece.size();
    return piece;
}

int Transfer::httpStatus() const
{
    return d->status;
}

QString Transfer::errorString() const
{
    return d->error;
}

const Failure &Transfer::failure() const
{
    return d->failure;
}

void Transfer::setTimeouts(int connectMs, int totalMs)
{
    d->connectMs = connectMs < 0 ? 0 : connectMs;
    d->totalMs = totalMs < 0 ? 0 : totalMs;
}

void Transfer::setStallLimit(int ms)
{
    d->stallMs = ms < 0 ? 0 : ms;
}

} // namespace tarvo::net
