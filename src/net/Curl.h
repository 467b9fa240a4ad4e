// What every libcurl user of the control shares: one global initialisation and a body sink.
#pragma once

#include <cstddef>

namespace tarvo::curl {

// curl_global_init once per process, whichever request comes first.
void initOnce();

// A CURLOPT_WRITEFUNCTION appending to the std::string given as CURLOPT_WRITEDATA.
std::size_t appendToString(char *data, std::size_t size, std::size_t count, void *target);

} // namespace tarvo::curl
