#include <TarvoCenterVendor/CenterVendor.h>

#include "Version.h"
#include "control/ControlState.h"
#include "load/Loader.h"
#include "ui/Screen.h"
#include "ui/VendorList.h"
#include "ui/VendorView.h"

#include <QLabel>

using namespace tarvo;

struct CenterVendor::Private
{
    explicit Private(CenterVendor *q) : ui(buildScreen(q)), loader(ui, fields) {}

    void UserControl_Initialize();

    Screen ui;
    ControlFields fields;
    Loader loader;
};

namespace {

// Both lists show the id and the name; the other five columns are hidden carriers of the
// row's country id, fees, mark, date and sort key.
void addColumnHeaders(VendorList &list)
{
    const double w = list.WidthTwips();
    list.AddColumnHeader(QStringLiteral("ID"), w / 5);
    list.AddColumnHeader(QStringLiteral("Name"), w * 4 / 5);
    list.AddColumnHeader(QStringLiteral("CountryID"), 0);
    list.AddColumnHeader(QStringLiteral("Handling Fee"), 0);
    list.AddColumnHeader(QStringLiteral("Duty Brokerage Fee"), 0);
    list.AddColumnHeader(QStringLiteral("Date Updated"), 0);
    list.AddColumnHeader(QStringLiteral("ID"), 0);
}

} // namespace

void CenterVendor::Private::UserControl_Initialize()
{
    ui.lstVendorCenter->SetFullRowSelect(true);
    addColumnHeaders(*ui.lstVendorCenter);
    ui.lstVendors->SetFullRowSelect(true);
    addColumnHeaders(*ui.lstVendors);
    ui.lblVersionNumber->setText(QStringLiteral("Version Number: %1.%2.%3")
                                     .arg(version::major)
                                     .arg(version::minor)
                                     .arg(version::revision));
}

CenterVendor::CenterVendor(QWidget *parent) : QWidget(parent), d(std::make_unique<Private>(this))
{
    d->UserControl_Initialize();
}

CenterVendor::~CenterVendor() = default;

QVariant CenterVendor::LetDataFromDatabase(qint32 plCenterID, const QString &ptServerName)
{
    d->loader.load(plCenterID, ptServerName);
    flushLists(d->ui);
    return {};
}
