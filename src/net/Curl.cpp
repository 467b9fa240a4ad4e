#include "net/Curl.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace tarvo::curl {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "%" followed by anything but two hex digits stays as written.
std::string percentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
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

} // namespace tarvo::curl
