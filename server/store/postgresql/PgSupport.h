// Conversions between C++ values and libpq's texts, shared by the PostgreSQL engine's files.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <libpq-fe.h>
#include <string>
#include <string_view>

namespace tarvo::server::pg {

inline std::string text(std::int64_t value)
{
    std::array<char, 24> buffer{};
    return std::string(buffer.data(),
                       std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr);
}

// The shortest text that reads back as the same double.
inline std::string text(double value)
{
    std::array<char, 32> buffer{};
    return std::string(buffer.data(),
                       std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr);
}

template <typename Number> Number number(const PGresult *result, int row, int column)
{
    const char *value = PQgetvalue(result, row, column);
    Number parsed{};
    std::from_chars(value, value + PQgetlength(result, row, column), parsed);
    return parsed;
}

inline void assign(std::string &into, const PGresult *result, int row, int column)
{
    into.assign(PQgetvalue(result, row, column),
                static_cast<std::size_t>(PQgetlength(result, row, column)));
}

inline std::string_view sqlState(const PGresult *result)
{
    const char *state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return state != nullptr ? state : "";
}

inline bool isSerializationFailure(std::string_view state)
{
    return state == "40001" || state == "40P01";
}

inline std::string trimmed(const char *message)
{
    std::string out = message != nullptr ? message : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
        out.pop_back();
    }
    return out;
}

} // namespace tarvo::server::pg
