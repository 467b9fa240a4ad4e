// How the lists compare their UTF-8 texts: ignoring letter case, in the order of the
// case-folded UTF-16 texts. Texts of plain ASCII, which are nearly all of them, are compared
// byte by byte without converting anything.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::list {

// Negative, zero or positive as a sorts before, with or after b.
int compareFolded(std::string_view a, std::string_view b);

// The first eight folded bytes packed into one integer, so that most comparisons of a sort
// are one integer comparison. Only exact for texts whose first eight bytes are plain ASCII.
struct SortPrefix
{
    std::uint64_t bits = 0;
    bool exact = true;
};
SortPrefix sortPrefix(std::string_view text);

// A search text for "holds it anywhere, in any letter case".
class FoldedNeedle
{
public:
    explicit FoldedNeedle(const QString &text);
    bool foundIn(std::string_view haystack) const;

private:
    QString m_text;
    std::string m_ascii;
    bool m_isAscii = true;
};

} // namespace tarvo::list
