// What a screen reader gets from the control: a name and a description for every list, move
// button and box, and each pending change spoken with its row.
#include "Fixtures.h"

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <set>

using namespace tarvo::test;

namespace {

class Accessibility : public ServedControl
{
protected:
    Accessibility()
    {
        serveStandardCenter(page);
        load();
    }
    QAccessibleInterface *accessible(const char *name)
    {
        auto *widget = control.findChild<QWidget *>(QString::fromLatin1(name));
        return widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    }
    QString spoken(const char *name, QAccessible::Text text)
    {
        auto *iface = accessible(name);
        return iface ? iface->text(text) : QString();
    }
};

struct Described
{
    const char *control;
    const char *name;
};

void PrintTo(const Described &c, std::ostream *out)
{
    *out << c.control;
}

const Described Controls[] = {
    {"lstVendors", "Non Selected Active Vendors"},
    {"lstVendorCenter", "Selected Vendors"},
    {"cmdAdd", "Add the selected vendor to the center"},
    {"cmdAddAll", "Add the selected vendors to the center"},
    {"cmdDelete", "Remove the selected vendor from the center"},
    {"cmdRemoveAll", "Remove the selected vendors from the center"},
    {"txtCntHandFee", "Center handling fee in percent"},
    {"cmdcenterHandFee", "Update the handling fee"},
    {"txtVendorID", "Vendor ID to find"},
    {"txtVendorName", "Vendor name to find"},
    {"cmdFind", "Find the vendor"},
    {"cmdCommit", "Commit to Database"},
};

class NamedControls : public Accessibility, public ::testing::WithParamInterface<Described>
{
};

TEST_P(NamedControls, tellWhatTheyAreFor)
{
    EXPECT_EQ(spoken(GetParam().control, QAccessible::Name), GetParam().name);
    EXPECT_GT(spoken(GetParam().control, QAccessible::Description).size(), 20);
}

INSTANTIATE_TEST_SUITE_P(Controls, NamedControls, ::testing::ValuesIn(Controls),
                         [](const auto &info) { return std::string(info.param.control); });

TEST_F(Accessibility, everyControlHasADescriptionOfItsOwn)
{
    std::set<QString> descriptions;
    for (const auto &described : Controls) {
        EXPECT_TRUE(descriptions.insert(spoken(described.control, QAccessible::Description)).second)
            << described.control;
    }
}

TEST_F(Accessibility, theFeeButtonIsNamedAfterWhatItsCaptionDoesNow)
{
    input.clickId(Center, "20");
    input.clickButton("cmdcenterHandFee");
    EXPECT_EQ(spoken("cmdcenterHandFee", QAccessible::Name), "Save the handling fee");
    input.type("txtCntHandFee", "7");
    input.clickButton("cmdcenterHandFee");
    EXPECT_EQ(spoken("cmdcenterHandFee", QAccessible::Name), "Update the handling fee");

    input.clickButton("cmdcenterHandFee");
    input.clickId(Vendors, "10");
    EXPECT_EQ(spoken("cmdcenterHandFee", QAccessible::Name), "Update the handling fee")
        << "a click elsewhere closes the edit";
}

struct Pending
{
    const char *list;
    const char *id;
    const char *text;
};

void PrintTo(const Pending &c, std::ostream *out)
{
    *out << c.list << ' ' << c.id;
}

class PendingRows : public Accessibility, public ::testing::WithParamInterface<Pending>
{
protected:
    void makeChanges()
    {
        input.doubleClickId(Vendors, "10");
        input.doubleClickId(Center, "21");
        input.clickId(Center, "22");
        input.clickButton("cmdcenterHandFee");
        input.type("txtCntHandFee", "9");
        input.clickButton("cmdcenterHandFee");
    }
};

TEST_P(PendingRows, speakTheirChangeWithTheId)
{
    makeChanges();
    const auto &c = GetParam();
    auto *view = listView(control, c.list);
    const int row = input.rowOf(c.list, c.id);
    ASSERT_GE(row, 0);
    EXPECT_EQ(view->model()->index(row, 0).data(Qt::AccessibleTextRole).toString(), c.text);

    auto *table = QAccessible::queryAccessibleInterface(view)->tableInterface();
    ASSERT_NE(table, nullptr);
    QAccessibleInterface *cell = table->cellAt(row, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), c.text);
}

INSTANTIATE_TEST_SUITE_P(Rows, PendingRows,
                         ::testing::Values(Pending{Center, "10", "10, to be added"},
                                           Pending{Center, "22", "22, fee changed"},
                                           Pending{Vendors, "21", "21, to be removed"},
                                           Pending{Center, "20", "20"},
                                           Pending{Vendors, "11", "11"}),
                         [](const auto &info) {
                             return std::string(info.param.list) + "_" + info.param.id;
                         });

TEST_F(Accessibility, aStoredFeeAnnouncesTheRowsNewSpokenText)
{
    auto *model = listView(control, Center)->model();
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    input.clickId(Center, "21");
    input.clickButton("cmdcenterHandFee");
    input.type("txtCntHandFee", "3");
    input.clickButton("cmdcenterHandFee");
    const int row = input.rowOf(Center, "21");
    bool announced = false;
    for (const auto &change : changes) {
        const auto first = change.at(0).value<QModelIndex>();
        const auto roles = change.at(2).value<QList<int>>();
        announced = announced || (first.row() == row && first.column() == 0 &&
                                  roles.contains(Qt::AccessibleTextRole));
    }
    EXPECT_TRUE(announced);
    EXPECT_EQ(model->index(row, 0).data(Qt::AccessibleTextRole).toString(), "21, fee changed");
}

} // namespace
