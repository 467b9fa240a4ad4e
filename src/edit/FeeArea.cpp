#include "edit/FeeArea.h"

#include "list/VendorList.h"
#include "logic/Columns.h"
#include "logic/RowMark.h"
#include "logic/Rules.h"
#include "logic/ValueForms.h"
#include "screen/Messages.h"
#include "screen/Screen.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace tarvo::edit {

using namespace tarvo::list;
using namespace tarvo::screen;

namespace {
const QString Update = QStringLiteral("Update");
const QString Save = QStringLiteral("Save");
const QString ValidationTitle = QStringLiteral("Information Validation");
constexpr int FeeColumn = logic::index(logic::Column::HandlingFee);
constexpr int DutyColumn = logic::index(logic::Column::DutyMark);

void disableMoves(Screen &ui)
{
    ui.cmdAdd->setEnabled(false);
    ui.cmdAddAll->setEnabled(false);
    ui.cmdDelete->setEnabled(false);
    ui.cmdRemoveAll->setEnabled(false);
}

void deselectAll(VendorList &list)
{
    const int count = list.Count();
    for (int i = 1; i <= count; ++i) {
        if (list.Selected(i)) {
            list.SetSelected(i, false);
        }
    }
}

// Walks the list counting selected rows, stopping at two as the click handlers do.
bool severalSelected(const VendorList &list)
{
    int selected = 0;
    const int count = list.Count();
    for (int i = 1; i <= count; ++i) {
        if (list.Selected(i) && ++selected == 2) {
            return true;
        }
    }
    return false;
}
} // namespace

FeeArea::FeeArea(Screen &ui) : ui(ui) {}

void FeeArea::clear()
{
    ui.chkDuty->setChecked(false);
    ui.txtCntHandFee->setText(QString());
    ui.cmdcenterHandFee->setEnabled(false);
}

void FeeArea::close()
{
    if (ui.cmdcenterHandFee->text() == Save) {
        ui.cmdcenterHandFee->setText(Update);
        lockBox(ui.txtCntHandFee);
    }
}

void FeeArea::abandon()
{
    if (ui.cmdcenterHandFee->isEnabled()) {
        clear();
    }
    close();
}

void FeeArea::lstVendorCenter_Click()
{
    auto &selected = *ui.lstVendorCenter;
    if (selected.Count() == 0) {
        disableMoves(ui);
        return;
    }
    close();
    const int current = selected.SelectedItem();
    ui.txtCntHandFee->setText(selected.SubItem(current, FeeColumn));
    m_showsLoadedRow = true;
    ui.chkDuty->setChecked(logic::dutyShown(selected.Utf8(current, DutyColumn)));
    selected.SetMultiSelect(true);
    ui.lstVendors->SetMultiSelect(false);
    deselectAll(*ui.lstVendors);
    ui.cmdAdd->setEnabled(false);
    ui.cmdAddAll->setEnabled(false);
    if (severalSelected(selected)) {
        ui.cmdRemoveAll->setEnabled(true);
        ui.cmdDelete->setEnabled(false);
        ui.cmdcenterHandFee->setEnabled(false);
        ui.txtCntHandFee->setText(QString());
        ui.chkDuty->setChecked(false);
        return;
    }
    ui.cmdRemoveAll->setEnabled(false);
    ui.cmdDelete->setEnabled(true);
    ui.cmdcenterHandFee->setEnabled(true);
}

void FeeArea::lstVendors_Click()
{
    auto &nonSelected = *ui.lstVendors;
    if (nonSelected.Count() == 0) {
        disableMoves(ui);
        return;
    }
    clear();
    close();
    ui.cmdDelete->setEnabled(false);
    ui.cmdRemoveAll->setEnabled(false);
    nonSelected.SetMultiSelect(true);
    ui.lstVendorCenter->SetMultiSelect(false);
    deselectAll(*ui.lstVendorCenter);
    const bool several = severalSelected(nonSelected);
    ui.cmdAddAll->setEnabled(several);
    ui.cmdAdd->setEnabled(!several);
}

void FeeArea::cmdcenterHandFee_Click()
{
    if (ui.cmdcenterHandFee->text() == Update) {
        m_textBeforeEdit = ui.txtCntHandFee->text();
        unlockBox(ui.txtCntHandFee);
        giveBoxFocus();
        ui.cmdcenterHandFee->setText(Save);
        return;
    }
    const std::string boxText = ui.txtCntHandFee->text().toStdString();
    const std::string typed(logic::trimBlanks(boxText));
    if (!logic::isNumeric(typed)) {
        showMessage(ui.surface, QStringLiteral("The Numeric value will be required"), vbInformation,
                    ValidationTitle);
        giveBoxFocus();
        return;
    }
    const double fee = logic::toNumber(typed);
    if (fee >= 100) {
        showMessage(ui.surface, QStringLiteral("The Numeric value should be less Than 100"),
                    vbInformation, ValidationTitle);
        giveBoxFocus();
        return;
    }
    auto &selected = *ui.lstVendorCenter;
    const int current = selected.SelectedItem();
    if (!m_showsLoadedRow || current <= 0) {
        showMessage(ui.surface,
                    QStringLiteral("Choose a vendor in the Selected Vendors list first"),
                    vbInformation, ValidationTitle);
        giveBoxFocus();
        return;
    }
    // The current row, not the one last clicked: a search may have made another row current,
    // and that is the row the user sees highlighted.
    selected.SetSubItem(current, FeeColumn, QString::fromStdString(logic::format0_00(fee)));
    const std::string dutyColumn(selected.Utf8(current, DutyColumn));
    selected.SetSubItem(
        current, DutyColumn,
        QString::fromStdString(logic::transition(logic::Move::FeeUpdate, dutyColumn)));
    lockBox(ui.txtCntHandFee);
    ui.cmdcenterHandFee->setText(Update);
    ui.cmdCommit->setEnabled(true);
    selected.SetFocus();
}

void FeeArea::rowsReloaded()
{
    close();
    clear();
    m_showsLoadedRow = false;
}

bool FeeArea::saveFromBox()
{
    if (ui.cmdcenterHandFee->text() != Save || !ui.cmdcenterHandFee->isEnabled()) {
        return false;
    }
    cmdcenterHandFee_Click();
    return true;
}

bool FeeArea::cancelEdit()
{
    if (ui.cmdcenterHandFee->text() != Save) {
        return false;
    }
    close();
    ui.txtCntHandFee->setText(m_textBeforeEdit);
    return true;
}

void FeeArea::txtCntHandFee_GotFocus()
{
    ui.txtCntHandFee->selectAll();
}

void FeeArea::giveBoxFocus()
{
    ui.txtCntHandFee->setFocus(Qt::OtherFocusReason);
    // The focus event only arrives while the window is active; the text is selected either way.
    txtCntHandFee_GotFocus();
}

} // namespace tarvo::edit
