#include "StatusFields.h"

#include "ElidedLabel.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

namespace tarvo::desk {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("tarvo::desk::MainWindow", text);
}

} // namespace

StatusFields::StatusFields(QStatusBar &bar)
    : m_counts(new QLabel), m_pending(new QLabel), m_commit(new ElidedLabel),
      m_commitBusy(new QProgressBar)
{
    m_counts->setObjectName(QStringLiteral("statusCounts"));
    m_counts->setAccessibleName(tr("Rows in the lists"));
    m_pending->setObjectName(QStringLiteral("statusPending"));
    m_pending->setAccessibleName(tr("Pending changes"));
    m_commit->setObjectName(QStringLiteral("statusCommit"));
    m_commit->setAccessibleName(tr("Last commit"));
    m_commit->setFullText(tr("No commit yet"));
    m_commitBusy->setObjectName(QStringLiteral("statusCommitBusy"));
    m_commitBusy->setAccessibleName(tr("Commit under way"));
    m_commitBusy->setRange(0, 0);
    m_commitBusy->setMaximumWidth(m_commitBusy->fontMetrics().horizontalAdvance(u'M') * 4);
    m_commitBusy->setTextVisible(false);
    m_commitBusy->hide();
    bool first = true;
    for (QLabel *label : {m_counts, m_pending, static_cast<QLabel *>(m_commit)}) {
        if (!first) {
            auto *line = new QFrame(&bar);
            line->setFrameShape(QFrame::VLine);
            line->setFrameShadow(QFrame::Sunken);
            bar.addPermanentWidget(line);
        }
        first = false;
        label->setContentsMargins(6, 0, 6, 0);
        if (label == m_commit) {
            bar.addPermanentWidget(m_commitBusy);
        }
        bar.addPermanentWidget(label, label == m_commit ? 1 : 0);
    }
}

void StatusFields::showCounts(int nonSelected, int selected)
{
    m_counts->setText(tr("Not selected: %1   Selected: %2").arg(nonSelected).arg(selected));
}

void StatusFields::showPending(int count)
{
    m_pending->setText(tr("Pending changes: %1").arg(count));
}

QString StatusFields::commitText() const
{
    return m_commit->fullText();
}

void StatusFields::showCommit(const QString &text, const QString &toolTip)
{
    m_commit->setFullText(text);
    m_commit->setToolTip(toolTip);
}

void StatusFields::showCommitBusy(bool busy)
{
    m_commitBusy->setVisible(busy);
}

} // namespace tarvo::desk
