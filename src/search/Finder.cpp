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

Finder::Finder(const ListArea &lists, const FindArea &find, const Feedback &feedback,
               FeeArea &feeArea)
    : lists(lists), find(find), feedback(feedback), feeArea(feeArea)
{}

void Finder::optFind_Click(int index)
{
    if (index == 0) {
        deactivate(find.txtVendorID);
        unlockBox(find.txtVendorName);
    } else {
        deactivate(find.txtVendorName);
        unlockBox(find.txtVendorID);
    }
    feeArea.abandon();
}

void Finder::optList_Click(int)
{
    feeArea.abandon();
}

void Finder::txtVendorID_Change()
{
    find.cmdFind->setEnabled(!find.txtVendorID->text().isEmpty());
}

void Finder::txtVendorName_Change()
{
    find.cmdFind->setEnabled(!find.txtVendorName->text().isEmpty());
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
    lists.lstVendorCenter->SetMultiSelect(false);
    lists.lstVendors->SetMultiSelect(false);
    VendorList &list = find.optList[0]->isChecked() ? *lists.lstVendors : *lists.lstVendorCenter;
    const int hit = find.optFind[0]->isChecked() ? findByName(list, find.txtVendorName->text())
                                                 : list.FindItem(find.txtVendorID->text());
    if (hit == 0) {
        flushLists(lists);
        showMessage(feedback.surface, QStringLiteral("Not found"), vbInformation);
        return;
    }
    list.SetSelected(hit, true);
    list.EnsureVisible(hit);
    list.SetFocus();
}

} // namespace tarvo::search
