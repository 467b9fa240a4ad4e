// The request log: one line per request, as readable text or as one JSON object an operator
// can search. Neither form ever holds a header, a query string or a whole statement.
#pragma once

#include "ops/RequestNote.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::server::ops {

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
// JSON), and every free text is cut to a bound. The text form is tokens split by single blanks:
// the method and the path ("-" when missing), key=value fields, each key once, and the time
// as "12.3 ms". A text value writes as %XX (uppercase hex, per byte) every control character,
// blank, "=" and "%", and every Unicode line break or blank (U+0085, U+00A0, U+2028, U+2029
// and the other spaces); invalid UTF-8 becomes U+FFFD. So a value, the detail included,
// decodes back like a URL's and never holds another field.
std::string formatLogLine(const RequestRecord &record, LogFormat format);

// `text` as the inside of a JSON string: quotes, backslashes, control characters and the line
// breaks U+0085, U+2028 and U+2029 escaped, a byte that is not part of valid UTF-8 written as
// U+FFFD.
void appendJsonEscaped(std::string &out, std::string_view text);

// A line of the program's own (a warning, a database's notice) among the request lines, one
// line whatever it holds: in the text format the text as it is but for %XX in place of control
// characters and Unicode line breaks and blanks (blanks, "=" and "%" stay); {"ts":...,
// "notice":...} in JSON.
std::string formatNotice(std::string_view text, LogFormat format);

// "2026-12-07T09:14:03.042Z".
std::string rfc3339(std::chrono::system_clock::time_point time);

} // namespace tarvo::server::ops
