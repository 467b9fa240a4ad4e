// The list contract the control's logic relies on, and the view staying in step with it.
#include "list/VendorList.h"

#include "list/VendorView.h"
#include "logic/RowText.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <random>

using tarvo::list::ListError;
using tarvo::list::VendorList;

namespace {

class VendorListTest : public ::testing::Test
{
protected:
    VendorListTest() : list(&host)
    {
        host.resize(400, 300);
        list.view()->setGeometry(0, 0, 400, 300);
        for (const char *h : {"ID", "Name", "CountryID", "Fee", "Duty", "Date", "Key"}) {
            list.AddColumnHeader(QString::fromLatin1(h), h[0] == 'I' || h[0] == 'N' ? 1500 : 0);
        }
    }

    int add(const QString &id, const QString &name)
    {
        const int i = list.Add(id);
        list.SetSubItem(i, 1, name);
        return i;
    }

    QStringList texts(int column = 0) const
    {
        QStringList out;
        for (int i = 1; i <= list.Count(); ++i) {
            out << (column == 0 ? list.Text(i) : list.SubItem(i, column));
        }
        return out;
    }

    QPoint rowCentre(int index)
    {
        list.flush();
        return list.view()->visualRect(list.view()->model()->index(index - 1, 0)).center();
    }

    QWidget host;
    VendorList list;
};

TEST_F(VendorListTest, theFirstRowOfAnEmptyListBecomesCurrentAndSelected)
{
    EXPECT_EQ(list.SelectedItem(), 0);
    EXPECT_EQ(add("7", "Seven"), 1);
    EXPECT_EQ(add("8", "Eight"), 2);
    EXPECT_EQ(list.SelectedItem(), 1);
    EXPECT_TRUE(list.Selected(1));
    EXPECT_FALSE(list.Selected(2));
}

TEST_F(VendorListTest, deselectingTheCurrentRowKeepsItCurrent)
{
    add("7", "Seven");
    list.SetSelected(list.SelectedItem(), false);
    EXPECT_EQ(list.SelectedItem(), 1);
    EXPECT_FALSE(list.Selected(1));
}

TEST_F(VendorListTest, writingTheSortKeyOrdersStablyIgnoringLetterCase)
{
    add("3", "beta");
    add("1", "Alpha");
    add("2", "BETA");
    add("4", "alpha");
    list.SetSortKey(1);
    EXPECT_EQ(texts(), (QStringList{"1", "4", "3", "2"}));
    list.SetSortOrder(1);
    EXPECT_EQ(texts(), (QStringList{"3", "2", "1", "4"}));
    add("0", "aaa");
    EXPECT_EQ(texts().last(), "0") << "a row added later waits at the end";
    list.SetSortKey(1);
    EXPECT_EQ(texts().last(), "0") << "descending: aaa sorts last";
    list.SetSortOrder(0);
    EXPECT_EQ(texts().first(), "0");
}

TEST_F(VendorListTest, placeInOrderPutsARowAfterItsEqualsInEitherDirection)
{
    add("1", "alpha");
    add("2", "Beta");
    add("3", "delta");
    list.SetSortKey(1);
    list.flush();
    EXPECT_EQ(list.PlaceInOrder(add("4", "beta")), 3);
    EXPECT_EQ(texts(), (QStringList{"1", "2", "4", "3"}));
    list.SetSortOrder(1);
    list.flush();
    EXPECT_EQ(list.PlaceInOrder(add("5", "BETA")), 4);
    EXPECT_EQ(texts(), (QStringList{"3", "2", "4", "5", "1"}));
    list.flush();
    auto *model = list.view()->model();
    ASSERT_EQ(model->rowCount(), list.Count());
    for (int i = 1; i <= list.Count(); ++i) {
        EXPECT_EQ(model->index(i - 1, 1).data().toString(), list.SubItem(i, 1)) << i;
    }
}

TEST_F(VendorListTest, lettersBeyondAsciiSortAndMatchIgnoringCase)
{
    add("1", "Émile");
    add("2", "zoe");
    add("3", "émile");
    add("4", "Ada");
    add("5", "ÉMILE");
    list.SetSortKey(1);
    EXPECT_EQ(texts(), (QStringList{"4", "2", "1", "3", "5"}));
    EXPECT_EQ(list.FindContaining(1, "MIL"), 3);
    EXPECT_EQ(list.FindContaining(1, "éMI"), 3);
    EXPECT_EQ(list.FindContaining(1, "ZO"), 2);
    EXPECT_EQ(list.FindContaining(1, "émilie"), 0);
}

TEST_F(VendorListTest, rewrittenAndRemovedRowsLeaveTheOthersTextsAndMarksIntact)
{
    // Long names, so that rewriting column 4 again and again leaves the store much dead space.
    constexpr int Rows = 60;
    for (int i = 1; i <= Rows; ++i) {
        add(QString::number(i), QString(2000, QLatin1Char('a' + i % 26)) + QString::number(i));
        list.SetSubItem(i, 4, "0");
    }
    for (int round = 0; round < 500; ++round) {
        const int i = 1 + round % list.Count();
        list.SetSubItem(i, 4, round % 3 == 0 ? "0N" : "1");
        if (round % 50 == 49) {
            list.Remove(list.Count() / 2);
        }
    }
    int marked = 0;
    for (int i = 1; i <= list.Count(); ++i) {
        const int id = list.Text(i).toInt();
        EXPECT_EQ(list.SubItem(i, 1),
                  QString(2000, QLatin1Char('a' + id % 26)) + QString::number(id));
        marked += list.SubItem(i, 4) == "0N" ? 1 : 0;
    }
    EXPECT_EQ(list.markedCount(), marked);
    EXPECT_GT(marked, 0);
}

TEST_F(VendorListTest, sortingKeepsTheCurrentRowAndSelectionOnTheirRows)
{
    add("b", "");
    add("a", "");
    add("c", "");
    list.SetMultiSelect(true);
    list.SetSelected(3, true);
    list.SetSortKey(0);
    EXPECT_EQ(list.Text(list.SelectedItem()), "c");
    EXPECT_TRUE(list.Selected(list.FindItem("b")));
    EXPECT_TRUE(list.Selected(list.FindItem("c")));
    EXPECT_FALSE(list.Selected(list.FindItem("a")));
}

TEST_F(VendorListTest, selectingWithoutMultiSelectReplacesTheSelection)
{
    for (const char *id : {"1", "2", "3"}) {
        add(id, "");
    }
    list.SetMultiSelect(false);
    list.SetSelected(2, true);
    list.SetSelected(3, true);
    EXPECT_EQ((std::vector<bool>{list.Selected(1), list.Selected(2), list.Selected(3)}),
              (std::vector<bool>{false, false, true}));
    list.SetMultiSelect(true);
    list.SetSelected(1, true);
    EXPECT_EQ((std::vector<bool>{list.Selected(1), list.Selected(2), list.Selected(3)}),
              (std::vector<bool>{true, false, true}));
    EXPECT_EQ(list.SelectedItem(), 1);
}

TEST_F(VendorListTest, removingSelectedRowsFromTheLastIndexDownSkipsNone)
{
    for (int i = 1; i <= 6; ++i) {
        add(QString::number(i), "");
    }
    list.SetSelected(1, false);
    list.SetMultiSelect(true);
    for (int i : {2, 3, 5, 6}) {
        list.SetSelected(i, true);
    }
    for (int i = list.Count(); i >= 1; --i) {
        if (list.Selected(i)) {
            list.Remove(i);
        }
    }
    EXPECT_EQ(texts(), (QStringList{"1", "4"}));
}

TEST_F(VendorListTest, removeSelectedIsOneWalkWithTheSameResult)
{
    for (int i = 1; i <= 200; ++i) {
        add(QString::number(i), "");
    }
    list.SetSelected(1, false);
    list.SetMultiSelect(true);
    for (int i = 2; i <= 200; i += 2) {
        list.SetSelected(i, true);
    }
    EXPECT_EQ(list.RemoveSelected(), 100);
    ASSERT_EQ(list.Count(), 100);
    for (int i = 1; i <= 100; ++i) {
        EXPECT_EQ(list.Text(i), QString::number(2 * i - 1));
    }
    list.flush();
    EXPECT_EQ(list.view()->model()->rowCount(), 100);
}

TEST_F(VendorListTest, theViewShowsExactlyTheSelectedRowsThroughAnyMixOfChanges)
{
    // The list counts its selected rows to skip walks; a count gone wrong would show a wrong
    // selection or remove the wrong number of rows.
    std::mt19937 random(31);
    for (int i = 1; i <= 40; ++i) {
        add(QString::number(random() % 50), "");
    }
    const auto row = [&] { return 1 + static_cast<int>(random() % list.Count()); };
    for (int step = 0; step < 400; ++step) {
        switch (list.Count() == 0 ? 5 : random() % 7) {
        case 0:
        case 1:
            list.SetSelected(row(), random() % 3 != 0);
            break;
        case 2:
            list.SetMultiSelect(random() % 2 == 0);
            break;
        case 3:
            list.Remove(row());
            break;
        case 4: {
            int selected = 0;
            for (int i = 1; i <= list.Count(); ++i) {
                selected += list.Selected(i) ? 1 : 0;
            }
            ASSERT_EQ(list.RemoveSelected(), selected) << "step " << step;
            break;
        }
        case 5:
            add(QString::number(random() % 50), "");
            break;
        default:
            list.SetSortOrder(static_cast<int>(random() % 2));
            break;
        }
        list.flush();
        auto *selection = list.view()->selectionModel();
        for (int i = 1; i <= list.Count(); ++i) {
            ASSERT_EQ(selection->isRowSelected(i - 1, {}), list.Selected(i))
                << "step " << step << " row " << i;
        }
        EXPECT_EQ(selection->currentIndex().row() + 1, list.SelectedItem()) << "step " << step;
    }
}

TEST_F(VendorListTest, findItemMatchesTheWholeTextOrNothing)
{
    add("123", "");
    add("12", "");
    add("12", "second");
    EXPECT_EQ(list.FindItem("12"), 2);
    EXPECT_EQ(list.FindItem("1"), 0);
    EXPECT_EQ(list.FindItem("1234"), 0);
    EXPECT_EQ(list.FindExact(0, "12"), 2);
    EXPECT_EQ(list.FindExact(1, "second"), 3);
    EXPECT_EQ(list.FindExact(1, "SECOND"), 0);
}

TEST_F(VendorListTest, aListHoldsAtMost32767Rows)
{
    for (int i = 0; i < VendorList::MaxRows; ++i) {
        list.Add(QString::number(i));
    }
    EXPECT_THROW(list.Add("one too many"), ListError);
    EXPECT_EQ(list.Count(), VendorList::MaxRows);
}

TEST_F(VendorListTest, badIndexesAndColumnsAreErrors)
{
    add("1", "");
    EXPECT_THROW(list.Text(0), ListError);
    EXPECT_THROW(list.Text(2), ListError);
    EXPECT_THROW(list.SubItem(1, 7), ListError);
    EXPECT_THROW(list.Remove(2), ListError);
}

TEST_F(VendorListTest, flushShowsRowsSelectionAndCurrentRowInTheView)
{
    add("1", "one");
    add("2", "two");
    list.SetSelected(2, true);
    list.SetSubItem(2, 1, "TWO");
    list.flush();
    auto *model = list.view()->model();
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->index(1, 1).data().toString(), "TWO");
    auto *selection = list.view()->selectionModel();
    EXPECT_TRUE(selection->isRowSelected(1, {}));
    EXPECT_FALSE(selection->isRowSelected(0, {}));
    EXPECT_EQ(selection->currentIndex().row(), 1);
}

TEST_F(VendorListTest, aUserClickSelectsTheRowInTheStore)
{
    add("1", "one");
    add("2", "two");
    host.show();
    QSignalSpy clicks(list.view(), &tarvo::list::VendorView::Click);
    QTest::mouseClick(list.view()->viewport(), Qt::LeftButton, {}, rowCentre(2));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(list.Selected(2));
    EXPECT_FALSE(list.Selected(1));
    EXPECT_EQ(list.SelectedItem(), 2);
}

TEST_F(VendorListTest, ctrlClickExtendsTheSelectionOnlyWhileMultiSelectIsOn)
{
    add("1", "one");
    add("2", "two");
    host.show();
    QTest::mouseClick(list.view()->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(2));
    EXPECT_FALSE(list.Selected(1));
    list.SetMultiSelect(true);
    QTest::mouseClick(list.view()->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    EXPECT_TRUE(list.Selected(1));
    EXPECT_TRUE(list.Selected(2));
}

TEST_F(VendorListTest, clicksBelowTheRowsAndRightButtonsAreReported)
{
    add("1", "one");
    host.show();
    QSignalSpy clicks(list.view(), &tarvo::list::VendorView::Click);
    QSignalSpy ups(list.view(), &tarvo::list::VendorView::MouseUp);
    QTest::mouseClick(list.view()->viewport(), Qt::LeftButton, {}, QPoint(20, 250));
    EXPECT_EQ(clicks.count(), 1);
    list.SetSelected(1, true);
    list.flush();
    QTest::mouseClick(list.view()->viewport(), Qt::RightButton, {}, QPoint(20, 250));
    EXPECT_TRUE(list.Selected(1)) << "a right press keeps the selection";
    EXPECT_EQ(clicks.count(), 1);
    ASSERT_EQ(ups.count(), 2);
    EXPECT_EQ(ups.at(1).at(0).toInt(), 2);
}

TEST_F(VendorListTest, headerClicksReportOneBasedIndexes)
{
    host.show();
    QSignalSpy columns(list.view(), &tarvo::list::VendorView::ColumnClick);
    auto *header = list.view()->header();
    const QPoint name(header->sectionViewportPosition(1) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name);
    ASSERT_EQ(columns.count(), 1);
    EXPECT_EQ(columns.at(0).at(0).toInt(), 2);
}

} // namespace

namespace {

using tarvo::logic::DutyMark;
using tarvo::logic::Fee;
using tarvo::logic::Pending;

tarvo::logic::Row typedRow(const char *id, Fee fee, DutyMark duty)
{
    tarvo::logic::Row row;
    row.id = id;
    row.name = QStringLiteral("Vendor %1").arg(id).toStdString();
    row.fee = std::move(fee);
    row.duty = std::move(duty);
    row.date = "03/14/2024";
    row.key = tarvo::logic::idKeyOf(row.id);
    return row;
}

// The model shows every typed cell as its text, and a text without typed form exactly as given.
TEST_F(VendorListTest, typedRowsShowTheirCellsAsTextsAndKeepOtherTextsAsGiven)
{
    const struct
    {
        tarvo::logic::Row row;
        QStringList cells; // columns 0..6 as the model shows them
        int marked;
    } cases[] = {
        {typedRow("7", Fee{800, {}}, DutyMark{true, Pending::New, {}}),
         {"7", "Vendor 7", "", "8.00", "1N", "03/14/2024", "0007"},
         1},
        {typedRow("007", Fee{-5, {}}, DutyMark{false, Pending::None, {}}),
         {"007", "Vendor 007", "", "-0.05", "0", "03/14/2024", "0007"},
         0},
        {typedRow("12345", Fee{std::nullopt, "8.0"},
                  DutyMark{std::nullopt, Pending::Unknown, "2D"}),
         {"12345", "Vendor 12345", "", "8.0", "2D", "03/14/2024", "12345"},
         1},
        {typedRow("x", Fee{}, DutyMark{}), {"x", "Vendor x", "", "", "", "03/14/2024", "x"}, 1},
    };
    for (const auto &c : cases) {
        list.Clear();
        const int i = list.AddRow(c.row);
        list.flush();
        QStringList shown;
        for (int k = 0; k < VendorList::Columns; ++k) {
            shown << list.view()->model()->index(i - 1, k).data(Qt::DisplayRole).toString();
        }
        EXPECT_EQ(shown, c.cells);
        EXPECT_EQ(list.row(i), c.row);
        EXPECT_EQ(list.markedCount(), c.marked);
        // Written back as text, each cell reads the same and keeps its typed value.
        for (int k = 1; k < VendorList::Columns; ++k) {
            list.SetSubItem(i, k, c.cells[k]);
        }
        EXPECT_EQ(list.row(i), c.row) << c.cells.join(',').toStdString();
    }
}

TEST_F(VendorListTest, typedWritesChangeOneCellAndThePendingCount)
{
    list.AddRow(typedRow("7", Fee{800, {}}, DutyMark{true, Pending::None, {}}));
    list.AddRow(typedRow("8", Fee{800, {}}, DutyMark{false, Pending::None, {}}));
    EXPECT_EQ(list.markedCount(), 0);
    list.setFee(2, Fee{1250, {}});
    list.setDutyMark(2, DutyMark{false, Pending::Updated, {}});
    EXPECT_EQ(list.SubItem(2, 3), "12.50");
    EXPECT_EQ(list.SubItem(2, 4), "0U");
    EXPECT_EQ(list.pending(2), Pending::Updated);
    EXPECT_EQ(list.markedCount(), 1);
    list.SetSubItem(2, 4, "0");
    EXPECT_EQ(list.markedCount(), 0);
    list.setDutyMark(1, DutyMark{});
    EXPECT_EQ(list.SubItem(1, 4), "");
    EXPECT_EQ(list.pending(1), Pending::Unknown);
    EXPECT_EQ(list.markedCount(), 1);
    EXPECT_EQ(list.SubItem(1, 3), "8.00");
    EXPECT_EQ(list.SubItem(1, 1), "Vendor 7");
}

// Numeric keys are ordered without their texts; the order must be the texts' order all the same.
TEST_F(VendorListTest, sortingByTheIdKeyOrdersAsTheKeyTextsInBothDirections)
{
    for (const char *id : {"12345", "7", "abc", "999", "10000", "-7", "0007", "7.5", "100000",
                           "Abd", "42", "1000"}) {
        list.AddRow(typedRow(id, Fee{800, {}}, DutyMark{false, Pending::None, {}}));
    }
    for (const int order : {0, 1}) {
        list.SetSortOrder(order);
        list.SetSortKey(6);
        QStringList keys = texts(6);
        QStringList expected = keys;
        std::stable_sort(expected.begin(), expected.end(), [&](const QString &a, const QString &b) {
            const int c = QString::compare(a, b, Qt::CaseInsensitive);
            return order == 0 ? c < 0 : c > 0;
        });
        EXPECT_EQ(keys, expected) << order;
        // A row placed among them lands where the texts put it.
        const int at = list.PlaceInOrder(
            list.AddRow(typedRow("5000", Fee{800, {}}, DutyMark{false, Pending::None, {}})));
        keys = texts(6);
        expected = keys;
        std::stable_sort(expected.begin(), expected.end(), [&](const QString &a, const QString &b) {
            const int c = QString::compare(a, b, Qt::CaseInsensitive);
            return order == 0 ? c < 0 : c > 0;
        });
        EXPECT_EQ(keys, expected) << order;
        list.Remove(at);
    }
}

// Ids of digits only, in id order as the server sends them: their keys are ordered as texts,
// equal keys ("7", "007") keeping the order they came in, and the current row stays on its row.
TEST_F(VendorListTest, digitKeysInIdOrderSortAsTheirTextsKeepingEqualKeysInArrivalOrder)
{
    for (const char *id :
         {"1", "7", "007", "999", "1000", "1001", "9999", "10000", "10009", "32767"}) {
        list.AddRow(typedRow(id, Fee{800, {}}, DutyMark{false, Pending::None, {}}));
    }
    list.SetSelected(3, true);
    const auto key = [](const QString &id) {
        return QString::fromStdString(
            tarvo::logic::idKeyText(tarvo::logic::idKeyOf(id.toStdString())));
    };
    // The key first, then each direction: each sort is stable over the order it starts from.
    for (const int order : {-1, 1, 0}) {
        QStringList expected = texts(0);
        const int direction = order < 0 ? 0 : order;
        std::stable_sort(expected.begin(), expected.end(), [&](const QString &a, const QString &b) {
            return direction == 0 ? key(a) < key(b) : key(a) > key(b);
        });
        order < 0 ? list.SetSortKey(6) : list.SetSortOrder(order);
        EXPECT_EQ(texts(0), expected) << order;
        EXPECT_EQ(list.Text(list.SelectedItem()), QStringLiteral("007")) << order;
        list.flush();
        const auto *model = list.view()->model();
        EXPECT_EQ(model->data(model->index(list.SelectedItem() - 1, 0)), QStringLiteral("007"));
    }
}

} // namespace
