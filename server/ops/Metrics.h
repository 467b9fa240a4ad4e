// Counters, duration histograms and gauges that the request threads update with one relaxed
// atomic add each, and that a scrape reads into an exposition page. Every label value is
// fixed when its family is made: a count then lands at a known place without a lock or an
// allocation, and no request can add a series to the page.
#pragma once

#include "ops/Exposition.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace tarvo::server::ops {

// A label and every value it may take.
struct LabelDomain
{
    std::string name;
    std::vector<std::string> values;
};

class MetricFamily
{
public:
    MetricFamily(std::string name, std::string help);
    virtual ~MetricFamily() = default;
    MetricFamily(const MetricFamily &) = delete;
    MetricFamily &operator=(const MetricFamily &) = delete;

    const std::string &name() const { return m_name; }
    virtual void write(ExpositionWriter &writer) const = 0;

protected:
    std::string m_name;
    std::string m_help;
};

class CounterFamily : public MetricFamily
{
public:
    // Always: every combination of label values is on the page, 0 until counted (for small
    // families whose zeros say something). OnceCounted: a series appears with its first count.
    enum class Shown { Always, OnceCounted };

    CounterFamily(std::string name, std::string help, std::vector<LabelDomain> labels, Shown shown);

    // `at` holds one value index per label, in the family's label order. Throws
    // std::out_of_range for an index outside its domain or a wrong number of them.
    void add(std::initializer_list<std::size_t> at, std::uint64_t count = 1);
    std::uint64_t value(std::initializer_list<std::size_t> at) const;

    void write(ExpositionWriter &writer) const override;

private:
    std::size_t cell(std::initializer_list<std::size_t> at) const;

    std::vector<LabelDomain> m_labels;
    Shown m_shown;
    std::size_t m_cellCount;
    std::unique_ptr<std::atomic<std::uint64_t>[]> m_cells;
};

// A histogram of durations in seconds, one per value of a single label; a series appears
// with its first observation.
class DurationHistogram : public MetricFamily
{
public:
    // `bounds` in seconds, ascending; the +Inf bucket is added.
    DurationHistogram(std::string name, std::string help, LabelDomain label,
                      std::vector<double> bounds);

    // Throws std::out_of_range for an index outside the label's domain.
    void observe(std::size_t at, std::chrono::nanoseconds elapsed);

    void write(ExpositionWriter &writer) const override;

private:
    struct Series; // the buckets and the sum of one label value

    LabelDomain m_label;
    std::vector<double> m_bounds;
    std::vector<std::int64_t> m_boundNanoseconds;
    std::unique_ptr<Series[]> m_series;
};

// A value read when the page is written, with labels that never change.
class Gauge : public MetricFamily
{
public:
    Gauge(std::string name, std::string help,
          std::vector<std::pair<std::string, std::string>> labels, std::function<double()> read);

    void write(ExpositionWriter &writer) const override;

private:
    std::vector<std::pair<std::string, std::string>> m_labels;
    std::function<double()> m_read;
};

class MetricsRegistry
{
public:
    MetricsRegistry();
    ~MetricsRegistry();
    MetricsRegistry(const MetricsRegistry &) = delete;
    MetricsRegistry &operator=(const MetricsRegistry &) = delete;

    // Families are added before the registry is shared between threads; the page lists them
    // in the order added. Throws std::invalid_argument for a name already taken or one the
    // format does not allow.
    CounterFamily &counter(std::string name, std::string help, std::vector<LabelDomain> labels,
                           CounterFamily::Shown shown);
    DurationHistogram &histogram(std::string name, std::string help, LabelDomain label,
                                 std::vector<double> bounds);
    void gauge(std::string name, std::string help,
               std::vector<std::pair<std::string, std::string>> labels,
               std::function<double()> read);

    // The exposition page; runs every gauge's read on the calling thread.
    std::string page() const;

private:
    template <typename Family> Family &add(std::unique_ptr<Family> family);

    struct Private;
    std::unique_ptr<Private> const d;
};

} // namespace tarvo::server::ops
