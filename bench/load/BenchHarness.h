// Shared pieces of the widget benchmarks: a Qt application around Google Benchmark, figures
// kept by name for the summary printed after the run, and a loopback server page that serves
// vendor answers of any size in the server page's layout.
#pragma once

#include "support/TestHttpServer.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarvo::bench {

// Runs the benchmarks chosen on the command line inside a QApplication (offscreen unless the
// caller chose a platform), then calls summary. Returns the exit code of main.
int runWithApplication(int argc, char **argv, const std::function<void()> &summary);

// Delivers posted events and due timers until the queue is quiet, so that deferred layouts
// and paints have run. The widgets are shown, so this is where the views do their work.
void settle();

// What the application painted and laid out since the last reset: every paint event a widget
// received (its name and the area asked for), every window paint (a backing store's paint and
// flush, or an expose) with the moment it ended, and every resize or move of a widget, which
// a move of one row must not cause.
struct PaintLog
{
    struct Painted
    {
        std::string widget; // objectName, else the class name, with its parent's name
        long long pixels = 0;
        int events = 0;
    };
    std::vector<Painted> widgets;
    int windowPaints = 0;
    int geometryChanges = 0;
    std::chrono::steady_clock::time_point lastPaintEnd{};

    void reset() { *this = PaintLog{}; }
    long long pixels() const;
    // "lstVendors viewport 12345 px, cmdAdd 2400 px, ..." in the order first painted.
    std::string describe() const;
};
PaintLog &paintLog();

// Mean and median over every measured iteration recorded under name (all runs of the
// benchmark, the ones that size the iteration count included); NaN when the benchmark was
// filtered out or failed.
double meanSeconds(const std::string &name);
double medianSeconds(const std::string &name);
double meanMs(const std::string &name);
double medianMs(const std::string &name);

// Times the measured part of every iteration of a benchmark registered with UseManualTime(),
// and adds the samples to the figure name when the run ends (unless it failed). The processor
// time of the whole process over the same part goes to name + "/cpu": on a busy machine it
// tells the work from the waiting.
class Stopwatch
{
public:
    Stopwatch(benchmark::State &state, std::string name);
    ~Stopwatch();
    Stopwatch(const Stopwatch &) = delete;
    Stopwatch &operator=(const Stopwatch &) = delete;

    void start();
    // Records the time since start() under figure, without ending the measured part: the
    // share of an iteration that one step took (the handler before the repaint, say).
    void split(const std::string &figure);
    // Ends the measured part and hands its duration to the state.
    void stop();
    // The same, for a measured part that ended at a moment already taken (the end of a paint).
    void stopAt(std::chrono::steady_clock::time_point end);

    template <typename Work> void time(Work &&work)
    {
        start();
        work();
        stop();
    }

private:
    benchmark::State &m_state;
    std::string m_name;
    std::chrono::steady_clock::time_point m_start;
    double m_cpuStart = 0;
    std::vector<double> m_samples;
    std::map<std::string, std::vector<double>> m_splits;
};

// One line of the summary: both means and the ratio of theirs to ours, of means and medians.
void printRatio(const char *label, const std::string &ours, const std::string &theirs,
                const char *goal);
// One line of the summary: the mean and median of one figure.
void printFigure(const char *label, const std::string &name, const char *goal);

struct Vendor
{
    int id = 0;
    std::string name;
    int countryId = 1;
    double feeFraction = 0.08;
    bool duty = false;
};

// Vendors of one center: ids 1..(nonSelected + selected) dealt at random to the two lists,
// each list in id order as the server page sends it. The same seed gives the same vendors.
struct CenterData
{
    std::vector<Vendor> active;
    std::vector<Vendor> selected;
};
CenterData makeCenter(int nonSelected, int selected, std::uint32_t seed = 7);

// A pronounceable vendor name of two or three words, about 20 characters.
std::string vendorName(std::uint32_t &seed);

// Answer documents in the server page's layout: sections by position, records, fields. The
// active records leave the fee and duty fields empty, as the page does.
std::string countAnswer(int centerCode, int nonSelected, int selected);
std::string activeAnswer(const std::vector<Vendor> &vendors);
std::string selectedAnswer(const std::vector<Vendor> &vendors);

// The server page of one center on a loopback port: count, active and selected answers. The
// answers can be replaced between loads.
class ServedCenter
{
public:
    ServedCenter();
    ~ServedCenter();

    // Builds the three answers; requests already being answered keep the old ones.
    void serve(const CenterData &data, int centerCode = 2);
    // "http://127.0.0.1:PORT", no trailing slash.
    std::string url() const;

private:
    struct Answers;
    test::TestHttpServer m_server;
    std::shared_ptr<Answers> m_answers;
};

} // namespace tarvo::bench
