#include "ConnectionDialog.h"

#include "CenterBox.h"
#include "ServerAccess.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QUrl>
#include <QVBoxLayout>

namespace tarvo::desk {

namespace {

constexpr qsizetype kRecentServers = 8;
const QString kRecentKey = QStringLiteral("recentServers");

} // namespace

void centreOn(QWidget &dialog, const QWidget *over)
{
    if (over == nullptr) {
        return;
    }
    dialog.adjustSize();
    QRect frame = dialog.frameGeometry();
    frame.moveCenter(over->window()->frameGeometry().center());
    dialog.move(frame.topLeft());
}

QString serverNameProblem(const QString &server)
{
    const QUrl url(server.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https")) {
        return ConnectionDialog::tr("A server name begins with http:// or https://, as in "
                                    "https://centers.example:8443.");
    }
    if (url.host().isEmpty()) {
        return ConnectionDialog::tr("The server name has no host after %1://.").arg(scheme);
    }
    if (!url.path().isEmpty() && url.path() != u"/") {
        return ConnectionDialog::tr("A server name ends after the host and port: leave out %1.")
            .arg(url.path());
    }
    return {};
}

QStringList ConnectionDialog::recentServers(QSettings &settings)
{
    return settings.value(kRecentKey).toStringList();
}

void ConnectionDialog::addRecentServer(QSettings &settings, const QString &server)
{
    QStringList recent = recentServers(settings);
    recent.removeAll(server);
    recent.prepend(server);
    settings.setValue(kRecentKey, recent.mid(0, kRecentServers));
}

ConnectionDialog::ConnectionDialog(QSettings &settings, ServerAccess &access, QWidget *parent)
    : QDialog(parent), m_access(access), m_server(new QComboBox(this)),
      m_find(new QPushButton(tr("&Find centers"), this)), m_center(new CenterBox(this)),
      m_note(new QLabel(this))
{
    setWindowTitle(tr("Connect"));
    m_server->setObjectName(QStringLiteral("server"));
    m_server->setEditable(true);
    m_server->setInsertPolicy(QComboBox::NoInsert);
    m_server->addItems(recentServers(settings));
    m_server->setMinimumContentsLength(28);
    m_server->lineEdit()->setPlaceholderText(QStringLiteral("http://host:port"));
    m_find->setObjectName(QStringLiteral("findCenters"));
    m_center->setObjectName(QStringLiteral("center"));
    m_note->setObjectName(QStringLiteral("note"));
    m_note->setWordWrap(true);

    auto *serverRow = new QHBoxLayout;
    serverRow->addWidget(m_server, 1);
    serverRow->addWidget(m_find);
    auto *serverLabel = new QLabel(tr("&Server:"), this);
    serverLabel->setBuddy(m_server);
    auto *form = new QFormLayout;
    form->addRow(serverLabel, serverRow);
    form->addRow(tr("&Center:"), m_center);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setText(tr("&Open"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_note);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_find, &QPushButton::clicked, this, &ConnectionDialog::findCenters);
    connect(m_server, &QComboBox::currentTextChanged, this, &ConnectionDialog::updateOk);
    connect(m_center, &QComboBox::currentTextChanged, this, &ConnectionDialog::updateOk);
    updateOk();
}

void ConnectionDialog::preset(const QString &server, std::optional<qint32> center)
{
    m_server->setEditText(server);
    // Typing replaces the offered server; Return takes it.
    m_server->lineEdit()->selectAll();
    m_server->setFocus();
    if (center) {
        m_center->showCenter(*center);
    }
    if (!server.isEmpty()) {
        findCenters();
    }
}

QString ConnectionDialog::server() const
{
    return m_server->currentText().trimmed();
}

std::optional<qint32> ConnectionDialog::center() const
{
    return m_center->chosenCenter();
}

void ConnectionDialog::findCenters()
{
    const QString server = this->server();
    if (server.isEmpty()) {
        return;
    }
    if (const QString problem = serverNameProblem(server); !problem.isEmpty()) {
        m_note->setText(problem);
        return;
    }
    m_find->setEnabled(false);
    m_note->setText(tr("Asking %1 for its centers...").arg(server));
    m_access.reach(server, [self = QPointer(this), server](const CenterList &list) {
        if (self) {
            self->showCenters(server, list);
        }
    });
}

void ConnectionDialog::showCenters(const QString &server, const CenterList &list)
{
    m_find->setEnabled(true);
    if (list.status == CenterList::Status::Ok) {
        m_center->setCenters(list.centers);
        m_note->setText(list.centers.size() == 1
                            ? tr("1 center on %1.").arg(server)
                            : tr("%1 centers on %2.").arg(list.centers.size()).arg(server));
        if (!m_center->chosenCenter() && !list.centers.isEmpty()) {
            m_center->showCenter(list.centers.front().id);
        }
    } else {
        m_note->setText(tr("No list of centers (%1) Type a center id.").arg(list.message));
    }
    updateOk();
}

void ConnectionDialog::updateOk()
{
    const QString problem = server().isEmpty() ? QString() : serverNameProblem(server());
    if (!problem.isEmpty()) {
        m_note->setText(problem);
    } else if (m_problemShown) {
        m_note->clear();
    }
    m_problemShown = !problem.isEmpty();
    m_ok->setEnabled(!server().isEmpty() && problem.isEmpty() && center().has_value());
}

} // namespace tarvo::desk
