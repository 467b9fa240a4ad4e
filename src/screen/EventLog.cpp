#include "screen/EventLog.h"

#include <syslog.h>

namespace tarvo::screen {

namespace {

class SyslogSink final : public EventLogSink
{
public:
    void info(const QString &text) override
    {
        static const bool opened = [] {
            openlog("TarvoCenterVendor", LOG_PID, LOG_USER);
            return true;
        }();
        (void)opened;
        syslog(LOG_INFO, "%s", text.toUtf8().constData());
    }
};

SyslogSink &syslogSink()
{
    static SyslogSink sink;
    return sink;
}

EventLogSink *&currentSink()
{
    static EventLogSink *sink = nullptr;
    return sink;
}

} // namespace

EventLogSink::~EventLogSink() = default;

EventLogSink *setEventLogSink(EventLogSink *sink)
{
    auto *previous = currentSink();
    currentSink() = sink;
    return previous;
}

void logInfo(const QString &text)
{
    EventLogSink *sink = currentSink();
    (sink ? *sink : static_cast<EventLogSink &>(syslogSink())).info(text);
}

} // namespace tarvo::screen
