#include "ops/Metrics.h"

#include "ExpositionCheck.h"
#include "ops/Exposition.h"
#include "ops/ServerMetrics.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::server {
namespace {

using namespace std::chrono_literals;
using testing::readExposition;

std::string errorsOf(const testing::ExposedPage &page)
{
    std::string text;
    for (const std::string &error : page.errors) {
        text += error + "\n";
    }
    return text;
}

struct LabelValueCase
{
    const char *name;
    std::string value;
};

class ExposedLabelValues : public ::testing::TestWithParam<LabelValueCase>
{
};

TEST_P(ExposedLabelValues, ReadBackExactlyFromAValidPage)
{
    const std::string &value = GetParam().value;
    ops::ExpositionWriter writer;
    writer.family("tarvo_things_total", "Things, \\ counted\nover two lines.",
                  ops::ExpositionWriter::Type::Counter);
    writer.sample("", {{"kind", value}, {"other", "x"}}, std::uint64_t{7});
    const auto page = readExposition(writer.take());
    ASSERT_TRUE(page.errors.empty()) << errorsOf(page);
    EXPECT_EQ(page.samples.at("tarvo_things_total{kind=\"" + value + "\",other=\"x\"}"), 7);
    EXPECT_EQ(page.help.at("tarvo_things_total"), "Things, \\ counted\nover two lines.");
}

INSTANTIATE_TEST_SUITE_P(
    Exposition, ExposedLabelValues,
    ::testing::Values(LabelValueCase{"Plain", "GET"}, LabelValueCase{"Empty", ""},
                      LabelValueCase{"Backslash", "a\\b\\"}, LabelValueCase{"Quote", "say \"hi\""},
                      LabelValueCase{"LineFeed", "one\ntwo"},
                      LabelValueCase{"EscapeLookalike", "\\n is not a line feed"},
                      LabelValueCase{"LabelInjection", "x\",evil=\"y"},
                      LabelValueCase{"Utf8", "Z\xC3\xBCrich \xE2\x82\xAC"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Exposition, NumbersReadBackExactlyAndSpellInfinityAsTheFormatDoes)
{
    EXPECT_EQ(ops::exposedNumber(HUGE_VAL), "+Inf");
    EXPECT_EQ(ops::exposedNumber(-HUGE_VAL), "-Inf");
    EXPECT_EQ(ops::exposedNumber(NAN), "NaN");
    EXPECT_EQ(ops::exposedNumber(0.001), "0.001");
    for (const double value : {0.0, 1.0, 0.0025, 10.0, 123456789.125, 1e-9, 3e300, -2.5}) {
        EXPECT_EQ(std::strtod(ops::exposedNumber(value).c_str(), nullptr), value) << value;
    }
}

TEST(Exposition, NamesTheFormatForbidsAreRefused)
{
    ops::ExpositionWriter writer;
    for (const char *name : {"", "1st", "with-dash", "with space", "caf\xC3\xA9"}) {
        EXPECT_THROW(writer.family(name, "", ops::ExpositionWriter::Type::Gauge),
                     std::invalid_argument)
            << name;
    }
    writer.family("ok:name_1", "", ops::ExpositionWriter::Type::Gauge);
    for (const char *label : {"", "__reserved", "a:b", "9"}) {
        EXPECT_THROW(writer.sample("", {{label, "v"}}, 1.0), std::invalid_argument) << label;
    }
}

TEST(MetricsRegistry, RefusesANameTakenTwiceAlsoThroughAHistogramsOwnSamples)
{
    ops::MetricsRegistry registry;
    registry.histogram("tarvo_wait_seconds", "", {"method", {"GET"}}, {0.1, 1});
    EXPECT_THROW(
        registry.counter("tarvo_wait_seconds_count", "", {}, ops::CounterFamily::Shown::Always),
        std::invalid_argument);
    EXPECT_THROW(registry.gauge("tarvo_wait_seconds", "", {}, [] { return 0.0; }),
                 std::invalid_argument);
    EXPECT_THROW(registry.histogram("tarvo_other_seconds", "", {"le", {"x"}}, {1}),
                 std::invalid_argument);
    EXPECT_THROW(registry.histogram("tarvo_other_seconds", "", {"m", {"x"}}, {1, 0.5}),
                 std::invalid_argument);
}

TEST(MetricsRegistry, CountersShowZerosOnlyWhereAskedAndRefuseUnknownLabelValues)
{
    ops::MetricsRegistry registry;
    auto &always = registry.counter("tarvo_a_total", "", {{"kind", {"x", "y"}}},
                                    ops::CounterFamily::Shown::Always);
    auto &counted = registry.counter("tarvo_b_total", "",
                                     {{"method", {"GET", "POST"}}, {"status", {"200", "404"}}},
                                     ops::CounterFamily::Shown::OnceCounted);
    counted.add({1, 0}, 3);
    always.add({1});
    EXPECT_THROW(counted.add({2, 0}), std::out_of_range);
    EXPECT_THROW(counted.add({0}), std::out_of_range);

    const auto page = readExposition(registry.page());
    ASSERT_TRUE(page.errors.empty()) << errorsOf(page);
    const std::map<std::string, double> expected{
        {"tarvo_a_total{kind=\"x\"}", 0},
        {"tarvo_a_total{kind=\"y\"}", 1},
        {"tarvo_b_total{method=\"POST\",status=\"200\"}", 3},
    };
    EXPECT_EQ(page.samples, expected);
}

TEST(MetricsRegistry, HistogramBucketsIncludeTheirUpperBound)
{
    ops::MetricsRegistry registry;
    auto &histogram =
        registry.histogram("tarvo_wait_seconds", "", {"method", {"GET", "POST"}}, {0.001, 0.01});
    histogram.observe(0, 1ms);       // on the bound: in le=0.001
    histogram.observe(0, 1ms + 1ns); // just above: in le=0.01
    histogram.observe(0, 11s);       // only in +Inf
    histogram.observe(0, -5ms);      // a clock step back counts as no time
    const auto page = readExposition(registry.page());
    ASSERT_TRUE(page.errors.empty()) << errorsOf(page);
    const std::string b = "tarvo_wait_seconds_bucket{le=\"";
    EXPECT_EQ(page.samples.at(b + "0.001\",method=\"GET\"}"), 2);
    EXPECT_EQ(page.samples.at(b + "0.01\",method=\"GET\"}"), 3);
    EXPECT_EQ(page.samples.at(b + "+Inf\",method=\"GET\"}"), 4);
    EXPECT_EQ(page.samples.at("tarvo_wait_seconds_count{method=\"GET\"}"), 4);
    EXPECT_DOUBLE_EQ(page.samples.at("tarvo_wait_seconds_sum{method=\"GET\"}"), 11.002000001);
    EXPECT_EQ(page.samples.count("tarvo_wait_seconds_count{method=\"POST\"}"), 0u);
}

TEST(MetricsRegistry, CountsFromManyThreadsAreNeverLost)
{
    ops::MetricsRegistry registry;
    auto &counter =
        registry.counter("tarvo_c_total", "", {{"k", {"a"}}}, ops::CounterFamily::Shown::Always);
    auto &histogram = registry.histogram("tarvo_h_seconds", "", {"k", {"a"}}, {1});
    constexpr int kThreads = 4;
    constexpr int kEach = 50000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                counter.add({0});
                histogram.observe(0, 1ms);
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    const auto page = readExposition(registry.page());
    EXPECT_EQ(page.samples.at("tarvo_c_total{k=\"a\"}"), kThreads * kEach);
    EXPECT_EQ(page.samples.at("tarvo_h_seconds_count{k=\"a\"}"), kThreads * kEach);
}

TEST(ServerMetrics, FoldsUnknownMethodsIntoOtherAndSkipsRequestsNeverAnswered)
{
    ops::ServerMetrics metrics("9.8.7");
    const auto finished = [&metrics](const char *method, int status) {
        ops::RequestRecord record;
        record.method = method;
        record.status = status;
        record.elapsed = 2ms;
        metrics.count(record);
        return record;
    };
    finished("GET", 200);
    finished("BREW\n", 404);
    ops::RequestRecord refused = finished("POST", 0);
    refused.status = 403;
    refused.note.refusal = ops::Refusal::Rights;
    refused.note.applied[static_cast<std::size_t>(ops::StatementAction::Remove)] = 3;
    metrics.count(refused);
    const auto page = readExposition(metrics.page());
    ASSERT_TRUE(page.errors.empty()) << errorsOf(page);
    EXPECT_EQ(page.samples.at("centervendor_requests_total{method=\"GET\",status=\"200\"}"), 1);
    EXPECT_EQ(page.samples.at("centervendor_requests_total{method=\"other\",status=\"404\"}"), 1);
    EXPECT_EQ(page.samples.at("centervendor_request_duration_seconds_count{method=\"POST\"}"), 1);
    EXPECT_EQ(page.samples.at("centervendor_batches_refused_total{reason=\"rights\"}"), 1);
    EXPECT_EQ(page.samples.at("centervendor_batches_refused_total{reason=\"shape\"}"), 0);
    EXPECT_EQ(page.samples.at("centervendor_statements_applied_total{action=\"remove\"}"), 3);
    EXPECT_EQ(page.samples.at("centervendor_build_info{version=\"9.8.7\"}"), 1);
}

} // namespace
} // namespace tarvo::server
