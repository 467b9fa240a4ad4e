#include "ops/Exposition.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace tarvo::server::ops {

namespace {

bool isNameStart(char c, bool colonAllowed)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           (colonAllowed && c == ':');
}

bool isName(std::string_view name, bool colonAllowed)
{
    if (name.empty() || !isNameStart(name.front(), colonAllowed)) {
        return false;
    }
    for (const char c : name.substr(1)) {
        if (!isNameStart(c, colonAllowed) && !(c >= '0' && c <= '9')) {
            return false;
        }
    }
    return true;
}

// HELP text escapes backslash and line feed; a label value also the double quote.
void appendEscaped(std::string &out, std::string_view text, bool quoteToo)
{
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (quoteToo && c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
}

const char *typeName(ExpositionWriter::Type type)
{
    switch (type) {
    case ExpositionWriter::Type::Counter:
        return "counter";
    case ExpositionWriter::Type::Gauge:
        return "gauge";
    case ExpositionWriter::Type::Histogram:
        return "histogram";
    }
    return "untyped";
}

} // namespace

bool isMetricName(std::string_view name)
{
    return isName(name, true);
}

bool isLabelName(std::string_view name)
{
    // Names starting with "__" are kept for Prometheus itself.
    return isName(name, false) && name.substr(0, 2) != "__";
}

std::string exposedNumber(double value)
{
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

void ExpositionWriter::family(std::string_view name, std::string_view help, Type type)
{
    if (!isMetricName(name)) {
        throw std::invalid_argument("not a metric name: " + std::string(name));
    }
    m_family = name;
    m_page += "# HELP ";
    m_page += name;
    m_page += ' ';
    appendEscaped(m_page, help, false);
    m_page += "\n# TYPE ";
    m_page += name;
    m_page += ' ';
    m_page += typeName(type);
    m_page += '\n';
}

void ExpositionWriter::sampleHead(std::string_view suffix, const std::vector<Label> &labels)
{
    m_page += m_family;
    m_page += suffix;
    if (labels.empty()) {
        return;
    }
    char separator = '{';
    for (const auto &[name, value] : labels) {
        if (!isLabelName(name)) {
            throw std::invalid_argument("not a label name: " + std::string(name));
        }
        m_page += separator;
        m_page += name;
        m_page += "=\"";
        appendEscaped(m_page, value, true);
        m_page += '"';
        separator = ',';
    }
    m_page += '}';
}

void ExpositionWriter::sample(std::string_view suffix, const std::vector<Label> &labels,
                              double value)
{
    sampleHead(suffix, labels);
    m_page += ' ';
    m_page += exposedNumber(value);
    m_page += '\n';
}

void ExpositionWriter::sample(std::string_view suffix, const std::vector<Label> &labels,
                              std::uint64_t value)
{
    sampleHead(suffix, labels);
    m_page += ' ';
    m_page += std::to_string(value);
    m_page += '\n';
}

std::string ExpositionWriter::take()
{
    std::string page = std::move(m_page);
    m_page.clear();
    m_family.clear();
    return page;
}

} // namespace tarvo::server::ops
