// Form-URL encoding (application/x-www-form-urlencoded) over code page 1252. Pure logic.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::logic {

// The text in code page 1252, one byte a character; a character outside that code page
// (a surrogate pair counts as one character) becomes '?'.
std::string toCp1252(std::u16string_view text);

// Blank becomes "+", * - . 0-9 A-Z _ a-z stay, every other code becomes "%XX" (upper case);
// characters outside code page 1252 are encoded as "%3F".
std::string urlEncode(std::u16string_view text);

} // namespace tarvo::logic
