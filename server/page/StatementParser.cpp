#include "page/StatementParser.h"

#include "page/Protocol.h"
#include "protocol/Statements.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace tarvo::server::page {

namespace {

using namespace protocol::statement;

// Internal only: parse() turns it into a refused result.
class Refusal : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class TokenKind { Word, Number, Symbol, End };

struct Token
{
    TokenKind kind = TokenKind::End;
    std::string_view text;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

std::string describe(const Token &token)
{
    if (token.kind == TokenKind::End) {
        return "the end of the statement";
    }
    // A token may be megabytes long; the reason goes back to the user in one short line.
    constexpr std::size_t kShown = 40;
    if (token.text.size() > kShown) {
        return "'" + std::string(token.text.substr(0, kShown)) + "...'";
    }
    return "'" + std::string(token.text) + "'";
}

std::string describeByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte < 0x7F) {
        return "the character '" + std::string(1, c) + "'";
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string("the byte 0x") + kHex[byte >> 4] + kHex[byte & 0xF];
}

// Reads words, numbers and the four symbols ( ) , = one at a time, so that a statement of
// another shape is refused at its first wrong token. Refuses everything that could carry
// more than these shapes: quotes, semicolons, comments, other punctuation.
class Lexer
{
public:
    explicit Lexer(std::string_view text) : m_text(text) {}

    Token next()
    {
        const std::string_view text = m_text;
        std::size_t &i = m_position;
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            return {TokenKind::End, {}};
        }
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const std::size_t start = i;
        if (c == '(' || c == ')' || c == ',' || c == '=') {
            ++i;
            return {TokenKind::Symbol, text.substr(start, 1)};
        }
        if (isLetter(c)) {
            while (i < text.size() && (isLetter(text[i]) || isDigit(text[i]))) {
                ++i;
            }
            return {TokenKind::Word, text.substr(start, i - start)};
        }
        if (isDigit(c) || ((c == '-' || c == '.') && (isDigit(next) || next == '.'))) {
            // Letters are taken in as well, so that 12abc is one malformed number.
            for (++i; i < text.size(); ++i) {
                const char d = text[i];
                const bool exponentSign =
                    (d == '-' || d == '+') && (text[i - 1] == 'e' || text[i - 1] == 'E');
                if (!isDigit(d) && !isLetter(d) && d != '.' && !exponentSign) {
                    break;
                }
            }
            return {TokenKind::Number, text.substr(start, i - start)};
        }
        if (c == '\'' || c == '"' || c == '`' || c == '[' || c == ']') {
            throw Refusal("quoted text is not accepted");
        }
        if (c == ';') {
            throw Refusal("a semicolon is not accepted: each SQL field holds one statement");
        }
        if ((c == '-' && next == '-') || (c == '/' && next == '*')) {
            throw Refusal("comments are not accepted");
        }
        throw Refusal(describeByte(c) + " is not accepted");
    }

private:
    std::string_view m_text;
    std::size_t m_position = 0;
};

// A number token in the form [-]digits[.digits][(e|E)[+|-]digits], or with digits only
// after the point.
bool isWellFormedNumber(std::string_view text, bool wholeOnly)
{
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        ++i;
    }
    std::size_t digits = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        ++digits;
    }
    if (wholeOnly) {
        return digits > 0 && i == text.size();
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && isDigit(text[i]); ++i) {
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        std::size_t exponentDigits = 0;
        for (; i < text.size() && isDigit(text[i]); ++i) {
            ++exponentDigits;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == text.size();
}

class Parser
{
public:
    explicit Parser(std::string_view text) : m_lexer(text) {}

    statement::Statement statement()
    {
        const Token &first = peek();
        if (first.kind == TokenKind::Word) {
            if (text::equalsIgnoringCase(first.text, "INSERT")) {
                return insert();
            }
            if (text::equalsIgnoringCase(first.text, "UPDATE")) {
                return update();
            }
            if (text::equalsIgnoringCase(first.text, "DELETE")) {
                return remove();
            }
        }
        throw Refusal("only INSERT, UPDATE and DELETE statements are accepted, found " +
                      describe(first));
    }

private:
    statement::InsertAssignment insert()
    {
        statement::InsertAssignment result;
        keyword("INSERT");
        keyword("INTO");
        table();
        symbol('(');
        keyword(kCenterId);
        symbol(',');
        keyword(kVendorId);
        symbol(',');
        keyword(kFee);
        symbol(',');
        keyword(kDuty);
        symbol(',');
        keyword(kUpdated);
        symbol(')');
        keyword("VALUES");
        symbol('(');
        result.centerId = wholeNumber(kCenterId);
        symbol(',');
        result.vendorId = wholeNumber(kVendorId);
        symbol(',');
        result.fee = fee();
        symbol(',');
        result.duty = duty();
        symbol(',');
        now();
        symbol(')');
        end();
        return result;
    }

    statement::UpdateAssignment update()
    {
        statement::UpdateAssignment result;
        keyword("UPDATE");
        table();
        keyword("SET");
        keyword(kFee);
        symbol('=');
        result.fee = fee();
        symbol(',');
        keyword(kDuty);
        symbol('=');
        result.duty = duty();
        symbol(',');
        keyword(kUpdated);
        symbol('=');
        now();
        keyword("WHERE");
        std::optional<std::int64_t> vendor;
        std::optional<std::int64_t> center;
        for (int condition = 0; condition < 2; ++condition) {
            if (condition == 1) {
                keyword("AND");
            }
            const Token &column = peek();
            if (!vendor && column.kind == TokenKind::Word &&
                text::equalsIgnoringCase(column.text, kVendorId)) {
                advance();
                symbol('=');
                vendor = wholeNumber(kVendorId);
            } else if (!center && column.kind == TokenKind::Word &&
                       text::equalsIgnoringCase(column.text, kCenterId)) {
                advance();
                symbol('=');
                center = wholeNumber(kCenterId);
            } else {
                throw Refusal("expected " + std::string(vendor ? kCenterId : kVendorId) +
                              ", found " + describe(column));
            }
        }
        end();
        result.vendorId = *vendor;
        result.centerId = *center;
        return result;
    }

    statement::DeleteAssignments remove()
    {
        statement::DeleteAssignments result;
        keyword("DELETE");
        keyword("FROM");
        table();
        keyword("WHERE");
        bool haveCenter = false;
        bool haveVendors = false;
        for (int condition = 0; condition < 2; ++condition) {
            if (condition == 1) {
                keyword("AND");
            }
            const Token &column = peek();
            if (!haveCenter && column.kind == TokenKind::Word &&
                text::equalsIgnoringCase(column.text, kCenterId)) {
                advance();
                symbol('=');
                result.centerId = wholeNumber(kCenterId);
                haveCenter = true;
            } else if (!haveVendors && column.kind == TokenKind::Word &&
                       text::equalsIgnoringCase(column.text, kVendorId)) {
                advance();
                keyword("IN");
                symbol('(');
                result.vendorIds.push_back(wholeNumber(kVendorId));
                while (peekSymbol(',')) {
                    advance();
                    result.vendorIds.push_back(wholeNumber(kVendorId));
                }
                symbol(')');
                haveVendors = true;
            } else {
                throw Refusal("expected " + std::string(haveCenter ? kVendorId : kCenterId) +
                              ", found " + describe(column));
            }
        }
        end();
        return result;
    }

    const Token &peek()
    {
        if (!m_peeked) {
            m_current = m_lexer.next();
            m_peeked = true;
        }
        return m_current;
    }

    Token advance()
    {
        const Token token = peek();
        m_peeked = false;
        return token;
    }

    bool peekSymbol(char c) { return peek().kind == TokenKind::Symbol && peek().text.front() == c; }

    void keyword(std::string_view word)
    {
        const Token token = advance();
        if (token.kind != TokenKind::Word || !text::equalsIgnoringCase(token.text, word)) {
            throw Refusal("expected " + std::string(word) + ", found " + describe(token));
        }
    }

    void table()
    {
        const Token token = advance();
        if (token.kind != TokenKind::Word || !text::equalsIgnoringCase(token.text, kTable)) {
            throw Refusal("only the table " + std::string(kTable) + " is accepted, found " +
                          describe(token));
        }
    }

    void symbol(char c)
    {
        const Token token = advance();
        if (token.kind != TokenKind::Symbol || token.text.front() != c) {
            throw Refusal("expected '" + std::string(1, c) + "', found " + describe(token));
        }
    }

    void now()
    {
        keyword(kNow);
        symbol('(');
        symbol(')');
    }

    void end()
    {
        const Token token = advance();
        if (token.kind != TokenKind::End) {
            throw Refusal("unexpected " + describe(token) + " after the end of the statement");
        }
    }

    Token numberToken(std::string_view column)
    {
        const Token token = advance();
        if (token.kind != TokenKind::Number) {
            throw Refusal("expected a number for " + std::string(column) + ", found " +
                          describe(token));
        }
        return token;
    }

    std::int64_t wholeNumber(std::string_view column)
    {
        const Token token = numberToken(column);
        if (!isWellFormedNumber(token.text, true)) {
            throw Refusal("expected a whole number for " + std::string(column) + ", found " +
                          describe(token));
        }
        std::int64_t value = 0;
        const auto [ptr, error] =
            std::from_chars(token.text.data(), token.text.data() + token.text.size(), value);
        if (error != std::errc() || ptr != token.text.data() + token.text.size()) {
            throw Refusal("the " + std::string(column) + " " + describe(token) +
                          " is out of range");
        }
        return value;
    }

    double decimal(std::string_view column)
    {
        const Token token = numberToken(column);
        if (!isWellFormedNumber(token.text, false)) {
            throw Refusal("expected a number for " + std::string(column) + ", found " +
                          describe(token));
        }
        double value = 0.0;
        const auto [ptr, error] =
            std::from_chars(token.text.data(), token.text.data() + token.text.size(), value);
        if (error != std::errc() || ptr != token.text.data() + token.text.size() ||
            !std::isfinite(value)) {
            throw Refusal("the " + std::string(column) + " " + describe(token) +
                          " is out of range");
        }
        return value;
    }

    double fee() { return decimal(kFee); }

    bool duty()
    {
        const double value = decimal(kDuty);
        if (value != 0.0 && value != 1.0) {
            throw Refusal(std::string(kDuty) + " must be 0 or 1");
        }
        return value == 1.0;
    }

    Lexer m_lexer;
    Token m_current;
    bool m_peeked = false;
};

} // namespace

ParseResult StatementParser::parse(std::string_view text)
{
    ParseResult result;
    try {
        result.statement = Parser(text).statement();
        result.ok = true;
    } catch (const Refusal &refusal) {
        result.message = refusal.what();
    }
    return result;
}

} // namespace tarvo::server::page
