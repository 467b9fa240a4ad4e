// The list contract's text columns over the typed rows: 1-based rows, column 0 the id and 1..6
// the sub-items, each cell as the list shows it (logic/RowText writes and reads the typed
// values behind the texts).
#include "list/TextOrder.h"
#include "list/VendorList.h"
#include "list/VendorListModel.h"

namespace tarvo::list {

namespace {

QString qstring(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string_view utf8View(const QByteArray &utf8)
{
    return {utf8.constData(), static_cast<std::size_t>(utf8.size())};
}

} // namespace

int VendorList::Add(const QString &text)
{
    logic::Row row;
    row.id = text.toStdString();
    return AddRow(row);
}

QString VendorList::Text(int index) const
{
    return qstring(id(index));
}

std::string_view VendorList::Utf8(int index, int k, logic::CellBuffer &out) const
{
    requireColumn(k, 0);
    return m_store.text(handle(index), k, out);
}

QString VendorList::SubItem(int index, int k) const
{
    requireColumn(k, 1);
    logic::CellBuffer buffer;
    return qstring(Utf8(index, k, buffer));
}

void VendorList::SetSubItem(int index, int k, const QString &text)
{
    requireColumn(k, 1);
    const Handle h = handle(index);
    m_store.setText(h, k, utf8View(text.toUtf8()));
    m_model->cellChanged(index - 1, k);
}

int VendorList::FindItem(const QString &text) const
{
    const QByteArray utf8 = text.toUtf8();
    const std::string_view wanted = utf8View(utf8);
    return firstRow([&](Handle h) { return compareFolded(m_store.plainText(h, 0), wanted) == 0; });
}

int VendorList::FindExact(int column, std::string_view text) const
{
    requireColumn(column, 0);
    logic::CellBuffer buffer;
    return firstRow([&](Handle h) { return m_store.text(h, column, buffer) == text; });
}

int VendorList::FindContaining(int column, const QString &text) const
{
    requireColumn(column, 0);
    const FoldedNeedle needle(text);
    logic::CellBuffer buffer;
    return firstRow([&](Handle h) { return needle.foundIn(m_store.text(h, column, buffer)); });
}

} // namespace tarvo::list
