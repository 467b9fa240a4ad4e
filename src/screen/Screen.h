// The control's fixed screen: every child control, placed by absolute geometry (twips / 15)
// with its name, caption, tab order and initial state.
#pragma once

#include <array>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace tarvo::list {
class VendorList;
}

namespace tarvo::screen {

using list::VendorList;

// The areas below are what one part of the logic may reach: each handler is given the areas it
// works on, never the whole screen. They hold pointers into the screen and are cheap to copy.

// The two lists and their count captions.
struct ListArea
{
    QLabel *lblAllVendors = nullptr;
    VendorList *lstVendors = nullptr;
    QLabel *lblSelVendors = nullptr;
    VendorList *lstVendorCenter = nullptr;
};

// The move commands, the commit command and the selected list's pop-up menu.
struct Commands
{
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdAddAll = nullptr;
    QPushButton *cmdRemoveAll = nullptr;
    QPushButton *cmdDelete = nullptr;
    QPushButton *cmdCommit = nullptr;
    QMenu *mnuRemove = nullptr;
};

// The fee editor under the selected list.
struct FeeEditor
{
    QCheckBox *chkDuty = nullptr;
    QLineEdit *txtCntHandFee = nullptr;
    QPushButton *cmdcenterHandFee = nullptr;
};

// The find area: which field and which list to search, the two boxes and the find command.
struct FindArea
{
    std::array<QRadioButton *, 2> optFind{}; // 0 "Name", 1 "ID"
    QLineEdit *txtVendorID = nullptr;
    QLineEdit *txtVendorName = nullptr;
    std::array<QRadioButton *, 2> optList{}; // 0 "Non Selected Vendors", 1 "Selected Vendors"
    QPushButton *cmdFind = nullptr;
};

// How the control tells the user it is busy or has something to say: the surface's cursor,
// the progress bar, and the parent of its message boxes.
struct Feedback
{
    QWidget *surface = nullptr;
    QProgressBar *prbLoad = nullptr;
};

struct Screen
{
    QWidget *surface = nullptr;
    QGroupBox *fraMain = nullptr;
    QLabel *lblAllVendors = nullptr;
    VendorList *lstVendors = nullptr;
    QLabel *lblSelVendors = nullptr;
    VendorList *lstVendorCenter = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdAddAll = nullptr;
    QPushButton *cmdRemoveAll = nullptr;
    QPushButton *cmdDelete = nullptr;
    QPushButton *cmdCommit = nullptr;
    QGroupBox *frmEntry = nullptr;
    QLabel *lblDuty = nullptr;
    QCheckBox *chkDuty = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtCntHandFee = nullptr;
    QPushButton *cmdcenterHandFee = nullptr;
    QProgressBar *prbLoad = nullptr;
    QGroupBox *fraFind = nullptr;
    std::array<QRadioButton *, 2> optFind{}; // 0 "Name", 1 "ID"
    QLineEdit *txtVendorID = nullptr;
    QLineEdit *txtVendorName = nullptr;
    QGroupBox *Frame1 = nullptr;
    std::array<QRadioButton *, 2> optList{}; // 0 "Non Selected Vendors", 1 "Selected Vendors"
    QPushButton *cmdFind = nullptr;
    QLabel *lblVersionNumber = nullptr;
    QMenu *mnuRemove = nullptr;
    QAction *mnuRemoveItems = nullptr;

    ListArea lists() const { return {lblAllVendors, lstVendors, lblSelVendors, lstVendorCenter}; }
    Commands commands() const
    {
        return {cmdAdd, cmdAddAll, cmdRemoveAll, cmdDelete, cmdCommit, mnuRemove};
    }
    FeeEditor feeEditor() const { return {chkDuty, txtCntHandFee, cmdcenterHandFee}; }
    FindArea findArea() const { return {optFind, txtVendorID, txtVendorName, optList, cmdFind}; }
    Feedback feedback() const { return {surface, prbLoad}; }
};

// Creates the children of surface in their initial state.
Screen buildScreen(QWidget *surface);

// A box the user may type into: unlocked, window-background colour.
void unlockBox(QLineEdit *box);
// A box the user may not type into: locked, button-face colour.
void lockBox(QLineEdit *box);

// Flushes both lists so the view shows what the logic did.
void flushLists(const ListArea &lists);

// Names the fee button for assistive tools after what its caption ("Update" or "Save") does
// now; call it after anything that may have changed the caption.
void nameFeeButton(const Screen &ui);

} // namespace tarvo::screen
