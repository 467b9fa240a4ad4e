// Checks of a request's head that stand apart from the library's life cycle: how its body is
// framed, and which client it speaks for behind a proxy.
#include "http/HttpServer.h"
#include "text/AsciiCase.h"

#include <algorithm>
#include <arpa/inet.h>

namespace tarvo::server::http {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool isAddress(const std::string &text)
{
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

} // namespace

std::string canonicalAddress(std::string_view text)
{
    std::string address(text);
    in6_addr six{};
    if (inet_pton(AF_INET6, address.c_str(), &six) != 1) {
        in_addr four{};
        char buffer[INET_ADDRSTRLEN];
        if (inet_pton(AF_INET, address.c_str(), &four) == 1 &&
            inet_ntop(AF_INET, &four, buffer, sizeof buffer) != nullptr) {
            return buffer;
        }
        return address;
    }
    char buffer[INET6_ADDRSTRLEN];
    if (IN6_IS_ADDR_V4MAPPED(&six)) {
        return inet_ntop(AF_INET, &six.s6_addr[12], buffer, sizeof buffer) != nullptr ? buffer
                                                                                      : address;
    }
    return inet_ntop(AF_INET6, &six, buffer, sizeof buffer) != nullptr ? buffer : address;
}

std::string connectionKey(const std::string &address)
{
    in6_addr six{};
    if (inet_pton(AF_INET6, address.c_str(), &six) != 1) {
        return address;
    }
    std::fill(std::begin(six.s6_addr) + 8, std::end(six.s6_addr), 0);
    char buffer[INET6_ADDRSTRLEN];
    return inet_ntop(AF_INET6, &six, buffer, sizeof buffer) != nullptr ? std::string(buffer) + "/64"
                                                                       : address;
}

std::string forwardedClient(const std::string &peer, const std::vector<std::string> &forwardedFor,
                            const std::vector<std::string> &trusted)
{
    const auto isTrusted = [&](const std::string &address) {
        const std::string canonical = canonicalAddress(address);
        return std::any_of(trusted.begin(), trusted.end(), [&](const std::string &proxy) {
            return canonicalAddress(proxy) == canonical;
        });
    };
    if (!isTrusted(peer)) {
        return canonicalAddress(peer);
    }
    std::vector<std::string> entries;
    for (const std::string &value : forwardedFor) {
        std::string_view rest = value;
        for (;;) {
            const std::size_t comma = rest.find(',');
            entries.emplace_back(trimmed(rest.substr(0, comma)));
            if (comma == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(comma + 1);
        }
    }
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (entry->empty() || isTrusted(*entry)) {
            continue;
        }
        // Anything left of the proxies' own entries is the client's to write.
        return isAddress(*entry) ? canonicalAddress(*entry) : entry->substr(0, 64);
    }
    return canonicalAddress(peer);
}

std::optional<std::string>
framingFault(std::string_view version,
             const std::vector<std::pair<std::string, std::string>> &headers)
{
    int lengths = 0;
    int codings = 0;
    int hosts = 0;
    for (const auto &[name, value] : headers) {
        if (name.find_first_of(" \t") != std::string::npos) {
            return "a header name holds a blank (before its colon)";
        }
        if (text::equalsIgnoringCase(name, "Content-Length")) {
            ++lengths;
        } else if (text::equalsIgnoringCase(name, "Transfer-Encoding")) {
            ++codings;
            if (!text::equalsIgnoringCase(trimmed(value), "chunked")) {
                return "a transfer coding other than chunked";
            }
        } else if (text::equalsIgnoringCase(name, "Host")) {
            ++hosts;
        }
    }
    if (lengths > 1) {
        return "more than one Content-Length";
    }
    if (codings > 1) {
        return "more than one Transfer-Encoding";
    }
    if (lengths > 0 && codings > 0) {
        return "both Content-Length and Transfer-Encoding";
    }
    if (hosts > 1 || (hosts == 0 && version == "HTTP/1.1")) {
        return "an HTTP/1.1 request needs exactly one Host";
    }
    return std::nullopt;
}

} // namespace tarvo::server::http
