#include "merge/RowStates.h"

#include "logic/Columns.h"
#include "logic/RowMark.h"
#include "logic/RowText.h"
#include "logic/ValueForms.h"

#include <algorithm>
#include <cmath>

namespace tarvo::merge {

using logic::Assignment;
using logic::Pending;
using replay::State;

namespace {

constexpr int CountryColumn = logic::index(logic::Column::CountryId);

// The fee as the replay counts it; empty for a fee that is no number. A fee kept as text counts
// by the number it reads as, within the fees a row holds typed.
std::optional<std::int64_t> hundredths(const logic::Fee &fee)
{
    if (fee.hundredths) {
        return fee.hundredths;
    }
    try {
        const double percent = logic::toNumber(fee.text);
        constexpr double Largest = static_cast<double>(logic::MaxFeeHundredths) / 100;
        if (!std::isfinite(percent) || std::abs(percent) > Largest) {
            return std::nullopt;
        }
        return std::llround(percent * 100);
    } catch (const logic::ValueError &) {
        return std::nullopt;
    }
}

// What the batch writes as the duty: the leading number of the duty column, non-zero true.
bool dutyOf(const logic::DutyMark &column)
{
    return column.duty ? *column.duty : logic::leadingNumber(column.text) != 0;
}

// Adds row to list with the given fee and duty column, where the list's order puts it.
void addRow(VendorList &list, logic::Row row, const logic::Fee &fee, const logic::DutyMark &duty)
{
    row.fee = fee;
    row.duty = duty;
    row.key = logic::idKeyOf(row.id);
    list.PlaceInOrder(list.AddRow(row));
}

} // namespace

Snapshot assignmentsOf(const VendorList &selected)
{
    Snapshot snapshot;
    for (int i = 1; i <= selected.Count(); ++i) {
        if (const auto fee = hundredths(selected.fee(i))) {
            snapshot[std::string(selected.id(i))] = Assignment{*fee, dutyOf(selected.dutyMark(i))};
        }
    }
    return snapshot;
}

PendingRows pendingOf(const VendorList &vendors, const VendorList &selected)
{
    PendingRows result;
    const auto add = [&](logic::Row row, State mine) {
        std::string id = row.id;
        const State as = row.loaded;
        result.rows[id] = std::move(row);
        result.pending.push_back({std::move(id), as, mine});
    };
    for (int i = 1; i <= vendors.Count(); ++i) {
        if (!logic::isUnmarked(vendors.dutyMark(i))) {
            add(vendors.row(i), std::nullopt);
        }
    }
    for (int i = 1; i <= selected.Count(); ++i) {
        const logic::DutyMark column = selected.dutyMark(i);
        if (logic::isUnmarked(column)) {
            continue;
        }
        const Pending mark = logic::pendingOf(column);
        if (mark != Pending::New && mark != Pending::Updated && mark != Pending::DeletedUpdated) {
            continue;
        }
        const auto fee = hundredths(selected.fee(i));
        if (!fee) {
            result.ok = false;
            result.message = "the handling fee \"" + logic::feeText(selected.fee(i)) +
                             "\" of vendor " + std::string(selected.id(i)) + " is not a number";
            return result;
        }
        add(selected.row(i), Assignment{*fee, dutyOf(column)});
    }
    return result;
}

replay::Fresh freshOf(const Snapshot &assigned, const VendorList &vendors, int centerCode)
{
    replay::Fresh fresh;
    fresh.assigned = assigned;
    fresh.centerCode = centerCode;
    logic::CellBuffer buffer;
    for (int i = 1; i <= vendors.Count(); ++i) {
        try {
            fresh.activeCountry[std::string(vendors.id(i))] =
                logic::toNumber(vendors.Utf8(i, CountryColumn, buffer));
        } catch (const logic::ValueError &) {
            // No duty rule applies to a country that is no number: an add of it collides.
        }
    }
    return fresh;
}

bool putChange(VendorList &vendors, VendorList &selected, const replay::Change &change,
               const PendingRows &kept)
{
    const auto mine = kept.rows.find(change.vendorId);
    const logic::Row *keptRow = mine == kept.rows.end() ? nullptr : &mine->second;
    // The user's own fee where it is the fee written, so the cells read as they did.
    const auto feeOf = [&](std::int64_t fee) {
        if (keptRow != nullptr && hundredths(keptRow->fee) == fee) {
            return keptRow->fee;
        }
        return logic::Fee{fee, {}};
    };
    logic::Row row;
    bool taken = false;
    const auto take = [&](VendorList &list) {
        const int at = list.FindId(change.vendorId);
        if (at > 0) {
            row = list.row(at);
            taken = true;
            list.Remove(at);
            return true;
        }
        return false;
    };
    switch (change.mark) {
    case Pending::None:
        return true;
    case Pending::New:
        if (!change.write || (!take(vendors) && keptRow == nullptr)) {
            return false;
        }
        if (!taken) {
            row = *keptRow;
            // Neither fresh list holds the vendor: the server has no assignment of it.
            row.loaded.reset();
        }
        addRow(selected, row, feeOf(change.write->feeHundredths),
               logic::DutyMark{change.write->duty, Pending::New, {}});
        return true;
    case Pending::Updated: {
        const int at = selected.FindId(change.vendorId);
        if (!change.write || at == 0) {
            return false;
        }
        selected.setFee(at, feeOf(change.write->feeHundredths));
        selected.setDutyMark(at, logic::DutyMark{change.write->duty, Pending::Updated, {}});
        return true;
    }
    case Pending::Deleted: {
        if (!take(selected)) {
            return false;
        }
        addRow(vendors, row, row.fee, logic::transition(logic::Move::Remove, row.duty));
        return true;
    }
    case Pending::DeletedUpdated:
    case Pending::Unknown:
        break; // markFor never gives these
    }
    return false;
}

QString stateText(const State &state)
{
    if (!state) {
        return QStringLiteral("not assigned");
    }
    logic::CellBuffer buffer;
    const std::string_view percent = logic::feeText(state->feeHundredths, buffer);
    const QString fee = QString::fromUtf8(percent.data(), static_cast<qsizetype>(percent.size())) +
                        QStringLiteral(" %");
    return state->duty ? fee + QStringLiteral(", duty") : fee;
}

} // namespace tarvo::merge
