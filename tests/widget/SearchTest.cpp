// The find area and column sorting, through simulated input.
#include "Fixtures.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

class Searching : public ServedControl
{
protected:
    Searching()
    {
        page.setAll(countXml(2, 5, 3),
                    answerXml(1, {{"123", "Bolt Works", "2"},
                                  {"12", "ACME Supply", "1"},
                                  {"9", "Tacma Freight", "1"},
                                  {"10", "Delta", "3"},
                                  {"10000", "Zulu Big", "1"}}),
                    answerXml(2, {{"20", "Echo Lines", "0.05", "1"},
                                  {"21", "acme East", "0.08", "0"},
                                  {"22", "Golf", "0.125", "1"}}));
        QApplication::setActiveWindow(&control);
        load();
    }
    QLineEdit *box(const char *name) { return child<QLineEdit>(name); }
    bool isActive(const char *name)
    {
        return !box(name)->isReadOnly() && box(name)->palette().color(QPalette::Base) ==
                                               QApplication::palette().color(QPalette::Base);
    }
    // Runs a search and returns the selected row ids of the searched list.
    std::vector<SeenMessage> find(const char *field, const char *list, const QString &text)
    {
        input.clickButton(field);
        input.clickButton(list);
        const char *boxName =
            QString::fromLatin1(field) == "optFind_0" ? "txtVendorName" : "txtVendorID";
        input.clickBox(boxName);
        input.type(boxName, text);
        EXPECT_EQ(box(boxName)->text(), text);
        MessageWatcher messages;
        input.clickButton("cmdFind");
        return messages.seen();
    }
    QStringList selectedIds(const char *list)
    {
        QStringList out;
        const auto ids = columnOf(control, list, 0);
        for (int r : selectedRowsOf(control, list)) {
            out << ids[r];
        }
        return out;
    }
};

TEST_F(Searching, aNameIsFoundAnywhereInAnyLetterCase)
{
    EXPECT_TRUE(find("optFind_0", "optList_0", "acm").empty());
    EXPECT_EQ(selectedIds(Vendors), QStringList{"9"}) << "Tacma Freight comes first by id";
    EXPECT_TRUE(listView(control, Vendors)->hasFocus());

    EXPECT_TRUE(find("optFind_0", "optList_0", "SUPP").empty());
    EXPECT_EQ(selectedIds(Vendors), QStringList{"12"});
}

TEST_F(Searching, anIdMatchesTheWholeIdOnly)
{
    EXPECT_TRUE(find("optFind_1", "optList_0", "12").empty());
    EXPECT_EQ(selectedIds(Vendors), QStringList{"12"});
    const auto messages = find("optFind_1", "optList_0", "1");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Not found");
    EXPECT_EQ(messages[0].icon, QMessageBox::Information);
    EXPECT_EQ(messages[0].title, "TarvoCenterVendor");
}

TEST_F(Searching, theSearchRunsInTheChosenListAndLeavesTheFeeAreaAlone)
{
    input.clickId(Center, "22");
    ASSERT_EQ(box("txtCntHandFee")->text(), "12.50");
    input.clickButton("optList_1");
    EXPECT_TRUE(find("optFind_0", "optList_1", "ACME").empty());
    EXPECT_EQ(selectedIds(Center), QStringList{"21"});
    EXPECT_TRUE(selectedIds(Vendors).isEmpty());
}

TEST_F(Searching, switchingTheFieldEmptiesAndLocksTheOtherBox)
{
    input.clickBox("txtVendorID");
    input.type("txtVendorID", "12");
    EXPECT_TRUE(child<QPushButton>("cmdFind")->isEnabled());
    input.clickButton("optFind_0");
    EXPECT_TRUE(box("txtVendorID")->text().isEmpty());
    EXPECT_FALSE(isActive("txtVendorID"));
    EXPECT_TRUE(isActive("txtVendorName"));
    EXPECT_FALSE(child<QPushButton>("cmdFind")->isEnabled());
    input.type("txtVendorName", "x");
    EXPECT_TRUE(child<QPushButton>("cmdFind")->isEnabled());
}

TEST_F(Searching, aClickInABoxOrAnOptionAbandonsTheFeeArea)
{
    for (const char *target : {"txtVendorID", "optList_1", "optFind_0", "txtVendorName"}) {
        SCOPED_TRACE(target);
        input.clickId(Center, "20");
        input.clickButton("cmdcenterHandFee");
        input.type("txtCntHandFee", "42");
        if (QString::fromLatin1(target).startsWith("txt")) {
            input.clickBox(target);
        } else {
            input.clickButton(target);
        }
        EXPECT_FALSE(child<QPushButton>("cmdcenterHandFee")->isEnabled());
        EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
        EXPECT_TRUE(box("txtCntHandFee")->text().isEmpty());
        EXPECT_EQ(input.row(Center, "20").value(3), "5.00");
    }
}

// The search box is filled before the row click, so the fee area is still usable when the
// search makes another row current.
TEST_F(Searching, aFeeSavedAfterASearchGoesToTheRowFound)
{
    struct Case
    {
        const char *field, *box, *text;
    };
    for (const Case c :
         {Case{"optFind_1", "txtVendorID", "22"}, Case{"optFind_0", "txtVendorName", "GOLF"}}) {
        SCOPED_TRACE(c.box);
        load();
        input.clickButton(c.field);
        input.clickButton("optList_1");
        input.clickBox(c.box);
        input.type(c.box, c.text);
        input.clickId(Center, "20");
        ASSERT_EQ(box("txtCntHandFee")->text(), "5.00");
        input.clickButton("cmdFind");
        ASSERT_EQ(selectedIds(Center), QStringList{"22"});

        MessageWatcher messages;
        input.clickButton("cmdcenterHandFee");
        input.type("txtCntHandFee", "7");
        input.clickButton("cmdcenterHandFee");
        EXPECT_TRUE(messages.seen().empty());
        EXPECT_EQ(input.row(Center, "22").mid(3, 2), (QStringList{"7.00", "1U"}));
        EXPECT_EQ(input.row(Center, "20").mid(3, 2), (QStringList{"5.00", "1"}));
        EXPECT_EQ(child<QPushButton>("cmdcenterHandFee")->text(), "Update");
        EXPECT_TRUE(child<QPushButton>("cmdCommit")->isEnabled());
    }
}

TEST_F(Searching, afterASearchBothListsAllowOneSelectedRowUntilTheNextClick)
{
    input.clickId(Vendors, "9");
    input.clickId(Vendors, "10", Qt::ControlModifier);
    ASSERT_EQ(selectedIds(Vendors).size(), 2);
    find("optFind_1", "optList_0", "123");
    input.clickId(Vendors, "9", Qt::ControlModifier);
    EXPECT_EQ(selectedIds(Vendors).size(), 1) << "Ctrl+click no longer extends";
}

TEST_F(Searching, anEmptyListIsAMiss)
{
    page.setAll(countXml(1, 0, 0), answerXml(1, {}), answerXml(2, {}));
    load();
    const auto messages = find("optFind_0", "optList_0", "a");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Not found");
}

TEST_F(Searching, headerClicksFollowTheSortSequence)
{
    EXPECT_EQ(columnOf(control, Vendors, 0), (QStringList{"9", "10", "12", "123", "10000"}))
        << "ids of five digits are not padded further";
    input.clickHeader(Vendors, 0);
    EXPECT_EQ(columnOf(control, Vendors, 0), (QStringList{"10000", "123", "12", "10", "9"}));
    input.clickHeader(Vendors, 1);
    EXPECT_EQ(columnOf(control, Vendors, 1),
              (QStringList{"Zulu Big", "Tacma Freight", "Delta", "Bolt Works", "ACME Supply"}))
        << "a new column keeps the direction";
    input.clickHeader(Vendors, 1);
    EXPECT_EQ(columnOf(control, Vendors, 1).first(), "ACME Supply");
    input.clickHeader(Vendors, 0);
    EXPECT_EQ(columnOf(control, Vendors, 0), (QStringList{"9", "10", "12", "123", "10000"}));
    EXPECT_EQ(columnOf(control, Center, 0), (QStringList{"20", "21", "22"}))
        << "the other list keeps its order";
}

TEST_F(Searching, theDirectionSurvivesAReload)
{
    input.clickHeader(Center, 0);
    EXPECT_EQ(columnOf(control, Center, 0), (QStringList{"22", "21", "20"}));
    load();
    EXPECT_EQ(columnOf(control, Center, 0), (QStringList{"22", "21", "20"}));
}

} // namespace
