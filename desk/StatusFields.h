// The status bar's fields: the lists' row counts, the pending changes, the last commit's answer
// and a busy sign while a commit waits.
#pragma once

#include <QString>

class QLabel;
class QProgressBar;
class QStatusBar;

namespace tarvo::desk {

class ElidedLabel;

class StatusFields
{
public:
    // Adds the fields to `bar`, which owns them.
    explicit StatusFields(QStatusBar &bar);

    void showCounts(int nonSelected, int selected);
    void showPending(int count);
    // The last commit's field, whole also where the field shortens it.
    QString commitText() const;
    void showCommit(const QString &text, const QString &toolTip = {});
    void showCommitBusy(bool busy);

private:
    QLabel *m_counts;
    QLabel *m_pending;
    ElidedLabel *m_commit;
    QProgressBar *m_commitBusy;
};

} // namespace tarvo::desk
