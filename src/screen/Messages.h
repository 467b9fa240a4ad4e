// Modal message boxes with the control's flags and titles.
#pragma once

#include <QString>

class QWidget;

namespace tarvo::screen {

enum MessageFlags {
    vbOKOnly = 0,       // no icon
    vbCritical = 16,    // critical-stop icon
    vbInformation = 64, // information icon
};

// The title used when a message gives none.
inline constexpr char DefaultMessageTitle[] = "TarvoCenterVendor";

// Runs a QMessageBox with exec(); an empty title means DefaultMessageTitle. informative goes
// under the main text and never changes it.
void showMessage(QWidget *parent, const QString &text, int flags, const QString &title = {},
                 const QString &informative = {});

} // namespace tarvo::screen
