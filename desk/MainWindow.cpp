#include "MainWindow.h"

#include "BarRoom.h"
#include "CenterBox.h"
#include "ChangeWatch.h"
#include "CommitRun.h"
#include "ConnectionDialog.h"
#include "CredentialsDialog.h"
#include "HistoryPanel.h"
#include "MessageBar.h"
#include "StaffTexts.h"
#include "StatusFields.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarvo::desk {

namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kLastServerKey = QStringLiteral("last/server");
const QString kLastCenterKey = QStringLiteral("last/center");

using Topic = MessageBar::Topic;

} // namespace

MainWindow::MainWindow(QSettings &settings, PasswordStore &passwords, QWidget *parent)
    : QMainWindow(parent), m_settings(settings),
      m_access(
          settings, passwords,
          [this](const QString &server, const QString &user, bool rejected, const QString &note) {
              return CredentialsDialog::ask(this, server, user, rejected, note);
          }),
      m_control(new CenterVendor), m_centerBox(new CenterBox), m_bar(new MessageBar),
      m_watch(new CenterWatch(
          [this](const QString &query) {
              return pageRequest(m_server, query, m_access.credentials(m_server));
          },
          this)),
      m_status(std::make_unique<StatusFields>(*statusBar()))
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

    m_room = new BarRoom(*this, *m_bar, *m_control, *scroll);
    const QToolBar *centerBar = buildActions();
    buildHistory();
    m_changes = new ChangeWatch(*m_watch, *m_control, *m_bar, *m_history, *m_reloadKeeping, this);
    m_commits = new CommitRun(
        *m_control, *m_bar, *m_status, *m_changes, *m_commitAction, [this] { return m_server; },
        this);
    connect(m_commits, &CommitRun::runningChanged, this, &MainWindow::commitRunning);
    connect(m_control, &CenterVendor::loadFinished, this, &MainWindow::loaded);
    // The counts as the control tells them: never in the middle of a move.
    connect(m_control, &CenterVendor::pendingChangeCountChanged, this, [this](int count) {
        m_status->showPending(count);
        updateActions();
    });
    connect(m_control, &CenterVendor::rowCountsChanged, this,
            [this](int nonSelected, int selected) { m_status->showCounts(nonSelected, selected); });
    connect(m_control, &CenterVendor::canCommitChanged, this, &MainWindow::updateActions);
    connect(&m_access, &ServerAccess::passwordNotKept, this,
            [this](const QString &server, const QString &why) {
                m_bar->showMessage(
                    Topic::Keyring, MessageBar::Kind::Warning,
                    tr("Your password for %1 could not be remembered: this desktop has no "
                       "usable keyring. You are signed in until the application closes, and "
                       "will be asked again next time.")
                        .arg(server),
                    {}, why);
            });

    if (!restoreGeometry(m_settings.value(kGeometryKey).toByteArray())) {
        // Room for the control and the bars around it, nothing more.
        const int bars = menuBar()->sizeHint().height() + centerBar->sizeHint().height() +
                         statusBar()->sizeHint().height();
        resize(m_control->width() + 16, m_control->height() + bars + 16);
    }
    m_status->showCounts(m_control->nonSelectedRows(), m_control->selectedRows());
    m_status->showPending(m_control->pendingChangeCount());
    updateTitle();
    updateActions();
}

MainWindow::~MainWindow() = default;

QToolBar *MainWindow::buildActions()
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
    return bar;
}

void MainWindow::buildHistory()
{
    m_history = new HistoryPanel(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_history);
    m_history->hide();
    menuBar()->addMenu(tr("&View"))->addAction(m_history->toggleViewAction());
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
        m_bar->showMessage(Topic::Connection, MessageBar::Kind::Information,
                           tr("Not connected: choose a server and a center."), {m_connect});
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
    if (!m_shown || m_busy || m_commits->running()) {
        return;
    }
    m_bar->clear(Topic::Changed);
    m_control->ReloadKeepingChanges();
}

void MainWindow::commit()
{
    if (!m_commits->running()) {
        m_control->commit();
    }
}

Settled MainWindow::settle(const PendingQuestion &question)
{
    return settlePendingChanges(this, *m_control, m_center, question,
                                [this] { return m_commits->commitNow(); });
}

bool MainWindow::openCenter(const QString &server, qint32 center)
{
    if (const QString problem = serverNameProblem(server); !problem.isEmpty()) {
        m_failed.reset();
        m_bar->showMessage(Topic::Connection, MessageBar::Kind::Error,
                           tr("Center %1 was not opened: \"%2\" is not a server name. %3")
                               .arg(center)
                               .arg(server, problem),
                           {m_connect});
        return false;
    }
    const QString plain = plainServerName(server);
    if (m_opening && *m_opening == std::pair(plain, center)) {
        return true;
    }
    const bool again = m_shown && plain == m_server && center == m_center;
    const Settled settled =
        again ? settle({tr("Save it before reloading, or keep it on the reloaded lists?"),
                        tr("Save them before reloading, or keep them on the reloaded lists?"),
                        !m_loadFailed})
              : settle({tr("Save it before opening center %1?").arg(center),
                        tr("Save them before opening center %1?").arg(center), false});
    if (settled == Settled::Cancel) {
        m_centerBox->showCenter(m_center);
        return false;
    }
    if (settled == Settled::KeepChanges) {
        reloadKeepingChanges();
        return true;
    }
    m_focusBeforeLoad.reset();
    if (m_control->listHasFocus(CenterVendor::List::NonSelected)) {
        m_focusBeforeLoad = CenterVendor::List::NonSelected;
    }
    m_opening = std::pair(plain, center);
    setBusy(true);
    m_bar->showMessage(Topic::Load, MessageBar::Kind::Information,
                       tr("Connecting to %1 for center %2...").arg(plain).arg(center));
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
        m_bar->showMessage(Topic::Load, MessageBar::Kind::Warning,
                           tr("Center %1 was not opened: %2 asks for a user name and password.")
                               .arg(center)
                               .arg(server),
                           {m_retry}, list.message);
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
    m_changes->follow(center);
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
        m_bar->clear(Topic::Load);
        m_bar->clear(Topic::Connection);
        m_settings.setValue(kLastServerKey, m_server);
        m_settings.setValue(kLastCenterKey, m_center);
        ConnectionDialog::addRecentServer(m_settings, m_server);
    } else {
        const CenterVendor::LoadFailure failure = m_control->loadFailure();
        m_failed = std::pair(m_server, m_center);
        m_bar->showMessage(Topic::Load, MessageBar::Kind::Error,
                           loadFailureText(failure, m_center, m_server), {m_retry, m_connect},
                           failure.detail);
    }
    updateTitle();
    updateActions();
    m_changes->loaded(ok);
    if (ok) {
        focusList();
    } else if (!m_bar->actionButtons().isEmpty()) {
        m_bar->actionButtons().front()->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::focusList()
{
    m_control->focusList(m_focusBeforeLoad.value_or(CenterVendor::List::Selected));
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

void MainWindow::commitRunning(bool running)
{
    updateActions();
    // The button is disabled while the server is asked; the keyboard stays in the lists.
    if (running || (!m_loadFailed && !m_control->isAncestorOf(QApplication::focusWidget()))) {
        focusList();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (settle({tr("Save it before closing?"), tr("Save them before closing?"), false}) !=
        Settled::Proceed) {
        event->ignore();
        return;
    }
    // The room the bar took is not the size the user chose.
    m_room->giveBack();
    m_settings.setValue(kGeometryKey, saveGeometry());
    event->accept();
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
    const bool free = !m_busy && !m_commits->running();
    m_connect->setEnabled(free);
    m_reload->setEnabled(free && m_shown);
    m_reloadKeeping->setEnabled(free && m_shown && !m_loadFailed);
    m_centerBox->setEnabled(free);
    m_commitAction->setEnabled(free && m_control->canCommit());
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

} // namespace tarvo::desk
