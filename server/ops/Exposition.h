// Writes the Prometheus text exposition format, version 0.0.4: what a scraper reads from
// /metrics. Knows the format's rules (names, escaping, numbers) and nothing of what is counted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::server::ops {

inline constexpr const char *kExpositionType = "text/plain; version=0.0.4; charset=utf-8";

using Label = std::pair<std::string_view, std::string_view>; // name, value

class ExpositionWriter
{
public:
    enum class Type { Counter, Gauge, Histogram };

    // Starts a family: its # HELP and # TYPE lines. Every sample up to the next family belongs
    // to it. Throws std::invalid_argument for a name the format does not allow.
    void family(std::string_view name, std::string_view help, Type type);

    // One sample of the current family, named the family's name followed by `suffix`
    // ("_bucket", "_sum", "_count" for a histogram, "" otherwise). Label values may hold any
    // bytes; label names must be valid (std::invalid_argument otherwise).
    void sample(std::string_view suffix, const std::vector<Label> &labels, double value);
    void sample(std::string_view suffix, const std::vector<Label> &labels, std::uint64_t value);

    // The page written so far; the writer is empty afterwards.
    std::string take();

private:
    void sampleHead(std::string_view suffix, const std::vector<Label> &labels);

    std::string m_page;
    std::string m_family;
};

// A number as the format writes it: "+Inf", "-Inf", "NaN", or the shortest decimal text
// that reads back as the same double.
std::string exposedNumber(double value);

bool isMetricName(std::string_view name);
bool isLabelName(std::string_view name);

} // namespace tarvo::server::ops
