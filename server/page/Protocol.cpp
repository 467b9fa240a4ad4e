#include "page/Protocol.h"

#include "protocol/Wire.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <system_error>

namespace tarvo::server::page {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// A whole number with an optional minus sign and nothing around it.
std::optional<std::int64_t> wholeNumber(std::string_view text)
{
    const std::size_t start = !text.empty() && text.front() == '-' ? 1 : 0;
    if (start == text.size()) {
        return std::nullopt;
    }
    for (std::size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

QueryParse malformed(std::string message)
{
    QueryParse result;
    result.message = std::move(message);
    return result;
}

} // namespace

QueryParse parseQuery(const std::vector<std::pair<std::string, std::string>> &params)
{
    namespace param = protocol::param;
    static constexpr std::pair<std::string_view, Section> kKinds[] = {
        {param::kCount, Section::Count},
        {param::kActive, Section::Active},
        {param::kSelected, Section::Selected},
        {param::kHistory, Section::History}};

    std::optional<Section> section;
    std::optional<std::string> center;
    std::optional<std::string> limit;
    for (const auto &[name, value] : params) {
        if (text::equalsIgnoringCase(name, param::kCenterId)) {
            if (center) {
                return malformed("centerID is given twice");
            }
            center = value;
            continue;
        }
        if (text::equalsIgnoringCase(name, param::kLimit)) {
            if (limit) {
                return malformed("limit is given twice");
            }
            limit = value;
            continue;
        }
        for (const auto &[kind, kindSection] : kKinds) {
            if (!text::equalsIgnoringCase(name, kind)) {
                continue;
            }
            if (section) {
                return malformed("ask for one of count, active, selected or history at a time");
            }
            if (value != "1") {
                return malformed(std::string(kind) + " must be 1");
            }
            section = kindSection;
        }
    }
    if (!section) {
        return malformed("ask for count=1, active=1, selected=1 or history=1");
    }
    if (!center) {
        return malformed("centerID is missing");
    }
    const std::optional<std::int64_t> centerId = wholeNumber(*center);
    if (!centerId) {
        return malformed("centerID must be a whole number");
    }
    QueryParse result;
    result.request = {*section, *centerId};
    if (*section == Section::History && limit) {
        // Digits only; a number too large to read is as many as may be.
        const bool digits =
            !limit->empty() &&
            std::all_of(limit->begin(), limit->end(), [](char c) { return c >= '0' && c <= '9'; });
        const std::optional<std::int64_t> rows = digits ? wholeNumber(*limit) : std::nullopt;
        if (!digits || (rows && *rows < 1)) {
            return malformed("limit must be a whole number from 1");
        }
        result.request.limit = rows ? static_cast<std::size_t>(std::min<std::int64_t>(
                                          *rows, static_cast<std::int64_t>(kMaxHistoryRows)))
                                    : kMaxHistoryRows;
    }
    result.ok = true;
    return result;
}

bool asksForCenters(const std::vector<std::pair<std::string, std::string>> &params)
{
    return std::any_of(params.begin(), params.end(), [](const auto &param) {
        return text::equalsIgnoringCase(param.first, protocol::param::kCenters) &&
               param.second == "1";
    });
}

bool formDecode(std::string_view text, std::string &out)
{
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                return false;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

namespace {

// Calls `visit(name, value)` for each non-empty "&"-separated pair, both still encoded; the
// value is empty when the pair has no "=". Stops when `visit` returns false.
template <typename Visit> void forEachPair(std::string_view text, Visit visit)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view pair = text.substr(start, end - start);
        start = end + 1;
        if (pair.empty()) {
            continue;
        }
        const std::size_t equals = pair.find('=');
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        if (!visit(pair.substr(0, equals), value)) {
            return;
        }
    }
}

} // namespace

bool parseQueryString(std::string_view query,
                      std::vector<std::pair<std::string, std::string>> &params)
{
    params.clear();
    bool ok = true;
    forEachPair(query, [&](std::string_view name, std::string_view value) {
        std::string decodedName;
        std::string decodedValue;
        ok = formDecode(name, decodedName) && formDecode(value, decodedValue);
        if (ok) {
            params.emplace_back(std::move(decodedName), std::move(decodedValue));
        }
        return ok;
    });
    return ok;
}

} // namespace tarvo::server::page
