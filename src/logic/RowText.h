// The texts of a row's cells: the one place that writes the typed values as the lists show them
// ("8.00" for a fee of 800 hundredths, "1N" for a new row with duty, "0007" for the key of id 7)
// and reads such texts back. Reading keeps a typed value only where writing it gives back the
// very same text; any other text stays text, so a cell always reads as it was written. Pure
// logic: the decimal separator is always a full stop.
#pragma once

#include "logic/Columns.h"
#include "logic/Row.h"
#include "logic/RowMark.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::logic {

// Room for the text of any typed cell.
using CellBuffer = std::array<char, 32>;

// The largest fee held typed: its "0.00" text has at most fifteen digits, so it reads back as
// the same number of hundredths (and a statement writes it as the text would give it).
inline constexpr std::int64_t MaxFeeHundredths = 999'999'999'999'999;

// "0.00" form of a fee: at least one digit before the point, two after, leading minus.
std::string_view feeText(std::int64_t hundredths, CellBuffer &out);
// The cell text: the typed value, the kept text, or "" when unwritten.
std::string feeText(const Fee &fee);
// Typed when text is exactly what feeText writes; "" is unwritten.
Fee feeFromText(std::string_view text);
// A percent in the "0.00" form (halves as the shortest decimal of the double rounds them);
// beyond MaxFeeHundredths the row keeps the text.
Fee feeFromPercent(double percent);
// The server's fraction (0.08) as the list's percent (8.00). Throws ValueError for a text that
// is not numeric.
Fee feeFromFraction(std::string_view fraction);
// The fee as the statements write it: the fraction in general number form (500 gives 0.05).
// Throws ValueError for an unwritten fee or a kept text that is not numeric.
std::string feeFractionText(const Fee &fee);

// "1", "0N", "1DU", ...; pending Unknown gives "".
std::string_view dutyMarkText(bool duty, Pending pending);
std::string dutyMarkText(const DutyMark &column);
// Typed for the ten texts dutyMarkText writes; "" is unwritten; anything else stays text.
DutyMark dutyMarkFromText(std::string_view text);
// The duty as the statements write it: the leading number of the column (1N gives 1).
std::string dutyStatementText(const DutyMark &column);

// "0000" form of a plain-digits id's number: padded with zeros to at least four digits.
std::string_view idKeyText(std::uint64_t number, CellBuffer &out);
std::string idKeyText(const IdKey &key);
// The key of an id: its number where the id is plain digits (at most fifteen), else the "0000"
// form of ValueForms (a numeric id rounded and padded, any other id unchanged).
IdKey idKeyOf(std::string_view id);
// Typed when text is exactly what idKeyText writes for some number; "" is unwritten.
IdKey idKeyFromText(std::string_view text);
// Orders two typed keys as their texts order (so 12345 comes before 0999 as "1" before "0").
int compareIdKeys(std::uint64_t a, std::uint64_t b);
// One number per typed key (at most fifteen digits) that orders as compareIdKeys does, so that a
// sort compares integers. Surprise: keys beyond fifteen digits share numbers.
std::uint64_t idKeyOrder(std::uint64_t number);

// One cell of a row as the list shows it; the view points into row or out.
std::string_view cellText(const Row &row, Column column, CellBuffer &out);
// Writes a cell from its text (typed where the text allows).
void setCellText(Row &row, Column column, std::string_view text);

// Duty columns held as text follow the rules over texts: unmarked means numeric (blanks around
// allowed); the mark is the last character after outer blanks ('\0' for a blank text).
bool isUnmarkedText(std::string_view column4);
char markChar(std::string_view column4);
Pending pendingOfText(std::string_view column4);
// Column 4 of the row a move makes from a source column; total over all texts (a text loaded
// data cannot produce gives "" for moves and itself for a fee update).
std::string transitionText(Move move, std::string_view source);

} // namespace tarvo::logic
