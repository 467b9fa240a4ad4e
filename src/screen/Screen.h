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
};

// Creates the children of surface in their initial state.
Screen buildScreen(QWidget *surface);

// A box the user may type into: unlocked, window-background colour.
void unlockBox(QLineEdit *box);
// A box the user may not type into: locked, button-face colour.
void lockBox(QLineEdit *box);

// Flushes both lists so the view shows what the logic did.
void flushLists(const Screen &ui);

// Names the fee button for assistive tools after what its caption ("Update" or "Save") does
// now; call it after anything that may have changed the caption.
void nameFeeButton(const Screen &ui);

} // namespace tarvo::screen
