// Dragging rows from one list onto the other, simulated through the views' drop handling:
// a drop does what the matching move button does, or nothing at all.
#include "Fixtures.h"
#include "ScreenState.h"
#include "list/VendorDrag.h"

#include <QApplication>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace tarvo::test;

namespace {

// What the source view would hand to a drag of its selected rows.
std::unique_ptr<QMimeData> dragDataOf(CenterVendor &control, const char *list)
{
    auto *view = listView(control, list);
    return std::unique_ptr<QMimeData>(
        view->model()->mimeData(view->selectionModel()->selectedRows()));
}

struct DropResult
{
    bool enterAccepted = false;
    bool dropAccepted = false;
};

// Enters the target's viewport, moves over it and drops, as the drag machinery does.
DropResult dropOn(CenterVendor &control, const char *list, const QMimeData *data)
{
    auto *viewport = listView(control, list)->viewport();
    const QPoint at = viewport->rect().center();
    DropResult result;
    QDragEnterEvent enter(at, Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    result.enterAccepted = enter.isAccepted();
    if (result.enterAccepted) {
        QDragMoveEvent move(at + QPoint(3, 3), Qt::MoveAction, data, Qt::LeftButton,
                            Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        result.enterAccepted = move.isAccepted() && move.dropAction() == Qt::MoveAction;
    }
    QDropEvent drop(QPointF(at + QPoint(3, 3)), Qt::MoveAction, data, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    result.dropAccepted = drop.isAccepted();
    return result;
}

DropResult drag(CenterVendor &control, const char *from, const char *to)
{
    const auto data = dragDataOf(control, from);
    return dropOn(control, to, data.get());
}

class Dragging : public ::testing::Test
{
protected:
    Dragging() : page(server), mouse(byButtons), input(byDrag)
    {
        serveStandardCenter(page);
        for (auto *control : {&byButtons, &byDrag}) {
            control->show();
            control->LetDataFromDatabase(12, QString::fromStdString(server.url()));
        }
    }

    TestHttpServer server;
    ServedPage page;
    CenterVendor byButtons;
    CenterVendor byDrag;
    UserInput mouse;
    UserInput input;
};

struct DragCase
{
    const char *name;
    void (*prepare)(UserInput &); // the same clicks on both controls
    const char *from;
    const char *button;
};

void PrintTo(const DragCase &c, std::ostream *out)
{
    *out << c.name;
}

class DropLikeButton : public Dragging, public ::testing::WithParamInterface<DragCase>
{
};

TEST_P(DropLikeButton, leavesTheScreenAsTheButtonDoes)
{
    const auto &c = GetParam();
    c.prepare(mouse);
    c.prepare(input);
    ASSERT_EQ(screenStateOf(byDrag), screenStateOf(byButtons));
    const ScreenState before = screenStateOf(byDrag);
    mouse.clickButton(c.button);

    const DropResult result = drag(byDrag, c.from, c.from == Vendors ? Center : Vendors);
    EXPECT_TRUE(result.enterAccepted);
    EXPECT_TRUE(result.dropAccepted);
    EXPECT_NE(screenStateOf(byDrag), before) << "the drop moved rows";
    EXPECT_EQ(screenStateOf(byDrag), screenStateOf(byButtons));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DropLikeButton,
    ::testing::Values(DragCase{"oneUnassignedVendorIsAdded",
                               [](UserInput &in) { in.clickId(Vendors, "11"); }, Vendors, "cmdAdd"},
                      DragCase{"severalUnassignedVendorsAreAdded",
                               [](UserInput &in) {
                                   in.clickId(Vendors, "13");
                                   in.clickId(Vendors, "10", Qt::ControlModifier);
                                   in.clickId(Vendors, "12", Qt::ControlModifier);
                               },
                               Vendors, "cmdAddAll"},
                      DragCase{"oneAssignedVendorIsRemoved",
                               [](UserInput &in) { in.clickId(Center, "21"); }, Center,
                               "cmdDelete"},
                      DragCase{"severalAssignedVendorsAreRemoved",
                               [](UserInput &in) {
                                   in.clickId(Center, "20");
                                   in.clickId(Center, "22", Qt::ShiftModifier);
                               },
                               Center, "cmdRemoveAll"},
                      DragCase{"aNewAssignmentDraggedBackLosesItsMark",
                               [](UserInput &in) {
                                   in.doubleClickId(Vendors, "12");
                                   in.clickId(Center, "12");
                               },
                               Center, "cmdDelete"},
                      DragCase{"aChangedFeeTravelsWithTheRemovedVendor",
                               [](UserInput &in) {
                                   in.clickId(Center, "20");
                                   in.clickButton("cmdcenterHandFee");
                                   in.type("txtCntHandFee", "7");
                                   in.clickButton("cmdcenterHandFee");
                                   in.clickId(Center, "20");
                               },
                               Center, "cmdDelete"},
                      DragCase{"aRemovedVendorDraggedBackIsUnmarked",
                               [](UserInput &in) {
                                   in.doubleClickId(Center, "22");
                                   in.clickId(Vendors, "22");
                               },
                               Vendors, "cmdAdd"}),
    [](const auto &info) { return std::string(info.param.name); });

class Drops : public Dragging
{
protected:
    QStringList ids(const char *list) { return columnOf(byDrag, list, 0); }
};

TEST_F(Drops, aDropOnTheListTheRowsCameFromIsRefused)
{
    for (const char *list : {Vendors, Center}) {
        input.clickId(list, list == Vendors ? "12" : "21");
        const ScreenState before = screenStateOf(byDrag);
        const DropResult result = drag(byDrag, list, list);
        EXPECT_FALSE(result.enterAccepted) << list;
        EXPECT_FALSE(result.dropAccepted) << list;
        EXPECT_EQ(screenStateOf(byDrag), before) << list;
    }
}

struct ForeignData
{
    const char *name;
    std::unique_ptr<QMimeData> (*make)(CenterVendor &self, CenterVendor &other);
    // Data that names the right source is let in; only its ids are found faulty at the drop.
    bool letIn = false;
};

void PrintTo(const ForeignData &c, std::ostream *out)
{
    *out << c.name;
}

class ForeignDrops : public Drops, public ::testing::WithParamInterface<ForeignData>
{
};

TEST_P(ForeignDrops, areRefusedAndMoveNothing)
{
    input.clickId(Vendors, "10");
    const ScreenState before = screenStateOf(byDrag);
    const auto data = GetParam().make(byDrag, byButtons);
    const DropResult result = dropOn(byDrag, Center, data.get());
    EXPECT_EQ(result.enterAccepted, GetParam().letIn);
    EXPECT_FALSE(result.dropAccepted);
    EXPECT_EQ(screenStateOf(byDrag), before);
}

std::unique_ptr<QMimeData> withBytes(const QByteArray &bytes)
{
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(tarvo::list::MimeType), bytes);
    return data;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForeignDrops,
    ::testing::Values(
        ForeignData{"plainText",
                    [](CenterVendor &, CenterVendor &) {
                        auto data = std::make_unique<QMimeData>();
                        data->setText("10");
                        return data;
                    }},
        ForeignData{"rowsOfAnotherControl",
                    [](CenterVendor &, CenterVendor &other) {
                        UserInput(other).clickId(Vendors, "10");
                        return dragDataOf(other, Vendors);
                    }},
        ForeignData{"rowsCutShort",
                    [](CenterVendor &self, CenterVendor &) {
                        const auto whole = dragDataOf(self, Vendors);
                        const auto bytes = whole->data(QString::fromLatin1(tarvo::list::MimeType));
                        return withBytes(bytes.left(bytes.size() - 3));
                    },
                    true},
        ForeignData{"rowsWithTrailingBytes",
                    [](CenterVendor &self, CenterVendor &) {
                        const auto whole = dragDataOf(self, Vendors);
                        return withBytes(whole->data(QString::fromLatin1(tarvo::list::MimeType)) +
                                         QByteArray("junk"));
                    },
                    true},
        ForeignData{"empty", [](CenterVendor &, CenterVendor &) { return withBytes({}); }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Drops, rowsNoLongerSelectedWhenTheyArriveStayWhereTheyAre)
{
    input.clickId(Vendors, "10");
    input.clickId(Vendors, "11", Qt::ControlModifier);
    const auto twoRows = dragDataOf(byDrag, Vendors);
    input.clickId(Vendors, "12");
    const auto oneRow = dragDataOf(byDrag, Vendors);
    input.clickId(Vendors, "13");
    const ScreenState before = screenStateOf(byDrag);
    dropOn(byDrag, Center, twoRows.get());
    dropOn(byDrag, Center, oneRow.get());
    EXPECT_EQ(screenStateOf(byDrag), before);
}

TEST_F(Drops, theDragCarriesEachRowOnceInListOrderWhateverTheViewHandsOver)
{
    input.clickId(Vendors, "13");
    input.clickId(Vendors, "11", Qt::ControlModifier);
    auto *view = listView(byDrag, Vendors);
    QModelIndexList indexes;
    for (const int row : {3, 1}) {
        for (int column = view->model()->columnCount() - 1; column >= 0; --column) {
            indexes << view->model()->index(row, column);
        }
    }
    const std::unique_ptr<QMimeData> data(view->model()->mimeData(indexes));
    ASSERT_TRUE(dropOn(byDrag, Center, data.get()).dropAccepted);
    EXPECT_EQ(ids(Vendors), (QStringList{"10", "12"}));
    EXPECT_EQ(ids(Center).mid(0, 2), (QStringList{"11", "13"}));
}

TEST_F(Drops, nothingIsDroppedWhileTheCommitWaitsForTheServer)
{
    server.stallPost("/CenterVendor.asp", TestHttpServer::text("Saved."));
    input.doubleClickId(Vendors, "10");
    bool dropped = false;
    QTimer::singleShot(50, [&] {
        input.clickId(Vendors, "11");
        drag(byDrag, Vendors, Center);
        input.clickId(Center, "21");
        drag(byDrag, Center, Vendors);
        dropped = true;
        EXPECT_NE(input.rowOf(Vendors, "11"), -1);
        EXPECT_NE(input.rowOf(Center, "21"), -1);
        server.releaseStalled();
    });
    MessageWatcher messages;
    input.clickButton("cmdCommit");
    EXPECT_TRUE(dropped);
    const auto requests = server.requestsTo("/CenterVendor.asp");
    for (const auto &request : requests) {
        if (request.method == "POST") {
            EXPECT_EQ(request.body.find("%2C11%2C"), std::string::npos);
            EXPECT_EQ(request.body.find("IN%2821%29"), std::string::npos);
        }
    }
}

TEST_F(Drops, aClickOnOneOfSeveralSelectedRowsStillSelectsItAlone)
{
    input.clickId(Vendors, "10");
    input.clickId(Vendors, "12", Qt::ControlModifier);
    auto *view = listView(byDrag, Vendors);
    const QPoint onTen = view->visualRect(view->model()->index(0, 0)).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, onTen);
    EXPECT_EQ(selectedRowsOf(byDrag, Vendors), (std::vector<int>{0, 2})) << "a drag may follow";
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, onTen);
    EXPECT_EQ(selectedRowsOf(byDrag, Vendors), std::vector<int>{0});
    EXPECT_TRUE(byDrag.findChild<QPushButton *>("cmdAdd")->isEnabled());
}

// Presses on a row of lstVendors and moves the mouse with the button held far enough to
// start a drag; returns where the mouse is then.
QPoint startDragging(CenterVendor &control, int row, Qt::KeyboardModifiers modifiers = {})
{
    auto *viewport = listView(control, Vendors)->viewport();
    const QPoint on = listView(control, Vendors)
                          ->visualRect(listView(control, Vendors)->model()->index(row, 0))
                          .center();
    QTest::mousePress(viewport, Qt::LeftButton, modifiers, on);
    QPoint at = on;
    for (int step = 0; step < 2; ++step) {
        at += QPoint(0, QApplication::startDragDistance());
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, modifiers);
        QApplication::sendEvent(viewport, &move);
    }
    return at;
}

TEST_F(Dragging, startingADragCountsAsAClickOnTheDraggedRow)
{
    mouse.clickId(Center, "21");
    input.clickId(Center, "21");
    mouse.clickId(Vendors, "11");
    const QPoint at = startDragging(byDrag, 1);
    EXPECT_EQ(screenStateOf(byDrag), screenStateOf(byButtons)) << "before the release";
    QTest::mouseRelease(listView(byDrag, Vendors)->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(screenStateOf(byDrag), screenStateOf(byButtons));
}

TEST_F(Dragging, draggingFromASelectedRowKeepsEverySelectedRow)
{
    for (auto *in : {&mouse, &input}) {
        in->clickId(Vendors, "10");
        in->clickId(Vendors, "12", Qt::ControlModifier);
    }
    ASSERT_TRUE(listView(byDrag, Vendors)->dragEnabled());
    const QPoint at = startDragging(byDrag, 0);
    EXPECT_EQ(selectedRowsOf(byDrag, Vendors), (std::vector<int>{0, 2}));
    QTest::mouseRelease(listView(byDrag, Vendors)->viewport(), Qt::LeftButton, {}, at);
    ScreenState state = screenStateOf(byDrag);
    EXPECT_EQ(state.vendorsCurrent, 0) << "the pressed row leads the drag";
    state.vendorsCurrent = screenStateOf(byButtons).vendorsCurrent;
    EXPECT_EQ(state, screenStateOf(byButtons)) << "the release after a drag narrows nothing";
}

} // namespace
