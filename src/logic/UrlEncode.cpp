#include "UrlEncode.h"

#include <array>
#include <cstdint>

namespace tarvo::logic {

namespace {

// Unicode of the code page 1252 bytes 0x80..0x9F. The five bytes that the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) are given the C1 control of the same number, as the
// Windows conversion tables do in both directions, so those controls survive a round trip.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80..0x87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 0x88..0x8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90..0x97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 0x98..0x9F
};

constexpr char kReplacement = '?';

bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The code page byte of one UTF-16 code unit that is not a surrogate; '?' if it has none.
char toByte(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == unit) {
            return static_cast<char>(0x80 + i);
        }
    }
    return kReplacement;
}

// Bytes that travel unescaped: * - . 0-9 A-Z _ a-z.
constexpr std::array<bool, 256> makeKeptTable()
{
    std::array<bool, 256> kept{};
    for (int c = '0'; c <= '9'; ++c) {
        kept[static_cast<std::size_t>(c)] = true;
    }
    for (int c = 'A'; c <= 'Z'; ++c) {
        kept[static_cast<std::size_t>(c)] = true;
    }
    for (int c = 'a'; c <= 'z'; ++c) {
        kept[static_cast<std::size_t>(c)] = true;
    }
    kept['*'] = true;
    kept['-'] = true;
    kept['.'] = true;
    kept['_'] = true;
    return kept;
}

constexpr std::array<bool, 256> kKept = makeKeptTable();
constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

} // namespace

std::string toCp1252(std::u16string_view text)
{
    // Written through a pointer into a buffer sized for one byte a code unit: this runs over
    // every character of a save batch.
    std::string bytes(text.size(), '\0');
    char *out = bytes.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit < 0x80) {
            *out++ = static_cast<char>(unit);
        } else if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            // One character beyond the basic plane: one replacement, not two.
            ++i;
            *out++ = kReplacement;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            *out++ = kReplacement;
        } else {
            *out++ = toByte(unit);
        }
    }
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    return bytes;
}

std::string urlEncode(std::u16string_view text)
{
    const std::string bytes = toCp1252(text);
    // Sized for the worst case (every byte escaped) and trimmed once, so no reallocation.
    std::string encoded(bytes.size() * 3, '\0');
    char *out = encoded.data();
    for (const char c : bytes) {
        const auto code = static_cast<std::uint8_t>(c);
        if (code == ' ') {
            *out++ = '+';
        } else if (kKept[code]) {
            *out++ = c;
        } else {
            out[0] = '%';
            out[1] = kHexDigits[code >> 4];
            out[2] = kHexDigits[code & 0x0F];
            out += 3;
        }
    }
    encoded.resize(static_cast<std::size_t>(out - encoded.data()));
    return encoded;
}

} // namespace tarvo::logic
