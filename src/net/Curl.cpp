#include "net/Curl.h"

#include "net/Failure.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace tarvo::net {

namespace {

// Decoded by libcurl's URL API; "%" followed by anything but two hex digits stays as written.
// HTTP Basic credentials cannot hold control characters, and libcurl refuses to decode one:
// such a part is sent as written, so the server refuses it rather than a mangled one.
std::string percentDecoded(std::string_view text)
{
    std::string out(text);
    CURLU *parts = curl_url();
    char *decoded = nullptr;
    // The user part is stored as given (no flags), so that only the read decodes.
    if (parts != nullptr && curl_url_set(parts, CURLUPART_USER, out.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_USER, &decoded, CURLU_URLDECODE) == CURLUE_OK) {
        out = decoded;
    }
    curl_free(decoded);
    curl_url_cleanup(parts);
    return out;
}

// Where the authority starts: after "://", or at the start of a URL without a scheme (libcurl
// then guesses one and would still read user information).
std::size_t authorityStart(std::string_view url)
{
    const std::size_t scheme = url.find("://");
    return scheme == std::string_view::npos ? 0 : scheme + 3;
}

// libcurl looks a password up in netrc for a user named in the URL itself, not for one given
// as CURLOPT_USERNAME; the URL as it was when libcurl cannot rebuild it.
std::string urlNamingUser(const Address &address)
{
    std::string url = address.url;
    CURLU *parts = curl_url();
    char *rebuilt = nullptr;
    if (parts != nullptr &&
        curl_url_set(parts, CURLUPART_URL, address.url.c_str(), CURLU_NON_SUPPORT_SCHEME) ==
            CURLUE_OK &&
        curl_url_set(parts, CURLUPART_USER, address.user.c_str(), CURLU_URLENCODE) == CURLUE_OK &&
        curl_url_get(parts, CURLUPART_URL, &rebuilt, 0) == CURLUE_OK) {
        url = rebuilt;
    }
    curl_free(rebuilt);
    curl_url_cleanup(parts);
    return url;
}

} // namespace

void initOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t appendToString(char *data, std::size_t size, std::size_t count, void *target)
{
    static_cast<std::string *>(target)->append(data, size * count);
    return size * count;
}

Address splitAddress(std::string_view url)
{
    Address address;
    const std::size_t start = authorityStart(url);
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    const std::size_t at = url.substr(0, end).rfind('@');
    if (at == std::string_view::npos || at < start) {
        address.url = url;
        return address;
    }
    const std::string_view info = url.substr(start, at - start);
    const std::size_t colon = info.find(':');
    address.user = percentDecoded(info.substr(0, colon));
    address.hasUser = !info.empty();
    if (colon != std::string_view::npos) {
        address.password = percentDecoded(info.substr(colon + 1));
        address.hasPassword = true;
    }
    address.url = std::string(url.substr(0, start)) + std::string(url.substr(at + 1));
    return address;
}

std::string shownUrl(std::string_view url)
{
    const std::size_t start = authorityStart(url);
    const std::size_t at = url.rfind('@');
    if (at == std::string_view::npos || at < start)
        return std::string(url);
    return std::string(url.substr(0, start)) + std::string(url.substr(at + 1));
}

void applyAddress(CURL *handle, const Address &address)
{
    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    if (address.hasPassword) {
        curl_easy_setopt(handle, CURLOPT_URL, address.url.c_str());
        curl_easy_setopt(handle, CURLOPT_USERNAME, address.user.c_str());
        curl_easy_setopt(handle, CURLOPT_PASSWORD, address.password.c_str());
    } else {
        const std::string url = address.hasUser ? urlNamingUser(address) : address.url;
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        // A missing or unreadable file, or one without this host, means no credentials.
        curl_easy_setopt(handle, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_OPTIONAL));
        if (const char *file = std::getenv("NETRC"); file != nullptr && *file != '\0')
            curl_easy_setopt(handle, CURLOPT_NETRC_FILE, file);
    }
    if (const char *bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0')
        curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
}

FailureKind kindOf(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return FailureKind::None;
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
        return FailureKind::NotStarted;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FailureKind::Unreachable;
    case CURLE_OPERATION_TIMEDOUT:
        return FailureKind::TimedOut;
    default:
        return FailureKind::ConnectionFailed;
    }
}

} // namespace tarvo::net
