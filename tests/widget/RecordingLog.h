// Records the application event log's entries while it lives.
#pragma once

#include "screen/EventLog.h"

#include <QStringList>

namespace tarvo::test {

class RecordingLog : public screen::EventLogSink
{
public:
    RecordingLog() : m_previous(screen::setEventLogSink(this)) {}
    ~RecordingLog() override { screen::setEventLogSink(m_previous); }
    void info(const QString &text) override { entries << text; }
    QStringList entries;

private:
    screen::EventLogSink *m_previous;
};

} // namespace tarvo::test
