#include "load/Loader.h"

#include "core/ControlState.h"
#include "core/ValueForms.h"
#include "ui/EventLog.h"
#include "ui/Screen.h"
#include "ui/VendorList.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <array>
#include <mutex>
#include <string>

namespace tarvo {

namespace {

std::mutex optionsMutex;
load::FetchOptions sharedOptions;

std::string text(const QString &s)
{
    return s.toStdString();
}

using Reason = CenterVendor::LoadFailureReason;

// The query document names a fetch's failure in one of a few fixed forms; each form is one
// reason for the host.
CenterVendor::LoadFailure fetchFailure(const std::string &error)
{
    const QString detail = QString::fromStdString(error);
    static const QRegularExpression httpStatus(QStringLiteral("^HTTP (\\d+) from "));
    if (const auto status = httpStatus.match(detail); status.hasMatch()) {
        const int code = status.captured(1).toInt();
        const Reason reason = code == 401   ? Reason::NotSignedIn
                              : code == 403 ? Reason::NoRights
                              : code == 404 ? Reason::NoSuchPage
                                            : Reason::ServerError;
        return {reason, code, detail};
    }
    static const std::pair<const char *, Reason> transport[] = {
        {"could not connect to ", Reason::Unreachable},
        {"timed out fetching ", Reason::TimedOut},
        {"could not fetch ", Reason::ConnectionFailed},
    };
    for (const auto &[prefix, reason] : transport) {
        if (error.starts_with(prefix)) {
            return {reason, 0, detail};
        }
    }
    return {Reason::BadAnswer, 0, detail};
}

} // namespace

void setQueryFetchOptions(const load::FetchOptions &options)
{
    const std::lock_guard lock(optionsMutex);
    sharedOptions = options;
}

load::FetchOptions queryFetchOptions()
{
    const std::lock_guard lock(optionsMutex);
    return sharedOptions;
}

Loader::Loader(Screen &ui, ControlFields &fields) : ui(ui), fields(fields) {}

bool Loader::load(qint32 centerId, const QString &serverName)
{
    m_failure = {};
    try {
        ui.cmdCommit->setEnabled(false);
        ui.surface->setCursor(Qt::WaitCursor);
        fields.mlCenterID = centerId;
        if (!serverName.isEmpty()) {
            fields.mtServerName = serverName;
        }
        ui.lstVendors->Clear();
        ui.lstVendorCenter->Clear();
        logInfo(QStringLiteral("CountDisplay"));
        CountDisplay();
        logInfo(QStringLiteral("NonSelectVendorsDisplay"));
        NonSelectVendorsDisplay();
        logInfo(QStringLiteral("SelectedVendorDisplay"));
        SelectedVendorDisplay();
        ui.prbLoad->setValue(0);
        ui.surface->unsetCursor();
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
        ui.surface->unsetCursor();
        return false;
    }
}

load::QueryDocument Loader::request(const char *query)
{
    const QString url = fields.mtServerName + QStringLiteral("/CenterVendor.asp?") +
                        QLatin1String(query) + QStringLiteral("&centerID=") +
                        QString::number(fields.mlCenterID);
    auto doc = load::QueryDocument::fetch(text(url), queryFetchOptions());
    if (!doc.hasDocumentElement()) {
        m_failure = fetchFailure(doc.error());
    }
    return doc;
}

void Loader::CountDisplay()
{
    const auto doc = request("count=1");
    const auto record = doc.documentElement().child(0, "count section").child(0, "count record");
    fields.miCenterCode = forms::toInt16(record.child(0, "center code").text());
    fields.miNonSelectedCount = forms::toInt16(record.child(1, "non-selected count").text());
    fields.miSelectedCount = forms::toInt16(record.child(2, "selected count").text());
    const int max = forms::toInt16(double(fields.miNonSelectedCount) + fields.miSelectedCount);
    // QProgressBar keeps a minimum above a negative maximum; move both.
    ui.prbLoad->setRange(std::min(0, max), max);
    m_shownPercent = -1;
    // A load that ends within a paint interval looks instant; painting its bar on the way
    // would only slow it.
    m_sincePaint.start();
    m_value = -1;
    ui.lblAllVendors->setText(
        QStringLiteral("Non Selected Active Vendors (%1):").arg(fields.miNonSelectedCount));
    ui.lblSelVendors->setText(QStringLiteral("Selected Vendors (%1):").arg(fields.miSelectedCount));
    fields.miLoadedRows = 0;
}

namespace {

const std::string_view DutyText[] = {"0", "1"};

// Adds the row with the columns read so far also when reading the rest fails, as a row added
// first and then written column by column would stand.
template <typename Read> void addRead(VendorList &list, VendorList::Utf8Row &cells, Read read)
{
    try {
        read();
    } catch (...) {
        list.AddRow(cells);
        throw;
    }
    list.AddRow(cells);
}

} // namespace

void Loader::NonSelectVendorsDisplay()
{
    auto &list = *ui.lstVendors;
    const auto doc = request("active=1");
    const auto section = doc.documentElement().child(1, "active vendors section");
    list.Reserve(fields.miNonSelectedCount);
    const std::string defaultFee = forms::format0_00(8);
    // Texts the document does not hold in one piece, and the id key, live here while their row
    // is added.
    std::array<std::string, VendorList::Columns> scratch;
    section.forEachChild([&](const load::AnswerNode &record, std::size_t) {
        VendorList::Utf8Row cells{};
        cells[0] = record.child(0, "vendor id").firstChildView("vendor id", scratch[0]);
        addRead(list, cells, [&] {
            // Every child is copied in turn, so the last one's text is what stays.
            record.forEachChild([&](const load::AnswerNode &field, std::size_t k) {
                if (k == 0 || !field.hasChildren()) {
                    return;
                }
                if (k >= VendorList::Columns) {
                    throw ListError("no such column: " + std::to_string(k));
                }
                cells[k] = field.lastChildView(scratch[k]);
            });
            cells[3] = defaultFee;
            const bool duty = forms::toNumber(cells[2]) == 1 && fields.miCenterCode == 2;
            cells[4] = DutyText[duty ? 1 : 0];
            scratch[6] = forms::formatId0000(cells[0]);
            cells[6] = scratch[6];
        });
        countLoadedRow();
    });
    ui.lstVendors->SetSortKey(6);
    ui.lstVendorCenter->SetSortKey(6);
    ui.optList[0]->setEnabled(true);
    enableSearch();
    if (list.Count() > 0) {
        list.SetSelected(list.SelectedItem(), false);
    }
}

void Loader::SelectedVendorDisplay()
{
    auto &list = *ui.lstVendorCenter;
    const auto doc = request("selected=1");
    const auto section = doc.documentElement().child(2, "selected vendors section");
    list.Reserve(fields.miSelectedCount);
    std::array<std::string, VendorList::Columns> scratch;
    section.forEachChild([&](const load::AnswerNode &record, std::size_t) {
        VendorList::Utf8Row cells{};
        cells[0] = record.child(0, "vendor id").firstChildView("vendor id", scratch[0]);
        addRead(list, cells, [&] {
            cells[1] = record.child(1, "vendor name").firstChildView("vendor name", scratch[1]);
            const double fee = forms::toNumber(
                record.child(2, "handling fee").firstChildView("handling fee", scratch[2]));
            scratch[3] = forms::format0_00(fee * 100);
            cells[3] = scratch[3];
            const bool duty = forms::toBoolean(
                record.child(3, "duty flag").firstChildView("duty flag", scratch[4]));
            cells[4] = DutyText[duty ? 1 : 0];
            scratch[6] = forms::formatId0000(cells[0]);
            cells[6] = scratch[6];
        });
        countLoadedRow();
    });
    list.SetSortKey(6);
    ui.optList[1]->setEnabled(true);
    enableSearch();
    ui.prbLoad->setValue(ui.prbLoad->maximum());
    if (list.Count() > 0) {
        list.SetSelected(list.SelectedItem(), false);
    }
}

void Loader::enableSearch()
{
    ui.optFind[0]->setEnabled(true);
    ui.optFind[1]->setEnabled(true);
    ui.txtVendorID->setEnabled(true);
    unlockBox(ui.txtVendorID);
}

void Loader::countLoadedRow()
{
    showProgress(fields.miLoadedRows);
    fields.miLoadedRows = forms::toInt16(double(fields.miLoadedRows) + 1);
}

void Loader::showProgress(int value)
{
    m_value = value;
    // QProgressBar::setValue restyles the bar on every call, which at 32767 rows costs more
    // than reading the answers; a value that moves the bar by less than a hundredth waits
    // until one does (every value still reaches the bar while it has up to a hundred steps).
    const qint64 span = qint64(ui.prbLoad->maximum()) - ui.prbLoad->minimum();
    const qint64 percent = span > 0 ? 100 * (qint64(value) - ui.prbLoad->minimum()) / span : 0;
    if (percent == m_shownPercent && span > 100) {
        return;
    }
    m_shownPercent = percent;
    ui.prbLoad->setValue(value);
    // Loading never returns to the event loop, so the bar is painted here, ten times a second:
    // each paint also paints whatever else of the window waits, the emptied lists included.
    constexpr qint64 PaintIntervalMs = 100;
    if (ui.prbLoad->isVisible() && m_sincePaint.isValid() &&
        m_sincePaint.elapsed() >= PaintIntervalMs) {
        m_sincePaint.start();
        ui.prbLoad->repaint();
    }
}

void Loader::showLastProgress()
{
    if (m_value >= 0 && ui.prbLoad->value() != m_value) {
        ui.prbLoad->setValue(m_value);
    }
}

} // namespace tarvo
