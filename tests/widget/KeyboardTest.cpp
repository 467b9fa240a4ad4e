// Everything the mouse does on the lists, done with the keys: each key path must leave the
// same rows, marks, selection and button states as its mouse path.
#include "Fixtures.h"
#include "ScreenState.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

struct Stroke
{
    const char *list;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

void typeOn(CenterVendor &control, const std::vector<Stroke> &strokes)
{
    QApplication::setActiveWindow(&control);
    for (const auto &stroke : strokes) {
        auto *view = listView(control, stroke.list);
        view->setFocus(Qt::TabFocusReason);
        QTest::keyClick(view, stroke.key, stroke.modifiers);
    }
}

// Two copies of the control on the same served center: one driven by the mouse, one by keys.
class TwoWays : public ::testing::Test
{
protected:
    TwoWays() : page(server), mouse(byMouse), keysInput(byKeys)
    {
        serveStandardCenter(page);
        for (auto *control : {&byMouse, &byKeys}) {
            control->show();
            control->LetDataFromDatabase(12, QString::fromStdString(server.url()));
        }
    }

    TestHttpServer server;
    ServedPage page;
    CenterVendor byMouse;
    CenterVendor byKeys;
    UserInput mouse;
    UserInput keysInput;
};

struct KeyCase
{
    const char *name;
    std::vector<Stroke> keys;
    void (*mouse)(UserInput &);
    const char *thenButton = nullptr; // clicked on both controls afterwards
};

void PrintTo(const KeyCase &c, std::ostream *out)
{
    *out << c.name;
}

class KeysLikeMouse : public TwoWays, public ::testing::WithParamInterface<KeyCase>
{
};

TEST_P(KeysLikeMouse, leaveTheScreenAsTheMouseDoes)
{
    const auto &c = GetParam();
    c.mouse(mouse);
    typeOn(byKeys, c.keys);
    if (c.thenButton) {
        mouse.clickButton(c.thenButton);
        keysInput.clickButton(c.thenButton);
    }
    EXPECT_EQ(screenStateOf(byKeys), screenStateOf(byMouse));
}

constexpr auto Shift = Qt::ShiftModifier;
constexpr auto Ctrl = Qt::ControlModifier;

INSTANTIATE_TEST_SUITE_P(
    Cases, KeysLikeMouse,
    ::testing::Values(
        KeyCase{"downSelectsTheNextVendor",
                {{Vendors, Qt::Key_Down}},
                [](UserInput &in) { in.clickId(Vendors, "11"); }},
        KeyCase{"shiftArrowsExtendTheSelection",
                {{Vendors, Qt::Key_Down},
                 {Vendors, Qt::Key_Up},
                 {Vendors, Qt::Key_Down, Shift},
                 {Vendors, Qt::Key_Down, Shift}},
                [](UserInput &in) {
                    in.clickId(Vendors, "10");
                    in.clickId(Vendors, "12", Qt::ShiftModifier);
                }},
        KeyCase{"ctrlSpaceTogglesARowIntoTheSelection",
                {{Vendors, Qt::Key_Down},
                 {Vendors, Qt::Key_Up},
                 {Vendors, Qt::Key_Down, Ctrl},
                 {Vendors, Qt::Key_Down, Ctrl},
                 {Vendors, Qt::Key_Space, Ctrl}},
                [](UserInput &in) {
                    in.clickId(Vendors, "10");
                    in.clickId(Vendors, "12", Qt::ControlModifier);
                }},
        KeyCase{"ctrlASelectsEveryRowOfTheActiveList",
                {{Vendors, Qt::Key_Down}, {Vendors, Qt::Key_A, Ctrl}},
                [](UserInput &in) {
                    in.clickId(Vendors, "10");
                    in.clickId(Vendors, "13", Qt::ShiftModifier);
                    in.clickId(Vendors, "11", Qt::ControlModifier);
                    in.clickId(Vendors, "11", Qt::ControlModifier);
                }},
        KeyCase{"ctrlAInAListThatAllowsOneRowChangesNothing",
                {{Vendors, Qt::Key_A, Ctrl}},
                [](UserInput &) {}},
        KeyCase{"ctrlDownMovesTheCurrentRowOnlyAndTheFeesFollowIt",
                {{Center, Qt::Key_Down}, {Center, Qt::Key_Up}, {Center, Qt::Key_Down, Ctrl}},
                [](UserInput &in) {
                    in.clickId(Center, "20");
                    in.clickId(Center, "21", Qt::ControlModifier);
                    in.clickId(Center, "21", Qt::ControlModifier);
                }},
        KeyCase{"endShowsTheLastAssignedVendorsFees",
                {{Center, Qt::Key_End}},
                [](UserInput &in) { in.clickId(Center, "22"); }},
        KeyCase{"homeAndPageDownWalkTheList",
                {{Vendors, Qt::Key_End}, {Vendors, Qt::Key_Home}, {Vendors, Qt::Key_PageDown}},
                [](UserInput &in) { in.clickId(Vendors, "13"); }},
        KeyCase{"shiftEndSelectsSeveralAssignedVendors",
                {{Center, Qt::Key_Down}, {Center, Qt::Key_Up}, {Center, Qt::Key_End, Shift}},
                [](UserInput &in) {
                    in.clickId(Center, "20");
                    in.clickId(Center, "22", Qt::ShiftModifier);
                }},
        KeyCase{"returnAddsTheCurrentVendor",
                {{Vendors, Qt::Key_Down}, {Vendors, Qt::Key_Return}},
                [](UserInput &in) { in.doubleClickId(Vendors, "11"); }},
        KeyCase{"keypadEnterAddsTheCurrentVendor",
                {{Vendors, Qt::Key_Down}, {Vendors, Qt::Key_Enter, Qt::KeypadModifier}},
                [](UserInput &in) { in.doubleClickId(Vendors, "11"); }},
        KeyCase{"returnRemovesTheCurrentAssignedVendor",
                {{Center, Qt::Key_Down}, {Center, Qt::Key_Return}},
                [](UserInput &in) { in.doubleClickId(Center, "21"); }},
        KeyCase{"deleteRemovesLikeTheMenu",
                {{Center, Qt::Key_Down}, {Center, Qt::Key_Delete}},
                [](UserInput &in) {
                    in.clickId(Center, "21");
                    in.rightClickId(Center, "21");
                }},
        KeyCase{"aKeySelectionFeedsTheAddSelectedButton",
                {{Vendors, Qt::Key_Down}, {Vendors, Qt::Key_Up}, {Vendors, Qt::Key_Down, Shift}},
                [](UserInput &in) {
                    in.clickId(Vendors, "10");
                    in.clickId(Vendors, "11", Qt::ShiftModifier);
                },
                "cmdAddAll"},
        KeyCase{"aKeySelectionFeedsTheRemoveSelectedButton",
                {{Center, Qt::Key_End}, {Center, Qt::Key_Up, Shift}},
                [](UserInput &in) {
                    in.clickId(Center, "22");
                    in.clickId(Center, "21", Qt::ShiftModifier);
                },
                "cmdRemoveAll"}),
    [](const auto &info) { return std::string(info.param.name); });

class Keyboard : public TwoWays
{
protected:
    QAbstractItemView *view(const char *list) { return listView(byKeys, list); }
    template <typename T> T *child(const char *name)
    {
        return byKeys.findChild<T *>(QString::fromLatin1(name));
    }
};

// A key, or with Qt::Key_unknown the keyboard's context menu event that some platforms send
// for the menu key instead.
struct MenuKey
{
    const char *name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

void PrintTo(const MenuKey &c, std::ostream *out)
{
    *out << c.name;
}

class MenuKeys : public Keyboard, public ::testing::WithParamInterface<MenuKey>
{
};

TEST_P(MenuKeys, openTheMenuOverTheCurrentRowAndRemoveItsVendor)
{
    typeOn(byKeys, {{Center, Qt::Key_Down}});
    auto *center = view(Center);
    const QModelIndex current = center->currentIndex();
    ASSERT_EQ(current.data().toString(), "21");
    const QRect rowOnScreen(center->viewport()->mapToGlobal(center->visualRect(current).topLeft()),
                            center->visualRect(current).size());

    QPoint menuAt;
    QTimer chooser;
    chooser.setInterval(5);
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            menuAt = menu->pos();
            menu->setActiveAction(menu->actions().value(0));
            QTest::keyClick(menu, Qt::Key_Return);
        }
    });
    chooser.start();
    if (GetParam().key == Qt::Key_unknown) {
        QContextMenuEvent asked(QContextMenuEvent::Keyboard, QPoint(1, 1),
                                center->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(center, &asked);
    } else {
        QTest::keyClick(center, GetParam().key, GetParam().modifiers);
    }

    EXPECT_TRUE(rowOnScreen.contains(menuAt)) << menuAt.x() << "," << menuAt.y();
    EXPECT_EQ(keysInput.row(Vendors, "21").value(4), "0D");
    EXPECT_EQ(keysInput.rowOf(Center, "21"), -1);
}

INSTANTIATE_TEST_SUITE_P(Keys, MenuKeys,
                         ::testing::Values(MenuKey{"menuKey", Qt::Key_Menu, Qt::NoModifier},
                                           MenuKey{"shiftF10", Qt::Key_F10, Qt::ShiftModifier},
                                           MenuKey{"contextMenuEvent", Qt::Key_unknown, {}}),
                         [](const auto &info) { return std::string(info.param.name); });

// Closes every pop-up menu that opens while it lives, noting that one did.
class MenuWatch
{
public:
    MenuWatch()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (auto *menu = QApplication::activePopupWidget()) {
                opened = true;
                menu->close();
            }
        });
        m_timer.start();
    }
    bool opened = false;

private:
    QTimer m_timer;
};

TEST_F(Keyboard, keysWithoutACommandOnAListMoveNothing)
{
    const ScreenState before = screenStateOf(byKeys);
    MenuWatch menus;
    typeOn(byKeys, {{Vendors, Qt::Key_Delete},
                    {Vendors, Qt::Key_Menu},
                    {Vendors, Qt::Key_F10, Qt::ShiftModifier},
                    {Center, Qt::Key_F10},
                    {Center, Qt::Key_Return, Qt::ShiftModifier},
                    {Center, Qt::Key_Delete, Qt::ControlModifier}});
    // The mouse's menu comes with the right-button release, never with this event.
    QContextMenuEvent byMouse(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(view(Center)->viewport(), &byMouse);
    EXPECT_FALSE(menus.opened);
    EXPECT_EQ(screenStateOf(byKeys), before);
}

TEST_F(Keyboard, anEmptyAssignedListOffersNoMenuAndNoMove)
{
    for (const char *id : {"20", "21", "22"}) {
        keysInput.doubleClickId(Center, id);
    }
    ASSERT_TRUE(rowsOf(byKeys, Center).empty());
    MenuWatch menus;
    const ScreenState before = screenStateOf(byKeys);
    typeOn(byKeys, {{Center, Qt::Key_Menu}, {Center, Qt::Key_Delete}, {Center, Qt::Key_Return}});
    EXPECT_FALSE(menus.opened);
    EXPECT_EQ(screenStateOf(byKeys), before);
}

TEST_F(Keyboard, tabLeavesTheListsInTheLaidOutOrderWithoutMovingTheirRows)
{
    // The laid-out order around the two lists; Tab skips what is disabled.
    const QStringList order{"lstVendorCenter", "txtCntHandFee", "cmdDelete",    "cmdAdd",
                            "lstVendors",      "cmdAddAll",     "cmdRemoveAll", "txtVendorName"};
    const auto nextFrom = [&](const QString &name, int step) {
        for (auto i = order.indexOf(name) + step; i >= 0 && i < order.size(); i += step) {
            if (child<QWidget>(order[i].toLatin1().constData())->isEnabled()) {
                return order[i];
            }
        }
        return QString();
    };
    QApplication::setActiveWindow(&byKeys);
    for (const char *list : {Center, Vendors}) {
        auto *listView = view(list);
        listView->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(listView->hasFocus());
        const QModelIndex current = listView->currentIndex();
        QTest::keyClick(listView, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), nextFrom(list, 1)) << list;
        EXPECT_EQ(listView->currentIndex(), current) << list;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), listView) << list;
    }
    keysInput.clickId(Vendors, "11");
    ASSERT_TRUE(child<QWidget>("cmdAdd")->isEnabled());
    view(Vendors)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(view(Vendors), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "cmdAdd");
}

} // namespace

namespace {

// The keyboard after a load or a commit: where it was, when that control is still usable, or
// else on "Selected Vendors", never on a control the load disabled nor passed on to the host.
struct FocusCase
{
    const char *name;
    const char *focused; // before the load
    bool commit;         // the commit's reload (by Space on its button) instead of the host's
    const char *after;
};

void PrintTo(const FocusCase &c, std::ostream *out)
{
    *out << c.name;
}

class FocusAfterLoad : public ServedControl, public ::testing::WithParamInterface<FocusCase>
{
protected:
    FocusAfterLoad()
    {
        serveStandardCenter(page);
        server.answerPost("/CenterVendor.asp", TestHttpServer::text("Saved", 200));
        load();
        QApplication::setActiveWindow(&control);
    }
};

TEST_P(FocusAfterLoad, leavesTheKeyboardOnAUsableControl)
{
    const auto &c = GetParam();
    MessageWatcher messages; // the commit shows the server's answer
    input.doubleClickId(Vendors, "10");
    input.clickId(Center, "20");
    auto *start = child<QWidget>(c.focused);
    start->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), start);
    if (c.commit) {
        QTest::keyClick(start, Qt::Key_Space);
    } else {
        load();
    }
    // The window's focus widget: it has the keyboard again once the answer's box is closed.
    ASSERT_NE(control.focusWidget(), nullptr);
    EXPECT_EQ(control.focusWidget()->objectName(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, FocusAfterLoad,
    ::testing::Values(FocusCase{"feeButton", "cmdcenterHandFee", false, Center},
                      FocusCase{"commitButton", "cmdCommit", true, Center},
                      FocusCase{"stillEnabledButton", "cmdDelete", false, "cmdDelete"},
                      FocusCase{"otherList", Vendors, false, Vendors}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Keyboard, returnInTheOpenFeeBoxSavesAndEscapeLeavesTheEdit)
{
    QApplication::setActiveWindow(&byKeys);
    keysInput.clickId(Center, "21");
    keysInput.clickButton("cmdcenterHandFee");
    auto *box = child<QLineEdit>("txtCntHandFee");
    keysInput.type("txtCntHandFee", "4");
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
    EXPECT_TRUE(box->isReadOnly());
    EXPECT_EQ(box->text(), "8.00") << "the fee shown before Update comes back";
    EXPECT_EQ(keysInput.row(Center, "21").value(3), "8.00");

    keysInput.clickButton("cmdcenterHandFee");
    keysInput.type("txtCntHandFee", "4");
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(keysInput.row(Center, "21").mid(3, 2), (QStringList{"4.00", "0U"}));
    EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
}

} // namespace
