#include "list/VendorList.h"

#include "list/TextOrder.h"
#include "list/VendorListModel.h"
#include "list/VendorView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

namespace tarvo::list {

namespace {
constexpr double TwipsPerPixel = 15.0;

int pixels(double twips)
{
    return static_cast<int>(std::lround(twips / TwipsPerPixel));
}
} // namespace

VendorList::VendorList(QWidget *viewParent)
    : QObject(viewParent), m_model(new VendorListModel(*this)), m_view(new VendorView(viewParent))
{
    m_view->setModel(m_model);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                if (m_pushing) {
                    return;
                }
                const auto mark = [this](const QItemSelection &ranges, bool on) {
                    const int last = Count() - 1;
                    for (const auto &range : ranges) {
                        for (int r = range.top(); r <= std::min(range.bottom(), last); ++r) {
                            m_store.setSelected(m_order[static_cast<std::size_t>(r)], on);
                        }
                    }
                };
                mark(deselected, false);
                mark(selected, true);
            });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (m_pushing) {
                    return;
                }
                const auto r = static_cast<std::size_t>(current.row());
                m_current = current.isValid() && r < m_order.size() ? m_order[r] : NoRow;
            });
}

VendorList::~VendorList() = default;

VendorView *VendorList::view() const
{
    return m_view;
}

void VendorList::AddColumnHeader(const QString &text, double widthTwips)
{
    m_model->addHeader(text);
    m_widthsTwips.push_back(widthTwips);
    const int section = static_cast<int>(m_widthsTwips.size()) - 1;
    m_view->horizontalHeader()->setSectionHidden(section, widthTwips <= 0);
    if (widthTwips > 0) {
        m_view->horizontalHeader()->resizeSection(section, pixels(widthTwips));
    }
}

double VendorList::WidthTwips() const
{
    return std::round(m_view->width() * TwipsPerPixel);
}

void VendorList::SetFullRowSelect(bool on)
{
    m_view->setSelectionBehavior(on ? QAbstractItemView::SelectRows
                                    : QAbstractItemView::SelectItems);
}

int VendorList::Count() const
{
    return static_cast<int>(m_order.size());
}

void VendorList::requireColumn(int column, int first)
{
    if (column < first || column >= Columns) {
        throw ListError("no such column: " + std::to_string(column));
    }
}

VendorList::Handle VendorList::handle(int index) const
{
    if (index < 1 || index > Count()) {
        throw ListError("list index out of bounds: " + std::to_string(index));
    }
    return m_order[static_cast<std::size_t>(index - 1)];
}

int VendorList::indexOf(Handle h) const
{
    if (h == NoRow) {
        return 0;
    }
    if (m_currentCache >= 0 && static_cast<std::size_t>(m_currentCache) < m_order.size() &&
        m_order[static_cast<std::size_t>(m_currentCache)] == h) {
        return m_currentCache + 1;
    }
    const auto it = std::find(m_order.begin(), m_order.end(), h);
    if (it == m_order.end()) {
        return 0;
    }
    m_currentCache = static_cast<int>(it - m_order.begin());
    return m_currentCache + 1;
}

int VendorList::AddRow(const logic::Row &row)
{
    if (Count() >= MaxRows) {
        throw ListError("a list holds at most 32767 rows");
    }
    return appended(m_store.add(row));
}

int VendorList::AddRow(const logic::LoadedRow &row)
{
    if (Count() >= MaxRows) {
        throw ListError("a list holds at most 32767 rows");
    }
    return appended(m_store.add(row));
}

int VendorList::appended(Handle h)
{
    const bool first = m_order.empty();
    m_order.push_back(h);
    if (first) {
        m_store.setSelected(h, true);
        m_current = h;
        selectionChanged();
    }
    scheduleFlush();
    return Count();
}

void VendorList::Reserve(int rows)
{
    // A little more than asked, so that the first rows moved in after a load do not copy
    // every record to a larger block while the user waits.
    constexpr std::size_t MovesAhead = 64;
    const auto wanted = static_cast<std::size_t>(std::clamp(rows, 0, MaxRows)) + MovesAhead;
    m_store.reserve(wanted);
    m_order.reserve(wanted);
}

int VendorList::PlaceInOrder(int index)
{
    const Handle h = handle(index);
    const auto from = static_cast<std::size_t>(index - 1);
    // The view's own reactions to the row leaving (another current row) are not the list's.
    m_pushing = true;
    m_model->eraseRow(static_cast<int>(from),
                      [&] { m_order.erase(m_order.begin() + static_cast<std::ptrdiff_t>(from)); });
    const auto at = std::upper_bound(m_order.begin(), m_order.end(), h,
                                     [this](Handle a, Handle b) { return before(a, b); });
    const auto to = static_cast<int>(at - m_order.begin());
    m_model->insertRow(to, [&] { m_order.insert(m_order.begin() + to, h); });
    m_pushing = false;
    m_currentCache = -1;
    if (m_store.selected(h) || h == m_current) {
        selectionChanged();
    }
    scheduleFlush();
    return to + 1;
}

void VendorList::released(Handle h)
{
    if (h == m_current) {
        m_current = NoRow;
    }
    m_store.release(h);
}

void VendorList::Remove(int index)
{
    const Handle h = handle(index);
    if (m_store.selected(h) || h == m_current) {
        selectionChanged();
    }
    m_pushing = true;
    m_model->eraseRow(index - 1, [&] { m_order.erase(m_order.begin() + (index - 1)); });
    m_pushing = false;
    released(h);
    scheduleFlush();
}

int VendorList::RemoveSelected()
{
    const auto selectedCount = static_cast<long>(m_store.selectedCount());
    if (selectedCount == 0) {
        return 0;
    }
    // A few rows go one by one so the view keeps its place; many go in one walk.
    constexpr long FewRows = 64;
    if (selectedCount <= FewRows && m_model->inSync()) {
        for (int i = Count(); i >= 1 && m_store.selectedCount() > 0; --i) {
            if (m_store.selected(m_order[static_cast<std::size_t>(i - 1)])) {
                Remove(i);
            }
        }
        return static_cast<int>(selectedCount);
    }
    const auto end = std::remove_if(m_order.begin(), m_order.end(), [this](Handle h) {
        if (!m_store.selected(h)) {
            return false;
        }
        released(h);
        return true;
    });
    m_order.erase(end, m_order.end());
    m_currentCache = -1;
    rowsChanged();
    selectionChanged();
    return static_cast<int>(selectedCount);
}

void VendorList::Clear()
{
    m_notes.clear();
    m_order.clear();
    m_store.clear();
    m_current = NoRow;
    m_currentCache = -1;
    rowsChanged();
    selectionChanged();
}

std::string_view VendorList::id(int index) const
{
    return m_store.plainText(handle(index), 0);
}

logic::Row VendorList::row(int index) const
{
    return m_store.row(handle(index));
}

logic::Fee VendorList::fee(int index) const
{
    return m_store.fee(handle(index));
}

void VendorList::setFee(int index, const logic::Fee &fee)
{
    m_store.setFee(handle(index), fee);
    m_model->cellChanged(index - 1, logic::index(logic::Column::HandlingFee));
}

logic::DutyMark VendorList::dutyMark(int index) const
{
    return m_store.dutyMark(handle(index));
}

void VendorList::setDutyMark(int index, const logic::DutyMark &duty)
{
    m_store.setDutyMark(handle(index), duty);
    m_model->cellChanged(index - 1, logic::index(logic::Column::DutyMark));
}

logic::Pending VendorList::pending(int index) const
{
    return m_store.pending(handle(index));
}

int VendorList::markedCount() const
{
    return static_cast<int>(m_store.markedCount());
}

bool VendorList::Selected(int index) const
{
    return m_store.selected(handle(index));
}

void VendorList::SetSelected(int index, bool selected)
{
    const Handle h = handle(index);
    if (selected) {
        if (!m_multiSelect) {
            for (auto it = m_order.begin(); m_store.selectedCount() > 0 && it != m_order.end();
                 ++it) {
                m_store.setSelected(*it, false);
            }
        }
        m_store.setSelected(h, true);
        m_current = h;
        m_currentCache = index - 1;
    } else {
        m_store.setSelected(h, false);
    }
    selectionChanged();
}

void VendorList::EnsureVisible(int index)
{
    handle(index);
    flush();
    m_view->scrollTo(m_model->index(index - 1, 0));
}

int VendorList::SelectedItem() const
{
    return indexOf(m_current);
}

bool VendorList::MultiSelect() const
{
    return m_multiSelect;
}

void VendorList::SetMultiSelect(bool on)
{
    m_multiSelect = on;
    m_view->setMultiSelect(on);
}

int VendorList::FindId(std::string_view id) const
{
    return firstRow([&](Handle h) { return m_store.plainText(h, 0) == id; });
}

int VendorList::SortKey() const
{
    return m_sortKey;
}

void VendorList::SetSortKey(int column)
{
    requireColumn(column, 0);
    m_sortKey = column;
    sortRows();
}

int VendorList::SortOrder() const
{
    return m_sortOrder;
}

void VendorList::SetSortOrder(int order)
{
    m_sortOrder = order == 0 ? 0 : 1;
    sortRows();
}

int VendorList::compare(Handle a, Handle b) const
{
    // Numeric id keys order as their texts would, without writing them.
    if (m_sortKey == logic::index(logic::Column::IdKey) && m_store.keyIsNumber(a) &&
        m_store.keyIsNumber(b)) {
        return logic::compareIdKeys(m_store.keyNumber(a), m_store.keyNumber(b));
    }
    logic::CellBuffer bufferA;
    logic::CellBuffer bufferB;
    return list::compareFolded(m_store.text(a, m_sortKey, bufferA),
                               m_store.text(b, m_sortKey, bufferB));
}

bool VendorList::before(Handle a, Handle b) const
{
    const int c = compare(a, b);
    return m_sortOrder == 0 ? c < 0 : c > 0;
}

namespace {
// Puts entries in order, stable; returns false when they already were. Two ordered runs are
// common (ids past 9999 after the padded ones, moved rows after the list they joined) and merge
// in one pass.
template <typename Entry, typename Less> bool putInOrder(std::vector<Entry> &entries, Less less)
{
    const auto run = std::is_sorted_until(entries.begin(), entries.end(), less);
    if (run == entries.end()) {
        return false;
    }
    if (std::is_sorted(run, entries.end(), less)) {
        std::inplace_merge(entries.begin(), run, entries.end(), less);
    } else {
        std::stable_sort(entries.begin(), entries.end(), less);
    }
    return true;
}
} // namespace

std::optional<bool> VendorList::sortByKeyNumbers()
{
    if (m_sortKey != logic::index(logic::Column::IdKey) ||
        !std::all_of(m_order.begin(), m_order.end(),
                     [this](Handle h) { return m_store.keyIsNumber(h); })) {
        return std::nullopt;
    }
    // Every key typed: each one's order number stands for its text, so the check and the sort
    // compare integers and never write a key.
    struct Entry
    {
        std::uint64_t order;
        Handle handle;
    };
    std::vector<Entry> entries;
    entries.reserve(m_order.size());
    for (const Handle h : m_order) {
        entries.push_back({logic::idKeyOrder(m_store.keyNumber(h)), h});
    }
    const bool descending = m_sortOrder != 0;
    const bool moved = putInOrder(entries, [descending](const Entry &a, const Entry &b) {
        return descending ? a.order > b.order : a.order < b.order;
    });
    if (moved) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            m_order[i] = entries[i].handle;
        }
    }
    return moved;
}

void VendorList::sortRows()
{
    if (const auto moved = sortByKeyNumbers(); moved.has_value()) {
        if (!*moved) {
            showSortIndicator();
            return;
        }
    } else {
        // Server answers arrive ordered by id already; then there is nothing to move.
        const auto firstOutOfOrder = std::adjacent_find(
            m_order.begin(), m_order.end(), [this](Handle a, Handle b) { return before(b, a); });
        if (firstOutOfOrder == m_order.end()) {
            showSortIndicator();
            return;
        }
        struct Entry
        {
            list::SortPrefix prefix;
            Handle handle;
        };
        std::vector<Entry> entries;
        entries.reserve(m_order.size());
        logic::CellBuffer buffer;
        for (const Handle h : m_order) {
            entries.push_back({list::sortPrefix(m_store.text(h, m_sortKey, buffer)), h});
        }
        const bool descending = m_sortOrder != 0;
        putInOrder(entries, [&](const Entry &a, const Entry &b) {
            if (a.prefix.exact && b.prefix.exact && a.prefix.bits != b.prefix.bits) {
                return descending ? a.prefix.bits > b.prefix.bits : a.prefix.bits < b.prefix.bits;
            }
            return before(a.handle, b.handle);
        });
        for (std::size_t i = 0; i < entries.size(); ++i) {
            m_order[i] = entries[i].handle;
        }
    }
    m_currentCache = -1;
    rowsChanged();
    selectionChanged();
    showSortIndicator();
}

void VendorList::showSortIndicator()
{
    // The header shows the order on the visible column the key stands for.
    const int shown = m_sortKey == 6 ? 0 : m_sortKey;
    m_view->horizontalHeader()->setSortIndicator(shown, m_sortOrder == 0 ? Qt::AscendingOrder
                                                                         : Qt::DescendingOrder);
}

void VendorList::SetFocus()
{
    // A view that gains focus without a current index makes its first row current; it must
    // see ours first.
    flush();
    m_view->setFocus(Qt::OtherFocusReason);
}

void VendorList::rowsChanged()
{
    m_model->structureChanged();
    scheduleFlush();
}

void VendorList::selectionChanged()
{
    m_selectionDirty = true;
    scheduleFlush();
}

void VendorList::scheduleFlush()
{
    // A safety net for changes made outside a handler: the view is brought up to date before
    // the next user event is delivered.
    if (!m_flushQueued) {
        m_flushQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_flushQueued = false;
            flush();
        });
    }
}

void VendorList::flush()
{
    m_pushing = true;
    if (m_model->sync()) {
        auto *header = m_view->horizontalHeader();
        for (std::size_t i = 0; i < m_widthsTwips.size(); ++i) {
            const int section = static_cast<int>(i);
            header->setSectionHidden(section, m_widthsTwips[i] <= 0);
            if (m_widthsTwips[i] > 0) {
                header->resizeSection(section, pixels(m_widthsTwips[i]));
            }
        }
        m_selectionDirty = true;
    }
    if (m_selectionDirty) {
        m_selectionDirty = false;
        auto *selection = m_view->selectionModel();
        QItemSelection ranges;
        const int count = Count();
        const int current = SelectedItem();
        const std::size_t selectedRows = m_store.selectedCount();
        // One selected row that is also the current one, as after any click or single move,
        // needs no walk over the rows.
        const bool onlyCurrent = selectedRows == 1 && current > 0 &&
                                 m_store.selected(m_order[static_cast<std::size_t>(current - 1)]);
        if (onlyCurrent) {
            ranges.select(m_model->index(current - 1, 0), m_model->index(current - 1, Columns - 1));
        }
        for (int r = 0; selectedRows > 0 && !onlyCurrent && r < count;) {
            if (!m_store.selected(m_order[static_cast<std::size_t>(r)])) {
                ++r;
                continue;
            }
            int last = r;
            while (last + 1 < count &&
                   m_store.selected(m_order[static_cast<std::size_t>(last) + 1])) {
                ++last;
            }
            ranges.select(m_model->index(r, 0), m_model->index(last, Columns - 1));
            r = last + 1;
        }
        selection->select(ranges, QItemSelectionModel::ClearAndSelect);
        if (current > 0) {
            selection->setCurrentIndex(m_model->index(current - 1, 0),
                                       QItemSelectionModel::NoUpdate);
        } else {
            selection->clearCurrentIndex();
        }
    }
    m_pushing = false;
}

void VendorList::SetRowNote(const QString &id, const QString &note)
{
    if (note.isEmpty()) {
        m_notes.erase(id.toStdString());
    } else {
        m_notes[id.toStdString()] = note;
    }
    rowsChanged();
}

QString VendorList::rowNote(std::string_view id) const
{
    if (m_notes.empty()) {
        return {};
    }
    const auto it = m_notes.find(id);
    return it == m_notes.end() ? QString() : it->second;
}

} // namespace tarvo::list
