#include "ExpositionCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>
#include <utility>

namespace tarvo::server::testing {

namespace {

using Labels = std::vector<std::pair<std::string, std::string>>;

bool isName(const std::string &name, bool colonAllowed)
{
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [colonAllowed](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
               (colonAllowed && c == ':');
    });
}

// Go's strconv.ParseFloat as the format uses it: a decimal number, Inf or NaN.
bool readNumber(const std::string &text, double &value)
{
    if (text == "+Inf" || text == "Inf") {
        value = HUGE_VAL;
        return true;
    }
    if (text == "-Inf") {
        value = -HUGE_VAL;
        return true;
    }
    if (text == "NaN") {
        value = NAN;
        return true;
    }
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) {
        return false;
    }
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

struct Sample
{
    std::string name;
    Labels labels;
    double value = 0;
};

// name{a="x",b="y"} value [timestamp]; false with `why` when the line breaks a rule.
bool readSample(const std::string &line, Sample &sample, std::string &why)
{
    std::size_t i = 0;
    while (i < line.size() && line[i] != '{' && line[i] != ' ') {
        ++i;
    }
    sample.name = line.substr(0, i);
    if (!isName(sample.name, true)) {
        why = "bad metric name '" + sample.name + "'";
        return false;
    }
    if (i < line.size() && line[i] == '{') {
        ++i;
        while (i < line.size() && line[i] != '}') {
            const std::size_t equals = line.find('=', i);
            if (equals == std::string::npos || equals + 1 >= line.size() ||
                line[equals + 1] != '"') {
                why = "label without =\"";
                return false;
            }
            std::string name = line.substr(i, equals - i);
            if (!isName(name, false) || name.rfind("__", 0) == 0) {
                why = "bad label name '" + name + "'";
                return false;
            }
            std::string value;
            std::size_t j = equals + 2;
            for (; j < line.size() && line[j] != '"'; ++j) {
                if (line[j] == '\\') {
                    const char next = j + 1 < line.size() ? line[j + 1] : '\0';
                    if (next != '\\' && next != '"' && next != 'n') {
                        why = "bad escape in a label value";
                        return false;
                    }
                    value += next == 'n' ? '\n' : next;
                    ++j;
                } else {
                    value += line[j];
                }
            }
            if (j >= line.size()) {
                why = "label value not closed";
                return false;
            }
            for (const auto &[taken, unused] : sample.labels) {
                if (taken == name) {
                    why = "label '" + name + "' twice";
                    return false;
                }
            }
            sample.labels.emplace_back(std::move(name), std::move(value));
            i = j + 1;
            if (i < line.size() && line[i] == ',') {
                ++i;
            }
        }
        if (i >= line.size()) {
            why = "labels not closed";
            return false;
        }
        ++i;
    }
    if (i >= line.size() || line[i] != ' ') {
        why = "no blank before the value";
        return false;
    }
    std::istringstream rest(line.substr(i + 1));
    std::string number;
    std::string timestamp;
    std::string extra;
    rest >> number >> timestamp >> extra;
    if (!readNumber(number, sample.value) || !extra.empty() ||
        (!timestamp.empty() && timestamp.find_first_not_of("-0123456789") != std::string::npos)) {
        why = "bad value '" + number + "'";
        return false;
    }
    return true;
}

std::string seriesKey(const std::string &name, Labels labels)
{
    std::sort(labels.begin(), labels.end());
    std::string key = name;
    if (!labels.empty()) {
        key += '{';
        for (std::size_t i = 0; i < labels.size(); ++i) {
            key += (i ? "," : "") + labels[i].first + "=\"" + labels[i].second + "\"";
        }
        key += '}';
    }
    return key;
}

// The family a sample belongs to: a histogram's _bucket, _sum and _count are its own.
std::string familyOf(const std::string &name, const std::map<std::string, std::string> &types)
{
    for (const char *suffix : {"_bucket", "_sum", "_count"}) {
        const std::string s(suffix);
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0) {
            const std::string base = name.substr(0, name.size() - s.size());
            const auto type = types.find(base);
            if (type != types.end() && type->second == "histogram") {
                return base;
            }
        }
    }
    return name;
}

std::string unescapedHelp(const std::string &text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out += text[++i] == 'n' ? '\n' : '\\';
        } else {
            out += text[i];
        }
    }
    return out;
}

struct HistogramSeries
{
    std::vector<std::pair<double, double>> buckets; // le, count in page order
    bool sum = false;
    double count = -1;
};

void checkHistograms(const std::map<std::string, HistogramSeries> &histograms,
                     std::vector<std::string> &errors)
{
    for (const auto &[series, h] : histograms) {
        bool ordered = !h.buckets.empty() && std::isinf(h.buckets.back().first);
        for (std::size_t b = 1; b < h.buckets.size(); ++b) {
            ordered = ordered && h.buckets[b - 1].first < h.buckets[b].first &&
                      h.buckets[b - 1].second <= h.buckets[b].second;
        }
        if (!ordered) {
            errors.push_back(series + ": buckets not ascending, not cumulative or no +Inf");
        }
        if (!h.sum || h.count < 0) {
            errors.push_back(series + ": _sum or _count missing");
        } else if (!h.buckets.empty() && h.buckets.back().second != h.count) {
            errors.push_back(series + ": _count differs from the +Inf bucket");
        }
    }
}

} // namespace

ExposedPage readExposition(const std::string &page)
{
    ExposedPage result;
    if (!page.empty() && page.back() != '\n') {
        result.errors.push_back("the page does not end with a line feed");
    }
    std::set<std::string> sampled; // families with samples so far
    std::string current;           // the family of the last sample
    std::map<std::string, HistogramSeries> histograms;
    std::istringstream lines(page);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string at = "line " + std::to_string(number) + ": ";
        if (line.empty()) {
            continue;
        }
        if (line[0] == '#') {
            std::istringstream words(line.substr(1));
            std::string keyword;
            std::string name;
            words >> keyword >> name;
            if (keyword != "HELP" && keyword != "TYPE") {
                continue; // a comment
            }
            auto &seen = keyword == "HELP" ? result.help : result.type;
            std::string text;
            const std::size_t start = line.find(name, 6) + name.size();
            if (start < line.size()) {
                text = line.substr(start + 1);
            }
            if (!isName(name, true) || seen.count(name) != 0) {
                result.errors.push_back(at + keyword + " of '" + name + "' invalid or twice");
            } else if (sampled.count(name) != 0) {
                result.errors.push_back(at + keyword + " of '" + name + "' after its samples");
            }
            if (keyword == "TYPE" && text != "counter" && text != "gauge" && text != "histogram" &&
                text != "summary" && text != "untyped") {
                result.errors.push_back(at + "unknown type '" + text + "'");
            }
            seen[name] = keyword == "HELP" ? unescapedHelp(text) : text;
            continue;
        }
        Sample sample;
        std::string why;
        if (!readSample(line, sample, why)) {
            result.errors.push_back(at + why);
            continue;
        }
        const std::string family = familyOf(sample.name, result.type);
        if (family != current && sampled.count(family) != 0) {
            result.errors.push_back(at + "samples of '" + family + "' not together");
        }
        current = family;
        sampled.insert(family);
        const auto type = result.type.find(family);
        if (type != result.type.end() && type->second == "counter" &&
            (sample.name != family || !(sample.value >= 0))) {
            result.errors.push_back(at + "counter sample misnamed or negative");
        }
        const std::string key = seriesKey(sample.name, sample.labels);
        if (!result.samples.emplace(key, sample.value).second) {
            result.errors.push_back(at + "series twice: " + key);
        }
        if (type != result.type.end() && type->second == "histogram") {
            Labels rest;
            double le = 0;
            bool haveLe = false;
            for (const auto &label : sample.labels) {
                if (label.first == "le") {
                    haveLe = readNumber(label.second, le);
                } else {
                    rest.push_back(label);
                }
            }
            HistogramSeries &h = histograms[seriesKey(family, rest)];
            if (sample.name == family + "_bucket") {
                if (!haveLe) {
                    result.errors.push_back(at + "bucket without a number in le");
                }
                h.buckets.emplace_back(le, sample.value);
            } else if (sample.name == family + "_sum") {
                h.sum = true;
            } else if (sample.name == family + "_count") {
                h.count = sample.value;
            } else {
                result.errors.push_back(at + "histogram sample misnamed");
            }
        }
    }
    checkHistograms(histograms, result.errors);
    return result;
}

} // namespace tarvo::server::testing
