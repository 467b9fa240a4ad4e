#include "MainWindow.h"

#include "CenterBox.h"
#include "ConnectionDialog.h"
#include "CredentialsDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <TarvoCenterVendor/CenterVendor.h>
#include <cstdio>

namespace tarvo::desk {

namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kLastServerKey = QStringLiteral("last/server");
const QString kLastCenterKey = QStringLiteral("last/center");
constexpr int kAnswerChars = 80;

int rowsOf(CenterVendor *control, const char *list)
{
    const auto *view = control->findChild<QAbstractItemView *>(QString::fromLatin1(list));
    return view && view->model() ? view->model()->rowCount() : 0;
}

// The status bar shows the first line of a long answer; the tooltip has it whole.
QString firstLine(const QString &text)
{
    QString line = text.trimmed().section(u'\n', 0, 0);
    if (line.size() > kAnswerChars) {
        line = line.left(kAnswerChars - 3) + QStringLiteral("...");
    }
    return line;
}

} // namespace

MainWindow::MainWindow(QSettings &settings, PasswordStore &passwords, QWidget *parent)
    : QMainWindow(parent), m_settings(settings),
      m_access(settings, passwords,
               [this](const QString &server, const QString &user, bool rejected) {
                   return CredentialsDialog::ask(this, server, user, rejected);
               }),
      m_control(new CenterVendor), m_centerBox(new CenterBox), m_counts(new QLabel),
      m_pending(new QLabel), m_commit(new QLabel)
{
    // The control places its children at fixed positions: a smaller window scrolls it.
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(m_control);
    scroll->setAlignment(Qt::AlignCenter);
    scroll->setFrameShape(QFrame::NoFrame);
    setCentralWidget(scroll);

    buildActions();
    buildStatusBar();
    connect(m_control, &CenterVendor::loadFinished, this, &MainWindow::loaded);
    connect(m_control, &CenterVendor::pendingChangeCountChanged, this, &MainWindow::updateStatus);
    connect(m_control, &CenterVendor::commitFinished, this, [this](bool ok, const QString &answer) {
        const QString shown = answer.trimmed().isEmpty()
                                  ? (ok ? tr("nothing to save") : tr("failed"))
                                  : firstLine(answer);
        m_commit->setText(ok ? tr("Last commit: %1").arg(shown)
                             : tr("Last commit failed: %1").arg(shown));
        m_commit->setToolTip(answer);
    });
    for (const char *list : {"lstVendors", "lstVendorCenter"}) {
        auto *model = m_control->findChild<QAbstractItemView *>(QString::fromLatin1(list))->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, &MainWindow::updateStatus);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &MainWindow::updateStatus);
        connect(model, &QAbstractItemModel::modelReset, this, &MainWindow::updateStatus);
    }

    if (!restoreGeometry(m_settings.value(kGeometryKey).toByteArray())) {
        // Room for the control and the bars around it, nothing more.
        const int bars = menuBar()->sizeHint().height() +
                         findChild<QToolBar *>(QStringLiteral("centerBar"))->sizeHint().height() +
                         statusBar()->sizeHint().height();
        resize(m_control->width() + 16, m_control->height() + bars + 16);
    }
    updateStatus();
    updateTitle();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildActions()
{
    m_connect = new QAction(tr("&Connect..."), this);
    m_connect->setObjectName(QStringLiteral("connect"));
    m_connect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(m_connect, &QAction::triggered, this, &MainWindow::chooseConnection);
    m_reload = new QAction(tr("&Reload"), this);
    m_reload->setObjectName(QStringLiteral("reload"));
    m_reload->setShortcut(QKeySequence(Qt::Key_F5));
    m_reload->setEnabled(false);
    connect(m_reload, &QAction::triggered, this, &MainWindow::reload);
    auto *quit = new QAction(tr("&Quit"), this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);

    auto *file = menuBar()->addMenu(tr("&File"));
    file->addAction(m_connect);
    file->addAction(m_reload);
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
    m_pending->setObjectName(QStringLiteral("statusPending"));
    m_commit->setObjectName(QStringLiteral("statusCommit"));
    m_commit->setText(tr("No commit yet"));
    m_commit->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bool first = true;
    for (QLabel *label : {m_counts, m_pending, m_commit}) {
        if (!first) {
            auto *line = new QFrame(statusBar());
            line->setFrameShape(QFrame::VLine);
            line->setFrameShadow(QFrame::Sunken);
            statusBar()->addPermanentWidget(line);
        }
        first = false;
        label->setContentsMargins(6, 0, 6, 0);
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
    if (dialog.exec() == QDialog::Accepted && dialog.center()) {
        openCenter(dialog.server(), *dialog.center());
    } else if (!m_shown) {
        statusBar()->showMessage(tr("Not connected: choose File > Connect."));
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

bool MainWindow::openCenter(const QString &server, qint32 center)
{
    const QString plain = plainServerName(server);
    if (m_opening && *m_opening == std::pair(plain, center)) {
        return true;
    }
    const bool again = m_shown && plain == m_server && center == m_center;
    const QString question = again ? tr("Save them before reloading?")
                                   : tr("Save them before opening center %1?").arg(center);
    if (!settlePendingChanges(question)) {
        m_centerBox->showCenter(m_center);
        return false;
    }
    m_opening = std::pair(plain, center);
    setBusy(true);
    statusBar()->showMessage(tr("Connecting to %1...").arg(plain));
    m_access.reach(plain,
                   [this, plain, center](const CenterList &list) { reached(plain, center, list); });
    return true;
}

void MainWindow::reached(const QString &server, qint32 center, const CenterList &list)
{
    m_opening.reset();
    setBusy(false);
    if (list.status == CenterList::Status::NeedsCredentials) {
        statusBar()->showMessage(tr("Not signed in to %1.").arg(server));
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
    statusBar()->showMessage(tr("Loading center %1...").arg(center));
    m_control->LetDataFromDatabase(center, m_access.controlServerName(server));
}

void MainWindow::loaded(bool ok)
{
    m_shown = true;
    m_reload->setEnabled(true);
    if (ok) {
        statusBar()->clearMessage();
        m_settings.setValue(kLastServerKey, m_server);
        m_settings.setValue(kLastCenterKey, m_center);
        ConnectionDialog::addRecentServer(m_settings, m_server);
    } else {
        statusBar()->showMessage(
            tr("Center %1 could not be loaded from %2.").arg(m_center).arg(m_server));
    }
    updateTitle();
    updateStatus();
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
    if (!(m_shown && *chosen == m_center)) {
        openCenter(m_server, *chosen);
    }
}

bool MainWindow::settlePendingChanges(const QString &question)
{
    if (!m_control->hasPendingChanges()) {
        return true;
    }
    const int count = m_control->pendingChangeCount();
    const QString text = count == 1 ? tr("Center %1 has 1 change that is not committed.")
                                    : tr("Center %1 has %2 changes that are not committed.");
    QMessageBox box(QMessageBox::Question, windowTitle(), text.arg(m_center).arg(count),
                    QMessageBox::NoButton, this);
    box.setInformativeText(question);
    QPushButton *save = box.addButton(tr("Save first"), QMessageBox::AcceptRole);
    QPushButton *discard = box.addButton(tr("Discard"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == discard) {
        return true;
    }
    return box.clickedButton() == save && commitNow();
}

bool MainWindow::commitNow()
{
    auto *commit = m_control->findChild<QPushButton *>(QStringLiteral("cmdCommit"));
    if (!commit || !commit->isEnabled()) {
        statusBar()->showMessage(tr("Commit to Database is not available right now."));
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

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!settlePendingChanges(tr("Save them before closing?"))) {
        event->ignore();
        return;
    }
    m_settings.setValue(kGeometryKey, saveGeometry());
    event->accept();
}

void MainWindow::setBusy(bool busy)
{
    m_connect->setEnabled(!busy);
    m_reload->setEnabled(!busy && m_shown);
    m_centerBox->setEnabled(!busy);
    m_control->setEnabled(!busy);
}

void MainWindow::updateStatus()
{
    m_counts->setText(tr("Not selected: %1   Selected: %2")
                          .arg(rowsOf(m_control, "lstVendors"))
                          .arg(rowsOf(m_control, "lstVendorCenter")));
    m_pending->setText(tr("Pending changes: %1").arg(m_control->pendingChangeCount()));
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
    setWindowTitle(tr("Center %1 on %2 - Center Vendors").arg(center, m_server));
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
