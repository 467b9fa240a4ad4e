// The question before pending changes would be thrown away: Save first, Discard, Cancel, and
// for a reload of the same center also "Reload and keep my changes".
#pragma once

#include <QString>
#include <functional>

class CenterVendor;
class QWidget;

namespace tarvo::desk {

enum class Settled { Proceed, KeepChanges, Cancel };

struct PendingQuestion
{
    QString one;  // asked when one change is pending
    QString many; // asked when several are
    bool offerKeep = false;
};

// Proceed at once when nothing is pending; otherwise asks over `parent`. Save first runs
// `saveFirst` and proceeds only when it saved. Surprise: a box closed by Escape is Cancel.
Settled settlePendingChanges(QWidget *parent, const CenterVendor &control, qint32 center,
                             const PendingQuestion &question,
                             const std::function<bool()> &saveFirst);

} // namespace tarvo::desk
