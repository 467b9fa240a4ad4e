#include "merge/RowStates.h"

#include "logic/Columns.h"
#include "logic/RowMark.h"
#include "logic/Rules.h"
#include "logic/ValueForms.h"

#include <algorithm>
#include <cmath>

namespace tarvo::merge {

using replay::Assignment;
using replay::Mark;
using replay::State;

namespace {

constexpr int IdColumn = logic::index(logic::Column::Id);
constexpr int CountryColumn = logic::index(logic::Column::CountryId);
constexpr int FeeColumn = logic::index(logic::Column::HandlingFee);
constexpr int DutyColumn = logic::index(logic::Column::DutyMark);
constexpr int KeyColumn = logic::index(logic::Column::IdKey);

std::optional<int> hundredths(std::string_view percentText)
{
    try {
        const double percent = logic::toNumber(percentText);
        if (!std::isfinite(percent) || std::abs(percent) > 1e7) {
            return std::nullopt;
        }
        return static_cast<int>(std::lround(percent * 100));
    } catch (const logic::ValueError &) {
        return std::nullopt;
    }
}

// What the batch writes as the duty: the leading number of column 4, any non-zero value true.
bool dutyOf(std::string_view column4)
{
    return logic::leadingNumber(column4) != 0;
}

std::string percentText(int feeHundredths)
{
    return logic::format0_00(feeHundredths / 100.0);
}

int find(const VendorList &list, std::string_view id)
{
    for (int i = 1; i <= list.Count(); ++i) {
        if (list.Utf8(i, IdColumn) == id) {
            return i;
        }
    }
    return 0;
}

RowTexts rowAt(const VendorList &list, int index)
{
    RowTexts row;
    for (int k = 0; k < VendorList::Columns; ++k) {
        row[static_cast<std::size_t>(k)] = std::string(list.Utf8(index, k));
    }
    return row;
}

// Adds row to list with the given fee and column 4, where the list's order puts it.
void addRow(VendorList &list, RowTexts row, const std::string &fee, const std::string &column4)
{
    row[FeeColumn] = fee;
    row[DutyColumn] = column4;
    row[KeyColumn] = logic::formatId0000(row[IdColumn]);
    VendorList::Utf8Row cells{};
    std::copy(row.begin(), row.end(), cells.begin());
    list.PlaceInOrder(list.AddRow(cells));
}

} // namespace

Snapshot assignmentsOf(const VendorList &selected)
{
    Snapshot snapshot;
    for (int i = 1; i <= selected.Count(); ++i) {
        if (const auto fee = hundredths(selected.Utf8(i, FeeColumn))) {
            snapshot[std::string(selected.Utf8(i, IdColumn))] =
                Assignment{*fee, dutyOf(selected.Utf8(i, DutyColumn))};
        }
    }
    return snapshot;
}

PendingRows pendingOf(const Snapshot &loaded, const VendorList &vendors, const VendorList &selected)
{
    PendingRows result;
    const auto add = [&](const VendorList &list, int i, State mine) {
        std::string id(list.Utf8(i, IdColumn));
        State as;
        if (const auto it = loaded.find(id); it != loaded.end()) {
            as = it->second;
        }
        result.rows[id] = rowAt(list, i);
        result.pending.push_back({std::move(id), as, mine});
    };
    for (int i = 1; i <= vendors.Count(); ++i) {
        if (!logic::isUnmarked(vendors.Utf8(i, DutyColumn))) {
            add(vendors, i, std::nullopt);
        }
    }
    for (int i = 1; i <= selected.Count(); ++i) {
        const auto column4 = selected.Utf8(i, DutyColumn);
        if (logic::isUnmarked(column4)) {
            continue;
        }
        const char mark = logic::markChar(column4);
        if (mark != 'N' && mark != 'U') {
            continue;
        }
        const auto fee = hundredths(selected.Utf8(i, FeeColumn));
        if (!fee) {
            result.ok = false;
            result.message = "the handling fee \"" + std::string(selected.Utf8(i, FeeColumn)) +
                             "\" of vendor " + std::string(selected.Utf8(i, IdColumn)) +
                             " is not a number";
            return result;
        }
        add(selected, i, Assignment{*fee, dutyOf(column4)});
    }
    return result;
}

replay::Fresh freshOf(const Snapshot &assigned, const VendorList &vendors, int centerCode)
{
    replay::Fresh fresh;
    fresh.assigned = assigned;
    fresh.centerCode = centerCode;
    for (int i = 1; i <= vendors.Count(); ++i) {
        try {
            fresh.activeCountry[std::string(vendors.Utf8(i, IdColumn))] =
                logic::toNumber(vendors.Utf8(i, CountryColumn));
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
    const RowTexts *keptRow = mine == kept.rows.end() ? nullptr : &mine->second;
    // The user's own fee text where it says the fee written, so the cells read as they did.
    const auto feeText = [&](int fee) {
        if (keptRow != nullptr && hundredths((*keptRow)[FeeColumn]) == fee) {
            return (*keptRow)[FeeColumn];
        }
        return percentText(fee);
    };
    RowTexts row;
    bool taken = false;
    const auto take = [&](VendorList &list) {
        const int at = find(list, change.vendorId);
        if (at > 0) {
            row = rowAt(list, at);
            taken = true;
            list.Remove(at);
            return true;
        }
        return false;
    };
    const std::string duty =
        change.write ? std::string(logic::dutyText(change.write->duty)) : std::string();
    switch (change.mark) {
    case Mark::None:
        return true;
    case Mark::Add:
        if (!change.write || (!take(vendors) && keptRow == nullptr)) {
            return false;
        }
        if (!taken) {
            row = *keptRow;
        }
        addRow(selected, row, feeText(change.write->feeHundredths), duty + "N");
        return true;
    case Mark::FeeChange: {
        const int at = find(selected, change.vendorId);
        if (!change.write || at == 0) {
            return false;
        }
        selected.SetSubItem(at, FeeColumn,
                            QString::fromStdString(feeText(change.write->feeHundredths)));
        selected.SetSubItem(at, DutyColumn, QString::fromStdString(duty + "U"));
        return true;
    }
    case Mark::Remove: {
        if (!take(selected)) {
            return false;
        }
        const std::string column4 = logic::transition(logic::Move::Remove, row[DutyColumn]);
        addRow(vendors, row, row[FeeColumn], column4);
        return true;
    }
    }
    return false;
}

QString stateText(const State &state)
{
    if (!state) {
        return QStringLiteral("not assigned");
    }
    const QString fee =
        QString::fromStdString(percentText(state->feeHundredths)) + QStringLiteral(" %");
    return state->duty ? fee + QStringLiteral(", duty") : fee;
}

} // namespace tarvo::merge
