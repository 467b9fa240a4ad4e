#include "protocol/Statements.h"

#include <cctype>

namespace tarvo::protocol::statement {

namespace {

std::string capitals(std::string_view name)
{
    std::string text(name);
    for (char &c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// "vendorID": the update's WHERE clause has always begun the column with a small letter.
std::string smallFirst(std::string_view name)
{
    std::string text(name);
    if (!text.empty()) {
        text.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(text.front())));
    }
    return text;
}

} // namespace

std::string insertText(std::string_view center, std::string_view vendor, std::string_view fee,
                       std::string_view duty)
{
    std::string text = "INSERT INTO ";
    text.reserve(160);
    text += kTable;
    text += " (";
    for (const std::string_view column : {kCenterId, kVendorId, kFee, kDuty}) {
        text += column;
        text += ',';
    }
    text += kUpdated;
    text += ") VALUES (";
    for (const std::string_view value : {center, vendor, fee, duty}) {
        text += value;
        text += ',';
    }
    text += kNow;
    text += "() ) ";
    return text;
}

std::string updateText(std::string_view center, std::string_view vendor, std::string_view fee,
                       std::string_view duty)
{
    std::string text = "UPDATE ";
    text.reserve(180);
    text += kTable;
    text += " SET ";
    text += kFee;
    text += "= ";
    text += fee;
    text += ", ";
    text += kDuty;
    text += "= ";
    text += duty;
    text += ", ";
    text += kUpdated;
    text += " = ";
    text += kNow;
    text += "() WHERE ";
    text += smallFirst(kVendorId);
    text += " = ";
    text += vendor;
    text += " AND ";
    text += kCenterId;
    text += " = ";
    text += center;
    return text;
}

std::string deleteText(std::string_view center, std::string_view ids)
{
    std::string text = "DELETE FROM ";
    text += capitals(kTable);
    text += " WHERE ";
    text += capitals(kCenterId);
    text += '=';
    text += center;
    text += " AND ";
    text += capitals(kVendorId);
    text += " IN(";
    text += ids;
    text += ')';
    return text;
}

} // namespace tarvo::protocol::statement
