// The application event log: informational entries, sent to syslog unless a test replaces
// the sink.
#pragma once

#include <QString>

namespace tarvo::screen {

class EventLogSink
{
public:
    virtual ~EventLogSink();
    virtual void info(const QString &text) = 0;
};

// Sends entries to sink (not owned); nullptr restores syslog. Returns the previous sink.
EventLogSink *setEventLogSink(EventLogSink *sink);

// Writes one informational entry.
void logInfo(const QString &text);

} // namespace tarvo::screen
