// The database location as it may be shown, and the passwords it or the options carry, masked
// wherever libpq's own texts echo them.
#include "store/Store.h"

#include <algorithm>

namespace tarvo::server::store {

bool isPostgresLocation(std::string_view location)
{
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

namespace {

int hexValue(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// `text` with each valid %XX decoded and anything else kept, so that a token libpq refuses to
// decode still gives the spelling a reader would take for it.
std::string percentDecoded(std::string_view text)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

std::string percentEncoded(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
            byte == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return encoded;
}

// The inside of a quoted key=value conninfo value.
std::string conninfoEscaped(std::string_view text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '\\' || c == '\'') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

struct Span
{
    std::size_t at = 0;
    std::size_t size = 0;
};

// Where a URI writes its passwords: in the user information, and as the value of each
// password= query parameter, its key in any spelling libpq decodes ("pass%77ord").
std::vector<Span> uriPasswords(std::string_view location)
{
    std::vector<Span> spans;
    const std::size_t scheme = location.find("://");
    if (scheme == std::string_view::npos) {
        return spans;
    }
    // libpq ends the user information at the first "@" before any "/", so a "?" or "#" in the
    // password belongs to it.
    const std::size_t authority = scheme + 3;
    const std::size_t userEnd = location.find_first_of("@/", authority);
    if (userEnd != std::string_view::npos && location[userEnd] == '@') {
        const std::size_t colon = location.find(':', authority);
        if (colon != std::string_view::npos && colon < userEnd) {
            spans.push_back({colon + 1, userEnd - colon - 1});
        }
    }
    std::size_t query = location.find('?', userEnd == std::string_view::npos ? authority : userEnd);
    while (query != std::string_view::npos) {
        const std::size_t key = query + 1;
        const std::size_t next = location.find('&', key);
        const std::size_t end = next == std::string_view::npos ? location.size() : next;
        const std::size_t equals = location.find('=', key);
        if (equals != std::string_view::npos && equals < end &&
            percentDecoded(location.substr(key, equals - key)) == "password") {
            spans.push_back({equals + 1, end - equals - 1});
        }
        query = next;
    }
    return spans;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The password= values of a key=value conninfo, read as libpq reads them: a value is quoted
// ('...', up to the end when unterminated) or runs to the next blank; a backslash escapes the
// next character in both. As written, without the quotes.
std::vector<Span> conninfoPasswords(std::string_view text)
{
    std::vector<Span> spans;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
    };
    for (;;) {
        skipBlanks();
        const std::size_t name = i;
        while (i < text.size() && text[i] != '=' && !isBlank(text[i])) {
            ++i;
        }
        const std::string_view keyword = text.substr(name, i - name);
        skipBlanks();
        if (i >= text.size() || text[i] != '=') {
            return spans;
        }
        ++i;
        skipBlanks();
        const bool quoted = i < text.size() && text[i] == '\'';
        i += quoted ? 1 : 0;
        const std::size_t value = i;
        while (i < text.size() && (quoted ? text[i] != '\'' : !isBlank(text[i]))) {
            i += text[i] == '\\' ? 2 : 1;
        }
        i = std::min(i, text.size());
        if (keyword == "password") {
            spans.push_back({value, i - value});
        }
        i += quoted && i < text.size() ? 1 : 0;
    }
}

std::string conninfoUnescaped(std::string_view text)
{
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

} // namespace

std::string shownLocation(const std::string &location)
{
    std::string shown = location;
    const std::vector<Span> spans = uriPasswords(location);
    // From the last, so that the earlier positions still hold.
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        shown.replace(span->at, span->size, "***");
    }
    return shown;
}

PasswordMask::PasswordMask(std::string_view location, const std::vector<std::string> &given)
{
    std::vector<std::string> values = given;
    const bool uri = location.find("://") != std::string_view::npos;
    for (const Span &span : uri ? uriPasswords(location) : conninfoPasswords(location)) {
        const std::string_view written = location.substr(span.at, span.size);
        m_spellings.emplace_back(written);
        values.push_back(uri ? percentDecoded(written) : conninfoUnescaped(written));
    }
    for (const std::string &value : values) {
        m_spellings.push_back(value);
        m_spellings.push_back(percentEncoded(value));
        m_spellings.push_back(conninfoEscaped(value));
    }
    std::erase(m_spellings, std::string());
    std::sort(m_spellings.begin(), m_spellings.end());
    m_spellings.erase(std::unique(m_spellings.begin(), m_spellings.end()), m_spellings.end());
}

std::string PasswordMask::operator()(std::string_view text) const
{
    // Every byte inside any occurrence of any spelling, overlapping ones included, so that
    // masking one spelling can neither leave a piece of another nor make a new one.
    std::vector<bool> hidden(text.size(), false);
    for (const std::string &spelling : m_spellings) {
        for (std::size_t at = text.find(spelling); at != std::string_view::npos;
             at = text.find(spelling, at + 1)) {
            std::fill_n(hidden.begin() + static_cast<std::ptrdiff_t>(at), spelling.size(), true);
        }
    }
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!hidden[i]) {
            shown += text[i];
        } else if (i == 0 || !hidden[i - 1]) {
            shown += "***";
        }
    }
    return shown;
}

} // namespace tarvo::server::store
