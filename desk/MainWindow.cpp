#include "MainWindow.h"

#include "CenterBox.h"
#include "ConnectionDialog.h"
#include "CredentialsDialog.h"
#include "ElidedLabel.h"
#include "MessageBar.h"
#include "StaffTexts.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <TarvoCenterVendor/CenterVendor.h>
#include <algorithm>
#include <cstdio>

namespace tarvo::desk {

namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kLastServerKey = QStringLiteral("last/server");
const QString kLastCenterKey = QStringLiteral("last/center");
constexpr int kSlowCommitMs = 1000;

QAbstractItemView *listOf(CenterVendor *control, const char *list)
{
    return control->findChild<QAbstractItemView *>(QString::fromLatin1(list));
}

int rowsOf(CenterVendor *control, const char *list)
{
    const auto *view = listOf(control, list);
    return view && view->model() ? view->model()->rowCount() : 0;
}

// Which kind of message the bar holds, so that the end of a load clears only a load's message.
const char *const kTopic = "topic";
enum class Topic { Load, Commit, Keyring, Connection, Changed };

// History rows read for the panel and for counting others' changes since the load.
constexpr int kHistoryRows = 50;

} // namespace

MainWindow::MainWindow(QSettings &settings, PasswordStore &passwords, QWidget *parent)
    : QMainWindow(parent), m_settings(settings),
      m_access(
          settings, passwords,
          [this](const QString &server, const QString &user, bool rejected, const QString &note) {
              return CredentialsDialog::ask(this, server, user, rejected, note);
          }),
      m_control(new CenterVendor), m_centerBox(new CenterBox), m_bar(new MessageBar),
      m_counts(new QLabel), m_pending(new QLabel), m_commit(new ElidedLabel),
      m_commitBusy(new QProgressBar),
      m_watch(new CenterWatch(
          [this](const QString &query) {
              return pageRequest(m_server, query, m_access.credentials(m_server));
          },
          this))
{
    // The control places its children at fixed positions: a smaller window scrolls it.
    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("controlArea"));
    scroll->setWidget(m_control);
    scroll->setAlignment(Qt::AlignCenter);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_bar);
    layout->addWidget(scroll, 1);
    setCentralWidget(central);

    m_bar->installEventFilter(this);
    buildActions();
    buildStatusBar();
    buildHistory();
    connect(m_control, &CenterVendor::loadFinished, this, &MainWindow::loaded);
    // The control's own commits move the version it loaded: they are not someone else's.
    connect(m_control, &CenterVendor::loadedVersionChanged, this, &MainWindow::watchLoadedVersion);
    connect(m_watch, &CenterWatch::changed, this, &MainWindow::centerChanged);
    // The count as the control tells it: read in the middle of a move (when the lists' row
    // signals come), the lists can still hold the moving row twice.
    connect(m_control, &CenterVendor::pendingChangeCountChanged, this, &MainWindow::showPending);
    connect(m_control, &CenterVendor::commitFinished, this, &MainWindow::commitEnded);
    // The button's own handler runs the whole commit inside its click; released comes first.
    connect(commitButton(), &QPushButton::released, this, &MainWindow::commitStarting);
    commitButton()->installEventFilter(this);
    for (const char *list : {"lstVendors", "lstVendorCenter"}) {
        auto *model = listOf(m_control, list)->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, &MainWindow::updateStatus);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &MainWindow::updateStatus);
        connect(model, &QAbstractItemModel::modelReset, this, &MainWindow::updateStatus);
    }
    connect(&m_access, &ServerAccess::passwordNotKept, this,
            [this](const QString &server, const QString &why) {
                m_bar->showMessage(
                    MessageBar::Kind::Warning,
                    tr("Your password for %1 could not be remembered: this desktop has no "
                       "usable keyring. You are signed in until the application closes, and "
                       "will be asked again next time.")
                        .arg(server),
                    {}, why);
                m_bar->setProperty(kTopic, int(Topic::Keyring));
            });

    if (!restoreGeometry(m_settings.value(kGeometryKey).toByteArray())) {
        // Room for the control and the bars around it, nothing more.
        const int bars = menuBar()->sizeHint().height() +
                         findChild<QToolBar *>(QStringLiteral("centerBar"))->sizeHint().height() +
                         statusBar()->sizeHint().height();
        resize(m_control->width() + 16, m_control->height() + bars + 16);
    }
    updateStatus();
    showPending(m_control->pendingChangeCount());
    updateTitle();
    updateActions();
}

MainWindow::~MainWindow() = default;

QPushButton *MainWindow::commitButton() const
{
    return m_control->findChild<QPushButton *>(QStringLiteral("cmdCommit"));
}

void MainWindow::buildActions()
{
    m_connect = new QAction(tr("&Connect..."), this);
    m_connect->setObjectName(QStringLiteral("connect"));
    m_connect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(m_connect, &QAction::triggered, this, &MainWindow::chooseConnection);
    m_reload = new QAction(tr("&Reload"), this);
    m_reload->setObjectName(QStringLiteral("reload"));
    m_reload->setShortcut(QKeySequence(Qt::Key_F5));
    connect(m_reload, &QAction::triggered, this, &MainWindow::reload);
    m_commitAction = new QAction(tr("Co&mmit to Database"), this);
    m_commitAction->setObjectName(QStringLiteral("commit"));
    m_commitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(m_commitAction, &QAction::triggered, this, &MainWindow::commit);
    m_retry = new QAction(tr("&Retry"), this);
    m_retry->setObjectName(QStringLiteral("retry"));
    connect(m_retry, &QAction::triggered, this, [this] {
        if (m_failed) {
            openCenter(m_failed->first, m_failed->second);
        }
    });
    m_reloadKeeping = new QAction(tr("Reload and &keep my changes"), this);
    m_reloadKeeping->setObjectName(QStringLiteral("reloadKeeping"));
    connect(m_reloadKeeping, &QAction::triggered, this, &MainWindow::reloadKeepingChanges);
    auto *quit = new QAction(tr("&Quit"), this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    auto *file = menuBar()->addMenu(tr("&File"));
    file->addAction(m_connect);
    file->addAction(m_reload);
    file->addAction(m_reloadKeeping);
    file->addAction(m_commitAction);
    file->addSeparator();
    file->addAction(quit);

    auto *bar = addToolBar(tr("Center"));
    bar->setObjectName(QStringLiteral("centerBar"));
    bar->setMovable(false);
    bar->addAction(m_connect);
    bar->addSeparator();
    auto *label = new QLabel(tr("C&enter:"), bar);
    label->setBuddy(m_centerBox);
    label->setContentsMargins(4, 0, 4, 0);
    bar->addWidget(label);
    m_centerBox->setObjectName(QStringLiteral("centerBox"));
    bar->addWidget(m_centerBox);
    bar->addAction(m_reload);
    connect(m_centerBox, &QComboBox::activated, this, &MainWindow::centerChosen);
    connect(m_centerBox->lineEdit(), &QLineEdit::returnPressed, this, &MainWindow::centerChosen);
}

void MainWindow::buildStatusBar()
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
            auto *line = new QFrame(statusBar());
            line->setFrameShape(QFrame::VLine);
            line->setFrameShadow(QFrame::Sunken);
            statusBar()->addPermanentWidget(line);
        }
        first = false;
        label->setContentsMargins(6, 0, 6, 0);
        if (label == m_commit) {
            statusBar()->addPermanentWidget(m_commitBusy);
        }
        statusBar()->addPermanentWidget(label, label == m_commit ? 1 : 0);
    }
}

void MainWindow::start(const QString &server, std::optional<qint32> center)
{
    if (!server.isEmpty() && center) {
        openCenter(server, *center);
        return;
    }
    const QString lastServer = m_settings.value(kLastServerKey).toString();
    std::optional<qint32> lastCenter;
    if (m_settings.contains(kLastCenterKey)) {
        lastCenter = m_settings.value(kLastCenterKey).toInt();
    }
    ConnectionDialog dialog(m_settings, m_access, this);
    dialog.preset(server.isEmpty() ? lastServer : server, center ? center : lastCenter);
    centreOn(dialog, this);
    if (dialog.exec() == QDialog::Accepted && dialog.center()) {
        openCenter(dialog.server(), *dialog.center());
    } else if (!m_shown) {
        m_bar->showMessage(MessageBar::Kind::Information,
                           tr("Not connected: choose a server and a center."), {m_connect});
        m_bar->setProperty(kTopic, int(Topic::Connection));
    }
}

void MainWindow::chooseConnection()
{
    start({}, std::nullopt);
}

void MainWindow::reload()
{
    if (m_shown) {
        openCenter(m_server, m_center);
    }
}

void MainWindow::reloadKeepingChanges()
{
    if (!m_shown || m_busy || m_committing) {
        return;
    }
    if (m_bar->property(kTopic).toInt() == int(Topic::Changed)) {
        m_bar->clear();
    }
    m_control->ReloadKeepingChanges();
}

void MainWindow::commit()
{
    if (QPushButton *button = commitButton(); button->isEnabled() && !m_committing) {
        button->click();
    }
}

bool MainWindow::openCenter(const QString &server, qint32 center)
{
    if (const QString problem = serverNameProblem(server); !problem.isEmpty()) {
        m_failed.reset();
        m_bar->showMessage(MessageBar::Kind::Error,
                           tr("Center %1 was not opened: \"%2\" is not a server name. %3")
                               .arg(center)
                               .arg(server, problem),
                           {m_connect});
        m_bar->setProperty(kTopic, int(Topic::Connection));
        return false;
    }
    const QString plain = plainServerName(server);
    if (m_opening && *m_opening == std::pair(plain, center)) {
        return true;
    }
    const bool again = m_shown && plain == m_server && center == m_center;
    const Settled settled =
        again ? settle(tr("Save it before reloading, or keep it on the reloaded lists?"),
                       tr("Save them before reloading, or keep them on the reloaded lists?"),
                       !m_loadFailed)
              : settle(tr("Save it before opening center %1?").arg(center),
                       tr("Save them before opening center %1?").arg(center), false);
    if (settled == Settled::Cancel) {
        m_centerBox->showCenter(m_center);
        return false;
    }
    if (settled == Settled::KeepChanges) {
        reloadKeepingChanges();
        return true;
    }
    const QWidget *focus = QApplication::focusWidget();
    m_focusBeforeLoad = focus && focus == listOf(m_control, "lstVendors")
                            ? listOf(m_control, "lstVendors")
                            : nullptr;
    m_opening = std::pair(plain, center);
    setBusy(true);
    m_bar->showMessage(MessageBar::Kind::Information,
                       tr("Connecting to %1 for center %2...").arg(plain).arg(center));
    m_bar->setProperty(kTopic, int(Topic::Load));
    m_access.reach(server,
                   [this, plain, center](const CenterList &list) { reached(plain, center, list); });
    return true;
}

void MainWindow::reached(const QString &server, qint32 center, const CenterList &list)
{
    m_opening.reset();
    setBusy(false);
    if (list.status == CenterList::Status::NeedsCredentials) {
        m_failed = std::pair(server, center);
        m_bar->showMessage(MessageBar::Kind::Warning,
                           tr("Center %1 was not opened: %2 asks for a user name and password.")
                               .arg(center)
                               .arg(server),
                           {m_retry}, list.message);
        m_bar->setProperty(kTopic, int(Topic::Load));
        m_centerBox->showCenter(m_center);
        return;
    }
    if (list.status == CenterList::Status::Ok) {
        m_centerBox->setCenters(list.centers);
    } else if (server != m_server) {
        m_centerBox->setCenters({});
    }
    m_server = server;
    m_center = center;
    m_centerBox->showCenter(center);
    m_control->LetDataFromDatabase(center, m_access.controlServerName(server));
}

void MainWindow::loaded(bool ok)
{
    m_shown = true;
    m_loadFailed = !ok;
    // Partly read lists must not look like the center: they stay visible but cannot be used.
    m_control->setEnabled(ok);
    if (ok) {
        m_failed.reset();
        if (m_bar->property(kTopic).toInt() == int(Topic::Load) ||
            m_bar->property(kTopic).toInt() == int(Topic::Connection)) {
            m_bar->clear();
        }
        m_settings.setValue(kLastServerKey, m_server);
        m_settings.setValue(kLastCenterKey, m_center);
        ConnectionDialog::addRecentServer(m_settings, m_server);
    } else {
        const CenterVendor::LoadFailure failure = m_control->loadFailure();
        m_failed = std::pair(m_server, m_center);
        m_bar->showMessage(MessageBar::Kind::Error, loadFailureText(failure, m_center, m_server),
                           {m_retry, m_connect}, failure.detail);
        m_bar->setProperty(kTopic, int(Topic::Load));
    }
    updateTitle();
    updateStatus();
    updateActions();
    watchLoadedVersion();
    if (ok) {
        focusList();
    } else if (!m_bar->actionButtons().isEmpty()) {
        m_bar->actionButtons().front()->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::buildHistory()
{
    auto *dock = new QDockWidget(tr("History"), this);
    dock->setObjectName(QStringLiteral("historyDock"));
    m_history = new QTableWidget(0, 6, dock);
    m_history->setObjectName(QStringLiteral("historyTable"));
    m_history->setHorizontalHeaderLabels(
        {tr("When"), tr("Who"), tr("Vendor"), tr("What"), tr("Old fee"), tr("New fee")});
    m_history->verticalHeader()->hide();
    m_history->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_history->horizontalHeader()->setStretchLastSection(true);
    dock->setWidget(m_history);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->hide();
    QAction *toggle = dock->toggleViewAction();
    toggle->setObjectName(QStringLiteral("history"));
    toggle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    menuBar()->addMenu(tr("&View"))->addAction(toggle);
    connect(dock, &QDockWidget::visibilityChanged, this, [this](bool shown) {
        if (shown && m_shown) {
            m_watch->readHistory(m_center, kHistoryRows, [this](const auto &rows) {
                if (rows) {
                    showHistory(*rows);
                }
            });
        }
    });
}

void MainWindow::showHistory(const QList<HistoryRow> &rows)
{
    static const QHash<QString, QString> actions = {{QStringLiteral("add"), tr("added")},
                                                    {QStringLiteral("update"), tr("fee changed")},
                                                    {QStringLiteral("remove"), tr("removed")}};
    m_history->setRowCount(static_cast<int>(rows.size()));
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
            m_history->setItem(r, c, new QTableWidgetItem(cells[c]));
        }
    }
    m_history->resizeColumnsToContents();
}

void MainWindow::watchLoadedVersion()
{
    if (m_bar->property(kTopic).toInt() == int(Topic::Changed)) {
        m_bar->clear();
    }
    m_watch->watch(m_center, m_loadFailed ? QString() : m_control->loadedVersion());
    m_historyTop.reset();
    if (m_control->loadedVersion().isEmpty()) {
        return;
    }
    const qint32 center = m_center;
    m_watch->readHistory(center, kHistoryRows, [this, center](const auto &rows) {
        if (rows && center == m_center) {
            m_historyTop = rows->isEmpty() ? std::nullopt : std::optional(rows->front());
            showHistory(*rows);
        }
    });
}

void MainWindow::centerChanged()
{
    const qint32 center = m_center;
    m_watch->readHistory(center, kHistoryRows, [this, center](const auto &rows) {
        if (center != m_center || m_committing) {
            return;
        }
        QString text = tr("Someone else changed center %1 since you loaded it.").arg(center);
        if (rows) {
            showHistory(*rows);
            const ChangesSince changes = changesSince(*rows, m_historyTop);
            if (!changes.users.isEmpty()) {
                text = (changes.count == 1
                            ? tr("%1 changed center %2 since you loaded it (1 change).")
                            : tr("%1 changed center %2 since you loaded it (%3 changes)."))
                           .arg(QLocale().createSeparatedList(changes.users))
                           .arg(center)
                           .arg(changes.count);
            }
        }
        if (m_control->hasPendingChanges()) {
            text += u' ' + tr("Your changes are kept when you reload this way.");
        }
        m_bar->showMessage(MessageBar::Kind::Information, text, {m_reloadKeeping});
        m_bar->setProperty(kTopic, int(Topic::Changed));
    });
}

void MainWindow::focusList()
{
    QWidget *list = m_focusBeforeLoad ? m_focusBeforeLoad : listOf(m_control, "lstVendorCenter");
    if (list && list->isEnabled()) {
        list->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::centerChosen()
{
    const auto chosen = m_centerBox->chosenCenter();
    if (!chosen) {
        m_centerBox->showCenter(m_center);
        return;
    }
    if (m_server.isEmpty()) {
        chooseConnection();
        return;
    }
    if (!(m_shown && *chosen == m_center && !m_loadFailed)) {
        openCenter(m_server, *chosen);
    }
}

MainWindow::Settled MainWindow::settle(const QString &questionOne, const QString &questionMany,
                                       bool offerKeep)
{
    if (!m_control->hasPendingChanges()) {
        return Settled::Proceed;
    }
    const int count = m_control->pendingChangeCount();
    const QString text = count == 1 ? tr("Center %1 has 1 change that is not committed.")
                                    : tr("Center %1 has %2 changes that are not committed.");
    // A short title of its own: a long center name in the title would widen the box.
    QMessageBox box(QMessageBox::Question, tr("Uncommitted changes"), text.arg(m_center).arg(count),
                    QMessageBox::NoButton, this);
    box.setInformativeText(count == 1 ? questionOne : questionMany);
    QPushButton *save = box.addButton(tr("&Save first"), QMessageBox::AcceptRole);
    QPushButton *keep =
        offerKeep ? box.addButton(tr("Reload and &keep my changes"), QMessageBox::ActionRole)
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
    return box.clickedButton() == save && commitNow() ? Settled::Proceed : Settled::Cancel;
}

bool MainWindow::commitNow()
{
    QPushButton *commit = commitButton();
    if (!commit || !commit->isEnabled()) {
        m_bar->showMessage(MessageBar::Kind::Warning,
                           tr("Commit to Database is not available right now: nothing was "
                              "saved, and your changes are kept."));
        m_bar->setProperty(kTopic, int(Topic::Commit));
        return false;
    }
    // The commit runs to its end, reload included, inside click().
    std::optional<bool> saved;
    const auto connection =
        connect(m_control, &CenterVendor::commitFinished, this, [&saved](bool ok) { saved = ok; });
    commit->click();
    disconnect(connection);
    return saved.value_or(false);
}

void MainWindow::commitStarting()
{
    if (m_committing || !commitButton()->isEnabled()) {
        return;
    }
    m_committing = true;
    m_watch->setPaused(true);
    const QString before = m_commit->fullText();
    const int count = m_control->pendingChangeCount();
    m_commit->setFullText(count == 1
                              ? tr("Committing 1 change to %1...").arg(m_server)
                              : tr("Committing %1 changes to %2...").arg(count).arg(m_server));
    m_commitBusy->show();
    updateActions();
    // A commit the server answers at once needs no more than the status bar; one it keeps
    // waiting is said where it is seen.
    QTimer::singleShot(kSlowCommitMs, this, [this, count] {
        if (m_committing) {
            m_bar->showMessage(
                MessageBar::Kind::Information,
                count == 1
                    ? tr("Committing 1 change to %1: waiting for the server...").arg(m_server)
                    : tr("Committing %1 changes to %2: waiting for the server...")
                          .arg(count)
                          .arg(m_server));
            m_bar->setProperty(kTopic, int(Topic::Commit));
        }
    });
    // The button is disabled while the server is asked; the keyboard stays in the lists.
    focusList();
    // A press released off the button is no click: then no commit began.
    QTimer::singleShot(0, this, [this, before] {
        if (m_committing && commitButton()->isEnabled()) {
            commitEnded(true, {});
            m_commit->setFullText(before);
        }
    });
}

void MainWindow::commitEnded(bool ok, const QString &answer)
{
    m_committing = false;
    m_watch->setPaused(false);
    m_commitBusy->hide();
    if (ok) {
        const QString shown = answer.trimmed().isEmpty() ? tr("nothing to save") : answer.trimmed();
        m_commit->setFullText(tr("Last commit: %1").arg(shown));
        if (m_bar->property(kTopic).toInt() == int(Topic::Commit)) {
            m_bar->clear();
        }
    } else {
        const CommitText text = commitFailureText(answer, m_server);
        m_commit->setFullText(tr("Last commit failed: %1").arg(text.summary));
        m_commit->setToolTip(answer);
        m_bar->showMessage(MessageBar::Kind::Error, text.text, {m_commitAction}, answer);
        m_bar->setProperty(kTopic, int(Topic::Commit));
    }
    updateActions();
    updateStatus();
    if (!m_loadFailed && !m_control->isAncestorOf(QApplication::focusWidget())) {
        focusList();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!settlePendingChanges(tr("Save it before closing?"), tr("Save them before closing?"))) {
        event->ignore();
        return;
    }
    // The room the bar took is not the size the user chose.
    makeRoomForBar(false);
    m_settings.setValue(kGeometryKey, saveGeometry());
    event->accept();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::EnabledChange) {
        updateActions();
    }
    if (watched == m_bar && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        makeRoomForBar(event->type() == QEvent::Show);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::makeRoomForBar(bool shown)
{
    if (isMaximized() || isFullScreen()) {
        m_roomForBar = 0;
        return;
    }
    if (!shown) {
        if (m_roomForBar > 0) {
            resize(width(), height() - m_roomForBar);
            m_roomForBar = 0;
        }
        return;
    }
    if (m_roomForBar > 0) {
        return;
    }
    // Only what the control would lose: a window the user made taller already has room.
    const auto *area = findChild<QScrollArea *>(QStringLiteral("controlArea"));
    const int spare = area->viewport()->height() - m_control->height();
    int grow = m_bar->sizeHint().height() - std::max(0, spare);
    if (const QScreen *where = screen(); where != nullptr) {
        grow = std::min(grow, where->availableGeometry().bottom() - frameGeometry().bottom());
    }
    if (grow > 0) {
        m_roomForBar = grow;
        resize(width(), height() + grow);
    }
}

void MainWindow::setBusy(bool busy)
{
    m_busy = busy;
    // Lists left by a failed load stay out of use until a load completes.
    m_control->setEnabled(!busy && !m_loadFailed);
    updateActions();
}

void MainWindow::updateActions()
{
    const bool free = !m_busy && !m_committing;
    m_connect->setEnabled(free);
    m_reload->setEnabled(free && m_shown);
    m_reloadKeeping->setEnabled(free && m_shown && !m_loadFailed);
    m_centerBox->setEnabled(free);
    m_commitAction->setEnabled(free && m_control->isEnabled() && commitButton()->isEnabled());
}

void MainWindow::updateStatus()
{
    m_counts->setText(tr("Not selected: %1   Selected: %2")
                          .arg(rowsOf(m_control, "lstVendors"))
                          .arg(rowsOf(m_control, "lstVendorCenter")));
}

void MainWindow::showPending(int count)
{
    m_pending->setText(tr("Pending changes: %1").arg(count));
    updateActions();
}

void MainWindow::updateTitle()
{
    if (!m_shown) {
        setWindowTitle(tr("Center Vendors"));
        return;
    }
    QString center = QString::number(m_center);
    for (const CenterEntry &entry : m_centerBox->centers()) {
        if (entry.id == m_center) {
            center = CenterBox::caption(entry);
        }
    }
    setWindowTitle(m_loadFailed ? tr("Center %1 on %2 - not loaded, nothing shown - Center Vendors")
                                      .arg(center, m_server)
                                : tr("Center %1 on %2 - Center Vendors").arg(center, m_server));
}

namespace {

class FirstExposure : public QObject
{
public:
    FirstExposure(QWindow *window, std::function<void()> run)
        : QObject(window), m_run(std::move(run))
    {
        window->installEventFilter(this);
        QTimer::singleShot(2000, this, [this] { fire(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            // The expose comes before the window's first paint: let that happen first.
            QTimer::singleShot(0, this, [this] { fire(); });
        }
        return false;
    }

private:
    void fire()
    {
        if (m_run) {
            std::exchange(m_run, nullptr)();
            deleteLater();
        }
    }

    std::function<void()> m_run;
};

} // namespace

void whenPlaced(QWidget &window, std::function<void()> run)
{
    window.winId(); // makes the native window, so that its exposure can be watched
    new FirstExposure(window.windowHandle(), std::move(run));
}

void screenshotAfterFirstLoad(MainWindow &window, const QString &file)
{
    auto write = [&window, file] {
        const bool saved = window.grab().save(file, "PNG");
        std::fprintf(saved ? stdout : stderr, "%s %s\n",
                     saved ? "screenshot written to" : "could not write", qUtf8Printable(file));
        QApplication::exit(saved ? 0 : 1);
    };
    // Painting the loaded lists takes a turn of the event loop after the load.
    QObject::connect(
        window.control(), &CenterVendor::loadFinished, &window,
        [&window, write] { QTimer::singleShot(200, &window, write); }, Qt::SingleShotConnection);
    QTimer::singleShot(60'000, &window, [] {
        std::fprintf(stderr, "nothing was loaded within a minute\n");
        QApplication::exit(1);
    });
}

} // namespace tarvo::desk
