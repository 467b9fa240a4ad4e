// The history panel: the shown center's latest changes, whoever made them, in a dock below
// the control (View > History, Ctrl+H).
#pragma once

#include "CenterWatch.h"

#include <QDockWidget>

class QTableWidget;

namespace tarvo::desk {

class HistoryPanel : public QDockWidget
{
    Q_OBJECT
public:
    explicit HistoryPanel(QWidget *parent = nullptr);

    // Replaces the rows shown, newest first.
    void showRows(const QList<HistoryRow> &rows);

Q_SIGNALS:
    // The panel was opened: its rows should be read again.
    void opened();

private:
    QTableWidget *m_table;
};

} // namespace tarvo::desk
