// Everything a user can see change after moving or selecting rows, captured so that two ways
// of doing the same thing (mouse and keys, buttons and a drag) can be compared as a whole.
#pragma once

#include "Fixtures.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <ostream>
#include <vector>

namespace tarvo::test {

struct ScreenState
{
    std::vector<QStringList> vendors;
    std::vector<QStringList> center;
    std::vector<int> vendorsSelected;
    std::vector<int> centerSelected;
    int vendorsCurrent = -1;
    int centerCurrent = -1;
    QStringList enabledButtons;
    QString fee;
    bool duty = false;
    QString feeCaption;
    QStringList captions;
    QStringList options; // "name:checked/enabled"

    bool operator==(const ScreenState &) const = default;
};

// Column 5 of a moved row holds the time of the move; two runs agree on its date and length.
inline std::vector<QStringList> comparableRows(CenterVendor &control, const char *list)
{
    auto rows = rowsOf(control, list);
    for (auto &row : rows) {
        row[5] = row[5].left(10) + QStringLiteral("|%1").arg(row[5].size());
    }
    return rows;
}

inline ScreenState screenStateOf(CenterVendor &control)
{
    const auto child = [&control](const char *name) {
        return control.findChild<QWidget *>(QString::fromLatin1(name));
    };
    ScreenState state;
    state.vendors = comparableRows(control, "lstVendors");
    state.center = comparableRows(control, "lstVendorCenter");
    state.vendorsSelected = selectedRowsOf(control, "lstVendors");
    state.centerSelected = selectedRowsOf(control, "lstVendorCenter");
    state.vendorsCurrent = listView(control, "lstVendors")->currentIndex().row();
    state.centerCurrent = listView(control, "lstVendorCenter")->currentIndex().row();
    for (const char *name :
         {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit", "cmdcenterHandFee"}) {
        if (child(name)->isEnabled()) {
            state.enabledButtons << QString::fromLatin1(name);
        }
    }
    state.fee = qobject_cast<QLineEdit *>(child("txtCntHandFee"))->text();
    state.duty = qobject_cast<QCheckBox *>(child("chkDuty"))->isChecked();
    state.feeCaption = qobject_cast<QPushButton *>(child("cmdcenterHandFee"))->text();
    state.captions << qobject_cast<QLabel *>(child("lblSelVendors"))->text()
                   << qobject_cast<QLabel *>(child("lblAllVendors"))->text();
    for (const char *name : {"optList_0", "optList_1"}) {
        auto *option = qobject_cast<QRadioButton *>(child(name));
        state.options << QStringLiteral("%1:%2/%3")
                             .arg(QString::fromLatin1(name))
                             .arg(option->isChecked())
                             .arg(option->isEnabled());
    }
    return state;
}

inline void PrintTo(const ScreenState &state, std::ostream *out)
{
    const auto rows = [](const std::vector<QStringList> &list) {
        QStringList lines;
        for (const auto &row : list) {
            lines << row.join(QLatin1Char(','));
        }
        return lines.join(QLatin1String("; ")).toStdString();
    };
    const auto numbers = [](const std::vector<int> &values) {
        std::string text;
        for (const int v : values) {
            text += std::to_string(v) + ' ';
        }
        return text;
    };
    *out << "\n  vendors: " << rows(state.vendors) << "\n  center: " << rows(state.center)
         << "\n  selected: " << numbers(state.vendorsSelected) << "| "
         << numbers(state.centerSelected) << " current " << state.vendorsCurrent << " | "
         << state.centerCurrent << "\n  enabled: " << state.enabledButtons.join(' ').toStdString()
         << "\n  fee: '" << state.fee.toStdString() << "' duty " << state.duty << " "
         << state.feeCaption.toStdString() << "\n  " << state.captions.join(' ').toStdString()
         << " " << state.options.join(' ').toStdString();
}

} // namespace tarvo::test
