// Number and text forms shared by loading, editing and saving.
// Pure logic: no Qt, no locale; the decimal separator is always a full stop.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvo::logic {

// A text that should have held a number (or a Boolean) did not.
class ValueError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A number did not fit the 16-bit range -32768..32767.
class RangeError : public std::range_error
{
public:
    using std::range_error::range_error;
};

// True for blanks at either end around an optional sign, digits and at most one point
// (at least one digit); an empty or blank-only text is not numeric.
bool isNumeric(std::string_view text);

// The number at the start of a text: leading blanks skipped, then sign, digits and one point
// up to the first other character ("1DU" gives 1); no number at all gives 0.
double leadingNumber(std::string_view text);

// Strict conversion of a numeric text (isNumeric); throws ValueError on anything else.
double toNumber(std::string_view text);

// Rounds halves to the even neighbour; throws RangeError outside -32768..32767.
std::int16_t toInt16(double value);

// toNumber then toInt16: throws ValueError or RangeError.
std::int16_t toInt16(std::string_view text);

// "true"/"false" in any letter case, or a numeric text (non-zero is true); throws ValueError.
bool toBoolean(std::string_view text);

// The "0000" id form: a numeric id rounded to a whole number and padded with zeros to at
// least four digits (7 -> 0007, -7 -> -0007, 12345 stays); a non-numeric id is returned unchanged.
std::string formatId0000(std::string_view id);

// The "0.00" form: at least one digit before the point, exactly two after, leading minus;
// never "-0.00".
std::string format0_00(double value);

// The general number form: shortest decimal with at most 15 significant digits, no grouping;
// exponent form ("1E-05", "1E+15") only below 0.0001 or from 1E+15 on.
std::string generalNumber(double value);

// The text without blanks (code 32) at either end.
std::string_view trimBlanks(std::string_view text);

} // namespace tarvo::logic
