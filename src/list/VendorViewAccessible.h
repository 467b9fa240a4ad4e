// What assistive tools see of a vendor list: a table of the visible columns only (the id and
// the name), one header per such column and no row headers or corner, as the list shows
// itself. The hidden columns carry values for the control's logic (internal codes, the padded
// sort key) and stay in the model, but not in the accessibility tree.
#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QList>

class QModelIndex;
class QTableView;

namespace tarvo::list {

// Registers the list's accessibility interface with Qt, once per process.
void installListAccessibility();

// The visible columns of the view in their order: the columns assistive tools see.
QList<int> exposedColumns(const QTableView *view);

// The child number of a cell (its row, and its column or the first visible one when hidden)
// among the table's children: the headers first, then the cells row by row; -1 for none.
int accessibleChild(const QTableView *view, const QModelIndex &index);

class ListAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    explicit ListAccessible(QTableView *view);
    ~ListAccessible() override;

    QAccessible::State state() const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override;
    int columnCount() const override;
    int rowCount() const override;
    int selectedCellCount() const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    QList<QAccessibleInterface *> selectedCells() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *event) override;

    QTableView *view() const;
    // The header interface of an exposed column (0-based among the visible ones).
    QAccessibleInterface *header(int exposedColumn) const;

private:
    void forgetChildren();

    mutable QHash<int, QAccessible::Id> m_children;
};

} // namespace tarvo::list
