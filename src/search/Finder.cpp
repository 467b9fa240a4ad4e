#include "search/Finder.h"

#include "edit/FeeArea.h"
#include "list/VendorList.h"
#include "logic/Columns.h"
#include "screen/Messages.h"
#include "screen/Screen.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace tarvo::search {

using namespace tarvo::list;
using namespace tarvo::screen;

namespace {

void deactivate(QLineEdit *box)
{
    box->setText(QString());
    lockBox(box);
}

// First row whose name holds the text anywhere, in any letter case; 0 for none.
int findByName(VendorList &list, const QString &text)
{
    const int found = list.FindContaining(logic::index(logic::Column::Name), text);
    if (found > 0) {
        list.SetSelected(found, true);
    }
    return found;
}

} // namespace

Finder::Finder(Screen &ui, FeeArea &feeArea) : ui(ui), feeArea(feeArea) {}

void Finder::optFind_Click(int index)
{
    if (index == 0) {
        deactivate(ui.txtVendorID);
        unlockBox(ui.txtVendorName);
    } else {
        deactivate(ui.txtVendorName);
        unlockBox(ui.txtVendorID);
    }
    feeArea.abandon();
}

void Finder::optList_Click(int)
{
    feeArea.abandon();
}

void Finder::txtVendorID_Change()
{
    ui.cmdFind->setEnabled(!ui.txtVendorID->text().isEmpty());
}

void Finder::txtVendorName_Change()
{
    ui.cmdFind->setEnabled(!ui.txtVendorName->text().isEmpty());
}

void Finder::txtVendorID_Click()
{
    feeArea.clear();
    feeArea.close();
}

void Finder::txtVendorName_Click()
{
    feeArea.clear();
    feeArea.close();
}

void Finder::cmdFind_Click()
{
    ui.lstVendorCenter->SetMultiSelect(false);
    ui.lstVendors->SetMultiSelect(false);
    VendorList &list = ui.optList[0]->isChecked() ? *ui.lstVendors : *ui.lstVendorCenter;
    const int hit = ui.optFind[0]->isChecked() ? findByName(list, ui.txtVendorName->text())
                                               : list.FindItem(ui.txtVendorID->text());
    if (hit == 0) {
        flushLists(ui);
        showMessage(ui.surface, QStringLiteral("Not found"), vbInformation);
        return;
    }
    list.SetSelected(hit, true);
    list.EnsureVisible(hit);
    list.SetFocus();
}

} // namespace tarvo::search
