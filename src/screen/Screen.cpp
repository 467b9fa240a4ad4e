#include "screen/Screen.h"

#include "list/VendorList.h"
#include "list/VendorView.h"
#include "screen/BoxAccessible.h"
#include "screen/FrameBox.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionProgressBar>
#include <QStylePainter>
#include <QValidator>
#include <cmath>

namespace tarvo::screen {

using namespace tarvo::list;

namespace {

int px(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

void place(QWidget *w, const char *name, int left, int top, int width, int height)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(px(left), px(top), px(width), px(height));
}

template <typename W, typename... Args>
W *make(QWidget *parent, const char *name, int left, int top, int width, int height, Args &&...args)
{
    auto *w = new W(std::forward<Args>(args)..., parent);
    place(w, name, left, top, width, height);
    return w;
}

void setBackground(QLineEdit *box, QPalette::ColorRole from)
{
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, QApplication::palette().color(from));
    box->setPalette(palette);
}

// A maximum of 0 makes QProgressBar spin as if busy; a center without vendors should show an
// empty bar instead.
class LoadProgressBar : public QProgressBar
{
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        if (minimum() != maximum()) {
            QProgressBar::paintEvent(event);
            return;
        }
        QStylePainter painter(this);
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        option.minimum = 0;
        option.maximum = 1;
        option.progress = 0;
        option.text.clear();
        painter.drawControl(QStyle::CE_ProgressBar, option);
    }
};

// Limits what the user types without limiting what code writes: QLineEdit's own maximum length
// would also cut "12.50" set from a row down to four characters.
class TypedLengthLimit : public QValidator
{
public:
    TypedLengthLimit(int limit, QObject *parent) : QValidator(parent), m_limit(limit) {}
    State validate(QString &input, int &) const override
    {
        return input.size() <= m_limit ? Acceptable : Invalid;
    }

private:
    int m_limit;
};

void describe(QWidget *w, const QString &name, const QString &description)
{
    w->setAccessibleName(name);
    w->setAccessibleDescription(description);
}

// What each control is for, for screen readers: the captions alone (">", "<<", an unlabelled
// list) say little.
void describeForAssistiveTools(const Screen &ui)
{
    describe(ui.lstVendors->view(), QStringLiteral("Non Selected Active Vendors"),
             QStringLiteral("Active vendors not assigned to the center. Return adds the current "
                            "vendor; rows dragged onto Selected Vendors are added."));
    describe(ui.lstVendorCenter->view(), QStringLiteral("Selected Vendors"),
             QStringLiteral("Vendors assigned to the center. Return or Delete removes the current "
                            "vendor and the menu key offers Remove; rows dragged onto Non Selected "
                            "Active Vendors are removed."));
    describe(ui.cmdAdd, QStringLiteral("Add the selected vendor to the center"),
             QStringLiteral("Moves the current vendor of Non Selected Active Vendors to Selected "
                            "Vendors; the next commit stores the change."));
    describe(ui.cmdAddAll, QStringLiteral("Add the selected vendors to the center"),
             QStringLiteral("Moves every selected vendor of Non Selected Active Vendors to "
                            "Selected Vendors; the next commit stores the change."));
    describe(ui.cmdDelete, QStringLiteral("Remove the selected vendor from the center"),
             QStringLiteral("Moves the current vendor of Selected Vendors back to Non Selected "
                            "Active Vendors; the next commit stores the change."));
    describe(ui.cmdRemoveAll, QStringLiteral("Remove the selected vendors from the center"),
             QStringLiteral("Moves every selected vendor of Selected Vendors back to Non "
                            "Selected Active Vendors; the next commit stores the change."));
    describe(ui.txtCntHandFee, QStringLiteral("Center handling fee in percent"),
             QStringLiteral("The handling fee of the selected vendor, below 100. It can be typed "
                            "after Update and is stored with Save."));
    describe(ui.chkDuty, QStringLiteral("Duty / brokerage fee"),
             QStringLiteral("Whether the selected vendor is charged the duty / brokerage fee; "
                            "shown only."));
    ui.cmdcenterHandFee->setAccessibleDescription(
        QStringLiteral("Update opens the handling fee of the selected vendor for typing; Save "
                       "stores the typed fee in its row."));
    describe(ui.txtVendorID, QStringLiteral("Vendor ID to find"),
             QStringLiteral("Used while ID is chosen: Find selects the vendor with exactly this "
                            "ID in the list to search."));
    describe(ui.txtVendorName, QStringLiteral("Vendor name to find"),
             QStringLiteral("Used while Name is chosen: Find selects the first vendor whose name "
                            "contains this text in the list to search."));
    describe(ui.cmdFind, QStringLiteral("Find the vendor"),
             QStringLiteral("Searches the list chosen under List to search and selects the "
                            "vendor found."));
    // The frames' captions carry blanks around them; a screen reader should not spell those.
    ui.fraFind->setAccessibleName(QStringLiteral("Find Vendor"));
    ui.Frame1->setAccessibleName(QStringLiteral("List to search"));
    describe(ui.cmdCommit, QStringLiteral("Commit to Database"),
             QStringLiteral("Sends every pending change to the server, then reloads both lists."));
    describe(ui.prbLoad, QStringLiteral("Loading progress"),
             QStringLiteral("How many vendors of the center have been loaded."));
}

} // namespace

void unlockBox(QLineEdit *box)
{
    setBackground(box, QPalette::Base);
    box->setReadOnly(false);
    announceLock(box);
}

void lockBox(QLineEdit *box)
{
    setBackground(box, QPalette::Button);
    box->setReadOnly(true);
    announceLock(box);
}

void flushLists(const ListArea &lists)
{
    lists.lstVendors->flush();
    lists.lstVendorCenter->flush();
}

void nameFeeButton(const Screen &ui)
{
    const QString name = ui.cmdcenterHandFee->text() + QStringLiteral(" the handling fee");
    if (ui.cmdcenterHandFee->accessibleName() != name) {
        ui.cmdcenterHandFee->setAccessibleName(name);
    }
}

Screen buildScreen(QWidget *surface)
{
    Screen ui;
    ui.surface = surface;
    surface->resize(px(8745), px(5220));
    // The layout's sizes were made for an 8-point dialog font; a larger default would clip
    // the captions of the fixed geometry.
    QFont font = surface->font();
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed")});
    font.setPointSizeF(8);
    surface->setFont(font);

    ui.fraMain = make<FrameBox>(surface, "fraMain", 0, -90, 8745, 5310);
    auto *main = ui.fraMain;
    ui.lblAllVendors = make<QLabel>(main, "lblAllVendors", 150, 150, 3105, 255,
                                    QStringLiteral("Non Selected Active Vendors:"));
    ui.lstVendors = new VendorList(main);
    place(ui.lstVendors->view(), "lstVendors", 105, 360, 3975, 2775);
    ui.lstVendors->setObjectName(QStringLiteral("lstVendorsRows"));
    ui.lblSelVendors = make<QLabel>(main, "lblSelVendors", 4710, 150, 2175, 255,
                                    QStringLiteral("Selected Vendors:"));
    ui.lstVendorCenter = new VendorList(main);
    place(ui.lstVendorCenter->view(), "lstVendorCenter", 4665, 360, 3975, 2775);
    ui.lstVendorCenter->setObjectName(QStringLiteral("lstVendorCenterRows"));

    ui.cmdAdd = make<QPushButton>(main, "cmdAdd", 4065, 960, 615, 375, QStringLiteral(">"));
    ui.cmdAddAll = make<QPushButton>(main, "cmdAddAll", 4065, 1335, 615, 375, QStringLiteral(">>"));
    ui.cmdRemoveAll =
        make<QPushButton>(main, "cmdRemoveAll", 4065, 1710, 615, 375, QStringLiteral("<<"));
    ui.cmdDelete = make<QPushButton>(main, "cmdDelete", 4065, 2085, 615, 375, QStringLiteral("<"));
    ui.cmdCommit = make<QPushButton>(main, "cmdCommit", 6945, 3300, 1680, 375,
                                     QStringLiteral("Commit to Database"));

    ui.frmEntry = make<FrameBox>(main, "frmEntry", 4785, 3765, 3855, 1080);
    auto *entry = ui.frmEntry;
    ui.lblDuty =
        make<QLabel>(entry, "lblDuty", 120, 240, 1575, 255, QStringLiteral("Duty / Brokerage Fee"));
    ui.chkDuty = make<QCheckBox>(entry, "chkDuty", 1980, 240, 390, 270);
    ui.Label1 = make<QLabel>(entry, "Label1", 120, 600, 1845, 240,
                             QStringLiteral("Center / Handling Fee (%)"));
    {
        // The longest caption of the fee area is a few pixels wider than its label.
        QFont narrow = ui.Label1->font();
        narrow.setLetterSpacing(QFont::PercentageSpacing, 94);
        ui.Label1->setFont(narrow);
    }
    ui.txtCntHandFee = make<QLineEdit>(entry, "txtCntHandFee", 1980, 600, 525, 285);
    useBoxAccessibility(ui.txtCntHandFee);
    ui.txtCntHandFee->setValidator(new TypedLengthLimit(4, ui.txtCntHandFee));
    ui.cmdcenterHandFee = make<QPushButton>(entry, "cmdcenterHandFee", 2625, 600, 1080, 315,
                                            QStringLiteral("Update"));

    ui.prbLoad = make<LoadProgressBar>(main, "prbLoad", 4785, 4920, 3870, 255);
    ui.prbLoad->setTextVisible(false);

    ui.fraFind = make<FrameBox>(main, "fraFind", 120, 3120, 4575, 2055);
    ui.fraFind->setTitle(QStringLiteral(" Find Vendor "));
    auto *find = ui.fraFind;
    ui.optFind[1] = make<QRadioButton>(find, "optFind_1", 135, 240, 735, 255, QStringLiteral("ID"));
    ui.txtVendorID = make<QLineEdit>(find, "txtVendorID", 915, 255, 1095, 285);
    useBoxAccessibility(ui.txtVendorID);
    ui.optFind[0] =
        make<QRadioButton>(find, "optFind_0", 135, 600, 765, 255, QStringLiteral("Name"));
    ui.txtVendorName = make<QLineEdit>(find, "txtVendorName", 915, 615, 3330, 285);
    useBoxAccessibility(ui.txtVendorName);
    ui.Frame1 = make<FrameBox>(find, "Frame1", 135, 915, 2490, 825);
    ui.Frame1->setTitle(QStringLiteral(" List to search  "));
    ui.optList[0] = make<QRadioButton>(ui.Frame1, "optList_0", 120, 225, 2040, 255,
                                       QStringLiteral("Non Selected Vendors"));
    ui.optList[1] = make<QRadioButton>(ui.Frame1, "optList_1", 120, 555, 1575, 195,
                                       QStringLiteral("Selected Vendors"));
    // Each option pair is one exclusive group of its own: the frames nest, and Qt's automatic
    // exclusivity would otherwise let a click uncheck the chosen member of the outer pair.
    for (auto *pair : {&ui.optFind, &ui.optList}) {
        auto *group = new QButtonGroup(surface);
        for (auto *option : *pair) {
            group->addButton(option);
        }
    }
    ui.cmdFind = make<QPushButton>(find, "cmdFind", 2865, 1200, 975, 375, QStringLiteral("Find"));
    ui.lblVersionNumber = make<QLabel>(find, "lblVersionNumber", 150, 1770, 2175, 255,
                                       QStringLiteral("Version Number:"));

    ui.mnuRemove = new QMenu(QStringLiteral("Remove"), surface);
    ui.mnuRemove->setObjectName(QStringLiteral("mnuRemove"));
    ui.mnuRemoveItems = ui.mnuRemove->addAction(QStringLiteral("Remove"));
    ui.mnuRemoveItems->setObjectName(QStringLiteral("mnuRemoveItems"));

    // Initial state: nothing can be done before the first load.
    for (QWidget *w :
         {static_cast<QWidget *>(ui.cmdAdd), static_cast<QWidget *>(ui.cmdAddAll),
          static_cast<QWidget *>(ui.cmdRemoveAll), static_cast<QWidget *>(ui.cmdDelete),
          static_cast<QWidget *>(ui.cmdCommit), static_cast<QWidget *>(ui.chkDuty),
          static_cast<QWidget *>(ui.cmdcenterHandFee), static_cast<QWidget *>(ui.optFind[0]),
          static_cast<QWidget *>(ui.optFind[1]), static_cast<QWidget *>(ui.txtVendorID),
          static_cast<QWidget *>(ui.optList[0]), static_cast<QWidget *>(ui.optList[1]),
          static_cast<QWidget *>(ui.cmdFind)}) {
        w->setEnabled(false);
    }
    ui.optFind[1]->setChecked(true);
    ui.optList[0]->setChecked(true);
    lockBox(ui.txtCntHandFee);
    lockBox(ui.txtVendorID);
    lockBox(ui.txtVendorName);

    // Focus order by the layout's tab indexes; labels, frames and the bar take no focus.
    const QWidget *order[] = {ui.lstVendorCenter->view(),
                              ui.txtCntHandFee,
                              ui.cmdDelete,
                              ui.cmdAdd,
                              ui.lstVendors->view(),
                              ui.cmdAddAll,
                              ui.cmdRemoveAll,
                              ui.txtVendorName,
                              ui.optFind[0],
                              ui.txtVendorID,
                              ui.optFind[1],
                              ui.cmdFind,
                              ui.optList[0],
                              ui.optList[1],
                              ui.cmdCommit,
                              ui.chkDuty,
                              ui.cmdcenterHandFee};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(const_cast<QWidget *>(order[i]), const_cast<QWidget *>(order[i + 1]));
    }
    for (QWidget *w : {static_cast<QWidget *>(ui.fraMain), static_cast<QWidget *>(ui.frmEntry),
                       static_cast<QWidget *>(ui.fraFind), static_cast<QWidget *>(ui.Frame1),
                       static_cast<QWidget *>(ui.prbLoad)}) {
        w->setFocusPolicy(Qt::NoFocus);
    }
    describeForAssistiveTools(ui);
    nameFeeButton(ui);
    return ui;
}

} // namespace tarvo::screen
