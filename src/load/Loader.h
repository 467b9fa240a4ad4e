// Fills both vendor lists from the server page: the count, the active vendors not selected,
// the vendors selected. Each step throws on the first deviation and keeps what it did.
#pragma once

#include "net/QueryDocument.h"
#include "protocol/Wire.h"
#include "screen/Screen.h"

#include <QElapsedTimer>
#include <QString>
#include <string>
#include <vector>

namespace tarvo::screen {
struct ControlFields;
} // namespace tarvo::screen

namespace tarvo::load {

using screen::ControlFields;

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
    KeptChanging,
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

// A load reads the center again while its answers carry different versions, this many times in
// all.
inline constexpr int MaxLoadRounds = 10;

// What the ETags of one load's answers say together.
struct Versions
{
    enum State {
        Unversioned, // an answer carried no tag, or an answer is missing
        Agreed,      // every answer carried the same tag
        Torn,        // the answers came from different versions of the center
    } state = Unversioned;
    std::string tag; // Agreed: the common tag
};

// Surprise: fewer tags than answers counts as unversioned, not torn.
Versions versionsOf(const std::vector<std::string> &tags, std::size_t answers);

class Loader
{
public:
    Loader(const screen::ListArea &lists, const screen::Commands &commands,
           const screen::FindArea &find, const screen::Feedback &feedback, ControlFields &fields);

    // The whole load, read again (at most MaxLoadRounds times in all) while its answers carry
    // different versions; sets fields.loadedVersion to the agreed tag, "" for an unversioned
    // server. Returns false when a step failed (the rows read so far stay) or the answers never
    // agreed; either way the version is the first answer's tag of the last round, so a commit of
    // such rows is checked by the server.
    bool load(qint32 centerId, const QString &serverName);
    // Why the last load stopped early.
    const Failure &failure() const { return m_failure; }

    void CountDisplay();
    void NonSelectVendorsDisplay();
    void SelectedVendorDisplay();

private:
    bool loadOnce();
    net::QueryDocument request(protocol::Query query);
    void showProgress(int value);
    void showLastProgress();
    // Sets the bar's value without the immediate repaint QProgressBar makes of it.
    void setBarValue(int value);
    void countLoadedRow();
    void enableSearch();

    screen::ListArea lists;
    screen::Commands commands;
    screen::FindArea find;
    screen::Feedback feedback;
    ControlFields &fields;
    qint64 m_shownPercent = -1;
    // The bar's range as the count set it, read once rather than per row.
    qint64 m_barMinimum = 0;
    qint64 m_barSpan = 0;
    int m_value = -1;
    QElapsedTimer m_sincePaint;
    Failure m_failure;
    std::vector<std::string> m_tags; // of this round's answers, in order
};

} // namespace tarvo::load
