// The collision view: each assignment that both the user and someone else changed since the
// load, with both values and who changed it when, and the user's choice per row or for all.
#pragma once

#include "replay/Replay.h"

#include <QDialog>
#include <QString>
#include <vector>

class QComboBox;

namespace tarvo::merge {

struct CollisionRow
{
    QString vendorId;
    QString name;
    QString mine;      // the user's value
    QString theirs;    // the value the server holds now
    QString changedBy; // who changed it when; "" when the history does not say
};

class CollisionDialog : public QDialog
{
    Q_OBJECT
public:
    // reason: the server's own words on why the commit was refused, or "".
    CollisionDialog(const std::vector<CollisionRow> &rows, const QString &reason, QWidget *parent);

    // One choice per row, in the rows' order; every row starts as "Keep mine". Surprise:
    // closing the view (Esc) rejects it, and the caller then keeps mine for every row.
    std::vector<replay::Choice> choices() const;

private:
    void chooseAll(replay::Choice choice);

    std::vector<QComboBox *> m_boxes;
};

} // namespace tarvo::merge
