// Reads a Prometheus text exposition page (version 0.0.4) by the format's own rules, so that
// tests can both check a page and read its values.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tarvo::server::testing {

struct ExposedPage
{
    // Every sample by series: name{label="value",...} with the labels sorted by name and the
    // values unescaped, as written here, e.g. requests_total{method="GET",status="200"}.
    std::map<std::string, double> samples;
    std::map<std::string, std::string> help; // by family, unescaped
    std::map<std::string, std::string> type; // by family
    std::vector<std::string> errors;         // each broken rule, with its line number
};

// Checks: HELP and TYPE at most once per family and before its samples; a family's samples
// together; valid metric and label names; label values escaped; numbers Go's parser reads;
// no series twice; counters not negative; each histogram series with ascending `le` ending
// in +Inf, cumulative counts, and _sum and _count, _count equal to the +Inf bucket.
ExposedPage readExposition(const std::string &page);

} // namespace tarvo::server::testing
