#include "list/VendorViewAccessible.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QTableView>

namespace tarvo::list {

namespace {

// What a cell and a header section share: a leaf of the view, read-only, without an object.
class LeafAccessible : public QAccessibleInterface
{
public:
    explicit LeafAccessible(QTableView *view) : m_view(view) {}

    QObject *object() const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_view.data());
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    void setText(QAccessible::Text, const QString &) override {}

protected:
    QPointer<QTableView> m_view;
};

// One cell of a visible column.
class CellAccessible : public LeafAccessible, public QAccessibleTableCellInterface
{
public:
    CellAccessible(QTableView *view, const QModelIndex &index, int exposedColumn)
        : LeafAccessible(view), m_index(index), m_column(exposedColumn)
    {}

    bool isValid() const override { return m_view && m_index.isValid(); }
    QAccessible::Role role() const override { return QAccessible::Cell; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid()) {
            return {};
        }
        switch (t) {
        case QAccessible::Name: {
            const QVariant spoken = m_index.data(Qt::AccessibleTextRole);
            return spoken.isValid() ? spoken.toString() : m_index.data().toString();
        }
        case QAccessible::Description:
            return m_index.data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        if (!isValid() || !m_view->isVisible()) {
            return {};
        }
        const QRect cell = m_view->visualRect(m_index);
        return QRect(m_view->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = isSelected();
        s.focused =
            m_view->hasFocus() && m_view->currentIndex().row() == m_index.row() && m_column == 0;
        s.disabled = !m_view->isEnabled();
        s.invisible = !m_view->viewport()->rect().intersects(m_view->visualRect(m_index));
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface
                   ? static_cast<QAccessibleTableCellInterface *>(this)
                   : nullptr;
    }

    bool isSelected() const override
    {
        return isValid() && m_view->selectionModel()->isRowSelected(m_index.row(), {});
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override
    {
        auto *table = dynamic_cast<ListAccessible *>(parent());
        QAccessibleInterface *header = table ? table->header(m_column) : nullptr;
        return header ? QList<QAccessibleInterface *>{header} : QList<QAccessibleInterface *>{};
    }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return isValid() ? m_index.row() : -1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    int childNumber() const { return isValid() ? accessibleChild(m_view, m_index) : -1; }

private:
    QPersistentModelIndex m_index;
    int m_column;
};

// The header of a visible column.
class HeaderAccessible : public LeafAccessible
{
public:
    HeaderAccessible(QTableView *view, int logical, int exposedColumn)
        : LeafAccessible(view), m_logical(logical), m_column(exposedColumn)
    {}

    bool isValid() const override { return m_view && m_view->model() != nullptr; }
    QAccessible::Role role() const override { return QAccessible::ColumnHeader; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid() || t != QAccessible::Name) {
            return {};
        }
        return m_view->model()->headerData(m_logical, Qt::Horizontal).toString();
    }

    QRect rect() const override
    {
        if (!isValid() || !m_view->isVisible()) {
            return {};
        }
        const QHeaderView *header = m_view->horizontalHeader();
        const QPoint at =
            header->mapToGlobal(QPoint(header->sectionViewportPosition(m_logical), 0));
        return QRect(at, QSize(header->sectionSize(m_logical), header->height()));
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.disabled = !isValid() || !m_view->isEnabled();
        return s;
    }

    int childNumber() const { return m_column; }

private:
    int m_logical;
    int m_column;
};

QAccessibleInterface *listFactory(const QString &className, QObject *object)
{
    // Only our own lists: other tables of the host keep Qt's interface.
    if (className == QLatin1String("tarvo::list::VendorView") && object != nullptr &&
        object->isWidgetType()) {
        return new ListAccessible(static_cast<QTableView *>(object));
    }
    return nullptr;
}

} // namespace

void installListAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(listFactory);
        return true;
    }();
    (void)installed;
}

QList<int> exposedColumns(const QTableView *view)
{
    QList<int> columns;
    const QAbstractItemModel *model = view->model();
    const int count = model != nullptr ? model->columnCount() : 0;
    for (int c = 0; c < count; ++c) {
        if (!view->isColumnHidden(c)) {
            columns << c;
        }
    }
    return columns;
}

int accessibleChild(const QTableView *view, const QModelIndex &index)
{
    const QList<int> columns = exposedColumns(view);
    if (!index.isValid() || columns.isEmpty()) {
        return -1;
    }
    const auto column = std::max<qsizetype>(0, columns.indexOf(index.column()));
    return static_cast<int>((index.row() + 1) * columns.size() + column);
}

ListAccessible::ListAccessible(QTableView *view) : QAccessibleWidget(view, QAccessible::Table) {}

ListAccessible::~ListAccessible()
{
    forgetChildren();
}

QTableView *ListAccessible::view() const
{
    return static_cast<QTableView *>(widget());
}

QAccessible::State ListAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.multiSelectable = view()->selectionMode() == QAbstractItemView::ExtendedSelection;
    return s;
}

int ListAccessible::columnCount() const
{
    return static_cast<int>(exposedColumns(view()).size());
}

int ListAccessible::rowCount() const
{
    return view()->model() != nullptr ? view()->model()->rowCount() : 0;
}

int ListAccessible::childCount() const
{
    return (rowCount() + 1) * columnCount();
}

QAccessibleInterface *ListAccessible::child(int index) const
{
    const QList<int> columns = exposedColumns(view());
    const auto perRow = static_cast<int>(columns.size());
    if (index < 0 || perRow == 0 || index >= (rowCount() + 1) * perRow) {
        return nullptr;
    }
    const auto known = m_children.constFind(index);
    if (known != m_children.constEnd()) {
        return QAccessible::accessibleInterface(*known);
    }
    const int row = index / perRow - 1;
    const int column = index % perRow;
    QAccessibleInterface *made = nullptr;
    if (row < 0) {
        made = new HeaderAccessible(view(), columns.at(column), column);
    } else {
        made = new CellAccessible(view(), view()->model()->index(row, columns.at(column)), column);
    }
    m_children.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

int ListAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    if (const auto *cell = dynamic_cast<const CellAccessible *>(child)) {
        return cell->childNumber();
    }
    if (const auto *header = dynamic_cast<const HeaderAccessible *>(child)) {
        return header->childNumber();
    }
    return -1;
}

QAccessibleInterface *ListAccessible::childAt(int x, int y) const
{
    const QPoint global(x, y);
    const QHeaderView *header = view()->horizontalHeader();
    const QList<int> columns = exposedColumns(view());
    const QPoint inHeader = header->mapFromGlobal(global);
    if (header->isVisible() && header->rect().contains(inHeader)) {
        const auto column = columns.indexOf(header->logicalIndexAt(inHeader));
        return column >= 0 ? child(static_cast<int>(column)) : nullptr;
    }
    const QModelIndex at = view()->indexAt(view()->viewport()->mapFromGlobal(global));
    return at.isValid() ? child(accessibleChild(view(), at)) : nullptr;
}

void *ListAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface) {
        return static_cast<QAccessibleTableInterface *>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface *ListAccessible::cellAt(int row, int column) const
{
    const int perRow = columnCount();
    if (row < 0 || column < 0 || column >= perRow || row >= rowCount()) {
        return nullptr;
    }
    return child((row + 1) * perRow + column);
}

QAccessibleInterface *ListAccessible::header(int exposedColumn) const
{
    return exposedColumn >= 0 && exposedColumn < columnCount() ? child(exposedColumn) : nullptr;
}

QString ListAccessible::columnDescription(int column) const
{
    const QList<int> columns = exposedColumns(view());
    if (column < 0 || column >= columns.size() || view()->model() == nullptr) {
        return {};
    }
    return view()->model()->headerData(columns.at(column), Qt::Horizontal).toString();
}

QList<int> ListAccessible::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : view()->selectionModel()->selectedRows()) {
        rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

int ListAccessible::selectedRowCount() const
{
    return static_cast<int>(view()->selectionModel()->selectedRows().size());
}

int ListAccessible::selectedCellCount() const
{
    return selectedRowCount() * columnCount();
}

QList<QAccessibleInterface *> ListAccessible::selectedCells() const
{
    QList<QAccessibleInterface *> cells;
    const int perRow = columnCount();
    for (const int row : selectedRows()) {
        for (int column = 0; column < perRow; ++column) {
            cells << cellAt(row, column);
        }
    }
    return cells;
}

bool ListAccessible::isRowSelected(int row) const
{
    return view()->selectionModel()->isRowSelected(row, {});
}

bool ListAccessible::selectRow(int row)
{
    if (row < 0 || row >= rowCount()) {
        return false;
    }
    const auto flags = view()->selectionMode() == QAbstractItemView::ExtendedSelection
                           ? QItemSelectionModel::Select
                           : QItemSelectionModel::ClearAndSelect;
    view()->selectionModel()->select(view()->model()->index(row, 0),
                                     flags | QItemSelectionModel::Rows);
    return true;
}

bool ListAccessible::unselectRow(int row)
{
    if (row < 0 || row >= rowCount()) {
        return false;
    }
    view()->selectionModel()->select(view()->model()->index(row, 0),
                                     QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

void ListAccessible::modelChange(QAccessibleTableModelChangeEvent *event)
{
    // Cells read the model when asked, so a change of data needs nothing; rows that came, went
    // or moved renumber every cell after them.
    if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged) {
        forgetChildren();
    }
}

void ListAccessible::forgetChildren()
{
    const auto ids = m_children.values();
    m_children.clear();
    for (const QAccessible::Id id : ids) {
        QAccessible::deleteAccessibleInterface(id);
    }
}

} // namespace tarvo::list
