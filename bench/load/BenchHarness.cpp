#include "BenchHarness.h"

#include <QApplication>
#include <QEventLoop>
#include <QPaintEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <map>
#include <mutex>
#include <numeric>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Under callgrind (--collect-atstart=no) only the measured parts are counted; elsewhere the
// requests cost a few instructions.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define TARVO_TOGGLE_COLLECT() CALLGRIND_TOGGLE_COLLECT
#else
#define TARVO_TOGGLE_COLLECT()
#endif

namespace tarvo::bench {

namespace {

// Every measured iteration of every run (including the runs that size the iteration count),
// by figure.
std::map<std::string, std::vector<double>> &figures()
{
    static std::map<std::string, std::vector<double>> recorded;
    return recorded;
}

void append(const std::string &name, const std::vector<double> &samples)
{
    auto &all = figures()[name];
    all.insert(all.end(), samples.begin(), samples.end());
}

// Qt's offscreen platform complains without a private runtime directory.
void prepareEnvironment()
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        const std::string dir = "/tmp/tarvo-bench-runtime-" + std::to_string(getuid());
        mkdir(dir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
}

std::uint32_t next(std::uint32_t &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}

const char *const Syllables[] = {"ka",   "ri",  "mo",  "ten", "lu", "vo",  "sa",  "bel",
                                 "dor",  "fin", "gra", "hal", "jo", "mer", "nu",  "pa",
                                 "quin", "ros", "sil", "tor", "ul", "ven", "wex", "yar"};
const char *const Kinds[] = {"Logistics", "Freight",    "Cargo",   "Shipping",
                             "Trading",   "Forwarding", "Express", "Lines"};

std::string word(std::uint32_t &seed, int syllables)
{
    std::string w;
    for (int i = 0; i < syllables; ++i) {
        w += Syllables[next(seed) % std::size(Syllables)];
    }
    w[0] = static_cast<char>(w[0] - 'a' + 'A');
    return w;
}

QtMessageHandler defaultHandler = nullptr;

std::string feeText(double fraction)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", fraction);
    return text;
}

// The offscreen platform warns on every dialog it shows; the figures matter more.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints"))) {
        return;
    }
    if (defaultHandler != nullptr) {
        defaultHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
}

// Notes every paint, window paint and geometry change in the paint log.
class WatchedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::Paint && receiver->isWidgetType()) {
            notePaint(static_cast<QWidget *>(receiver), static_cast<QPaintEvent *>(event));
        } else if ((type == QEvent::Resize || type == QEvent::Move) && receiver->isWidgetType()) {
            ++paintLog().geometryChanges;
        }
        const bool handled = QApplication::notify(receiver, event);
        const bool windowPaint = (type == QEvent::UpdateRequest && receiver->isWidgetType() &&
                                  static_cast<QWidget *>(receiver)->isWindow()) ||
                                 (type == QEvent::Expose && receiver->isWindowType());
        if (windowPaint) {
            ++paintLog().windowPaints;
            paintLog().lastPaintEnd = std::chrono::steady_clock::now();
        }
        return handled;
    }

private:
    static void notePaint(const QWidget *widget, const QPaintEvent *event)
    {
        // Qt's own parts (viewports, scroll bars, headers) are named after the control they
        // belong to.
        std::string name = widget->objectName().toStdString();
        if (name.empty()) {
            name = widget->metaObject()->className();
        }
        for (const QWidget *parent = widget->parentWidget();
             parent != nullptr && (widget->objectName().isEmpty() ||
                                   widget->objectName().startsWith(QLatin1String("qt_")));
             parent = parent->parentWidget()) {
            if (!parent->objectName().isEmpty() &&
                !parent->objectName().startsWith(QLatin1String("qt_"))) {
                name = parent->objectName().toStdString() + " " + name;
                break;
            }
        }
        long long pixels = 0;
        for (const QRect &r : event->region()) {
            pixels += static_cast<long long>(r.width()) * r.height();
        }
        auto &widgets = paintLog().widgets;
        auto it = std::find_if(widgets.begin(), widgets.end(),
                               [&](const PaintLog::Painted &p) { return p.widget == name; });
        if (it == widgets.end()) {
            widgets.push_back({name, 0, 0});
            it = widgets.end() - 1;
        }
        it->pixels += pixels;
        ++it->events;
    }
};

} // namespace

PaintLog &paintLog()
{
    static PaintLog log;
    return log;
}

long long PaintLog::pixels() const
{
    long long total = 0;
    for (const auto &w : widgets) {
        total += w.pixels;
    }
    return total;
}

std::string PaintLog::describe() const
{
    std::string text;
    for (const auto &w : widgets) {
        text += (text.empty() ? "" : ", ") + w.widget + " " + std::to_string(w.pixels) + " px";
        if (w.events > 1) {
            text += " (" + std::to_string(w.events) + " paints)";
        }
    }
    return text.empty() ? "nothing" : text;
}

int runWithApplication(int argc, char **argv, const std::function<void()> &summary)
{
    prepareEnvironment();
    defaultHandler = qInstallMessageHandler(quietHandler);
    WatchedApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\nSummary over every measured iteration of each benchmark\n");
    summary();
    std::fflush(stdout);
    return 0;
}

void settle()
{
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

double meanSeconds(const std::string &name)
{
    const auto it = figures().find(name);
    if (it == figures().end() || it->second.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return std::accumulate(it->second.begin(), it->second.end(), 0.0) /
           static_cast<double>(it->second.size());
}

double medianSeconds(const std::string &name)
{
    const auto it = figures().find(name);
    if (it == figures().end() || it->second.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    auto samples = it->second;
    const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    return *middle;
}

double meanMs(const std::string &name)
{
    return meanSeconds(name) * 1000.0;
}

double medianMs(const std::string &name)
{
    return medianSeconds(name) * 1000.0;
}

Stopwatch::Stopwatch(benchmark::State &state, std::string name)
    : m_state(state), m_name(std::move(name))
{}

Stopwatch::~Stopwatch()
{
    if (m_state.error_occurred()) {
        return;
    }
    append(m_name, m_samples);
    for (const auto &[figure, samples] : m_splits) {
        append(figure, samples);
    }
}

namespace {
double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
} // namespace

void Stopwatch::start()
{
    m_cpuStart = processCpuSeconds();
    m_start = std::chrono::steady_clock::now();
    TARVO_TOGGLE_COLLECT();
}

void Stopwatch::split(const std::string &figure)
{
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - m_start;
    m_splits[figure].push_back(took.count());
}

void Stopwatch::stop()
{
    stopAt(std::chrono::steady_clock::now());
}

void Stopwatch::stopAt(std::chrono::steady_clock::time_point end)
{
    TARVO_TOGGLE_COLLECT();
    const std::chrono::duration<double> took = end - m_start;
    m_state.SetIterationTime(took.count());
    m_samples.push_back(took.count());
    m_splits[m_name + "/cpu"].push_back(processCpuSeconds() - m_cpuStart);
}

void printRatio(const char *label, const std::string &ours, const std::string &theirs,
                const char *goal)
{
    const double a = meanMs(ours);
    const double b = meanMs(theirs);
    std::printf("  %-30s ours %8.3f ms  other %8.3f ms  other/ours %6.2fx (medians %6.2fx)  "
                "(%s)\n",
                label, a, b, b / a, medianMs(theirs) / medianMs(ours), goal);
}

void printFigure(const char *label, const std::string &name, const char *goal)
{
    std::printf("  %-34s mean %9.3f ms  median %9.3f ms  cpu median %9.3f ms  (%s)\n", label,
                meanMs(name), medianMs(name), medianMs(name + "/cpu"), goal);
}

CenterData makeCenter(int nonSelected, int selected, std::uint32_t seed)
{
    CenterData data;
    data.active.reserve(static_cast<std::size_t>(nonSelected));
    data.selected.reserve(static_cast<std::size_t>(selected));
    int activeLeft = nonSelected;
    int selectedLeft = selected;
    for (int id = 1; activeLeft + selectedLeft > 0; ++id) {
        Vendor v;
        v.id = id;
        v.name = vendorName(seed);
        v.countryId = static_cast<int>(next(seed) % 5) + 1;
        v.feeFraction = static_cast<double>(next(seed) % 2000) / 10000.0;
        v.duty = next(seed) % 2 == 0;
        // Deal in proportion to what is left, so both lists spread over the whole id range.
        const auto pick = next(seed) % static_cast<std::uint32_t>(activeLeft + selectedLeft);
        if (pick < static_cast<std::uint32_t>(activeLeft)) {
            data.active.push_back(std::move(v));
            --activeLeft;
        } else {
            data.selected.push_back(std::move(v));
            --selectedLeft;
        }
    }
    return data;
}

std::string vendorName(std::uint32_t &seed)
{
    std::string name = word(seed, 2 + static_cast<int>(next(seed) % 2));
    if (next(seed) % 2 == 0) {
        name += " " + word(seed, 2);
    }
    name += " ";
    name += Kinds[next(seed) % std::size(Kinds)];
    return name;
}

std::string countAnswer(int centerCode, int nonSelected, int selected)
{
    return "<a><s><r><f>" + std::to_string(centerCode) + "</f><f>" + std::to_string(nonSelected) +
           "</f><f>" + std::to_string(selected) + "</f></r></s></a>";
}

std::string activeAnswer(const std::vector<Vendor> &vendors)
{
    std::string xml = "<a><s/><s>";
    xml.reserve(vendors.size() * 120 + 32);
    for (const auto &v : vendors) {
        // Fee and duty are placeholders the control fills itself.
        xml += "<r><f>" + std::to_string(v.id) + "</f><f>" + v.name + "</f><f>" +
               std::to_string(v.countryId) + "</f><f/><f/><f>03/14/2024 10:20:30</f></r>";
    }
    xml += "</s></a>";
    return xml;
}

std::string selectedAnswer(const std::vector<Vendor> &vendors)
{
    std::string xml = "<a><s/><s/><s>";
    xml.reserve(vendors.size() * 80 + 32);
    for (const auto &v : vendors) {
        xml += "<r><f>" + std::to_string(v.id) + "</f><f>" + v.name + "</f><f>" +
               feeText(v.feeFraction) + "</f><f>" + (v.duty ? "1" : "0") + "</f></r>";
    }
    xml += "</s></a>";
    return xml;
}

struct ServedCenter::Answers
{
    std::mutex mutex;
    std::map<std::string, std::string> byKind;
};

ServedCenter::ServedCenter() : m_answers(std::make_shared<Answers>())
{
    auto answers = m_answers;
    m_server.onGet("/CenterVendor.asp", [answers](const test::RecordedRequest &request) {
        const auto kind = request.query.substr(0, request.query.find('='));
        const std::lock_guard lock(answers->mutex);
        const auto it = answers->byKind.find(kind);
        return it == answers->byKind.end() ? test::TestHttpServer::text("unknown query", 404)
                                           : test::TestHttpServer::xml(it->second);
    });
}

ServedCenter::~ServedCenter() = default;

void ServedCenter::serve(const CenterData &data, int centerCode)
{
    auto count = countAnswer(centerCode, static_cast<int>(data.active.size()),
                             static_cast<int>(data.selected.size()));
    auto active = activeAnswer(data.active);
    auto selected = selectedAnswer(data.selected);
    const std::lock_guard lock(m_answers->mutex);
    m_answers->byKind["count"] = std::move(count);
    m_answers->byKind["active"] = std::move(active);
    m_answers->byKind["selected"] = std::move(selected);
}

std::string ServedCenter::url() const
{
    return m_server.url();
}

} // namespace tarvo::bench
