#include "Statements.h"

#include "UrlEncode.h"
#include "logic/RowText.h"
#include "logic/ValueForms.h"
#include "protocol/Statements.h"
#include "protocol/Wire.h"

#include <cmath>
#include <cstddef>
#include <string_view>

namespace tarvo::logic {

namespace {

// The statement counter of the batch is a 16-bit signed number.
constexpr std::size_t kMaxStatements = 32767;

// Only a whole number may reach a statement: the id is written unquoted, so anything else
// could change the statement's meaning.
void requireWholeNumber(const std::string &id)
{
    std::size_t i = !id.empty() && id.front() == '-' ? 1 : 0;
    const bool hasDigits = i < id.size();
    for (; i < id.size(); ++i) {
        if (id[i] < '0' || id[i] > '9') {
            break;
        }
    }
    if (!hasDigits || i != id.size()) {
        throw BatchError("the vendor id \"" + id + "\" is not a whole number");
    }
}

// The stored fraction of the row's fee, in general number form.
std::string feeFraction(const SelectedRow &row)
{
    if (!row.fee.hundredths) {
        // A fee kept as text is read as the text says.
        double percent = 0.0;
        try {
            percent = logic::toNumber(row.fee.text);
        } catch (const logic::ValueError &) {
            throw BatchError("the handling fee \"" + row.fee.text + "\" of vendor " + row.id +
                             " is not a number");
        }
        if (!std::isfinite(percent)) {
            throw BatchError("the handling fee of vendor " + row.id + " is too large");
        }
    }
    return logic::feeFractionText(row.fee);
}

std::string insertStatement(const std::string &center, const SelectedRow &row)
{
    return protocol::statement::insertText(center, row.id, feeFraction(row),
                                           logic::dutyStatementText(row.duty));
}

std::string updateStatement(const std::string &center, const SelectedRow &row)
{
    return protocol::statement::updateText(center, row.id, feeFraction(row),
                                           logic::dutyStatementText(row.duty));
}

// The last letter of the duty column as held, blanks not removed; '\0' when unwritten.
char lastCharacter(const DutyMark &duty)
{
    const std::string text = logic::dutyMarkText(duty);
    return text.empty() ? '\0' : text.back();
}

void append(std::vector<std::string> &statements, std::string statement)
{
    if (statements.size() >= kMaxStatements) {
        throw BatchError("the batch holds more than 32767 statements");
    }
    statements.push_back(std::move(statement));
}

// Statements are UTF-8; the encoder wants UTF-16. A malformed sequence becomes U+FFFD, which
// the encoder in turn replaces like any character outside its code page.
std::u16string utf8ToUtf16(std::string_view text)
{
    // At most one code unit per byte; written through a pointer as the body is large.
    std::u16string units(text.size(), u'\0');
    char16_t *out = units.data();
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            *out++ = lead;
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        valid = valid && code >= smallest && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            *out++ = 0xFFFD;
            ++i;
        } else if (code >= 0x10000) {
            code -= 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (code >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
            i += length;
        } else {
            *out++ = static_cast<char16_t>(code);
            i += length;
        }
    }
    units.resize(static_cast<std::size_t>(out - units.data()));
    return units;
}

} // namespace

std::vector<std::string> buildStatements(std::int32_t centerId,
                                         const std::vector<SelectedRow> &selected,
                                         const std::vector<NonSelectedRow> &nonSelected)
{
    const std::string center = std::to_string(centerId);
    std::vector<std::string> statements;

    for (const SelectedRow &row : selected) {
        if (logic::isUnmarked(row.duty)) {
            continue;
        }
        const char mark = lastCharacter(row.duty);
        if (mark != 'N' && mark != 'U') {
            continue;
        }
        requireWholeNumber(row.id);
        append(statements,
               mark == 'N' ? insertStatement(center, row) : updateStatement(center, row));
    }

    std::string ids;
    for (const NonSelectedRow &row : nonSelected) {
        if (logic::isUnmarked(row.duty)) {
            continue;
        }
        requireWholeNumber(row.id);
        ids += row.id;
        ids += ',';
    }
    if (!ids.empty()) {
        ids.pop_back();
        append(statements, protocol::statement::deleteText(center, ids));
    }
    return statements;
}

std::string buildBody(const std::vector<std::string> &statements)
{
    std::size_t plain = 0;
    for (const std::string &statement : statements) {
        plain += statement.size() + 5;
    }
    std::string body;
    // Most of a statement travels unescaped; this spares the large early reallocations.
    body.reserve(plain + plain / 4);
    for (const std::string &statement : statements) {
        body += protocol::param::kStatement;
        body += '=';
        body += urlEncode(utf8ToUtf16(statement));
        body += '&';
    }
    return body;
}

} // namespace tarvo::logic
