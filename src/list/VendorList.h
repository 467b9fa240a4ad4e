// One vendor list: the store of its rows (typed rows shown as seven text columns, the
// selection, the current row, the sort state) and the view that shows them. Indexes are 1-based
// as the control's logic counts them; 0 stands for "no row". Texts are kept in UTF-8 (see
// RowStore). Rows are read and written typed (row, fee, dutyMark); the list contract's text
// columns (Text, SubItem, FindItem, ...) are a layer over them in VendorListText.cpp.
//
// Changes made by code are pushed to the view in one step by flush(): the control calls it
// when a handler ends, so a load of 32767 rows costs one model update, not 32767.
#pragma once

#include "list/RowStore.h"
#include "logic/Row.h"

#include <QObject>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace tarvo::list {

class VendorListModel;
class VendorView;

// A list operation that the list cannot do (no such row, more than 32767 rows).
class ListError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class VendorList : public QObject
{
    Q_OBJECT
public:
    static constexpr int Columns = RowStore::Columns;
    static constexpr int MaxRows = 32767;

    explicit VendorList(QWidget *viewParent);
    ~VendorList() override;

    VendorView *view() const;

    // Adds a header; widths are in twips (15 to a pixel). Zero width hides the column.
    void AddColumnHeader(const QString &text, double widthTwips);
    double WidthTwips() const;
    void SetFullRowSelect(bool on);

    int Count() const;
    // Appends a typed row, with its values as loaded, and returns its index; the first row of
    // an empty list becomes its current, selected row. Throws ListError past 32767 rows.
    int AddRow(const logic::Row &row);
    // AddRow for a row a load reads, its texts copied straight from the answer.
    int AddRow(const logic::LoadedRow &row);
    // Room for rows without growing; no limit on how many may come.
    void Reserve(int rows);
    // Moves one row to where the sort column and direction put it among the others, which
    // must stand in that order; after any equal rows. Returns its new index.
    int PlaceInOrder(int index);
    // Throws ListError for an index outside 1..Count.
    void Remove(int index);
    // Removes every selected row in one walk; returns how many left.
    int RemoveSelected();
    void Clear();

    // The id (column 0) without a copy; valid until the list next changes.
    std::string_view id(int index) const;

    // Typed access; each throws ListError for a bad row.
    logic::Row row(int index) const;
    logic::Fee fee(int index) const;
    void setFee(int index, const logic::Fee &fee);
    logic::DutyMark dutyMark(int index) const;
    void setDutyMark(int index, const logic::DutyMark &duty);
    logic::Pending pending(int index) const;

    // Rows whose duty column is not a plain duty value (a pending change, or no value at all).
    int markedCount() const;
    bool Selected(int index) const;
    // How many rows are selected, kept as rows are selected, so no walk over the rows.
    int selectedCount() const { return static_cast<int>(m_store.selectedCount()); }
    // Selecting also makes the row current; while MultiSelect is off it first clears the
    // other selected rows.
    void SetSelected(int index, bool selected);
    void EnsureVisible(int index);

    // The current row, or 0. Deselecting a row keeps it current.
    int SelectedItem() const;

    bool MultiSelect() const;
    void SetMultiSelect(bool on);

    // First row (in display order) whose id is exactly id (letter case counts); 0 for none.
    int FindId(std::string_view id) const;

    // Writing either reorders the rows (stable, ignoring letter case); rows added later stay
    // at the end until the next write or PlaceInOrder. Rows already in order are not moved.
    int SortKey() const;
    void SetSortKey(int column);
    int SortOrder() const;
    void SetSortOrder(int order);

    void SetFocus();

    // A note for the row with this id (exact text), added to its tooltip and accessible
    // description; an empty note removes it. Surprise: notes belong to ids, not rows, so a row
    // keeps its note when it is re-added; Clear() drops every note.
    void SetRowNote(const QString &id, const QString &note);
    QString rowNote(std::string_view id) const;

    // Pushes every pending change of rows, selection and current row to the view.
    void flush();

    // The list contract's text columns (VendorListText.cpp): column 0 is the id, 1..6 the
    // sub-items, each as the list shows it.

    // Add with only the id. Throws ListError past 32767 rows.
    int Add(const QString &text);
    QString Text(int index) const;
    // k is 1..6; throws ListError for a bad row or column.
    QString SubItem(int index, int k) const;
    // Writes the cell's text; the fee, duty and key columns keep a typed value where the text
    // is exactly one they would show (see logic/RowText).
    void SetSubItem(int index, int k, const QString &text);
    // Column k (0..6) as shown, without a copy where it is text; valid until the list next
    // changes (and out is alive).
    std::string_view Utf8(int index, int k, logic::CellBuffer &out) const;
    // First row (in display order) whose text equals text, ignoring letter case; 0 for none.
    int FindItem(const QString &text) const;
    // First row whose column is exactly text (UTF-8, letter case counts); 0 for none.
    int FindExact(int column, std::string_view text) const;
    // First row whose column holds text anywhere, ignoring letter case; 0 for none.
    int FindContaining(int column, const QString &text) const;

private:
    friend class VendorListModel;
    using Handle = RowStore::Handle;
    static constexpr Handle NoRow = ~Handle{0};

    // Throws ListError unless first <= column < Columns.
    static void requireColumn(int column, int first);
    Handle handle(int index) const;
    int indexOf(Handle h) const;
    // The first row in display order whose handle matches, or 0.
    template <typename Match> int firstRow(Match match) const
    {
        const auto it = std::find_if(m_order.begin(), m_order.end(), match);
        return it == m_order.end() ? 0 : static_cast<int>(it - m_order.begin()) + 1;
    }
    int appended(Handle h);
    // Negative, zero or positive as a's sort cell orders before, with or after b's.
    int compare(Handle a, Handle b) const;
    // Whether a sorts before b by the sort column and direction.
    bool before(Handle a, Handle b) const;
    void sortRows();
    // Sorts by the typed id keys where the sort column is the key and every key is typed;
    // empty otherwise, else whether any row moved.
    std::optional<bool> sortByKeyNumbers();
    void showSortIndicator();
    void rowsChanged();
    void selectionChanged();
    void scheduleFlush();
    void released(Handle h);

    RowStore m_store;
    std::vector<Handle> m_order;
    std::vector<double> m_widthsTwips;
    Handle m_current = NoRow;
    mutable int m_currentCache = -1;
    bool m_multiSelect = false;
    int m_sortKey = 0;
    int m_sortOrder = 0;
    bool m_selectionDirty = false;
    bool m_flushQueued = false;
    bool m_pushing = false;
    std::map<std::string, QString, std::less<>> m_notes;
    VendorListModel *m_model = nullptr;
    VendorView *m_view = nullptr;
};

} // namespace tarvo::list
