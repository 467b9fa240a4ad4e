// The rows of one vendor list as fixed records over one text arena: a row's seven texts lie
// side by side in UTF-8, a record holds where they are, and the list orders records by handle.
// A load makes a few arena blocks instead of eight heap blocks per row, and clearing frees
// those few blocks. An edited row is written again at the arena's end; the space it left is
// reclaimed by compacting once more of the arena is dead than alive.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tarvo::list {

class RowStore
{
public:
    static constexpr int Columns = 7;
    using Handle = std::uint32_t;
    using Texts = std::array<std::string_view, Columns>;

    // Keeps room for rows records without growing (a load knows its count in advance).
    void reserve(std::size_t rows);

    // Copies the texts in; the views may point into this store.
    Handle add(const Texts &texts);
    // The handle's slot is reused by a later add.
    void release(Handle handle);
    // Drops every row and every arena block.
    void clear();

    // Valid until the store next changes.
    std::string_view text(Handle handle, int column) const
    {
        const Record &record = m_records[handle];
        const std::uint32_t begin = column == 0 ? 0 : record.end[column - 1];
        return {record.base + begin, record.end[column] - begin};
    }
    void setText(Handle handle, int column, std::string_view text);

    bool selected(Handle handle) const { return m_records[handle].selected; }
    void setSelected(Handle handle, bool on)
    {
        Record &record = m_records[handle];
        if (record.selected != on) {
            record.selected = on;
            on ? ++m_selected : --m_selected;
        }
    }
    // How many live rows are selected, so that a list can tell none or one from many without
    // walking its rows.
    std::size_t selectedCount() const { return m_selected; }
    // Whether column 4 is not a plain duty value, kept so that counting pending rows and
    // showing them never reads the text again.
    std::uint8_t mark(Handle handle) const { return m_records[handle].mark; }
    std::size_t markedCount() const { return m_marked; }

    std::size_t arenaBytes() const { return m_live + m_dead; }

private:
    struct Record
    {
        const char *base = nullptr;
        std::uint32_t end[Columns] = {};
        bool selected = false;
        bool live = false;
        std::uint8_t mark = 0;
    };

    struct Block
    {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
    };

    // Writes the texts at the arena's end and points the record at them.
    void place(Record &record, const Texts &texts);
    char *allocate(std::size_t bytes);
    Texts textsOf(const Record &record) const;
    void setMark(Record &record);
    void compactIfWasteful();

    std::vector<Record> m_records;
    std::vector<Handle> m_free;
    std::vector<Block> m_blocks;
    std::size_t m_used = 0; // bytes used in the last block
    std::size_t m_live = 0;
    std::size_t m_dead = 0;
    std::size_t m_marked = 0;
    std::size_t m_selected = 0;
};

} // namespace tarvo::list
