// Fills both vendor lists from the server page: the count, the active vendors not selected,
// the vendors selected. Each step throws on the first deviation and keeps what it did.
#pragma once

#include "net/QueryDocument.h"

#include <QElapsedTimer>
#include <QString>

namespace tarvo::screen {
struct ControlFields;
struct Screen;
} // namespace tarvo::screen

namespace tarvo::load {

using screen::ControlFields;
using screen::Screen;

// Why a load stopped early; the control's public LoadFailureReason has the same values in the
// same order.
enum class FailureReason {
    None,
    Unreachable,
    TimedOut,
    ConnectionFailed,
    NotSignedIn,
    NoRights,
    NoSuchPage,
    ServerError,
    BadAnswer,
};

struct Failure
{
    FailureReason reason = FailureReason::None;
    int httpStatus = 0;
    QString detail;
};

// Time-outs of every query request from now on (tests shorten them).
void setQueryFetchOptions(const net::FetchOptions &options);
net::FetchOptions queryFetchOptions();

class Loader
{
public:
    Loader(Screen &ui, ControlFields &fields);

    // The whole load; returns false when a step failed (the rows read so far stay).
    bool load(qint32 centerId, const QString &serverName);
    // Why the last load stopped early.
    const Failure &failure() const { return m_failure; }

    void CountDisplay();
    void NonSelectVendorsDisplay();
    void SelectedVendorDisplay();

private:
    net::QueryDocument request(const char *query);
    void showProgress(int value);
    void showLastProgress();
    // Sets the bar's value without the immediate repaint QProgressBar makes of it.
    void setBarValue(int value);
    void countLoadedRow();
    void enableSearch();

    Screen &ui;
    ControlFields &fields;
    qint64 m_shownPercent = -1;
    int m_value = -1;
    QElapsedTimer m_sincePaint;
    Failure m_failure;
};

} // namespace tarvo::load
