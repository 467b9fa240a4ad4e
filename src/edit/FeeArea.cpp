#include "edit/FeeArea.h"

#include "list/VendorList.h"
#include "logic/RowMark.h"
#include "logic/RowText.h"
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

void disableMoves(const Commands &commands)
{
    commands.cmdAdd->setEnabled(false);
    commands.cmdAddAll->setEnabled(false);
    commands.cmdDelete->setEnabled(false);
    commands.cmdRemoveAll->setEnabled(false);
}

void deselectAll(VendorList &list)
{
    const int count = list.Count();
    for (int i = 1; i <= count && list.selectedCount() > 0; ++i) {
        if (list.Selected(i)) {
            list.SetSelected(i, false);
        }
    }
}

bool severalSelected(const VendorList &list)
{
    return list.selectedCount() >= 2;
}
} // namespace

FeeArea::FeeArea(const ListArea &lists, const Commands &commands, const FeeEditor &editor,
                 const Feedback &feedback)
    : lists(lists), commands(commands), editor(editor), feedback(feedback)
{}

void FeeArea::clear()
{
    editor.chkDuty->setChecked(false);
    editor.txtCntHandFee->setText(QString());
    editor.cmdcenterHandFee->setEnabled(false);
}

void FeeArea::close()
{
    if (editor.cmdcenterHandFee->text() == Save) {
        editor.cmdcenterHandFee->setText(Update);
        lockBox(editor.txtCntHandFee);
    }
}

void FeeArea::abandon()
{
    if (editor.cmdcenterHandFee->isEnabled()) {
        clear();
    }
    close();
}

void FeeArea::lstVendorCenter_Click()
{
    auto &selected = *lists.lstVendorCenter;
    if (selected.Count() == 0) {
        disableMoves(commands);
        return;
    }
    close();
    const int current = selected.SelectedItem();
    editor.txtCntHandFee->setText(QString::fromStdString(logic::feeText(selected.fee(current))));
    m_showsLoadedRow = true;
    editor.chkDuty->setChecked(logic::dutyShown(selected.dutyMark(current)));
    selected.SetMultiSelect(true);
    lists.lstVendors->SetMultiSelect(false);
    deselectAll(*lists.lstVendors);
    commands.cmdAdd->setEnabled(false);
    commands.cmdAddAll->setEnabled(false);
    if (severalSelected(selected)) {
        commands.cmdRemoveAll->setEnabled(true);
        commands.cmdDelete->setEnabled(false);
        editor.cmdcenterHandFee->setEnabled(false);
        editor.txtCntHandFee->setText(QString());
        editor.chkDuty->setChecked(false);
        return;
    }
    commands.cmdRemoveAll->setEnabled(false);
    commands.cmdDelete->setEnabled(true);
    editor.cmdcenterHandFee->setEnabled(true);
}

void FeeArea::lstVendors_Click()
{
    auto &nonSelected = *lists.lstVendors;
    if (nonSelected.Count() == 0) {
        disableMoves(commands);
        return;
    }
    clear();
    close();
    commands.cmdDelete->setEnabled(false);
    commands.cmdRemoveAll->setEnabled(false);
    nonSelected.SetMultiSelect(true);
    lists.lstVendorCenter->SetMultiSelect(false);
    deselectAll(*lists.lstVendorCenter);
    const bool several = severalSelected(nonSelected);
    commands.cmdAddAll->setEnabled(several);
    commands.cmdAdd->setEnabled(!several);
}

void FeeArea::cmdcenterHandFee_Click()
{
    if (editor.cmdcenterHandFee->text() == Update) {
        m_textBeforeEdit = editor.txtCntHandFee->text();
        unlockBox(editor.txtCntHandFee);
        giveBoxFocus();
        editor.cmdcenterHandFee->setText(Save);
        return;
    }
    const std::string boxText = editor.txtCntHandFee->text().toStdString();
    const std::string typed(logic::trimBlanks(boxText));
    if (!logic::isNumeric(typed)) {
        showMessage(feedback.surface, QStringLiteral("The Numeric value will be required"),
                    vbInformation, ValidationTitle);
        giveBoxFocus();
        return;
    }
    const double fee = logic::toNumber(typed);
    if (fee >= 100) {
        showMessage(feedback.surface, QStringLiteral("The Numeric value should be less Than 100"),
                    vbInformation, ValidationTitle);
        giveBoxFocus();
        return;
    }
    auto &selected = *lists.lstVendorCenter;
    const int current = selected.SelectedItem();
    if (!m_showsLoadedRow || current <= 0) {
        showMessage(feedback.surface,
                    QStringLiteral("Choose a vendor in the Selected Vendors list first"),
                    vbInformation, ValidationTitle);
        giveBoxFocus();
        return;
    }
    // The current row, not the one last clicked: a search may have made another row current,
    // and that is the row the user sees highlighted.
    selected.setFee(current, logic::feeFromPercent(fee));
    selected.setDutyMark(current,
                         logic::transition(logic::Move::FeeUpdate, selected.dutyMark(current)));
    lockBox(editor.txtCntHandFee);
    editor.cmdcenterHandFee->setText(Update);
    commands.cmdCommit->setEnabled(true);
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
    if (editor.cmdcenterHandFee->text() != Save || !editor.cmdcenterHandFee->isEnabled()) {
        return false;
    }
    cmdcenterHandFee_Click();
    return true;
}

bool FeeArea::cancelEdit()
{
    if (editor.cmdcenterHandFee->text() != Save) {
        return false;
    }
    close();
    editor.txtCntHandFee->setText(m_textBeforeEdit);
    return true;
}

void FeeArea::txtCntHandFee_GotFocus()
{
    editor.txtCntHandFee->selectAll();
}

void FeeArea::giveBoxFocus()
{
    editor.txtCntHandFee->setFocus(Qt::OtherFocusReason);
    // The focus event only arrives while the window is active; the text is selected either way.
    txtCntHandFee_GotFocus();
}

} // namespace tarvo::edit
