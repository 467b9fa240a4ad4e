// What a screen reader gets from the control: a name and a description for every list, move
// button and box, and each pending change spoken with its row.
#include "Fixtures.h"

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QIcon>
#include <QImage>
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

enum class Typing { No, Locked, Open };

struct Described
{
    const char *control;
    const char *name;
    QAccessible::Role role;
    Typing typing = Typing::No;
};

void PrintTo(const Described &c, std::ostream *out)
{
    *out << c.control;
}

// Every control as a screen reader meets it after a load: its name, its role, and for a text
// box whether typing is possible.
const Described Controls[] = {
    {"lstVendors", "Non Selected Active Vendors", QAccessible::Table},
    {"lstVendorCenter", "Selected Vendors", QAccessible::Table},
    {"cmdAdd", "Add the selected vendor to the center", QAccessible::Button},
    {"cmdAddAll", "Add the selected vendors to the center", QAccessible::Button},
    {"cmdDelete", "Remove the selected vendor from the center", QAccessible::Button},
    {"cmdRemoveAll", "Remove the selected vendors from the center", QAccessible::Button},
    {"txtCntHandFee", "Center handling fee in percent", QAccessible::EditableText, Typing::Locked},
    {"cmdcenterHandFee", "Update the handling fee", QAccessible::Button},
    {"txtVendorID", "Vendor ID to find", QAccessible::EditableText, Typing::Open},
    {"txtVendorName", "Vendor name to find", QAccessible::EditableText, Typing::Locked},
    {"cmdFind", "Find the vendor", QAccessible::Button},
    {"cmdCommit", "Commit to Database", QAccessible::Button},
    // Groups are named by their captions without the blanks around them.
    {"fraFind", "Find Vendor", QAccessible::Grouping},
    {"Frame1", "List to search", QAccessible::Grouping},
};

class NamedControls : public Accessibility, public ::testing::WithParamInterface<Described>
{
};

TEST_P(NamedControls, tellWhatTheyAreForAndWhetherTheyTakeTyping)
{
    const auto &c = GetParam();
    auto *iface = accessible(c.control);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->text(QAccessible::Name), c.name);
    EXPECT_EQ(iface->role(), c.role);
    if (c.role != QAccessible::Grouping) {
        EXPECT_GT(iface->text(QAccessible::Description).size(), 20);
    }
    if (c.typing != Typing::No) {
        EXPECT_EQ(iface->state().readOnly, c.typing == Typing::Locked);
        EXPECT_EQ(iface->state().editable, c.typing == Typing::Open);
        EXPECT_EQ(iface->editableTextInterface() != nullptr, c.typing == Typing::Open);
        ASSERT_NE(iface->textInterface(), nullptr) << "its text can be read either way";
    }
}

INSTANTIATE_TEST_SUITE_P(Controls, NamedControls, ::testing::ValuesIn(Controls),
                         [](const auto &info) { return std::string(info.param.control); });

TEST_F(Accessibility, everyControlHasADescriptionOfItsOwn)
{
    std::set<QString> descriptions;
    for (const auto &described : Controls) {
        if (described.role == QAccessible::Grouping) {
            continue;
        }
        EXPECT_TRUE(descriptions.insert(spoken(described.control, QAccessible::Description)).second)
            << described.control;
    }
}

TEST_F(Accessibility, openingTheFeeBoxMakesItEditableForScreenReaders)
{
    input.clickId(Center, "20");
    input.clickButton("cmdcenterHandFee");
    auto *box = accessible("txtCntHandFee");
    EXPECT_TRUE(box->state().editable);
    EXPECT_FALSE(box->state().readOnly);
    box->editableTextInterface()->replaceText(0, box->textInterface()->characterCount(), "7");
    EXPECT_EQ(box->text(QAccessible::Value), "7");
}

// The lists are exposed as they look: the id and the name, one header each, one cell per
// visible column and row, and none of the hidden columns' codes.
TEST_F(Accessibility, aListShowsOnlyItsVisibleColumnsWithAHeaderEach)
{
    for (const char *list : {Vendors, Center}) {
        auto *view = listView(control, list);
        auto *table = QAccessible::queryAccessibleInterface(view);
        auto *cells = table->tableInterface();
        ASSERT_NE(cells, nullptr);
        const int rows = view->model()->rowCount();
        EXPECT_EQ(view->model()->columnCount(), 7) << "the model keeps every column";
        EXPECT_EQ(cells->columnCount(), 2);
        EXPECT_EQ(cells->rowCount(), rows);
        ASSERT_EQ(table->childCount(), (rows + 1) * 2);
        int headers = 0;
        for (int i = 0; i < table->childCount(); ++i) {
            auto *child = table->child(i);
            ASSERT_NE(child, nullptr) << i;
            EXPECT_EQ(table->indexOfChild(child), i);
            EXPECT_FALSE(child->text(QAccessible::Name).isEmpty()) << i;
            EXPECT_FALSE(child->text(QAccessible::Name).startsWith("00")) << "no padded sort key";
            headers += child->role() == QAccessible::ColumnHeader ? 1 : 0;
        }
        EXPECT_EQ(headers, cells->columnCount());
        EXPECT_EQ(cells->columnDescription(0), "ID");
        EXPECT_EQ(cells->columnDescription(1), "Name");
        auto *name = cells->cellAt(0, 1);
        EXPECT_EQ(name->text(QAccessible::Name), view->model()->index(0, 1).data().toString());
        EXPECT_TRUE(name->text(QAccessible::Description).contains("Handling fee "))
            << "the fee is heard without selecting the row";
        EXPECT_EQ(name->tableCellInterface()->columnHeaderCells().value(0)->text(QAccessible::Name),
                  "Name");
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

// Green and orange both appear in Selected Vendors: each kind of change must differ in shape
// too, at the sizes drawn at 100 % and 200 %.
TEST_F(Accessibility, pendingMarkersDifferInShapeNotOnlyInColour)
{
    input.doubleClickId(Vendors, "10");
    input.doubleClickId(Center, "21");
    input.clickId(Center, "22");
    input.clickButton("cmdcenterHandFee");
    input.type("txtCntHandFee", "9");
    input.clickButton("cmdcenterHandFee");
    const auto marker = [&](const char *list, const char *id) {
        const auto index = listView(control, list)->model()->index(input.rowOf(list, id), 0);
        return index.data(Qt::DecorationRole).value<QIcon>();
    };
    const QIcon markers[] = {marker(Center, "10"), marker(Center, "22"), marker(Vendors, "21")};
    for (const int side : {10, 20}) {
        std::vector<QImage> shapes;
        for (const auto &icon : markers) {
            ASSERT_FALSE(icon.isNull());
            shapes.push_back(
                icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_Alpha8));
        }
        for (std::size_t a = 0; a < shapes.size(); ++a) {
            for (std::size_t b = a + 1; b < shapes.size(); ++b) {
                int differing = 0;
                for (int y = 0; y < side; ++y) {
                    for (int x = 0; x < side; ++x) {
                        const bool inA = qAlpha(shapes[a].pixel(x, y)) > 127;
                        const bool inB = qAlpha(shapes[b].pixel(x, y)) > 127;
                        differing += inA != inB ? 1 : 0;
                    }
                }
                EXPECT_GE(differing, side * side / 10)
                    << side << "px, markers " << a << " and " << b;
            }
        }
    }
}

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
