// The layer on libmicrohttpd: the daemon, its listening socket and the table of open
// connections. The path a request takes through the layer is RequestPath.cpp.
//
// The library's own time-out only measures silence, so a client trickling one byte a second
// would hold its connection for ever: a sweeper thread shuts down the socket of every
// connection past its deadline, and the library then closes it as if the client had gone.
// Past a soft limit of open connections, one still sending its request head gets a short
// deadline, so that slow heads cannot fill the table the library refuses new ones beyond.
#include "http/Layer.h"
#include "text/AsciiCase.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <microhttpd.h>
#include <mutex>
#include <netdb.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace tarvo::server::http {

namespace {

constexpr auto kSweepInterval = std::chrono::milliseconds(100);

std::string addressText(const sockaddr *address)
{
    char buffer[INET6_ADDRSTRLEN] = "-";
    if (address == nullptr) {
        return buffer;
    }
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, buffer,
                  sizeof buffer);
    } else if (address->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr, buffer,
                  sizeof buffer);
    }
    return canonicalAddress(buffer);
}

} // namespace

std::optional<std::string_view> HttpRequest::header(std::string_view name) const
{
    for (const auto &[key, value] : headers) {
        if (text::equalsIgnoringCase(key, name)) {
            return std::string_view(value);
        }
    }
    return std::nullopt;
}

HttpServer::Impl::Impl(const HttpLimits &l, std::function<void(const ops::RequestRecord &)> done)
    : limits(l), finished(std::move(done)),
      workers(std::make_unique<WorkerPool>(l.workers, l.pendingWork)),
      verifiers(std::make_unique<FairPool>(l.verifiers, l.pendingVerifications,
                                           l.verificationsPerAddress, l.pendingHomeVerifications)),
      idSeed(std::random_device{}())
{
    if (limits.softConnections == 0 || limits.softConnections > limits.connections) {
        limits.softConnections = limits.connections / 4 * 3;
    }
}

HttpServer::Impl::~Impl()
{
    // A drain cut short left work running on suspended connections: the library may be
    // stopped only once that work has resumed them.
    verifiers.reset();
    workers.reset();
    if (daemon != nullptr) {
        MHD_stop_daemon(daemon);
    }
    if (listenFd >= 0 && !daemonOwnsSocket) {
        close(listenFd);
    }
}

std::string HttpServer::Impl::newId()
{
    // splitmix64: distinct counters give distinct, unguessable-looking ids.
    std::uint64_t z = idSeed + 0x9E3779B97F4A7C15ULL * ++idCounter;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", static_cast<unsigned>(z & 0xFFFFFFFFU));
    return buffer;
}

void HttpServer::Impl::connectionEvent(void *cls, MHD_Connection *c, void **socketContext,
                                       MHD_ConnectionNotificationCode code)
{
    auto *self = static_cast<Impl *>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto *connection = new Connection;
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        connection->fd = info != nullptr ? info->connect_fd : -1;
        const MHD_ConnectionInfo *address =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        connection->peer = addressText(address != nullptr ? address->client_addr : nullptr);
        connection->limitKey = connectionKey(connection->peer);
        connection->headSince = Clock::now();
        const std::lock_guard lock(self->connectionsMutex);
        // Set when it starts: past the soft limit, its head has to come quickly.
        connection->deadline =
            Clock::now() +
            (self->connections.size() >= self->limits.softConnections
                 ? std::chrono::duration_cast<Clock::duration>(
                       self->limits.headDeadlineUnderPressure)
                 : std::chrono::duration_cast<Clock::duration>(self->limits.requestDeadline));
        ++self->perAddress[connection->limitKey];
        self->connections.insert(connection);
        *socketContext = connection;
        return;
    }
    // Called before the library closes the socket, so the sweeper never shuts down a number
    // that a new connection has taken over.
    auto *connection = static_cast<Connection *>(*socketContext);
    if (connection == nullptr) {
        return;
    }
    *socketContext = nullptr;
    if (connection->exchange) {
        // The library ended this request without its completion callback (a head that
        // outgrew the connection's memory does): logged and freed here.
        self->end(*connection->exchange, c, "dropped");
    }
    {
        const std::lock_guard lock(self->connectionsMutex);
        if (const auto count = self->perAddress.find(connection->limitKey);
            count != self->perAddress.end() && --count->second == 0) {
            self->perAddress.erase(count);
        }
        self->connections.erase(connection);
    }
    delete connection;
}

MHD_Result HttpServer::Impl::acceptable(void *cls, const sockaddr *address, socklen_t)
{
    auto *self = static_cast<Impl *>(cls);
    const std::string peer = addressText(address);
    const auto &trusted = self->trustedProxies;
    if (std::find(trusted.begin(), trusted.end(), peer) != trusted.end()) {
        return MHD_YES;
    }
    const std::lock_guard lock(self->connectionsMutex);
    const auto count = self->perAddress.find(connectionKey(peer));
    const unsigned held = count == self->perAddress.end() ? 0 : count->second;
    // Past the soft limit an address that holds a few already waits, so that the room left
    // below the library's hard limit goes to addresses that hold none.
    const unsigned share = self->connections.size() >= self->limits.softConnections
                               ? self->limits.connectionsPerAddressUnderPressure
                               : self->limits.connectionsPerAddress;
    return held < share ? MHD_YES : MHD_NO;
}

void HttpServer::Impl::armDeadline(Connection *connection, bool working)
{
    if (connection == nullptr) {
        return;
    }
    const std::lock_guard lock(connectionsMutex);
    connection->working = working;
    connection->deadline = Clock::now() + limits.requestDeadline;
}

void HttpServer::Impl::headDone(Connection *connection)
{
    const std::lock_guard lock(connectionsMutex);
    connection->inHead = false;
    connection->deadline = Clock::now() + limits.requestDeadline;
}

void HttpServer::Impl::sweep()
{
    std::unique_lock state(stateMutex);
    while (!changed.wait_for(state, kSweepInterval, [this] { return stopRequested; })) {
        const auto now = Clock::now();
        const std::lock_guard lock(connectionsMutex);
        // Under pressure a head, or the silence between two requests, gets the short
        // deadline counted from when it began, whatever it was given then.
        const bool pressed = connections.size() >= limits.softConnections;
        for (Connection *connection : connections) {
            if (connection->working || connection->cut || connection->fd < 0) {
                continue;
            }
            if (now > connection->deadline || (connection->cutSoon && connection->inHead) ||
                (pressed && connection->inHead &&
                 now > connection->headSince + limits.headDeadlineUnderPressure)) {
                shutdown(connection->fd, SHUT_RDWR);
                connection->cut = true;
            }
        }
    }
}

int HttpServer::Impl::bind(const std::string &host, int port)
{
    if (listenFd >= 0) {
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return -1;
    }
    int fd = -1;
    for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        // Address reuse allows a quick restart; port reuse, which would let a second server
        // take part of the requests, stays off.
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, SOMAXCONN) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        return -1;
    }
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &size);
    listenFd = fd;
    return bound.ss_family == AF_INET6
               ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&bound)->sin6_port)
               : ntohs(reinterpret_cast<const sockaddr_in *>(&bound)->sin_port);
}

HttpServer::HttpServer(const HttpLimits &limits,
                       std::function<void(const ops::RequestRecord &)> finished)
    : d(std::make_unique<Impl>(limits, std::move(finished)))
{}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::route(std::string method, std::string path, HttpRoute route)
{
    d->routes.emplace_back(std::move(method) + " " + std::move(path), std::move(route));
}

void HttpServer::setTls(std::string certificatePem, std::string keyPem, std::string priorities)
{
    d->tlsCertificate = std::move(certificatePem);
    d->tlsKey = std::move(keyPem);
    d->tlsPriorities =
        priorities.empty() ? std::string(kDefaultTlsPriorities) : std::move(priorities);
}

void HttpServer::setTrustedProxies(std::vector<std::string> addresses)
{
    for (std::string &address : addresses) {
        address = canonicalAddress(address);
    }
    d->trustedProxies = std::move(addresses);
}

void HttpServer::setGate(HttpGate *gate)
{
    d->gate = gate;
}

int HttpServer::bindToAnyPort(const std::string &host)
{
    return d->bind(host, 0);
}

bool HttpServer::bindToPort(const std::string &host, int port)
{
    return d->bind(host, port) >= 0;
}

bool HttpServer::serve()
{
    {
        const std::lock_guard lock(d->stateMutex);
        if (d->stopRequested || d->listenFd < 0 || d->daemonOwnsSocket) {
            return false;
        }
        d->daemonOwnsSocket = true;
    }
    const HttpLimits &l = d->limits;
    const bool tls = !d->tlsCertificate.empty();
    MHD_OptionItem tlsOptions[] = {
        {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0, d->tlsCertificate.data()},
        {MHD_OPTION_HTTPS_MEM_KEY, 0, d->tlsKey.data()},
        {MHD_OPTION_HTTPS_PRIORITIES, 0, d->tlsPriorities.data()},
        {MHD_OPTION_END, 0, nullptr},
    };
    d->daemon = MHD_start_daemon(
        MHD_USE_AUTO_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ITC |
            (tls ? MHD_USE_TLS : 0),
        0, &Impl::acceptable, d.get(), &Impl::handle, d.get(), MHD_OPTION_LISTEN_SOCKET,
        d->listenFd, MHD_OPTION_CONNECTION_LIMIT, l.connections, MHD_OPTION_STRICT_FOR_CLIENT, 0,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, l.connectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
        static_cast<unsigned>(l.idleTimeout.count()), MHD_OPTION_URI_LOG_CALLBACK, &Impl::opened,
        d.get(), MHD_OPTION_NOTIFY_COMPLETED, &Impl::completed, d.get(),
        MHD_OPTION_NOTIFY_CONNECTION, &Impl::connectionEvent, d.get(), MHD_OPTION_ARRAY, tlsOptions,
        MHD_OPTION_END);
    if (d->daemon == nullptr) {
        close(d->listenFd);
        d->listenFd = -1;
        return false;
    }
    d->running = true;
    std::thread sweeper([this] { d->sweep(); });
    {
        std::unique_lock lock(d->stateMutex);
        d->changed.wait(lock, [this] { return d->stopRequested; });
    }
    // From here new connections are refused, while those open keep being served: their
    // requests at work finish, and any new request on them is answered 503.
    const MHD_socket quiesced = MHD_quiesce_daemon(d->daemon);
    if (quiesced != MHD_INVALID_SOCKET) {
        close(quiesced);
    }
    d->listenFd = -1;
    sweeper.join();
    {
        std::unique_lock lock(d->stateMutex);
        const bool settled =
            d->changed.wait_until(lock, Clock::now() + d->limits.shutdownGrace,
                                  [this] { return d->suspended == 0 && d->begun == 0; });
        if (!settled && d->suspended > 0 && d->graceEnd) {
            lock.unlock();
            d->graceEnd();
            lock.lock();
        }
        d->drained = d->suspended == 0;
    }
    if (d->drained) {
        MHD_stop_daemon(d->daemon);
        d->daemon = nullptr;
    }
    d->running = false;
    return true;
}

void HttpServer::stop()
{
    {
        const std::lock_guard lock(d->stateMutex);
        d->stopRequested = true;
    }
    d->changed.notify_all();
}

bool HttpServer::isRunning() const
{
    return d->running;
}

std::size_t HttpServer::requestsUnderWay() const
{
    const std::lock_guard lock(d->stateMutex);
    return d->begun;
}

void HttpServer::onGraceEnd(std::function<void()> settle)
{
    d->graceEnd = std::move(settle);
}

bool HttpServer::drained() const
{
    const std::lock_guard lock(d->stateMutex);
    return d->drained;
}

} // namespace tarvo::server::http
