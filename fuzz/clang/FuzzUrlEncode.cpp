// Checks that the form encoding is lossless: decoding the output gives back the input's code
// page 1252 bytes, and nothing outside the kept set travels unescaped.
#include "logic/UrlEncode.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_urlencode: %s\n", what);
        std::abort();
    }
}

bool isKept(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '*' ||
           c == '-' || c == '.' || c == '_';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1; // lower-case digits are a fault too
}

std::string decode(const std::string &encoded)
{
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            bytes.push_back(' ');
        } else if (c == '%') {
            require(i + 2 < encoded.size(), "escape cut short");
            const int high = hexValue(encoded[i + 1]);
            const int low = hexValue(encoded[i + 2]);
            require(high >= 0 && low >= 0, "escape is not two upper-case hex digits");
            const char byte = static_cast<char>(high * 16 + low);
            require(!isKept(byte) && byte != ' ', "a kept character was escaped");
            bytes.push_back(byte);
            i += 2;
        } else {
            require(isKept(c), "a character outside the kept set travelled unescaped");
            bytes.push_back(c);
        }
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::u16string text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }

    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i, ++characters) {
        const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        }
    }

    const std::string bytes = tarvo::logic::toCp1252(text);
    require(bytes.size() == characters, "not one byte per character");
    require(decode(tarvo::logic::urlEncode(text)) == bytes, "decoded output differs");
    return 0;
}
