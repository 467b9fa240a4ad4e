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

constexpr int FeeColumn = logic::index(logic::Column::HandlingFee);
constexpr int DutyColumn = logic::index(logic::Column::DutyMark);
constexpr int KeyColumn = logic::index(logic::Column::IdKey);

bool typedColumn(int column)
{
    return column == FeeColumn || column == DutyColumn || column == KeyColumn;
}
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
        m_blocks.push_back({std::make_unique_for_overwrite<char[]>(size), size});
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

void RowStore::rewriteText(Record &record, int column, std::string_view text)
{
    Texts texts = textsOf(record);
    auto &old = texts[static_cast<std::size_t>(column)];
    const std::size_t before = record.end[Columns - 1];
    if (text.size() == old.size()) {
        // Same length: rewritten where it stands (a view into the row itself may overlap).
        if (!text.empty()) {
            std::memmove(const_cast<char *>(old.data()), text.data(), text.size());
        }
        return;
    }
    old = text;
    place(record, texts);
    m_live -= before;
    m_dead += before;
    compactIfWasteful();
}

void RowStore::noteMark(Handle handle)
{
    Record &record = m_records[handle];
    if (!record.dutyTyped) {
        record.pending = logic::pendingOfText(plainText(handle, DutyColumn));
    }
    const bool marked = record.pending != logic::Pending::None;
    if (record.live && marked != record.marked) {
        marked ? ++m_marked : --m_marked;
    }
    record.marked = marked;
}

void RowStore::setTypedFee(Record &record, const logic::Fee &fee)
{
    record.feeTyped = fee.hundredths.has_value();
    record.fee = fee.hundredths.value_or(0);
}

void RowStore::setTypedDuty(Record &record, const logic::DutyMark &duty)
{
    record.dutyTyped = duty.duty.has_value();
    record.duty = duty.duty.value_or(false);
    record.pending = record.dutyTyped ? duty.pending : logic::Pending::Unknown;
}

void RowStore::setTypedKey(Record &record, const logic::IdKey &key)
{
    record.keyTyped = key.number.has_value();
    record.key = key.number.value_or(0);
}

RowStore::Handle RowStore::newRecord()
{
    Handle handle;
    if (!m_free.empty()) {
        handle = m_free.back();
        m_free.pop_back();
        m_records[handle] = Record{};
    } else {
        handle = static_cast<Handle>(m_records.size());
        m_records.emplace_back();
    }
    return handle;
}

namespace {
std::string_view keptText(bool typed, const std::string &text)
{
    return typed ? std::string_view() : std::string_view(text);
}
} // namespace

RowStore::Handle RowStore::add(const logic::Row &row)
{
    return add({row.id, row.name, row.countryId,
                keptText(row.fee.hundredths.has_value(), row.fee.text),
                keptText(row.duty.duty.has_value(), row.duty.text), row.date,
                keptText(row.key.number.has_value(), row.key.text)},
               row.fee, row.duty, row.key, row.loaded);
}

RowStore::Handle RowStore::add(const logic::LoadedRow &row)
{
    return add({row.id, row.name, row.countryId,
                keptText(row.fee.hundredths.has_value(), row.fee.text),
                keptText(row.duty.duty.has_value(), row.duty.text), row.date,
                keptText(row.key.number.has_value(), row.key.text)},
               row.fee, row.duty, row.key, row.loaded);
}

RowStore::Handle RowStore::add(const Texts &texts, const logic::Fee &fee,
                               const logic::DutyMark &duty, const logic::IdKey &key,
                               const std::optional<logic::Assignment> &loaded)
{
    const Handle handle = newRecord();
    Record &record = m_records[handle];
    place(record, texts);
    setTypedFee(record, fee);
    setTypedDuty(record, duty);
    setTypedKey(record, key);
    // A fee as loaded beyond an int is none the replay could use: the row counts as not
    // assigned when loaded, as the replay would take it.
    record.loaded = loaded.has_value() &&
                    loaded->feeHundredths >= std::numeric_limits<std::int32_t>::min() &&
                    loaded->feeHundredths <= std::numeric_limits<std::int32_t>::max();
    if (record.loaded) {
        record.loadedFee = static_cast<std::int32_t>(loaded->feeHundredths);
        record.loadedDuty = loaded->duty;
    }
    record.live = true;
    noteMark(handle);
    return handle;
}

void RowStore::release(Handle handle)
{
    Record &record = m_records[handle];
    const std::size_t bytes = record.end[Columns - 1];
    m_live -= bytes;
    m_dead += bytes;
    if (record.marked) {
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

logic::Row RowStore::row(Handle handle) const
{
    const Record &record = m_records[handle];
    logic::Row row;
    row.id = plainText(handle, 0);
    row.name = plainText(handle, 1);
    row.countryId = plainText(handle, 2);
    row.fee = fee(handle);
    row.duty = dutyMark(handle);
    row.date = plainText(handle, 5);
    if (record.keyTyped) {
        row.key.number = record.key;
    } else {
        row.key.text = plainText(handle, KeyColumn);
    }
    if (record.loaded) {
        row.loaded = logic::Assignment{record.loadedFee, record.loadedDuty};
    }
    return row;
}

std::string_view RowStore::text(Handle handle, int column, CellBuffer &out) const
{
    const Record &record = m_records[handle];
    switch (column) {
    case FeeColumn:
        if (record.feeTyped) {
            return logic::feeText(record.fee, out);
        }
        break;
    case DutyColumn:
        if (record.dutyTyped) {
            return logic::dutyMarkText(record.duty, record.pending);
        }
        break;
    case KeyColumn:
        if (record.keyTyped) {
            return logic::idKeyText(record.key, out);
        }
        break;
    default:
        break;
    }
    return plainText(handle, column);
}

void RowStore::setText(Handle handle, int column, std::string_view text)
{
    Record &record = m_records[handle];
    if (!typedColumn(column)) {
        rewriteText(record, column, text);
        return;
    }
    switch (column) {
    case FeeColumn:
        setFee(handle, logic::feeFromText(text));
        break;
    case DutyColumn:
        setDutyMark(handle, logic::dutyMarkFromText(text));
        break;
    default: {
        const logic::IdKey key = logic::idKeyFromText(text);
        setTypedKey(record, key);
        rewriteText(m_records[handle], KeyColumn, key.number ? std::string_view() : key.text);
        break;
    }
    }
}

logic::Fee RowStore::fee(Handle handle) const
{
    const Record &record = m_records[handle];
    if (record.feeTyped) {
        return logic::Fee{record.fee, {}};
    }
    return logic::Fee{std::nullopt, std::string(plainText(handle, FeeColumn))};
}

void RowStore::setFee(Handle handle, const logic::Fee &fee)
{
    setTypedFee(m_records[handle], fee);
    rewriteText(m_records[handle], FeeColumn, fee.hundredths ? std::string_view() : fee.text);
}

logic::DutyMark RowStore::dutyMark(Handle handle) const
{
    const Record &record = m_records[handle];
    if (record.dutyTyped) {
        return logic::DutyMark{record.duty, record.pending, {}};
    }
    return logic::DutyMark{std::nullopt, logic::Pending::Unknown,
                           std::string(plainText(handle, DutyColumn))};
}

void RowStore::setDutyMark(Handle handle, const logic::DutyMark &duty)
{
    setTypedDuty(m_records[handle], duty);
    rewriteText(m_records[handle], DutyColumn, duty.duty ? std::string_view() : duty.text);
    noteMark(handle);
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
