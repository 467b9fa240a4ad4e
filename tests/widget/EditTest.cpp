// Moving vendors between the lists and editing fees, through simulated mouse and keys.
#include "Fixtures.h"
#include "list/VendorView.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <algorithm>
#include <gtest/gtest.h>
#include <string_view>

using namespace tarvo::test;

namespace {

class Editing : public ServedControl
{
protected:
    Editing()
    {
        serveStandardCenter(page);
        load();
    }
    bool enabled(const char *name) { return child<QWidget>(name)->isEnabled(); }
    QString column4(const char *list, const char *id) { return input.row(list, id).value(4); }
    void addById(const char *id)
    {
        input.clickId(Vendors, id);
        input.clickButton("cmdAdd");
    }
    void removeById(const char *id)
    {
        input.clickId(Center, id);
        input.clickButton("cmdDelete");
    }
    void storeFee(const char *id, const QString &fee)
    {
        input.clickId(Center, id);
        input.clickButton("cmdcenterHandFee");
        input.type("txtCntHandFee", fee);
        input.clickButton("cmdcenterHandFee");
    }
};

TEST_F(Editing, addingAnUnassignedVendorMarksItNewAndMovesTheSelection)
{
    addById("10");
    EXPECT_EQ(input.rowOf(Vendors, "10"), -1);
    const QStringList moved = input.row(Center, "10");
    ASSERT_EQ(moved.size(), 7);
    EXPECT_EQ(moved.mid(0, 5), (QStringList{"10", "Acme", "1", "8.00", "1N"}));
    EXPECT_TRUE(QRegularExpression("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d$")
                    .match(moved[5])
                    .hasMatch())
        << moved[5].toStdString();
    EXPECT_EQ(moved[6], "0010");
    EXPECT_EQ(selectedRowsOf(control, Center), std::vector<int>{input.rowOf(Center, "10")});
    EXPECT_EQ(child<QLabel>("lblSelVendors")->text(), "Selected Vendors (4):");
    EXPECT_EQ(child<QLabel>("lblAllVendors")->text(), "Non Selected Active Vendors (3):");
    EXPECT_FALSE(enabled("cmdAdd"));
    EXPECT_TRUE(enabled("cmdDelete"));
    EXPECT_TRUE(enabled("cmdCommit"));
    EXPECT_TRUE(child<QRadioButton>("optList_1")->isChecked());
}

TEST_F(Editing, removingAStoredVendorMarksItForDeletionAndKeepsItsColumns)
{
    const QStringList before = input.row(Center, "22");
    removeById("22");
    const QStringList moved = input.row(Vendors, "22");
    EXPECT_EQ(moved.mid(0, 4), before.mid(0, 4));
    EXPECT_EQ(moved[4], "1D");
    EXPECT_EQ(moved[5], before[5]);
    EXPECT_EQ(input.rowOf(Center, "22"), -1);
    EXPECT_TRUE(enabled("cmdAdd"));
    EXPECT_FALSE(enabled("cmdDelete"));
    EXPECT_FALSE(enabled("cmdcenterHandFee"));
    EXPECT_TRUE(child<QRadioButton>("optList_0")->isChecked());
}

TEST_F(Editing, movingARowBackUndoesItsPendingChange)
{
    addById("11");
    EXPECT_EQ(column4(Center, "11"), "0N");
    removeById("11");
    EXPECT_EQ(column4(Vendors, "11"), "0");

    removeById("20");
    EXPECT_EQ(column4(Vendors, "20"), "1D");
    addById("20");
    EXPECT_EQ(column4(Center, "20"), "1");
}

TEST_F(Editing, aPendingFeeChangeSurvivesARemoveAndAddAgain)
{
    storeFee("20", "5");
    EXPECT_EQ(column4(Center, "20"), "1U");
    removeById("20");
    EXPECT_EQ(column4(Vendors, "20"), "1DU");
    addById("20");
    EXPECT_EQ(column4(Center, "20"), "1U");
    EXPECT_EQ(input.row(Center, "20").value(3), "5.00");
}

TEST_F(Editing, addSelectedKeepsListOrderAndLeavesTheNewRowsSelected)
{
    input.clickId(Vendors, "13");
    input.clickId(Vendors, "10", Qt::ControlModifier);
    EXPECT_TRUE(enabled("cmdAddAll"));
    EXPECT_FALSE(enabled("cmdAdd"));
    input.clickButton("cmdAddAll");
    EXPECT_EQ(columnOf(control, Center, 0), (QStringList{"10", "13", "20", "21", "22"}));
    EXPECT_EQ(selectedRowsOf(control, Center), (std::vector<int>{0, 1}));
    EXPECT_EQ(input.row(Center, "10").value(5).size(), 10) << "the date alone";
    EXPECT_EQ(column4(Center, "13"), "0N");
    EXPECT_FALSE(enabled("cmdAddAll"));
    EXPECT_TRUE(enabled("cmdRemoveAll"));
    EXPECT_EQ(child<QLabel>("lblSelVendors")->text(), "Selected Vendors (5):");
}

struct PlacementCase
{
    const char *what;
    std::vector<std::pair<const char *, int>> headerClicks;
    const char *from;
    std::vector<const char *> ids;
    QStringList expected;
};

class MovedRowPlacement : public Editing, public ::testing::WithParamInterface<PlacementCase>
{
};

TEST_P(MovedRowPlacement, landsWhereTheTargetsSortColumnAndDirectionPutIt)
{
    const auto &c = GetParam();
    for (const auto &[list, section] : c.headerClicks) {
        input.clickHeader(list, section);
    }
    const bool adding = std::string_view(c.from) == Vendors;
    input.clickId(c.from, c.ids.front());
    for (std::size_t i = 1; i < c.ids.size(); ++i) {
        input.clickId(c.from, c.ids[i], Qt::ControlModifier);
    }
    const bool several = c.ids.size() > 1;
    input.clickButton(adding ? (several ? "cmdAddAll" : "cmdAdd")
                             : (several ? "cmdRemoveAll" : "cmdDelete"));
    const char *to = adding ? Center : Vendors;
    EXPECT_EQ(columnOf(control, to, 0), c.expected);
    std::vector<int> moved;
    for (const char *id : c.ids) {
        moved.push_back(input.rowOf(to, id));
    }
    std::sort(moved.begin(), moved.end());
    EXPECT_EQ(selectedRowsOf(control, to), moved);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MovedRowPlacement,
    ::testing::Values(
        PlacementCase{"add by id ascending", {}, Vendors, {"12"}, {"12", "20", "21", "22"}},
        PlacementCase{"remove by id descending",
                      {{Vendors, 0}},
                      Center,
                      {"20"},
                      {"20", "13", "12", "11", "10"}},
        PlacementCase{"remove by name descending",
                      {{Vendors, 1}, {Vendors, 1}},
                      Center,
                      {"21"},
                      {"21", "13", "12", "11", "10"}},
        PlacementCase{
            "add by name ascending", {{Center, 1}}, Vendors, {"13"}, {"13", "20", "21", "22"}},
        PlacementCase{"add several by id descending",
                      {{Center, 0}},
                      Vendors,
                      {"13", "10"},
                      {"22", "21", "20", "13", "10"}}),
    [](const auto &info) {
        std::string name;
        for (char ch : std::string(info.param.what)) {
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

TEST_F(Editing, removeSelectedThenAddSelectedMovesTheSameRowsBack)
{
    input.clickId(Center, "20");
    input.clickId(Center, "22", Qt::ControlModifier);
    input.clickButton("cmdRemoveAll");
    EXPECT_EQ(columnOf(control, Center, 0), QStringList{"21"});
    EXPECT_EQ(column4(Vendors, "20"), "1D");
    EXPECT_EQ(selectedRowsOf(control, Vendors).size(), 2u);
    input.clickButton("cmdAddAll");
    EXPECT_EQ(columnOf(control, Center, 0), (QStringList{"20", "21", "22"}));
    EXPECT_EQ(column4(Center, "20"), "1");
    EXPECT_EQ(column4(Center, "22"), "1");
}

TEST_F(Editing, doubleClicksMoveRowsEvenWhileTheButtonsAreDisabled)
{
    input.doubleClickId(Vendors, "12");
    EXPECT_EQ(column4(Center, "12"), "1N");
    input.doubleClickId(Center, "21");
    EXPECT_EQ(column4(Vendors, "21"), "0D");

    // A double click that reaches the list without a click first: the button stays disabled.
    input.clickId(Center, "12");
    input.clickId(Vendors, "10");
    ASSERT_FALSE(enabled("cmdDelete"));
    Q_EMIT qobject_cast<tarvo::list::VendorView *>(listView(control, Center))->DblClick();
    EXPECT_EQ(input.rowOf(Center, "12"), -1) << "the current row of the selected list moved";
    EXPECT_EQ(column4(Vendors, "12"), "1");
}

TEST_F(Editing, theRightButtonMenuRemovesTheCurrentRow)
{
    input.clickId(Center, "21");
    EXPECT_FALSE(input.rightClickId(Center, "21", Qt::MiddleButton));
    EXPECT_TRUE(input.rightClickId(Center, "21"));
    EXPECT_EQ(column4(Vendors, "21"), "0D");
}

TEST_F(Editing, anEmptySelectedListOffersNoMoveAndNoMenu)
{
    for (const char *id : {"20", "21", "22"}) {
        removeById(id);
    }
    EXPECT_FALSE(child<QRadioButton>("optList_1")->isEnabled());
    input.clickId(Vendors, "10");
    input.clickBelowRows(Center);
    for (const char *name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll"}) {
        EXPECT_FALSE(enabled(name)) << name;
    }
    EXPECT_FALSE(input.rightClickId(Center, {}));
}

TEST_F(Editing, aSingleMoveWithSeveralRowsSelectedMovesOnlyTheCurrentRow)
{
    input.clickId(Vendors, "10");
    input.clickId(Vendors, "12", Qt::ControlModifier);
    auto *view = qobject_cast<tarvo::list::VendorView *>(listView(control, Vendors));
    Q_EMIT view->DblClick();
    EXPECT_EQ(columnOf(control, Vendors, 0), (QStringList{"10", "11", "13"}));
    EXPECT_EQ(column4(Center, "12"), "1N");

    input.clickId(Center, "20");
    input.clickId(Center, "21", Qt::ControlModifier);
    Q_EMIT qobject_cast<tarvo::list::VendorView *>(listView(control, Center))->DblClick();
    EXPECT_NE(input.rowOf(Center, "20"), -1) << "the other selected row stays";
    EXPECT_EQ(column4(Vendors, "21"), "0D");
}

TEST_F(Editing, aClickShowsTheRowsFeesAndOffersTheFitCommands)
{
    input.clickId(Center, "22");
    EXPECT_EQ(child<QLineEdit>("txtCntHandFee")->text(), "12.50");
    EXPECT_TRUE(child<QCheckBox>("chkDuty")->isChecked());
    EXPECT_TRUE(enabled("cmdcenterHandFee"));
    EXPECT_TRUE(enabled("cmdDelete"));
    EXPECT_FALSE(enabled("cmdRemoveAll"));

    input.clickId(Center, "21", Qt::ControlModifier);
    EXPECT_FALSE(enabled("cmdcenterHandFee"));
    EXPECT_TRUE(child<QLineEdit>("txtCntHandFee")->text().isEmpty());
    EXPECT_FALSE(child<QCheckBox>("chkDuty")->isChecked());
    EXPECT_TRUE(enabled("cmdRemoveAll"));
    EXPECT_FALSE(enabled("cmdDelete"));

    input.clickId(Vendors, "11");
    EXPECT_FALSE(enabled("cmdcenterHandFee"));
    EXPECT_TRUE(selectedRowsOf(control, Center).empty());
    EXPECT_TRUE(enabled("cmdAdd"));
}

TEST_F(Editing, storingAFeeFormatsItAndMarksTheRowUpdated)
{
    input.clickId(Center, "21");
    input.clickButton("cmdcenterHandFee");
    auto *box = child<QLineEdit>("txtCntHandFee");
    EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Save");
    EXPECT_FALSE(box->isReadOnly());
    EXPECT_EQ(box->selectedText(), "8.00");
    input.type("txtCntHandFee", "12.5");
    input.clickButton("cmdcenterHandFee");
    EXPECT_EQ(input.row(Center, "21").mid(3, 2), (QStringList{"12.50", "0U"}));
    EXPECT_EQ(box->text(), "12.5");
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
    EXPECT_TRUE(enabled("cmdCommit"));
}

TEST_F(Editing, aNewRowKeepsItsMarkWhenItsFeeChanges)
{
    addById("10");
    storeFee("10", "3");
    EXPECT_EQ(input.row(Center, "10").mid(3, 2), (QStringList{"3.00", "1N"}));
}

struct FeeCase
{
    const char *typed;
    const char *message; // nullptr: stored
    const char *stored;
};

class FeeValidation : public Editing, public ::testing::WithParamInterface<FeeCase>
{
};

TEST_P(FeeValidation, acceptsNumbersBelowOneHundredOnly)
{
    const auto &c = GetParam();
    MessageWatcher messages;
    storeFee("20", QString::fromLatin1(c.typed));
    if (c.message) {
        ASSERT_EQ(messages.seen().size(), 1u);
        EXPECT_EQ(messages.seen()[0].text, c.message);
        EXPECT_EQ(messages.seen()[0].title, "Information Validation");
        EXPECT_EQ(messages.seen()[0].icon, QMessageBox::Information);
        EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Save");
        EXPECT_EQ(input.row(Center, "20").mid(3, 2), (QStringList{"5.00", "1"}));
    } else {
        EXPECT_TRUE(messages.seen().empty());
        EXPECT_EQ(input.row(Center, "20").value(3), c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FeeValidation,
    ::testing::Values(FeeCase{"", "The Numeric value will be required", nullptr},
                      FeeCase{"   ", "The Numeric value will be required", nullptr},
                      FeeCase{"abc", "The Numeric value will be required", nullptr},
                      FeeCase{"1,5", "The Numeric value will be required", nullptr},
                      FeeCase{"100", "The Numeric value should be less Than 100", nullptr},
                      FeeCase{"250", "The Numeric value should be less Than 100", nullptr},
                      FeeCase{"99.9", nullptr, "99.90"}, FeeCase{"0", nullptr, "0.00"},
                      FeeCase{"-5", nullptr, "-5.00"}, FeeCase{" 12 ", nullptr, "12.00"},
                      FeeCase{".5", nullptr, "0.50"}));

TEST_F(Editing, clickingAnotherRowAbandonsATypedFee)
{
    input.clickId(Center, "20");
    input.clickButton("cmdcenterHandFee");
    input.type("txtCntHandFee", "42");
    input.clickId(Center, "22");
    EXPECT_EQ(input.row(Center, "20").value(3), "5.00");
    EXPECT_EQ(child<QLineEdit>("txtCntHandFee")->text(), "12.50");
    EXPECT_TRUE(child<QLineEdit>("txtCntHandFee")->isReadOnly());
    EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
}

TEST_F(Editing, removingWhileEditingClosesTheFeeAreaWithoutSaving)
{
    input.clickId(Center, "20");
    input.clickButton("cmdcenterHandFee");
    input.type("txtCntHandFee", "42");
    input.clickButton("cmdDelete");
    EXPECT_EQ(input.row(Vendors, "20").value(3), "5.00");
    EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
    EXPECT_TRUE(child<QLineEdit>("txtCntHandFee")->isReadOnly());
    EXPECT_TRUE(child<QLineEdit>("txtCntHandFee")->text().isEmpty());
}

// No fee of a row that a load replaced stays on screen, and none can be stored on another row:
// whether the area was open with a typed fee or at rest showing a row, and whatever loaded.
enum class Reload { Again, OtherCenter, Commit };

struct StaleCase
{
    Reload reload;
    bool typing;
};

void PrintTo(const StaleCase &c, std::ostream *out)
{
    *out << int(c.reload) << (c.typing ? " typing" : " at rest");
}

class StaleFeeArea : public Editing, public ::testing::WithParamInterface<StaleCase>
{
};

TEST_P(StaleFeeArea, aLoadEmptiesTheFeeAreaAndAFeeNeedsARowShownAgain)
{
    const auto &c = GetParam();
    MessageWatcher messages; // the commit shows the server's answer
    server.answerPost("/CenterVendor.asp", TestHttpServer::text("Saved", 200));
    storeFee("21", "3");
    input.clickId(Center, "20"); // 5.00 %, duty 1
    if (c.typing) {
        input.clickButton("cmdcenterHandFee");
        input.type("txtCntHandFee", "42");
    }
    switch (c.reload) {
    case Reload::Again:
        load();
        break;
    case Reload::OtherCenter:
        load(13);
        break;
    case Reload::Commit:
        input.clickButton("cmdCommit");
        break;
    }
    EXPECT_TRUE(child<QLineEdit>("txtCntHandFee")->text().isEmpty());
    EXPECT_FALSE(child<QCheckBox>("chkDuty")->isChecked());
    EXPECT_TRUE(child<QLineEdit>("txtCntHandFee")->isReadOnly());
    EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
    EXPECT_FALSE(enabled("cmdcenterHandFee")) << "nothing to update until a row is shown";
    for (const auto &row : rowsOf(control, Center)) {
        EXPECT_NE(row.value(3), "42.00");
    }

    storeFee("22", "42");
    EXPECT_EQ(input.row(Center, "22").mid(3, 2), (QStringList{"42.00", "1U"}));
    EXPECT_EQ(input.row(Center, "20").value(3), "5.00");
}

INSTANTIATE_TEST_SUITE_P(Loads, StaleFeeArea,
                         ::testing::Values(StaleCase{Reload::Again, true},
                                           StaleCase{Reload::Again, false},
                                           StaleCase{Reload::OtherCenter, true},
                                           StaleCase{Reload::Commit, true},
                                           StaleCase{Reload::Commit, false}));

TEST_F(Editing, pendingRowsCarryAMarkerAndATooltipWithoutChangingTheirText)
{
    addById("10");
    removeById("21");
    auto *center = listView(control, Center)->model();
    const auto added = center->index(input.rowOf(Center, "10"), 0);
    EXPECT_EQ(added.data(Qt::ToolTipRole).toString(),
              "To be added\nHandling fee 8.00 %\nDuty / brokerage fee charged");
    EXPECT_EQ(center->index(input.rowOf(Center, "10"), 1).data(Qt::AccessibleDescriptionRole),
              "To be added, Handling fee 8.00 %, Duty / brokerage fee charged")
        << "the default fee of an added vendor is readable without selecting it";
    EXPECT_TRUE(added.data(Qt::DecorationRole).isValid());
    EXPECT_EQ(added.data().toString(), "10");
    const auto stored = center->index(input.rowOf(Center, "20"), 0);
    EXPECT_FALSE(stored.data(Qt::DecorationRole).isValid());
    auto *vendors = listView(control, Vendors)->model();
    EXPECT_EQ(vendors->index(input.rowOf(Vendors, "21"), 0).data(Qt::ToolTipRole).toString(),
              "To be removed\nHandling fee 8.00 %\nNo duty / brokerage fee");
}

TEST_F(Editing, aReloadDiscardsEveryPendingChange)
{
    addById("10");
    storeFee("22", "7");
    load();
    for (const char *list : {Vendors, Center}) {
        for (const auto &row : rowsOf(control, list)) {
            EXPECT_TRUE(row.value(4) == "0" || row.value(4) == "1") << row.join(',').toStdString();
        }
    }
    EXPECT_FALSE(enabled("cmdCommit"));
}

TEST_F(Editing, aDuplicateIdMakesTheSingleAddChangeNothing)
{
    page.setAll(countXml(1, 1, 1), answerXml(1, {{"20", "Echo again", "1"}}),
                answerXml(2, {{"20", "Echo", "0.05", "1"}}));
    load();
    input.clickId(Vendors, "20");
    input.clickButton("cmdAdd");
    EXPECT_EQ(columnOf(control, Vendors, 0), QStringList{"20"});
    EXPECT_EQ(columnOf(control, Center, 0), QStringList{"20"});
    EXPECT_EQ(selectedRowsOf(control, Vendors), std::vector<int>{0});
}

} // namespace

namespace {

class LongLists : public ServedControl
{
protected:
    LongLists()
    {
        std::vector<Fields> active;
        for (int id = 100; id < 200; ++id) {
            active.push_back({std::to_string(id), "Vendor " + std::to_string(id), "1"});
        }
        page.setAll(countXml(1, 100, 1), answerXml(1, active),
                    answerXml(2, {{"5", "Five", "0.05", "1"}}));
        QApplication::setActiveWindow(&control);
        load(3);
    }
    bool rowVisible(const char *list, const QString &id)
    {
        auto *view = listView(control, list);
        const auto rect = view->visualRect(view->model()->index(input.rowOf(list, id), 0));
        return view->viewport()->rect().contains(rect.center());
    }
};

TEST_F(LongLists, aMovedRowIsSelectedAndScrolledIntoViewInItsNewList)
{
    input.doubleClickId(Vendors, "100");
    input.doubleClickId(Vendors, "101");
    input.doubleClickId(Center, "5");
    EXPECT_TRUE(rowVisible(Vendors, "5"));
    EXPECT_EQ(selectedRowsOf(control, Vendors), std::vector<int>{input.rowOf(Vendors, "5")});
    input.doubleClickId(Vendors, "150");
    EXPECT_TRUE(rowVisible(Center, "150"));
}

} // namespace

namespace {

// The name column ends a little past the visible edge; a click or a wheel turned sideways on a
// name must not carry the id column and its pending marker out of sight.
TEST_F(Editing, clickingANameKeepsTheIdColumnInSight)
{
    addById("10");
    for (const char *list : {Vendors, Center}) {
        auto *view = listView(control, list);
        const QRect name = view->visualRect(view->model()->index(0, 1));
        const QPoint nearEnd(std::min(name.right(), view->viewport()->width() - 2),
                             name.center().y());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, nearEnd);
        QWheelEvent sideways(nearEnd, view->viewport()->mapToGlobal(nearEnd), {}, {-120, 0},
                             Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &sideways);
        EXPECT_EQ(view->horizontalScrollBar()->value(), 0) << list;
        EXPECT_EQ(view->visualRect(view->model()->index(0, 0)).left(), 0) << list;
    }
}

} // namespace
