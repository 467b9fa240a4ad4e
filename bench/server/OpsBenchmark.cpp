// What operating the server costs each request: counting it in the metrics and writing its
// log line, as one thread and as several at once; and a scrape of the page.
#include "ops/RequestLog.h"
#include "ops/ServerMetrics.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

using namespace tarvo::server;

ops::RequestRecord sampleRecord()
{
    ops::RequestRecord record;
    record.time = std::chrono::system_clock::now();
    record.id = "8a01664f";
    record.client = "10.0.0.5";
    record.method = "POST";
    record.path = "/CenterVendor.asp";
    record.note.center = "12";
    record.note.statements = 3;
    record.note.applied = {1, 1, 1};
    record.status = 200;
    record.elapsed = std::chrono::microseconds(4100);
    return record;
}

ops::ServerMetrics &sharedMetrics()
{
    static ops::ServerMetrics metrics("bench");
    return metrics;
}

void BM_CountRequest(benchmark::State &state)
{
    const ops::RequestRecord record = sampleRecord();
    for (auto _ : state) {
        sharedMetrics().count(record);
    }
}
BENCHMARK(BM_CountRequest)->Threads(1)->Threads(4);

void BM_LogLine(benchmark::State &state)
{
    const ops::RequestRecord record = sampleRecord();
    const auto format = static_cast<ops::LogFormat>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(ops::formatLogLine(record, format));
    }
}
BENCHMARK(BM_LogLine)
    ->Arg(static_cast<int>(ops::LogFormat::Text))
    ->Arg(static_cast<int>(ops::LogFormat::Json));

void BM_MetricsPage(benchmark::State &state)
{
    ops::ServerMetrics metrics("bench");
    ops::RequestRecord record = sampleRecord();
    for (const int status : {200, 400, 404, 409, 413, 503}) {
        record.status = status;
        metrics.count(record);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(metrics.page());
    }
}
BENCHMARK(BM_MetricsPage);

} // namespace

BENCHMARK_MAIN();
