// The fee area under the selected list: shows one selected vendor's fees, and stores a typed
// handling fee into that row with the update mark. Also the two list clicks that decide which
// list is active and which move commands fit the selection.
#pragma once

#include <QString>

namespace tarvo {

struct Screen;

class FeeArea
{
public:
    explicit FeeArea(Screen &ui);

    // Unchecks the flag, empties the box and disables the fee button.
    void clear();
    // Leaves editing without storing: "Save" back to "Update", box locked.
    void close();
    // What choosing a find option does to the area: clear it if usable, then close it.
    void abandon();

    // Throws when the list has rows but no current row (the click then stops silently).
    void lstVendorCenter_Click();
    void lstVendors_Click();
    void cmdcenterHandFee_Click();
    void txtCntHandFee_GotFocus();

    // The rows were reloaded: a fee still being typed belongs to none of them.
    void forgetShownRow() { m_shownId.clear(); }

private:
    void giveBoxFocus();

    Screen &ui;
    // The vendor whose fees the area shows; a fee is stored only into that row.
    QString m_shownId;
};

} // namespace tarvo
