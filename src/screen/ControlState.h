// The control's own fields beyond its child controls.
#pragma once

#include <QString>
#include <cstdint>

namespace tarvo::screen {

struct ControlFields
{
    QString mtServerName;
    std::int32_t mlCenterID = 0;
    std::int16_t miCenterCode = 0;
    std::int16_t miNonSelectedCount = 0;
    std::int16_t miSelectedCount = 0;
    std::int16_t miLoadedRows = 0;
    // The center's version the lists were loaded at (the answers' ETag); "" when the server
    // gives none. Sent as If-Match with the commit.
    QString loadedVersion;
    // True from the start of a commit's save until its reload; moves are refused meanwhile.
    bool committing = false;
};

} // namespace tarvo::screen
