// The rows of both lists read as pending changes for the replay: what the user started from (L)
// is the row's own values as loaded, wherever the row moved since.
#include "merge/RowStates.h"

#include "logic/RowMark.h"
#include "logic/RowText.h"

#include <QWidget>
#include <gtest/gtest.h>

using tarvo::list::VendorList;
using tarvo::logic::Assignment;
using tarvo::logic::DutyMark;
using tarvo::logic::Fee;
using tarvo::logic::Move;
using tarvo::logic::Pending;
using tarvo::logic::Row;
using tarvo::replay::State;

namespace {

Row loadedRow(const char *id, std::optional<Assignment> assigned)
{
    Row row;
    row.id = id;
    row.name = std::string("Vendor ") + id;
    row.fee = assigned ? Fee{assigned->feeHundredths, {}} : Fee{800, {}};
    row.duty = DutyMark{assigned && assigned->duty, Pending::None, {}};
    row.key = tarvo::logic::idKeyOf(id);
    row.loaded = assigned;
    return row;
}

class RowStates : public ::testing::Test
{
protected:
    RowStates() : vendors(&host), selected(&host) {}

    // Moves row i of from to to as the move commands do.
    void move(VendorList &from, VendorList &to, int i, Move how)
    {
        Row row = from.row(i);
        row.duty = tarvo::logic::transition(how, row.duty);
        from.Remove(i);
        to.AddRow(row);
    }

    State pendingLoaded(const tarvo::merge::PendingRows &rows, const std::string &id)
    {
        for (const auto &p : rows.pending) {
            if (p.vendorId == id) {
                return p.loaded;
            }
        }
        ADD_FAILURE() << "no pending change of " << id;
        return std::nullopt;
    }

    QWidget host;
    VendorList vendors;
    VendorList selected;
};

TEST_F(RowStates, pendingChangesStartFromTheValuesTheRowsWereLoadedWith)
{
    selected.AddRow(loadedRow("7", Assignment{500, true}));
    selected.AddRow(loadedRow("8", Assignment{1250, false}));
    selected.AddRow(loadedRow("9", Assignment{300, false}));
    vendors.AddRow(loadedRow("3", std::nullopt));

    // 7 removed, 8 given another fee then removed and added back, 3 added, 9 untouched.
    move(selected, vendors, 1, Move::Remove);
    selected.setFee(1, Fee{900, {}});
    selected.setDutyMark(1, tarvo::logic::transition(Move::FeeUpdate, selected.dutyMark(1)));
    move(selected, vendors, 1, Move::Remove);
    move(vendors, selected, vendors.FindId("8"), Move::Add);
    move(vendors, selected, vendors.FindId("3"), Move::Add);

    const auto rows = tarvo::merge::pendingOf(vendors, selected);
    ASSERT_TRUE(rows.ok) << rows.message;
    ASSERT_EQ(rows.pending.size(), 3u);
    EXPECT_EQ(pendingLoaded(rows, "7"), (State{{500, true}}));
    EXPECT_EQ(pendingLoaded(rows, "8"), (State{{1250, false}}));
    EXPECT_EQ(pendingLoaded(rows, "3"), State{});
    for (const auto &p : rows.pending) {
        const State mine = p.vendorId == "7"   ? State{}
                           : p.vendorId == "8" ? State{{900, false}}
                                               : State{{800, false}};
        EXPECT_EQ(p.mine, mine) << p.vendorId;
    }
}

TEST_F(RowStates, aRowBroughtBackFromTheUsersRowsWasNotAssignedWhenLoaded)
{
    tarvo::merge::PendingRows kept;
    kept.rows["4"] = loadedRow("4", Assignment{700, true});
    const tarvo::replay::Change add{"4", Pending::New, Assignment{700, false}};
    ASSERT_TRUE(tarvo::merge::putChange(vendors, selected, add, kept));
    ASSERT_EQ(selected.Count(), 1);
    EXPECT_EQ(selected.SubItem(1, 3), "7.00");
    EXPECT_EQ(selected.SubItem(1, 4), "0N");
    EXPECT_EQ(selected.row(1).loaded, std::nullopt);
    const auto rows = tarvo::merge::pendingOf(vendors, selected);
    ASSERT_EQ(rows.pending.size(), 1u);
    EXPECT_EQ(rows.pending[0].loaded, State{});
}

TEST_F(RowStates, aMarkedRowWithoutAFeeNumberRefusesTheReplay)
{
    Row row = loadedRow("5", std::nullopt);
    row.fee = Fee{std::nullopt, "abc"};
    row.duty = DutyMark{true, Pending::New, {}};
    selected.AddRow(row);
    const auto rows = tarvo::merge::pendingOf(vendors, selected);
    EXPECT_FALSE(rows.ok);
    EXPECT_NE(rows.message.find("\"abc\""), std::string::npos);
}

} // namespace
