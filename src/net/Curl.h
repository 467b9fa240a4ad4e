// What every libcurl user of the control shares: one global initialisation, a body sink, and
// the server address split into what is sent, what is shown and who is asking.
#pragma once

#include <cstddef>
#include <curl/curl.h>
#include <string>
#include <string_view>

namespace tarvo::net {

// curl_global_init once per process, whichever request comes first.
void initOnce();

// A CURLOPT_WRITEFUNCTION appending to the std::string given as CURLOPT_WRITEDATA.
std::size_t appendToString(char *data, std::size_t size, std::size_t count, void *target);

// A URL with its user information taken out and percent-decoded.
struct Address
{
    std::string url; // without the user information
    std::string user;
    std::string password;
    bool hasUser = false;
    bool hasPassword = false;
};

// The user information ends at the last "@" of the authority, so that an unencoded "@" in a
// password still works; a URL without one is returned unchanged.
Address splitAddress(std::string_view url);

// The URL as a message or a log may show it: everything between "://" and the last "@" is
// dropped, so that even a password with an unencoded "/" or "?" never shows.
std::string shownUrl(std::string_view url);

// Sets the URL and the credentials on a request: those of the address, else (for a password)
// the user's ~/.netrc or the file named by NETRC; HTTP Basic; the CA file named by
// CURL_CA_BUNDLE instead of the system's certificate store.
void applyAddress(CURL *handle, const Address &address);

} // namespace tarvo::net
