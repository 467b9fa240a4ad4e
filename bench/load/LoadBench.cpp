// A full load of 32767 rows (24000 active, 8767 selected) from a loopback server page, in the
// same run as its floor: the same three GETs and parses, every field's text read, no list.
// Goals: the full load costs at most 2x the floor; memory stays proportional to the rows.
//
// Memory is measured in fresh processes (this program started again with --rss-probe) before
// the benchmarks run, so that neither the benchmarks nor the server's copies of the answers
// count: the server stays in this process and the probe only loads. ru_maxrss is printed,
// and beside it the peak of the first load alone (VmHWM reset just before it).
#include "BenchHarness.h"
#include "net/QueryDocument.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QProgressBar>
#include <TarvoCenterVendor/CenterVendor.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using tarvo::bench::settle;
using tarvo::bench::Stopwatch;

constexpr int Active = 24000;
constexpr int Selected = 8767;
constexpr int CenterId = 2;

// A quarter of the rows, to show that memory grows with the rows.
constexpr int QuarterActive = Active / 4;
constexpr int QuarterSelected = (Active + Selected + 1) / 4 - QuarterActive;

tarvo::bench::ServedCenter &quarterCenter()
{
    static tarvo::bench::ServedCenter center;
    static const bool served =
        (center.serve(tarvo::bench::makeCenter(QuarterActive, QuarterSelected)), true);
    benchmark::DoNotOptimize(served);
    return center;
}

tarvo::bench::ServedCenter &servedCenter()
{
    static tarvo::bench::ServedCenter center;
    static const bool served = (center.serve(tarvo::bench::makeCenter(Active, Selected)), true);
    benchmark::DoNotOptimize(served);
    return center;
}

std::string queryUrl(const std::string &server, const char *query)
{
    return server + "/CenterVendor.asp?" + query + "&centerID=" + std::to_string(CenterId);
}

// Reads every field of every record of one section, as the load reads them; returns the
// number of characters read so nothing can be optimised away.
std::size_t walkSection(const tarvo::load::QueryDocument &doc, std::size_t position)
{
    const auto section = doc.documentElement().child(position, "section");
    std::size_t chars = 0;
    const std::size_t records = section.childCount();
    for (std::size_t r = 0; r < records; ++r) {
        const auto record = section.child(r, "record");
        const std::size_t fields = record.childCount();
        for (std::size_t k = 0; k < fields; ++k) {
            const auto field = record.child(k, "field");
            chars += field.childCount() > 0 ? field.firstChildText("field").size() : 0;
        }
    }
    return chars;
}

// The floor: three fetches, three parses, every field read.
std::size_t fetchAndWalk(const std::string &server)
{
    using tarvo::load::QueryDocument;
    const auto count = QueryDocument::fetch(queryUrl(server, "count=1"));
    const auto record = count.documentElement().child(0, "section").child(0, "record");
    std::size_t chars = 0;
    for (std::size_t k = 0; k < 3; ++k) {
        chars += record.child(k, "field").text().size();
    }
    chars += walkSection(QueryDocument::fetch(queryUrl(server, "active=1")), 1);
    chars += walkSection(QueryDocument::fetch(queryUrl(server, "selected=1")), 2);
    return chars;
}

int rowsOf(CenterVendor &control, const char *list)
{
    const auto *view = control.findChild<QAbstractItemView *>(QString::fromLatin1(list));
    return view != nullptr ? view->model()->rowCount() : -1;
}

void BM_Floor_FetchParseWalk(benchmark::State &state)
{
    const std::string server = servedCenter().url();
    Stopwatch watch(state, "floor");
    std::size_t chars = 0;
    for (auto _ : state) {
        watch.time([&] { chars = fetchAndWalk(server); });
        benchmark::DoNotOptimize(chars);
    }
    state.counters["chars"] = static_cast<double>(chars);
}
BENCHMARK(BM_Floor_FetchParseWalk)->UseManualTime()->Unit(benchmark::kMillisecond);

void fullLoad(benchmark::State &state, const char *figure, bool barShown)
{
    const QString server = QString::fromStdString(servedCenter().url());
    CenterVendor control;
    control.show();
    control.findChild<QProgressBar *>(QStringLiteral("prbLoad"))->setVisible(barShown);
    settle();
    Stopwatch watch(state, figure);
    for (auto _ : state) {
        watch.time([&] {
            control.LetDataFromDatabase(CenterId, server);
            settle();
        });
    }
    const int active = rowsOf(control, "lstVendors");
    const int selected = rowsOf(control, "lstVendorCenter");
    state.counters["rows"] = active + selected;
    if (active != Active || selected != Selected) {
        state.SkipWithError("the load did not fill both lists");
    }
}

void BM_FullLoad(benchmark::State &state)
{
    fullLoad(state, "load", true);
}
BENCHMARK(BM_FullLoad)->UseManualTime()->Unit(benchmark::kMillisecond);

// A diagnosis, not a goal: the same load with the progress bar hidden, so that it paints
// nothing (it still takes every Value).
void BM_FullLoad_BarHidden(benchmark::State &state)
{
    fullLoad(state, "load/bar-hidden", false);
}
BENCHMARK(BM_FullLoad_BarHidden)->UseManualTime()->Unit(benchmark::kMillisecond);

// What the load spends on its progress bar alone: one Value per row, and a repaint whenever
// the shown share changes, as the load does it, on the control's own bar.
void BM_ProgressSteps(benchmark::State &state)
{
    CenterVendor control;
    control.show();
    settle();
    auto *bar = control.findChild<QProgressBar *>(QStringLiteral("prbLoad"));
    if (bar == nullptr) {
        state.SkipWithError("no prbLoad");
        return;
    }
    constexpr int Rows = Active + Selected;
    Stopwatch watch(state, "progress");
    for (auto _ : state) {
        watch.time([&] {
            bar->setRange(0, Rows);
            int painted = -1;
            for (int value = 0; value < Rows; ++value) {
                bar->setValue(value);
                const int percent = static_cast<int>(100LL * value / Rows);
                if (percent != painted) {
                    painted = percent;
                    bar->repaint();
                }
            }
            bar->setValue(Rows);
            bar->setValue(0);
            settle();
        });
    }
}
BENCHMARK(BM_ProgressSteps)->UseManualTime()->Unit(benchmark::kMillisecond);

long peakKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A "VmHWM:" or "VmRSS:" line of /proc/self/status, in KiB.
long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, n, field) == 0) {
            return std::stol(line.substr(n));
        }
    }
    return -1;
}

// Lets VmHWM start again from the current resident size, so the next reading is the peak of
// what follows alone.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct ProbeResult
{
    long maxrssBefore = 0;    // ru_maxrss with the control created and shown
    long maxrssFirst = 0;     // ru_maxrss after the first load
    long maxrssThird = 0;     // ru_maxrss after the third load
    long residentBefore = 0;  // VmRSS before the first load
    long hwmFirst = 0;        // VmHWM over the first load alone
    long residentAfter = 0;   // VmRSS after the third load
    long residentTrimmed = 0; // VmRSS after that, once malloc gave its free pages back
    int rows = 0;
    bool ok = false;
};

// The probe: one fresh process that loads (or fetches) three times and prints its memory.
int runProbe(const std::string &kind, const std::string &server, int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    CenterVendor control;
    control.show();
    settle();
    ProbeResult r;
    r.maxrssBefore = peakKb();
    r.residentBefore = statusKb("VmRSS:");
    resetPeak();
    for (int round = 0; round < 3; ++round) {
        if (kind == "load") {
            control.LetDataFromDatabase(CenterId, QString::fromStdString(server));
            settle();
        } else {
            benchmark::DoNotOptimize(fetchAndWalk(server));
        }
        if (round == 0) {
            r.maxrssFirst = peakKb();
            r.hwmFirst = statusKb("VmHWM:");
        }
    }
    r.maxrssThird = peakKb();
    r.residentAfter = statusKb("VmRSS:");
    malloc_trim(0);
    r.residentTrimmed = statusKb("VmRSS:");
    r.rows = rowsOf(control, "lstVendors") + rowsOf(control, "lstVendorCenter");
    std::printf("probe %ld %ld %ld %ld %ld %ld %ld %d\n", r.maxrssBefore, r.maxrssFirst,
                r.maxrssThird, r.residentBefore, r.hwmFirst, r.residentAfter, r.residentTrimmed,
                r.rows);
    return 0;
}

// Runs a probe through popen while this process is still small: a child's ru_maxrss starts
// from its parent's resident size at the fork and keeps it across exec.
ProbeResult probe(const std::string &self, const char *kind, const std::string &server)
{
    ProbeResult r;
    const std::string command =
        "'" + self + "' --rss-probe=" + kind + " --url=" + server + " 2>/dev/null";
    FILE *child = popen(command.c_str(), "r");
    if (child == nullptr) {
        return r;
    }
    r.ok = std::fscanf(child, "probe %ld %ld %ld %ld %ld %ld %ld %d", &r.maxrssBefore,
                       &r.maxrssFirst, &r.maxrssThird, &r.residentBefore, &r.hwmFirst,
                       &r.residentAfter, &r.residentTrimmed, &r.rows) == 8;
    r.ok = pclose(child) == 0 && r.ok;
    return r;
}

ProbeResult floorMemory;
ProbeResult loadMemory;
ProbeResult quarterMemory;
long parentKbAtProbe = 0;

void printProbe(const char *label, const ProbeResult &r)
{
    if (!r.ok) {
        std::printf("  %-28s probe failed\n", label);
        return;
    }
    std::printf("  %-28s ru_maxrss %6ld -> %6ld KiB (+%5ld) after 1st, %6ld after 3rd; peak over "
                "1st +%5ld KiB; kept +%5ld KiB\n",
                label, r.maxrssBefore, r.maxrssFirst, r.maxrssFirst - r.maxrssBefore, r.maxrssThird,
                r.hwmFirst - r.residentBefore, r.residentAfter - r.residentBefore);
}

void summary()
{
    std::printf("  %d rows: %d active not selected + %d selected\n", Active + Selected, Active,
                Selected);
    tarvo::bench::printFigure("floor: 3 GETs + parses + walk", "floor", "reference");
    tarvo::bench::printFigure("full load (LetDataFromDatabase)", "load", "reference");
    tarvo::bench::printFigure("  of which progress bar steps", "progress", "measured alone");
    tarvo::bench::printFigure("full load, progress bar hidden", "load/bar-hidden", "diagnosis");
    std::printf("  %-34s %9.2fx of means, %.2fx of medians   (goal <= 2x)\n", "full load / floor",
                tarvo::bench::meanMs("load") / tarvo::bench::meanMs("floor"),
                tarvo::bench::medianMs("load") / tarvo::bench::medianMs("floor"));

    std::printf("\nMemory, each in a fresh process started while this one held %ld KiB\n",
                parentKbAtProbe);
    printProbe("floor (fetch, parse, walk)", floorMemory);
    printProbe("full load", loadMemory);
    printProbe("full load, quarter rows", quarterMemory);
    const auto perRow = [](long kb, int rows) { return 1024.0 * static_cast<double>(kb) / rows; };
    for (const auto *r : {&loadMemory, &quarterMemory}) {
        if (r->ok && r->rows > 0) {
            std::printf("  %-28s %5d rows: peak %.0f B/row, kept %.0f B/row (%.0f B/row once "
                        "malloc_trim returned free pages)\n",
                        "per row", r->rows, perRow(r->hwmFirst - r->residentBefore, r->rows),
                        perRow(r->residentAfter - r->residentBefore, r->rows),
                        perRow(r->residentTrimmed - r->residentBefore, r->rows));
        }
    }
    if (floorMemory.ok) {
        std::printf("  %-28s %5d rows: peak %.0f B/row (answers and parsed documents)\n",
                    "floor per row", Active + Selected,
                    perRow(floorMemory.hwmFirst - floorMemory.residentBefore, Active + Selected));
    }
}

std::string argValue(int argc, char **argv, const char *prefix)
{
    const std::size_t n = std::strlen(prefix);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix, n) == 0) {
            return argv[i] + n;
        }
    }
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    const std::string probeKind = argValue(argc, argv, "--rss-probe=");
    if (!probeKind.empty()) {
        return runProbe(probeKind, argValue(argc, argv, "--url="), argc, argv);
    }
    servedCenter();
    quarterCenter();
    parentKbAtProbe = statusKb("VmRSS:");
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::strncpy(self, argv[0], sizeof self - 1);
    }
    floorMemory = probe(self, "floor", servedCenter().url());
    loadMemory = probe(self, "load", servedCenter().url());
    quarterMemory = probe(self, "load", quarterCenter().url());
    return tarvo::bench::runWithApplication(argc, argv, summary);
}
