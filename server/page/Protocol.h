// Reading the page's requests: the query string of the three GETs and what the POST body
// carries. Pure text handling, no HTTP or database.
#pragma once

#include "text/AsciiCase.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::server::page {

// Which query a request asks; for the three the control reads, also the position of its
// answer's section. History is the center's audit trail, an answer of its own.
enum class Section { Count = 0, Active = 1, Selected = 2, History = 3 };

// The most statements one request may carry (the body's size is the HTTP layer's limit).
inline constexpr std::size_t kMaxStatements = 32767;

// The audit rows a history answer holds without a limit, and at most.
inline constexpr std::size_t kDefaultHistoryRows = 50;
inline constexpr std::size_t kMaxHistoryRows = 1000;

struct QueryRequest
{
    Section section = Section::Count;
    std::int64_t centerId = 0;
    std::size_t limit = kDefaultHistoryRows; // History only
};

struct QueryParse
{
    bool ok = false;
    QueryRequest request;
    std::string message; // why the query is malformed; empty when ok
};

// Exactly one of count=1, active=1, selected=1, history=1 and one centerID holding a whole
// number; for history, limit a whole number from 1 (above kMaxHistoryRows it counts as that).
// Parameter names in any letter case, other parameters ignored. Never throws.
QueryParse parseQuery(const std::vector<std::pair<std::string, std::string>> &params);

// The SQL fields of a POST body, as the body reader (FormReader.h) found them.
struct FormParse
{
    enum class Status { Ok, Malformed, TooManyStatements };
    Status status = Status::Ok;
    std::vector<std::string> statements; // every SQL field in body order, decoded; bytes kept
    std::string message;                 // empty when ok
};

// centers=1 among the parameters (name in any letter case): the list of every center, which
// takes no centerID and wins over the other queries. Never throws.
bool asksForCenters(const std::vector<std::pair<std::string, std::string>> &params);

// The name-value pairs of a query string (the text after "?"), decoded like a form body;
// a pair without "=" has an empty value. False when an escape is malformed.
bool parseQueryString(std::string_view query,
                      std::vector<std::pair<std::string, std::string>> &params);

// Form-URL decoding of one name or value; false when a "%" is not followed by two hex digits.
bool formDecode(std::string_view text, std::string &out);

} // namespace tarvo::server::page
