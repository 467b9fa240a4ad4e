#include "ops/Metrics.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unordered_set>

namespace tarvo::server::ops {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

void checkName(const std::string &name)
{
    if (!isMetricName(name)) {
        throw std::invalid_argument("not a metric name: " + name);
    }
}

} // namespace

MetricFamily::MetricFamily(std::string name, std::string help)
    : m_name(std::move(name)), m_help(std::move(help))
{
    checkName(m_name);
}

CounterFamily::CounterFamily(std::string name, std::string help, std::vector<LabelDomain> labels,
                             Shown shown)
    : MetricFamily(std::move(name), std::move(help)), m_labels(std::move(labels)), m_shown(shown),
      m_cellCount(1)
{
    for (const LabelDomain &label : m_labels) {
        if (!isLabelName(label.name) || label.values.empty()) {
            throw std::invalid_argument("bad label of " + m_name + ": " + label.name);
        }
        m_cellCount *= label.values.size();
    }
    m_cells = std::make_unique<std::atomic<std::uint64_t>[]>(m_cellCount);
}

std::size_t CounterFamily::cell(std::initializer_list<std::size_t> at) const
{
    if (at.size() != m_labels.size()) {
        throw std::out_of_range("wrong number of labels for " + m_name);
    }
    std::size_t index = 0;
    auto label = m_labels.begin();
    for (const std::size_t value : at) {
        if (value >= label->values.size()) {
            throw std::out_of_range("label value out of range for " + m_name);
        }
        index = index * label->values.size() + value;
        ++label;
    }
    return index;
}

void CounterFamily::add(std::initializer_list<std::size_t> at, std::uint64_t count)
{
    m_cells[cell(at)].fetch_add(count, kRelaxed);
}

std::uint64_t CounterFamily::value(std::initializer_list<std::size_t> at) const
{
    return m_cells[cell(at)].load(kRelaxed);
}

void CounterFamily::write(ExpositionWriter &writer) const
{
    writer.family(m_name, m_help, ExpositionWriter::Type::Counter);
    std::vector<Label> labels(m_labels.size());
    for (std::size_t index = 0; index < m_cellCount; ++index) {
        const std::uint64_t count = m_cells[index].load(kRelaxed);
        if (count == 0 && m_shown == Shown::OnceCounted) {
            continue;
        }
        // The cell index in mixed radix, last label fastest, as cell() built it.
        std::size_t rest = index;
        for (std::size_t l = m_labels.size(); l-- > 0;) {
            const auto &values = m_labels[l].values;
            labels[l] = {m_labels[l].name, values[rest % values.size()]};
            rest /= values.size();
        }
        writer.sample("", labels, count);
    }
}

struct DurationHistogram::Series
{
    // Bucket i counts durations above bound i-1 up to bound i; the last one those above
    // every bound. A scrape sums them, so +Inf always equals _count.
    std::unique_ptr<std::atomic<std::uint64_t>[]> buckets;
    std::atomic<std::uint64_t> sumNanoseconds{0};
};

DurationHistogram::DurationHistogram(std::string name, std::string help, LabelDomain label,
                                     std::vector<double> bounds)
    : MetricFamily(std::move(name), std::move(help)), m_label(std::move(label)),
      m_bounds(std::move(bounds))
{
    if (!isLabelName(m_label.name) || m_label.name == "le" || m_label.values.empty() ||
        m_bounds.empty() || !std::is_sorted(m_bounds.begin(), m_bounds.end()) ||
        std::adjacent_find(m_bounds.begin(), m_bounds.end()) != m_bounds.end()) {
        throw std::invalid_argument("bad label or bounds for " + m_name);
    }
    for (const double bound : m_bounds) {
        m_boundNanoseconds.push_back(std::llround(bound * 1e9));
    }
    m_series = std::make_unique<Series[]>(m_label.values.size());
    for (std::size_t i = 0; i < m_label.values.size(); ++i) {
        m_series[i].buckets = std::make_unique<std::atomic<std::uint64_t>[]>(m_bounds.size() + 1);
    }
}

void DurationHistogram::observe(std::size_t at, std::chrono::nanoseconds elapsed)
{
    if (at >= m_label.values.size()) {
        throw std::out_of_range("label value out of range for " + m_name);
    }
    const std::int64_t ns = std::max<std::int64_t>(elapsed.count(), 0);
    const auto bucket = static_cast<std::size_t>(
        std::lower_bound(m_boundNanoseconds.begin(), m_boundNanoseconds.end(), ns) -
        m_boundNanoseconds.begin());
    Series &series = m_series[at];
    series.buckets[bucket].fetch_add(1, kRelaxed);
    series.sumNanoseconds.fetch_add(static_cast<std::uint64_t>(ns), kRelaxed);
}

void DurationHistogram::write(ExpositionWriter &writer) const
{
    writer.family(m_name, m_help, ExpositionWriter::Type::Histogram);
    for (std::size_t at = 0; at < m_label.values.size(); ++at) {
        const Series &series = m_series[at];
        std::vector<std::uint64_t> counts(m_bounds.size() + 1);
        std::uint64_t total = 0;
        for (std::size_t b = 0; b < counts.size(); ++b) {
            counts[b] = series.buckets[b].load(kRelaxed);
            total += counts[b];
        }
        if (total == 0) {
            continue;
        }
        const Label label{m_label.name, m_label.values[at]};
        std::uint64_t cumulative = 0;
        for (std::size_t b = 0; b < m_bounds.size(); ++b) {
            cumulative += counts[b];
            const std::string le = exposedNumber(m_bounds[b]);
            writer.sample("_bucket", {label, {"le", le}}, cumulative);
        }
        writer.sample("_bucket", {label, {"le", "+Inf"}}, total);
        writer.sample("_sum", {label},
                      static_cast<double>(series.sumNanoseconds.load(kRelaxed)) / 1e9);
        writer.sample("_count", {label}, total);
    }
}

Gauge::Gauge(std::string name, std::string help,
             std::vector<std::pair<std::string, std::string>> labels, std::function<double()> read)
    : MetricFamily(std::move(name), std::move(help)), m_labels(std::move(labels)),
      m_read(std::move(read))
{}

void Gauge::write(ExpositionWriter &writer) const
{
    writer.family(m_name, m_help, ExpositionWriter::Type::Gauge);
    std::vector<Label> labels;
    for (const auto &[name, value] : m_labels) {
        labels.emplace_back(name, value);
    }
    writer.sample("", labels, m_read());
}

struct MetricsRegistry::Private
{
    std::vector<std::unique_ptr<MetricFamily>> families;
    std::unordered_set<std::string> names; // every sample name a family writes
};

MetricsRegistry::MetricsRegistry() : d(std::make_unique<Private>()) {}

MetricsRegistry::~MetricsRegistry() = default;

template <typename Family> Family &MetricsRegistry::add(std::unique_ptr<Family> family)
{
    // A histogram also writes name_bucket, name_sum and name_count: none may be taken.
    std::vector<std::string> written{family->name()};
    if constexpr (std::is_same_v<Family, DurationHistogram>) {
        for (const char *suffix : {"_bucket", "_sum", "_count"}) {
            written.push_back(family->name() + suffix);
        }
    }
    for (const std::string &name : written) {
        if (d->names.count(name) != 0) {
            throw std::invalid_argument("metric name taken twice: " + name);
        }
    }
    d->names.insert(written.begin(), written.end());
    Family &added = *family;
    d->families.push_back(std::move(family));
    return added;
}

CounterFamily &MetricsRegistry::counter(std::string name, std::string help,
                                        std::vector<LabelDomain> labels, CounterFamily::Shown shown)
{
    return add(std::make_unique<CounterFamily>(std::move(name), std::move(help), std::move(labels),
                                               shown));
}

DurationHistogram &MetricsRegistry::histogram(std::string name, std::string help, LabelDomain label,
                                              std::vector<double> bounds)
{
    return add(std::make_unique<DurationHistogram>(std::move(name), std::move(help),
                                                   std::move(label), std::move(bounds)));
}

void MetricsRegistry::gauge(std::string name, std::string help,
                            std::vector<std::pair<std::string, std::string>> labels,
                            std::function<double()> read)
{
    add(std::make_unique<Gauge>(std::move(name), std::move(help), std::move(labels),
                                std::move(read)));
}

std::string MetricsRegistry::page() const
{
    ExpositionWriter writer;
    for (const auto &family : d->families) {
        family->write(writer);
    }
    return writer.take();
}

} // namespace tarvo::server::ops
