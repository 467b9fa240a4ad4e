#include "PendingQuestion.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <TarvoCenterVendor/CenterVendor.h>

namespace tarvo::desk {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("tarvo::desk::MainWindow", text);
}

} // namespace

Settled settlePendingChanges(QWidget *parent, const CenterVendor &control, qint32 center,
                             const PendingQuestion &question,
                             const std::function<bool()> &saveFirst)
{
    if (!control.hasPendingChanges()) {
        return Settled::Proceed;
    }
    const int count = control.pendingChangeCount();
    const QString text = count == 1 ? tr("Center %1 has 1 change that is not committed.")
                                    : tr("Center %1 has %2 changes that are not committed.");
    // A short title of its own: a long center name in the title would widen the box.
    QMessageBox box(QMessageBox::Question, tr("Uncommitted changes"), text.arg(center).arg(count),
                    QMessageBox::NoButton, parent);
    box.setInformativeText(count == 1 ? question.one : question.many);
    QPushButton *save = box.addButton(tr("&Save first"), QMessageBox::AcceptRole);
    QPushButton *keep = question.offerKeep ? box.addButton(tr("Reload and &keep my changes"),
                                                           QMessageBox::ActionRole)
                                           : nullptr;
    QPushButton *discard = box.addButton(tr("&Discard"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == discard) {
        return Settled::Proceed;
    }
    if (keep != nullptr && box.clickedButton() == keep) {
        return Settled::KeepChanges;
    }
    return box.clickedButton() == save && saveFirst() ? Settled::Proceed : Settled::Cancel;
}

} // namespace tarvo::desk
