#include "PreparedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvo::bench {

namespace {

// Larger than any head libcurl sends for these requests.
constexpr std::size_t MaxHead = 16 * 1024;

std::string response(int status, std::string_view contentType, std::string_view body)
{
    std::string bytes = "HTTP/1.1 " + std::to_string(status) +
                        (status == 200 ? " OK" : " Not Found") + "\r\nContent-Type: ";
    bytes += contentType;
    bytes += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    bytes += body;
    return bytes;
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// The first name of the request's query: "GET /CenterVendor.asp?active=1&... HTTP/1.1".
std::string_view queryName(std::string_view head)
{
    const auto lineEnd = head.find("\r\n");
    const auto line = head.substr(0, lineEnd);
    const auto mark = line.find('?');
    if (mark == std::string_view::npos) {
        return {};
    }
    const auto rest = line.substr(mark + 1);
    return rest.substr(0, rest.find_first_of("=& "));
}

} // namespace

struct PreparedServer::Responses
{
    std::string count;
    std::string active;
    std::string selected;
    std::string missing = response(404, "text/plain; charset=utf-8", "unknown query");

    const std::string &forQuery(std::string_view name) const
    {
        return name == "count"      ? count
               : name == "active"   ? active
               : name == "selected" ? selected
                                    : missing;
    }
};

PreparedServer::PreparedServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        const std::string why = std::strerror(errno);
        if (m_listener >= 0) {
            ::close(m_listener);
        }
        throw std::runtime_error("cannot listen on a loopback port: " + why);
    }
    m_port = ntohs(address.sin_port);
    m_responses = std::make_shared<Responses>();
    m_thread = std::thread([this] { run(); });
}

PreparedServer::~PreparedServer()
{
    m_stopping = true;
    // Wakes the blocked accept() on Linux.
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
}

void PreparedServer::serve(const CenterData &data, int centerCode)
{
    constexpr std::string_view Xml = "application/xml; charset=utf-8";
    auto prepared = std::make_shared<Responses>();
    prepared->count = response(200, Xml,
                               countAnswer(centerCode, static_cast<int>(data.active.size()),
                                           static_cast<int>(data.selected.size())));
    prepared->active = response(200, Xml, activeAnswer(data.active));
    prepared->selected = response(200, Xml, selectedAnswer(data.selected));
    const std::lock_guard lock(m_mutex);
    m_responses = std::move(prepared);
}

std::string PreparedServer::url() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

std::shared_ptr<const PreparedServer::Responses> PreparedServer::responses() const
{
    const std::lock_guard lock(m_mutex);
    return m_responses;
}

void PreparedServer::run()
{
    while (!m_stopping) {
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        answer(connection);
        ::close(connection);
    }
}

void PreparedServer::answer(int connection)
{
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || head.size() + static_cast<std::size_t>(got) > MaxHead) {
            return;
        }
        head.append(buffer, static_cast<std::size_t>(got));
    }
    const auto held = responses();
    if (sendAll(connection, held->forQuery(queryName(head)))) {
        // The client reads to the end of the body; closing after it has all is clean.
        ::shutdown(connection, SHUT_WR);
    }
}

} // namespace tarvo::bench
