#include "edit/Mover.h"

#include "core/ControlState.h"
#include "core/ValueForms.h"
#include "edit/FeeArea.h"
#include "edit/RowMark.h"
#include "ui/Screen.h"
#include "ui/VendorList.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <array>

namespace tarvo {

namespace {

struct MovedRow
{
    QString id;
    std::array<QString, 6> cols; // columns 1 to 6 (index k - 1)
};

MovedRow readRow(const VendorList &list, int index, int lastColumn)
{
    MovedRow row;
    row.id = list.Text(index);
    for (int k = 1; k <= lastColumn; ++k) {
        row.cols[static_cast<std::size_t>(k - 1)] = list.SubItem(index, k);
    }
    return row;
}

// Appends the moved row to target; column 5 is the given date text.
int appendRow(VendorList &target, const MovedRow &row, marks::Move move, const QString &column5)
{
    const int added = target.Add(row.id);
    for (int k = 1; k <= 3; ++k) {
        target.SetSubItem(added, k, row.cols[static_cast<std::size_t>(k - 1)]);
    }
    target.SetSubItem(added, 4,
                      QString::fromStdString(marks::transition(move, row.cols[3].toStdString())));
    target.SetSubItem(added, 5, column5);
    target.SetSubItem(added, 6, QString::fromStdString(forms::formatId0000(row.id.toStdString())));
    return added;
}

QString now(const char *format)
{
    return QDateTime::currentDateTime().toString(QString::fromLatin1(format));
}

// Moves every selected row of from to the end of to, in list order, leaving the moved rows the
// selection of to and sorting it by id. A null date carries column 5 over unchanged.
void moveSelectedRows(VendorList &from, VendorList &to, marks::Move move, const QString &date)
{
    to.SetMultiSelect(false);
    const int count = from.Count();
    for (int i = 1; i <= count; ++i) {
        if (from.Selected(i)) {
            const MovedRow row = readRow(from, i, 5);
            const int added = appendRow(to, row, move, date.isNull() ? row.cols[4] : date);
            to.SetSelected(added, true);
            to.SetMultiSelect(true);
        }
    }
    from.RemoveSelected();
    to.SetFocus();
    // With nothing selected there is no current row to show; the rows moved stay moved.
    if (to.SelectedItem() > 0) {
        to.EnsureVisible(to.SelectedItem());
    }
    to.SetSortKey(6);
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

Mover::Mover(Screen &ui, ControlFields &fields, FeeArea &feeArea,
             std::function<void(int)> chooseList)
    : ui(ui), fields(fields), feeArea(feeArea), chooseList(std::move(chooseList))
{}

void Mover::setCountCaptions()
{
    ui.lblSelVendors->setText(
        QStringLiteral("Selected Vendors (%1):").arg(ui.lstVendorCenter->Count()));
    ui.lblAllVendors->setText(
        QStringLiteral("Non Selected Active Vendors (%1):").arg(ui.lstVendors->Count()));
}

void Mover::cmdAdd_Click()
{
    auto &from = *ui.lstVendors;
    auto &to = *ui.lstVendorCenter;
    if (from.Count() == 0) {
        return;
    }
    const int current = from.SelectedItem();
    const QString id = from.Text(current);
    if (id.isEmpty()) {
        return;
    }
    const int existing = to.Count();
    for (int i = 1; i <= existing; ++i) {
        if (to.Text(i) == id) {
            return;
        }
    }
    const MovedRow row = readRow(from, current, 4);
    from.Remove(current);
    to.SetMultiSelect(false);
    appendRow(to, row, marks::Move::Add, now("MM/dd/yyyy HH:mm:ss"));
    ui.txtCntHandFee->setText(QString());
    ui.chkDuty->setChecked(false);
    setCountCaptions();
    selectAndShow(to, id);
    ui.cmdAdd->setEnabled(false);
    ui.cmdDelete->setEnabled(true);
    ui.cmdCommit->setEnabled(true);
    chooseList(1);
    if (from.Count() == 0) {
        ui.optList[0]->setEnabled(false);
    }
    ui.optList[1]->setEnabled(to.Count() > 0);
}

void Mover::lstVendors_DblClick()
{
    if (!fields.committing) {
        cmdAdd_Click();
    }
}

void Mover::cmdAddAll_Click()
{
    auto &from = *ui.lstVendors;
    auto &to = *ui.lstVendorCenter;
    if (from.Count() == 0) {
        return;
    }
    moveSelectedRows(from, to, marks::Move::Add, now("MM/dd/yyyy"));
    setCountCaptions();
    ui.cmdAddAll->setEnabled(false);
    ui.cmdRemoveAll->setEnabled(true);
    ui.cmdCommit->setEnabled(true);
    chooseList(1);
    if (from.Count() == 0) {
        ui.optList[0]->setEnabled(false);
        ui.optList[1]->setEnabled(true);
    }
}

void Mover::resetFeeArea()
{
    ui.chkDuty->setChecked(false);
    ui.txtCntHandFee->setText(QString());
    ui.cmdcenterHandFee->setEnabled(false);
    feeArea.close();
}

void Mover::cmdDelete_Click()
{
    auto &from = *ui.lstVendorCenter;
    auto &to = *ui.lstVendors;
    if (from.Count() == 0) {
        return;
    }
    const int current = from.SelectedItem();
    const MovedRow row = readRow(from, current, 5);
    if (row.id.isEmpty()) {
        return;
    }
    to.SetMultiSelect(false);
    appendRow(to, row, marks::Move::Remove, row.cols[4]);
    from.Remove(current);
    setCountCaptions();
    selectAndShow(to, row.id);
    ui.cmdDelete->setEnabled(false);
    ui.cmdAdd->setEnabled(true);
    ui.cmdCommit->setEnabled(true);
    resetFeeArea();
    if (from.Count() == 0) {
        ui.optList[1]->setEnabled(false);
    }
    chooseList(0);
    ui.optList[0]->setEnabled(to.Count() > 0);
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
    auto &list = *ui.lstVendorCenter;
    if (list.Count() == 0 || list.Text(list.SelectedItem()).isEmpty()) {
        return;
    }
    if (button == 2 && !fields.committing) {
        ui.mnuRemove->exec(globalPos);
    }
}

void Mover::cmdRemoveAll_Click()
{
    auto &from = *ui.lstVendorCenter;
    auto &to = *ui.lstVendors;
    if (from.Count() == 0) {
        return;
    }
    moveSelectedRows(from, to, marks::Move::Remove, QString());
    setCountCaptions();
    ui.cmdRemoveAll->setEnabled(false);
    ui.cmdAddAll->setEnabled(true);
    ui.cmdCommit->setEnabled(true);
    resetFeeArea();
    chooseList(0);
    if (from.Count() == 0) {
        ui.optList[1]->setEnabled(false);
        ui.optList[0]->setEnabled(true);
    }
}

} // namespace tarvo
