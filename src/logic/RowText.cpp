#include "logic/RowText.h"

#include "logic/ValueForms.h"
#include "protocol/Fee.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace tarvo::logic {

namespace {

constexpr std::uint64_t MaxKeyNumber = 999'999'999'999'999;

bool allDigits(std::string_view text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint64_t digitsValue(std::string_view digits)
{
    std::uint64_t value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

int digitCount(std::uint64_t value)
{
    int count = 1;
    while (value >= 10) {
        value /= 10;
        ++count;
    }
    return count;
}

// The duty value of a text (its leading number) written back in plain decimal: no blanks, no
// exponent, no "+" and no trailing zeros after the point. Worked on the text itself so that the
// result is always numeric, however many digits the value has.
std::string rewriteDutyValue(std::string_view text)
{
    std::string_view rest = text.substr(std::min(text.find_first_not_of(' '), text.size()));
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    const auto leadingDigits = [](std::string_view s) {
        return s.substr(0, std::min(s.find_first_not_of("0123456789"), s.size()));
    };
    std::string_view whole = leadingDigits(rest);
    std::string_view fraction;
    if (whole.size() < rest.size() && rest[whole.size()] == '.') {
        fraction = leadingDigits(rest.substr(whole.size() + 1));
    }
    while (!whole.empty() && whole.front() == '0') {
        whole.remove_prefix(1);
    }
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.remove_suffix(1);
    }

    std::string result;
    if (negative && (!whole.empty() || !fraction.empty())) {
        result += '-';
    }
    if (whole.empty()) {
        result += '0';
    } else {
        result += whole;
    }
    if (!fraction.empty()) {
        result += '.';
        result += fraction;
    }
    return result;
}

// The ten typed texts of the duty column, indexed by duty and pending.
constexpr std::string_view DutyTexts[2][5] = {{"0", "0N", "0U", "0D", "0DU"},
                                              {"1", "1N", "1U", "1D", "1DU"}};

} // namespace

// --- fee ---

std::string_view feeText(std::int64_t hundredths, CellBuffer &out)
{
    char *at = out.data();
    std::uint64_t magnitude = hundredths < 0 ? 0 - static_cast<std::uint64_t>(hundredths)
                                             : static_cast<std::uint64_t>(hundredths);
    if (hundredths < 0) {
        *at++ = '-';
    }
    at = std::to_chars(at, out.data() + out.size(), magnitude / 100).ptr;
    const auto cents = static_cast<int>(magnitude % 100);
    *at++ = '.';
    *at++ = static_cast<char>('0' + cents / 10);
    *at++ = static_cast<char>('0' + cents % 10);
    return {out.data(), static_cast<std::size_t>(at - out.data())};
}

std::string feeText(const Fee &fee)
{
    if (!fee.hundredths) {
        return fee.text;
    }
    CellBuffer buffer;
    return std::string(feeText(*fee.hundredths, buffer));
}

Fee feeFromText(std::string_view text)
{
    std::string_view body = text;
    const bool negative = !body.empty() && body.front() == '-';
    if (negative) {
        body.remove_prefix(1);
    }
    const std::size_t point = body.size() >= 4 ? body.size() - 3 : std::string_view::npos;
    const bool shaped = point != std::string_view::npos && body[point] == '.' &&
                        allDigits(body.substr(0, point)) && allDigits(body.substr(point + 1)) &&
                        (point == 1 || body.front() != '0') && body.size() <= 16;
    if (shaped) {
        const auto value = static_cast<std::int64_t>(digitsValue(body.substr(0, point)) * 100 +
                                                     digitsValue(body.substr(point + 1)));
        if (!(negative && value == 0)) {
            return Fee{negative ? -value : value, {}};
        }
    }
    return Fee{std::nullopt, std::string(text)};
}

Fee feeFromPercent(double percent)
{
    if (std::isfinite(percent) && std::fabs(percent) < 1e13) {
        // Rounded as the "0.00" text rounds it, then read back from that text.
        CellBuffer buffer;
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), percent,
                                          std::chars_format::fixed, 2);
        if (result.ec == std::errc()) {
            Fee fee =
                feeFromText({buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())});
            if (fee.hundredths || fee.text != "-0.00") {
                return fee;
            }
            return Fee{0, {}};
        }
    }
    return Fee{std::nullopt, format0_00(percent)};
}

Fee feeFromFraction(std::string_view fraction)
{
    // Exact for the plain decimals the server writes; the general path's two roundings stay
    // far inside the half-hundredth that would change the "0.00" text while the percent is
    // below 1e12, so both give the same fee.
    if (const auto hundredths = protocol::hundredthsOfFractionText(fraction)) {
        return Fee{*hundredths, {}};
    }
    return feeFromPercent(protocol::percentOfFraction(toNumber(fraction)));
}

std::string feeFractionText(const Fee &fee)
{
    if (fee.hundredths) {
        // As the "0.00" text reads: that many hundredths, then the fraction of it.
        return generalNumber(protocol::fractionOfHundredths(*fee.hundredths));
    }
    return generalNumber(protocol::fractionOfPercent(toNumber(fee.text)));
}

// --- duty and pending change ---

std::string_view dutyMarkText(bool duty, Pending pending)
{
    if (pending == Pending::Unknown) {
        return {};
    }
    return DutyTexts[duty ? 1 : 0][static_cast<int>(pending)];
}

std::string dutyMarkText(const DutyMark &column)
{
    if (!column.duty) {
        return column.text;
    }
    return std::string(dutyMarkText(*column.duty, column.pending));
}

DutyMark dutyMarkFromText(std::string_view text)
{
    for (int duty = 0; duty < 2; ++duty) {
        for (int pending = 0; pending < 5; ++pending) {
            if (DutyTexts[duty][pending] == text) {
                return DutyMark{duty == 1, static_cast<Pending>(pending), {}};
            }
        }
    }
    return DutyMark{std::nullopt, Pending::Unknown, std::string(text)};
}

std::string dutyStatementText(const DutyMark &column)
{
    if (column.duty) {
        return *column.duty ? "1" : "0";
    }
    return generalNumber(leadingNumber(column.text));
}

// --- id key ---

std::string_view idKeyText(std::uint64_t number, CellBuffer &out)
{
    const int digits = digitCount(number);
    const int pad = digits < 4 ? 4 - digits : 0;
    std::fill_n(out.data(), pad, '0');
    const auto result = std::to_chars(out.data() + pad, out.data() + out.size(), number);
    return {out.data(), static_cast<std::size_t>(result.ptr - out.data())};
}

std::string idKeyText(const IdKey &key)
{
    if (!key.number) {
        return key.text;
    }
    CellBuffer buffer;
    return std::string(idKeyText(*key.number, buffer));
}

IdKey idKeyOf(std::string_view id)
{
    // Checked and read in one pass: every loaded row comes through here.
    if (!id.empty() && id.size() <= 15) {
        std::uint64_t value = 0;
        bool digits = true;
        for (const char c : id) {
            if (c < '0' || c > '9') {
                digits = false;
                break;
            }
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (digits) {
            return IdKey{value, {}};
        }
    }
    return IdKey{std::nullopt, formatId0000(id)};
}

IdKey idKeyFromText(std::string_view text)
{
    if (text.size() >= 4 && text.size() <= 15 && allDigits(text) &&
        (text.size() == 4 || text.front() != '0')) {
        const std::uint64_t number = digitsValue(text);
        if (number <= MaxKeyNumber) {
            return IdKey{number, {}};
        }
    }
    return IdKey{std::nullopt, std::string(text)};
}

int compareIdKeys(std::uint64_t a, std::uint64_t b)
{
    const int da = std::max(4, digitCount(a));
    const int db = std::max(4, digitCount(b));
    if (da == db) {
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    // Texts of different lengths: the shorter one's digits against as many leading digits of
    // the longer one; where those agree, the shorter text comes first.
    std::uint64_t scale = 1;
    for (int k = 0; k < std::abs(da - db); ++k) {
        scale *= 10;
    }
    const std::uint64_t left = da < db ? a * scale : a;
    const std::uint64_t right = da < db ? b : b * scale;
    if (left != right) {
        return left < right ? -1 : 1;
    }
    return da < db ? -1 : 1;
}

std::uint64_t idKeyOrder(std::uint64_t number)
{
    // The key's digits brought to fifteen places (as compareIdKeys scales the shorter one),
    // then its length: equal leading digits put the shorter text first.
    constexpr int Places = 15;
    constexpr std::array<std::uint64_t, Places + 1> PowersOfTen = {1,
                                                                   10,
                                                                   100,
                                                                   1'000,
                                                                   10'000,
                                                                   100'000,
                                                                   1'000'000,
                                                                   10'000'000,
                                                                   100'000'000,
                                                                   1'000'000'000,
                                                                   10'000'000'000,
                                                                   100'000'000'000,
                                                                   1'000'000'000'000,
                                                                   10'000'000'000'000,
                                                                   100'000'000'000'000,
                                                                   1'000'000'000'000'000};
    number = std::min(number, PowersOfTen[Places] - 1);
    int digits = 4;
    while (digits < Places && number >= PowersOfTen[static_cast<std::size_t>(digits)]) {
        ++digits;
    }
    const std::uint64_t scaled = number * PowersOfTen[static_cast<std::size_t>(Places - digits)];
    return scaled << 4 | static_cast<std::uint64_t>(digits);
}

// --- cells ---

std::string_view cellText(const Row &row, Column column, CellBuffer &out)
{
    switch (column) {
    case Column::Id:
        return row.id;
    case Column::Name:
        return row.name;
    case Column::CountryId:
        return row.countryId;
    case Column::HandlingFee:
        return row.fee.hundredths ? feeText(*row.fee.hundredths, out)
                                  : std::string_view(row.fee.text);
    case Column::DutyMark:
        return row.duty.duty ? dutyMarkText(*row.duty.duty, row.duty.pending)
                             : std::string_view(row.duty.text);
    case Column::DateUpdated:
        return row.date;
    case Column::IdKey:
        return row.key.number ? idKeyText(*row.key.number, out) : std::string_view(row.key.text);
    }
    return {};
}

void setCellText(Row &row, Column column, std::string_view text)
{
    switch (column) {
    case Column::Id:
        row.id = text;
        break;
    case Column::Name:
        row.name = text;
        break;
    case Column::CountryId:
        row.countryId = text;
        break;
    case Column::HandlingFee:
        row.fee = feeFromText(text);
        break;
    case Column::DutyMark:
        row.duty = dutyMarkFromText(text);
        break;
    case Column::DateUpdated:
        row.date = text;
        break;
    case Column::IdKey:
        row.key = idKeyFromText(text);
        break;
    }
}

// --- duty columns held as text ---

bool isUnmarkedText(std::string_view column4)
{
    return isNumeric(column4);
}

char markChar(std::string_view column4)
{
    const std::string_view core = trimBlanks(column4);
    return core.empty() ? '\0' : core.back();
}

Pending pendingOfText(std::string_view column4)
{
    if (isUnmarkedText(column4)) {
        return Pending::None;
    }
    const std::string_view core = trimBlanks(column4);
    switch (markChar(column4)) {
    case 'N':
        return Pending::New;
    case 'D':
        return Pending::Deleted;
    case 'U':
        return core.size() >= 2 && core[core.size() - 2] == 'D' ? Pending::DeletedUpdated
                                                                : Pending::Updated;
    default:
        return Pending::Unknown;
    }
}

std::string transitionText(Move move, std::string_view source)
{
    const bool numeric = isUnmarkedText(source);
    const char mark = markChar(source);
    switch (move) {
    case Move::Add:
        if (numeric) {
            return std::string(source) + "N";
        }
        if (mark == 'D') {
            return rewriteDutyValue(source);
        }
        if (mark == 'U') {
            return rewriteDutyValue(source) + "U";
        }
        return {};
    case Move::Remove:
        if (numeric) {
            return std::string(source) + "D";
        }
        if (mark == 'N') {
            return rewriteDutyValue(source);
        }
        if (mark == 'U') {
            return rewriteDutyValue(source) + "DU";
        }
        return {};
    case Move::FeeUpdate:
        return numeric ? std::string(source) + "U" : std::string(source);
    }
    return {};
}

} // namespace tarvo::logic
