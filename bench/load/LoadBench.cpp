// A load of 32767 rows (24000 active, 8767 selected) from a loopback server page, in the same
// run as its floor: what no load can avoid, three plain libcurl GETs of the same answers, each
// parsed by pugixml in place and its records counted, with nothing of the control's code. The
// first load (lists empty) and a reload (lists full) are measured apart, and so is the reading
// side alone (the query document's fetch and parse and every record's fields read), which is
// what the load's reading costs beyond the floor.
//
// Each is measured against two server pages on loopback: one that sends prepared bytes and
// does nothing else (PreparedServer), so that the ratio to its floor is the control's own
// cost, and the tests' recording server page, whose copies of each answer weigh on the floor
// and the load alike (the figure this benchmark reported before).
// Goals, against the prepared bytes: first load and reload each at most 1.5x the floor; heap
// kept after a load at most 250 bytes per row; the load's peak heap at most the floor's peak
// plus 150 bytes per row.
//
// Heap is what malloc has handed out and not had back (mallinfo2: uordblks, plus hblkhd for the
// large blocks it maps apart), read in fresh processes (this program started again with
// --heap-probe) that load only, so neither the benchmarks nor the server's copies of the
// answers count. Each probe first loads a two-row center, so that what any first use costs
// once (libcurl, fonts, styles) is not charged to the rows. The peak is sampled at every step
// of the progress bar (a hundredth of the rows) and after each answer is parsed, the moments
// when an answer, its tree and the rows read from it are all held.
//
// Instructions: valgrind --tool=callgrind --collect-atstart=no bench_load
// --benchmark_filter='FirstLoad.*prepared' --benchmark_min_time=0.01 counts the measured parts
// only. The load repaints its progress bar every 100 ms of wall time, which under valgrind
// comes round 20 to 30 times (5 to 11 M instructions, QWidget::repaint under showProgress)
// where a run at full speed finishes first: leave that out when comparing with the floor.
#include "BenchHarness.h"
#include "PreparedServer.h"
#include "net/QueryDocument.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QProgressBar>
#include <TarvoCenterVendor/CenterVendor.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <malloc.h>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <unistd.h>

namespace {

using tarvo::bench::settle;
using tarvo::bench::Stopwatch;

constexpr int Active = 24000;
constexpr int Selected = 8767;
constexpr int Rows = Active + Selected;
constexpr int CenterId = 2;

tarvo::bench::ServedCenter &servedCenter()
{
    static tarvo::bench::ServedCenter center;
    static const bool served = (center.serve(tarvo::bench::makeCenter(Active, Selected)), true);
    benchmark::DoNotOptimize(served);
    return center;
}

tarvo::bench::PreparedServer &preparedCenter()
{
    static tarvo::bench::PreparedServer center;
    static const bool served = (center.serve(tarvo::bench::makeCenter(Active, Selected)), true);
    benchmark::DoNotOptimize(served);
    return center;
}

// Which server page a benchmark reads, and the suffix of its figures.
enum class Page { Prepared, Recording };

std::string urlOf(Page page)
{
    return page == Page::Prepared ? preparedCenter().url() : servedCenter().url();
}

std::string figure(const char *name, Page page)
{
    return std::string(name) + (page == Page::Prepared ? "/prepared" : "/recording");
}

// One row in each list: what a probe loads before it measures.
tarvo::bench::ServedCenter &tinyCenter()
{
    static tarvo::bench::ServedCenter center;
    static const bool served = (center.serve(tarvo::bench::makeCenter(1, 1)), true);
    benchmark::DoNotOptimize(served);
    return center;
}

std::size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

struct HeapPeak
{
    std::size_t peak = 0;
    void sample() { peak = std::max(peak, heapInUse()); }
};

std::string queryUrl(const std::string &server, const char *query)
{
    return server + "/CenterVendor.asp?" + query + "&centerID=" + std::to_string(CenterId);
}

std::size_t appendBody(char *data, std::size_t size, std::size_t count, void *body)
{
    static_cast<std::string *>(body)->append(data, size * count);
    return size * count;
}

// A plain GET on a fresh handle, as the control makes each request, into a body whose room
// stays from one request to the next: the floor pays for no fresh pages, which the control's
// own reading does not pay for either once its buffers have grown.
std::string &plainGet(const std::string &url)
{
    static thread_local std::string body;
    body.clear();
    CURL *handle = curl_easy_init();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(handle) != CURLE_OK) {
        body.clear();
    }
    curl_easy_cleanup(handle);
    return body;
}

// The records of the answer's section at position, parsed in place.
std::size_t countRecords(std::string &body, int position, HeapPeak *peak)
{
    pugi::xml_document doc;
    if (!doc.load_buffer_inplace(body.data(), body.size())) {
        return 0;
    }
    pugi::xml_node section = doc.document_element().first_child();
    for (int i = 0; i < position && section; ++i) {
        section = section.next_sibling();
    }
    std::size_t records = 0;
    for (pugi::xml_node r = section.first_child(); r; r = r.next_sibling()) {
        ++records;
    }
    if (peak != nullptr) {
        peak->sample();
    }
    return records;
}

// The floor: three GETs, three in-place parses; returns every record counted.
std::size_t fetchAndCount(const std::string &server, HeapPeak *peak = nullptr)
{
    return countRecords(plainGet(queryUrl(server, "count=1")), 0, peak) +
           countRecords(plainGet(queryUrl(server, "active=1")), 1, peak) +
           countRecords(plainGet(queryUrl(server, "selected=1")), 2, peak);
}

// The reading side of a load alone: the three answers fetched and parsed by the query document
// and every record's fields read in one walk each, as the loader reads them, without rows.
// Returns every record read.
std::size_t fetchAndRead(const std::string &server, std::size_t &textBytes)
{
    using tarvo::net::QueryDocument;
    using tarvo::net::RecordFields;
    std::size_t records = 0;
    const auto sum = [&](const auto &fields, std::size_t) {
        ++records;
        for (std::size_t k = 0; k < fields.count() && k < 7; ++k) {
            textBytes += fields[k].text.size();
        }
    };
    const QueryDocument count = QueryDocument::fetch(queryUrl(server, "count=1"));
    count.documentElement().child(0, "count section").forEachRecord<7>(0, sum);
    const QueryDocument active = QueryDocument::fetch(queryUrl(server, "active=1"));
    active.documentElement().child(1, "active section").forEachRecord<7>(1, sum);
    const QueryDocument selected = QueryDocument::fetch(queryUrl(server, "selected=1"));
    selected.documentElement()
        .child(2, "selected section")
        .forEachRecord<4>(RecordFields<4>::npos, sum);
    return records;
}

int rowsOf(CenterVendor &control, const char *list)
{
    const auto *view = control.findChild<QAbstractItemView *>(QString::fromLatin1(list));
    return view != nullptr ? view->model()->rowCount() : -1;
}

bool fullyLoaded(CenterVendor &control)
{
    return rowsOf(control, "lstVendors") == Active &&
           rowsOf(control, "lstVendorCenter") == Selected;
}

void load(CenterVendor &control, const std::string &server)
{
    control.LetDataFromDatabase(CenterId, QString::fromStdString(server));
    settle();
}

void BM_Floor_FetchParseCount(benchmark::State &state, Page page)
{
    const std::string server = urlOf(page);
    Stopwatch watch(state, figure("floor", page));
    std::size_t records = 0;
    for (auto _ : state) {
        watch.time([&] { records = fetchAndCount(server); });
        benchmark::DoNotOptimize(records);
    }
    state.counters["records"] = static_cast<double>(records);
    if (records != Rows + 1) {
        state.SkipWithError("the floor did not count every record");
    }
}
BENCHMARK_CAPTURE(BM_Floor_FetchParseCount, prepared, Page::Prepared)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Floor_FetchParseCount, recording, Page::Recording)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_FetchParseRead(benchmark::State &state, Page page)
{
    const std::string server = urlOf(page);
    Stopwatch watch(state, figure("read", page));
    std::size_t records = 0;
    std::size_t textBytes = 0;
    try {
        for (auto _ : state) {
            watch.time([&] { records = fetchAndRead(server, textBytes); });
            benchmark::DoNotOptimize(textBytes);
        }
    } catch (const tarvo::net::AnswerError &error) {
        state.SkipWithError(error.what());
        return;
    }
    if (records != Rows + 1) {
        state.SkipWithError("the reading did not reach every record");
    }
}
BENCHMARK_CAPTURE(BM_FetchParseRead, prepared, Page::Prepared)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A shown control with empty lists each time; creating and destroying it is not timed.
void BM_FirstLoad(benchmark::State &state, Page page)
{
    const std::string server = urlOf(page);
    Stopwatch watch(state, figure("load/first", page));
    bool ok = true;
    for (auto _ : state) {
        auto control = std::make_unique<CenterVendor>();
        control->show();
        settle();
        watch.time([&] { load(*control, server); });
        ok = ok && fullyLoaded(*control);
    }
    if (!ok) {
        state.SkipWithError("the load did not fill both lists");
    }
}
BENCHMARK_CAPTURE(BM_FirstLoad, prepared, Page::Prepared)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FirstLoad, recording, Page::Recording)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The same center loaded again over full lists, as a commit's reload does.
void BM_Reload(benchmark::State &state, Page page)
{
    const std::string server = urlOf(page);
    CenterVendor control;
    control.show();
    settle();
    load(control, server);
    Stopwatch watch(state, figure("load/again", page));
    for (auto _ : state) {
        watch.time([&] { load(control, server); });
    }
    if (!fullyLoaded(control)) {
        state.SkipWithError("the load did not fill both lists");
    }
}
BENCHMARK_CAPTURE(BM_Reload, prepared, Page::Prepared)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Reload, recording, Page::Recording)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

struct ProbeResult
{
    long long before = 0;     // heap with the control shown and the two-row center loaded
    long long afterFirst = 0; // after the first load of the full center
    long long peakFirst = 0;
    long long afterAgain = 0; // after loading it again
    long long peakAgain = 0;
    int rows = 0;
    bool ok = false;
};

// The probe: one fresh process that loads (or runs the floor) twice and prints its heap.
int runProbe(const std::string &kind, const std::string &server, const std::string &warmUp,
             int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    CenterVendor control;
    control.show();
    settle();
    HeapPeak peak;
    QObject::connect(control.findChild<QProgressBar *>(QStringLiteral("prbLoad")),
                     &QProgressBar::valueChanged, [&peak] { peak.sample(); });
    const bool floor = kind == "floor";
    const auto once = [&](const std::string &url) {
        if (floor) {
            benchmark::DoNotOptimize(fetchAndCount(url, &peak));
        } else {
            load(control, url);
        }
    };
    once(warmUp);
    ProbeResult r;
    r.before = static_cast<long long>(heapInUse());
    peak.peak = 0;
    once(server);
    r.afterFirst = static_cast<long long>(heapInUse());
    r.peakFirst = static_cast<long long>(peak.peak);
    peak.peak = 0;
    once(server);
    r.afterAgain = static_cast<long long>(heapInUse());
    r.peakAgain = static_cast<long long>(peak.peak);
    r.rows = floor ? Rows : rowsOf(control, "lstVendors") + rowsOf(control, "lstVendorCenter");
    std::printf("probe %lld %lld %lld %lld %lld %d\n", r.before, r.afterFirst, r.peakFirst,
                r.afterAgain, r.peakAgain, r.rows);
    return 0;
}

ProbeResult probe(const std::string &self, const char *kind)
{
    ProbeResult r;
    const std::string command = "'" + self + "' --heap-probe=" + kind +
                                " --url=" + preparedCenter().url() +
                                " --warm-up=" + tinyCenter().url() + " 2>/dev/null";
    FILE *child = popen(command.c_str(), "r");
    if (child == nullptr) {
        return r;
    }
    r.ok = std::fscanf(child, "probe %lld %lld %lld %lld %lld %d", &r.before, &r.afterFirst,
                       &r.peakFirst, &r.afterAgain, &r.peakAgain, &r.rows) == 6;
    r.ok = pclose(child) == 0 && r.ok;
    return r;
}

ProbeResult floorHeap;
ProbeResult loadHeap;

double perRow(long long bytes)
{
    return static_cast<double>(bytes) / Rows;
}

void printRatio(const char *label, Page page, const char *name, const char *goal)
{
    using tarvo::bench::meanMs;
    using tarvo::bench::medianMs;
    const std::string ours = figure(name, page);
    const std::string floor = figure("floor", page);
    std::printf("  %-34s mean %8.3f ms  median %8.3f ms  %5.2fx the floor (medians %5.2fx, cpu "
                "medians %5.2fx)  (%s)\n",
                label, meanMs(ours), medianMs(ours), meanMs(ours) / meanMs(floor),
                medianMs(ours) / medianMs(floor),
                medianMs(ours + "/cpu") / medianMs(floor + "/cpu"), goal);
}

void summary()
{
    std::printf("  %d rows: %d active not selected + %d selected\n", Rows, Active, Selected);
    std::printf("  Against prepared bytes (a loopback page that does nothing else):\n");
    tarvo::bench::printFigure("floor: 3 GETs + in-place parses", "floor/prepared", "reference");
    printRatio("fetch, parse, read fields (net)", Page::Prepared, "read", "the reading alone");
    printRatio("first load (lists empty)", Page::Prepared, "load/first", "goal <= 1.5x");
    printRatio("reload (lists full)", Page::Prepared, "load/again", "goal <= 1.5x");
    std::printf("  Against the recording test page (its copies in both figures):\n");
    tarvo::bench::printFigure("floor: 3 GETs + in-place parses", "floor/recording", "reference");
    printRatio("first load (lists empty)", Page::Recording, "load/first", "for comparison");
    printRatio("reload (lists full)", Page::Recording, "load/again", "for comparison");
    std::printf("  The recording page's floor is %.2fx the prepared one's (medians)\n",
                tarvo::bench::medianMs("floor/recording") /
                    tarvo::bench::medianMs("floor/prepared"));

    std::printf("\nHeap in use (mallinfo2 uordblks + hblkhd), each in a fresh process, per row "
                "of %d\n",
                Rows);
    if (!floorHeap.ok || !loadHeap.ok || loadHeap.rows != Rows) {
        std::printf("  probe failed\n");
        return;
    }
    const double floorPeak = perRow(floorHeap.peakFirst - floorHeap.before);
    std::printf("  %-28s peak %+7.0f B/row\n", "floor", floorPeak);
    const auto line = [&](const char *label, long long after, long long peakBytes) {
        std::printf("  %-28s kept %+7.0f B/row (goal <= 250)  peak %+7.0f B/row = floor %+.0f "
                    "(goal <= +150)\n",
                    label, perRow(after - loadHeap.before), perRow(peakBytes - loadHeap.before),
                    perRow(peakBytes - loadHeap.before) - floorPeak);
    };
    line("first load", loadHeap.afterFirst, loadHeap.peakFirst);
    line("reload", loadHeap.afterAgain, loadHeap.peakAgain);
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
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string probeKind = argValue(argc, argv, "--heap-probe=");
    if (!probeKind.empty()) {
        return runProbe(probeKind, argValue(argc, argv, "--url="),
                        argValue(argc, argv, "--warm-up="), argc, argv);
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::strncpy(self, argv[0], sizeof self - 1);
    }
    floorHeap = probe(self, "floor");
    loadHeap = probe(self, "load");
    return tarvo::bench::runWithApplication(argc, argv, summary);
}
