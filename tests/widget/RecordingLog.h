// Records the application event log's entries while it lives.
#pragma once

#include "ui/EventLog.h"

#include <QStringList>

namespace tarvo::test {

class RecordingLog : public EventLogSink
{
public:
    RecordingLog() : m_previous(setEventLogSink(this)) {}
    ~RecordingLog() override { setEventLogSink(m_previous); }
    void info(const QString &text) override { entries << text; }
    QStringList entries;

private:
    EventLogSink *m_previous;
};

} // namespace tarvo::test
