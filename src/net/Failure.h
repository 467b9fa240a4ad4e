// Why a request brought no usable answer, as values: libcurl's code and the HTTP status travel
// up as they were, and the one place that sorts them is kindOf.
#pragma once

#include <curl/curl.h>

namespace tarvo::net {

enum class FailureKind {
    None,
    NotStarted,       // libcurl could not set the request up
    Unreachable,      // the host is unknown, or nothing answers at its port
    TimedOut,         // a time limit passed: connecting, the whole request, or no byte moving
    ConnectionFailed, // broken off, refused by the protocol, or could not be secured
    HttpStatus,       // an answer with a status of 400 or more
    BadAnswer,        // an answer that is not well-formed (query documents only)
};

struct Failure
{
    FailureKind kind = FailureKind::None;
    CURLcode curlCode = CURLE_OK; // CURLE_OK for HttpStatus, BadAnswer and None
    int httpStatus = 0;           // the refusing answer's status (HttpStatus only), else 0
    // The whole request had left before the failure, so the server may have acted on it.
    bool requestSent = false;

    bool failed() const { return kind != FailureKind::None; }
};

// The kind of a transfer that libcurl ended with code (CURLE_OK gives None).
FailureKind kindOf(CURLcode code);

} // namespace tarvo::net
