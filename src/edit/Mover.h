// Moving vendors between the lists. Each moved row carries in column 4 what the next commit
// must write for it; nothing reaches the server here.
#pragma once

#include "screen/Screen.h"

#include <QPoint>
#include <functional>

namespace tarvo::screen {
struct ControlFields;
} // namespace tarvo::screen

namespace tarvo::edit {

class FeeArea;
using screen::ControlFields;

class Mover
{
public:
    // chooseList sets an optList member from code, which runs its click handling at once.
    Mover(const screen::ListArea &lists, const screen::Commands &commands,
          const screen::FeeEditor &editor, const screen::FindArea &find, ControlFields &fields,
          FeeArea &feeArea, std::function<void(int)> chooseList);

    // Single add: moves the current row of lstVendors only, even when others are selected.
    // Throws where a step fails; the caller stops silently and keeps what was done.
    void cmdAdd_Click();
    void lstVendors_DblClick();
    void cmdAddAll_Click();

    // Single remove: moves the current row of lstVendorCenter only.
    void cmdDelete_Click();
    void lstVendorCenter_DblClick();
    void mnuRemoveItems_Click();
    // Shows the pop-up menu on a right-button release (button code 2) over a list with a
    // current row; the menu's "Remove" runs before this returns.
    void lstVendorCenter_MouseUp(int button, const QPoint &globalPos);
    void cmdRemoveAll_Click();

private:
    void setCountCaptions();
    void resetFeeArea();

    screen::ListArea lists;
    screen::Commands commands;
    screen::FeeEditor editor;
    screen::FindArea find;
    ControlFields &fields;
    FeeArea &feeArea;
    std::function<void(int)> chooseList;
};

} // namespace tarvo::edit
