#include "ui/VendorList.h"

#include "ui/VendorListModel.h"
#include "ui/VendorView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <string_view>

namespace tarvo {

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
                            m_rows[static_cast<std::size_t>(r)].selected = on;
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
                m_currentId = current.isValid() && r < m_rows.size() ? m_rows[r].id : 0;
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
    m_view->header()->setSectionHidden(section, widthTwips <= 0);
    if (widthTwips > 0) {
        m_view->header()->resizeSection(section, pixels(widthTwips));
    }
}

double VendorList::WidthTwips() const
{
    return std::round(m_view->width() * TwipsPerPixel);
}

void VendorList::SetFullRowSelect(bool on)
{
    m_view->setAllColumnsShowFocus(on);
}

int VendorList::Count() const
{
    return static_cast<int>(m_rows.size());
}

VendorList::Row &VendorList::row(int index)
{
    if (index < 1 || index > Count()) {
        throw ListError("list index out of bounds: " + std::to_string(index));
    }
    return m_rows[static_cast<std::size_t>(index - 1)];
}

const VendorList::Row &VendorList::row(int index) const
{
    return const_cast<VendorList *>(this)->row(index);
}

int VendorList::indexOfId(std::uint64_t id) const
{
    if (id == 0) {
        return 0;
    }
    if (m_currentCache >= 0 && static_cast<std::size_t>(m_currentCache) < m_rows.size() &&
        m_rows[static_cast<std::size_t>(m_currentCache)].id == id) {
        return m_currentCache + 1;
    }
    const auto it =
        std::find_if(m_rows.begin(), m_rows.end(), [id](const Row &r) { return r.id == id; });
    if (it == m_rows.end()) {
        return 0;
    }
    m_currentCache = static_cast<int>(it - m_rows.begin());
    return m_currentCache + 1;
}

int VendorList::Add(const QString &text)
{
    if (Count() >= MaxRows) {
        throw ListError("a list holds at most 32767 rows");
    }
    Row r;
    r.cols[0] = text;
    r.id = m_nextId++;
    const bool first = m_rows.empty();
    m_rows.push_back(std::move(r));
    if (first) {
        m_rows.back().selected = true;
        m_currentId = m_rows.back().id;
        selectionChanged();
    }
    scheduleFlush();
    return Count();
}

void VendorList::Remove(int index)
{
    row(index);
    const auto at = m_rows.begin() + (index - 1);
    if (at->selected || at->id == m_currentId) {
        selectionChanged();
    }
    if (at->id == m_currentId) {
        m_currentId = 0;
    }
    if (m_model->inSync()) {
        m_pushing = true;
        m_model->removeAnnounced(index - 1, [&] { m_rows.erase(at); });
        m_pushing = false;
    } else {
        m_rows.erase(at);
        rowsChanged();
    }
    scheduleFlush();
}

int VendorList::RemoveSelected()
{
    const auto selectedCount =
        std::count_if(m_rows.begin(), m_rows.end(), [](const Row &r) { return r.selected; });
    if (selectedCount == 0) {
        return 0;
    }
    // A few rows go one by one so the view keeps its place; many go in one walk.
    constexpr long FewRows = 64;
    if (selectedCount <= FewRows && m_model->inSync()) {
        for (int i = Count(); i >= 1; --i) {
            if (m_rows[static_cast<std::size_t>(i - 1)].selected) {
                Remove(i);
            }
        }
        return static_cast<int>(selectedCount);
    }
    const auto current = m_currentId;
    const auto end =
        std::remove_if(m_rows.begin(), m_rows.end(), [](const Row &r) { return r.selected; });
    m_rows.erase(end, m_rows.end());
    if (indexOfId(current) == 0) {
        m_currentId = 0;
    }
    rowsChanged();
    selectionChanged();
    return static_cast<int>(selectedCount);
}

void VendorList::Clear()
{
    m_rows.clear();
    m_currentId = 0;
    rowsChanged();
    selectionChanged();
}

QString VendorList::Text(int index) const
{
    return row(index).cols[0];
}

QString VendorList::SubItem(int index, int k) const
{
    if (k < 1 || k >= Columns) {
        throw ListError("no such column: " + std::to_string(k));
    }
    return row(index).cols[static_cast<std::size_t>(k)];
}

void VendorList::SetSubItem(int index, int k, const QString &text)
{
    if (k < 1 || k >= Columns) {
        throw ListError("no such column: " + std::to_string(k));
    }
    row(index).cols[static_cast<std::size_t>(k)] = text;
    m_model->cellChanged(index - 1, k);
}

bool VendorList::Selected(int index) const
{
    return row(index).selected;
}

void VendorList::SetSelected(int index, bool selected)
{
    auto &r = row(index);
    if (selected) {
        if (!m_multiSelect) {
            for (auto &other : m_rows) {
                other.selected = false;
            }
        }
        r.selected = true;
        m_currentId = r.id;
        m_currentCache = index - 1;
    } else {
        r.selected = false;
    }
    selectionChanged();
}

void VendorList::EnsureVisible(int index)
{
    row(index);
    flush();
    m_view->scrollTo(m_model->index(index - 1, 0));
}

int VendorList::SelectedItem() const
{
    return indexOfId(m_currentId);
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

int VendorList::FindItem(const QString &text) const
{
    const auto it = std::find_if(m_rows.begin(), m_rows.end(), [&](const Row &r) {
        return r.cols[0].compare(text, Qt::CaseInsensitive) == 0;
    });
    return it == m_rows.end() ? 0 : static_cast<int>(it - m_rows.begin()) + 1;
}

int VendorList::SortKey() const
{
    return m_sortKey;
}

void VendorList::SetSortKey(int column)
{
    if (column < 0 || column >= Columns) {
        throw ListError("no such column: " + std::to_string(column));
    }
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

namespace {

// A folded key with its first four code units packed so that most comparisons of a
// 32767-row sort are one integer comparison.
struct FoldedKey
{
    explicit FoldedKey(const QString &text, std::size_t row) : folded(text.toCaseFolded()), row(row)
    {
        for (qsizetype i = 0; i < 4; ++i) {
            prefix = (prefix << 16) | (i < folded.size() ? folded.at(i).unicode() : 0u);
        }
    }

    std::u16string_view view() const
    {
        return {reinterpret_cast<const char16_t *>(folded.utf16()),
                static_cast<std::size_t>(folded.size())};
    }

    bool operator<(const FoldedKey &other) const
    {
        return prefix != other.prefix ? prefix < other.prefix : view() < other.view();
    }

    QString folded;
    std::size_t row;
    std::uint64_t prefix = 0;
};

} // namespace

void VendorList::sortRows()
{
    const auto key = static_cast<std::size_t>(m_sortKey);
    std::vector<FoldedKey> keys;
    keys.reserve(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        keys.emplace_back(m_rows[i].cols[key], i);
    }
    const auto inOrder = [this](const FoldedKey &a, const FoldedKey &b) {
        return m_sortOrder == 0 ? a < b : b < a;
    };
    // Server answers arrive ordered by id already; then there is nothing to move.
    if (std::is_sorted(keys.begin(), keys.end(), inOrder)) {
        showSortIndicator();
        return;
    }
    std::stable_sort(keys.begin(), keys.end(), inOrder);
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (const auto &k : keys) {
        sorted.push_back(std::move(m_rows[k.row]));
    }
    m_rows.swap(sorted);
    m_currentCache = -1;
    rowsChanged();
    selectionChanged();
    showSortIndicator();
}

void VendorList::showSortIndicator()
{
    // The header shows the order on the visible column the key stands for.
    const int shown = m_sortKey == 6 ? 0 : m_sortKey;
    m_view->header()->setSortIndicator(shown,
                                       m_sortOrder == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
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
        auto *header = m_view->header();
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
        for (int r = 0; r < count;) {
            if (!m_rows[static_cast<std::size_t>(r)].selected) {
                ++r;
                continue;
            }
            int last = r;
            while (last + 1 < count && m_rows[static_cast<std::size_t>(last + 1)].selected) {
                ++last;
            }
            ranges.select(m_model->index(r, 0), m_model->index(last, Columns - 1));
            r = last + 1;
        }
        selection->select(ranges, QItemSelectionModel::ClearAndSelect);
        const int current = SelectedItem();
        if (current > 0) {
            selection->setCurrentIndex(m_model->index(current - 1, 0),
                                       QItemSelectionModel::NoUpdate);
        } else {
            selection->clearCurrentIndex();
        }
    }
    m_pushing = false;
}

} // namespace tarvo
