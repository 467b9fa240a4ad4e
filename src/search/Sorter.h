// Column sorting: a header click sorts its list by that column; the same column again
// reverses the direction.
#pragma once

namespace tarvo::list {
class VendorList;
}

namespace tarvo::search {

using list::VendorList;

// index is the 1-based header; the visible "ID" header (1) stands for the padded id column.
void sortByHeader(VendorList &list, int index);

} // namespace tarvo::search
