// The find area: which field and which list to search, the two search boxes, and the search.
#pragma once

#include "screen/Screen.h"

namespace tarvo::edit {
class FeeArea;
}

namespace tarvo::search {

using edit::FeeArea;

class Finder
{
public:
    Finder(const screen::ListArea &lists, const screen::FindArea &find,
           const screen::Feedback &feedback, FeeArea &feeArea);

    // Index 0 searches by name, any other by id; makes that box the active one.
    void optFind_Click(int index);
    void optList_Click(int index);
    void txtVendorID_Change();
    void txtVendorName_Change();
    void txtVendorID_Click();
    void txtVendorName_Click();
    // Selects, shows and focuses the first hit, or says "Not found". Selecting the hit is not
    // a click: the fee area and the move buttons keep their state.
    void cmdFind_Click();

private:
    screen::ListArea lists;
    screen::FindArea find;
    screen::Feedback feedback;
    FeeArea &feeArea;
};

} // namespace tarvo::search
