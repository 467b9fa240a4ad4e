#include "ops/RequestLog.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace tarvo::server::ops {

namespace {

constexpr std::size_t kMaxPath = 200;
constexpr std::size_t kMaxText = 300;
constexpr std::size_t kMaxName = 100;

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// At most `max` bytes, cut before a character rather than inside one.
std::string_view clipped(std::string_view text, std::size_t max, bool &cut)
{
    cut = text.size() > max;
    if (!cut) {
        return text;
    }
    std::size_t end = max;
    while (end > 0 && isContinuation(static_cast<unsigned char>(text[end]))) {
        --end;
    }
    return text.substr(0, end);
}

// The length of the valid UTF-8 character at the start of `text`, or 0 when there is none.
// `invalid` is then the bytes to replace by one U+FFFD: the longest start of a valid sequence.
std::size_t utf8Length(std::string_view text, std::size_t &invalid)
{
    const auto at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        invalid = 1;
        return 0;
    }
    std::size_t i = 1;
    for (; i < length && i < text.size(); ++i) {
        const unsigned char byte = at(i);
        const bool fits = i == 1 ? byte >= low && byte <= high : isContinuation(byte);
        if (!fits) {
            break;
        }
    }
    if (i == length) {
        return length;
    }
    invalid = i;
    return 0;
}

void appendJsonString(std::string &out, std::string_view text, std::size_t max)
{
    bool cut = false;
    out += '"';
    appendJsonEscaped(out, clipped(text, max, cut));
    if (cut) {
        out += "...";
    }
    out += '"';
}

void appendJsonStringOrNull(std::string &out, std::string_view text, std::size_t max)
{
    if (text.empty()) {
        out += "null";
    } else {
        appendJsonString(out, text, max);
    }
}

// The code point of one valid UTF-8 character (its one to four bytes).
char32_t codePoint(std::string_view character)
{
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t point = static_cast<unsigned char>(character[0]) & kLeadBits[character.size()];
    for (std::size_t i = 1; i < character.size(); ++i) {
        point = (point << 6) | (static_cast<unsigned char>(character[i]) & 0x3F);
    }
    return point;
}

// Characters some readers end a line at (U+0085, U+2028, U+2029) or split a line at as they
// would at a blank (the other Unicode spaces).
bool breaksOrBlanks(char32_t point)
{
    return point == 0x85 || point == 0xA0 || point == 0x1680 ||
           (point >= 0x2000 && point <= 0x200A) || point == 0x2028 || point == 0x2029 ||
           point == 0x202F || point == 0x205F || point == 0x3000;
}

// Text in the text line: one line, bounded, invalid UTF-8 as U+FFFD, and the bytes of control
// characters and of Unicode line breaks and blanks written %XX. In a field (not prose), blanks,
// "=" and "%" are written %XX as well, so that no value can look like another field.
std::string loggable(std::string_view text, std::size_t max, bool prose = false)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    bool cut = false;
    const std::string_view kept = clipped(text, max, cut);
    std::string out;
    const auto escape = [&out](std::string_view bytes) {
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    };
    std::size_t i = 0;
    while (i < kept.size()) {
        const auto byte = static_cast<unsigned char>(kept[i]);
        if (byte >= 0x80) {
            std::size_t invalid = 0;
            const std::size_t length = utf8Length(kept.substr(i), invalid);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                i += std::max<std::size_t>(invalid, 1);
                continue;
            }
            const std::string_view character = kept.substr(i, length);
            if (breaksOrBlanks(codePoint(character))) {
                escape(character);
            } else {
                out += character;
            }
            i += length;
            continue;
        }
        if (byte < 0x20 || byte == 0x7F ||
            (!prose && (byte == ' ' || byte == '=' || byte == '%'))) {
            escape(kept.substr(i, 1));
        } else {
            out += static_cast<char>(byte);
        }
        ++i;
    }
    if (cut) {
        out += "...";
    }
    return out;
}

std::string milliseconds(std::chrono::nanoseconds elapsed)
{
    const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
    char buffer[32];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, ms, std::chars_format::fixed, 1);
    return std::string(buffer, written.ptr);
}

std::string textLogLine(const RequestRecord &r)
{
    std::string line = loggable(r.method.empty() ? "-" : r.method, kMaxName) + " " +
                       (r.path.empty() ? "-" : loggable(r.path, kMaxPath)) + " center=" +
                       (r.note.center.empty() ? "-" : loggable(r.note.center, kMaxName)) +
                       " statements=" + std::to_string(r.note.statements) +
                       " status=" + (r.status == 0 ? "-" : std::to_string(r.status)) + " " +
                       milliseconds(r.elapsed) + " ms id=" + loggable(r.id, kMaxName) +
                       " from=" + loggable(r.client, kMaxName);
    if (!r.note.user.empty()) {
        line += " user=" + loggable(r.note.user, kMaxName);
    }
    if (!r.ending.empty()) {
        line += " end=" + loggable(r.ending, kMaxName);
    }
    if (!r.detail.empty()) {
        line += " detail=" + loggable(r.detail, kMaxText);
    }
    return line;
}

std::string jsonLogLine(const RequestRecord &r)
{
    std::string error;
    for (const std::string *part : {&r.reason, &r.detail, &r.ending}) {
        if (!part->empty()) {
            error += (error.empty() ? "" : "; ") + *part;
        }
    }
    std::string line = "{\"ts\":\"" + rfc3339(r.time) + "\",\"id\":";
    appendJsonString(line, r.id, kMaxName);
    line += ",\"client\":";
    appendJsonString(line, r.client, kMaxName);
    line += ",\"method\":";
    appendJsonStringOrNull(line, r.method, kMaxName);
    line += ",\"path\":";
    appendJsonString(line, r.path, kMaxPath);
    line += ",\"center\":";
    appendJsonStringOrNull(line, r.note.center, kMaxName);
    line += ",\"user\":";
    appendJsonStringOrNull(line, r.note.user, kMaxName);
    line += ",\"statements\":" + std::to_string(r.note.statements);
    line += ",\"status\":" + (r.status == 0 ? std::string("null") : std::to_string(r.status));
    line += ",\"ms\":" + milliseconds(r.elapsed);
    if (!error.empty()) {
        line += ",\"error\":";
        appendJsonString(line, error, kMaxText);
    }
    line += '}';
    return line;
}

} // namespace

void appendJsonEscaped(std::string &out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            std::size_t invalid = 0;
            const std::size_t length = utf8Length(text.substr(i), invalid);
            if (length == 0) {
                out += "\\ufffd";
                i += invalid;
                continue;
            }
            const std::string_view character = text.substr(i, length);
            // Next line, line and paragraph separators end a line for some readers.
            if (character == "\xC2\x85") {
                out += "\\u0085";
            } else if (character == "\xE2\x80\xA8" || character == "\xE2\x80\xA9") {
                out += character == "\xE2\x80\xA8" ? "\\u2028" : "\\u2029";
            } else {
                out += character;
            }
            i += length;
            continue;
        }
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                out += "\\u00";
                out += kHex[byte >> 4];
                out += kHex[byte & 0xF];
            } else {
                out += static_cast<char>(byte);
            }
        }
        ++i;
    }
}

std::string rfc3339(std::chrono::system_clock::time_point time)
{
    const auto since = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char buffer[40];
    const std::size_t size = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(millis));
    return std::string(buffer, size) + fraction;
}

std::string formatLogLine(const RequestRecord &record, LogFormat format)
{
    return format == LogFormat::Json ? jsonLogLine(record) : textLogLine(record);
}

std::string formatNotice(std::string_view text, LogFormat format)
{
    if (format == LogFormat::Text) {
        return loggable(text, text.size(), true);
    }
    std::string line =
        "{\"ts\":\"" + rfc3339(std::chrono::system_clock::now()) + "\",\"notice\":\"";
    appendJsonEscaped(line, text);
    return line + "\"}";
}

} // namespace tarvo::server::ops
