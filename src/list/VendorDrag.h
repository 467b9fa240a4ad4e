// What a drag of vendor rows carries between the two lists of one control: the ids of the
// dragged rows and which view they left, in a private MIME type that nothing else writes.
#pragma once

#include <QStringList>
#include <optional>

class QMimeData;
class QWidget;

namespace tarvo::list {

inline constexpr auto MimeType = "application/x-tarvocentervendor-rows";

// The caller owns the result (a QDrag takes it over).
QMimeData *encode(const QWidget *source, const QStringList &ids);

// Whether data holds rows dragged from source in this process; cheap enough for every move
// of the mouse, as it reads none of the ids.
bool comesFrom(const QMimeData *data, const QWidget *source);

// The dragged ids, in the order they were encoded, when data holds rows dragged from source
// in this process; nothing for any other data, also data cut short or with trailing bytes.
std::optional<QStringList> idsFrom(const QMimeData *data, const QWidget *source);

} // namespace tarvo::list
