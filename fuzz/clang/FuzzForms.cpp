// Feeds arbitrary text to the value forms and the row marks and checks that they agree with
// each other and throw nothing but their documented errors.
#include "logic/RowText.h"
#include "logic/ValueForms.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarvo::logic;

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_forms: %s\n", what);
        std::abort();
    }
}

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

void checkNumber(std::string_view text)
{
    const bool numeric = isNumeric(text);
    const double leading = leadingNumber(text);
    require(!std::isnan(leading), "leadingNumber gave NaN");
    try {
        const double value = toNumber(text);
        require(numeric, "toNumber accepted a non-numeric text");
        require(value == leading, "toNumber and leadingNumber disagree");
    } catch (const ValueError &) {
        require(!numeric, "toNumber refused a numeric text");
    }
    try {
        (void)toInt16(text);
        require(numeric, "toInt16 accepted a non-numeric text");
    } catch (const ValueError &) {
        require(!numeric, "toInt16 gave ValueError for a numeric text");
    } catch (const RangeError &) {
        require(numeric, "toInt16 gave RangeError for a non-numeric text");
    }
    try {
        const bool value = toBoolean(text);
        if (numeric) {
            require(value == (toNumber(text) != 0.0), "toBoolean misread a number");
        }
    } catch (const ValueError &) {
        require(!numeric, "toBoolean refused a number");
    }
}

void checkFormats(std::string_view text)
{
    const std::string id = formatId0000(text);
    if (!isNumeric(text) || !std::isfinite(toNumber(text))) {
        require(id == text, "formatId0000 changed a non-numeric id");
        return;
    }
    const double value = toNumber(text);
    const std::string_view digits = std::string_view(id).substr(id.front() == '-' ? 1 : 0);
    require(allDigits(digits) && digits.size() >= 4, "formatId0000 is not padded digits");
    require(toNumber(id) == std::round(value), "formatId0000 changed the value");
    require(id != "-0000", "formatId0000 wrote minus zero");

    const std::string fixed = format0_00(value);
    const std::size_t point = fixed.find('.');
    require(point != std::string::npos && point + 3 == fixed.size(), "format0_00 not 2 places");
    require(fixed != "-0.00", "format0_00 wrote minus zero");
    require(isNumeric(fixed), "format0_00 is not numeric");

    const std::string general = generalNumber(value);
    require(general != "-0" && general.find(' ') == std::string::npos, "bad general form");
    const double back = std::strtod(general.c_str(), nullptr);
    require(std::fabs(back - value) <= std::fabs(value) * 1e-14 + 1e-300,
            "generalNumber lost the value");
}

// Loading reads fees on a shorter path for plain decimals; it must agree with the general one.
void checkFee(std::string_view text)
{
    if (!isNumeric(text)) {
        return;
    }
    require(feeFromFraction(text) == feeFromPercent(toNumber(text) * 100),
            "feeFromFraction disagrees with the general reading");
}

void checkMarks(std::string_view text)
{
    const bool unmarked = isUnmarkedText(text);
    require(unmarked == isNumeric(text), "unmarked is not numeric");
    require((pendingOfText(text) == Pending::None) == unmarked, "markOf disagrees");
    const char mark = markChar(text);
    for (const Move move : {Move::Add, Move::Remove, Move::FeeUpdate}) {
        const std::string next = transitionText(move, text);
        if (unmarked) {
            require(!isUnmarkedText(next), "a move left a numeric text unmarked");
        }
    }
    if (!unmarked && mark == 'D') {
        const std::string restored = transitionText(Move::Add, text);
        require(isUnmarkedText(restored), "an undone removal is not numeric");
        require(toNumber(restored) == leadingNumber(text) || !std::isfinite(leadingNumber(text)),
                "an undone removal changed the duty value");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string_view trimmed = trimBlanks(text);
    require(trimmed.empty() || (trimmed.front() != ' ' && trimmed.back() != ' '),
            "trimBlanks left a blank");
    checkNumber(text);
    checkFormats(text);
    checkMarks(text);
    checkFee(text);
    return 0;
}
