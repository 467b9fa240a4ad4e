// Puts arbitrary bytes, as a store may hold them, into a vendor's name and date, builds the
// two list answers the server sends from such rows, and checks that each answer is well-formed
// XML 1.0: valid UTF-8 with only the characters XML allows, parsed whole, and a name that was
// already fit for XML read back unchanged.
#include "page/Answers.h"
#include "store/Records.h"

#include <cstddef>
#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>

using tarvo::server::page::ListAnswer;
using tarvo::server::page::Section;
using tarvo::server::store::ActiveVendorRow;
using tarvo::server::store::SelectedVendorRow;

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool xmlChar(char32_t cp)
{
    const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                         (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
    const bool nonCharacter = (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE;
    return allowed && !nonCharacter;
}

// Strict UTF-8 made only of characters XML allows, character references included.
bool xmlText(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t cp = lead;
        if (lead >= 0x80) {
            if ((lead & 0xE0) == 0xC0) {
                length = 2;
                cp = lead & 0x1F;
            } else if ((lead & 0xF0) == 0xE0) {
                length = 3;
                cp = lead & 0x0F;
            } else if ((lead & 0xF8) == 0xF0) {
                length = 4;
                cp = lead & 0x07;
            } else {
                return false;
            }
            if (i + length > text.size())
                return false;
            for (std::size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80)
                    return false;
                cp = (cp << 6) | (next & 0x3F);
            }
            static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
            if (cp < kSmallest[length] || (cp >= 0xD800 && cp <= 0xDFFF))
                return false;
        }
        if (!xmlChar(cp))
            return false;
        if (text.substr(i, 2) == "&#") {
            const bool hex = text.substr(i + 2, 1) == "x";
            char32_t referenced = 0;
            std::size_t k = i + (hex ? 3 : 2);
            for (; k < text.size() && text[k] != ';' && referenced <= 0x10FFFF; ++k) {
                const char c = text[k];
                const int digit = c >= '0' && c <= '9' ? c - '0'
                                  : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f'
                                      ? (c | 0x20) - 'a' + 10
                                      : -1;
                if (digit < 0)
                    return false;
                referenced = referenced * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            }
            if (!xmlChar(referenced))
                return false;
        }
        i += length;
    }
    return true;
}

// The name field of the first record of `section`, after checking the whole answer.
std::string checkedName(const std::string &xml, int section)
{
    check(xmlText(xml));
    pugi::xml_document doc;
    const unsigned options = (pugi::parse_default | pugi::parse_ws_pcdata) & ~pugi::parse_eol;
    check(doc.load_buffer(xml.data(), xml.size(), options, pugi::encoding_utf8));
    pugi::xml_node node = doc.document_element().first_child();
    for (int i = 0; i < section; ++i)
        node = node.next_sibling();
    const pugi::xml_node name = node.first_child().first_child().next_sibling();
    check(name);
    return name.text().get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::size_t split = size == 0 ? 0 : 1 + data[0] % size;
    const std::string name(bytes.substr(split > 0 ? 1 : 0, split > 0 ? split - 1 : 0));
    const std::string date(bytes.substr(split));

    // The rows as every engine hands them over: stored bytes as they are, the date as the
    // engines format it.
    tarvo::server::page::ListAnswer active(tarvo::server::page::Section::Active);
    active.add(
        tarvo::server::store::ActiveVendorRow{1, name, 1, tarvo::server::store::usDate(date)});
    tarvo::server::page::ListAnswer selected(tarvo::server::page::Section::Selected);
    selected.add(tarvo::server::store::SelectedVendorRow{2, name, 0.05, true});

    const bool clean = name.find("&#") == std::string::npos && xmlText(name);
    for (const auto &[xml, section] : {std::pair{active.text(), 1}, {selected.text(), 2}}) {
        const std::string readBack = checkedName(xml, section);
        check(!clean || readBack == name);
    }
    return 0;
}
