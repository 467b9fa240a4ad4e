#include "LoopbackCrowd.h"

#include "auth/Users.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sodium.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvo::bench {

namespace {

// A non-blocking socket bound to `source`, its connect to 127.0.0.1:`port` begun; -1 when
// that failed at once.
int connectFrom(const std::string &source, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    // The source port is picked at connect time, by the whole address pair, so that thousands
    // of reopened connections from one address do not run out of ports.
    const int one = 1;
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
        (connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool connectFailed(int fd)
{
    int error = 0;
    socklen_t size = sizeof error;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0;
}

int statusOf(const std::string &answer)
{
    if (answer.size() < 12 || answer.compare(0, 5, "HTTP/") != 0) {
        return 0;
    }
    const int status = std::atoi(answer.c_str() + 9);
    return status >= 100 && status < 600 ? status : 0;
}

// The whole answer is in `answer`: its head and as many body bytes as Content-Length says.
bool answerComplete(const std::string &answer)
{
    const std::size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos) {
        return false;
    }
    std::string head = answer.substr(0, end);
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::size_t length = head.find("\r\ncontent-length:");
    const std::size_t body =
        length == std::string::npos ? 0 : std::stoul(head.substr(length + 17, 20));
    return answer.size() >= end + 4 + body;
}

} // namespace

LoopbackServer::LoopbackServer(const std::string &alicePassword)
    : m_db(server::testing::Engine::Sqlite)
{
    server::ReferenceServer filler(m_db.location());
    filler.fillSample();
    if (!alicePassword.empty()) {
        m_users = std::filesystem::temp_directory_path() /
                  ("bench-crowd-users-" + std::to_string(getpid()));
        std::ofstream(m_users) << "alice:" << server::auth::hashPassword(alicePassword) << ":*\n";
        std::filesystem::permissions(m_users, std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write);
        // Home addresses are kept here across a restart, as the packaged service keeps them.
        m_state = std::filesystem::temp_directory_path() /
                  ("bench-crowd-state-" + std::to_string(getpid()));
    }
    start();
}

LoopbackServer::~LoopbackServer()
{
    stop();
    if (!m_users.empty()) {
        std::filesystem::remove(m_users);
        std::filesystem::remove_all(m_state);
    }
}

void LoopbackServer::start()
{
    m_server = std::make_unique<server::ReferenceServer>(m_db.location());
    if (!m_users.empty()) {
        server::AccessOptions access;
        access.usersFile = m_users.string();
        access.stateDir = m_state.string();
        m_server->setAccess(access);
    }
    m_server->setLogSink([](const std::string &) {});
    m_port = m_server->bindToAnyPort("127.0.0.1");
    if (m_port < 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    m_serving = std::thread([this] { m_server->listenAfterBind(); });
}

void LoopbackServer::stop()
{
    m_server->stop();
    m_serving.join();
    m_server.reset();
}

void LoopbackServer::restart()
{
    stop();
    start();
}

std::string basicAuth(const std::string &user, const std::string &password)
{
    const std::string pair = user + ":" + password;
    std::string out(sodium_base64_encoded_len(pair.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char *>(pair.data()),
                      pair.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.find('\0'));
    return "Basic " + out;
}

Exchange exchangeFrom(const std::string &source, int port, const std::string &request,
                      std::chrono::milliseconds cap)
{
    const auto start = Clock::now();
    const auto deadline = start + cap;
    const auto elapsed = [&] {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const auto waitFor = [&](int fd, short events) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, events, 0};
        return left.count() > 0 && poll(&p, 1, static_cast<int>(left.count())) > 0;
    };
    Exchange result;
    const int fd = connectFrom(source, port);
    if (fd < 0) {
        result.ms = elapsed();
        return result;
    }
    std::size_t sent = 0;
    std::string answer;
    bool closed = false;
    if (waitFor(fd, POLLOUT) && !connectFailed(fd)) {
        while (sent < request.size() && waitFor(fd, POLLOUT)) {
            const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                closed = true;
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        while (!closed && sent == request.size() && !answerComplete(answer) &&
               waitFor(fd, POLLIN)) {
            char buffer[8192];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0 && !(n < 0 && errno == EAGAIN)) {
                closed = true;
            } else if (n > 0) {
                answer.append(buffer, static_cast<std::size_t>(n));
            }
        }
    } else {
        closed = Clock::now() < deadline; // refused rather than left waiting
    }
    close(fd);
    result.status = statusOf(answer);
    result.timedOut = !closed && !answerComplete(answer);
    result.ms = result.timedOut ? static_cast<double>(cap.count()) : elapsed();
    return result;
}

void reportSpread(benchmark::State &state, std::vector<double> ms)
{
    if (ms.empty()) {
        return;
    }
    std::sort(ms.begin(), ms.end());
    const auto rank = [&](double q) {
        const auto n = static_cast<std::size_t>(std::ceil(q * static_cast<double>(ms.size())));
        return ms[std::max<std::size_t>(n, 1) - 1];
    };
    state.counters["p50_ms"] = rank(0.50);
    state.counters["p99_ms"] = rank(0.99);
    state.counters["max_ms"] = ms.back();
}

Crowd::Crowd(Options options) : m_options(std::move(options))
{
    m_thread = std::thread([this] { run(); });
}

Crowd::~Crowd()
{
    m_stop = true;
    m_thread.join();
}

void Crowd::run()
{
    struct Slot
    {
        int fd = -1;
        bool connected = false;
        bool everConnected = false;
        std::string unsent;
        Clock::time_point next; // the next opening, or the next trickled byte
    };
    const auto count = static_cast<std::size_t>(m_options.connections);
    std::vector<Slot> slots(count);
    long round = 0;
    const auto now0 = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        slots[i].next = now0;
    }
    const auto drop = [&](Slot &slot, bool byServer) {
        close(slot.fd);
        if (slot.connected && slot.unsent.empty()) {
            --m_open;
        }
        slot = Slot{-1, false, slot.everConnected, {}, Clock::now() + m_options.reopenAfter};
        m_closed += byServer ? 1 : 0;
    };
    std::vector<pollfd> polled;
    std::vector<std::size_t> polledSlot;
    while (!m_stop) {
        const auto now = Clock::now();
        polled.clear();
        polledSlot.clear();
        for (std::size_t i = 0; i < count; ++i) {
            Slot &slot = slots[i];
            if (slot.fd < 0 && now >= slot.next) {
                slot.fd =
                    connectFrom(m_options.sources[i % m_options.sources.size()], m_options.port);
                slot.unsent = m_options.request(static_cast<int>(i), round++);
                if (slot.fd < 0) {
                    slot.next = now + std::chrono::seconds(1);
                    continue;
                }
            }
            if (slot.fd >= 0) {
                polled.push_back(
                    {slot.fd, static_cast<short>(POLLIN | (slot.unsent.empty() ? 0 : POLLOUT)), 0});
                polledSlot.push_back(i);
            }
        }
        poll(polled.data(), polled.size(), 20);
        for (std::size_t k = 0; k < polled.size(); ++k) {
            Slot &slot = slots[polledSlot[k]];
            const short events = polled[k].revents;
            if ((events & POLLOUT) != 0 && !slot.unsent.empty()) {
                if (!slot.connected && connectFailed(slot.fd)) {
                    drop(slot, true);
                    continue;
                }
                if (!slot.everConnected) {
                    slot.everConnected = true;
                    ++m_connectedOnce;
                }
                slot.connected = true;
                const ssize_t n =
                    send(slot.fd, slot.unsent.data(), slot.unsent.size(), MSG_NOSIGNAL);
                if (n > 0) {
                    slot.unsent.erase(0, static_cast<std::size_t>(n));
                }
                if (slot.unsent.empty()) {
                    ++m_open;
                    slot.next = Clock::now() + m_options.trickle +
                                std::chrono::milliseconds(polledSlot[k] * 7 % 1000);
                }
            }
            if ((events & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char buffer[4096];
                const ssize_t n = read(slot.fd, buffer, sizeof buffer);
                if (n < 0 && errno == EAGAIN) {
                    continue;
                }
                const int status =
                    n > 0 ? statusOf(std::string(buffer, static_cast<std::size_t>(n))) : 0;
                ++m_answers[static_cast<std::size_t>(status)];
                drop(slot, true); // answered or closed: the next one takes its place
            }
        }
        if (m_options.trickle.count() > 0) {
            const auto later = Clock::now();
            for (Slot &slot : slots) {
                if (slot.fd >= 0 && slot.connected && slot.unsent.empty() && later >= slot.next) {
                    if (send(slot.fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) {
                        drop(slot, true);
                        continue;
                    }
                    slot.next = later + m_options.trickle;
                }
            }
        }
    }
    for (Slot &slot : slots) {
        if (slot.fd >= 0) {
            close(slot.fd);
        }
    }
}

void reportAnswers(benchmark::State &state, const Crowd &crowd, const std::string &prefix)
{
    for (int status = 0; status < 600; ++status) {
        if (crowd.answers(status) > 0) {
            state.counters[prefix + std::to_string(status)] =
                static_cast<double>(crowd.answers(status));
        }
    }
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace tarvo::bench
