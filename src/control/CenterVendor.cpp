#include "Version.h"
#include "edit/FeeArea.h"
#include "edit/Mover.h"
#include "list/VendorList.h"
#include "list/VendorView.h"
#include "load/Loader.h"
#include "merge/Replayer.h"
#include "net/Transfer.h"
#include "save/Saver.h"
#include "screen/ControlState.h"
#include "screen/Messages.h"
#include "screen/Screen.h"
#include "search/Finder.h"
#include "search/Sorter.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <TarvoCenterVendor/CenterVendor.h>
#include <functional>

using namespace tarvo::edit;
using namespace tarvo::list;
using namespace tarvo::load;
namespace merge = tarvo::merge;
namespace replay = tarvo::replay;
using namespace tarvo::net;
using namespace tarvo::save;
using namespace tarvo::screen;
using namespace tarvo::search;

namespace {

// Text boxes raise no click or focus signals of their own; nor does a button that is enabled.
class BoxEvents : public QObject
{
public:
    BoxEvents(QObject *parent, QEvent::Type type, std::function<void()> handler)
        : QObject(parent), m_type(type), m_handler(std::move(handler))
    {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type) {
            m_handler();
        }
        return false;
    }

private:
    QEvent::Type m_type;
    std::function<void()> m_handler;
};

// Return and Escape in the fee box, while it is open for typing: Save, and leaving the edit.
class FeeBoxKeys : public QObject
{
public:
    FeeBoxKeys(QObject *parent, std::function<bool()> save, std::function<bool()> cancel)
        : QObject(parent), m_save(std::move(save)), m_cancel(std::move(cancel))
    {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return m_save();
        case Qt::Key_Escape:
            return m_cancel();
        default:
            return false;
        }
    }

private:
    std::function<bool()> m_save;
    std::function<bool()> m_cancel;
};

// Both lists show the id and the name; the other five columns are hidden carriers of the
// row's country id, fees, mark, date and sort key.
void addColumnHeaders(VendorList &list)
{
    const double w = list.WidthTwips();
    list.AddColumnHeader(QStringLiteral("ID"), w / 5);
    list.AddColumnHeader(QStringLiteral("Name"), w * 4 / 5);
    list.AddColumnHeader(QStringLiteral("CountryID"), 0);
    list.AddColumnHeader(QStringLiteral("Handling Fee"), 0);
    list.AddColumnHeader(QStringLiteral("Duty Brokerage Fee"), 0);
    list.AddColumnHeader(QStringLiteral("Date Updated"), 0);
    list.AddColumnHeader(QStringLiteral("ID"), 0);
}

// The save's transfer belongs to the control, not to the screen, which holds only what is shown.
Transfer *makeTransfer(QWidget *control)
{
    auto *transfer = new Transfer(control);
    transfer->setObjectName(QStringLiteral("Inet1"));
    return transfer;
}

} // namespace

// Hidden: the shared library exports the public class alone, not its private part.
struct Q_DECL_HIDDEN CenterVendor::Private
{
    explicit Private(CenterVendor *q)
        : q(q), ui(buildScreen(q)), Inet1(makeTransfer(q)),
          loader(ui.lists(), ui.commands(), ui.findArea(), ui.feedback(), fields),
          feeArea(ui.lists(), ui.commands(), ui.feeEditor(), ui.feedback()),
          mover(ui.lists(), ui.commands(), ui.feeEditor(), ui.findArea(), fields, feeArea,
                [this](int index) { chooseList(index); }),
          finder(ui.lists(), ui.findArea(), ui.feedback(), feeArea),
          saver(
              ui.lists(), ui.commands(), ui.feedback(), fields, *Inet1,
              [this] { this->q->LetDataFromDatabase(fields.mlCenterID, fields.mtServerName); },
              [this](const QString &reason) { return replayingReload(reason).outcome; }),
          replayer(
              ui.lists(), ui.feedback(), fields, [this] { return loadRows(); },
              [this](const QStringList &ids) { Q_EMIT this->q->collisionsFound(ids); })
    {}

    // One load into the rows, recorded as the state the pending changes start from.
    bool loadRows();
    // Tells the host when the loaded version moved.
    void noteVersion();
    // The replaying reload, with what it tells the host; loadFinished is left to the caller.
    merge::Replayer::Result replayingReload(const QString &reason);

    void UserControl_Initialize();
    void connectEvents();
    void chooseList(int index);
    // Tells the host what moved since the last action: the marked rows, the lists' row counts.
    void notePendingChanges();
    int markedRows() const;
    // Tells the host when "Commit to Database" became offered or withdrawn.
    void noteCanCommit();
    bool canCommit() const { return ui.cmdCommit->isEnabled() && !fields.committing; }
    // "Commit to Database", from its button or the host; a commit under way takes no second.
    void runCommit();
    VendorList &list(CenterVendor::List which) const
    {
        return which == CenterVendor::List::NonSelected ? *ui.lstVendors : *ui.lstVendorCenter;
    }

    // Handlers that end silently at their first failing step.
    void quietly(const std::function<void()> &handler);
    // Handlers without failure handling of their own: an unexpected error is reported, never
    // allowed to take the host down.
    void reporting(const std::function<void()> &handler);
    // Runs the command of the move buttons for rows dropped from the list from.
    void dropRows(const VendorList &from, const QStringList &ids, void (Mover::*single)(),
                  void (Mover::*several)());
    // Runs a load or a commit, which disable the control that may hold the keyboard: the
    // keyboard then goes to "Selected Vendors", the first Tab stop, rather than on to
    // whatever follows the control in its window.
    void keepingFocus(const std::function<void()> &action);

    CenterVendor *q;
    Screen ui;
    Transfer *Inet1; // a child of the control
    ControlFields fields;
    Loader loader;
    FeeArea feeArea;
    Mover mover;
    Finder finder;
    Saver saver;
    merge::Replayer replayer;
    // As the host was last told.
    int pendingCount = 0;
    QString version;
    std::pair<int, int> rowCounts{0, 0};
    bool commitOffered = false;
    tarvo::save::Failure lastCommit; // of the last commit
};

int CenterVendor::Private::markedRows() const
{
    return ui.lstVendors->markedCount() + ui.lstVendorCenter->markedCount();
}

void CenterVendor::Private::notePendingChanges()
{
    if (const std::pair rows{ui.lstVendors->Count(), ui.lstVendorCenter->Count()};
        rows != rowCounts) {
        rowCounts = rows;
        Q_EMIT q->rowCountsChanged(rows.first, rows.second);
    }
    const int count = markedRows();
    if (count == pendingCount) {
        return;
    }
    const bool wasPending = pendingCount > 0;
    pendingCount = count;
    if (wasPending != (count > 0)) {
        Q_EMIT q->pendingChangesChanged(count > 0);
    }
    Q_EMIT q->pendingChangeCountChanged(count);
}

void CenterVendor::Private::noteCanCommit()
{
    if (const bool offered = canCommit(); offered != commitOffered) {
        commitOffered = offered;
        Q_EMIT q->canCommitChanged(offered);
    }
}

void CenterVendor::Private::runCommit()
{
    if (fields.committing) {
        return;
    }
    Q_EMIT q->commitStarted();
    Saver::Commit commit;
    // What the host hears when the commit stops on an error of its own (already shown).
    commit.failure = {tarvo::save::FailureReason::OutcomeUnknown,
                      0,
                      {},
                      QStringLiteral("the commit stopped on an unexpected error")};
    keepingFocus([&] { reporting([&] { commit = saver.cmdCommit_Click(); }); });
    lastCommit = commit.failure;
    noteCanCommit();
    Q_EMIT q->commitFinished(commit.ok, commit.answer);
}

void CenterVendor::Private::UserControl_Initialize()
{
    ui.lstVendorCenter->SetFullRowSelect(true);
    addColumnHeaders(*ui.lstVendorCenter);
    ui.lstVendors->SetFullRowSelect(true);
    addColumnHeaders(*ui.lstVendors);
    ui.lblVersionNumber->setText(QStringLiteral("Version Number: %1.%2.%3")
                                     .arg(tarvo::version::major)
                                     .arg(tarvo::version::minor)
                                     .arg(tarvo::version::revision));
}

void CenterVendor::Private::quietly(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const std::exception &) {
        // The step that failed ends the handler; what it did before stays.
    }
    flushLists(ui.lists());
    nameFeeButton(ui);
    notePendingChanges();
}

void CenterVendor::Private::reporting(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const std::exception &error) {
        flushLists(ui.lists());
        showMessage(q, QString::fromUtf8(error.what()), vbCritical);
    }
    flushLists(ui.lists());
    nameFeeButton(ui);
    notePendingChanges();
}

namespace {
QStringList selectedIds(const VendorList &list)
{
    QStringList ids;
    const int count = list.Count();
    for (int i = 1; i <= count; ++i) {
        if (list.Selected(i)) {
            ids << list.Text(i);
        }
    }
    return ids;
}
} // namespace

void CenterVendor::Private::dropRows(const VendorList &from, const QStringList &ids,
                                     void (Mover::*single)(), void (Mover::*several)())
{
    // A commit's reload may have replaced the dragged rows while the mouse was on its way, and
    // a move made while the commit waits for the server would be lost by that reload: only
    // rows that are still the source's selection move, and never during a commit.
    if (fields.committing || ids.isEmpty() || selectedIds(from) != ids) {
        return;
    }
    if (ids.size() > 1) {
        reporting([&] { (mover.*several)(); });
        return;
    }
    // The single move takes the current row, which must be the dragged one.
    const int current = from.SelectedItem();
    if (current > 0 && from.Text(current) == ids.front()) {
        quietly([&] { (mover.*single)(); });
    }
}

void CenterVendor::Private::keepingFocus(const std::function<void()> &action)
{
    const QWidget *before = QApplication::focusWidget();
    const bool inside = before != nullptr && q->isAncestorOf(before);
    if (inside && before == ui.cmdCommit) {
        // The commit disables its button first; Qt would pass the keyboard on right then.
        ui.lstVendorCenter->SetFocus();
    }
    action();
    const QWidget *after = QApplication::focusWidget();
    if (inside && (after == nullptr || !q->isAncestorOf(after) || !after->isEnabled())) {
        ui.lstVendorCenter->SetFocus();
    }
}

void CenterVendor::Private::chooseList(int index)
{
    ui.optList[static_cast<std::size_t>(index)]->setChecked(true);
    finder.optList_Click(index);
}

void CenterVendor::Private::connectEvents()
{
    auto *vendors = ui.lstVendors->view();
    auto *center = ui.lstVendorCenter->view();
    auto quiet = [this](auto member) {
        return [this, member] { quietly([&] { (mover.*member)(); }); };
    };

    QObject::connect(vendors, &VendorView::Click, q,
                     [this] { reporting([&] { feeArea.lstVendors_Click(); }); });
    QObject::connect(vendors, &VendorView::DblClick, q, quiet(&Mover::lstVendors_DblClick));
    QObject::connect(vendors, &VendorView::ColumnClick, q,
                     [this](int index) { quietly([&] { sortByHeader(*ui.lstVendors, index); }); });
    QObject::connect(center, &VendorView::Click, q,
                     [this] { quietly([&] { feeArea.lstVendorCenter_Click(); }); });
    QObject::connect(center, &VendorView::DblClick, q, quiet(&Mover::lstVendorCenter_DblClick));
    QObject::connect(center, &VendorView::MouseUp, q, [this](int button, const QPoint &pos) {
        quietly([&] { mover.lstVendorCenter_MouseUp(button, pos); });
    });
    QObject::connect(center, &VendorView::ColumnClick, q, [this](int index) {
        quietly([&] { sortByHeader(*ui.lstVendorCenter, index); });
    });
    QObject::connect(center, &VendorView::DeleteKey, q, quiet(&Mover::mnuRemoveItems_Click));

    vendors->acceptDropsFrom(center);
    center->acceptDropsFrom(vendors);
    QObject::connect(center, &VendorView::RowsDropped, q, [this](const QStringList &ids) {
        dropRows(*ui.lstVendors, ids, &Mover::cmdAdd_Click, &Mover::cmdAddAll_Click);
    });
    QObject::connect(vendors, &VendorView::RowsDropped, q, [this](const QStringList &ids) {
        dropRows(*ui.lstVendorCenter, ids, &Mover::cmdDelete_Click, &Mover::cmdRemoveAll_Click);
    });

    QObject::connect(ui.cmdAdd, &QPushButton::clicked, q, quiet(&Mover::cmdAdd_Click));
    QObject::connect(ui.cmdDelete, &QPushButton::clicked, q, quiet(&Mover::cmdDelete_Click));
    QObject::connect(ui.mnuRemoveItems, &QAction::triggered, q,
                     quiet(&Mover::mnuRemoveItems_Click));
    QObject::connect(ui.cmdAddAll, &QPushButton::clicked, q,
                     [this] { reporting([&] { mover.cmdAddAll_Click(); }); });
    QObject::connect(ui.cmdRemoveAll, &QPushButton::clicked, q,
                     [this] { reporting([&] { mover.cmdRemoveAll_Click(); }); });
    QObject::connect(ui.cmdcenterHandFee, &QPushButton::clicked, q,
                     [this] { reporting([&] { feeArea.cmdcenterHandFee_Click(); }); });
    QObject::connect(ui.cmdCommit, &QPushButton::clicked, q, [this] { runCommit(); });
    // Also when the control itself is enabled or disabled: the button then follows.
    ui.cmdCommit->installEventFilter(
        new BoxEvents(q, QEvent::EnabledChange, [this] { noteCanCommit(); }));
    QObject::connect(Inet1, &Transfer::StateChanged, q,
                     [this](int state) { reporting([&] { saver.Inet1_StateChanged(state); }); });
    QObject::connect(ui.cmdFind, &QPushButton::clicked, q,
                     [this] { reporting([&] { finder.cmdFind_Click(); }); });

    for (int i = 0; i < 2; ++i) {
        const auto at = static_cast<std::size_t>(i);
        QObject::connect(ui.optFind[at], &QRadioButton::clicked, q,
                         [this, i] { reporting([&] { finder.optFind_Click(i); }); });
        QObject::connect(ui.optList[at], &QRadioButton::clicked, q,
                         [this, i] { reporting([&] { finder.optList_Click(i); }); });
    }
    QObject::connect(ui.txtVendorID, &QLineEdit::textChanged, q,
                     [this] { finder.txtVendorID_Change(); });
    QObject::connect(ui.txtVendorName, &QLineEdit::textChanged, q,
                     [this] { finder.txtVendorName_Change(); });
    ui.txtVendorID->installEventFilter(new BoxEvents(
        q, QEvent::MouseButtonRelease, [this] { reporting([&] { finder.txtVendorID_Click(); }); }));
    ui.txtVendorName->installEventFilter(new BoxEvents(q, QEvent::MouseButtonRelease, [this] {
        reporting([&] { finder.txtVendorName_Click(); });
    }));
    ui.txtCntHandFee->installEventFilter(
        new BoxEvents(q, QEvent::FocusIn, [this] { feeArea.txtCntHandFee_GotFocus(); }));
    ui.txtCntHandFee->installEventFilter(new FeeBoxKeys(
        q,
        [this] {
            bool saved = false;
            reporting([&] { saved = feeArea.saveFromBox(); });
            return saved;
        },
        [this] {
            bool cancelled = false;
            quietly([&] { cancelled = feeArea.cancelEdit(); });
            return cancelled;
        }));
}

CenterVendor::CenterVendor(QWidget *parent) : QWidget(parent), d(std::make_unique<Private>(this))
{
    d->UserControl_Initialize();
    d->connectEvents();
}

CenterVendor::~CenterVendor() = default;

QVariant CenterVendor::LetDataFromDatabase(qint32 plCenterID, const QString &ptServerName)
{
    bool ok = false;
    d->keepingFocus([&] {
        d->feeArea.rowsReloaded();
        nameFeeButton(d->ui);
        ok = d->loader.load(plCenterID, ptServerName);
        flushLists(d->ui.lists());
    });
    d->notePendingChanges();
    d->noteVersion();
    Q_EMIT loadFinished(ok);
    return {};
}

bool CenterVendor::ReloadKeepingChanges()
{
    merge::Replayer::Result result;
    d->keepingFocus([&] { result = d->replayingReload({}); });
    Q_EMIT loadFinished(result.outcome != replay::Outcome::Failed);
    return result.outcome != replay::Outcome::Failed;
}

QString CenterVendor::loadedVersion() const
{
    return d->fields.loadedVersion;
}

bool CenterVendor::Private::loadRows()
{
    feeArea.rowsReloaded();
    nameFeeButton(ui);
    return loader.load(fields.mlCenterID, {});
}

void CenterVendor::Private::noteVersion()
{
    if (version != fields.loadedVersion) {
        version = fields.loadedVersion;
        Q_EMIT q->loadedVersionChanged(version);
    }
}

merge::Replayer::Result CenterVendor::Private::replayingReload(const QString &reason)
{
    auto result = replayer.reloadKeepingChanges(reason);
    flushLists(ui.lists());
    nameFeeButton(ui);
    if (markedRows() > 0) {
        // The fresh rows carry changes still to be committed.
        ui.cmdCommit->setEnabled(true);
    }
    notePendingChanges();
    noteVersion();
    if (result.outcome == replay::Outcome::Collision) {
        Q_EMIT q->collisionsResolved(result.keptMine, result.tookTheirs);
    }
    return result;
}

void CenterVendor::SaveToDatabase()
{
    d->saver.SaveToDatabase();
    flushLists(d->ui.lists());
}

QString CenterVendor::urlEncode(const QString &theData)
{
    return urlEncoded(theData);
}

bool CenterVendor::hasPendingChanges() const
{
    return d->markedRows() > 0;
}

int CenterVendor::pendingChangeCount() const
{
    return d->markedRows();
}

// The loader's reasons and the public ones are one list kept in the same order.
static_assert(int(CenterVendor::LoadFailureReason::BadAnswer) ==
              int(tarvo::load::FailureReason::BadAnswer));
static_assert(int(CenterVendor::LoadFailureReason::NotSignedIn) ==
              int(tarvo::load::FailureReason::NotSignedIn));
static_assert(int(CenterVendor::LoadFailureReason::KeptChanging) ==
              int(tarvo::load::FailureReason::KeptChanging));

CenterVendorLoadFailure CenterVendor::loadFailure() const
{
    const tarvo::load::Failure &failure = d->loader.failure();
    return {static_cast<LoadFailureReason>(failure.reason), failure.httpStatus, failure.detail};
}

// The save's reasons and the public ones are one list kept in the same order.
static_assert(int(CenterVendor::CommitFailureReason::Refused) ==
              int(tarvo::save::FailureReason::Refused));
static_assert(int(CenterVendor::CommitFailureReason::BatchNotBuilt) ==
              int(tarvo::save::FailureReason::BatchNotBuilt));

CenterVendorCommitFailure CenterVendor::commitFailure() const
{
    const tarvo::save::Failure &failure = d->lastCommit;
    return {static_cast<CommitFailureReason>(failure.reason), failure.httpStatus,
            failure.serverText, failure.detail};
}

void CenterVendor::commit()
{
    // click() does nothing on a disabled button, as a user's click would.
    d->ui.cmdCommit->click();
}

bool CenterVendor::canCommit() const
{
    return d->canCommit();
}

int CenterVendor::nonSelectedRows() const
{
    return d->rowCounts.first;
}

int CenterVendor::selectedRows() const
{
    return d->rowCounts.second;
}

void CenterVendor::focusList(List which)
{
    if (VendorView *view = d->list(which).view(); view->isEnabled()) {
        view->setFocus(Qt::OtherFocusReason);
    }
}

bool CenterVendor::listHasFocus(List which) const
{
    const QWidget *focus = QApplication::focusWidget();
    return focus != nullptr && focus == d->list(which).view();
}
