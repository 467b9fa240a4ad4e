#include "list/TextOrder.h"

#include <algorithm>

namespace tarvo::list {

namespace {

unsigned char fold(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool isAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

std::u16string_view units(const QString &s)
{
    return {reinterpret_cast<const char16_t *>(s.utf16()), static_cast<std::size_t>(s.size())};
}

// Folding maps one character to one, so any other text is compared whole once folded.
int compareConverted(std::string_view a, std::string_view b)
{
    const QString fa = QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())).toCaseFolded();
    const QString fb = QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())).toCaseFolded();
    const int c = units(fa).compare(units(fb));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

int compareFolded(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (((x | y) & 0x80) != 0) {
            return compareConverted(a, b);
        }
        const unsigned char fx = fold(x);
        const unsigned char fy = fold(y);
        if (fx != fy) {
            return fx < fy ? -1 : 1;
        }
    }
    // A text that begins another sorts first, whatever follows in the longer one.
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

SortPrefix sortPrefix(std::string_view text)
{
    SortPrefix prefix;
    for (std::size_t i = 0; i < 8; ++i) {
        unsigned char c = 0;
        if (i < text.size()) {
            c = static_cast<unsigned char>(text[i]);
            // A zero byte would read as the text's end; other bytes need converting.
            if (c == 0 || (c & 0x80) != 0) {
                prefix.exact = false;
                return prefix;
            }
        }
        prefix.bits = (prefix.bits << 8) | fold(c);
    }
    return prefix;
}

FoldedNeedle::FoldedNeedle(const QString &text) : m_text(text)
{
    const QByteArray utf8 = text.toUtf8();
    m_ascii.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    m_isAscii = isAscii(m_ascii);
    std::transform(m_ascii.begin(), m_ascii.end(), m_ascii.begin(),
                   [](char c) { return static_cast<char>(fold(static_cast<unsigned char>(c))); });
}

bool FoldedNeedle::foundIn(std::string_view haystack) const
{
    if (!m_isAscii || !isAscii(haystack)) {
        return QString::fromUtf8(haystack.data(), static_cast<qsizetype>(haystack.size()))
            .contains(m_text, Qt::CaseInsensitive);
    }
    const auto equal = [](char h, char n) {
        return static_cast<char>(fold(static_cast<unsigned char>(h))) == n;
    };
    return std::search(haystack.begin(), haystack.end(), m_ascii.begin(), m_ascii.end(), equal) !=
           haystack.end();
}

} // namespace tarvo::list
