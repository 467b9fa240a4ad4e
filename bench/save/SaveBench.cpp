// Goal: building and encoding the batch for 32767 marked rows takes under 50 ms.
#include "logic/RowText.h"
#include "logic/Statements.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace {

using tarvo::logic::NonSelectedRow;
using tarvo::logic::SelectedRow;

constexpr int kSelectedMarked = 24000;
constexpr int kRemoved = 32767 - kSelectedMarked;

std::vector<SelectedRow> selectedRows()
{
    std::vector<SelectedRow> rows;
    rows.reserve(kSelectedMarked);
    for (int i = 0; i < kSelectedMarked; ++i) {
        rows.push_back({std::to_string(10000 + i), tarvo::logic::Fee{(i % 100) * 100 + 50, {}},
                        tarvo::logic::dutyMarkFromText(i % 2 == 0 ? "1N" : "0U")});
    }
    return rows;
}

std::vector<NonSelectedRow> removedRows()
{
    std::vector<NonSelectedRow> rows;
    rows.reserve(kRemoved);
    for (int i = 0; i < kRemoved; ++i) {
        rows.push_back(
            {std::to_string(50000 + i), tarvo::logic::dutyMarkFromText(i % 2 == 0 ? "1D" : "0DU")});
    }
    return rows;
}

void BM_StatementsAndBody(benchmark::State &state)
{
    const auto selected = selectedRows();
    const auto removed = removedRows();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto statements = tarvo::logic::buildStatements(12, selected, removed);
        const std::string body = tarvo::logic::buildBody(statements);
        bytes = body.size();
        benchmark::DoNotOptimize(body.data());
    }
    state.counters["body_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_StatementsAndBody)->Unit(benchmark::kMillisecond);

void BM_StatementsOnly(benchmark::State &state)
{
    const auto selected = selectedRows();
    const auto removed = removedRows();
    for (auto _ : state) {
        auto statements = tarvo::logic::buildStatements(12, selected, removed);
        benchmark::DoNotOptimize(statements.data());
    }
}
BENCHMARK(BM_StatementsOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
