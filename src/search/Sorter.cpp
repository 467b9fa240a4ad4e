#include "search/Sorter.h"

#include "list/VendorList.h"
#include "logic/Columns.h"

namespace tarvo::search {

using namespace tarvo::list;

void sortByHeader(VendorList &list, int index)
{
    // Ids sort by their zero-padded copy so that 9 comes before 10.
    const int column = index == logic::index(logic::Column::Id) + 1
                           ? logic::index(logic::Column::IdKey)
                           : index - 1;
    if (list.SortKey() == column) {
        list.SetSortOrder(list.SortOrder() == 0 ? 1 : 0);
    } else {
        list.SetSortKey(column);
    }
}

} // namespace tarvo::search
