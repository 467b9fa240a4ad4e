#include "merge/Replayer.h"

#include "list/VendorList.h"
#include "logic/Columns.h"
#include "merge/CollisionDialog.h"
#include "merge/History.h"
#include "screen/ControlState.h"
#include "screen/Screen.h"

#include <QDateTime>

namespace tarvo::merge {

namespace {

constexpr int NameColumn = logic::index(logic::Column::Name);

// History rows read for who changed a colliding assignment: enough for any burst of commits
// since a load, small enough to stay one quick request.
constexpr int HistoryRows = 200;

struct ListRows
{
    std::vector<logic::Row> rows;
    int sortKey = 0;
    int sortOrder = 0;
};

ListRows rowsOf(const VendorList &list)
{
    ListRows saved{{}, list.SortKey(), list.SortOrder()};
    saved.rows.reserve(static_cast<std::size_t>(list.Count()));
    for (int i = 1; i <= list.Count(); ++i) {
        saved.rows.push_back(list.row(i));
    }
    return saved;
}

void putBack(VendorList &list, const ListRows &saved)
{
    list.Clear();
    list.Reserve(static_cast<int>(saved.rows.size()));
    for (const logic::Row &row : saved.rows) {
        list.AddRow(row);
    }
    // The rows come back in the order they stood; setting the sort moves none of them.
    list.SetSortOrder(saved.sortOrder);
    list.SetSortKey(saved.sortKey);
    if (list.Count() > 0) {
        list.SetSelected(list.SelectedItem(), false);
    }
}

QString nameOf(const PendingRows &kept, const VendorList &a, const VendorList &b,
               const std::string &id)
{
    if (const auto it = kept.rows.find(id); it != kept.rows.end()) {
        return QString::fromStdString(it->second.name);
    }
    for (const VendorList *list : {&a, &b}) {
        if (const int at = list->FindId(id); at > 0) {
            return list->SubItem(at, NameColumn);
        }
    }
    return {};
}

QString whoAndWhen(const HistoryResult &history, const std::string &id)
{
    const HistoryEntry *entry = latestFor(history, id);
    if (entry == nullptr) {
        return {};
    }
    QString user = QString::fromStdString(entry->user);
    const QString when = QString::fromStdString(entry->when);
    if (when.isEmpty()) {
        return user;
    }
    return QStringLiteral("%1, %2").arg(user.isEmpty() ? QStringLiteral("someone") : user, when);
}

} // namespace

struct Replayer::Saved
{
    ListRows vendors;
    ListRows selected;
    ControlFields fields;
};

Replayer::Replayer(const screen::ListArea &lists, const screen::Feedback &feedback,
                   ControlFields &fields, std::function<bool()> load,
                   std::function<void(const QStringList &)> collisionsFound)
    : lists(lists), feedback(feedback), fields(fields), m_load(std::move(load)),
      m_collisionsFound(std::move(collisionsFound))
{}

Replayer::Saved Replayer::save() const
{
    return Saved{rowsOf(*lists.lstVendors), rowsOf(*lists.lstVendorCenter), fields};
}

void Replayer::restore(const Saved &saved)
{
    putBack(*lists.lstVendors, saved.vendors);
    putBack(*lists.lstVendorCenter, saved.selected);
    const bool committing = fields.committing;
    fields = saved.fields;
    fields.committing = committing;
}

Replayer::Result Replayer::reloadKeepingChanges(const QString &reason)
{
    auto &vendors = *lists.lstVendors;
    auto &selected = *lists.lstVendorCenter;
    const PendingRows kept = pendingOf(vendors, selected);
    if (!kept.ok) {
        return {replay::Outcome::Failed, QString::fromStdString(kept.message), {}, {}};
    }
    const Saved saved = save();
    if (!m_load()) {
        restore(saved);
        return {
            replay::Outcome::Failed, QStringLiteral("the center could not be read again"), {}, {}};
    }
    const auto planned =
        replay::plan(kept.pending, freshOf(assignmentsOf(selected), vendors, fields.miCenterCode));
    if (!planned.ok()) {
        restore(saved);
        return {replay::Outcome::Failed, QString::fromStdString(planned.message), {}, {}};
    }
    for (const replay::Change &change : planned.plan.replays) {
        if (!putChange(vendors, selected, change, kept)) {
            restore(saved);
            return {replay::Outcome::Failed,
                    QStringLiteral("vendor %1 has no row to replay its change on")
                        .arg(QString::fromStdString(change.vendorId)),
                    {},
                    {}};
        }
    }
    Result result;
    result.outcome = settle(planned.plan, kept, reason, result);
    return result;
}

replay::Outcome Replayer::settle(const replay::Plan &plan, const PendingRows &kept,
                                 const QString &reason, Result &result)
{
    auto &vendors = *lists.lstVendors;
    auto &selected = *lists.lstVendorCenter;
    if (plan.collisions.empty()) {
        return replay::outcomeOf(plan);
    }
    const HistoryResult history =
        fetchHistory(fields.mtServerName.toStdString(), fields.mlCenterID, HistoryRows);
    std::vector<CollisionRow> rows;
    QStringList ids;
    for (const replay::Collision &c : plan.collisions) {
        CollisionRow row;
        row.vendorId = QString::fromStdString(c.vendorId);
        row.name = nameOf(kept, vendors, selected, c.vendorId);
        row.mine = stateText(c.mine);
        row.theirs = c.why == replay::Conflict::NoLongerActive
                         ? QStringLiteral("no longer an active vendor")
                         : stateText(c.theirs);
        row.changedBy = whoAndWhen(history, c.vendorId);
        // Both values stay readable on the row itself, whatever the user chooses.
        const QString note =
            row.changedBy.isEmpty()
                ? QStringLiteral("Changed by someone else. Mine: %1. Theirs: %2.")
                      .arg(row.mine, row.theirs)
                : QStringLiteral("Changed by someone else (%3). Mine: %1. Theirs: %2.")
                      .arg(row.mine, row.theirs, row.changedBy);
        vendors.SetRowNote(row.vendorId, note);
        selected.SetRowNote(row.vendorId, note);
        ids << row.vendorId;
        rows.push_back(std::move(row));
    }
    flushLists(lists);
    m_collisionsFound(ids);

    CollisionDialog dialog(rows, reason, feedback.surface);
    // Closing the view without a choice keeps every change of the user: nothing is dropped
    // that the user did not choose to drop.
    const bool chose = dialog.exec() == QDialog::Accepted;
    const auto chosen = chose ? dialog.choices()
                              : std::vector<replay::Choice>(rows.size(), replay::Choice::KeepMine);
    replay::Choices choices;
    for (std::size_t i = 0; i < plan.collisions.size(); ++i) {
        const replay::Collision &c = plan.collisions[i];
        choices[c.vendorId] = chosen[i];
        (chosen[i] == replay::Choice::TakeTheirs ? result.tookTheirs : result.keptMine)
            << QString::fromStdString(c.vendorId);
    }
    // The replays stand on the rows already; what follows them is the collisions kept as mine.
    const replay::ChangesResult after = replay::afterChoices(plan, choices);
    for (std::size_t i = plan.replays.size(); i < after.changes.size(); ++i) {
        putChange(vendors, selected, after.changes[i], kept);
    }
    return replay::Outcome::Collision;
}

} // namespace tarvo::merge
