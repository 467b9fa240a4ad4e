#include "list/RowStore.h"

#include "logic/RowMark.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace tarvo::list {

namespace {
constexpr std::size_t FirstBlock = 16 * 1024;
constexpr std::size_t LargestBlock = 1024 * 1024;
// Below this much dead text, compacting costs more than it returns.
constexpr std::size_t TolerableWaste = 256 * 1024;
} // namespace

void RowStore::reserve(std::size_t rows)
{
    m_records.reserve(rows);
}

char *RowStore::allocate(std::size_t bytes)
{
    if (m_blocks.empty() || m_blocks.back().size - m_used < bytes) {
        const std::size_t grown =
            m_blocks.empty() ? FirstBlock : std::min(LargestBlock, 2 * m_blocks.back().size);
        const std::size_t size = std::max(grown, bytes);
        m_blocks.push_back({std::make_unique<char[]>(size), size});
        m_used = 0;
    }
    char *at = m_blocks.back().bytes.get() + m_used;
    m_used += bytes;
    return at;
}

void RowStore::place(Record &record, const Texts &texts)
{
    std::size_t total = 0;
    for (const auto &t : texts) {
        total += t.size();
    }
    if (total > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("a row's texts are too long");
    }
    // Blocks never move, so texts taken from this store stay readable while being copied.
    char *at = total > 0 ? allocate(total) : nullptr;
    std::uint32_t end = 0;
    for (int k = 0; k < Columns; ++k) {
        const auto &t = texts[static_cast<std::size_t>(k)];
        if (!t.empty()) {
            std::memcpy(at + end, t.data(), t.size());
        }
        end += static_cast<std::uint32_t>(t.size());
        record.end[k] = end;
    }
    record.base = at;
    m_live += total;
}

RowStore::Texts RowStore::textsOf(const Record &record) const
{
    Texts texts;
    std::uint32_t begin = 0;
    for (int k = 0; k < Columns; ++k) {
        texts[static_cast<std::size_t>(k)] = {record.base + begin, record.end[k] - begin};
        begin = record.end[k];
    }
    return texts;
}

void RowStore::setMark(Record &record)
{
    const bool wasMarked = record.live && record.mark != 0;
    const auto begin = record.end[3];
    record.mark = static_cast<std::uint8_t>(
        logic::markOf(std::string_view(record.base + begin, record.end[4] - begin)));
    static_assert(static_cast<int>(logic::Mark::None) == 0);
    const bool marked = record.mark != 0;
    if (marked != wasMarked) {
        marked ? ++m_marked : --m_marked;
    }
}

RowStore::Handle RowStore::add(const Texts &texts)
{
    Handle handle;
    if (!m_free.empty()) {
        handle = m_free.back();
        m_free.pop_back();
    } else {
        handle = static_cast<Handle>(m_records.size());
        m_records.emplace_back();
    }
    Record &record = m_records[handle];
    record = Record{};
    place(record, texts);
    setMark(record);
    record.live = true;
    return handle;
}

void RowStore::release(Handle handle)
{
    Record &record = m_records[handle];
    const std::size_t bytes = record.end[Columns - 1];
    m_live -= bytes;
    m_dead += bytes;
    if (record.mark != 0) {
        --m_marked;
    }
    if (record.selected) {
        --m_selected;
    }
    record = Record{};
    m_free.push_back(handle);
    compactIfWasteful();
}

void RowStore::clear()
{
    m_records.clear();
    m_free.clear();
    m_blocks.clear();
    m_used = 0;
    m_live = 0;
    m_dead = 0;
    m_marked = 0;
    m_selected = 0;
}

void RowStore::setText(Handle handle, int column, std::string_view text)
{
    Record &record = m_records[handle];
    Texts texts = textsOf(record);
    auto &old = texts[static_cast<std::size_t>(column)];
    const std::size_t before = record.end[Columns - 1];
    if (text.size() == old.size()) {
        // Same length: rewritten where it stands (a view into the row itself may overlap).
        std::memmove(const_cast<char *>(old.data()), text.data(), text.size());
    } else {
        old = text;
        place(record, texts);
        m_live -= before;
        m_dead += before;
    }
    if (column == 4) {
        setMark(record);
    }
    compactIfWasteful();
}

void RowStore::compactIfWasteful()
{
    if (m_dead <= TolerableWaste || m_dead <= m_live) {
        return;
    }
    const std::vector<Block> old = std::move(m_blocks);
    m_blocks.clear();
    m_used = 0;
    m_live = 0;
    m_dead = 0;
    for (Record &record : m_records) {
        if (record.live) {
            place(record, textsOf(record));
        }
    }
}

} // namespace tarvo::list
