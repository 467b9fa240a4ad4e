// The rows of one vendor list as fixed records of typed values over one text arena: a row's
// texts (id, name, country id, date, and any fee, duty or key cell that holds a text without
// typed form) lie side by side in UTF-8, while the fee, duty, pending change, id key and the
// values as loaded are fields of the record. A load makes a few arena blocks instead of heap
// blocks per row, and clearing frees those few blocks. An edited text is written again at the
// arena's end; the space it left is reclaimed by compacting once more of the arena is dead than
// alive.
#pragma once

#include "logic/Columns.h"
#include "logic/Row.h"
#include "logic/RowText.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tarvo::list {

class RowStore
{
public:
    static constexpr int Columns = logic::ColumnCount;
    using Handle = std::uint32_t;
    using Texts = std::array<std::string_view, Columns>;
    using CellBuffer = logic::CellBuffer;

    // Keeps room for rows records without growing (a load knows its count in advance).
    void reserve(std::size_t rows);

    // Copies the row in.
    Handle add(const logic::Row &row);
    Handle add(const logic::LoadedRow &row);
    // The handle's slot is reused by a later add.
    void release(Handle handle);
    // Drops every row and every arena block.
    void clear();

    logic::Row row(Handle handle) const;

    // The cell as the list shows it; the view points into the store or into out, and is valid
    // until the store next changes.
    std::string_view text(Handle handle, int column, CellBuffer &out) const;
    // A cell that is always text (id, name, country id, date). Surprise: for the fee, duty and
    // key columns it gives only a kept text, "" where the value is typed.
    std::string_view plainText(Handle handle, int column) const
    {
        const Record &record = m_records[handle];
        const std::uint32_t begin = column == 0 ? 0 : record.end[column - 1];
        return {record.base + begin, record.end[column] - begin};
    }
    // Writes a cell from its text.
    void setText(Handle handle, int column, std::string_view text);

    logic::Fee fee(Handle handle) const;
    void setFee(Handle handle, const logic::Fee &fee);
    logic::DutyMark dutyMark(Handle handle) const;
    void setDutyMark(Handle handle, const logic::DutyMark &duty);
    // The id key's number where it is typed.
    bool keyIsNumber(Handle handle) const { return m_records[handle].keyTyped; }
    std::uint64_t keyNumber(Handle handle) const { return m_records[handle].key; }

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
    // The pending change, kept so that counting pending rows and showing them never reads a
    // text again.
    logic::Pending pending(Handle handle) const { return m_records[handle].pending; }
    // Rows whose duty column is not a plain duty value (a pending change, or no value at all).
    std::size_t markedCount() const { return m_marked; }

    std::size_t arenaBytes() const { return m_live + m_dead; }

private:
    // 64 bytes: the typed values beside the text offsets, the flags packed.
    struct Record
    {
        const char *base = nullptr;
        std::uint32_t end[Columns] = {};
        std::int32_t loadedFee = 0; // the replay reasons about fees up to an int's range only
        std::int64_t fee = 0;
        std::uint64_t key = 0;
        logic::Pending pending = logic::Pending::Unknown;
        bool feeTyped : 1 = false;
        bool dutyTyped : 1 = false;
        bool duty : 1 = false;
        bool keyTyped : 1 = false;
        bool loaded : 1 = false;
        bool loadedDuty : 1 = false;
        bool marked : 1 = false;
        bool selected : 1 = false;
        bool live : 1 = false;
    };
    static_assert(sizeof(void *) != 8 || sizeof(Record) <= 64);

    struct Block
    {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
    };

    Handle newRecord();
    Handle add(const Texts &texts, const logic::Fee &fee, const logic::DutyMark &duty,
               const logic::IdKey &key, const std::optional<logic::Assignment> &loaded);
    // Writes the texts at the arena's end and points the record at them.
    void place(Record &record, const Texts &texts);
    char *allocate(std::size_t bytes);
    Texts textsOf(const Record &record) const;
    void rewriteText(Record &record, int column, std::string_view text);
    void setTypedFee(Record &record, const logic::Fee &fee);
    void setTypedDuty(Record &record, const logic::DutyMark &duty);
    void setTypedKey(Record &record, const logic::IdKey &key);
    void noteMark(Handle handle);
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
