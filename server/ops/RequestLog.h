// The request log: one line per request, as readable text or as one JSON object an operator
// can search. Neither form ever holds a header, a query string or a whole statement.
#pragma once

#include "ops/RequestNote.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::server {

struct RequestRecord
{
    std::chrono::system_clock::time_point time; // when the answer was finished
    std::string id;
    std::string client;                  // the peer's address
    std::string method;                  // empty: the request line never arrived
    std::string path;                    // without the query, as the operator reads it
    RequestNote note;                    // center, user, statements: what the route said
    int status = 0;                      // 0: no answer was sent
    std::chrono::nanoseconds elapsed{0}; // from the first line to the end of the answer
    std::string reason;                  // the answer's text when it refused or failed
    std::string detail;                  // what failed, for the operator only
    std::string ending; // how the exchange ended when not completed ("timed-out", ...)
};

enum class LogFormat { Text, Json };

// One line without its line feed; arbitrary bytes in any field keep it one line (and valid
// JSON), and every free text is cut to a bound.
std::string formatLogLine(const RequestRecord &record, LogFormat format);

// `text` as the inside of a JSON string: quotes, backslashes and control characters escaped,
// a byte that is not part of valid UTF-8 written as U+FFFD.
void appendJsonEscaped(std::string &out, std::string_view text);

// A line of the program's own (a warning, a database's notice) among the request lines: the
// text as it is in the text format, {"ts":...,"notice":...} in JSON.
std::string formatNotice(std::string_view text, LogFormat format);

// "2026-12-07T09:14:03.042Z".
std::string rfc3339(std::chrono::system_clock::time_point time);

} // namespace tarvo::server
