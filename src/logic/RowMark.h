// The row mark: the suffix after the duty value in column 4 that records what the next commit
// must write for a row. Pure logic.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::logic {

enum class Move {
    Add,       // lstVendors -> lstVendorCenter
    Remove,    // lstVendorCenter -> lstVendors
    FeeUpdate, // a stored fee on a row of lstVendorCenter
};

// What a row's column 4 says about the next commit (for display only).
enum class Mark {
    None,           // numeric: nothing to write
    New,            // "N": insert
    Updated,        // "U" (not "DU"): update
    Deleted,        // "D": delete
    DeletedUpdated, // "DU": delete
    Unknown,        // any other non-numeric text, the empty text included
};

// Column 4 of the row a move produces from the source row's column 4; total over all texts
// (a text that loaded data cannot produce gives "" for moves, itself for a fee update).
std::string transition(Move move, std::string_view source);

// Unmarked means numeric (blanks around allowed); the empty text is marked.
bool isUnmarked(std::string_view column4);

// The last character after blanks at both ends are removed, or '\0' for a blank text.
char markChar(std::string_view column4);

// Classifies column 4 for display.
Mark markOf(std::string_view column4);

} // namespace tarvo::logic
