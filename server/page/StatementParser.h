// Recognises the three statement shapes that the control posts and nothing else. The server
// never runs received text: a recognised statement becomes one of these values, which the
// database binds into its own prepared statements.
#pragma once

#include "statement/Statement.h"

#include <string>
#include <string_view>

namespace tarvo::server::page {

struct ParseResult
{
    bool ok = false;
    statement::Statement statement;
    std::string message; // why the text was refused; empty when ok
};

class StatementParser
{
public:
    // Never throws. Keywords and column names in any letter case, blanks (space, tab, line
    // breaks) wherever a token ends; ids are whole numbers within 64 bits, the fee a finite
    // decimal number (exponent allowed), the duty flag 0 or 1. Anything else, including a
    // trailing semicolon, a comment or quoted text, is refused with a reason.
    static ParseResult parse(std::string_view text);
};

} // namespace tarvo::server::page
