#include "net/Curl.h"

#include <curl/curl.h>
#include <mutex>
#include <string>

namespace tarvo::curl {

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

} // namespace tarvo::curl
