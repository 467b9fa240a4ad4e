#include "edit/Mover.h"

#include "edit/FeeArea.h"
#include "list/VendorList.h"
#include "logic/Columns.h"
#include "logic/RowMark.h"
#include "logic/RowText.h"
#include "screen/ControlState.h"
#include "screen/Screen.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <string_view>

namespace tarvo::edit {

using namespace tarvo::list;
using namespace tarvo::screen;

namespace {

std::string utf8(const QString &text)
{
    return text.toStdString();
}

constexpr int SortColumn = logic::index(logic::Column::IdKey);

// The row a move makes of a source row: the same values, the duty column the move makes of the
// source's, the date given (the source's when date is null) and the id's sort key. The values
// as loaded go with it.
logic::Row movedRow(logic::Row row, logic::Move move, const QString &date)
{
    row.duty = logic::transition(move, row.duty);
    if (!date.isNull()) {
        row.date = utf8(date);
    }
    row.key = logic::idKeyOf(row.id);
    return row;
}

QString now(const char *format)
{
    return QDateTime::currentDateTime().toString(QString::fromLatin1(format));
}

// Moves every selected row of from to to, in list order, leaving the moved rows the selection
// of to and sorting it by id, so each lands where the order puts it. A null date carries
// column 5 over unchanged.
void moveSelectedRows(VendorList &from, VendorList &to, logic::Move move, const QString &date)
{
    to.SetMultiSelect(false);
    const int count = from.Count();
    for (int i = 1; i <= count; ++i) {
        if (from.Selected(i)) {
            const int added = to.AddRow(movedRow(from.row(i), move, date));
            to.SetSelected(added, true);
            to.SetMultiSelect(true);
        }
    }
    from.RemoveSelected();
    to.SetFocus();
    to.SetSortKey(SortColumn);
    // Shown where the order put it; with nothing selected there is no current row to show, and
    // the rows moved stay moved.
    if (to.SelectedItem() > 0) {
        to.EnsureVisible(to.SelectedItem());
    }
}

void selectAndShow(VendorList &list, const QString &id)
{
    const int found = list.FindItem(id);
    if (found > 0) {
        list.SetSelected(found, true);
        list.SetFocus();
        list.EnsureVisible(list.SelectedItem());
    }
}

} // namespace

Mover::Mover(const ListArea &lists, const Commands &commands, const FeeEditor &editor,
             const FindArea &find, ControlFields &fields, FeeArea &feeArea,
             std::function<void(int)> chooseList)
    : lists(lists), commands(commands), editor(editor), find(find), fields(fields),
      feeArea(feeArea), chooseList(std::move(chooseList))
{}

void Mover::setCountCaptions()
{
    lists.lblSelVendors->setText(
        QStringLiteral("Selected Vendors (%1):").arg(lists.lstVendorCenter->Count()));
    lists.lblAllVendors->setText(
        QStringLiteral("Non Selected Active Vendors (%1):").arg(lists.lstVendors->Count()));
}

void Mover::cmdAdd_Click()
{
    auto &from = *lists.lstVendors;
    auto &to = *lists.lstVendorCenter;
    if (from.Count() == 0) {
        return;
    }
    const int current = from.SelectedItem();
    const QString id = from.Text(current);
    if (id.isEmpty()) {
        return;
    }
    if (to.FindId(utf8(id)) > 0) {
        return;
    }
    const logic::Row row =
        movedRow(from.row(current), logic::Move::Add, now("MM/dd/yyyy HH:mm:ss"));
    from.Remove(current);
    to.SetMultiSelect(false);
    to.PlaceInOrder(to.AddRow(row));
    editor.txtCntHandFee->setText(QString());
    editor.chkDuty->setChecked(false);
    setCountCaptions();
    selectAndShow(to, id);
    commands.cmdAdd->setEnabled(false);
    commands.cmdDelete->setEnabled(true);
    commands.cmdCommit->setEnabled(true);
    chooseList(1);
    if (from.Count() == 0) {
        find.optList[0]->setEnabled(false);
    }
    find.optList[1]->setEnabled(to.Count() > 0);
}

void Mover::lstVendors_DblClick()
{
    if (!fields.committing) {
        cmdAdd_Click();
    }
}

void Mover::cmdAddAll_Click()
{
    auto &from = *lists.lstVendors;
    auto &to = *lists.lstVendorCenter;
    if (from.Count() == 0) {
        return;
    }
    moveSelectedRows(from, to, logic::Move::Add, now("MM/dd/yyyy"));
    setCountCaptions();
    commands.cmdAddAll->setEnabled(false);
    commands.cmdRemoveAll->setEnabled(true);
    commands.cmdCommit->setEnabled(true);
    chooseList(1);
    if (from.Count() == 0) {
        find.optList[0]->setEnabled(false);
        find.optList[1]->setEnabled(true);
    }
}

void Mover::resetFeeArea()
{
    editor.chkDuty->setChecked(false);
    editor.txtCntHandFee->setText(QString());
    editor.cmdcenterHandFee->setEnabled(false);
    feeArea.close();
}

void Mover::cmdDelete_Click()
{
    auto &from = *lists.lstVendorCenter;
    auto &to = *lists.lstVendors;
    if (from.Count() == 0) {
        return;
    }
    const int current = from.SelectedItem();
    const logic::Row row = movedRow(from.row(current), logic::Move::Remove, QString());
    if (row.id.empty()) {
        return;
    }
    to.SetMultiSelect(false);
    to.PlaceInOrder(to.AddRow(row));
    from.Remove(current);
    setCountCaptions();
    selectAndShow(to, QString::fromStdString(row.id));
    commands.cmdDelete->setEnabled(false);
    commands.cmdAdd->setEnabled(true);
    commands.cmdCommit->setEnabled(true);
    resetFeeArea();
    if (from.Count() == 0) {
        find.optList[1]->setEnabled(false);
    }
    chooseList(0);
    find.optList[0]->setEnabled(to.Count() > 0);
}

void Mover::lstVendorCenter_DblClick()
{
    if (!fields.committing) {
        cmdDelete_Click();
    }
}

void Mover::mnuRemoveItems_Click()
{
    if (!fields.committing) {
        cmdDelete_Click();
    }
}

void Mover::lstVendorCenter_MouseUp(int button, const QPoint &globalPos)
{
    auto &list = *lists.lstVendorCenter;
    if (list.Count() == 0 || list.Text(list.SelectedItem()).isEmpty()) {
        return;
    }
    if (button == 2 && !fields.committing) {
        commands.mnuRemove->exec(globalPos);
    }
}

void Mover::cmdRemoveAll_Click()
{
    auto &from = *lists.lstVendorCenter;
    auto &to = *lists.lstVendors;
    if (from.Count() == 0) {
        return;
    }
    moveSelectedRows(from, to, logic::Move::Remove, QString());
    setCountCaptions();
    commands.cmdRemoveAll->setEnabled(false);
    commands.cmdAddAll->setEnabled(true);
    commands.cmdCommit->setEnabled(true);
    resetFeeArea();
    chooseList(0);
    if (from.Count() == 0) {
        find.optList[1]->setEnabled(false);
        find.optList[0]->setEnabled(true);
    }
}

} // namespace tarvo::edit
