#include "HistoryPanel.h"

#include <QAction>
#include <QHash>
#include <QHeaderView>
#include <QTableWidget>

namespace tarvo::desk {

HistoryPanel::HistoryPanel(QWidget *parent)
    : QDockWidget(tr("History"), parent), m_table(new QTableWidget(0, 6, this))
{
    setObjectName(QStringLiteral("historyDock"));
    m_table->setObjectName(QStringLiteral("historyTable"));
    m_table->setHorizontalHeaderLabels(
        {tr("When"), tr("Who"), tr("Vendor"), tr("What"), tr("Old fee"), tr("New fee")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    setWidget(m_table);
    QAction *toggle = toggleViewAction();
    toggle->setObjectName(QStringLiteral("history"));
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(this, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (shown) {
            Q_EMIT opened();
        }
    });
}

void HistoryPanel::showRows(const QList<HistoryRow> &rows)
{
    static const QHash<QString, QString> actions = {{QStringLiteral("add"), tr("added")},
                                                    {QStringLiteral("update"), tr("fee changed")},
                                                    {QStringLiteral("remove"), tr("removed")}};
    m_table->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const HistoryRow &row = rows[r];
        const QStringList cells = {row.when,
                                   row.user,
                                   row.vendorId,
                                   actions.value(row.action, row.action),
                                   row.oldFee.isEmpty() ? QString()
                                                        : row.oldFee + QStringLiteral(" %"),
                                   row.fee.isEmpty() ? QString() : row.fee + QStringLiteral(" %")};
        for (int c = 0; c < cells.size(); ++c) {
            m_table->setItem(r, c, new QTableWidgetItem(cells[c]));
        }
    }
    m_table->resizeColumnsToContents();
}

} // namespace tarvo::desk
