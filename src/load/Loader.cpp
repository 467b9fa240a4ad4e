#include "load/Loader.h"

#include "list/VendorList.h"
#include "logic/Columns.h"
#include "logic/RowText.h"
#include "logic/Rules.h"
#include "logic/ValueForms.h"
#include "screen/ControlState.h"
#include "screen/EventLog.h"
#include "screen/Screen.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <functional>
#include <limits>
#include <mutex>
#include <string>

namespace tarvo::load {

using namespace tarvo::list;
using namespace tarvo::screen;

namespace {

std::mutex optionsMutex;
net::FetchOptions sharedOptions;

std::string text(const QString &s)
{
    return s.toStdString();
}

using Reason = FailureReason;

// What a failed fetch means for the host, from the transport's values.
Failure fetchFailure(const net::QueryDocument &doc)
{
    const net::Failure &failure = doc.failure();
    const QString detail = QString::fromStdString(doc.error());
    switch (failure.kind) {
    case net::FailureKind::HttpStatus: {
        const int code = failure.httpStatus;
        const Reason reason = code == 401   ? Reason::NotSignedIn
                              : code == 403 ? Reason::NoRights
                              : code == 404 ? Reason::NoSuchPage
                                            : Reason::ServerError;
        return {reason, code, detail};
    }
    case net::FailureKind::Unreachable:
        return {Reason::Unreachable, 0, detail};
    case net::FailureKind::TimedOut:
        return {Reason::TimedOut, 0, detail};
    case net::FailureKind::NotStarted:
    case net::FailureKind::ConnectionFailed:
        return {Reason::ConnectionFailed, 0, detail};
    case net::FailureKind::None:
    case net::FailureKind::BadAnswer:
        break;
    }
    return {Reason::BadAnswer, 0, detail};
}

} // namespace

void setQueryFetchOptions(const net::FetchOptions &options)
{
    const std::lock_guard lock(optionsMutex);
    sharedOptions = options;
}

net::FetchOptions queryFetchOptions()
{
    const std::lock_guard lock(optionsMutex);
    return sharedOptions;
}

Loader::Loader(const ListArea &lists, const Commands &commands, const FindArea &find,
               const Feedback &feedback, ControlFields &fields)
    : lists(lists), commands(commands), find(find), feedback(feedback), fields(fields)
{}

bool Loader::load(qint32 centerId, const QString &serverName)
{
    fields.mlCenterID = centerId;
    if (!serverName.isEmpty()) {
        fields.mtServerName = serverName;
    }
    // A commit that lands between the three answers tears the load: lists from two states and
    // a tag that vouches for neither. Such a load is read again until its answers agree.
    for (int round = 1;; ++round) {
        m_tags.clear();
        const bool ok = loadOnce();
        const Versions versions = versionsOf(m_tags, 3);
        if (!ok) {
            // The first answer's tag, where there was one, makes the commit of what was read
            // so far be refused and replayed rather than applied blind.
            fields.loadedVersion = m_tags.empty() ? QString() : QString::fromStdString(m_tags[0]);
            return false;
        }
        if (versions.state != Versions::Torn) {
            fields.loadedVersion = QString::fromStdString(versions.tag);
            return true;
        }
        if (round >= MaxLoadRounds) {
            fields.loadedVersion = QString::fromStdString(m_tags[0]);
            m_failure = {
                Reason::KeptChanging, 0,
                QStringLiteral("the center changed during each of %1 reads").arg(MaxLoadRounds)};
            logInfo(QStringLiteral("LetDataFromDatabase failed: ") + m_failure.detail);
            return false;
        }
        logInfo(QStringLiteral("the center changed while it was read; reading it again"));
    }
}

Versions versionsOf(const std::vector<std::string> &tags, std::size_t answers)
{
    if (tags.size() != answers ||
        std::any_of(tags.begin(), tags.end(), [](const auto &t) { return t.empty(); })) {
        return {Versions::Unversioned, {}};
    }
    if (std::adjacent_find(tags.begin(), tags.end(), std::not_equal_to<>()) != tags.end()) {
        return {Versions::Torn, {}};
    }
    return {Versions::Agreed, tags.front()};
}

bool Loader::loadOnce()
{
    m_failure = {};
    try {
        commands.cmdCommit->setEnabled(false);
        feedback.surface->setCursor(Qt::WaitCursor);
        lists.lstVendors->Clear();
        lists.lstVendorCenter->Clear();
        logInfo(QStringLiteral("CountDisplay"));
        CountDisplay();
        logInfo(QStringLiteral("NonSelectVendorsDisplay"));
        NonSelectVendorsDisplay();
        logInfo(QStringLiteral("SelectedVendorDisplay"));
        SelectedVendorDisplay();
        setBarValue(0);
        feedback.surface->unsetCursor();
        return true;
    } catch (const std::exception &error) {
        // A failed load ends quietly: no message, the rows read so far stay, and the bar
        // keeps the last value the load gave it. Only the log says why (a refused login
        // included); the texts never hold credentials.
        logInfo(QStringLiteral("LetDataFromDatabase failed: ") + QString::fromUtf8(error.what()));
        if (m_failure.reason == Reason::None) {
            m_failure = {Reason::BadAnswer, 0, QString::fromUtf8(error.what())};
        }
        showLastProgress();
        feedback.surface->unsetCursor();
        return false;
    }
}

net::QueryDocument Loader::request(protocol::Query query)
{
    const QString url =
        fields.mtServerName + QString::fromUtf8(protocol::kPage.data(), protocol::kPage.size()) +
        QLatin1Char('?') + QString::fromStdString(protocol::queryText(query, fields.mlCenterID));
    auto doc = net::QueryDocument::fetch(text(url), queryFetchOptions());
    m_tags.push_back(doc.etag());
    if (!doc.hasDocumentElement()) {
        m_failure = fetchFailure(doc);
    }
    return doc;
}

void Loader::CountDisplay()
{
    const auto doc = request(protocol::Query::Count);
    const auto record = doc.documentElement().child(0, "count section").child(0, "count record");
    fields.miCenterCode = logic::toInt16(record.child(0, "center code").text());
    fields.miNonSelectedCount = logic::toInt16(record.child(1, "non-selected count").text());
    fields.miSelectedCount = logic::toInt16(record.child(2, "selected count").text());
    const int max = logic::toInt16(double(fields.miNonSelectedCount) + fields.miSelectedCount);
    // QProgressBar keeps a minimum above a negative maximum; move both.
    feedback.prbLoad->setRange(std::min(0, max), max);
    m_barMinimum = feedback.prbLoad->minimum();
    m_barSpan = qint64(feedback.prbLoad->maximum()) - m_barMinimum;
    m_shownPercent = -1;
    // A load that ends within a paint interval looks instant; painting its bar on the way
    // would only slow it.
    m_sincePaint.start();
    m_value = -1;
    lists.lblAllVendors->setText(
        QStringLiteral("Non Selected Active Vendors (%1):").arg(fields.miNonSelectedCount));
    lists.lblSelVendors->setText(
        QStringLiteral("Selected Vendors (%1):").arg(fields.miSelectedCount));
    fields.miLoadedRows = 0;
}

namespace {

// Adds the row with the values read so far also when reading the rest fails, as a row added
// first and then written column by column would stand.
template <typename Row, typename Read> void addRead(VendorList &list, const Row &row, Read read)
{
    try {
        read();
    } catch (...) {
        list.AddRow(row);
        throw;
    }
    list.AddRow(row);
}

// Empties a row for the next record, keeping the room its texts had.
void startRow(logic::Row &row, std::string_view id)
{
    row.id = id;
    row.name.clear();
    row.countryId.clear();
    row.fee = {};
    row.duty = {};
    row.date.clear();
    row.key = {};
    row.loaded.reset();
}

} // namespace

void Loader::NonSelectVendorsDisplay()
{
    auto &list = *lists.lstVendors;
    const auto doc = request(protocol::Query::Active);
    const auto section = doc.documentElement().child(1, "active vendors section");
    list.Reserve(fields.miNonSelectedCount);
    // Field 0 is the first child's text; from field 1 on every child is copied in turn, so the
    // last one's text is what stays. The texts point into the document.
    using Fields = net::RecordFields<VendorList::Columns>;
    logic::Row row;
    const auto readAsRow = [&](const Fields &record, std::string_view id) {
        startRow(row, id);
        addRead(list, row, [&] {
            for (std::size_t k = 1; k < VendorList::Columns; ++k) {
                if (record[k].filled) {
                    logic::setCellText(row, static_cast<logic::Column>(k), record[k].text);
                }
            }
            if (record.overflow() != Fields::npos) {
                throw ListError("no such column: " + std::to_string(record.overflow()));
            }
            row.fee = logic::defaultFee();
            row.duty = logic::loadedDuty(logic::dutyApplies(row.countryId, fields.miCenterCode));
            row.key = logic::idKeyOf(row.id);
        });
    };
    section.forEachRecord<VendorList::Columns>(1, [&](const Fields &record, std::size_t) {
        const std::string_view id = record.text(0, "vendor id");
        // The answer's fee, duty and key fields give way to the loaded values, so a record that
        // reads through goes in straight from the answer; one that fails part-way is read
        // again as a row, which adds what it read before the failure and passes the error on.
        try {
            if (record.overflow() != Fields::npos) {
                throw ListError("no such column");
            }
            logic::LoadedRow loaded;
            loaded.id = id;
            loaded.name = record[1].text;
            loaded.countryId = record[2].text;
            loaded.date = record[5].text;
            loaded.fee = logic::defaultFee();
            loaded.duty =
                logic::loadedDuty(logic::dutyApplies(loaded.countryId, fields.miCenterCode));
            loaded.key = logic::idKeyOf(id);
            list.AddRow(loaded);
        } catch (...) {
            readAsRow(record, id);
        }
        countLoadedRow();
    });
    lists.lstVendors->SetSortKey(logic::index(logic::Column::IdKey));
    lists.lstVendorCenter->SetSortKey(logic::index(logic::Column::IdKey));
    find.optList[0]->setEnabled(true);
    enableSearch();
    if (list.Count() > 0) {
        list.SetSelected(list.SelectedItem(), false);
    }
}

void Loader::SelectedVendorDisplay()
{
    auto &list = *lists.lstVendorCenter;
    const auto doc = request(protocol::Query::Selected);
    const auto section = doc.documentElement().child(2, "selected vendors section");
    list.Reserve(fields.miSelectedCount);
    constexpr std::size_t Read = 4; // id, name, fee, duty
    using Fields = net::RecordFields<Read>;
    section.forEachRecord<Read>(Fields::npos, [&](const Fields &record, std::size_t) {
        // Every value here has a typed form, so a record that fails part-way goes in with what
        // was read before the failure straight from the answer too.
        logic::LoadedRow row;
        row.id = record.text(0, "vendor id");
        addRead(list, row, [&] {
            row.name = record.text(1, "vendor name");
            row.fee = logic::feeFromFraction(record.text(2, "handling fee"));
            if (row.fee.hundredths) {
                // What the server holds, carried by the row wherever it moves.
                row.loaded = logic::Assignment{*row.fee.hundredths, false};
            }
            const bool duty = logic::toBoolean(record.text(3, "duty flag"));
            row.duty = logic::loadedDuty(duty);
            if (row.loaded) {
                row.loaded->duty = duty;
            }
            row.key = logic::idKeyOf(row.id);
        });
        countLoadedRow();
    });
    list.SetSortKey(logic::index(logic::Column::IdKey));
    find.optList[1]->setEnabled(true);
    enableSearch();
    setBarValue(feedback.prbLoad->maximum());
    if (list.Count() > 0) {
        list.SetSelected(list.SelectedItem(), false);
    }
}

void Loader::enableSearch()
{
    find.optFind[0]->setEnabled(true);
    find.optFind[1]->setEnabled(true);
    find.txtVendorID->setEnabled(true);
    unlockBox(find.txtVendorID);
}

void Loader::countLoadedRow()
{
    showProgress(fields.miLoadedRows);
    // Past 32767 the 16-bit counter overflows, an error as toInt16 reports it.
    fields.miLoadedRows = fields.miLoadedRows < std::numeric_limits<std::int16_t>::max()
                              ? static_cast<std::int16_t>(fields.miLoadedRows + 1)
                              : logic::toInt16(double(fields.miLoadedRows) + 1);
}

void Loader::showProgress(int value)
{
    m_value = value;
    // QProgressBar::setValue restyles the bar on every call, which at 32767 rows costs more
    // than reading the answers; a value that moves the bar by less than a hundredth waits
    // until one does (every value still reaches the bar while it has up to a hundred steps).
    const qint64 span = m_barSpan;
    const qint64 percent = span > 0 ? 100 * (qint64(value) - m_barMinimum) / span : 0;
    if (percent == m_shownPercent && span > 100) {
        return;
    }
    m_shownPercent = percent;
    setBarValue(value);
    // Loading never returns to the event loop, so the bar is painted here, ten times a second:
    // each paint also paints whatever else of the window waits, the emptied lists included.
    constexpr qint64 PaintIntervalMs = 100;
    if (feedback.prbLoad->isVisible() && m_sincePaint.isValid() &&
        m_sincePaint.elapsed() >= PaintIntervalMs) {
        m_sincePaint.start();
        feedback.prbLoad->repaint();
    }
}

void Loader::showLastProgress()
{
    if (m_value >= 0 && feedback.prbLoad->value() != m_value) {
        setBarValue(m_value);
    }
}

void Loader::setBarValue(int value)
{
    // QProgressBar::setValue paints the bar at once whenever it grows by a chunk, and each such
    // paint also paints whatever else of the window waits (the lists being filled): many full
    // paints per load. The bar is painted on showProgress's own schedule, and at the end with
    // the rest of the window.
    auto *bar = feedback.prbLoad;
    const bool updates = bar->updatesEnabled();
    bar->setUpdatesEnabled(false);
    bar->setValue(value);
    bar->setUpdatesEnabled(updates);
}

} // namespace tarvo::load
