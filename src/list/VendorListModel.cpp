#include "list/VendorListModel.h"

#include "list/VendorDrag.h"
#include "list/VendorList.h"
#include "list/VendorView.h"
#include "logic/Columns.h"
#include "logic/Rules.h"

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <vector>

namespace tarvo::list {

namespace {
// Pending changes are shown without touching any column's text: a coloured marker before the
// id and a tooltip that says what the next commit does with the row.
QString pendingText(logic::Pending mark)
{
    switch (mark) {
    case logic::Pending::New:
        return QStringLiteral("to be added");
    case logic::Pending::Updated:
        return QStringLiteral("fee changed");
    case logic::Pending::Deleted:
    case logic::Pending::DeletedUpdated:
        return QStringLiteral("to be removed");
    default:
        return {};
    }
}

QColor pendingColour(logic::Pending mark)
{
    switch (mark) {
    case logic::Pending::New:
        return QColor(0x2e, 0x9d, 0x3a);
    case logic::Pending::Updated:
        return QColor(0xe0, 0x9b, 0x12);
    default:
        return QColor(0xc8, 0x2b, 0x2b);
    }
}

// A small marker before the id, drawn once per kind of change: its shape says the change as
// much as its colour does (a plus to be added, a diamond for a changed fee, a bar to be
// removed), so that it reads without telling green from orange and red.
QPainterPath pendingShape(logic::Pending mark, qreal side)
{
    QPainterPath path;
    const qreal c = side / 2;
    switch (mark) {
    case logic::Pending::New: {
        const qreal t = side * 3 / 8; // stroke width of the plus
        path.addRect(QRectF(0, c - t / 2, side, t));
        path.addRect(QRectF(c - t / 2, 0, t, side));
        path.setFillRule(Qt::WindingFill);
        return path.simplified();
    }
    case logic::Pending::Updated:
        path.moveTo(c, 0);
        path.lineTo(side, c);
        path.lineTo(c, side);
        path.lineTo(0, c);
        path.closeSubpath();
        return path;
    default:
        path.addRect(QRectF(0, c - side * 3 / 16, side, side * 3 / 8));
        return path;
    }
}

QIcon pendingIcon(logic::Pending mark)
{
    // Indexed by the mark's value: a standard container keyed by a library type would be
    // exported from the shared library along with its template code.
    static std::array<QIcon, static_cast<std::size_t>(logic::Pending::Unknown) + 1> icons;
    auto &icon = icons.at(static_cast<std::size_t>(mark));
    if (icon.isNull()) {
        for (const int side : {10, 20, 40}) {
            QPixmap marker(side, side);
            marker.fill(Qt::transparent);
            QPainter painter(&marker);
            painter.setRenderHint(QPainter::Antialiasing);
            const QColor colour = pendingColour(mark);
            // A darker rim keeps the shape apart from a selected row's highlight.
            const qreal rim = side / 16.0;
            painter.setPen(QPen(colour.darker(170), rim));
            painter.setBrush(colour);
            painter.translate(rim / 2, rim / 2);
            painter.drawPath(pendingShape(mark, side - rim));
            icon.addPixmap(marker);
        }
    }
    return icon;
}
} // namespace

VendorListModel::VendorListModel(VendorList &list) : QAbstractTableModel(&list), m_list(list) {}

int VendorListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_announced;
}

int VendorListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : VendorList::Columns;
}

QVariant VendorListModel::data(const QModelIndex &index, int role) const
{
    const auto row0 = static_cast<std::size_t>(index.row());
    if (!index.isValid() || row0 >= m_list.m_order.size()) {
        return {};
    }
    const auto &store = m_list.m_store;
    const auto row = m_list.m_order[row0];
    const auto cell = [&](int column) {
        logic::CellBuffer buffer;
        const auto text = store.text(row, column, buffer);
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    };
    switch (role) {
    case Qt::DisplayRole:
        return cell(index.column());
    case Qt::DecorationRole:
    case Qt::AccessibleTextRole: {
        if (index.column() != 0) {
            return {};
        }
        const auto mark = store.pending(row);
        const auto text = pendingText(mark);
        if (role == Qt::AccessibleTextRole) {
            // A screen reader hears the pending change with the id, not only on request.
            return text.isEmpty() ? cell(0) : QStringLiteral("%1, %2").arg(cell(0), text);
        }
        return text.isEmpty() ? QVariant() : QVariant(pendingIcon(mark));
    }
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole: {
        // The fees live in hidden columns; a vendor added with ">" gets the default fee, which
        // the user must be able to read without opening the fee area.
        QStringList lines;
        const auto pending = pendingText(store.pending(row));
        if (!pending.isEmpty()) {
            lines << pending.left(1).toUpper() + pending.mid(1);
        }
        const auto fee = cell(logic::index(logic::Column::HandlingFee));
        if (!fee.isEmpty()) {
            lines << QStringLiteral("Handling fee %1 %").arg(fee);
        }
        lines << (logic::dutyShown(store.dutyMark(row))
                      ? QStringLiteral("Duty / brokerage fee charged")
                      : QStringLiteral("No duty / brokerage fee"));
        // A note (both sides of a collision) comes last.
        if (const QString note = m_list.rowNote(store.plainText(row, 0)); !note.isEmpty()) {
            lines << note;
        }
        return lines.join(role == Qt::ToolTipRole ? QStringLiteral("\n") : QStringLiteral(", "));
    }
    default:
        return {};
    }
}

Qt::ItemFlags VendorListModel::flags(const QModelIndex &index) const
{
    // Views ask rows for their flags often; a flat list answers without the base class's
    // bounds checks and says no row has children.
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

QModelIndex VendorListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= m_announced || column < 0 ||
        column >= VendorList::Columns) {
        return {};
    }
    return createIndex(row, column);
}

QStringList VendorListModel::mimeTypes() const
{
    return {QString::fromLatin1(list::MimeType)};
}

QMimeData *VendorListModel::mimeData(const QModelIndexList &indexes) const
{
    // Each row once, in list order, whatever order and columns the view hands over.
    std::vector<int> rows;
    for (const auto &index : indexes) {
        if (index.isValid() && static_cast<std::size_t>(index.row()) < m_list.m_order.size()) {
            rows.push_back(index.row());
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QStringList ids;
    for (const int r : rows) {
        ids << m_list.Text(r + 1);
    }
    return list::encode(m_list.view(), ids);
}

Qt::DropActions VendorListModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

Qt::DropActions VendorListModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

QVariant VendorListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_headers.size()) {
        return m_headers[section];
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void VendorListModel::addHeader(const QString &text)
{
    m_headers.append(text);
    Q_EMIT headerDataChanged(Qt::Horizontal, static_cast<int>(m_headers.size()) - 1,
                             static_cast<int>(m_headers.size()) - 1);
}

bool VendorListModel::inSync() const
{
    return !m_needReset && static_cast<std::size_t>(m_announced) == m_list.m_order.size();
}

bool VendorListModel::sync()
{
    const int size = static_cast<int>(m_list.m_order.size());
    if (m_needReset) {
        beginResetModel();
        m_announced = size;
        m_needReset = false;
        endResetModel();
        return true;
    }
    if (size > m_announced) {
        beginInsertRows({}, m_announced, size - 1);
        m_announced = size;
        endInsertRows();
    }
    return false;
}

void VendorListModel::cellChanged(int row0, int column)
{
    if (!m_needReset && row0 < m_announced) {
        const auto at = index(row0, column);
        Q_EMIT dataChanged(at, at);
        if (column == 3 || column == 4) {
            // The visible cells' tooltips and descriptions tell the fees and the change; the
            // id's marker and spoken text tell the change.
            QList<int> roles{Qt::ToolTipRole, Qt::AccessibleDescriptionRole};
            if (column == 4) {
                roles << Qt::DecorationRole << Qt::AccessibleTextRole;
            }
            Q_EMIT dataChanged(index(row0, 0), index(row0, 1), roles);
        }
    }
}

} // namespace tarvo::list
