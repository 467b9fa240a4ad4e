// The fee area under the selected list: shows one selected vendor's fees, and stores a typed
// handling fee into that row with the update mark. Also the two list clicks that decide which
// list is active and which move commands fit the selection.
#pragma once

#include "screen/Screen.h"

#include <QString>

namespace tarvo::edit {

class FeeArea
{
public:
    FeeArea(const screen::ListArea &lists, const screen::Commands &commands,
            const screen::FeeEditor &editor, const screen::Feedback &feedback);

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

    // The rows were reloaded: closes an open edit (the typed fee is abandoned), empties the box
    // and the flag, disables the fee button and forgets the row shown, so that no fee of a row
    // the load replaced stays on screen or is stored on another row.
    void rowsReloaded();

    // Return in the open box: what "Save" does. False when the box is not open.
    bool saveFromBox();
    // Escape in the open box: leaves editing as a click elsewhere would, and shows the fee the
    // box held before "Update" again. False when the box is not open.
    bool cancelEdit();

private:
    void giveBoxFocus();

    screen::ListArea lists;
    screen::Commands commands;
    screen::FeeEditor editor;
    screen::Feedback feedback;
    // False from a load until a click shows a row: the area then shows fees of a row the load
    // replaced, and a fee typed for it must not land on whichever row is current now.
    bool m_showsLoadedRow = false;
    // What the box showed when "Update" opened it.
    QString m_textBeforeEdit;
};

} // namespace tarvo::edit
